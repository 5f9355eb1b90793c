#pragma once

// One run of the model download: fetches the files of MobileCLIPModelManager::downloadFiles()
// into a staging folder inside the models directory, checks them, has the helper fuse the
// towers, and installs the three items by renames. Lives on the thread that starts it (which
// needs an event loop); the files are fetched and written on a thread of the download's own,
// and the checks and the helper run on a worker. Events arrive in order on the starting
// thread; after cancel() none arrives, and the staging folder is removed on every path.

#include "library/AppServices.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>

class ModelFetcher;
struct ModelFetcherReport;
class QThread;

class MobileCLIPModelDownload : public QObject
{
public:
    struct Options {
        // The `lumenkite-clip` program; MobileCLIPService::helperProgram() when empty.
        QString helperProgram;
        // The text tower's head count when the file does not say it (0: the helper decides).
        int textHeads = 0;
    };
    using EventSink = std::function<void(const ModelDownloadEvent &)>;

    MobileCLIPModelDownload(Options options, EventSink sink, QObject *parent = nullptr);
    ~MobileCLIPModelDownload() override;

    void start();
    void cancel();
    bool isFinished() const { return m_finished; }

    static constexpr double kDownloadShare = 0.92;
    static constexpr qint64 kReadBufferBytes = 4 << 20;
    static constexpr const char *kUserAgent = "Lumenkite/1.0 (Linux)";

private:
    void onReport(const ModelFetcherReport &report);
    void stopFetcher();
    void compileAndInstall();
    void fail(const QString &message);
    void finish();
    void emitEvent(const ModelDownloadEvent &e);

    Options m_options;
    EventSink m_sink;
    QThread *m_fetcherThread = nullptr;
    ModelFetcher *m_fetcher = nullptr; // lives in m_fetcherThread
    QString m_staging;
    bool m_finished = false;
    bool m_workerStarted = false; // the worker owns the staging folder from then on
    std::shared_ptr<std::atomic_bool> m_cancelled = std::make_shared<std::atomic_bool>(false);
};
