#include "LanguageRecognizer.h"

#include <cstdio> // the CLD2 header uses FILE without including it
#include <cld2/public/compact_lang_det.h>

namespace CLD2 {
// Declared in CLD2's internal headers only.
const char *LanguageCode(Language lang);
} // namespace CLD2

namespace LanguageRecognizer {

std::optional<QString> dominantLanguage(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.isEmpty())
        return std::nullopt;
    bool reliable = false;
    int validPrefix = 0;
    const CLD2::Language language =
        CLD2::DetectLanguageCheckUTF8(utf8.constData(), int(utf8.size()), true, &reliable, &validPrefix);
    if (!reliable || language == CLD2::UNKNOWN_LANGUAGE)
        return std::nullopt;
    const char *code = CLD2::LanguageCode(language);
    if (!code || !*code)
        return std::nullopt;
    return QString::fromLatin1(code);
}

} // namespace LanguageRecognizer
