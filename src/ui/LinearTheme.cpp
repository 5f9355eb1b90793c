#include "ui/LinearTheme.h"

#include <QApplication>
#include <QEnterEvent>
#include <QEvent>
#include <QFile>
#include <QFontDatabase>
#include <QHash>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <cmath>

// The icons live in a static library: their resource registration must be pulled in.
static void initIconResources() { Q_INIT_RESOURCE(icons); }

// ---- LinearPalette ----

LinearPalette LinearPalette::of(const QWidget *widget)
{
    return of(widget ? widget->palette() : QGuiApplication::palette());
}

LinearPalette LinearPalette::of(const QPalette &palette)
{
    return LinearPalette(palette.color(QPalette::Window).lightness() < 128 ? ColorScheme::dark : ColorScheme::light);
}

static QColor withAlpha(QColor c, double opacity)
{
    c.setAlphaF(float(opacity));
    return c;
}

QColor LinearPalette::neutral(double darkOpacity, double lightOpacity) const
{
    return isDark() ? withAlpha(Qt::white, darkOpacity) : withAlpha(Qt::black, lightOpacity);
}

QColor LinearPalette::accentFill() const { return withAlpha(accent(), isDark() ? 0.18 : 0.11); }
QColor LinearPalette::destructiveHoverFill() const { return withAlpha(systemRed(), isDark() ? 0.16 : 0.10); }

QColor LinearPalette::label() const { return pick(withAlpha(Qt::white, 0.85), withAlpha(Qt::black, 0.85)); }
QColor LinearPalette::secondaryLabel() const { return pick(withAlpha(Qt::white, 0.55), withAlpha(Qt::black, 0.50)); }
QColor LinearPalette::tertiaryLabel() const { return pick(withAlpha(Qt::white, 0.28), withAlpha(Qt::black, 0.28)); }
QColor LinearPalette::separator() const { return pick(withAlpha(Qt::white, 0.12), withAlpha(Qt::black, 0.11)); }
QColor LinearPalette::windowBackground() const { return pick(QColor(0x26, 0x26, 0x28), QColor(0xf3, 0xf3, 0xf5)); }
QColor LinearPalette::controlBackground() const { return pick(QColor(0x1e, 0x1e, 0x20), QColor(0xff, 0xff, 0xff)); }

QColor LinearPalette::accent() const
{
    // Our own palettes keep the desktop's highlight, so the application palette has it.
    QColor c = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    if (!c.isValid() || c.saturation() < 20) c = pick(QColor(0x0a, 0x84, 0xff), QColor(0x00, 0x7a, 0xff));
    return c;
}

QColor LinearPalette::systemBlue() const { return pick(QColor(0x0a, 0x84, 0xff), QColor(0x00, 0x7a, 0xff)); }
QColor LinearPalette::systemTeal() const { return pick(QColor(0x40, 0xc8, 0xe0), QColor(0x30, 0xb0, 0xc7)); }
QColor LinearPalette::systemOrange() const { return pick(QColor(0xff, 0x9f, 0x0a), QColor(0xff, 0x95, 0x00)); }
QColor LinearPalette::systemIndigo() const { return pick(QColor(0x5e, 0x5c, 0xe6), QColor(0x58, 0x56, 0xd6)); }
QColor LinearPalette::systemPink() const { return pick(QColor(0xff, 0x37, 0x5f), QColor(0xff, 0x2d, 0x55)); }
QColor LinearPalette::systemRed() const { return pick(QColor(0xff, 0x45, 0x3a), QColor(0xff, 0x3b, 0x30)); }
QColor LinearPalette::systemGreen() const { return pick(QColor(0x30, 0xd1, 0x58), QColor(0x28, 0xa7, 0x45)); }

QColor formatBadgeTint(const QString &extension, const LinearPalette &palette)
{
    const QString e = extension.toUpper();
    if (e == "MP4" || e == "M4V") return palette.systemBlue();
    if (e == "MOV") return palette.systemTeal();
    if (e == "MKV") return palette.systemOrange();
    if (e == "WEBM") return palette.systemIndigo();
    if (e == "AVI" || e == "WMV" || e == "FLV") return palette.systemPink();
    return palette.secondaryLabel();
}

// ---- fonts, symbols, shapes ----

namespace LinearTheme {

QFont font(qreal size, QFont::Weight weight, Design design)
{
    QFont f = design == Design::monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                                           : QApplication::font();
    // Sizes are logical pixels; point sizes keep fractional sizes exact.
    const qreal dpi = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->logicalDotsPerInchY() : 96.0;
    f.setPointSizeF(size * 72.0 / dpi);
    f.setWeight(weight);
    return f;
}

namespace {
struct SymbolSource {
    const char *theme; // freedesktop icon name, or nullptr
    const char *own;   // our drawing in the resources, or nullptr
};

const QHash<QString, SymbolSource> &symbolTable()
{
    static const QHash<QString, SymbolSource> table{
        {"checkmark", {"object-select-symbolic", "checkmark"}},
        {"checkmark.circle.fill", {nullptr, "checkmark.circle.fill"}},
        {"exclamationmark.triangle.fill", {nullptr, "exclamationmark.triangle.fill"}},
        {"xmark", {nullptr, "xmark"}},
        {"chevron.right", {nullptr, "chevron.right"}},
        {"chevron.down", {nullptr, "chevron.down"}},
        {"folder", {"folder-symbolic", "folder"}},
        {"folder.fill", {nullptr, "folder.fill"}},
        {"folder.badge.arrow.right", {nullptr, "folder.badge.arrow.right"}},
        {"folder.badge.plus", {"folder-new-symbolic", "folder.badge.plus"}},
        {"folder.badge.person.crop", {"user-home-symbolic", "folder"}},
        {"arrow.up.forward.square", {nullptr, "arrow.up.forward.square"}},
        {"arrow.down.right.and.arrow.up.left", {nullptr, "arrow.down.right.and.arrow.up.left"}},
        {"trash", {"user-trash-symbolic", "trash"}},
        {"internaldrive", {"drive-harddisk-symbolic", "internaldrive"}},
        {"externaldrive", {"drive-removable-media-symbolic", "internaldrive"}},
        {"film.stack", {nullptr, "film.stack"}},
        {"clock", {nullptr, "clock"}},
        {"clock.arrow.circlepath", {nullptr, "clock.arrow.circlepath"}},
        {"scalemass", {nullptr, "scalemass"}},
        {"play.rectangle", {nullptr, "play.rectangle"}},
        {"doc.badge.gearshape", {nullptr, "doc.badge.gearshape"}},
        {"square.on.square.dashed", {nullptr, "square.on.square.dashed"}},
        {"chart.bar.doc.horizontal", {nullptr, "chart.bar.doc.horizontal"}},
        {"arrow.clockwise", {"view-refresh-symbolic", "arrow.clockwise"}},
        {"plus.circle", {nullptr, "plus.circle"}},
        {"photo.on.rectangle.angled", {"image-x-generic-symbolic", "photo.on.rectangle.angled"}},
        {"globe", {nullptr, "globe"}},
        {"lock.shield", {nullptr, "lock.shield"}},
        {"arrow.up.right", {nullptr, "arrow.up.right"}},
        {"text.viewfinder", {nullptr, "text.viewfinder"}},
        {"arrow.down.circle", {nullptr, "arrow.down.circle"}},
        {"magnifyingglass", {"system-search-symbolic", "magnifyingglass"}},
        {"play.fill", {"media-playback-start-symbolic", "play.fill"}},
        {"pause.fill", {"media-playback-pause-symbolic", "pause.fill"}},
        {"speaker.wave.2.fill", {"audio-volume-high-symbolic", "speaker.wave.2.fill"}},
        {"speaker.slash.fill", {"audio-volume-muted-symbolic", "speaker.slash.fill"}},
        {"arrow.up.left.and.arrow.down.right", {"view-fullscreen-symbolic", "arrow.up.left.and.arrow.down.right"}},
        {"repeat", {"media-playlist-repeat-symbolic", "repeat"}},
        {"scissors", {"edit-cut-symbolic", "scissors"}},
        {"film", {"video-x-generic-symbolic", "film.stack"}},
        {"sidebar.right", {"sidebar-show-right-symbolic", "sidebar.right"}},
        {"gearshape", {"emblem-system-symbolic", "gearshape"}},
    };
    return table;
}

QIcon ownIcon(const QString &file)
{
    const QString path = ":/lumenkite/icons/" + file + ".svg";
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

void ensureIconTheme()
{
    static bool done = false;
    if (done) return;
    done = true;
    initIconResources();
    // Without a desktop session Qt knows no icon theme; Debian's default one is Adwaita.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") QIcon::setThemeName("Adwaita");
    QIcon::setFallbackThemeName("Adwaita");
}
} // namespace

void initialize() { ensureIconTheme(); }

bool hasSymbol(const QString &name) { return !symbol(name).isNull(); }

QIcon symbol(const QString &name)
{
    static QHash<QString, QIcon> cache;
    if (auto it = cache.constFind(name); it != cache.constEnd()) return *it;
    ensureIconTheme();
    QIcon icon;
    const auto &table = symbolTable();
    if (auto it = table.constFind(name); it != table.constEnd()) {
        // The desktop's theme first; our own drawings where it has nothing fitting.
        if (it->theme) icon = QIcon::fromTheme(it->theme);
        if (icon.isNull() && it->own) icon = ownIcon(it->own);
    } else {
        icon = ownIcon(name);
        if (icon.isNull()) icon = QIcon::fromTheme(name);
    }
    cache.insert(name, icon);
    return icon;
}

QPixmap symbolPixmap(const QString &name, qreal size, const QColor &color, qreal dpr)
{
    const int px = int(std::ceil(size * dpr));
    QPixmap out(px, px);
    out.fill(Qt::transparent);
    const QIcon icon = symbol(name);
    if (icon.isNull() || px <= 0) return out;
    {
        QPainter p(&out);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        icon.paint(&p, QRect(0, 0, px, px));
        // Symbols are one-colour shapes: keep their coverage, take the wanted colour.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(out.rect(), color);
    }
    out.setDevicePixelRatio(dpr);
    return out;
}

void drawSymbol(QPainter &painter, const QRectF &rect, const QString &name, const QColor &color)
{
    const qreal side = std::min(rect.width(), rect.height());
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap pm = symbolPixmap(name, side, color, dpr);
    const QRectF target(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter.drawPixmap(target, pm, QRectF(pm.rect()));
}

QPainterPath roundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPalette palette(ColorScheme scheme)
{
    const QColor accent = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    const LinearPalette lp(scheme);
    QPalette p;
    const bool dark = scheme == ColorScheme::dark;
    const QColor window = lp.windowBackground();
    const QColor base = lp.controlBackground();
    const QColor text = dark ? QColor(0xea, 0xea, 0xec) : QColor(0x1d, 0x1d, 0x1f);
    const QColor disabledText = dark ? QColor(0x6e, 0x6e, 0x73) : QColor(0xa1, 0xa1, 0xa6);
    const QColor button = dark ? QColor(0x3a, 0x3a, 0x3d) : QColor(0xfb, 0xfb, 0xfd);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool off = g == QPalette::Disabled;
        p.setColor(g, QPalette::Window, window);
        p.setColor(g, QPalette::WindowText, off ? disabledText : text);
        p.setColor(g, QPalette::Base, base);
        p.setColor(g, QPalette::AlternateBase, dark ? QColor(0x2a, 0x2a, 0x2d) : QColor(0xf5, 0xf5, 0xf7));
        p.setColor(g, QPalette::Text, off ? disabledText : text);
        p.setColor(g, QPalette::PlaceholderText, disabledText);
        p.setColor(g, QPalette::Button, button);
        p.setColor(g, QPalette::ButtonText, off ? disabledText : text);
        p.setColor(g, QPalette::BrightText, Qt::white);
        p.setColor(g, QPalette::ToolTipBase, dark ? QColor(0x3a, 0x3a, 0x3d) : QColor(0xff, 0xff, 0xf0));
        p.setColor(g, QPalette::ToolTipText, text);
        p.setColor(g, QPalette::Highlight, off ? disabledText : accent);
        p.setColor(g, QPalette::HighlightedText, Qt::white);
        p.setColor(g, QPalette::Link, lp.systemBlue());
        p.setColor(g, QPalette::Light, dark ? QColor(0x55, 0x55, 0x58) : Qt::white);
        p.setColor(g, QPalette::Midlight, dark ? QColor(0x48, 0x48, 0x4b) : QColor(0xe8, 0xe8, 0xea));
        p.setColor(g, QPalette::Mid, dark ? QColor(0x30, 0x30, 0x33) : QColor(0xc8, 0xc8, 0xcc));
        p.setColor(g, QPalette::Dark, dark ? QColor(0x18, 0x18, 0x1a) : QColor(0xa0, 0xa0, 0xa4));
        p.setColor(g, QPalette::Shadow, Qt::black);
    }
    return p;
}

void applyColorScheme(QWidget *window, std::optional<ColorScheme> preferred)
{
    if (!window) return;
    // A default palette resolves nothing, so the window takes the application's again.
    window->setPalette(preferred ? palette(*preferred) : QPalette());
    window->update();
}

} // namespace LinearTheme

// ---- VisualEffectBackground ----

VisualEffectBackground::VisualEffectBackground(Material material, QWidget *parent)
    : QWidget(parent), m_material(material)
{
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
}

void VisualEffectBackground::setMaterial(Material material)
{
    if (m_material == material) return;
    m_material = material;
    update();
}

QColor VisualEffectBackground::fill(Material material, const LinearPalette &palette, bool active)
{
    const bool dark = palette.isDark();
    QColor c;
    switch (material) {
    case Material::sidebar:
        c = dark ? QColor(0x2e, 0x2e, 0x31, 235) : QColor(0xe9, 0xe9, 0xed, 235);
        if (!active) c = dark ? QColor(0x2a, 0x2a, 0x2c, 240) : QColor(0xee, 0xee, 0xf0, 240);
        break;
    case Material::regular:
        c = dark ? QColor(0x32, 0x32, 0x35, 240) : QColor(0xfc, 0xfc, 0xfd, 242);
        break;
    case Material::hud:
        c = QColor(0x1c, 0x1c, 0x1e, 215);
        break;
    }
    return c;
}

void VisualEffectBackground::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const bool active = !window() || window()->isActiveWindow();
    p.fillRect(rect(), fill(m_material, LinearPalette::of(this), active));
}

void VisualEffectBackground::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

// ---- FormatBadge ----

FormatBadge::FormatBadge(const QString &ext, QWidget *parent) : QWidget(parent), m_ext(ext)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void FormatBadge::setExt(const QString &ext)
{
    if (m_ext == ext) return;
    m_ext = ext;
    updateGeometry();
    update();
}

QString FormatBadge::displayText() const { return m_ext.isEmpty() ? QStringLiteral("VID") : m_ext; }

static QFont badgeFont() { return LinearTheme::font(9.5, QFont::DemiBold, LinearTheme::Design::monospaced); }

QSize FormatBadge::sizeHint() const
{
    const QFontMetricsF fm(badgeFont());
    return QSize(int(std::ceil(fm.horizontalAdvance(displayText()) + 10)), int(std::ceil(fm.height() + 3)));
}

void FormatBadge::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    p.fillPath(LinearTheme::roundedRect(QRectF(rect()), 4), lp.formatBadgeFill());
    p.setFont(badgeFont());
    p.setPen(lp.secondaryLabel());
    p.drawText(QRectF(rect()), Qt::AlignCenter, displayText());
}

// ---- KeycapBadge ----

KeycapBadge::KeycapBadge(const QString &text, QWidget *parent) : QWidget(parent), m_text(text)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KeycapBadge::setText(const QString &text)
{
    if (m_text == text) return;
    m_text = text;
    updateGeometry();
    update();
}

static QFont keycapFont() { return LinearTheme::font(10, QFont::Medium, LinearTheme::Design::rounded); }

QSize KeycapBadge::sizeHint() const
{
    const QFontMetricsF fm(keycapFont());
    return QSize(int(std::ceil(fm.horizontalAdvance(m_text) + 10)), int(std::ceil(fm.height() + 3)));
}

void KeycapBadge::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    const QRectF r = QRectF(rect()).adjusted(0.375, 0.375, -0.375, -0.375);
    const QPainterPath path = LinearTheme::roundedRect(r, 4);
    p.fillPath(path, lp.keycapFill());
    QColor stroke = lp.separator();
    stroke.setAlphaF(stroke.alphaF() * 0.65f);
    p.setPen(QPen(stroke, 0.75, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(path);
    p.setFont(keycapFont());
    p.setPen(lp.tertiaryLabel());
    p.drawText(QRectF(rect()), Qt::AlignCenter, m_text);
}

// ---- LinearIconButton ----

LinearIconButton::LinearIconButton(const QString &systemName, const QString &tooltip, QWidget *parent)
    : QAbstractButton(parent), m_systemName(systemName)
{
    setToolTip(tooltip);
    setAccessibleName(tooltip);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::ArrowCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

void LinearIconButton::setSystemName(const QString &name)
{
    if (m_systemName == name) return;
    m_systemName = name;
    update();
}

void LinearIconButton::setActive(bool active)
{
    if (m_active == active) return;
    m_active = active;
    update();
}

void LinearIconButton::setDestructive(bool destructive)
{
    if (m_destructive == destructive) return;
    m_destructive = destructive;
    update();
}

void LinearIconButton::setHovered(bool hovered)
{
    if (m_hovered == hovered) return;
    m_hovered = hovered;
    update();
}

QColor LinearIconButton::foregroundColor() const
{
    const LinearPalette lp = LinearPalette::of(this);
    if (m_destructive && m_hovered) return lp.systemRed();
    if (m_destructive) return lp.secondaryLabel();
    if (m_active) return lp.accent();
    if (m_hovered) return lp.label();
    return lp.secondaryLabel();
}

QColor LinearIconButton::fillColor() const
{
    const LinearPalette lp = LinearPalette::of(this);
    if (m_destructive && m_hovered) return lp.destructiveHoverFill();
    if (m_active) return lp.accentFill();
    if (m_hovered) return lp.hoverFill();
    return Qt::transparent;
}

void LinearIconButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect());
    const QPainterPath path = LinearTheme::roundedRect(r, 6);
    const QColor fill = fillColor();
    if (fill.alpha() > 0) p.fillPath(path, fill);
    if (isDown()) p.fillPath(path, LinearPalette::of(this).hoverFill());
    // Symbols at 12.5 with medium weight fill about 15 pixels.
    const qreal side = 15;
    LinearTheme::drawSymbol(p, QRectF(r.center().x() - side / 2, r.center().y() - side / 2, side, side),
                            m_systemName, foregroundColor());
    if (hasFocus()) {
        QColor ring = LinearPalette::of(this).accent();
        ring.setAlphaF(0.6f);
        p.setPen(QPen(ring, 1.5));
        p.drawPath(LinearTheme::roundedRect(r.adjusted(0.75, 0.75, -0.75, -0.75), 6));
    }
}

void LinearIconButton::enterEvent(QEnterEvent *event)
{
    setHovered(true);
    QAbstractButton::enterEvent(event);
}

void LinearIconButton::leaveEvent(QEvent *event)
{
    setHovered(false);
    QAbstractButton::leaveEvent(event);
}

void LinearIconButton::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
