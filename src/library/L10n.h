#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The interface languages, in menu order.
enum class AppLanguage { en, ja, de };

namespace AppLanguageInfo {
// "en", "ja", "de".
QString rawValue(AppLanguage language);
// Exact raw values only; anything else gives none.
std::optional<AppLanguage> fromRawValue(const QString &raw);
// The language to start with: the stored setting, else the first preferred system language.
AppLanguage current();
// Same decision from explicit inputs (the stored value may be empty), for tests.
AppLanguage resolve(const QString &stored, const QStringList &preferredLanguages);
// "en_US", "ja_JP", "de_DE": the locale dates are formatted in.
QString uiLocaleName(AppLanguage language);
// The menu label of a language, the same in every interface language.
QString menuLabel(AppLanguage language);
const QList<AppLanguage> &allCases();
} // namespace AppLanguageInfo

namespace L10n {
// The text of `key` in `language` (the current language when absent); the key itself
// when the table has no row for it.
QString text(const QString &key, std::optional<AppLanguage> language = std::nullopt);
// Every key of the table, in table order (for checks).
QStringList allKeys();
} // namespace L10n
