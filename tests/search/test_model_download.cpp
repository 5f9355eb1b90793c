// The model download against a loopback server: fetch, checks, fusing by the helper and the
// swap into the models folder; every failure leaves the installed model as it was and no
// staging folder behind.

#include "ClipFixtures.h"

#include "library/L10n.h"
#include "search/MobileCLIPModelDownload.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <map>

#include <sys/resource.h>

namespace {

// Serves fixed answers by path; at most kMaxRequests requests, then it stops listening.
class LoopbackServer : public QObject
{
public:
    struct Route {
        int status = 200;
        QByteArray body;
        QByteArray location;     // a redirect's target
        qint64 declaredLength = -1; // a Content-Length other than the body's (short body)
        bool stall = false;      // send part of the body and keep the connection open
    };
    static constexpr int kMaxRequests = 16;

    LoopbackServer()
    {
        EXPECT_TRUE(m_server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    ++disconnects;
                    socket->deleteLater();
                });
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    std::map<QString, Route> routes;
    QStringList requested, userAgents;
    int disconnects = 0;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &buffer = m_pending[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n")) return;
        const QList<QByteArray> lines = buffer.split('\n');
        buffer.clear();
        const QString path = QString::fromLatin1(lines[0].split(' ').value(1));
        for (const QByteArray &line : lines)
            if (line.toLower().startsWith("user-agent:")) userAgents << QString::fromLatin1(line.mid(11).trimmed());
        requested << path;
        if (requested.size() >= kMaxRequests) m_server.close();
        auto it = routes.find(path);
        Route route = it != routes.end() ? it->second : Route{404, "missing"};
        QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + " X\r\n";
        if (!route.location.isEmpty()) head += "Location: " + route.location + "\r\n";
        const qint64 length = route.declaredLength >= 0 ? route.declaredLength : route.body.size();
        head += "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
        socket->write(head);
        if (route.stall) {
            socket->write(route.body.left(route.body.size() / 4));
            return;
        }
        socket->write(route.declaredLength >= 0 ? route.body.left(route.declaredLength) : route.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The tiny model with its header changed by `edit` and its data by `patch`.
QByteArray editedModel(const std::function<void(QJsonObject &)> &edit,
                       const std::function<void(QByteArray &, const QJsonObject &)> &patch = {})
{
    const QByteArray all = readFile(clipfix::tinyModel());
    quint64 n = 0;
    for (int i = 7; i >= 0; --i) n = (n << 8) | uchar(all[i]);
    QJsonObject header = QJsonDocument::fromJson(all.mid(8, qsizetype(n))).object();
    QByteArray data = all.mid(8 + qsizetype(n));
    if (edit) edit(header);
    if (patch) patch(data, header);
    const QByteArray json = QJsonDocument(header).toJson(QJsonDocument::Compact);
    QByteArray out(8, '\0');
    for (int i = 0; i < 8; ++i) out[i] = char((quint64(json.size()) >> (8 * i)) & 0xff);
    return out + json + data;
}

const QString kModelPath = "/apple/MobileCLIP-S2-OpenCLIP/resolve/a406a1bd0b882b27509e608f3cb199de52010c4d/open_clip_model.safetensors";
const QString kVocabPath = "/openai/CLIP/main/clip/bpe_simple_vocab_16e6.txt.gz";

QString models() { return MobileCLIPModelManager::modelsDirectory(); }

// Stand-ins for a working install: three files whose bytes the test knows.
void installOldModel()
{
    QDir().mkpath(models());
    for (const char *name : {MobileCLIPModelManager::kImageModelName, MobileCLIPModelManager::kTextModelName,
                             MobileCLIPModelManager::kVocabName}) {
        QFile f(models() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray("old ") + name);
    }
}

bool oldModelIntact()
{
    for (const char *name : {MobileCLIPModelManager::kImageModelName, MobileCLIPModelManager::kTextModelName,
                             MobileCLIPModelManager::kVocabName})
        if (readFile(models() + "/" + name) != QByteArray("old ") + name) return false;
    return true;
}

QStringList stagingFolders()
{
    return QDir(models()).entryList({".download-*"}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
}

class ModelDownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(models()).removeRecursively();
        server = std::make_unique<LoopbackServer>();
        server->routes[kModelPath] = {200, readFile(clipfix::tinyModel())};
        server->routes[kVocabPath] = {200, readFile(clipfix::file("bpe_simple_vocab_16e6.txt.gz"))};
        QSettings().setValue(MobileCLIPModelManager::kModelBaseURLKey, server->base());
        QSettings().setValue(MobileCLIPModelManager::kVocabularyBaseURLKey, server->base() + "/");
    }
    void TearDown() override
    {
        download.reset();
        QSettings().remove(MobileCLIPModelManager::kModelBaseURLKey);
        QSettings().remove(MobileCLIPModelManager::kVocabularyBaseURLKey);
        QDir(models()).removeRecursively();
        MobileCLIPService::resetShared();
    }
    // Runs a download to its end (or until `stop` says so after an event).
    void run(const std::function<bool(const ModelDownloadEvent &)> &stop = {})
    {
        download = std::make_unique<MobileCLIPModelDownload>(
            MobileCLIPModelDownload::Options{{}, clipfix::kTinyHeads}, [this, stop](const ModelDownloadEvent &e) {
                events.push_back(e);
                if (e.kind == ModelDownloadEvent::Kind::compiling && stagingSeen.isEmpty()) {
                    for (const QString &s : stagingFolders())
                        if (QFile::exists(models() + "/" + s + "/open_clip_model.safetensors")) stagingSeen = s;
                }
                if (stop && stop(e)) download->cancel();
            });
        download->start();
        ASSERT_TRUE(lktest::waitFor([this] { return download->isFinished(); }, 120000));
    }
    const ModelDownloadEvent *last() const { return events.empty() ? nullptr : &events.back(); }

    std::unique_ptr<LoopbackServer> server;
    std::unique_ptr<MobileCLIPModelDownload> download;
    std::vector<ModelDownloadEvent> events;
    QString stagingSeen;
};

// Through a redirect, over an older install: fused towers and the vocabulary replace it, the
// work happened in a staging folder inside the models folder, and the service loads the result.
TEST_F(ModelDownloadTest, InstallsThroughARedirectOverAnOlderModel)
{
    installOldModel();
    QSettings().setValue(MobileCLIPModelManager::kModelBaseURLKey, server->base() + "/moved");
    server->routes["/moved" + kModelPath] = {302, {}, (server->base() + kModelPath).toLatin1()};
    run();
    ASSERT_TRUE(last());
    ASSERT_EQ(last()->kind, ModelDownloadEvent::Kind::completed) << last()->text.toStdString();
    EXPECT_EQ(server->requested, (QStringList{"/moved" + kModelPath, kModelPath, kVocabPath}));
    EXPECT_EQ(server->userAgents.value(0), "Lumenkite/1.0 (Linux)");

    double previous = 0;
    bool compiled = false;
    for (const ModelDownloadEvent &e : events) {
        if (e.kind == ModelDownloadEvent::Kind::progress) {
            EXPECT_FALSE(compiled) << "progress after the compiling steps";
            EXPECT_GE(e.fraction, previous);
            EXPECT_LE(e.fraction, 0.92);
            previous = e.fraction;
        }
        compiled |= e.kind == ModelDownloadEvent::Kind::compiling;
    }
    EXPECT_DOUBLE_EQ(previous, 0.92);
    EXPECT_TRUE(compiled);
    EXPECT_FALSE(stagingSeen.isEmpty()) << "no staging folder inside the models folder";
    EXPECT_TRUE(stagingFolders().isEmpty());

    EXPECT_TRUE(MobileCLIPModelManager::isInstalled());
    EXPECT_FALSE(oldModelIntact());
    EXPECT_EQ(readFile(models() + "/bpe_simple_vocab_16e6.txt"), readFile(clipfix::vocabulary()));
    EXPECT_FALSE(MobileCLIPModelManager::verifyTensorFile(models() + "/" + MobileCLIPModelManager::kImageModelName));
    EXPECT_EQ(last()->installedBytes, MobileCLIPModelManager::installedSizeBytes());
    EXPECT_TRUE(MobileCLIPService::shared());
}

// Base addresses of files on disk (a mirror copied by hand) install as a server's do.
TEST_F(ModelDownloadTest, InstallsFromFileAddresses)
{
    const QString mirror = lktest::sandboxRoot() + "/mirror";
    for (const auto &[path, route] : server->routes) {
        QDir().mkpath(QFileInfo(mirror + path).path());
        QFile f(mirror + path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(route.body);
    }
    const QString base = QUrl::fromLocalFile(mirror).toString();
    QSettings().setValue(MobileCLIPModelManager::kModelBaseURLKey, base);
    QSettings().setValue(MobileCLIPModelManager::kVocabularyBaseURLKey, base);
    run();
    ASSERT_TRUE(last());
    ASSERT_EQ(last()->kind, ModelDownloadEvent::Kind::completed) << last()->text.toStdString();
    EXPECT_TRUE(server->requested.isEmpty());
    EXPECT_TRUE(MobileCLIPModelManager::isInstalled());
    EXPECT_EQ(readFile(models() + "/bpe_simple_vocab_16e6.txt"), readFile(clipfix::vocabulary()));
    QDir(mirror).removeRecursively();
}

// A staging folder a killed download left is not installed size, and the start-up sweep
// removes it while a download of this run keeps its own.
TEST_F(ModelDownloadTest, StagingFoldersAreNotInstalledAndAreSweptAtStart)
{
    installOldModel();
    const qint64 installed = MobileCLIPModelManager::installedSizeBytes();
    const QString killed = MobileCLIPModelManager::makeStagingFolder();
    ASSERT_TRUE(lktest::writeSizedFile(killed + "/open_clip_model.safetensors", 300'000'000));
    EXPECT_EQ(MobileCLIPModelManager::installedSizeBytes(), installed);
    ASSERT_EQ(lktest::runProgram("touch", {"-d", "2 hours ago", killed}), 0);
    const QString live = MobileCLIPModelManager::makeStagingFolder();
    MobileCLIPModelManager::sweepStagingFolders(QDateTime::currentDateTime().addSecs(-3600));
    EXPECT_EQ(stagingFolders(), QStringList{QFileInfo(live).fileName()});
    EXPECT_TRUE(oldModelIntact());
}

// Each fault ends in one failure event naming it in the interface language, the older model
// untouched, nothing staged.
TEST_F(ModelDownloadTest, FailuresKeepTheInstalledModel)
{
    const QByteArray emptyGzip = QByteArray::fromHex("1f8b08000000000000030300000000000000000000");
    const QByteArray model = readFile(clipfix::tinyModel());
    struct Case {
        const char *name;
        std::function<void(LoopbackServer &)> setUp;
        QString message;
        AppLanguage language = AppLanguage::en;
    };
    const std::vector<Case> cases = {
        {"missing model", [](LoopbackServer &s) { s.routes.erase(kModelPath); },
         L10n::text("ai.serverAnswer", AppLanguage::en) + " HTTP 404"},
        {"missing model, German interface", [](LoopbackServer &s) { s.routes.erase(kModelPath); },
         L10n::text("ai.serverAnswer", AppLanguage::de) + " HTTP 404", AppLanguage::de},
        {"short body", [&](LoopbackServer &s) { s.routes[kModelPath] = {200, model.left(model.size() / 2), {}, model.size()}; }, "open_clip_model"},
        {"empty gzip", [&](LoopbackServer &s) { s.routes[kVocabPath] = {200, emptyGzip}; }, "0 usable merge lines"},
        {"truncated gzip", [](LoopbackServer &s) { s.routes[kVocabPath].body.chop(1000); },
         L10n::text("ai.gzipDamaged", AppLanguage::en)},
        {"truncated gzip, Japanese interface", [](LoopbackServer &s) { s.routes[kVocabPath].body.chop(1000); },
         L10n::text("ai.gzipDamaged", AppLanguage::ja), AppLanguage::ja},
        {"model without a key", [](LoopbackServer &s) {
             s.routes[kModelPath].body = editedModel([](QJsonObject &h) { h.remove("text.text_projection"); });
         }, "text.text_projection"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        QSettings("Lumenkite", "Lumenkite").setValue("Lumenkite.language", AppLanguageInfo::rawValue(c.language));
        installOldModel();
        c.setUp(*server);
        events.clear();
        run();
        ASSERT_TRUE(last());
        EXPECT_EQ(last()->kind, ModelDownloadEvent::Kind::failed);
        EXPECT_TRUE(last()->text.startsWith(L10n::text("ai.downloadFailed", c.language))) << last()->text.toStdString();
        EXPECT_TRUE(last()->text.contains(c.message)) << last()->text.toStdString();
        EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const ModelDownloadEvent &e) {
                      return e.kind == ModelDownloadEvent::Kind::failed || e.kind == ModelDownloadEvent::Kind::completed;
                  }), 1);
        EXPECT_TRUE(oldModelIntact());
        EXPECT_TRUE(stagingFolders().isEmpty());
        QSettings("Lumenkite", "Lumenkite").remove("Lumenkite.language");
        TearDown();
    }
}

// A write that fails while the model arrives (a file size limit stands in for a full disk):
// the message gives the system's reason, and the old model stays.
TEST_F(ModelDownloadTest, AWriteFailureSaysWhyAndKeepsTheOldModel)
{
    installOldModel();
    rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 1 << 20; // the tiny model is several times larger
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    run();
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldSignal);
    ASSERT_TRUE(last());
    EXPECT_EQ(last()->kind, ModelDownloadEvent::Kind::failed);
    EXPECT_TRUE(last()->text.contains("open_clip_model.safetensors: File too large")) << last()->text.toStdString();
    EXPECT_TRUE(oldModelIntact());
    EXPECT_TRUE(stagingFolders().isEmpty());
}

// A body that never ends, cancelled at its first bytes: the connection closes, nothing more is
// reported, nothing is installed and the staging folder is gone.
TEST_F(ModelDownloadTest, CancelledSlowBodyLeavesNothing)
{
    server->routes[kModelPath].stall = true;
    run([](const ModelDownloadEvent &e) { return e.kind == ModelDownloadEvent::Kind::progress; });
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, ModelDownloadEvent::Kind::progress);
    EXPECT_TRUE(lktest::waitFor([this] { return server->disconnects >= 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(events.size(), 1u);
    EXPECT_TRUE(stagingFolders().isEmpty());
    EXPECT_FALSE(MobileCLIPModelManager::isInstalled());
}

// The model file checks: any fault found before anything is installed.
TEST(ModelFileChecks, RejectsBrokenModels)
{
    const QString dir = lktest::sandboxRoot() + "/model-checks";
    QDir().mkpath(dir);
    const auto nanInto = [](const char *key) {
        return [key](QByteArray &data, const QJsonObject &h) {
            const qint64 at = h.value(key).toObject().value("data_offsets").toArray()[0].toInteger();
            const float nan = std::numeric_limits<float>::quiet_NaN();
            std::memcpy(data.data() + at, &nan, 4);
        };
    };
    struct Case {
        const char *name;
        QByteArray bytes;
        const char *message; // empty: accepted
    };
    const QByteArray good = readFile(clipfix::tinyModel());
    const std::vector<Case> cases = {
        {"fixture", good, ""},
        {"truncated", good.left(good.size() - 100), "inside the file"},
        {"header longer than the file", good.left(200), "header length"},
        {"not finite", editedModel({}, nanInto("visual.trunk.head.fc.weight")), "not finite"},
        {"missing key", editedModel([](QJsonObject &h) { h.remove("text.token_embedding.weight"); }), "lacks text.token_embedding.weight"},
        {"shapes disagree", editedModel([](QJsonObject &h) {
             QJsonObject t = h.value("text.ln_final.bias").toObject();
             t["shape"] = QJsonArray{8};
             t["data_offsets"] = QJsonArray{t["data_offsets"].toArray()[0], t["data_offsets"].toArray()[0].toInteger() + 32};
             h["text.ln_final.bias"] = t;
         }), "unexpected shape"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir + "/model.safetensors";
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.bytes);
        f.close();
        const std::optional<QString> error = MobileCLIPModelManager::verifyModelFile(path);
        if (!*c.message) {
            EXPECT_FALSE(error) << error->toStdString();
        } else {
            ASSERT_TRUE(error);
            EXPECT_TRUE(error->contains(c.message)) << error->toStdString();
        }
    }
}

// The swap with a failure injected at each rename: the older items come back (or, with no
// older install, nothing is left half installed); without a failure the new items are in place.
TEST(ModelInstallSwap, RestoresTheOldItemsOnAnyFailedRename)
{
    for (const bool hadOld : {true, false}) {
        const int renames = hadOld ? 6 : 3;
        for (int failAt = -1; failAt < renames; ++failAt) {
            SCOPED_TRACE(QStringLiteral("old %1, failing rename %2").arg(hadOld).arg(failAt).toStdString());
            QDir(models()).removeRecursively();
            if (hadOld) installOldModel();
            const QString staged = models() + "/.download-test/install";
            QDir().mkpath(staged);
            for (const char *name : {MobileCLIPModelManager::kImageModelName, MobileCLIPModelManager::kTextModelName,
                                     MobileCLIPModelManager::kVocabName}) {
                QFile f(staged + "/" + name);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(QByteArray("new ") + name);
            }
            int calls = 0;
            const auto error = MobileCLIPModelManager::installItems(staged, models(), [&](const QString &a, const QString &b) {
                return calls++ != failAt && QFile::rename(a, b);
            });
            EXPECT_EQ(bool(error), failAt >= 0);
            if (failAt < 0) {
                EXPECT_EQ(calls, renames);
                EXPECT_EQ(readFile(models() + "/" + MobileCLIPModelManager::kTextModelName),
                          QByteArray("new ") + MobileCLIPModelManager::kTextModelName);
                EXPECT_TRUE(MobileCLIPModelManager::isInstalled());
            } else if (hadOld) {
                EXPECT_TRUE(oldModelIntact());
            } else {
                for (const char *name : {MobileCLIPModelManager::kImageModelName, MobileCLIPModelManager::kTextModelName,
                                         MobileCLIPModelManager::kVocabName})
                    EXPECT_FALSE(QFile::exists(models() + "/" + name)) << name;
            }
        }
    }
    QDir(models()).removeRecursively();
}

TEST(ModelVocabulary, InflatesAndCountsMerges)
{
    QString error;
    const auto vocab = MobileCLIPModelManager::gunzip(readFile(clipfix::file("bpe_simple_vocab_16e6.txt.gz")), &error);
    ASSERT_TRUE(vocab) << error.toStdString();
    EXPECT_GE(MobileCLIPModelManager::countMergeLines(*vocab), MobileCLIPModelManager::kRequiredMergeLines);
    EXPECT_FALSE(MobileCLIPModelManager::gunzip("not gzip at all", &error));
    EXPECT_TRUE(error.startsWith(L10n::text("ai.gzipDamaged"))) << error.toStdString();
}

// A small gzip of a huge run of zeros stops at the cap with its reason, not at the memory's end.
TEST(ModelVocabulary, RefusesAStreamThatInflatesPastTheCap)
{
    const QString path = lktest::sandboxRoot() + "/zeros.gz";
    ASSERT_EQ(lktest::runProgram("sh", {"-c", "head -c 200000000 /dev/zero | gzip -1 > '" + path + "'"}), 0);
    const QByteArray bomb = readFile(path);
    ASSERT_GT(bomb.size(), 1000);
    ASSERT_LT(bomb.size(), 1 << 20);
    QString error;
    EXPECT_FALSE(MobileCLIPModelManager::gunzip(bomb, &error));
    EXPECT_TRUE(error.contains("more than 16 MB")) << error.toStdString();
}

TEST(ModelDownloadSize, TextsGiveTheSizeOfTheModelFile)
{
    // The prompt, the button and the banner tell the user what the download costs: the model
    // file's size in whole megabytes, in every language.
    const qint64 bytes = MobileCLIPModelManager::downloadFiles().front().approxBytes;
    const QString size = QString::number(qRound64(double(bytes) / 1e6)) + " MB";
    for (const AppLanguage language : {AppLanguage::en, AppLanguage::ja, AppLanguage::de})
        for (const char *key : {"ai.downloadPrompt", "ai.downloadBtn", "ai.bannerNeedModel"}) {
            const QString text = L10n::text(QString::fromLatin1(key), language);
            EXPECT_TRUE(text.contains(size)) << key << " " << int(language) << ": " << text.toStdString();
        }
}

} // namespace
