#pragma once

// Recognises the language of a short text (CLD2). It answers only when it is confident:
// a query of a word or two often gives no answer, which callers must allow for.

#include <QString>

#include <optional>

namespace LanguageRecognizer {
// The dominant language as a short code ("en", "de", "tr", "ja", ...), or none.
std::optional<QString> dominantLanguage(const QString &text);
} // namespace LanguageRecognizer
