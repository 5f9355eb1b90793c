#pragma once

// The storage insights sheet: the library's total, its bytes by format, the heaviest
// folders and the largest videos, with hand-offs to the duplicate finder and the batch
// compressor. The figures are computed off the GUI thread whenever the library changes;
// the sheet shows the last finished result.

#include "library/AppState.h"
#include "tools/StorageStatistics.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <memory>
#include <stop_token>

class QScrollArea;
class QVBoxLayout;
class ThemedLabel;
class SheetButton;

class StorageInsightsSheetView : public QDialog {
    Q_OBJECT
public:
    explicit StorageInsightsSheetView(AppState *state, QWidget *parent = nullptr);
    ~StorageInsightsSheetView() override;

    // The figures shown now, and whether newer ones are being computed.
    const StorageStatistics &statistics() const { return m_stats; }
    bool isComputing() const { return m_computing; }

    // Shows a folder in the file manager; the desktop's by default (tests put their own).
    std::function<void(const QUrl &folder)> revealFolderHandler;

    // The actions behind the buttons.
    void dismissAction();
    void openDuplicatesAction();
    void compressLargestAction();
    void compressAction(const VideoFile &video);
    void revealVideoAction(const VideoFile &video);
    void revealFolder(const QString &path);

    // Width of a format's segment in a strip of `stripWidth`: its share of the whole library
    // (at least 1.5 %) less the 2-point gap, never under 6 points.
    static double formatSegmentWidth(qint64 bytes, qint64 libraryTotal, double stripWidth);
    // Fill of a folder bar: its bytes against the heaviest folder's, never under 8 points.
    static double folderBarWidth(qint64 bytes, qint64 folderScale, double trackWidth);

signals:
    void statisticsChanged();

private:
    void recompute();
    void applyStatistics(quint64 generation, StorageStatistics stats);
    void retitle();
    void rebuildCards();

    QPointer<AppState> m_state;
    StorageStatistics m_stats;
    bool m_computing = false;
    quint64 m_generation = 0;
    std::shared_ptr<std::stop_source> m_stop;

    ThemedLabel *m_title = nullptr;
    ThemedLabel *m_subtitle = nullptr;
    ThemedLabel *m_total = nullptr;
    ThemedLabel *m_count = nullptr;
    SheetButton *m_duplicates = nullptr;
    SheetButton *m_compressLargest = nullptr;
    SheetButton *m_done = nullptr;
    QScrollArea *m_scroll = nullptr;
};
