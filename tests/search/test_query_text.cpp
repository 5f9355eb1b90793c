#include "search/VisualSearchService.h"

#include <gtest/gtest.h>

namespace {

using VS = VisualSearchService;

std::string show(const QStringList &list) { return ("[" + list.join(" | ") + "]").toStdString(); }

// The 1-based numbers of the keyword groups whose label words make up `groups`.
QList<int> groupNumbers(const QList<QStringList> &groups)
{
    QList<int> out;
    for (const QStringList &g : groups)
        for (qsizetype i = 0; i < VS::keywordLabelTable().size(); ++i)
            if (VS::keywordLabelTable()[i].labelWords == g)
                out.append(int(i + 1));
    return out;
}

} // namespace

TEST(QueryText, Normalize)
{
    const QList<std::pair<QString, QString>> rows{
        {"Çocuklar İÇİN", "cocuklar icin"},
        {"IŞIK", "isik"},
        {"ĞÜŞÖÇ ğüşöç ı", "gusoc gusoc i"},
        {QString("I") + QChar(0x0307) + "stanbul", "istanbul"},
        {"Café 3 ÄUSSERE Straße!", "café 3 äussere straße!"},
        {"海で遊ぶ", "海で遊ぶ"},
        {"", ""},
    };
    for (const auto &[in, out] : rows)
        EXPECT_EQ(VS::normalize(in).toStdString(), out.toStdString()) << in.toStdString();
}

TEST(QueryText, TokensAndSuffixes)
{
    const QList<std::pair<QString, QStringList>> tokens{
        {"Bu bir çocuk, ve köpek!", {"cocuk", "kopek"}},
        {"a b cd", {"cd"}},
        {"", {}},
        {"dog-dog  x 4k", {"dog", "dog", "4k"}},
        {"夕日 海", {"夕日"}},
        {"the sunset on a BEACH", {"sunset", "beach"}},
    };
    for (const auto &[in, out] : tokens)
        EXPECT_EQ(show(VS::tokens(in)), show(out)) << in.toStdString();

    const QList<std::pair<QString, QString>> suffixes{
        {"cocuklar", "cocuk"}, {"cocuklardan", "cocuk"}, {"kopekler", "kopek"}, {"denizde", "deniz"},
        {"evde", "evde"},      {"lar", "lar"},           {"oynayan", "oyn"},    {"parkta", "park"},
    };
    for (const auto &[in, out] : suffixes)
        EXPECT_EQ(VS::stripTurkishSuffix(in).toStdString(), out.toStdString()) << in.toStdString();
}

TEST(QueryText, LabelWordGroups)
{
    struct Row {
        QString query;
        QList<int> groups;
        QList<QStringList> fallback;
    };
    const QList<Row> rows{
        // "at" (horse) is a word of its own, not a piece of "batımı".
        {"gün batımı deniz", {5, 7}, {}},
        {"köpekler", {11}, {}},
        {"atlar koşuyor", {13, 20}, {}},
        {"at", {13}, {}},
        {"yüzme havuzu", {6}, {}},
        {"doğum günü pastası", {18}, {}},
        // English words are not Turkish keywords in disguise.
        {"cat", {}, {{"cat", "cat"}}},
        {"water", {}, {{"water", "water"}}},
        {"dog", {}, {{"dog", "dog"}}},
        {"kitten", {}, {{"kitten", "kit"}}},
        {"xy", {}, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.query.toStdString());
        const QList<QStringList> groups = VS::labelWordGroups(row.query, VS::tokens(row.query));
        if (row.groups.isEmpty())
            EXPECT_EQ(groups, row.fallback);
        else
            EXPECT_EQ(groupNumbers(groups), row.groups);
    }
}

TEST(QueryText, TablesAreCompleteAndFolded)
{
    EXPECT_EQ(VS::stopWords().size(), 23);
    EXPECT_EQ(VS::turkishSuffixes().size(), 30);
    EXPECT_EQ(VS::keywordLabelTable().size(), 21);
    EXPECT_EQ(VS::phraseExpansions().size(), 13);
    EXPECT_EQ(VS::localJapaneseGermanDictionary().size(), 42);
    EXPECT_EQ(VS::localTurkishDictionary().size(), 82);
    EXPECT_EQ(VS::labelTranslationTR().size(), 79);
    // Keys compare against normalised text, so they must already be normalised.
    for (const DictionaryPair &p : VS::localTurkishDictionary())
        EXPECT_EQ(VS::normalize(p.first), p.first);
    for (const DictionaryPair &p : VS::localJapaneseGermanDictionary())
        EXPECT_EQ(p.first.toLower(), p.first);
    for (const KeywordLabelGroup &g : VS::keywordLabelTable())
        for (const QString &k : g.keywords)
            EXPECT_EQ(VS::normalize(k), k);
    for (const PhraseExpansion &row : VS::phraseExpansions())
        EXPECT_EQ(VS::normalize(row.phrase), row.phrase);
}
