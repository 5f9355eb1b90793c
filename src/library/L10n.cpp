// Placeholder until the full table lands: every lookup shows its key.
#include "L10n.h"

#include <QLocale>
#include <QSettings>

namespace AppLanguageInfo {
QString rawValue(AppLanguage l) { return l == AppLanguage::ja ? "ja" : l == AppLanguage::de ? "de" : "en"; }
std::optional<AppLanguage> fromRawValue(const QString &raw)
{
    if (raw == "en") return AppLanguage::en;
    if (raw == "ja") return AppLanguage::ja;
    if (raw == "de") return AppLanguage::de;
    return std::nullopt;
}
AppLanguage resolve(const QString &stored, const QStringList &preferred)
{
    if (auto l = fromRawValue(stored)) return *l;
    const QString first = preferred.isEmpty() ? QStringLiteral("en") : preferred.first().toLower();
    if (first.startsWith("ja")) return AppLanguage::ja;
    if (first.startsWith("de")) return AppLanguage::de;
    return AppLanguage::en;
}
AppLanguage current()
{
    QSettings s("Lumenkite", "Lumenkite");
    return resolve(s.value("Lumenkite.language").toString(), QLocale::system().uiLanguages());
}
QString uiLocaleName(AppLanguage l) { return l == AppLanguage::ja ? "ja_JP" : l == AppLanguage::de ? "de_DE" : "en_US"; }
QString menuLabel(AppLanguage l) { return l == AppLanguage::ja ? QString::fromUtf8("日本語") : l == AppLanguage::de ? "Deutsch" : "English (US)"; }
const QList<AppLanguage> &allCases() { static const QList<AppLanguage> a{AppLanguage::en, AppLanguage::ja, AppLanguage::de}; return a; }
} // namespace AppLanguageInfo

namespace L10n {
QString text(const QString &key, std::optional<AppLanguage>) { return key; }
QStringList allKeys() { return {}; }
} // namespace L10n
