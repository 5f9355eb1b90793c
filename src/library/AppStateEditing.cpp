#include "AppStatePrivate.h"

#include "BookmarkService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cmath>


VideoFile AppState::enterNewFile(const VideoFile &source, const QUrl &outputURL, qint64 size,
                                 bool replacedOriginal, const std::optional<QDateTime> &created)
{
    const VideoFile fresh = videoForOutput(outputURL, size, QDateTime::currentDateTimeUtc(), created);
    LibraryChange change;
    if (replacedOriginal) {
        change.removed.insert(source.id);
        if (m_aiIndexEntries.contains(source.id)) {
            VisualIndexMap entries = m_aiIndexEntries;
            entries.remove(source.id);
            setAiIndexEntries(entries);
        }
    }
    change.appended.append(fresh);
    setAllVideos(change.applied(m_allVideos));
    QSet<QString> expanded = m_expandedFolderIDs;
    expanded.insert(fresh.directoryPath);
    setExpandedFolderIDs(expanded);
    commitLibraryChange(change);
    rebuildTree(false);
    return fresh;
}

void AppState::applyCompressionResults(const BatchCompressionResult &resultArgument)
{
    const BatchCompressionResult result = resultArgument;
    const VideoFile source = result.original;
    enterNewFile(source, result.outputURL, result.compressedBytes, result.replacedOriginal,
                 source.createdDate.value_or(QDateTime::currentDateTimeUtc()));
    // The stored facts go before anything is reloaded, so no view reads the old file's.
    refreshMediaAfterEdit(result.outputURL, result.replacedOriginal, source);
}

void AppState::applyTrimExport(const VideoFile &sourceArgument, const QUrl &outputURL, qint64 outputSize,
                               bool replacedOriginal)
{
    const VideoFile source = sourceArgument; // may refer into the library, which changes here
    const VideoFile fresh = enterNewFile(source, outputURL, outputSize, replacedOriginal,
                                         QDateTime::currentDateTimeUtc());
    // Open the new file's folder and every folder above it, so its row is visible.
    QSet<QString> expanded = m_expandedFolderIDs;
    for (QString folder = fresh.directoryPath; !folder.isEmpty();) {
        expanded.insert(folder);
        const int slash = folder.lastIndexOf('/');
        if (slash <= 0)
            break;
        folder.truncate(slash);
    }
    if (expanded != m_expandedFolderIDs) {
        setExpandedFolderIDs(expanded);
        reflatten(!trimmed(m_searchQuery).isEmpty());
    }

    const bool shown = std::any_of(m_flattenedRows.cbegin(), m_flattenedRows.cend(), [&](const TreeRow &row) {
        return row.isVideo() && row.video().id == fresh.id;
    });
    if (!shown) {
        setIsAISearchMode(false);
        setSearchQuery(QString());
        if (m_activeSmartFilter != SmartFilter::all)
            setActiveSmartFilter(SmartFilter::all);
        setActiveExtensionFilter(std::nullopt);
        rebuildTree(false);
    }
    // The stored facts go before the selection moves, so the inspector never reads the old
    // file's facts under the new file's name.
    invalidateMedia(outputURL, replacedOriginal, source);
    QMetaObject::invokeMethod(this, [this, outputURL, replacedOriginal, source] {
        refreshMediaAfterEdit(outputURL, replacedOriginal, source);
    }, Qt::QueuedConnection);
    setPrimarySelectedVideoID(fresh.id);
    setSelectedVideoIDs({fresh.id});
    setShowInspector(true);
    setVideoReloadSignal(m_videoReloadSignal + 1);

    const qint64 s = source.fileSize;
    const qint64 n = outputSize;
    QString text = fresh.name + QStringLiteral(" (") + formatByteCount(n) + QStringLiteral(")");
    if (s >= 1) {
        const double saving = double(std::max<qint64>(s - n, 0)) / double(s) * 100.0;
        const qint64 percent = std::llround(saving);
        if (percent >= 1)
            text = fresh.name + QStringLiteral(" \u00B7 ") + formatByteCount(s) + QStringLiteral(" \u2192 ") +
                   formatByteCount(n) + QStringLiteral(" (-") + QString::number(percent) + QStringLiteral("%)");
    }
    showToast(text, false, false);
}

void AppState::invalidateMedia(const QUrl &outputURL, bool replacedOriginal, const VideoFile &source)
{
    if (MediaCacheInvalidator *media = d->services.mediaCache.get()) {
        media->invalidate(outputURL);
        if (replacedOriginal)
            media->invalidate(source.url());
    }
}

void AppState::refreshMediaAfterEdit(const QUrl &outputURL, bool replacedOriginal, const VideoFile &source)
{
    invalidateMedia(outputURL, replacedOriginal, source);
    setVideoReloadSignal(m_videoReloadSignal + 1);
}

// ---- moving, trashing, deleting, undo ----
