#pragma once

// What the application state needs of services that live outside the library (media
// information, on-device search, the folder chooser). The application installs real ones;
// until it does, the defaults answer as a machine with no models and no index would.

#include "Models.h"
#include "OnDeviceSearchTypes.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// One step of a model download, in the order they happen.
struct ModelDownloadEvent {
    enum class Kind { progress, compiling, completed, failed };
    Kind kind = Kind::progress;
    double fraction = 0;        // progress: 0 to 0.92
    qint64 downloadedBytes = 0; // progress
    qint64 totalBytes = 0;      // progress
    qint64 installedBytes = 0;  // completed
    QString text;               // progress and compiling: the stage; failed: the message
};

// Drops the cached media facts and thumbnails of a file.
class MediaCacheInvalidator
{
public:
    virtual ~MediaCacheInvalidator() = default;
    // Called on the GUI thread; may hand the work to its own thread.
    virtual void invalidate(const QUrl &url) = 0;
};

// The on-device search services and the model manager, as far as the state reads them.
class OnDeviceSearchServices
{
public:
    virtual ~OnDeviceSearchServices() = default;
    // The shared image-and-text model service exists (models installed and loaded).
    virtual bool hasMobileCLIPService() { return false; }
    // The length of the scene model's image embeddings; 0 when no model is loaded or its
    // length cannot be read.
    virtual int sceneEmbeddingDimension() { return 0; }
    // The compiled models and the tokenizer vocabulary are all installed.
    virtual bool isModelInstalled() { return false; }
    // Total bytes of the regular files below the models folder.
    virtual qint64 installedSizeBytes() { return 0; }
    // The platform's on-device language model is available.
    virtual bool isSystemLanguageModelAvailable() { return false; }
    // The visual index and the transcripts held by their services; may block while the
    // services load their files, so the state calls them off the GUI thread.
    virtual VisualIndexMap visualIndex() { return {}; }
    virtual TranscriptMap transcripts() { return {}; }
    // The searches of the visual search mode, run off the GUI thread over a snapshot of
    // the library; none throws, and no index or transcripts find nothing.
    virtual SearchHitMap visualSearch(const QString &query, const QList<VideoFile> &videos) { return {}; }
    virtual SearchHitMap transcriptSearch(const QString &query, const QList<VideoFile> &videos) { return {}; }
    // Starts a model download on the GUI thread; its events arrive there, in order. The
    // function returned cancels it (no event follows). Without a downloader: one failure.
    virtual std::function<void()> startModelDownload(std::function<void(const ModelDownloadEvent &)> onEvent)
    {
        onEvent({ModelDownloadEvent::Kind::failed, 0, 0, 0, 0, QStringLiteral("No model downloader is available")});
        return [] {};
    }
    // Makes the shared image-and-text model service anew from the installed files.
    virtual void reloadMobileCLIPService() {}
    // Deletes the installed models; the error text on failure.
    virtual std::optional<QString> removeInstalledModels() { return std::nullopt; }
    // Transcribes one video's speech for the interface language (slow: called off the GUI
    // thread); the error text in *error when there is no transcript. Does not store it.
    virtual std::optional<VideoTranscriptEntry> transcribe(const VideoFile &video, AppLanguage language, QString *error)
    {
        if (error) *error = QStringLiteral("On-device speech recognition is not available");
        return std::nullopt;
    }
    // Keeps the transcript with the stored ones (saved in the background).
    virtual void storeTranscript(const VideoTranscriptEntry &entry) {}
    // Indexes one video; called off the GUI thread, several at once. `cancelled` is asked
    // between keyframes; a cancelled video gives skippedUnreadable. Never throws.
    virtual VideoIndexOutcome indexVideo(const VideoFile &video, const std::function<bool()> &cancelled)
    {
        return VideoIndexOutcome::skippedUnreadable();
    }
    // Hands entries to the visual index (none: only saves), then saves it. Called off the
    // GUI thread, one call at a time, in order.
    virtual void storeVisualIndexEntries(const QList<VideoVisualIndexEntry> &entries) {}
};

// The modal folder chooser of "add folder".
class FolderChooser
{
public:
    virtual ~FolderChooser() = default;
    // No value when the user cancels.
    virtual std::optional<QUrl> chooseFolder(const QString &title, const QString &prompt) = 0;
};
