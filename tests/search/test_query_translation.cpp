#include "search/VisualSearchService.h"

#include <gtest/gtest.h>

namespace {

using VS = VisualSearchService;

std::string show(const QStringList &list) { return ("[" + list.join(" | ") + "]").toStdString(); }

// Platform routes that record what they were asked.
struct FakeRoutes {
    QStringList installed;
    std::optional<QString> translation;
    bool modelAvailable = false;
    std::optional<QString> modelAnswer;
    QStringList asked;
    int translations = 0;
    int modelCalls = 0;

    QueryTranslationRoutes routes()
    {
        QueryTranslationRoutes r;
        r.isTranslationInstalled = [this](const QString &source) {
            asked.append(source);
            return installed.contains(source);
        };
        r.translate = [this](const QString &, const QString &) {
            ++translations;
            return translation;
        };
        r.isLanguageModelAvailable = [this] { return modelAvailable; };
        r.respond = [this](const QString &instructions, const QString &) {
            EXPECT_EQ(instructions.size(), 162);
            ++modelCalls;
            return modelAnswer;
        };
        return r;
    }
};

} // namespace

TEST(QueryTranslation, EnglishQueriesStayEnglish)
{
    // Many of these begin with, or contain, a word of the Turkish or German tables:
    // "evening" (ev), "nature" (natur), "automobile" (auto), "sports" (spor), "yolk" (yol).
    const QStringList english{
        "evening sky",       "evening",           "water",          "cat",                "dog",
        "red car",           "snow",              "people dancing", "parking lot",        "kitten",
        "garden",            "a man riding a horse", "computer screen", "insane stunt",   "karaoke night",
        "event crowd",       "everyone smiling",  "nature walk",    "automobile show",    "essential oils",
        "meerkat family",    "stranded whale",    "sports car",     "yolk",               "dagger",
        "kodak camera",      "binary code",       "parkour jump",   "karate class",       "evergreen forest",
        "yuzu fruit",        "sunset at the beach", "kids playing", "birthday party",     "mountain lake",
        "city at night",     "spaceship",         "adamant",        "evil clown",         "pastry chef",
    };
    for (const QString &query : english) {
        FakeRoutes fake;
        EXPECT_EQ(show(VS::translateQuery(query, fake.routes())), show({query}));
        EXPECT_EQ(fake.translations + fake.modelCalls, 0) << query.toStdString();
    }
}

TEST(QueryTranslation, LocalTablesTranslateTurkishGermanAndJapanese)
{
    const QList<std::pair<QString, QStringList>> rows{
        // Turkish, with and without its letters.
        {"denizde oynayan çocuklar", {"ocean sea beach water playing children kids"}},
        {"gün batımı", {"sunset sky over the horizon", "golden hour sunset"}},
        {"gun batimi", {"sunset sky over the horizon", "golden hour sunset"}},
        {"kar yağışı", {"snowing winter landscape snow", "snowfall outdoors"}},
        {"ekran kaydı", {"computer screen recording software interface", "desktop monitor screen"}},
        {"kopekler", {"dog puppy"}},
        {"evde kedi", {"house home interior cat kitten"}},
        {"evde", {"house home interior"}},
        {"cocuklar parkta", {"children kids park playground"}},
        {"araba", {"car automobile"}},
        {"sahilde köpek", {"seaside coastline beach dog puppy"}},
        {"kırmızı araba", {"red car automobile"}},
        {"park", {"park playground"}},
        {"oyun oynayan cocuklar", {"children playing a game", "kids playing with toys", "young children playing"}},
        // German.
        {"Spielende Kinder", {"children kids playing playing"}},
        {"Hund im Schnee", {"dog snow winter"}},
        {"Katze", {"cat"}},
        {"Sonnenuntergang am Strand", {"beach sea ocean sunset"}},
        {"Familie im Urlaub", {"family vacation"}},
        {"bildschirm", {"computer screen"}},
        // Japanese (and Chinese, which shares the ideographs).
        {"海で遊ぶ子供", {"ocean sea beach children kids playing"}},
        {"夕日", {"sunset"}},
        {"犬", {"dog"}},
        {"猫と花", {"cat flowers"}},
        // Nothing to translate: the query itself.
        {"zzxq vbnm", {"zzxq vbnm"}},
        {"  ", {}},
        {"", {}},
    };
    for (const auto &[query, expected] : rows) {
        FakeRoutes fake;
        EXPECT_EQ(show(VS::translateQuery(query, fake.routes())), show(expected)) << query.toStdString();
    }
}

TEST(QueryTranslation, PlatformRoutesComeFirstAndFallThrough)
{
    {
        FakeRoutes fake;
        fake.installed = {"tr"};
        fake.translation = "  children at the seaside \n";
        EXPECT_EQ(show(VS::translateQuery("denizde çocuklar", fake.routes())), show({"children at the seaside"}));
        EXPECT_EQ(fake.asked.value(0), "tr");
    }
    {
        // Chinese is tried as Japanese first; a translation equal to the query in all but
        // case is no translation, and the model decides.
        FakeRoutes fake;
        fake.installed = {"ja"};
        fake.translation = "北京";
        fake.modelAvailable = true;
        fake.modelAnswer = "1. Children playing in a park\n2. Kids on a playground swing\n3. A third line";
        EXPECT_EQ(show(VS::translateQuery("北京", fake.routes())),
                  show({"Children playing in a park", "Kids on a playground swing"}));
        EXPECT_EQ(fake.asked, QStringList{"ja"});
        EXPECT_EQ(fake.translations, 1);
    }
    {
        // No installed pack and an unusable answer: the local tables.
        FakeRoutes fake;
        fake.modelAvailable = true;
        fake.modelAnswer = "\n - \n" + QString(81, 'x');
        EXPECT_EQ(show(VS::translateQuery("Katze", fake.routes())), show({"cat"}));
        EXPECT_EQ(fake.asked, (QStringList{"ja", "de", "tr"}));
        EXPECT_EQ(fake.modelCalls, 1);
    }
    EXPECT_EQ(show(VS::cleanedModelLines("• \"Sunset over the sea.\"\n\n'Golden hour' 42.\n")),
              show({"Sunset over the sea", "Golden hour"}));
    EXPECT_EQ(show(VS::cleanedModelLines(QString(80, 'y') + "\n" + QString(81, 'z'))), show({QString(80, 'y')}));
}

TEST(QueryTranslation, JapaneseCharactersAndLanguageCodes)
{
    EXPECT_TRUE(VS::containsJapaneseCharacters("ひらがな"));
    EXPECT_TRUE(VS::containsJapaneseCharacters("カタカナ"));
    EXPECT_TRUE(VS::containsJapaneseCharacters("abc 中"));
    EXPECT_FALSE(VS::containsJapaneseCharacters("한국어 abc"));
    EXPECT_EQ(VS::detectQueryLanguage("anything", true), "ja");
    EXPECT_EQ(VS::detectQueryLanguage("children playing on the beach at sunset", false), "en");
    EXPECT_EQ(VS::detectQueryLanguage("deniz kenarında yürüyen insanlar", false), "tr");
    EXPECT_EQ(VS::detectQueryLanguage("Sonnenuntergang am Strand", false), "de");
    EXPECT_EQ(VS::detectQueryLanguage("dog", false), std::nullopt);
}
