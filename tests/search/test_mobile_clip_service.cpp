// The CLIP service with the tiny model installed as the app installs models: embeddings
// against the reference outputs, the app-side image preprocessing, the text cache, the
// shared instance, and the helper dying or being shared by several callers.

#include "ClipFixtures.h"

#include "library/BackgroundPriority.h"
#include "search/CLIPImagePreprocessing.h"
#include "search/AppOnDeviceSearchServices.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <thread>

namespace {

constexpr double kTolerance = 1e-5;

class MobileCLIPServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(clipfix::installTinyModels(MobileCLIPModelManager::modelsDirectory()));
        MobileCLIPService::reloadShared();
        service = MobileCLIPService::shared();
        ASSERT_NE(service, nullptr);
        ref = clipfix::reference();
    }
    void TearDown() override { MobileCLIPService::resetShared(); }

    QImage image(const QJsonObject &entry) const
    {
        const QString key = entry.contains("png") ? "png" : "source_png";
        return QImage(clipfix::file(entry[key].toString()));
    }

    std::shared_ptr<MobileCLIPService> service;
    QJsonObject ref;
};

} // namespace

TEST(CLIPImagePreprocessing, ScalesTheShorterSideAndCutsTheCentre)
{
    const struct {
        QSize source, scaled;
        QPoint crop;
    } cases[] = {
        {{640, 360}, {455, 256}, {100, 0}}, // 99.5 rounds to the even 100
        {{200, 401}, {256, 513}, {0, 128}}, // 128.5 rounds to the even 128
        {{256, 256}, {256, 256}, {0, 0}},
        {{1, 1}, {256, 256}, {0, 0}},
        {{512, 256}, {512, 256}, {128, 0}},
        {{100, 400}, {256, 1024}, {0, 384}},
    };
    for (const auto &c : cases) {
        const QSize scaled = clipimage::scaledSize(c.source);
        EXPECT_EQ(scaled, c.scaled);
        EXPECT_EQ(QPoint(clipimage::cropOffset(scaled.width()), clipimage::cropOffset(scaled.height())), c.crop);
    }
    EXPECT_TRUE(clipimage::preprocess(QImage()).isEmpty());
    // A single pixel fills the whole input.
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(QColor(200, 10, 90));
    const QByteArray filled = clipimage::preprocess(dot);
    ASSERT_EQ(filled.size(), 256 * 256 * 3);
    for (int i : {0, 3 * (128 * 256 + 128), 256 * 256 * 3 - 3})
        EXPECT_EQ(QColor(uchar(filled[i]), uchar(filled[i + 1]), uchar(filled[i + 2])), QColor(200, 10, 90)) << i;
}

// The pixels of a non-square source match the reference preprocessing within one level.
TEST(CLIPImagePreprocessing, MatchesTheReferencePixelsWithinOneLevel)
{
    for (const QJsonValue &v : clipfix::reference()["nonsquare"].toArray()) {
        const QJsonObject entry = v.toObject();
        const QByteArray got = clipimage::preprocess(QImage(clipfix::file(entry["source_png"].toString())));
        const QImage expected =
            QImage(clipfix::file(entry["preprocessed_png"].toString())).convertToFormat(QImage::Format_RGB888);
        ASSERT_EQ(got.size(), 256 * 256 * 3);
        ASSERT_EQ(expected.size(), QSize(256, 256));
        int worst = 0;
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256 * 3; ++x)
                worst = std::max(worst, std::abs(int(uchar(got[y * 768 + x])) - int(expected.constScanLine(y)[x])));
        EXPECT_LE(worst, 1) << entry["name"].toString().toStdString();
    }
}

TEST_F(MobileCLIPServiceTest, EmbedsImagesAndTextsAsTheReferenceDoes)
{
    QList<QImage> images;
    std::vector<std::vector<float>> expected;
    for (const QJsonValue &v : ref["images"].toArray()) {
        images << image(v.toObject());
        expected.push_back(clipfix::floats(v.toObject()["embedding"].toArray()));
    }
    const auto got = service->imageEmbeddings(images);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_TRUE(got[i]) << i;
        EXPECT_LT(clipfix::maxAbsDiff(*got[i], expected[i]), kTolerance) << i;
    }
    for (const QJsonValue &v : ref["nonsquare"].toArray()) {
        const auto e = service->imageEmbedding(image(v.toObject()));
        ASSERT_TRUE(e);
        EXPECT_GT(clipfix::cosine(*e, clipfix::floats(v.toObject()["embedding"].toArray())), 0.9998);
    }
    for (const QJsonValue &v : ref["texts"].toArray()) {
        const auto e = service->textEmbedding({v.toObject()["text"].toString()});
        ASSERT_TRUE(e);
        EXPECT_LT(clipfix::maxAbsDiff(*e, clipfix::floats(v.toObject()["embedding"].toArray())), kTolerance);
    }
    // Stored as bytes, an image still scores its own embedding near 1.
    const auto q = service->quantizedImageEmbedding(images[0]);
    ASSERT_TRUE(q);
    EXPECT_NEAR(q->dot(expected[0]), 1.0, 0.01);
    EXPECT_FALSE(service->imageEmbedding(QImage()));
}

namespace {

// The nice values of every thread of a process (Linux keeps one per thread).
QList<int> threadNiceValues(qint64 pid)
{
    QList<int> values;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + "/stat"));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        // After the name: state is field 3, nice field 19.
        values << line.mid(line.lastIndexOf(')') + 2).split(' ').value(16).toInt();
    }
    return values;
}

} // namespace

// Indexing must not slow a search: every thread of the image helper, its tower's workers
// included, runs below the text helper's priority.
TEST_F(MobileCLIPServiceTest, TheImageHelperYieldsToTheTextHelper)
{
    ASSERT_TRUE(service->imageEmbedding(image(ref["images"].toArray()[0].toObject())));
    ASSERT_TRUE(service->computeTextEmbedding("dog"));
    const QList<int> image = threadNiceValues(service->helperProcessId(MobileCLIPService::Tower::image));
    const QList<int> text = threadNiceValues(service->helperProcessId(MobileCLIPService::Tower::text));
    ASSERT_GT(image.size(), 1); // the workers have started
    ASSERT_FALSE(text.isEmpty());
    EXPECT_GT(*std::min_element(image.cbegin(), image.cend()), *std::max_element(text.cbegin(), text.cend()));
}

// Indexing starts the image helper from a lowered background thread, and the helper inherits
// that thread's priority: it must still sit where it does when the main thread starts it,
// not lower again by the thread's share (which left it starved beside a busy machine).
TEST_F(MobileCLIPServiceTest, TheImageHelpersPriorityDoesNotDependOnTheThreadThatStartsIt)
{
    const QImage picture = image(ref["images"].toArray()[0].toObject());
    ASSERT_TRUE(service->imageEmbedding(picture));
    const QList<int> fromMain = threadNiceValues(service->helperProcessId(MobileCLIPService::Tower::image));
    ASSERT_FALSE(fromMain.isEmpty());

    const auto fresh = MobileCLIPService::create(*MobileCLIPService::AssetPaths::resolve());
    ASSERT_NE(fresh, nullptr);
    std::thread background(inBackground([&] { ASSERT_TRUE(fresh->imageEmbedding(picture)); }));
    background.join();
    const QList<int> fromBackground = threadNiceValues(fresh->helperProcessId(MobileCLIPService::Tower::image));
    ASSERT_FALSE(fromBackground.isEmpty());
    EXPECT_EQ(*std::max_element(fromBackground.cbegin(), fromBackground.cend()),
              *std::max_element(fromMain.cbegin(), fromMain.cend()));
}

TEST_F(MobileCLIPServiceTest, SumsPromptsAndCachesEachTextOnce)
{
    const auto dog = service->computeTextEmbedding("dog");
    ASSERT_TRUE(dog);
    EXPECT_EQ(service->textCacheSize(), 1);
    EXPECT_EQ(service->computeTextEmbedding("  Dog\n"), dog);
    EXPECT_EQ(service->textCacheSize(), 1);
    EXPECT_FALSE(service->computeTextEmbedding("  \n "));
    EXPECT_EQ(service->textCacheSize(), 1);

    const auto photo = service->computeTextEmbedding("a photo of dog");
    ASSERT_TRUE(photo);
    std::vector<float> sum(dog->size());
    for (size_t i = 0; i < sum.size(); ++i) sum[i] = (*dog)[i] + (*photo)[i];
    const auto combined = service->textEmbedding({"dog", "   ", "a photo of dog"});
    ASSERT_TRUE(combined);
    EXPECT_LT(clipfix::maxAbsDiff(*combined, *MobileCLIPService::l2Normalized(sum)), 1e-6);
    EXPECT_FALSE(service->textEmbedding({}));
    EXPECT_FALSE(service->textEmbedding({"", " "}));
    EXPECT_FALSE(MobileCLIPService::l2Normalized(std::vector<float>(8, 0.0f)));
}

// A helper that dies is started again for the next request, which still gets its answer.
TEST_F(MobileCLIPServiceTest, RestartsAHelperThatDied)
{
    const QImage picture = image(ref["images"].toArray().at(1).toObject());
    const auto before = service->imageEmbedding(picture);
    ASSERT_TRUE(before);
    const qint64 first = service->helperProcessId();
    ASSERT_GT(first, 0);
    ASSERT_EQ(::kill(pid_t(first), SIGKILL), 0);
    QThread::msleep(100);
    const auto after = service->imageEmbedding(picture);
    ASSERT_TRUE(after);
    EXPECT_EQ(*after, *before);
    EXPECT_NE(service->helperProcessId(), first);
    EXPECT_TRUE(service->computeTextEmbedding("after the restart"));
}

// Callers on several threads each get their own answers.
TEST_F(MobileCLIPServiceTest, KeepsConcurrentCallersApart)
{
    QList<QImage> images;
    for (const QJsonValue &v : ref["images"].toArray()) images << image(v.toObject());
    const QStringList texts{"red car", "blue sky", "two dogs", "a city at night"};
    std::vector<std::optional<std::vector<float>>> imageAlone, textAlone;
    for (const QImage &i : images) imageAlone.push_back(service->imageEmbedding(i));
    for (const QString &t : texts) textAlone.push_back(service->computeTextEmbedding(t));
    const auto fresh = MobileCLIPService::create(*MobileCLIPService::AssetPaths::resolve());
    ASSERT_NE(fresh, nullptr); // its own empty text cache, so texts go to the helper too

    constexpr int kThreads = 8;
    std::vector<std::vector<bool>> same(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                const qsizetype i = (t + round) % images.size();
                same[t].push_back(fresh->imageEmbedding(images[i]) == imageAlone[size_t(i)]);
                const qsizetype k = (t + round) % texts.size();
                same[t].push_back(fresh->computeTextEmbedding(texts[k]) == textAlone[size_t(k)]);
            }
        });
    }
    for (auto &th : threads) th.join();
    for (int t = 0; t < kThreads; ++t)
        for (size_t i = 0; i < same[t].size(); ++i) EXPECT_TRUE(same[t][i]) << "thread " << t << " answer " << i;
}

TEST_F(MobileCLIPServiceTest, SharedInstanceFollowsResetAndReload)
{
    MobileCLIPService::resetShared();
    EXPECT_EQ(MobileCLIPService::shared(), nullptr); // files present, still none
    AppOnDeviceSearchServices backend;
    EXPECT_FALSE(backend.hasMobileCLIPService());
    EXPECT_TRUE(backend.isModelInstalled());
    const QDir dir(MobileCLIPModelManager::modelsDirectory());
    qint64 bytes = 0;
    for (const QFileInfo &f : dir.entryInfoList(QDir::Files)) bytes += f.size();
    EXPECT_EQ(backend.installedSizeBytes(), bytes);
    MobileCLIPService::reloadShared();
    EXPECT_NE(MobileCLIPService::shared(), nullptr);
    EXPECT_TRUE(backend.hasMobileCLIPService());
}

// Anything that keeps the towers from loading or answering gives no service or no result.
TEST_F(MobileCLIPServiceTest, FailuresGiveNoServiceOrNoResult)
{
    const auto paths = *MobileCLIPService::AssetPaths::resolve();
    const QString root = lktest::sandboxRoot();
    auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile f(root + "/" + name);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return f.fileName();
    };
    const QString notTensors = write("broken.safetensors", "this is not a tensor file");
    const QString notUtf8 = write("merges.txt", "#v\n\xff\xfe x\n");
    EXPECT_EQ(MobileCLIPService::create({notTensors, paths.textModel, paths.vocab}), nullptr);
    EXPECT_EQ(MobileCLIPService::create({paths.imageModel, notTensors, paths.vocab}), nullptr);
    EXPECT_EQ(MobileCLIPService::create({paths.imageModel, paths.textModel, notUtf8}), nullptr);
    EXPECT_EQ(MobileCLIPService::create({paths.imageModel, paths.textModel, root + "/none.txt"}), nullptr);

    // A helper that cannot start (or exits at once) answers nothing, twice, and never hangs.
    const auto noHelper = MobileCLIPService::create(paths, "/bin/false");
    ASSERT_NE(noHelper, nullptr);
    EXPECT_FALSE(noHelper->imageEmbedding(image(ref["images"].toArray().at(0).toObject())));
    EXPECT_FALSE(noHelper->computeTextEmbedding("dog"));
    EXPECT_EQ(noHelper->textCacheSize(), 0);

    // A tower file the helper cannot read: the service exists, its requests give none.
    const QString truncated = root + "/truncated.safetensors";
    QFile::copy(paths.imageModel, truncated);
    QFile::resize(truncated, QFileInfo(truncated).size() / 2);
    const auto halfModel = MobileCLIPService::create({truncated, paths.textModel, paths.vocab});
    ASSERT_NE(halfModel, nullptr);
    EXPECT_FALSE(halfModel->imageEmbedding(image(ref["images"].toArray().at(0).toObject())));

    // One item missing from every candidate folder: nothing resolves.
    QFile::remove(MobileCLIPModelManager::modelsDirectory() + "/" + MobileCLIPModelManager::kTextModelName);
    EXPECT_FALSE(MobileCLIPService::AssetPaths::resolve());
    MobileCLIPService::reloadShared();
    EXPECT_EQ(MobileCLIPService::shared(), nullptr);
}
