#pragma once

#include "ui/LinearTheme.h"
#include "ui/tree/PaneStyle.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QList>
#include <QWidget>

class QTimer;

// A painted button made of glyphs and texts on an optional rounded fill and outline: the
// chips, toggles and small action buttons of the tree pane.
class PaneButton : public QAbstractButton {
    Q_OBJECT
public:
    struct Segment {
        QString glyph;   // a symbol name; empty for a text segment
        QString text;
        QFont font;
        QColor color;
        double glyphSize = 12;
    };

    explicit PaneButton(QWidget *parent = nullptr);

    void setSegments(const QList<Segment> &segments);
    const QList<Segment> &segments() const { return m_segments; }
    // The texts of the segments joined with blanks (what a reader hears).
    QString fullText() const;
    void setSpacing(double spacing);
    void setPadding(double horizontal, double vertical);
    // A radius below 0 draws a capsule.
    void setShape(QColor fill, QColor outline = Qt::transparent, double outlineWidth = 0, double radius = 6);
    void setFixedContentHeight(int height);
    void setHoverFill(QColor fill) { m_hoverFill = fill; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // The width these segments would take with this spacing and padding.
    static int naturalWidth(const QList<Segment> &segments, double spacing, double horizontalPadding);
    double spacing() const { return m_spacing; }
    double horizontalPadding() const { return m_padH; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QList<Segment> m_segments;
    double m_spacing = 5;
    double m_padH = 0, m_padV = 0;
    QColor m_fill = Qt::transparent, m_outline = Qt::transparent, m_hoverFill = Qt::transparent;
    double m_outlineWidth = 0;
    double m_radius = 6;
    int m_fixedHeight = 0;
    bool m_hovered = false;
};

// A one-line label that shortens its text with "…" when it is given less than the text's
// width, instead of cutting it off; text() keeps the whole text and the tooltip shows it
// while it is shortened.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);
    void setText(const QString &text);
    // What is drawn at the current width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateToolTip();
    Qt::TextElideMode m_mode;
};

// A small indeterminate progress spinner; it turns only while shown.
class PaneSpinner : public QWidget {
    Q_OBJECT
public:
    explicit PaneSpinner(int diameter, QWidget *parent = nullptr);
    QSize sizeHint() const override { return {m_diameter, m_diameter}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_diameter;
    int m_angle = 0;
    QTimer *m_timer;
};

// A glyph drawn in a fixed box (icons beside texts).
class PaneGlyph : public QWidget {
    Q_OBJECT
public:
    PaneGlyph(const QString &glyph, double size, QColor color, QWidget *parent = nullptr);
    QString glyph() const { return m_glyph; }
    void setGlyph(const QString &glyph, QColor color);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_glyph;
    double m_size;
    QColor m_color;
};

// A one-pixel line between the pane's sections.
class PaneDivider : public QFrame {
    Q_OBJECT
public:
    explicit PaneDivider(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Qt::Orientation m_orientation;
};

// A strip with a flat translucent fill (status strips, the permission banner).
class PaneStrip : public QWidget {
    Q_OBJECT
public:
    explicit PaneStrip(QColor fill, QWidget *parent = nullptr);
    void setFill(QColor fill);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
};

// The theme's icon button, drawing the pane's own symbols where the theme has none
// (the toolbar's merge and double-chevron symbols).
class PaneIconButton : public LinearIconButton {
    Q_OBJECT
public:
    using LinearIconButton::LinearIconButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};
