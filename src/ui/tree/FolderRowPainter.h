#pragma once

#include "library/L10n.h"
#include "library/LumenkiteBuilder.h"
#include "ui/tree/PaneStyle.h"

#include <QRectF>
#include <QString>

class AppState;
class QMenu;
class QPainter;
class QWidget;

// The folder line of the tree list, drawn by the list itself: chevron, folder icon, name,
// count capsule, hover buttons and the total size. A list of a million rows cannot hold a
// widget per row, so the list paints each row and hit-tests it with this layout.
class FolderRowPainter {
public:
    static constexpr double kHeight = 33;
    static constexpr double kSizeMinWidth = 66;

    enum class Part { none, row, moveButton, revealButton };

    struct Input {
        const TreeRow *row = nullptr;
        bool isHovered = false;
        Part hoveredPart = Part::none;
        // The chevron's turn in degrees while it animates; below 0 it follows the row.
        double chevronAngle = -1;
    };

    struct Layout {
        QRectF background, chevron, icon, name, count, moveButton, revealButton, size;
        QString nameText, countText, sizeText;
    };

    static Layout layout(const QRectF &rect, const Input &input);
    static void paint(QPainter &painter, const QRectF &rect, const Input &input, const PaneColors &colors);
    static Part hitTest(const Layout &layout, const QPointF &point);
    static QString toolTip(Part part, AppLanguage language);

    // A click anywhere but on a hover button opens or closes the folder.
    static void click(AppState &state, const VideoFolderNode &folder);
    static void moveFolderVideos(AppState &state, const VideoFolderNode &folder);
    static void reveal(const VideoFolderNode &folder);
    static QMenu *makeContextMenu(AppState &state, const VideoFolderNodePtr &folder, bool isExpanded, QWidget *parent);
};
