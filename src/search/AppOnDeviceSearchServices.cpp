#include "AppOnDeviceSearchServices.h"

#include "SpeechTranscriptService.h"
#include "VisualSearchService.h"

VisualIndexMap AppOnDeviceSearchServices::visualIndex() { return VisualSearchService::shared().indexByVideoID(); }

TranscriptMap AppOnDeviceSearchServices::transcripts() { return SpeechTranscriptService::shared()->entries(); }

SearchHitMap AppOnDeviceSearchServices::visualSearch(const QString &query, const QList<VideoFile> &videos)
{
    return VisualSearchService::shared().search(query, videos);
}

SearchHitMap AppOnDeviceSearchServices::transcriptSearch(const QString &query, const QList<VideoFile> &videos)
{
    return SpeechTranscriptService::shared()->search(query, videos);
}
