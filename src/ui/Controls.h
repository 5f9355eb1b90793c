#pragma once

// Small painted controls the window and the sidebar share: text that takes its colour from
// the scheme it is drawn in, and plain buttons made of a symbol, a text and a fill.

#include "ui/LinearTheme.h"

#include <QAbstractButton>
#include <QMarginsF>

#include <functional>

enum class Tone { label, secondary, tertiary, accent, red, green, orange };
QColor toneColor(Tone tone, const LinearPalette &palette);

class ThemedLabel : public QWidget {
    Q_OBJECT
public:
    ThemedLabel(const QString &text, const QFont &font, Tone tone, QWidget *parent = nullptr);
    QString text() const { return m_text; }
    void setText(const QString &text);
    void setTone(Tone tone);
    Tone tone() const { return m_tone; }
    // One line, shortened in the middle (or at the end) when too narrow.
    void setElideMode(Qt::TextElideMode mode);
    // Wraps onto as many lines as needed, or at most `maxLines` (0: no limit).
    void setWordWrap(bool wrap, int maxLines = 0);
    void setAlignment(Qt::Alignment alignment);
    // The one line drawn at the current width (shortened with "…" unless eliding is off).
    QString shownText() const;
    bool wordWrap() const { return m_wrap; }
    const QFont &textFont() const { return m_font; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_wrap; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    QFont m_font;
    Tone m_tone;
    Qt::TextElideMode m_elide = Qt::ElideRight;
    bool m_wrap = false;
    int m_maxLines = 0;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

// A plain-style button: [symbol] [text] [flexible space, trailing symbol] over a fill.
class PlainButton : public QAbstractButton {
    Q_OBJECT
public:
    struct Look {
        QString symbol;
        qreal symbolSize = 12;
        Tone symbolTone = Tone::secondary;
        QFont font;
        Tone textTone = Tone::label;
        QString trailingSymbol;
        qreal trailingSize = 9.5;
        Tone trailingTone = Tone::tertiary;
        qreal spacing = 6;
        QMarginsF padding;
        qreal radius = 6;
        bool circle = false;
        // Fill by scheme and hover; none draws no fill.
        std::function<QColor(const LinearPalette &, bool hovered)> fill;
        // Takes the whole width offered (a trailing symbol then sits at the right edge).
        bool fillWidth = false;
        // With fillWidth: the content sits in the middle instead of at the leading edge.
        bool centerContent = false;
    };

    explicit PlainButton(Look look, const QString &text = {}, QWidget *parent = nullptr);
    Look &look() { return m_look; }
    const Look &look() const { return m_look; }
    void setLook(const Look &look);
    void setSymbolTone(Tone tone);
    bool isHovered() const { return m_hovered; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Look m_look;
    bool m_hovered = false;
};

// Shadow under a floating card: layered translucent shapes standing in for a blur.
void paintSoftShadow(QPainter &painter, const QPainterPath &shape, qreal radius, QPointF offset, qreal opacity);
