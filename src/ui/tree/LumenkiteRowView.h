#pragma once

#include "library/L10n.h"
#include "library/LumenkiteBuilder.h"
#include "library/Models.h"
#include "library/OnDeviceSearchTypes.h"
#include "ui/tree/PaneStyle.h"

#include <QImage>
#include <QRectF>
#include <QString>

#include <optional>

class AppState;
class QMenu;
class QPainter;
class QWidget;

// The search-match badge of a video row in visual search: symbol, percentage, best
// moment and reason.
struct SearchMatchBadge {
    QString symbol;                 // "waveform", "text.viewfinder" or "sparkle.magnifyingglass"
    QString percentText;            // "87%"
    std::optional<QString> timeText; // the best moment, when the hit has one
    QString reason;                 // may be empty
    bool operator==(const SearchMatchBadge &other) const = default;
};

// One video line of the folder tree. The list draws rows itself, so this is a painter: it
// lays out and paints one row into a rectangle and tells which of its controls lies under
// a point. Its actions act on the application state.
class LumenkiteRowView {
public:
    static constexpr double kHeight = 44;
    static constexpr double kDateMinWidth = 74;
    static constexpr double kSizeMinWidth = 66;
    static constexpr double kThumbnailWidth = 48;
    // Below this much room for the name, a name that does not fit takes the date's place.
    static constexpr double kNameRoomBeforeDateGoes = 160;
    static constexpr double kThumbnailHeight = 28;
    // Thumbnails are asked for at twice the display size.
    static QSizeF thumbnailRequestSize() { return {96, 56}; }

    // What lies under the pointer.
    enum class Part { none, row, checkbox, matchBadge, playButton, moveButton, trashButton };

    // Everything one row shows; the list fills it from the row, the state and its own
    // hover and loading state.
    struct Input {
        int depth = 0;
        QList<bool> ancestorHasNextSibling;
        bool isLastInParent = false;
        const VideoFile *video = nullptr;
        bool isSelected = false;       // in the selection, or the primary
        bool isPrimarySelection = false;
        bool isChecked = false;        // in the selection set
        bool checkboxVisible = false;
        bool isHovered = false;
        Part hoveredPart = Part::none;
        const QImage *thumbnail = nullptr; // null or a null image: the placeholder
        const VideoMediaInfo *mediaInfo = nullptr;
        AppLanguage language = AppLanguage::en;
        std::optional<SearchMatchBadge> badge;
    };

    // Where everything goes, in the row's coordinates.
    struct Layout {
        QRectF background;
        QRectF checkbox;
        QRectF thumbnail;
        QRectF name;
        QString nameText; // elided in the middle to fit
        QRectF formatBadge;
        QRectF resolution;
        QString resolutionText;
        QRectF duration;
        QString durationText;
        QRectF matchBadge;
        QRectF playButton, moveButton, trashButton; // empty unless hovered
        QRectF date;
        QString dateText;
        QRectF size;
        QString sizeText;
    };

    static Layout layout(const QRectF &rect, const Input &input);
    static void paint(QPainter &painter, const QRectF &rect, const Input &input, const PaneColors &colors);
    static Part hitTest(const Layout &layout, const QPointF &point);
    static QString toolTip(Part part, AppLanguage language);

    // The checkbox shows while hovered, in a multiple selection, or when this video is in
    // the selection.
    static bool isCheckboxVisible(bool hovered, qsizetype selectionCount, bool inSelection)
    {
        return hovered || selectionCount > 1 || inSelection;
    }
    // The badge of a hit, none unless its score is above zero.
    static std::optional<SearchMatchBadge> searchBadge(const VisualSearchHit &hit, const VideoVisualIndexEntry *entry,
                                                       AppLanguage language);
    // The English labels of an index entry by confidence (at most 8, underscores as blanks).
    static QStringList topLabels(const VideoVisualIndexEntry &entry);

    // ---- actions ----
    // Selects the video, shows the inspector and asks the player to toggle playback.
    static void playAction(AppState &state, const VideoFile &video);
    // The videos an action for this row touches: the selection when the row is part of it,
    // else the row's video alone.
    static QList<VideoFile> selectionOrRow(const AppState &state, const VideoFile &video);
    // A plain click (Ctrl toggles the video in the selection instead).
    static void click(AppState &state, const VideoFile &video, Qt::KeyboardModifiers modifiers);
    static void toggleCheckbox(AppState &state, const VideoFile &video);
    static void moveRowVideo(AppState &state, const VideoFile &video);
    static void trashRowVideo(AppState &state, const VideoFile &video);
    // The search-match badge: select and show, seeking to the best moment when there is one.
    static void showInInspector(AppState &state, const VideoFile &video);
    // The row's context menu; its actions hold copies of the video and act when chosen.
    static QMenu *makeContextMenu(AppState &state, const VideoFile &video, QWidget *parent);
};
