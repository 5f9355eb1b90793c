#include "AppOnDeviceSearchServices.h"

#include <QCoreApplication>
#include <QPointer>

#include <mutex>

#include "MobileCLIPModelDownload.h"
#include "KeyframeIndexPipeline.h"
#include "MobileCLIPModelManager.h"
#include "MobileCLIPService.h"
#include "QueryTextEmbedder.h"
#include "SpeechTranscriptService.h"
#include "media/MediaMetadataService.h"
#include "VisualSearchService.h"

namespace {

// The shared CLIP service as the visual search's query encoder.
class CLIPQueryEmbedder : public QueryTextEmbedder
{
public:
    explicit CLIPQueryEmbedder(std::shared_ptr<MobileCLIPService> service) : m_service(std::move(service)) {}
    std::optional<std::vector<float>> textEmbedding(const QStringList &texts) override
    {
        return m_service->textEmbedding(texts);
    }

private:
    std::shared_ptr<MobileCLIPService> m_service;
};

// The shared visual search with the shared CLIP service as its query encoder. Its first use
// reads the index file, which can take seconds: that is left to the first caller (the
// background load at start), never to making the services.
VisualSearchService &sharedVisualSearch()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Asked at each search, so a model installed or removed meanwhile is followed.
        VisualSearchService::shared().setTextEmbedderProvider([]() -> std::shared_ptr<QueryTextEmbedder> {
            std::shared_ptr<MobileCLIPService> service = MobileCLIPService::shared();
            if (!service) return nullptr;
            return std::make_shared<CLIPQueryEmbedder>(std::move(service));
        });
    });
    return VisualSearchService::shared();
}

} // namespace

bool AppOnDeviceSearchServices::hasMobileCLIPService() { return MobileCLIPService::shared() != nullptr; }

int AppOnDeviceSearchServices::sceneEmbeddingDimension()
{
    const std::shared_ptr<MobileCLIPService> clip = MobileCLIPService::shared();
    return clip ? clip->imageDimension() : 0;
}
bool AppOnDeviceSearchServices::isModelInstalled() { return MobileCLIPModelManager::isInstalled(); }
qint64 AppOnDeviceSearchServices::installedSizeBytes() { return MobileCLIPModelManager::installedSizeBytes(); }

VisualIndexMap AppOnDeviceSearchServices::visualIndex() { return sharedVisualSearch().indexByVideoID(); }

TranscriptMap AppOnDeviceSearchServices::transcripts() { return SpeechTranscriptService::shared()->entries(); }

SearchHitMap AppOnDeviceSearchServices::visualSearch(const QString &query, const QList<VideoFile> &videos)
{
    return sharedVisualSearch().search(query, videos);
}

SearchHitMap AppOnDeviceSearchServices::transcriptSearch(const QString &query, const QList<VideoFile> &videos)
{
    return SpeechTranscriptService::shared()->search(query, videos);
}

std::function<void()> AppOnDeviceSearchServices::startModelDownload(std::function<void(const ModelDownloadEvent &)> onEvent)
{
    auto holder = std::make_shared<QPointer<MobileCLIPModelDownload>>();
    auto *run = new MobileCLIPModelDownload({}, [holder, onEvent](const ModelDownloadEvent &e) {
        const bool last = e.kind == ModelDownloadEvent::Kind::completed || e.kind == ModelDownloadEvent::Kind::failed;
        if (last && *holder) (*holder)->deleteLater();
        onEvent(e);
    }, QCoreApplication::instance());
    *holder = run;
    run->start();
    return [holder] {
        if (!*holder) return;
        (*holder)->cancel();
        (*holder)->deleteLater();
    };
}

void AppOnDeviceSearchServices::reloadMobileCLIPService() { MobileCLIPService::reloadShared(); }

std::optional<QString> AppOnDeviceSearchServices::removeInstalledModels()
{
    return MobileCLIPModelManager::removeInstalledModels();
}

std::optional<VideoTranscriptEntry> AppOnDeviceSearchServices::transcribe(const VideoFile &video, AppLanguage language,
                                                                         QString *error)
{
    SpeechTranscriptService::Result result =
        SpeechTranscriptService::transcribe(video, language, MediaMetadataService::ffmpegPath());
    if (auto *entry = std::get_if<VideoTranscriptEntry>(&result)) return *entry;
    if (error) *error = std::get<TranscriptError>(result).message;
    return std::nullopt;
}

void AppOnDeviceSearchServices::storeTranscript(const VideoTranscriptEntry &entry)
{
    SpeechTranscriptService::shared()->store(entry);
}

VideoIndexOutcome AppOnDeviceSearchServices::indexVideo(const VideoFile &video, const std::function<bool()> &cancelled)
{
    return KeyframeIndexPipeline::indexVideo(video, KeyframeIndexPipeline::Options::standard(), cancelled);
}

void AppOnDeviceSearchServices::storeVisualIndexEntries(const QList<VideoVisualIndexEntry> &entries)
{
    VisualSearchService &service = sharedVisualSearch();
    if (!entries.isEmpty())
        service.upsert(entries);
    service.save(service.indexByVideoID());
}
