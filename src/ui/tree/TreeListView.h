#pragma once

#include "library/LumenkiteBuilder.h"
#include "media/MediaMetadataService.h"
#include "ui/tree/FolderRowPainter.h"
#include "ui/tree/LumenkiteRowView.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QImage>
#include <QPointer>

#include <optional>
#include <vector>

class AppState;
class QMenu;
class QVariantAnimation;

// The scrolling list of the folder tree. It paints only the rows inside the viewport, finds
// rows by binary search over prefix sums of the row heights and addresses them through a
// row-id index, so a list of a million rows costs no more per frame than one of a hundred.
// Thumbnails and media facts are asked for only while a video row is visible; a row that
// leaves the view withdraws its requests.
class TreeListView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int kTopPadding = 8;
    static constexpr int kBottomPadding = 16;
    // Room for the selection bar the window lays over the bottom during a multiple selection.
    static constexpr int kMultiSelectionBottomPadding = 64;
    static constexpr int kScrollAnimationMs = 140;

    explicit TreeListView(AppState *state, QWidget *parent = nullptr);
    ~TreeListView() override;

    // Where thumbnails and facts come from; null loads nothing. The shared service unless set.
    void setMediaService(MediaMetadataService *service);
    MediaMetadataService *mediaService() const { return m_service; }

    // Shows new rows (the state's rows are followed by itself; benchmarks call this).
    void setRows(const QList<TreeRow> &rows);
    const QList<TreeRow> &rows() const { return m_rows; }

    static double rowHeight(const TreeRow &row);
    // Content coordinates: the top of a row and the height of everything.
    qint64 rowTop(qsizetype index) const;
    qint64 contentHeight() const;
    int bottomPadding() const;
    // The row under a viewport point, -1 when none.
    qsizetype rowAt(const QPoint &viewportPos) const;
    // The row's rectangle in viewport coordinates.
    QRect rowRect(qsizetype index) const;
    // By row id ("folder:<path>", "video:<id>"); -1 when no such row is shown.
    qsizetype indexOfRow(const QString &rowID) const;
    // The first and last row inside the viewport; (0, -1) when none.
    std::pair<qsizetype, qsizetype> visibleRange() const;

    // Brings a row to the middle of the viewport; nothing when the row is not shown.
    bool scrollToRow(const QString &rowID, bool animated);
    int scrollOffset() const;
    void setScrollOffset(int offset);

    // What the visible rows have loaded (for tests and the inspector's own use).
    const QImage *thumbnail(const QString &videoID) const;
    const VideoMediaInfo *mediaInfo(const QString &videoID) const;
    // Videos with requests under way or loaded results, i.e. the visible video rows.
    QStringList loadedVideoIDs() const;

    // The context menu of a row (the caller owns it); null for an index out of range.
    QMenu *makeContextMenu(qsizetype index, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    struct Load {
        QUrl url;
        quint64 generation = 0;
        MediaRequest thumbnailRequest;
        MediaRequest metadataRequest;
        std::optional<QImage> thumbnail;
        std::optional<VideoMediaInfo> mediaInfo;
    };
    // Hover and press targets: a row and a part of it (the part enums of the painters).
    struct Target {
        qsizetype index = -1;
        int part = 0;
        bool operator==(const Target &other) const = default;
    };

    void rebuildOffsets();
    void updateScrollRange();
    void syncLoads();
    void startLoad(const QString &videoID, Load &load);
    void cancelLoad(Load &load);
    void reloadAll();
    void setHover(const Target &target);
    Target targetAt(const QPoint &viewportPos) const;
    void activate(const Target &target, Qt::KeyboardModifiers modifiers);
    void updateRow(qsizetype index);
    void updateVideoRow(const QString &videoID);
    void scrollToPrimarySelection();

    AppState *m_state;
    MediaMetadataService *m_service = nullptr;
    QList<TreeRow> m_rows;
    std::vector<qint64> m_offsets; // m_offsets[i]: top of row i; the last entry ends the rows
    // Row-id index: open addressing over row numbers, keyed by the hash of the row's id;
    // built on the first look-up after the rows changed.
    mutable std::vector<qint32> m_idSlots;
    mutable bool m_indexValid = false;
    void buildIndex() const;
    QHash<QString, Load> m_loads; // by video id
    quint64 m_nextGeneration = 1;
    Target m_hover;
    Target m_pressed;
    QVariantAnimation *m_scrollAnimation = nullptr;
    // The chevron of the folder last opened or closed turns rather than jumps.
    QVariantAnimation *m_chevronAnimation = nullptr;
    QString m_turningFolderID;
    void turnChevron(const QString &folderRowID, bool opening);

public:
    static constexpr int kChevronTurnMs = 140;
    // The angle the folder row's chevron is drawn at now; -1 when it is not turning.
    double chevronAngle(const QString &folderRowID) const;
};
