#pragma once

// Small painted pieces the inspector's cards are made of. Colours are picked from the
// scheme each time they are used, so a switch between light and dark needs no rebuild.

#include "ui/LinearTheme.h"

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

#include <functional>

class QBoxLayout;
class QHBoxLayout;
class QVBoxLayout;

// Registers the inspector's own symbol drawings; safe to call more than once.
void initInspectorIcons();

using PaletteColor = std::function<QColor(const LinearPalette &)>;

// A label whose text colour follows the scheme.
class InspectorLabel : public QLabel {
    Q_OBJECT
public:
    InspectorLabel(const QString &text, const QFont &font, PaletteColor color, QWidget *parent = nullptr);
    void setColor(PaletteColor color);
    QColor currentColor() const;
    // Wraps the text and shows at most `lines` lines of it (0: no limit).
    void setMaxLines(int lines);
    int maxLines() const { return m_maxLines; }

    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColor();
    int linesHeight() const;
    PaletteColor m_color;
    bool m_applying = false;
    int m_maxLines = 0;
};

// A symbol drawn in one colour, `size` pixels square.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString &name, qreal size, PaletteColor color, QWidget *parent = nullptr);
    void setSymbol(const QString &name);
    QString symbol() const { return m_name; }
    void setColor(PaletteColor color);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_name;
    qreal m_size;
    PaletteColor m_color;
};

// Short text on a rounded fill: the engine badge and the resolution label.
class PillLabel : public QWidget {
    Q_OBJECT
public:
    PillLabel(const QFont &font, qreal padX, qreal padY, qreal radius, QWidget *parent = nullptr);
    void setText(const QString &text);
    QString text() const { return m_text; }
    void setColors(PaletteColor foreground, PaletteColor fill);
    QColor foregroundColor() const;
    QColor fillColor() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QFont m_font;
    qreal m_padX, m_padY, m_radius;
    QString m_text;
    PaletteColor m_foreground, m_fill;
};

// A rounded card: control background fill with a faint separator outline. Its layout is
// a vertical stack with the given padding and spacing.
class InspectorCard : public QWidget {
    Q_OBJECT
public:
    InspectorCard(int padding, int spacing, QWidget *parent = nullptr);
    QVBoxLayout *body() const { return m_body; }
    void setRadius(qreal radius) { m_radius = radius; update(); }
    // The full-strength separator outline (the player card) instead of the faint one.
    void setStrongOutline(bool strong) { m_strongOutline = strong; update(); }
    void setFilled(bool filled) { m_filled = filled; update(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_body;
    qreal m_radius = 8;
    bool m_strongOutline = false;
    bool m_filled = true;
};

// A one-pixel horizontal line in the separator colour.
class DividerLine : public QWidget {
    Q_OBJECT
public:
    explicit DividerLine(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A flat button that paints its own background behind a row of child widgets. The look
// is a function of the scheme and of whether the pointer is over it.
class PaintedButton : public QAbstractButton {
    Q_OBJECT
public:
    struct Look {
        PaletteColor fill;
        PaletteColor stroke; // empty: no outline
        qreal radius = 7;
        bool capsule = false;
    };
    explicit PaintedButton(QWidget *parent = nullptr);
    QHBoxLayout *row() const { return m_row; }
    void setLook(Look look);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void childEvent(QChildEvent *event) override;

private:
    QHBoxLayout *m_row;
    Look m_look;
    bool m_hovered = false;
};
