#pragma once

// A small library for the pane's widget tests: an application state over videos that need
// not exist on disk, and a media service whose answers the test hands out itself.

#include "library/AppState.h"
#include "ui/Availability.h"
#include "media/MediaMetadataService.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QImage>
#include <QSettings>

#include <memory>

namespace panetest {

inline VideoFile video(const QString &path, qint64 size = 40'000'000, int daysAgo = 3)
{
    const QDateTime modified = QDateTime(QDate(2026, 11, 20), QTime(12, 0), Qt::UTC).addDays(-daysAgo);
    return *VideoFile::make(path, size, modified, std::nullopt);
}

// /lib/Trips/beach.mp4, /lib/Trips/car.mkv, /lib/Trips/Old/kids.mov, /lib/Work/screen.mp4,
// /lib/Work/talk.avi under a custom scope of /lib.
inline QList<VideoFile> fixtureVideos()
{
    return {video("/lib/Trips/beach.mp4", 40'000'000), video("/lib/Trips/car.mkv", 300'000'000),
            video("/lib/Trips/Old/kids.mov", 12'000'000), video("/lib/Work/screen.mp4", 5'000'000),
            video("/lib/Work/talk.avi", 800'000'000)};
}

inline std::unique_ptr<AppState> makeState(const QList<VideoFile> &videos = fixtureVideos(),
                                           const QString &root = QStringLiteral("/lib"))
{
    // The language is read from the settings at start: keep every test in English.
    QSettings().setValue(QStringLiteral("Lumenkite.language"), QStringLiteral("en"));
    auto state = std::make_unique<AppState>();
    // As if the window had been given every sheet, so the commands that open one are enabled.
    using V = Availability::View;
    for (V v : {V::moveSheet, V::editorSheet, V::duplicatesSheet, V::batchCompressSheet, V::storageInsightsSheet,
                V::onboarding, V::commandPalette, V::settings})
        Availability::setAvailable(state.get(), v, true);
    state->setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile(root)));
    state->setAllVideos(videos);
    state->rebuildTree(true);
    return state;
}

inline qsizetype rowIndex(const AppState &state, const QString &rowID)
{
    const auto &rows = state.flattenedRows();
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows.at(i).id() == rowID)
            return i;
    return -1;
}

// Records every request and answers only when the test says so, in any order.
class ManualMediaService : public MediaMetadataService {
public:
    struct Pending {
        QUrl url;
        quint64 generation;
        ThumbnailHandler onThumbnail;
        MetadataHandler onMetadata;
    };
    ManualMediaService() : MediaMetadataService(Options{QString(), QString(), 1000, 1000, QString(), 1, 1}) {}

    MediaRequest thumbnail(const QUrl &url, const QSizeF &size, const QObject *, ThumbnailHandler onDone,
                           MediaRequestOptions options) override
    {
        lastThumbnailSize = size;
        lastPriority = options.priority;
        thumbnails.append({url, options.generation, std::move(onDone), {}});
        return {};
    }
    MediaRequest metadata(const QUrl &url, const QObject *, MetadataHandler onDone, MediaRequestOptions options) override
    {
        metadatas.append({url, options.generation, {}, std::move(onDone)});
        return {};
    }
    using MediaMetadataService::metadata;
    using MediaMetadataService::thumbnail;

    QList<Pending> thumbnails;
    QList<Pending> metadatas;
    QSizeF lastThumbnailSize;
    MediaRequestPriority lastPriority = MediaRequestPriority::background;
};

inline QImage solidImage(QColor color)
{
    QImage image(96, 56, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

} // namespace panetest
