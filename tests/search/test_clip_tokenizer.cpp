#include "ClipFixtures.h"

#include "search/CLIPTokenizer.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <stdexcept>

namespace {

std::vector<qint32> toVector(const CLIPTokenizer::Ids &ids) { return {ids.begin(), ids.end()}; }

// 77 ids: start, content, end, zeros.
std::vector<qint32> framed(qint32 start, const std::vector<qint32> &content, qint32 end)
{
    std::vector<qint32> ids(CLIPTokenizer::kContextLength, 0);
    ids[0] = start;
    for (size_t i = 0; i < content.size(); ++i) ids[i + 1] = content[i];
    ids[content.size() + 1] = end;
    return ids;
}

QString writeMerges(const QString &name, const QByteArray &contents)
{
    const QString path = lktest::sandboxRoot() + "/" + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(contents);
    return path;
}

const CLIPTokenizer &realTokenizer()
{
    static const CLIPTokenizer tokenizer(clipfix::vocabulary());
    return tokenizer;
}

} // namespace

// The reference cleans some texts further (ftfy repairs, HTML unescaping, typed special
// tokens); their notes say so, and those cases are left out.
TEST(CLIPTokenizer, MatchesTheReferenceIdsOnTheRealVocabulary)
{
    const CLIPTokenizer &tokenizer = realTokenizer();
    EXPECT_EQ(tokenizer.startId(), 49406);
    EXPECT_EQ(tokenizer.endId(), 49407);
    EXPECT_EQ(tokenizer.vocabularySize(), 49408);

    QFile cases(clipfix::file("tokenizer-cases.tsv"));
    ASSERT_TRUE(cases.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(cases.readAll()).split('\n', Qt::SkipEmptyParts);
    int checked = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines[i].split('\t');
        ASSERT_EQ(fields.size(), 3) << lines[i].toStdString();
        const QString note = fields[2];
        if (note.contains("would differ") || note.contains("gives other ids")) continue;
        const QString input = QJsonDocument::fromJson(("[" + fields[0] + "]").toUtf8()).array().at(0).toString();
        std::vector<qint32> expected;
        for (const QString &id : fields[1].split(' ', Qt::SkipEmptyParts)) expected.push_back(id.toInt());
        EXPECT_EQ(toVector(tokenizer.encode(input)), expected) << note.toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(CLIPTokenizer, CleansSplitsAndCapsAsDocumented)
{
    const CLIPTokenizer &t = realTokenizer();
    // White space runs, case and a trailing line break do not change the ids.
    EXPECT_EQ(t.encode("  A  Red\tCar\n"), t.encode("a red car"));
    // Contractions and digits are pre-tokens of their own.
    EXPECT_EQ(t.encode("it's"), t.encode("it 's"));
    const auto digits = t.encode("2024");
    EXPECT_EQ(digits[5], 49407);
    EXPECT_EQ(digits, t.encode("2 0 2 4"));
    // A long text keeps 75 content ids and ends with the end id at the last place.
    const auto full = t.encode(QString("dog ").repeated(100));
    EXPECT_EQ(full[75], full[1]);
    EXPECT_EQ(full[76], 49407);
    EXPECT_EQ(toVector(t.encode("")), framed(49406, {}, 49407));
    EXPECT_EQ(t.encode(" \n\t "), t.encode(""));
}

// Made-up merges: byte symbol ids are fixed (a=64, b=65, c=66; with "</w>" +256), merged
// tokens start at 512, and the markers follow the usable lines.
TEST(CLIPTokenizer, MergesByRankFromTheMergesFile)
{
    struct Case {
        const char *what;
        QByteArray merges;
        QString text;
        std::vector<qint32> content;
        qint32 start;
    };
    const Case cases[] = {
        {"lowest rank first, then the merged pair", "#v\na b\nab c</w>\n", "abc", {513}, 514},
        {"a better-ranked later pair wins", "#v\nb c</w>\na b\nab c</w>\n", "abc", {64, 512}, 515},
        {"a duplicated pair: the later id", "#v\na b\na b\nab c</w>\n", "abc", {514}, 515},
        {"a three-piece line gives no pair and no token", "#v\nx y z\na b\n", "abc", {512, 322}, 513},
        {"occurrences do not overlap", "#v\na a\n", "aaaa", {512, 64, 320}, 513},
        {"no merges: one id per byte", "#v\n", "ab c", {64, 321, 322}, 512},
        {"separate words merge separately", "#v\na b</w>\n", "ab ab", {512, 512}, 513},
    };
    for (const Case &c : cases) {
        const CLIPTokenizer t(writeMerges("merges.txt", c.merges));
        EXPECT_EQ(t.startId(), c.start) << c.what;
        EXPECT_EQ(toVector(t.encode(c.text)), framed(c.start, c.content, c.start + 1)) << c.what;
    }
}

TEST(CLIPTokenizer, CapsContentAtSeventyFiveIds)
{
    const CLIPTokenizer t(writeMerges("short.txt", "#v\n"));
    const auto ids = t.encode(QString("a ").repeated(100));
    EXPECT_EQ(ids[0], 512);
    for (int i = 1; i <= 75; ++i) ASSERT_EQ(ids[i], 320) << i;
    EXPECT_EQ(ids[76], 513);
}

TEST(CLIPTokenizer, RefusesUnreadableMergesFiles)
{
    EXPECT_THROW(CLIPTokenizer(lktest::sandboxRoot() + "/missing.txt"), std::runtime_error);
    EXPECT_THROW(CLIPTokenizer(writeMerges("latin1.txt", "#v\ncaf\xe9 x\n")), std::runtime_error);
}
