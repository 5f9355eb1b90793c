// Inputs kept from fuzzing the readers (tests/fuzz/regressions/<reader>/), replayed through
// the same readers as built for the program. Each must be read without a crash, and what
// the reader accepts must hold together.
#include "clip/SafeTensorsHeader.h"
#include "clip/TowerShapes.h"
#include "library/ScopeCache.h"
#include "media/ExternalTools.h"
#include "search/CLIPTokenizer.h"
#include "search/TranscriptFile.h"
#include "search/VisualIndexFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <functional>
#include <stdexcept>
#include <vector>

namespace {

const QString kKept = QStringLiteral(LK_SOURCE_DIR "/tests/fuzz/regressions");

const CLIPTokenizer &smallTokenizer()
{
    static const CLIPTokenizer tokenizer([] {
        const QString path = lktest::sandboxRoot() + "/merges.txt";
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write("#version: 0.2\nh e\nl l\nhe ll\no</w> x\nhell o</w>\n\xc3\xa9 t</w>\n");
        return path;
    }());
    return tokenizer;
}

// Reads one input; reports through gtest what does not hold.
using Reader = std::function<void(const QByteArray &)>;

void readScopeCache(const QByteArray &bytes)
{
    const std::optional<ScopeCache> cache = ScopeCacheCodec::decode(bytes);
    if (cache) { EXPECT_EQ(ScopeCacheCodec::decode(ScopeCacheCodec::encode(*cache)), cache); }
}

void readVisualIndex(const QByteArray &bytes)
{
    const std::vector<char> copy(bytes.begin(), bytes.end());
    const VisualIndexFile::LoadResult result = VisualIndexFile::decode(copy.data(), copy.data() + copy.size());
    const VisualIndexFile::LoadResult again = VisualIndexFile::decode(VisualIndexFile::encode(result.entries));
    EXPECT_FALSE(again.lostAnything());
    EXPECT_EQ(again.entries.size(), result.entries.size());
}

void readTranscripts(const QByteArray &bytes)
{
    const TranscriptFile::Decoded decoded = TranscriptFile::decode(bytes);
    const TranscriptFile::Decoded again = TranscriptFile::decode(TranscriptFile::encode(decoded.entries));
    EXPECT_FALSE(again.damaged);
    EXPECT_EQ(again.entries.size(), decoded.entries.size());
}

void readFFprobe(const QByteArray &bytes) { (void)lkmedia::parseFFprobeOutput(bytes); }

void readSafeTensorsHeader(const QByteArray &bytes)
{
    const std::vector<unsigned char> copy(bytes.begin(), bytes.end());
    try {
        const SafeTensorsHeader header = parseSafeTensorsHeader(copy.data(), copy.size());
        for (const auto &[name, entry] : header.entries) {
            EXPECT_LE(header.dataOffset + entry.end, copy.size()) << name;
            long double count = 1; // no wrap-around here, whatever the shape
            for (int64_t d : entry.shape) count *= (long double)d;
            EXPECT_EQ((long double)(entry.end - entry.begin), count * entry.elementSize()) << name;
        }
        if (towershapes::problem(header.entries)) return;
        for (const auto &[name, entry] : header.entries)
            for (int64_t d : entry.shape) EXPECT_GT(d, 0) << name;
    } catch (const std::runtime_error &) {
    }
}

void readQueryText(const QByteArray &bytes)
{
    const CLIPTokenizer &tokenizer = smallTokenizer();
    const CLIPTokenizer::Ids ids = tokenizer.encode(QString::fromUtf8(bytes));
    EXPECT_EQ(ids[0], tokenizer.startId());
    const auto end = std::find(ids.begin() + 1, ids.end(), tokenizer.endId());
    ASSERT_NE(end, ids.end());
    EXPECT_TRUE(std::all_of(end + 1, ids.end(), [](qint32 id) { return id == 0; }));
}

} // namespace

TEST(KeptFuzzInputs, EveryReaderReadsItsKeptInputs)
{
    const std::vector<std::pair<QString, Reader>> readers = {
        {"scope_cache", readScopeCache},   {"visual_index", readVisualIndex},
        {"transcript", readTranscripts},   {"ffprobe_json", readFFprobe},
        {"safetensors_header", readSafeTensorsHeader}, {"clip_tokenizer", readQueryText},
    };
    for (const auto &[name, read] : readers) {
        const QDir dir(kKept + "/" + name);
        for (const QString &input : dir.entryList(QDir::Files)) {
            SCOPED_TRACE((name + "/" + input).toStdString());
            QFile file(dir.filePath(input));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            read(file.readAll());
        }
    }
}

// Headers that once let a tensor claim more data than the file has, or read a number
// outside what the integer types hold, are refused.
TEST(KeptFuzzInputs, SafeTensorsHeadersWithImpossibleRangesAreRefused)
{
    for (const char *input : {"shape-count-wraps", "offset-past-double-range", "fractional-offsets", "length-past-file"}) {
        SCOPED_TRACE(input);
        QFile file(kKept + "/safetensors_header/" + input);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_THROW(parseSafeTensorsHeader(reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size())),
                     std::runtime_error);
    }
}

// Files whose header is sound but whose shapes once made the helper divide by zero, index
// outside a kernel or loop over two billion missing blocks: the towers' checks refuse them.
TEST(KeptFuzzInputs, ShapesTheTowersCannotComputeWithAreRefused)
{
    for (const char *input : {"kernel-zero-inputs", "kernel-zero-side", "block-index-two-billion", "batchnorm-lengths-differ"}) {
        SCOPED_TRACE(input);
        QFile file(kKept + "/safetensors_header/" + input);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const SafeTensorsHeader header =
            parseSafeTensorsHeader(reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()));
        EXPECT_TRUE(towershapes::problem(header.entries).has_value());
    }
}

TEST(KeptFuzzInputs, SafeTensorsHeaderReadsAWellFormedFile)
{
    const QByteArray json = R"({"__metadata__":{"k":"v"},"w":{"dtype":"F32","shape":[2,0,3],"data_offsets":[0,0]},)"
                            R"("i":{"dtype":"I64","shape":[2],"data_offsets":[0,16]}})";
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i) bytes[i] = char((quint64(json.size()) >> (8 * i)) & 0xff);
    bytes += json + QByteArray(16, '\0');
    const SafeTensorsHeader header =
        parseSafeTensorsHeader(reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()));
    EXPECT_EQ(header.dataOffset, quint64(8 + json.size()));
    EXPECT_EQ(header.metadata.at("k"), "v");
    ASSERT_EQ(header.entries.size(), 2u);
    EXPECT_EQ(header.entries.at("w").shape, (std::vector<int64_t>{2, 0, 3}));
    EXPECT_EQ(header.entries.at("i").dtype, SafeTensorsEntry::DType::Int64);
    EXPECT_EQ(header.entries.at("i").end, 16u);
}
