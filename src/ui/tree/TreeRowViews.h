#pragma once

// The indentation guides every tree row draws at its leading edge, and the row of a folder.

#include "ui/LinearTheme.h"
#include "library/AppState.h"
#include "library/LumenkiteBuilder.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QMenu;
class QVariantAnimation;

// One guide column per level: ancestor columns carry a line where the enclosing folder
// goes on below this row; the row's own column carries the elbow.
class TreeGuideLines : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kIndentWidth = 20;

    explicit TreeGuideLines(QWidget *parent = nullptr);
    void setRow(int depth, const QList<bool> &ancestorHasNextSibling, bool isLastInParent,
                qreal indentWidth = kIndentWidth);

    int depth() const { return m_depth; }
    qreal indentWidth() const { return m_indent; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // Width of the guides: one column per level.
    static qreal guideWidth(int depth, qreal indentWidth = kIndentWidth) { return depth * indentWidth; }
    // Whether ancestor column `column` (< depth - 1) continues a line through the row:
    // the folder at depth column + 1 that encloses the row has a following sibling.
    static bool columnHasLine(const QList<bool> &ancestorHasNextSibling, int column);
    // Draws the guides with their left edge at `origin.x()`, over `height`.
    static void paint(QPainter &painter, QPointF origin, qreal height, int depth,
                      const QList<bool> &ancestorHasNextSibling, bool isLastInParent, qreal indentWidth,
                      const LinearPalette &palette);
    // The lines drawn, for checks: vertical ancestor lines as x, and the elbow's parts.
    struct Geometry {
        QList<qreal> ancestorLineX;   // left edge of each 1-point ancestor line
        std::optional<QLineF> elbowVertical;
        std::optional<QLineF> elbowHorizontal;
    };
    static Geometry geometry(qreal height, int depth, const QList<bool> &ancestorHasNextSibling,
                             bool isLastInParent, qreal indentWidth);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_depth = 0;
    QList<bool> m_ancestors;
    bool m_isLast = false;
    qreal m_indent = kIndentWidth;
};

// The row of one folder: chevron, icon, name, count, hover buttons and size. A click
// anywhere toggles the folder; the context menu offers expand or collapse, move, reveal
// and copy path. Tab focus with Space or Return toggles it from the keyboard.
class FolderTreeRowView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 33;

    FolderTreeRowView(const TreeRow &row, AppState *state, QWidget *parent = nullptr);
    // A new row for the same view (after a toggle or a rescan).
    void setRow(const TreeRow &row);
    const TreeRow &row() const { return m_row; }
    const VideoFolderNode &folder() const { return *m_row.folderNode; }
    bool isExpanded() const { return m_row.isExpanded; }

    bool isHovered() const { return m_hovered; }
    void setHovered(bool hovered);
    // The two hover buttons (move all videos, reveal); visible only while hovered.
    LinearIconButton *moveButton() const { return m_moveButton; }
    LinearIconButton *revealButton() const { return m_revealButton; }

    // The context menu as it would open now; the caller owns it.
    QMenu *makeContextMenu(QWidget *parent = nullptr);
    // The row's actions.
    void toggle();
    void moveAllVideos();
    void reveal();
    void copyPath();

    // Text shown for the count and the size.
    QString countText() const;
    QString sizeText() const;
    // Rotation of the chevron in degrees (animates towards 90 or 0).
    qreal chevronAngle() const { return m_angle; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void layoutButtons();
    qreal sizeColumnLeft() const;

    TreeRow m_row;
    QPointer<AppState> m_state;
    bool m_hovered = false;
    qreal m_angle = 0;
    LinearIconButton *m_moveButton;
    LinearIconButton *m_revealButton;
    QVariantAnimation *m_chevronAnimation;
};
