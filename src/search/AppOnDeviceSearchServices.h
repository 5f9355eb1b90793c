#pragma once

// The on-device search services as the application state reads them: the shared CLIP
// service and the installed models, the visual index and the transcripts.

#include "library/AppServices.h"

class AppOnDeviceSearchServices : public OnDeviceSearchServices
{
public:
    bool hasMobileCLIPService() override;
    int sceneEmbeddingDimension() override;
    bool isModelInstalled() override;
    qint64 installedSizeBytes() override;
    // The index of the shared visual search service (its first use reads the file, and
    // makes the shared CLIP service the search's text encoder).
    VisualIndexMap visualIndex() override;
    // The transcripts of the shared transcript service (its first use loads the file).
    TranscriptMap transcripts() override;
    SearchHitMap visualSearch(const QString &query, const QList<VideoFile> &videos) override;
    SearchHitMap transcriptSearch(const QString &query, const QList<VideoFile> &videos) override;
    // A MobileCLIPModelDownload run on the GUI thread, deleted when it ends or is cancelled.
    std::function<void()> startModelDownload(std::function<void(const ModelDownloadEvent &)> onEvent) override;
    void reloadMobileCLIPService() override;
    std::optional<QString> removeInstalledModels() override;
    std::optional<VideoTranscriptEntry> transcribe(const VideoFile &video, AppLanguage language, QString *error) override;
    void storeTranscript(const VideoTranscriptEntry &entry) override;
    // The keyframe pipeline with the shared CLIP service and the interface language.
    VideoIndexOutcome indexVideo(const VideoFile &video, const std::function<bool()> &cancelled) override;
    // Into the shared visual search service, then a save of its whole index.
    void storeVisualIndexEntries(const QList<VideoVisualIndexEntry> &entries) override;
};
