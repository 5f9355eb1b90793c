#pragma once

// Shared visual building blocks: colours for the light and dark scheme, the symbol icons,
// and the small badges and icon button every window composes.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <optional>

class QPainter;
class QPainterPath;

enum class ColorScheme { light, dark };

// Colours of one scheme. A themed view makes one from its widget each time it paints, so
// a change of scheme needs no rebuild of the view's data.
class LinearPalette {
public:
    ColorScheme scheme = ColorScheme::light;

    LinearPalette() = default;
    explicit LinearPalette(ColorScheme s) : scheme(s) {}
    // The scheme a widget is drawn in, from the lightness of its window colour.
    static LinearPalette of(const QWidget *widget);
    static LinearPalette of(const QPalette &palette);

    bool isDark() const { return scheme == ColorScheme::dark; }
    QColor pick(const QColor &dark, const QColor &light) const { return isDark() ? dark : light; }
    // White at `darkOpacity` in the dark scheme, black at `lightOpacity` in the light one.
    QColor neutral(double darkOpacity, double lightOpacity) const;
    // The accent at 0.18 (dark) or 0.11 (light): selected rows, active buttons and formats.
    QColor accentFill() const;

    QColor hoverFill() const { return neutral(0.06, 0.045); }
    QColor keycapFill() const { return neutral(0.06, 0.045); }
    QColor formatBadgeFill() const { return neutral(0.08, 0.055); }
    QColor destructiveHoverFill() const;
    QColor guideLine() const { return neutral(0.11, 0.10); }

    QColor label() const;
    QColor secondaryLabel() const;
    QColor tertiaryLabel() const;
    QColor separator() const;
    QColor windowBackground() const;
    // Behind text fields and thumbnails (the palette's base colour).
    QColor controlBackground() const;
    // The desktop's highlight colour.
    QColor accent() const;

    QColor systemBlue() const;
    QColor systemTeal() const;
    QColor systemOrange() const;
    QColor systemIndigo() const;
    QColor systemPink() const;
    QColor systemRed() const;
    QColor systemGreen() const;
};

// The tint of a file format (sidebar format rows, storage insights); case is ignored.
QColor formatBadgeTint(const QString &extension, const LinearPalette &palette = LinearPalette());

namespace LinearTheme {
// Registers the icon resources and picks the icon theme; safe to call more than once.
void initialize();
// The font of `size` logical pixels (the sizes the layouts are written in).
enum class Design { standard, monospaced, rounded };
QFont font(qreal size, QFont::Weight weight = QFont::Normal, Design design = Design::standard);

// Symbol icons by their symbol name ("folder.fill", "xmark", ...): a freedesktop theme
// icon where the theme has a fitting one, otherwise one of our own drawings.
QIcon symbol(const QString &name);
// The symbol in one colour, `size` logical pixels square.
QPixmap symbolPixmap(const QString &name, qreal size, const QColor &color, qreal devicePixelRatio = 1.0);
void drawSymbol(QPainter &painter, const QRectF &rect, const QString &name, const QColor &color);
// Whether a symbol name is known (tests make sure every used name draws something).
bool hasSymbol(const QString &name);

// Rounded rectangle with the given corner radius (the continuous corners of the design).
QPainterPath roundedRect(const QRectF &rect, qreal radius);

// The palettes of our own light and dark appearance; the accent stays the desktop's.
QPalette palette(ColorScheme scheme);
// Applies a preferred scheme to a top-level window (and everything inside it); no value
// lets the window follow the desktop again.
void applyColorScheme(QWidget *window, std::optional<ColorScheme> preferred);
} // namespace LinearTheme

// A translucent fill standing in for the other platform's materials (no blur). It fills
// the space it is given and looks flatter while its window is not the active one.
class VisualEffectBackground : public QWidget {
    Q_OBJECT
public:
    enum class Material { sidebar, regular, hud };
    explicit VisualEffectBackground(Material material = Material::sidebar, QWidget *parent = nullptr);
    Material material() const { return m_material; }
    void setMaterial(Material material);
    // The fill for a material in a scheme; `active` is the window's active state.
    static QColor fill(Material material, const LinearPalette &palette, bool active = true);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    Material m_material;
};

// A file-format badge: the extension verbatim ("VID" when empty) on a faint rounded fill.
class FormatBadge : public QWidget {
    Q_OBJECT
public:
    explicit FormatBadge(const QString &ext = {}, QWidget *parent = nullptr);
    void setExt(const QString &ext);
    QString ext() const { return m_ext; }
    QString displayText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_ext;
};

// A key or shortcut label drawn as a small key cap.
class KeycapBadge : public QWidget {
    Q_OBJECT
public:
    explicit KeycapBadge(const QString &text = {}, QWidget *parent = nullptr);
    void setText(const QString &text);
    QString text() const { return m_text; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
};

// A square 26 × 26 icon button with hover, active and destructive looks. `clicked()`
// is its action; Space and Return press it while it has the keyboard focus.
class LinearIconButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit LinearIconButton(const QString &systemName, const QString &tooltip = {}, QWidget *parent = nullptr);

    QString systemName() const { return m_systemName; }
    void setSystemName(const QString &name);
    bool isActive() const { return m_active; }
    void setActive(bool active);
    bool isDestructive() const { return m_destructive; }
    void setDestructive(bool destructive);
    bool isHovered() const { return m_hovered; }
    // For tests and for callers that track the pointer themselves.
    void setHovered(bool hovered);

    // The colours the current state draws with.
    QColor foregroundColor() const;
    QColor fillColor() const; // transparent when nothing fills

    QSize sizeHint() const override { return {26, 26}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_systemName;
    bool m_active = false;
    bool m_destructive = false;
    bool m_hovered = false;
};
