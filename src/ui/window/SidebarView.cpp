#include "ui/window/SidebarView.h"
#include "ui/Availability.h"
#include "ui/DesktopActions.h"
#include "ui/EngineNames.h"

#include "ui/window/ModelRemoval.h"

#include "library/AppState.h"
#include "library/L10n.h"
#include "platform/DesktopServices.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

AppLanguage languageOf(const AppState *s) { return s ? s->language() : AppLanguage::en; }

// A one-pixel rule in the separator colour.
class Divider : public QWidget {
public:
    explicit Divider(QWidget *parent = nullptr) : QWidget(parent) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), LinearPalette::of(this).separator());
    }
};

// A button drawing a rounded fill behind whatever its layout holds (format, add-folder and
// footer rows), with hover tracking and a keyboard focus ring.
class FilledRow : public QAbstractButton {
public:
    using Fill = std::function<QColor(const LinearPalette &, bool hovered)>;
    FilledRow(qreal radius, Fill fill, QWidget *parent = nullptr) : QAbstractButton(parent), m_radius(radius), m_fill(std::move(fill))
    {
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(100, 26); }
    QSize minimumSizeHint() const override { return layout() ? layout()->minimumSize() : QSize(40, 26); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        const QPainterPath shape = LinearTheme::roundedRect(QRectF(rect()), m_radius);
        if (m_fill) {
            const QColor c = m_fill(lp, underMouse() && isEnabled());
            if (c.alpha() > 0) p.fillPath(shape, c);
        }
        if (isDown()) p.fillPath(shape, lp.hoverFill());
        if (hasFocus()) {
            QColor ring = lp.accent();
            ring.setAlphaF(0.6f);
            p.setPen(QPen(ring, 1.5));
            p.drawPath(LinearTheme::roundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), m_radius));
        }
    }
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::HoverEnter || e->type() == QEvent::HoverLeave) update();
        return QAbstractButton::event(e);
    }
    void keyPressEvent(QKeyEvent *e) override
    {
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            click();
            return;
        }
        QAbstractButton::keyPressEvent(e);
    }

private:
    qreal m_radius;
    Fill m_fill;
};

// A symbol drawn in a fixed frame, toned by the scheme.
class SymbolView : public QWidget {
public:
    SymbolView(const QString &symbol, qreal size, Tone tone, qreal frameWidth, QWidget *parent = nullptr)
        : QWidget(parent), m_symbol(symbol), m_size(size), m_tone(tone)
    {
        setFixedSize(int(std::ceil(frameWidth)), int(std::ceil(size + 4)));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    Tone tone() const { return m_tone; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = m_size + 1.5;
        const QRectF r(width() / 2.0 - s / 2, height() / 2.0 - s / 2, s, s);
        LinearTheme::drawSymbol(p, r, m_symbol, toneColor(m_tone, LinearPalette::of(this)));
    }

private:
    QString m_symbol;
    qreal m_size;
    Tone m_tone;
};

// A filled dot of a given colour.
class Dot : public QWidget {
public:
    Dot(QColor colour, QWidget *parent = nullptr) : QWidget(parent), m_colour(colour)
    {
        setFixedSize(10, 6);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(m_colour);
        p.drawEllipse(QRectF(4, 0, 6, 6));
    }

private:
    QColor m_colour;
};

// A thin progress bar in the accent colour.
class ThinProgress : public QWidget {
public:
    explicit ThinProgress(double value, QWidget *parent = nullptr) : QWidget(parent), m_value(std::clamp(value, 0.0, 1.0))
    {
        setFixedHeight(4);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        const QRectF r = QRectF(rect());
        p.fillPath(LinearTheme::roundedRect(r, 2), lp.neutral(0.1, 0.08));
        if (m_value > 0) p.fillPath(LinearTheme::roundedRect(QRectF(0, 0, r.width() * m_value, r.height()), 2), lp.accent());
    }

private:
    double m_value;
};

// The rounded card behind the on-device search section.
class Card : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        const QRectF r = QRectF(rect()).adjusted(0.375, 0.375, -0.375, -0.375);
        p.fillPath(LinearTheme::roundedRect(r, 8), lp.neutral(0.05, 0.035));
        QColor stroke = lp.separator();
        stroke.setAlphaF(stroke.alphaF() * 0.65f);
        p.setPen(QPen(stroke, 0.75));
        p.drawPath(LinearTheme::roundedRect(r, 8));
    }
};

// A capsule with a short text (the card's status badge).
class CapsuleLabel : public QWidget {
public:
    CapsuleLabel(const QString &text, Tone tone, std::function<QColor(const LinearPalette &)> fill, QWidget *parent = nullptr)
        : QWidget(parent), m_text(text), m_tone(tone), m_fill(std::move(fill))
    {
        const QFontMetricsF fm(font9());
        setFixedSize(int(std::ceil(fm.horizontalAdvance(text) + 12)), int(std::ceil(fm.height() + 3)));
        setObjectName("ai.status");
        setAccessibleName(text);
    }
    static QFont font9() { return LinearTheme::font(9.5, QFont::Medium); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        p.fillPath(LinearTheme::roundedRect(QRectF(rect()), height() / 2.0), m_fill(lp));
        p.setFont(font9());
        p.setPen(toneColor(m_tone, lp));
        p.drawText(QRectF(rect()), Qt::AlignCenter, m_text);
    }

private:
    QString m_text;
    Tone m_tone;
    std::function<QColor(const LinearPalette &)> m_fill;
};

// The header's command-palette button: a key cap.
class KeycapButton : public QAbstractButton {
public:
    KeycapButton(const QString &text, QWidget *parent = nullptr) : QAbstractButton(parent)
    {
        auto *l = new QHBoxLayout(this);
        l->setContentsMargins(0, 0, 0, 0);
        auto *cap = new KeycapBadge(text, this);
        cap->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->addWidget(cap);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return layout()->sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!hasFocus()) return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor ring = LinearPalette::of(this).accent();
        ring.setAlphaF(0.6f);
        p.setPen(QPen(ring, 1.5));
        p.drawPath(LinearTheme::roundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 4));
    }
};

// The application's icon, drawn.
class AppIconView : public QWidget {
public:
    explicit AppIconView(QWidget *parent = nullptr) : QWidget(parent) { setFixedSize(24, 24); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QIcon icon = QApplication::windowIcon();
        if (!icon.isNull()) icon.paint(&p, rect());
    }
};

QFont rowFont(bool semibold = false) { return LinearTheme::font(12.5, semibold ? QFont::DemiBold : QFont::Normal); }

} // namespace

// ---- SidebarItemRow ----

SidebarItemRow::SidebarItemRow(const QString &icon, const QString &title, const std::optional<QString> &badge,
                               bool isSelected, QWidget *parent)
    : QAbstractButton(parent), m_icon(icon), m_badge(badge), m_selected(isSelected)
{
    setText(title);
    setAccessibleName(title);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SidebarItemRow::setTrailingAction(const QString &icon, std::function<void()> action)
{
    m_trailingIcon = icon;
    m_onTrailing = std::move(action);
    if (!m_trailing) {
        PlainButton::Look look;
        look.symbol = icon;
        look.symbolSize = 9.5;
        look.symbolTone = Tone::tertiary;
        look.padding = QMarginsF(3, 3, 3, 3);
        look.fill = [](const LinearPalette &lp, bool hovered) { return hovered ? lp.hoverFill() : QColor(Qt::transparent); };
        m_trailing = new PlainButton(look, QString(), this);
        m_trailing->setObjectName("trailingAction");
        m_trailing->setFocusPolicy(Qt::NoFocus);
        connect(m_trailing, &QAbstractButton::clicked, this, [this] {
            if (m_onTrailing) m_onTrailing();
        });
    }
    m_trailing->setVisible(m_hovered);
}

void SidebarItemRow::setHovered(bool hovered)
{
    if (m_hovered == hovered) return;
    m_hovered = hovered;
    if (m_trailing) m_trailing->setVisible(hovered && m_onTrailing);
    update();
}

bool SidebarItemRow::showsBadge() const
{
    if (m_hovered && m_trailing && m_onTrailing) return false;
    return m_badge.has_value();
}

QColor SidebarItemRow::fillColor() const
{
    const LinearPalette lp = LinearPalette::of(this);
    if (m_selected) return lp.accentFill();
    if (m_hovered) return lp.hoverFill();
    return Qt::transparent;
}

QSize SidebarItemRow::sizeHint() const
{
    const QFontMetricsF fm(rowFont(true));
    return QSize(180, int(std::ceil(std::max<qreal>(fm.height(), 16) + 11)));
}

QSize SidebarItemRow::minimumSizeHint() const { return QSize(80, sizeHint().height()); }

void SidebarItemRow::resizeEvent(QResizeEvent *event)
{
    if (m_trailing) {
        const QSize s = m_trailing->sizeHint();
        m_trailing->setGeometry(width() - 8 - s.width() + 3, (height() - s.height()) / 2, s.width(), s.height());
    }
    QAbstractButton::resizeEvent(event);
}

void SidebarItemRow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.45);
    const LinearPalette lp = LinearPalette::of(this);
    const QRectF r = QRectF(rect());
    const QPainterPath shape = LinearTheme::roundedRect(r, 6);
    const QColor fill = isEnabled() ? fillColor() : (m_selected ? lp.accentFill() : QColor(Qt::transparent));
    if (fill.alpha() > 0) p.fillPath(shape, fill);
    if (isDown()) p.fillPath(shape, lp.hoverFill());
    const qreal cy = r.center().y();
    LinearTheme::drawSymbol(p, QRectF(8, cy - 7.5, 16, 15), m_icon, m_selected ? lp.accent() : lp.secondaryLabel());
    if (showsBadge()) {
        const QFont bf = LinearTheme::font(11, QFont::Medium);
        const qreal bw = QFontMetricsF(bf).horizontalAdvance(*m_badge);
        p.setFont(bf);
        p.setPen(m_selected ? lp.accent() : lp.tertiaryLabel());
        p.drawText(QRectF(width() - 8 - bw - 1, 0, bw + 1, height()), Qt::AlignVCenter | Qt::AlignRight, *m_badge);
    }
    p.setFont(rowFont(m_selected));
    p.setPen(lp.label());
    p.drawText(titleRect(), Qt::AlignVCenter | Qt::AlignLeft, shownTitle());

    if (hasFocus()) {
        QColor ring = lp.accent();
        ring.setAlphaF(0.6f);
        p.setOpacity(1);
        p.setPen(QPen(ring, 1.5));
        p.drawPath(LinearTheme::roundedRect(r.adjusted(0.75, 0.75, -0.75, -0.75), 6));
    }
}

QRectF SidebarItemRow::titleRect() const
{
    const qreal x = 8 + 16 + 8;
    qreal right = width() - 8;
    if (showsBadge())
        right -= QFontMetricsF(LinearTheme::font(11, QFont::Medium)).horizontalAdvance(*m_badge) + 4;
    else if (m_hovered && m_trailing && m_onTrailing)
        right -= m_trailing->width() + 4;
    else
        right -= 4;
    return QRectF(x, 0, std::max<qreal>(0, right - x), height());
}

QString SidebarItemRow::shownTitle() const
{
    return QFontMetricsF(rowFont(m_selected)).elidedText(text(), Qt::ElideMiddle, titleRect().width());
}

void SidebarItemRow::enterEvent(QEnterEvent *event)
{
    setHovered(true);
    QAbstractButton::enterEvent(event);
}

void SidebarItemRow::leaveEvent(QEvent *event)
{
    setHovered(false);
    QAbstractButton::leaveEvent(event);
}

void SidebarItemRow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    // Delete removes a removable row from the keyboard, like its hover button.
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) && m_onTrailing) {
        m_onTrailing();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

// ---- SwitchToggle ----

SwitchToggle::SwitchToggle(QWidget *parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SwitchToggle::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? lp.accent() : lp.neutral(0.18, 0.14));
    p.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const qreal d = track.height() - 3;
    const qreal x = isChecked() ? track.right() - 1.5 - d : track.left() + 1.5;
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(x, track.top() + 1.5, d, d));
    if (hasFocus()) {
        QColor ring = lp.accent();
        ring.setAlphaF(0.6f);
        p.setPen(QPen(ring, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), height() / 2.0, height() / 2.0);
    }
}

// ---- SidebarView ----

SidebarView::SidebarView(AppState *state, QWidget *parent)
    : VisualEffectBackground(Material::sidebar, parent), m_state(state)
{
    setObjectName("sidebar");
    auto *body = new QVBoxLayout(this);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    m_header = buildHeader();
    body->addWidget(m_header);
    body->addWidget(new Divider(this));
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName("sidebarScroll");
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->setAutoFillBackground(false);
    styleScrollBar();
    body->addWidget(m_scroll, 1);
    body->addWidget(new Divider(this));
    auto *footerHost = new QWidget(this);
    m_footerHost = new QVBoxLayout(footerHost);
    m_footerHost->setContentsMargins(0, 0, 0, 0);
    body->addWidget(footerHost);

    m_modelRemover = defaultModelRemover();

    rebuild();
    if (!state) return;
    const auto later = [this] { scheduleRebuild(); };
    for (auto signal : {&AppState::languageChanged, &AppState::activeScopeChanged, &AppState::externalVolumesChanged,
                        &AppState::customScopesChanged, &AppState::activeSmartFilterChanged,
                        &AppState::activeExtensionFilterChanged, &AppState::includePhotosLibraryChanged,
                        &AppState::allVideosChanged, &AppState::extensionCountsChanged, &AppState::totalVideoBytesChanged,
                        &AppState::deniedFoldersChanged, &AppState::isLoadingLibraryChanged,
                        &AppState::isDownloadingAIModelChanged,
                        &AppState::aiModelDownloadProgressChanged, &AppState::aiModelDownloadStageChanged,
                        &AppState::aiModelDownloadErrorChanged, &AppState::isMobileCLIPInstalledChanged, &AppState::aiModelInstalledSizeTextChanged,
                        &AppState::aiEngineStatusChanged, &AppState::isAIIndexingChanged, &AppState::aiETATextChanged,
                        &AppState::aiVideosPerSecondChanged, &AppState::aiSkippedICloudCountChanged,
                        &AppState::aiSkippedUnreadableCountChanged, &AppState::indexedVideoCountChanged,
                        &AppState::aiIndexEntriesChanged})
        connect(state, signal, this, later);
}

bool SidebarView::isCaptureMode() { return qEnvironmentVariableIsSet("LUMENKITE_CAPTURE_DIR"); }

std::optional<int> SidebarView::smartFilterCount(SmartFilter filter, const QList<VideoFile> &videos, const QDateTime &now)
{
    if (videos.isEmpty()) return std::nullopt;
    if (filter == SmartFilter::all) return int(videos.size());
    const QDateTime since = now.addDays(-30);
    // Compared as instants: a local-time date converted anew for each video would read the
    // time zone database 200,000 times.
    const qint64 sinceMs = since.isValid() ? since.toMSecsSinceEpoch() : 0;
    int n = 0;
    for (const VideoFile &v : videos) {
        bool match = false;
        switch (filter) {
        case SmartFilter::all: match = true; break;
        case SmartFilter::recent: match = !since.isValid() || v.modifiedDate.toMSecsSinceEpoch() >= sinceMs; break;
        case SmartFilter::largeFiles: match = v.fileSize >= AppState::kLargeFileBytes; break;
        case SmartFilter::nativeFormats: match = v.isNativeFormat(); break;
        case SmartFilter::otherFormats: match = !v.isNativeFormat(); break;
        }
        n += match;
    }
    return n;
}

std::optional<int> SidebarView::smartFilterCount(SmartFilter filter) const
{
    return m_state ? m_state->smartFilterCount(filter) : std::nullopt;
}

static QString rootPathOf(const ScanScope &scope)
{
    const std::optional<QUrl> root = scope.rootURL();
    if (!root) return {};
    return standardizedPath(root->toLocalFile());
}

QList<ScanScope> SidebarView::sourceScopes() const
{
    QList<ScanScope> out;
    if (!m_state) return out;
    if (!isCaptureMode()) out << ScanScope::homeDirectory() << ScanScope::entireMacDeep();
    QSet<QString> customRoots;
    for (const ScanScope &s : m_state->customScopes()) {
        out << s;
        const QString root = rootPathOf(s);
        if (!root.isEmpty()) customRoots.insert(root);
    }
    for (const ScanScope &v : m_state->externalVolumes()) {
        const QString root = rootPathOf(v);
        if (!root.isEmpty() && customRoots.contains(root)) continue;
        out << v;
    }
    return out;
}

void SidebarView::scheduleRebuild()
{
    if (m_rebuildPending) return;
    m_rebuildPending = true;
    QTimer::singleShot(0, this, [this] {
        if (m_rebuildPending) rebuild();
    });
}

void SidebarView::styleScrollBar()
{
    // A slim bar in the scheme's neutral colours instead of the style's wide one.
    const LinearPalette lp = LinearPalette::of(this);
    const QColor handle = lp.neutral(0.22, 0.22);
    m_scroll->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 1px 2px 0; }"
                       "QScrollBar::handle:vertical { background: %1; border-radius: 3px; min-height: 24px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
            .arg(handle.name(QColor::HexArgb)));
}

void SidebarView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_scroll) styleScrollBar();
    VisualEffectBackground::changeEvent(event);
}

void SidebarView::rebuild()
{
    m_rebuildPending = false;
    // Keep the keyboard focus and the scroll position across the rebuild.
    QString focused;
    if (QWidget *f = QApplication::focusWidget(); f && isAncestorOf(f)) focused = f->objectName();
    const int scrollY = m_scroll->verticalScrollBar()->value();

    auto *content = new QWidget;
    content->setObjectName("sidebarContent");
    content->setAutoFillBackground(false);
    auto *col = new QVBoxLayout(content);
    col->setContentsMargins(10, 12, 10, 12);
    col->setSpacing(18);

    const AppLanguage lang = languageOf(m_state);
    PlainButton::Look refreshLook;
    refreshLook.symbol = "arrow.clockwise";
    refreshLook.symbolSize = 10.5;
    refreshLook.symbolTone = Tone::secondary;
    refreshLook.padding = QMarginsF(3.5, 3.5, 3.5, 3.5);
    refreshLook.fill = [](const LinearPalette &lp, bool h) { return h ? lp.hoverFill() : QColor(Qt::transparent); };
    auto *refresh = new PlainButton(refreshLook);
    refresh->setObjectName("refreshSources");
    refresh->setFixedSize(20, 20);
    refresh->setToolTip(L10n::text("sidebar.refreshSources", lang));
    refresh->setAccessibleName(refresh->toolTip());
    connect(refresh, &QAbstractButton::clicked, this, &SidebarView::refreshSources);

    col->addWidget(buildSection("sidebar.sources", buildSourceRows(), refresh));
    col->addWidget(buildSection("sidebar.tools", buildToolRows()));
    col->addWidget(buildSection("sidebar.views", buildViewRows()));
    const QList<QWidget *> formats = buildFormatRows();
    if (!formats.isEmpty()) col->addWidget(buildSection("sidebar.formats", formats));
    col->addStretch(1);

    QWidget *old = m_scroll->takeWidget();
    m_scroll->setWidget(content);
    m_content = content;
    if (old) {
        old->setParent(nullptr);
        old->deleteLater();
    }

    // Header texts follow the language too.
    if (auto *palette = m_header->findChild<QAbstractButton *>("paletteButton")) palette->setToolTip("Ctrl+K");

    if (m_footer) {
        m_footer->hide();
        m_footer->setParent(nullptr);
        m_footer->deleteLater();
    }
    m_footer = buildFooter();
    m_footerHost->addWidget(m_footer);

    m_scroll->verticalScrollBar()->setValue(scrollY);
    if (!focused.isEmpty())
        if (auto *w = findChild<QWidget *>(focused); w && w->isVisibleTo(this) && w->focusPolicy() != Qt::NoFocus)
            w->setFocus(Qt::OtherFocusReason);
}

QWidget *SidebarView::buildHeader()
{
    auto *w = new QWidget(this);
    w->setObjectName("sidebarHeader");
    auto *row = new QHBoxLayout(w);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(8);
    row->addWidget(new AppIconView(w));
    row->addWidget(new ThemedLabel("Lumenkite", LinearTheme::font(13.5, QFont::DemiBold), Tone::label, w));
    row->addStretch(1);
    auto *palette = new KeycapButton("Ctrl+K", w);
    palette->setObjectName("paletteButton");
    palette->setToolTip("Ctrl+K");
    palette->setAccessibleName("Command Palette");
    palette->setEnabled(Availability::isAvailable(m_state, Availability::View::commandPalette));
    connect(palette, &QAbstractButton::clicked, this, [this] {
        if (m_state) m_state->setShowCommandPalette(true);
    });
    row->addWidget(palette);
    return w;
}

QWidget *SidebarView::buildSection(const QString &titleKey, const QList<QWidget *> &rows, QWidget *accessory)
{
    auto *section = new QWidget;
    section->setObjectName("section:" + titleKey);
    auto *col = new QVBoxLayout(section);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(3);
    auto *header = new QWidget(section);
    auto *hrow = new QHBoxLayout(header);
    hrow->setContentsMargins(8, 0, 8, 2);
    hrow->setSpacing(6);
    auto *title = new ThemedLabel(L10n::text(titleKey, languageOf(m_state)), LinearTheme::font(10.5, QFont::DemiBold),
                                  Tone::secondary, header);
    title->setObjectName("sectionTitle");
    hrow->addWidget(title);
    hrow->addStretch(1);
    if (accessory) {
        accessory->setParent(header);
        hrow->addWidget(accessory);
    }
    if (accessory) header->setFixedHeight(22);
    col->addWidget(header);
    for (QWidget *r : rows) col->addWidget(r);
    return section;
}

SidebarItemRow *SidebarView::scopeRow(const ScanScope &scope, bool removable)
{
    const AppLanguage lang = languageOf(m_state);
    QString icon, title, help;
    switch (scope.kind) {
    case ScanScope::Kind::homeDirectory:
        icon = "folder.badge.person.crop";
        title = scope.title(lang);
        help = L10n::text("scope.users.sub", lang);
        break;
    case ScanScope::Kind::entireMacDeep:
        icon = "internaldrive";
        title = L10n::text("scope.allmac", lang);
        help = L10n::text("scope.allmac.sub", lang);
        break;
    case ScanScope::Kind::volume:
        icon = "externaldrive";
        title = scope.name;
        help = scope.url.toLocalFile();
        break;
    case ScanScope::Kind::customFolder: {
        icon = "folder";
        const QString path = scope.url.toLocalFile();
        title = QDir(path).dirName();
        if (title.isEmpty() || path == "/") title = path;
        help = path;
        break;
    }
    }
    const bool selected = m_state && m_state->activeScope() == scope;
    auto *row = new SidebarItemRow(icon, title, std::nullopt, selected);
    row->setObjectName("scope:" + scope.id());
    row->setToolTip(help);
    QPointer<AppState> state = m_state;
    connect(row, &QAbstractButton::clicked, this, [state, scope] {
        if (state) state->selectScope(scope);
    });
    if (removable)
        row->setTrailingAction("xmark", [state, scope] {
            if (state) state->removeCustomScope(scope);
        });
    return row;
}

QList<QWidget *> SidebarView::buildSourceRows()
{
    QList<QWidget *> rows;
    if (!m_state) return rows;
    const AppLanguage lang = languageOf(m_state);
    for (const ScanScope &s : sourceScopes()) rows << scopeRow(s, s.kind == ScanScope::Kind::customFolder);

    auto *add = new FilledRow(6, [](const LinearPalette &lp, bool h) { return h ? lp.hoverFill() : QColor(Qt::transparent); });
    add->setObjectName("addFolder");
    add->setText(L10n::text("sidebar.addFolder", lang));
    add->setAccessibleName(add->text());
    auto *addRow = new QHBoxLayout(add);
    addRow->setContentsMargins(8, 6, 8, 6);
    addRow->setSpacing(8);
    addRow->addWidget(new SymbolView("plus.circle", 12.5, Tone::secondary, 16, add));
    auto *addText = new ThemedLabel(add->text(), LinearTheme::font(12.5, QFont::Medium), Tone::secondary, add);
    addText->setAttribute(Qt::WA_TransparentForMouseEvents);
    addRow->addWidget(addText);
    addRow->addStretch(1);
    connect(add, &QAbstractButton::clicked, this, &SidebarView::addFolderAction);
    rows << add;

    // The Photos Library row: a label and a switch on a faint card.
    auto *photos = new FilledRow(7, [](const LinearPalette &lp, bool) { return lp.neutral(0.05, 0.035); });
    photos->setObjectName("photosLibrary");
    photos->setFocusPolicy(Qt::NoFocus);
    photos->setToolTip(L10n::text("sidebar.photosLibrary.help", lang));
    auto *prow = new QHBoxLayout(photos);
    prow->setContentsMargins(8, 6, 8, 6);
    prow->setSpacing(8);
    const bool on = m_state->includePhotosLibrary();
    prow->addWidget(new SymbolView("photo.on.rectangle.angled", 12.5, on ? Tone::accent : Tone::secondary, 16, photos));
    auto *ptext = new ThemedLabel(L10n::text("sidebar.photosLibrary", lang), LinearTheme::font(12.5, QFont::Medium), Tone::label, photos);
    ptext->setElideMode(Qt::ElideRight);
    ptext->setAttribute(Qt::WA_TransparentForMouseEvents);
    prow->addWidget(ptext, 1);
    prow->addSpacing(4);
    auto *toggle = new SwitchToggle(photos);
    toggle->setObjectName("photosSwitch");
    toggle->setChecked(on);
    toggle->setAccessibleName(L10n::text("sidebar.photosLibrary", lang));
    QPointer<AppState> state = m_state;
    connect(toggle, &QAbstractButton::toggled, this, [state](bool value) {
        if (state) state->setIncludePhotosLibrary(value);
    });
    connect(photos, &QAbstractButton::clicked, toggle, &QAbstractButton::toggle);
    prow->addWidget(toggle);
    auto *photosWrap = new QWidget;
    auto *pw = new QVBoxLayout(photosWrap);
    pw->setContentsMargins(0, 2, 0, 0);
    pw->addWidget(photos);
    photosWrap->setObjectName("photosLibraryRow");
    rows << photosWrap;
    return rows;
}

QList<QWidget *> SidebarView::buildToolRows()
{
    QList<QWidget *> rows;
    if (!m_state) return rows;
    const AppLanguage lang = languageOf(m_state);
    const bool empty = m_state->allVideos().isEmpty();
    QPointer<AppState> state = m_state;
    using Availability::View;
    struct Tool { const char *name, *key, *icon; View view; std::function<void()> action; };
    const Tool tools[] = {
        {"tool:duplicates", "sidebar.duplicates", "square.on.square.dashed", View::duplicatesSheet,
         [state] { if (state) state->setShowDuplicatesSheet(true); }},
        {"tool:compress", "sidebar.compress", "arrow.down.right.and.arrow.up.left", View::batchCompressSheet,
         [this] { openCompressor(); }},
        {"tool:insights", "sidebar.insights", "chart.bar.doc.horizontal", View::storageInsightsSheet,
         [state] { if (state) state->setShowStorageInsightsSheet(true); }},
    };
    for (const Tool &t : tools) {
        auto *row = new SidebarItemRow(t.icon, L10n::text(t.key, lang), std::nullopt, false);
        row->setObjectName(t.name);
        row->setEnabled(!empty && Availability::isAvailable(m_state, t.view));
        connect(row, &QAbstractButton::clicked, this, t.action);
        rows << row;
    }
    auto *wrap = new QWidget;
    auto *wl = new QVBoxLayout(wrap);
    wl->setContentsMargins(0, 4, 0, 0);
    wl->addWidget(buildAIPanel());
    rows << wrap;
    return rows;
}

QList<QWidget *> SidebarView::buildViewRows()
{
    QList<QWidget *> rows;
    if (!m_state) return rows;
    const AppLanguage lang = languageOf(m_state);
    static const QHash<SmartFilter, QString> icons{
        {SmartFilter::all, "film.stack"},          {SmartFilter::recent, "clock"},
        {SmartFilter::largeFiles, "scalemass"},    {SmartFilter::nativeFormats, "play.rectangle"},
        {SmartFilter::otherFormats, "doc.badge.gearshape"},
    };
    for (SmartFilter f : SmartFilterInfo::allCases()) {
        const std::optional<int> count = smartFilterCount(f);
        const bool selected = m_state->activeSmartFilter() == f && !m_state->activeExtensionFilter();
        auto *row = new SidebarItemRow(icons.value(f), SmartFilterInfo::title(f, lang),
                                       count ? std::optional<QString>(QString::number(*count)) : std::nullopt, selected);
        row->setObjectName("view:" + SmartFilterInfo::rawValue(f));
        connect(row, &QAbstractButton::clicked, this, [this, f] { selectSmartFilter(f); });
        rows << row;
    }
    return rows;
}

QList<QWidget *> SidebarView::buildFormatRows()
{
    QList<QWidget *> rows;
    if (!m_state) return rows;
    const QList<ExtensionCount> counts = m_state->extensionCounts();
    const LinearPalette lp = LinearPalette::of(this);
    for (qsizetype i = 0; i < counts.size() && i < kMaxFormats; ++i) {
        const QString ext = counts[i].first;
        const bool active = m_state->activeExtensionFilter() == ext;
        auto *row = new FilledRow(6, [active](const LinearPalette &p, bool h) {
            if (active) return p.accentFill();
            return h ? p.hoverFill() : QColor(Qt::transparent);
        });
        row->setObjectName("format:" + ext);
        row->setText("." + ext.toLower());
        row->setAccessibleName(row->text());
        row->setCheckable(false);
        auto *l = new QHBoxLayout(row);
        l->setContentsMargins(8, 5, 8, 5);
        l->setSpacing(8);
        l->addWidget(new Dot(formatBadgeTint(ext, lp), row));
        auto *name = new ThemedLabel("." + ext.toLower(),
                                     LinearTheme::font(12, active ? QFont::DemiBold : QFont::Normal, LinearTheme::Design::monospaced),
                                     active ? Tone::label : Tone::secondary, row);
        name->setObjectName("formatName");
        name->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->addWidget(name);
        l->addStretch(1);
        auto *count = new ThemedLabel(QString::number(counts[i].second), LinearTheme::font(11, QFont::Medium),
                                      active ? Tone::accent : Tone::tertiary, row);
        count->setObjectName("formatCount");
        count->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->addWidget(count);
        connect(row, &QAbstractButton::clicked, this, [this, ext, active] { toggleExtensionFilter(ext, active); });
        rows << row;
    }
    return rows;
}

QString SidebarView::downloadPercentText(double progress)
{
    return QString::number(qlonglong(std::round(progress * 100))) + "%";
}

QString SidebarView::indexSpeedText(bool isIndexing, const std::optional<QString> &eta, double vps, int skipped,
                                    AppLanguage language, bool *isSkippedLine)
{
    if (isSkippedLine) *isSkippedLine = false;
    if (isIndexing && eta) {
        // At the full model's size a video can take seconds: two digits keep 0.14/s from
        // reading as 0.1/s, or vanishing.
        if (vps >= 0.995) return QString::number(vps, 'f', 1) + QString::fromUtf8("/s · ") + *eta;
        if (vps >= 0.005) return QString::number(vps, 'f', 2) + QString::fromUtf8("/s · ") + *eta;
        return *eta;
    }
    if (skipped >= 1) {
        if (isSkippedLine) *isSkippedLine = true;
        return QString::number(skipped) + " " + L10n::text("ai.skipped", language);
    }
    return {};
}

QString SidebarView::engineLabel() const
{
    return visualSearchEngineName(m_state ? m_state->aiEngineStatus() : OnDeviceAIEngineStatus::appleVisionOnly());
}

QWidget *SidebarView::buildAIPanel()
{
    auto *card = new Card;
    card->setObjectName("ai.panel");
    auto *col = new QVBoxLayout(card);
    col->setContentsMargins(10, 10, 10, 10);
    col->setSpacing(8);
    if (!m_state) return card;
    const AppLanguage lang = languageOf(m_state);
    QPointer<AppState> state = m_state;

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(new SymbolView("text.viewfinder", 11.5, Tone::accent, 14, card));
    header->addWidget(new ThemedLabel(L10n::text("ai.title", lang), LinearTheme::font(12, QFont::DemiBold), Tone::label, card));
    header->addStretch(1);
    const bool installed = m_state->isMobileCLIPInstalled();
    header->addWidget(new CapsuleLabel(L10n::text(installed ? "ai.ready" : "ai.onDevice", lang),
                                       installed ? Tone::green : Tone::secondary, [installed](const LinearPalette &lp) {
                                           if (!installed) return lp.neutral(0.06, 0.045);
                                           QColor g = lp.systemGreen();
                                           g.setAlphaF(0.14f);
                                           return g;
                                       }, card));
    col->addLayout(header);

    const QFont small = LinearTheme::font(10.5);
    const QFont smallMedium = LinearTheme::font(10.5, QFont::Medium);
    if (m_state->isDownloadingAIModel()) {
        auto *body = new QVBoxLayout;
        body->setSpacing(5);
        auto *stage = new ThemedLabel(m_state->aiModelDownloadStage(), small, Tone::secondary, card);
        stage->setObjectName("ai.stage");
        body->addWidget(stage);
        body->addWidget(new ThinProgress(m_state->aiModelDownloadProgress(), card));
        auto *row = new QHBoxLayout;
        auto *pct = new ThemedLabel(downloadPercentText(m_state->aiModelDownloadProgress()), smallMedium, Tone::secondary, card);
        pct->setObjectName("ai.percent");
        row->addWidget(pct);
        row->addStretch(1);
        PlainButton::Look look;
        look.font = smallMedium;
        look.textTone = Tone::red;
        look.padding = QMarginsF(4, 1, 4, 1);
        look.fill = [](const LinearPalette &lp, bool h) { return h ? lp.hoverFill() : QColor(Qt::transparent); };
        auto *cancel = new PlainButton(look, L10n::text("toolbar.cancel", lang), card);
        cancel->setObjectName("ai.cancel");
        connect(cancel, &QAbstractButton::clicked, this, [state] { if (state) state->cancelAIModelDownload(); });
        row->addWidget(cancel);
        body->addLayout(row);
        col->addLayout(body);
    } else if (!installed) {
        // A failed download stays on the card with its reason until the user retries.
        const QString &error = m_state->aiModelDownloadError();
        auto *prompt = new ThemedLabel(error.isEmpty() ? L10n::text("ai.downloadPrompt", lang) : error, LinearTheme::font(11),
                                       error.isEmpty() ? Tone::secondary : Tone::red, card);
        prompt->setObjectName(error.isEmpty() ? "ai.prompt" : "ai.error");
        prompt->setWordWrap(true);
        col->addWidget(prompt);
        PlainButton::Look look;
        look.symbol = "arrow.down.circle";
        look.symbolSize = 11.5;
        look.symbolTone = Tone::label;
        look.font = LinearTheme::font(11, QFont::Medium);
        look.textTone = Tone::label;
        look.spacing = 5;
        look.padding = QMarginsF(8, 4, 8, 4);
        look.fill = [](const LinearPalette &lp, bool h) {
            QColor c = lp.accent();
            c.setAlphaF(h ? 0.32f : 0.24f);
            return c;
        };
        look.fillWidth = true;
    look.centerContent = true;
    auto *download = new PlainButton(look, L10n::text(error.isEmpty() ? "ai.downloadBtn" : "ai.retry", lang), card);
        download->setObjectName("ai.download");
        download->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        connect(download, &QAbstractButton::clicked, this, [state] { if (state) state->downloadAIModel(); });
        col->addWidget(download);
    } else {
        auto *engine = new QHBoxLayout;
        engine->setSpacing(4);
        auto *label = new ThemedLabel(engineLabel(), small, Tone::secondary, card);
        label->setObjectName("ai.engine");
        engine->addWidget(label);
        engine->addStretch(1);
        if (const auto sizeText = m_state->aiModelInstalledSizeText()) {
            PlainButton::Look look;
            look.symbol = "trash";
            look.symbolSize = 10;
            look.symbolTone = Tone::tertiary;
            look.padding = QMarginsF(2, 2, 2, 2);
            look.fill = [](const LinearPalette &lp, bool h) { return h ? lp.hoverFill() : QColor(Qt::transparent); };
            auto *remove = new PlainButton(look, QString(), card);
            remove->setObjectName("ai.remove");
            remove->setToolTip(L10n::text("ai.removeModel", lang) + " (" + *sizeText + ")");
            remove->setAccessibleName(remove->toolTip());
            connect(remove, &QAbstractButton::clicked, this, &SidebarView::removeAIModelAction);
            engine->addWidget(remove);
        }
        col->addLayout(engine);
        const int indexed = m_state->indexedVideoCount();
        const int total = int(m_state->allVideos().size());
        col->addWidget(new ThinProgress(std::min(double(indexed) / std::max(total, 1), 1.0), card));

        auto *row = new QHBoxLayout;
        auto *status = new QVBoxLayout;
        status->setSpacing(1.5);
        auto *counts = new ThemedLabel(QString::number(indexed) + " / " + QString::number(total), smallMedium, Tone::secondary, card);
        counts->setObjectName("ai.counts");
        status->addWidget(counts);
        bool skippedLine = false;
        const QString line2 = indexSpeedText(m_state->isAIIndexing(), m_state->aiETAText(), m_state->aiVideosPerSecond(),
                                             m_state->aiSkippedICloudCount() + m_state->aiSkippedUnreadableCount(), lang,
                                             &skippedLine);
        if (!line2.isEmpty()) {
            auto *l2 = new ThemedLabel(line2, LinearTheme::font(9.5), skippedLine ? Tone::tertiary : Tone::accent, card);
            l2->setObjectName("ai.speed");
            status->addWidget(l2);
        }
        row->addLayout(status);
        row->addStretch(1);
        auto *button = new QPushButton(card);
        button->setObjectName("ai.index");
        button->setFont(LinearTheme::font(10.5, QFont::Medium));
        button->setFocusPolicy(Qt::TabFocus);
        if (m_state->isAIIndexing()) {
            button->setText(L10n::text("toolbar.stop", lang));
            connect(button, &QAbstractButton::clicked, this, [state] { if (state) state->stopAIIndexing(); });
        } else {
            button->setText(L10n::text(indexed < total ? "ai.indexNow" : "ai.upToDate", lang));
            button->setEnabled(total > 0);
            connect(button, &QAbstractButton::clicked, this, [state] { if (state) state->startAIIndexingIfNeeded(); });
        }
        row->addWidget(button);
        col->addLayout(row);
    }
    return card;
}

QString SidebarView::summaryCountText() const
{
    const qsizetype n = m_state ? m_state->allVideos().size() : 0;
    if (n == 0 && m_state && m_state->isLoadingLibrary())
        return L10n::text("toolbar.loadingLibrary", languageOf(m_state));
    return QString::number(qlonglong(n)) + " " + L10n::text("toolbar.videos", languageOf(m_state));
}

QString SidebarView::summarySizeText() const { return formatByteCount(m_state ? m_state->totalVideoBytes() : 0); }

QWidget *SidebarView::buildFooter()
{
    auto *footer = new QWidget;
    footer->setObjectName("sidebarFooter");
    auto *col = new QVBoxLayout(footer);
    col->setContentsMargins(12, 12, 12, 12);
    col->setSpacing(8);
    const AppLanguage lang = languageOf(m_state);

    auto *top = new QHBoxLayout;
    auto *summary = new QVBoxLayout;
    summary->setSpacing(2);
    auto *count = new ThemedLabel(summaryCountText(), LinearTheme::font(12, QFont::DemiBold), Tone::label, footer);
    count->setObjectName("summaryCount");
    auto *size = new ThemedLabel(summarySizeText(), LinearTheme::font(11), Tone::secondary, footer);
    size->setObjectName("summarySize");
    summary->addWidget(count);
    summary->addWidget(size);
    top->addLayout(summary);
    top->addStretch(1);

    PlainButton::Look look;
    look.symbol = "globe";
    look.symbolSize = 11;
    look.symbolTone = Tone::secondary;
    look.font = LinearTheme::font(10.5, QFont::Medium);
    look.textTone = Tone::secondary;
    look.spacing = 4;
    look.padding = QMarginsF(7, 4, 7, 4);
    look.fill = [](const LinearPalette &lp, bool) { return lp.neutral(0.06, 0.045); };
    auto *langButton = new PlainButton(look, AppLanguageInfo::menuLabel(lang), footer);
    langButton->setObjectName("languageMenu");
    langButton->setToolTip(L10n::text("menu.language", lang));
    delete m_languageMenu;
    m_languageMenu = new QMenu(this);
    m_languageMenu->setObjectName("languageMenuPopup");
    for (AppLanguage l : AppLanguageInfo::allCases()) {
        QAction *a = m_languageMenu->addAction(AppLanguageInfo::menuLabel(l));
        a->setObjectName("language." + AppLanguageInfo::rawValue(l));
        if (l == lang) a->setIcon(LinearTheme::symbol("checkmark"));
        connect(a, &QAction::triggered, this, [this, l] { selectLanguage(l); });
    }
    QPointer<QMenu> menu = m_languageMenu;
    connect(langButton, &QAbstractButton::clicked, this, [menu, langButton] {
        if (menu) menu->popup(langButton->mapToGlobal(QPoint(0, langButton->height())));
    });
    top->addWidget(langButton);
    col->addLayout(top);

    PlainButton::Look fl;
    fl.symbolSize = 11;
    fl.font = LinearTheme::font(11, QFont::Medium);
    fl.textTone = Tone::secondary;
    fl.spacing = 6;
    fl.padding = QMarginsF(8, 5.5, 8, 5.5);
    fl.fillWidth = true;
    fl.fill = [](const LinearPalette &lp, bool h) { return h ? lp.neutral(0.08, 0.06) : lp.neutral(0.05, 0.04); };
    PlainButton *button;
    if (isCaptureMode()) {
        fl.symbol = "folder.badge.plus";
        fl.symbolTone = Tone::secondary;
        button = new PlainButton(fl, L10n::text("sidebar.addFolder", lang), footer);
        connect(button, &QAbstractButton::clicked, this, &SidebarView::addFolderAction);
    } else {
        fl.symbol = "lock.shield";
        fl.symbolTone = m_state && !m_state->deniedFolders().isEmpty() ? Tone::orange : Tone::secondary;
        fl.trailingSymbol = "arrow.up.right";
        fl.trailingSize = 9.5;
        fl.trailingTone = Tone::tertiary;
        button = new PlainButton(fl, L10n::text("sidebar.fullDiskAccess", lang), footer);
        connect(button, &QAbstractButton::clicked, this, &SidebarView::openFullDiskAccessSettings);
    }
    button->setObjectName("footerButton");
    button->setAccessibleName(button->text());
    col->addWidget(button);
    return footer;
}

QStringList SidebarView::formatRowExtensions() const
{
    QStringList out;
    if (!m_content) return out;
    for (QWidget *w : m_content->findChildren<QWidget *>())
        if (w->objectName().startsWith("format:")) out << w->objectName().mid(7);
    return out;
}

// ---- actions ----

void SidebarView::refreshSources()
{
    if (!m_state) return;
    m_state->setExternalVolumes(VideoScanner::mountedVolumes());
    m_state->showToast(L10n::text("sidebar.sourcesRefreshed", m_state->language()), false, false);
}

void SidebarView::openCompressor()
{
    if (!m_state) return;
    // The sidebar's row is the library-wide tool: a selection counts only when it holds
    // several videos (the first video is selected after every scan). An empty hand-over
    // means the whole library.
    const QList<VideoFile> selected = m_state->selectedVideos();
    m_state->setVideosPendingCompression(selected.size() >= 2 ? selected : QList<VideoFile>{});
    m_state->setShowBatchCompressSheet(true);
}

void SidebarView::selectSmartFilter(SmartFilter filter)
{
    if (!m_state) return;
    if (m_state->activeSmartFilter() != filter) m_state->setActiveSmartFilter(filter);
    if (m_state->activeExtensionFilter()) m_state->setActiveExtensionFilter(std::nullopt);
    m_state->refreshTree();
}

void SidebarView::toggleExtensionFilter(const QString &extension, bool isActive)
{
    if (!m_state) return;
    if (isActive) {
        m_state->setActiveExtensionFilter(std::nullopt);
    } else {
        if (m_state->activeSmartFilter() != SmartFilter::all) m_state->setActiveSmartFilter(SmartFilter::all);
        m_state->setActiveExtensionFilter(extension);
    }
    m_state->refreshTree();
}

void SidebarView::selectLanguage(AppLanguage language)
{
    if (m_state) m_state->setLanguage(language);
}

void SidebarView::openFullDiskAccessSettings()
{
    DesktopActions::openFolderPermissions(m_state);
}

void SidebarView::addFolderAction()
{
    if (m_state) m_state->addCustomFolder();
}

void SidebarView::removeAIModelAction()
{
    removeInstalledModels(m_state, m_modelRemover);
}
