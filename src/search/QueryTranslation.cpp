// Turning a query into English variants for the CLIP text encoder: the platform's
// translation, then its language model, then the local tables.

#include "VisualSearchService.h"

#include "platform/LanguageRecognizer.h"

const QString VisualSearchService::kLanguageModelInstructions = QStringLiteral(
    "Translate the user's video search query into 2 concise, natural English visual descriptions suitable for "
    "CLIP image search. Output ONLY the 2 lines, nothing else.");

QueryTranslationRoutes QueryTranslationRoutes::unavailable()
{
    QueryTranslationRoutes routes;
    routes.isTranslationInstalled = [](const QString &) { return false; };
    routes.translate = [](const QString &, const QString &) -> std::optional<QString> { return std::nullopt; };
    routes.isLanguageModelAvailable = [] { return false; };
    routes.respond = [](const QString &, const QString &) -> std::optional<QString> { return std::nullopt; };
    return routes;
}

bool VisualSearchService::containsJapaneseCharacters(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3040 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF))
            return true;
    }
    return false;
}

std::optional<QString> VisualSearchService::detectQueryLanguage(const QString &text, bool isJapanese)
{
    if (isJapanese)
        return QStringLiteral("ja");
    return LanguageRecognizer::dominantLanguage(text);
}

QStringList VisualSearchService::cleanedModelLines(const QString &response)
{
    static const QString cleaning = QStringLiteral("-•1234567890. \"'");
    const auto strip = [](QChar c) { return c.isSpace() || cleaning.contains(c); };
    QStringList lines;
    for (const QString &raw : response.split(u'\n')) {
        qsizetype b = 0, e = raw.size();
        while (b < e && strip(raw[b]))
            ++b;
        while (e > b && strip(raw[e - 1]))
            --e;
        const QString line = raw.mid(b, e - b);
        if (!line.isEmpty() && line.size() <= 80)
            lines.append(line);
        if (lines.size() == 2)
            break;
    }
    return lines;
}

namespace {

bool isKeyOf(const QList<DictionaryPair> &table, const QString &text)
{
    return std::any_of(table.cbegin(), table.cend(), [&](const DictionaryPair &p) { return p.first == text; });
}

// A word of the dictionaries: a Japanese or German key, or a Turkish key whole or followed
// by one or two Turkish suffixes ("evde", "cocuklarin"): evidence that the query is not
// English. A mere prefix is not ("evening" starts with "ev", "nature" with "natur").
bool isTableWord(const QString &term)
{
    const QStringList &suffixes = VisualSearchService::turkishSuffixes();
    const auto isSuffixChain = [&](QStringView rest) {
        if (rest.isEmpty())
            return true;
        for (const QString &s : suffixes) {
            if (!rest.startsWith(s))
                continue;
            const QStringView after = rest.mid(s.size());
            if (after.isEmpty() || suffixes.contains(after.toString()))
                return true;
        }
        return false;
    };
    for (const DictionaryPair &p : VisualSearchService::localTurkishDictionary())
        if (term.startsWith(p.first) && isSuffixChain(QStringView(term).mid(p.first.size())))
            return true;
    return isKeyOf(VisualSearchService::localJapaneseGermanDictionary(), term);
}

// Whether a query the recogniser could not place shows any sign of a language other than
// English: letters beyond ASCII, a phrase of the tables, or a word of them.
bool looksForeign(const QString &trimmed, const QString &normalized)
{
    for (const QChar c : trimmed)
        if (c.unicode() >= 0x80 && c.isLetter())
            return true;
    for (const PhraseExpansion &row : VisualSearchService::phraseExpansions())
        if (normalized.contains(row.phrase))
            return true;
    const QStringList terms = VisualSearchService::tokens(trimmed);
    return std::any_of(terms.cbegin(), terms.cend(), isTableWord);
}

QStringList localTranslation(const QString &trimmed, const QString &normalized)
{
    // Japanese and German words, found anywhere in the text.
    const QString lower = trimmed.toLower();
    QStringList collected;
    for (const DictionaryPair &p : VisualSearchService::localJapaneseGermanDictionary())
        if (lower.contains(p.first))
            collected.append(p.second);
    if (!collected.isEmpty())
        return {collected.join(u' ')};

    QStringList expansions;
    for (const PhraseExpansion &row : VisualSearchService::phraseExpansions())
        if (normalized.contains(row.phrase))
            expansions.append(row.descriptions);
    if (!expansions.isEmpty())
        return expansions.mid(0, 3);

    const QStringList terms = VisualSearchService::tokens(trimmed);
    if (terms.isEmpty())
        return {trimmed};
    QStringList parts;
    bool translated = false;
    for (const QString &term : terms) {
        const QString stripped = VisualSearchService::stripTurkishSuffix(term);
        const QList<DictionaryPair> &table = VisualSearchService::localTurkishDictionary();
        const auto hit = std::find_if(table.cbegin(), table.cend(), [&](const DictionaryPair &p) {
            return term.startsWith(p.first) || stripped.startsWith(p.first);
        });
        if (hit != table.cend()) {
            parts.append(hit->second);
            translated = true;
        } else {
            parts.append(term);
        }
    }
    return translated ? QStringList{parts.join(u' ')} : QStringList{trimmed};
}

} // namespace

QStringList VisualSearchService::translateQuery(const QString &query, const QueryTranslationRoutes &routes)
{
    const QString trimmed = query.trimmed();
    if (trimmed.isEmpty())
        return {};
    const QString normalized = normalize(trimmed);
    const std::optional<QString> code = detectQueryLanguage(trimmed, containsJapaneseCharacters(trimmed));

    const bool isKey = isKeyOf(localTurkishDictionary(), normalized) || isKeyOf(localJapaneseGermanDictionary(), normalized);
    if (code == u"en" && !isKey)
        return {trimmed};
    // The platform's offline translation.
    QStringList candidates;
    for (const QString &c : {code.value_or(QString()), QStringLiteral("ja"), QStringLiteral("de"), QStringLiteral("tr")})
        if (!c.isEmpty() && c != u"en" && !candidates.contains(c))
            candidates.append(c);
    if (routes.isTranslationInstalled && routes.translate) {
        for (const QString &source : candidates) {
            if (!routes.isTranslationInstalled(source))
                continue;
            if (const std::optional<QString> answer = routes.translate(source, trimmed)) {
                const QString text = answer->trimmed();
                if (!text.isEmpty() && text.toLower() != trimmed.toLower())
                    return {text};
            }
            break; // one attempt only
        }
    }

    // The platform's language model.
    if (routes.isLanguageModelAvailable && routes.respond && routes.isLanguageModelAvailable()) {
        if (const std::optional<QString> answer = routes.respond(kLanguageModelInstructions, trimmed)) {
            const QStringList lines = cleanedModelLines(*answer);
            if (!lines.isEmpty())
                return lines;
        }
    }

    // The local tables know Turkish, German and Japanese. A short English query is often
    // not placed at all ("evening sky") or placed elsewhere ("dagger"): unless it shows
    // signs of those languages it stays as it is, or the Turkish prefixes would rewrite
    // it ("ev..." into "house home interior sky").
    const bool tableLanguage = code == u"tr" || code == u"de" || code == u"ja";
    if (!tableLanguage && !isKey && !looksForeign(trimmed, normalized))
        return {trimmed};
    return localTranslation(trimmed, normalized);
}

QStringList VisualSearchService::translateQuery(const QString &query) const
{
    QueryTranslationRoutes routes;
    {
        QMutexLocker lock(&m_mutex);
        routes = m_routes;
    }
    return translateQuery(query, routes);
}

void VisualSearchService::setTranslationRoutes(QueryTranslationRoutes routes)
{
    QMutexLocker lock(&m_mutex);
    m_routes = std::move(routes);
}
