#pragma once

// Painted pieces the tool sheets compose: symbols, push buttons, cards and dividers. Every
// colour is taken from the scheme at paint time, so a sheet follows a change of appearance
// without being rebuilt.

#include "ui/Controls.h"
#include "ui/LinearTheme.h"

#include <QAbstractButton>
#include <QWidget>

// A symbol in a fixed square, tinted with a tone.
class SheetSymbol : public QWidget {
    Q_OBJECT
public:
    SheetSymbol(const QString &name, qreal size, Tone tone, QWidget *parent = nullptr);
    QString name() const { return m_name; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_name;
    qreal m_size;
    Tone m_tone;
};

// A push button: bordered (control fill and outline), prominent (accent fill, white
// content), plain (symbol only, no fill) or the round close button of a sheet header.
class SheetButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Style { bordered, prominent, plain, closeCircle };
    SheetButton(Style style, const QString &symbol, const QString &text, QWidget *parent = nullptr);

    void setMini(bool mini);
    void setSymbolSize(qreal size) { m_symbolSize = size; updateGeometry(); update(); }
    void setSymbolTone(Tone tone) { m_symbolTone = tone; update(); }
    QString symbol() const { return m_symbol; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QFont textFont() const;
    Style m_style;
    QString m_symbol;
    qreal m_symbolSize = 12;
    Tone m_symbolTone = Tone::secondary;
    bool m_mini = false;
    bool m_hovered = false;
};

// A rounded card on the control background with a thin separator outline.
class SheetCard : public QWidget {
    Q_OBJECT
public:
    explicit SheetCard(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A one-pixel horizontal line in the separator colour.
class SheetDivider : public QWidget {
    Q_OBJECT
public:
    explicit SheetDivider(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A widget that fills itself with the window background of its scheme (the sheets' body).
class SheetBackground : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *event) override;
};
