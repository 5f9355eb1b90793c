#pragma once

#include "ui/tree/PaneStyle.h"

#include <QLineF>
#include <QList>
#include <QRectF>
#include <QString>

#include <optional>

class QPainter;

// Drawing pieces shared by the folder and video rows of the tree list.
namespace TreeRowPainting {

inline constexpr double kIndentWidth = 20;
inline constexpr double kRowSpacing = 1;   // between two rows of the list
inline constexpr double kIconButtonSize = 26;

// The indentation guides of a row: one `indentWidth` column per level; ancestor columns
// carry a full-height line while the enclosing folder one level deeper has a following
// sibling, and the row's own column its elbow (stopping at mid-height for a last child).
void paintGuides(QPainter &painter, const QRectF &rowRect, int depth, const QList<bool> &ancestorHasNextSibling,
                 bool isLastInParent, bool dark, double indentWidth = kIndentWidth);
// Whether ancestor column `column` of such a row draws its line.
bool guideColumnHasLine(int column, int depth, const QList<bool> &ancestorHasNextSibling);
// The lines those guides draw, with the row's left edge at x = 0.
struct GuideGeometry {
    QList<double> ancestorLineX; // left edge of each 1-point ancestor line
    std::optional<QLineF> elbowVertical;
    std::optional<QLineF> elbowHorizontal;
};
GuideGeometry guideGeometry(double height, int depth, const QList<bool> &ancestorHasNextSibling, bool isLastInParent,
                            double indentWidth = kIndentWidth);

// `text` cut to what eliding it to `width` pixels can keep, with an ellipsis where it was cut.
// Laying a text out costs its whole length though only what fits is drawn: the name of a
// folder chain tens of thousands of levels deep took long to elide at every paint.
QString shortenedForEliding(const QString &text, Qt::TextElideMode mode, double width);

// The extension badge: the text (or "VID"), semibold monospaced, on a rounded fill.
QSizeF formatBadgeSize(const QString &ext);
void paintFormatBadge(QPainter &painter, const QPointF &topLeft, const QString &ext, const PaneColors &colors);

// A square icon button in its resting or hovered look.
void paintIconButton(QPainter &painter, const QRectF &rect, const QString &symbol, bool hovered, bool active,
                     bool destructive, const PaneColors &colors);

} // namespace TreeRowPainting
