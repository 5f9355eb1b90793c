// The helper program by hand: check-mode embeddings against the reference outputs of the
// tiny model (training-time form, folded, and installed per-tower files), the tokenize
// command, and its pipe protocol under garbage.

#include "ClipFixtures.h"

#include "search/CLIPHelperConnection.h"
#include "search/CLIPHelperProtocol.h"
#include "search/CLIPTokenizer.h"

#include <gtest/gtest.h>

namespace {

constexpr double kTolerance = 1e-5;

struct Embedded {
    int exitCode = -1;
    std::vector<float> unit;
    double rawNorm = 0;
};

Embedded embed(const QStringList &args)
{
    QByteArray out, err;
    Embedded e;
    e.exitCode = clipfix::runHelper(QStringList{"embed"} + args, &out, &err);
    e.unit = clipfix::floats(QJsonDocument::fromJson(out).array());
    const qsizetype at = err.indexOf("raw_norm ");
    if (at >= 0) e.rawNorm = err.mid(at + 9).trimmed().split('\n').first().toDouble();
    return e;
}

QString idsText(const QJsonArray &ids)
{
    QStringList parts;
    for (const QJsonValue &v : ids) parts << QString::number(v.toInt());
    return parts.join(' ');
}

void expectNear(const Embedded &got, const QJsonObject &ref, const std::string &what)
{
    ASSERT_EQ(got.exitCode, 0) << what;
    EXPECT_LT(clipfix::maxAbsDiff(got.unit, clipfix::floats(ref["embedding"].toArray())), kTolerance) << what;
    const double norm = ref["raw_norm"].toDouble();
    EXPECT_NEAR(got.rawNorm, norm, norm * kTolerance) << what;
}

} // namespace

TEST(CLIPHelper, TrainingTimeWeightsMatchTheReferenceFoldedUnfoldedAndInEitherLayout)
{
    const QJsonObject ref = clipfix::reference();
    const QStringList model{"--model", clipfix::tinyModel(), "--heads", QString::number(clipfix::kTinyHeads)};
    for (const QJsonValue &v : ref["images"].toArray()) {
        const QJsonObject image = v.toObject();
        const QString png = clipfix::file(image["png"].toString());
        for (const QStringList &form : {QStringList{}, QStringList{"--no-fold"}, QStringList{"--layout", "channels-last"},
                                        QStringList{"--no-fold", "--layout", "channels-last"}})
            expectNear(embed(model + form + QStringList{"--image", png}), image,
                       (image["name"].toString() + " " + form.join("")).toStdString());
    }
    for (const QJsonValue &v : ref["texts"].toArray()) {
        const QJsonObject text = v.toObject();
        expectNear(embed(model + QStringList{"--ids", idsText(text["ids"].toArray())}), text,
                   text["text"].toString().toStdString());
    }
    // Through the tokenizer too.
    const QJsonObject first = ref["texts"].toArray().first().toObject();
    expectNear(embed(model + QStringList{"--vocab", clipfix::vocabulary(), "--text", first["text"].toString()}), first,
               "tokenized");
}

// Non-square sources are scaled and cut in the helper as in the app: within one pixel level
// of the reference, which keeps the embedding at the cosine that resizer reaches.
TEST(CLIPHelper, NonSquareSourcesComeCloseToTheReference)
{
    const QJsonObject ref = clipfix::reference();
    for (const QJsonValue &v : ref["nonsquare"].toArray()) {
        const QJsonObject image = v.toObject();
        const Embedded e = embed({"--model", clipfix::tinyModel(), "--heads", "2", "--image",
                                  clipfix::file(image["source_png"].toString())});
        ASSERT_EQ(e.exitCode, 0);
        EXPECT_GT(clipfix::cosine(e.unit, clipfix::floats(image["embedding"].toArray())), 0.9998)
            << image["name"].toString().toStdString();
    }
}

TEST(CLIPHelper, FusedPerTowerFilesCarryTheirHeadCountAndMatch)
{
    const QString dir = lktest::sandboxRoot() + "/installed";
    ASSERT_TRUE(clipfix::installTinyModels(dir));
    const QJsonObject ref = clipfix::reference();
    const QJsonObject image = ref["images"].toArray().at(2).toObject();
    const QJsonObject text = ref["texts"].toArray().at(1).toObject();
    // No --heads: the text file's metadata says 2.
    expectNear(embed({"--model", dir, "--image", clipfix::file(image["png"].toString())}), image, "installed image");
    expectNear(embed({"--model", dir, "--ids", idsText(text["ids"].toArray())}), text, "installed text");
    expectNear(embed({"--model", dir, "--text", text["text"].toString()}), text, "installed text, tokenized");
}

// The fused text tower says the head count it was made with; a training-time tower of a width
// with no known count is refused by the fuse step, with nothing written, rather than guessed.
TEST(CLIPHelper, FuseRecordsTheHeadCountAndNeverGuessesOne)
{
    const QString given = lktest::sandboxRoot() + "/fused-given", guessed = lktest::sandboxRoot() + "/fused-guessed";
    ASSERT_EQ(clipfix::runHelper({"fuse", "--model", clipfix::tinyModel(), "--heads", "2", "--out", given}), 0);
    QFile text(given + "/" + MobileCLIPModelManager::kTextModelName);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QByteArray bytes = text.readAll();
    quint64 length = 0;
    for (int i = 7; i >= 0; --i) length = (length << 8) | uchar(bytes[i]);
    const QJsonObject header = QJsonDocument::fromJson(bytes.mid(8, qsizetype(length))).object();
    EXPECT_EQ(header["__metadata__"].toObject()["lumenkite.text_heads"].toString(), "2");

    QByteArray err;
    EXPECT_NE(clipfix::runHelper({"fuse", "--model", clipfix::tinyModel(), "--out", guessed}, nullptr, &err), 0);
    EXPECT_TRUE(err.contains("head count is not known")) << err.toStdString();
    EXPECT_TRUE(QDir(guessed).entryList(QDir::Files).isEmpty());
}

TEST(CLIPHelper, RefusesWhatItCannotRunCorrectly)
{
    const QString garbage = lktest::sandboxRoot() + "/garbage.safetensors";
    QFile f(garbage);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray("\xff\xff\xff\xff\xff\xff\xff\x7f{not json", 18));
    f.close();
    const QString png = clipfix::file("images/noise_256.png");
    const struct {
        const char *what;
        QStringList args;
    } cases[] = {
        {"tiny text tower without a head count", {"--model", clipfix::tinyModel(), "--ids", "49406 49407"}},
        {"missing model file", {"--model", lktest::sandboxRoot() + "/none.safetensors", "--image", png}},
        {"malformed model file", {"--model", garbage, "--image", png}},
        {"fewer than 77 ids", {"--model", clipfix::tinyModel(), "--heads", "2", "--ids", "49406 49407"}},
        {"id beyond the vocabulary", {"--model", clipfix::tinyModel(), "--heads", "2", "--ids",
                                      "49406 99999 49407" + QString(" 0").repeated(74)}},
        {"heads that do not divide the width", {"--model", clipfix::tinyModel(), "--heads", "3", "--ids",
                                                "49406 49407" + QString(" 0").repeated(75)}},
    };
    for (const auto &c : cases) {
        QByteArray out;
        EXPECT_NE(clipfix::runHelper(QStringList{"embed"} + c.args, &out), 0) << c.what;
        EXPECT_TRUE(out.isEmpty()) << c.what;
    }
}

// The tiny model with one header entry replaced or added, the data left as it is.
QString craftedTinyModel(const QString &name, const QString &key, const QJsonObject &entry)
{
    QFile in(clipfix::tinyModel());
    if (!in.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = in.readAll();
    quint64 length = 0;
    for (int i = 7; i >= 0; --i) length = (length << 8) | uchar(bytes[i]);
    QJsonObject header = QJsonDocument::fromJson(bytes.mid(8, qsizetype(length))).object();
    header.insert(key, entry);
    QByteArray json = QJsonDocument(header).toJson(QJsonDocument::Compact);
    while (json.size() % 8 != 0) json.append(' '); // the data stays aligned
    QByteArray prefix(8, '\0');
    for (int i = 0; i < 8; ++i) prefix[i] = char((quint64(json.size()) >> (8 * i)) & 0xff);
    const QString path = lktest::sandboxRoot() + "/" + name + ".safetensors";
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return {};
    out.write(prefix + json + bytes.mid(8 + qsizetype(length)));
    return path;
}

// Crafted shapes once made the helper divide by zero, write outside a kernel, or count to
// two billion: each now ends with a plain refusal before any tensor is computed with.
TEST(CLIPHelper, CraftedShapesAreRefusedBeforeAnyArithmetic)
{
    const QString stem = "visual.trunk.stem.0.conv_kxk.0.conv.weight";
    const auto f32 = [](QJsonArray shape, qint64 end) {
        return QJsonObject{{"dtype", "F32"}, {"shape", shape}, {"data_offsets", QJsonArray{0, end}}};
    };
    const struct {
        const char *name;
        QString key;
        QJsonObject entry;
        const char *reason;
    } cases[] = {
        {"zero-inputs", stem, f32({16, 0, 3, 3}, 0), "size zero"},
        {"zero-side", stem, f32({16, 1, 0, 0}, 0), "size zero"},
        {"even-kernel", stem, f32({16, 3, 2, 2}, 16 * 3 * 2 * 2 * 4), "square kernel"},
        {"block-index", "visual.trunk.stages.2000000000.x", f32({1}, 4), "block index"},
        {"batchnorm", "visual.trunk.stem.0.conv_kxk.0.bn.running_var", f32({1}, 4), "BatchNorm"},
    };
    const QString png = clipfix::file("images/noise_256.png");
    for (const auto &c : cases) {
        const QString model = craftedTinyModel(c.name, c.key, c.entry);
        ASSERT_FALSE(model.isEmpty()) << c.name;
        for (const QStringList &args : {QStringList{"embed", "--model", model, "--heads", "2", "--image", png},
                                        QStringList{"embed", "--model", model, "--heads", "2", "--no-fold", "--image", png},
                                        QStringList{"fuse", "--model", model, "--heads", "2", "--out",
                                                    lktest::sandboxRoot() + "/fused-" + c.name}}) {
            QByteArray out, err;
            EXPECT_EQ(clipfix::runHelper(args, &out, &err), 1) << c.name << " " << args[0].toStdString() << ": " << err.toStdString();
            EXPECT_TRUE(err.contains(c.reason)) << c.name << ": " << err.toStdString();
            EXPECT_TRUE(out.isEmpty()) << c.name;
        }
    }
}

TEST(CLIPHelper, TokenizeCommandPrintsTheTokenizersIds)
{
    const QString text = "Two dogs, 3 cats & it's raining!";
    QByteArray out;
    ASSERT_EQ(clipfix::runHelper({"tokenize", "--vocab", clipfix::vocabulary(), "--text", text}, &out), 0);
    const CLIPTokenizer tokenizer(clipfix::vocabulary());
    std::vector<float> expected;
    for (qint32 id : tokenizer.encode(text)) expected.push_back(float(id));
    EXPECT_EQ(clipfix::floats(QJsonDocument::fromJson(out).array()), expected);
}

// A request the helper cannot frame gets a refusal and the helper ends; it never waits
// for bytes that will not come.
TEST(CLIPHelperProtocol, GarbageGetsARefusalAndAnExitNeverAHang)
{
    const auto u32 = [](std::initializer_list<uint32_t> words) {
        QByteArray b;
        for (uint32_t w : words) b.append(reinterpret_cast<const char *>(&w), 4);
        return b;
    };
    const struct {
        const char *what;
        QByteArray input;
        bool refused; // an answer with kBadRequest precedes the exit
    } cases[] = {
        {"text instead of a header", "hello helper, embed this please\n", true},
        {"unknown kind", u32({clipproto::kRequestMagic, 9, 1}), true},
        {"empty batch", u32({clipproto::kRequestMagic, clipproto::kTexts, 0}), true},
        {"oversized batch", u32({clipproto::kRequestMagic, clipproto::kImages, 1u << 30}), true},
        {"payload cut short", u32({clipproto::kRequestMagic, clipproto::kImages, 2}) + QByteArray(1000, 'x'), false},
        {"half a header", QByteArray("LKC"), false},
    };
    const QStringList serve{"serve", "--model", clipfix::tinyModel(), "--heads", "2"};
    for (const auto &c : cases) {
        QByteArray out;
        const int code = clipfix::runHelper(serve, &out, nullptr, c.input);
        ASSERT_GE(code, 0) << c.what << ": the helper did not finish";
        ASSERT_GE(out.size(), 16) << c.what;
        const uint32_t *hello = reinterpret_cast<const uint32_t *>(out.constData());
        EXPECT_EQ(hello[0], clipproto::kHelloMagic) << c.what;
        EXPECT_EQ(hello[1], clipproto::kOk) << c.what;
        if (c.refused) {
            ASSERT_EQ(out.size(), 32) << c.what;
            EXPECT_EQ(hello[4], clipproto::kAnswerMagic) << c.what;
            EXPECT_EQ(hello[5], clipproto::kBadRequest) << c.what;
            EXPECT_NE(code, 0) << c.what;
        } else {
            EXPECT_EQ(out.size(), 16) << c.what;
        }
    }
}

// Readable requests with unusable content are refused one by one; the helper goes on.
TEST(CLIPHelperProtocol, RefusesBadContentAndKeepsServing)
{
    CLIPHelperConnection helper;
    ASSERT_TRUE(helper.start(MobileCLIPService::helperProgram(),
                             {"serve", "--model", clipfix::tinyModel(), "--heads", "2"}, 60000));
    EXPECT_EQ(helper.imageDimension(), 64u);
    EXPECT_EQ(helper.textDimension(), 64u);
    std::vector<qint32> ids(77, 0);
    ids[0] = 49406;
    ids[1] = 49408; // one past the vocabulary
    ids[2] = 49407;
    auto bytes = [](const std::vector<qint32> &v) { return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size() * 4)); };
    auto refused = helper.exchange(clipproto::kTexts, 1, bytes(ids), 60000);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, clipproto::kBadRequest);
    ids[1] = -5;
    refused = helper.exchange(clipproto::kTexts, 1, bytes(ids), 60000);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, clipproto::kBadRequest);

    ids[1] = 320;
    std::vector<qint32> two = ids;
    two.insert(two.end(), ids.begin(), ids.end());
    const auto answered = helper.exchange(clipproto::kTexts, 2, bytes(two), 60000);
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->status, clipproto::kOk);
    EXPECT_EQ(answered->count, 2u);
    EXPECT_EQ(answered->dimension, 64u);
}
