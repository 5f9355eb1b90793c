// The language detector's functions, forwarding to libcld2, which is opened when a query is
// first looked at (see LazyLibrary.h): its tables are megabytes the first window never reads.

#include <cstdio> // the CLD2 header uses FILE without including it

#include <cld2/public/compact_lang_det.h>
namespace CLD2 {
// Declared in CLD2's internal headers only.
const char *LanguageCode(Language lang);
} // namespace CLD2

#include "platform/LazyLibrary.h"

namespace {
constinit LazyLibrary CLD2Library("libcld2.so.0");
} // namespace

namespace CLD2 {

Language DetectLanguageCheckUTF8(const char *buffer, int length, bool plainText, bool *reliable, int *validPrefix)
{
    LK_FORWARD_MANGLED(CLD2Library, CLD2::DetectLanguageCheckUTF8, "_ZN4CLD223DetectLanguageCheckUTF8EPKcibPbPi",
                       buffer, length, plainText, reliable, validPrefix);
}

const char *LanguageCode(Language language)
{
    LK_FORWARD_MANGLED(CLD2Library, CLD2::LanguageCode, "_ZN4CLD212LanguageCodeENS_8LanguageE", language);
}

} // namespace CLD2
