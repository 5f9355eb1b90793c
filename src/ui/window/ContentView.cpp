#include "ui/window/ContentView.h"
#include "ui/Availability.h"
#include "ui/DesktopActions.h"

#include "ui/Controls.h"
#include "ui/window/Notifications.h"
#include "ui/window/SidebarView.h"
#include "library/AppState.h"
#include "library/L10n.h"
#include "platform/DesktopServices.h"

#include <QApplication>
#include <QDialog>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSplitter>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Room around floating cards for their shadows.
constexpr int kShadowMargin = 18;
constexpr int kOverlayInset = 18;

AppLanguage languageOf(const AppState *s) { return s ? s->language() : AppLanguage::en; }

// Moves an overlay in from (or out to) the bottom edge with a fade.
void animateOverlay(QWidget *w, QPoint restingPos, bool appearing, int durationMs, std::function<void()> done = {})
{
    auto *effect = new QGraphicsOpacityEffect(w);
    w->setGraphicsEffect(effect);
    const int bottom = w->parentWidget() ? w->parentWidget()->height() : restingPos.y() + w->height();
    const QPoint away(restingPos.x(), bottom);
    auto *move = new QPropertyAnimation(w, "pos", w);
    move->setDuration(durationMs);
    move->setEasingCurve(appearing ? QEasingCurve::OutCubic : QEasingCurve::InCubic);
    move->setStartValue(appearing ? away : w->pos());
    move->setEndValue(appearing ? restingPos : away);
    auto *fade = new QPropertyAnimation(effect, "opacity", w);
    fade->setDuration(durationMs);
    fade->setStartValue(appearing ? 0.0 : 1.0);
    fade->setEndValue(appearing ? 1.0 : 0.0);
    QObject::connect(fade, &QPropertyAnimation::finished, w, [w, appearing, done] {
        if (appearing) w->setGraphicsEffect(nullptr);
        if (done) done();
    });
    move->start(QAbstractAnimation::DeleteWhenStopped);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void fadeOutAndDelete(QWidget *w, int durationMs, bool slide)
{
    if (!w) return;
    w->setAttribute(Qt::WA_TransparentForMouseEvents);
    w->setObjectName(w->objectName() + ".leaving");
    if (slide) {
        animateOverlay(w, w->pos(), false, durationMs, [w] { w->deleteLater(); });
        return;
    }
    auto *effect = new QGraphicsOpacityEffect(w);
    w->setGraphicsEffect(effect);
    auto *fade = new QPropertyAnimation(effect, "opacity", w);
    fade->setDuration(durationMs);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    QObject::connect(fade, &QPropertyAnimation::finished, w, &QObject::deleteLater);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

PlainButton *labelButton(const QString &symbol, Tone tone, QWidget *parent)
{
    PlainButton::Look look;
    look.symbol = symbol;
    look.symbolSize = 12;
    look.symbolTone = tone;
    look.font = LinearTheme::font(12, QFont::Medium);
    look.textTone = tone;
    look.spacing = 5;
    look.padding = QMarginsF(2, 3, 2, 3);
    look.fill = [](const LinearPalette &lp, bool hovered) { return hovered ? lp.hoverFill() : QColor(Qt::transparent); };
    return new PlainButton(look, QString(), parent);
}

PlainButton *closeMark(qreal size, QWidget *parent, bool circle)
{
    PlainButton::Look look;
    look.symbol = "xmark";
    look.symbolSize = size - 2;
    look.symbolTone = Tone::tertiary;
    look.padding = circle ? QMarginsF(4, 4, 4, 4) : QMarginsF(2, 2, 2, 2);
    look.circle = circle;
    if (circle) look.fill = [](const LinearPalette &lp, bool) { return SelectionActionBar::clearButtonFill(lp); };
    return new PlainButton(look, QString(), parent);
}

void paintCard(QWidget *w, qreal radius, qreal shadowRadius, qreal shadowOffset)
{
    QPainter p(w);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(w);
    const QRectF card = QRectF(w->rect()).adjusted(kShadowMargin, kShadowMargin, -kShadowMargin, -kShadowMargin);
    const qreal r = std::min(radius, card.height() / 2);
    const QPainterPath shape = LinearTheme::roundedRect(card, r);
    paintSoftShadow(p, shape, shadowRadius, QPointF(0, shadowOffset), 0.18);
    p.fillPath(shape, VisualEffectBackground::fill(VisualEffectBackground::Material::regular, lp));
    p.setPen(QPen(lp.separator(), 0.75));
    p.drawPath(LinearTheme::roundedRect(card.adjusted(0.375, 0.375, -0.375, -0.375), r));
}
} // namespace

// ---- ToastView ----

ToastView::ToastView(AppState *state, QWidget *parent) : QWidget(parent), m_state(state)
{
    setObjectName("toast");
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(kShadowMargin + 12, kShadowMargin + 9, kShadowMargin + 12, kShadowMargin + 9);
    row->setSpacing(10);
    m_icon = new QLabel(this);
    m_icon->setFixedSize(15, 15);
    m_message = new QLabel(this);
    m_message->setObjectName("toastMessage");
    m_message->setFont(LinearTheme::font(12, QFont::Medium));
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setMaximumWidth(380);
    m_message->setMaximumHeight(QFontMetrics(m_message->font()).lineSpacing() * 2 + 2);
    auto *undo = new QPushButton(this);
    undo->setObjectName("toastUndo");
    undo->setFont(LinearTheme::font(11, QFont::Medium));
    undo->setFocusPolicy(Qt::TabFocus);
    m_undo = undo;
    m_close = closeMark(9.5, this, false);
    m_close->setObjectName("toastClose");
    row->addWidget(m_icon);
    row->addWidget(m_message, 1);
    row->addWidget(m_undo);
    row->addWidget(m_close);
    connect(m_undo, &QAbstractButton::clicked, this, [this] {
        if (m_state) m_state->undoLastOperation();
    });
    connect(m_close, &QAbstractButton::clicked, this, [this] {
        if (!m_state) return;
        // Stops the automatic dismissal before clearing, so nothing fires for it later.
        if (m_state->toastDismissTask().isValid()) m_state->toastDismissTask().cancel();
        m_state->dismissToast();
    });
    refresh();
}

QString ToastView::message() const { return m_message->text(); }

void ToastView::refresh()
{
    if (!m_state || !m_state->activeToast()) return;
    const ToastMessage &t = *m_state->activeToast();
    m_isError = t.isError;
    m_message->setText(t.message);
    // A wrapped label asks for little width on its own; a longer message takes up to the
    // full width first, so that it fits in the two lines the toast has.
    m_message->setMinimumWidth(std::min(m_message->maximumWidth(),
                                        QFontMetrics(m_message->font()).horizontalAdvance(t.message) + 2));
    m_undo->setText(L10n::text("toast.undo", m_state->language()));
    m_undo->setVisible(t.canUndo);
    const LinearPalette lp = LinearPalette::of(this);
    m_icon->setPixmap(LinearTheme::symbolPixmap(t.isError ? "exclamationmark.triangle.fill" : "checkmark.circle.fill",
                                                15, t.isError ? lp.systemRed() : lp.systemGreen(), devicePixelRatioF()));
    QPalette pal = m_message->palette();
    pal.setColor(QPalette::WindowText, lp.label());
    m_message->setPalette(pal);
    adjustSize();
}

void ToastView::paintEvent(QPaintEvent *) { paintCard(this, 10, 12, 5); }

void ToastView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange) QTimer::singleShot(0, this, &ToastView::refresh);
    QWidget::changeEvent(event);
}

// ---- SelectionActionBar ----

SelectionActionBar::SelectionActionBar(AppState *state, QWidget *parent) : QWidget(parent), m_state(state)
{
    setObjectName("selectionBar");
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(kShadowMargin + 14, kShadowMargin + 9, kShadowMargin + 14, kShadowMargin + 9);
    row->setSpacing(12);
    auto *summary = new QHBoxLayout;
    summary->setSpacing(6);
    m_count = new QLabel(this);
    m_count->setFont(LinearTheme::font(12, QFont::DemiBold));
    m_size = new QLabel(this);
    m_size->setFont(LinearTheme::font(11.5, QFont::Medium));
    summary->addWidget(m_count);
    summary->addWidget(m_size);
    row->addLayout(summary);
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFixedSize(1, 15);
    divider->setObjectName("divider");
    row->addWidget(divider);
    m_compress = labelButton("arrow.down.right.and.arrow.up.left", Tone::accent, this);
    m_move = labelButton("folder.badge.arrow.right", Tone::label, this);
    m_trash = labelButton("trash", Tone::red, this);
    m_reveal = labelButton("arrow.up.forward.square", Tone::secondary, this);
    m_clear = closeMark(10.5, this, true);
    for (QAbstractButton *b : {m_compress, m_move, m_trash, m_reveal, m_clear}) row->addWidget(b);
    connect(m_compress, &QAbstractButton::clicked, this, &SelectionActionBar::compressSelection);
    connect(m_move, &QAbstractButton::clicked, this, &SelectionActionBar::moveSelection);
    connect(m_trash, &QAbstractButton::clicked, this, &SelectionActionBar::trashSelection);
    connect(m_reveal, &QAbstractButton::clicked, this, &SelectionActionBar::revealSelection);
    connect(m_clear, &QAbstractButton::clicked, this, &SelectionActionBar::clearSelection);
    refresh();
}

QString SelectionActionBar::countText() const
{
    if (!m_state) return {};
    return QString::number(m_state->selectedVideoIDs().size()) + " " + L10n::text("sel.selected", m_state->language());
}

QString SelectionActionBar::sizeText() const
{
    if (!m_state) return {};
    qint64 total = 0;
    for (const VideoFile &v : m_state->selectedVideos()) total += v.fileSize;
    return QString::fromUtf8("· ") + formatByteCount(total);
}

void SelectionActionBar::refresh()
{
    if (!m_state) return;
    const AppLanguage lang = m_state->language();
    const LinearPalette lp = LinearPalette::of(this);
    m_count->setText(countText());
    m_size->setText(sizeText());
    QPalette pc = m_count->palette();
    pc.setColor(QPalette::WindowText, lp.label());
    m_count->setPalette(pc);
    QPalette ps = m_size->palette();
    ps.setColor(QPalette::WindowText, lp.tertiaryLabel());
    m_size->setPalette(ps);
    m_compress->setText(L10n::text("comp.action", lang));
    m_compress->setEnabled(Availability::isAvailable(m_state, Availability::View::batchCompressSheet));
    m_move->setEnabled(Availability::isAvailable(m_state, Availability::View::moveSheet));
    m_move->setText(L10n::text("inspector.move", lang));
    m_trash->setText(L10n::text("inspector.trash", lang));
    m_reveal->setToolTip(L10n::text("inspector.revealFinder", lang));
    m_reveal->setAccessibleName(m_reveal->toolTip());
    for (QAbstractButton *b : {m_compress, m_move, m_trash}) b->updateGeometry();
    adjustSize();
}

void SelectionActionBar::compressSelection()
{
    if (!m_state) return;
    m_state->setVideosPendingCompression(m_state->selectedVideos());
    m_state->setShowBatchCompressSheet(true);
}

void SelectionActionBar::moveSelection()
{
    if (!m_state) return;
    const QList<VideoFile> videos = m_state->selectedVideos();
    if (videos.isEmpty()) return;
    m_state->setVideosPendingMove(videos);
    m_state->setShowMoveSheet(true);
}

void SelectionActionBar::trashSelection()
{
    if (m_state) m_state->moveSelectedToTrash(m_state->selectedVideos());
}

void SelectionActionBar::revealSelection()
{
    if (!m_state) return;
    QList<QUrl> urls;
    for (const VideoFile &v : m_state->selectedVideos()) urls.append(v.url());
    if (!urls.isEmpty()) DesktopActions::reveal(m_state, urls);
}

void SelectionActionBar::clearSelection()
{
    if (m_state) m_state->clearSelection();
}

void SelectionActionBar::paintEvent(QPaintEvent *)
{
    paintCard(this, 1000, 14, 6);
    QPainter p(this);
    // The divider in the separator colour.
    if (auto *d = findChild<QFrame *>("divider")) p.fillRect(d->geometry(), LinearPalette::of(this).separator());
}

void SelectionActionBar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange) QTimer::singleShot(0, this, &SelectionActionBar::refresh);
    QWidget::changeEvent(event);
}

// ---- ContentView ----

struct ContentView::SheetSlot {
    const char *name;
    bool (AppState::*get)() const;
    void (AppState::*set)(bool);
    ContentViewParts::SheetFactory factory;
    QPointer<QDialog> dialog;
};

ContentView::ContentView(AppState *state, ContentViewParts parts, QWidget *parent)
    : QWidget(parent), m_state(state), m_parts(std::move(parts))
{
    setObjectName("contentView");
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(960, 620);
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName("splitter");
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(1);
    layout->addWidget(m_splitter);

    // Commands that open a view nobody supplied are shown disabled.
    using Availability::View;
    Availability::setAvailable(state, View::moveSheet, bool(m_parts.moveSheet));
    Availability::setAvailable(state, View::editorSheet, bool(m_parts.editorSheet));
    Availability::setAvailable(state, View::duplicatesSheet, bool(m_parts.duplicatesSheet));
    Availability::setAvailable(state, View::batchCompressSheet, bool(m_parts.batchCompressSheet));
    Availability::setAvailable(state, View::storageInsightsSheet, bool(m_parts.storageInsightsSheet));
    Availability::setAvailable(state, View::onboarding, bool(m_parts.onboarding));
    Availability::setAvailable(state, View::commandPalette, bool(m_parts.commandPalette));

    m_sheets = {
        new SheetSlot{"moveSheet", &AppState::showMoveSheet, &AppState::setShowMoveSheet, m_parts.moveSheet, {}},
        new SheetSlot{"duplicatesSheet", &AppState::showDuplicatesSheet, &AppState::setShowDuplicatesSheet,
                      m_parts.duplicatesSheet, {}},
        new SheetSlot{"batchCompressSheet", &AppState::showBatchCompressSheet, &AppState::setShowBatchCompressSheet,
                      m_parts.batchCompressSheet, {}},
        new SheetSlot{"storageInsightsSheet", &AppState::showStorageInsightsSheet,
                      &AppState::setShowStorageInsightsSheet, m_parts.storageInsightsSheet, {}},
        new SheetSlot{"onboarding", &AppState::showOnboarding, &AppState::setShowOnboarding, m_parts.onboarding, {}},
    };

    rebuildLayout();
    if (!state) return;
    connect(state, &AppState::isTheaterModeChanged, this, &ContentView::rebuildLayout);
    connect(state, &AppState::showInspectorChanged, this, &ContentView::rebuildLayout);
    connect(state, &AppState::selectedVideoIDsChanged, this, &ContentView::updateOverlays);
    connect(state, &AppState::selectedVideosChanged, this, &ContentView::updateOverlays);
    connect(state, &AppState::isTheaterModeChanged, this, &ContentView::updateOverlays);
    connect(state, &AppState::activeToastChanged, this, &ContentView::updateOverlays);
    connect(state, &AppState::showCommandPaletteChanged, this, &ContentView::updateOverlays);
    connect(state, &AppState::languageChanged, this, [this] {
        if (m_selectionBar) m_selectionBar->refresh();
        if (m_toast) m_toast->refresh();
        placeOverlays();
    });
    connect(state, &AppState::appearanceChanged, this, &ContentView::applyAppearance);
    connect(state, &AppState::showMoveSheetChanged, this, &ContentView::syncSheets);
    connect(state, &AppState::showDuplicatesSheetChanged, this, &ContentView::syncSheets);
    connect(state, &AppState::showBatchCompressSheetChanged, this, &ContentView::syncSheets);
    connect(state, &AppState::showStorageInsightsSheetChanged, this, &ContentView::syncSheets);
    connect(state, &AppState::showOnboardingChanged, this, &ContentView::syncSheets);
    connect(state, &AppState::videoPendingEditChanged, this, &ContentView::syncEditor);
    connect(state, &AppState::showPermanentDeleteAlertChanged, this, &ContentView::syncAlert);
    connect(&Notifications::center(), &Notifications::focusSearchField, this, [this] { setSearchFocused(true); });
    updateOverlays();
    // Flags raised before the window existed (the welcome sheet at first start).
    QTimer::singleShot(0, this, [this] {
        syncSheets();
        syncEditor();
        syncAlert();
    });
}

ContentView::~ContentView()
{
    for (SheetSlot *s : m_sheets) {
        if (s->dialog) s->dialog->disconnect(this);
        delete s;
    }
}

QWidget *ContentView::makePlaceholder(const QString &objectName)
{
    // Holds a pane's place until the pane itself is built.
    auto *w = new QWidget;
    w->setObjectName(objectName);
    w->setAutoFillBackground(true);
    w->setBackgroundRole(QPalette::Base);
    if (objectName == "treePane") {
        auto *v = new QVBoxLayout(w);
        v->setContentsMargins(14, 10, 14, 10);
        auto *search = new QLineEdit(w);
        search->setObjectName("searchField");
        search->setClearButtonEnabled(true);
        search->setPlaceholderText(L10n::text("toolbar.searchPlaceholder", languageOf(m_state)));
        if (m_state) {
            search->setText(m_state->searchQuery());
            connect(search, &QLineEdit::textEdited, m_state, &AppState::setSearchQuery);
            connect(m_state, &AppState::languageChanged, search, [this, search] {
                search->setPlaceholderText(L10n::text("toolbar.searchPlaceholder", languageOf(m_state)));
            });
        }
        v->addWidget(search);
        v->addStretch(1);
    }
    return w;
}

void ContentView::rebuildLayout()
{
    const bool theater = m_state && m_state->isTheaterMode();
    const bool inspectorShown = !m_state || m_state->showInspector() || theater;
    bool changed = false;

    auto drop = [&](QPointer<QWidget> &w) {
        if (!w) return;
        w->hide();
        w->setParent(nullptr);
        w->deleteLater();
        w = nullptr;
        changed = true;
    };

    if (theater) {
        if (m_sidebar) {
            QPointer<QWidget> s = m_sidebar.data();
            drop(s);
            m_sidebar = nullptr;
        }
        drop(m_treePane);
    } else {
        if (!m_sidebar) {
            m_sidebar = new SidebarView(m_state);
            m_sidebar->setMinimumWidth(kSidebar.minimum);
            m_sidebar->setMaximumWidth(kSidebar.maximum);
            m_splitter->insertWidget(0, m_sidebar);
            changed = true;
        }
        if (!m_treePane) {
            m_treePane = m_parts.treePane ? m_parts.treePane(m_state, nullptr) : makePlaceholder("treePane");
            m_treePane->setMinimumWidth(kTreePaneMinimum);
            m_treePane->setMaximumWidth(QWIDGETSIZE_MAX);
            m_splitter->insertWidget(1, m_treePane);
            changed = true;
        }
    }
    if (inspectorShown && !m_inspector) {
        m_inspector = m_parts.inspector ? m_parts.inspector(m_state, nullptr) : makePlaceholder("inspector");
        m_splitter->addWidget(m_inspector);
        changed = true;
    } else if (!inspectorShown) {
        drop(m_inspector);
    }
    if (m_inspector) {
        const PaneWidths w = theater ? kTheaterInspector : kInspector;
        m_inspector->setMinimumWidth(w.minimum);
        m_inspector->setMaximumWidth(w.maximum);
    }
    for (int i = 0; i < m_splitter->count(); ++i) m_splitter->setStretchFactor(i, m_splitter->widget(i) == m_treePane ? 1 : 0);
    // Never narrower than the panes' own minimums together (with the inspector they need more
    // than 960), or the last pane would be cut off at the window's edge.
    setMinimumSize(QSize(960, 620).expandedTo(m_splitter->minimumSizeHint()));

    if (changed || theater != m_theaterLayout) {
        m_theaterLayout = theater;
        // Ideal widths; the tree pane takes the rest.
        QList<int> sizes;
        const int total = std::max(width(), 960);
        int fixed = 0;
        for (int i = 0; i < m_splitter->count(); ++i) {
            QWidget *w = m_splitter->widget(i);
            const int ideal = w == m_sidebar ? kSidebar.ideal
                              : w == m_inspector ? (theater ? kTheaterInspector.ideal : kInspector.ideal)
                                                 : 0;
            sizes.append(ideal);
            fixed += ideal;
        }
        for (int i = 0; i < m_splitter->count(); ++i)
            if (m_splitter->widget(i) == m_treePane) sizes[i] = std::max(kTreePaneMinimum, total - fixed);
        m_splitter->setSizes(sizes);
    }
    // The selection bar never shows in theater mode.
    updateOverlays();
}

void ContentView::updateOverlays()
{
    if (!m_state) return;
    const bool wantBar = m_state->selectedVideoIDs().size() >= 2 && !m_state->isTheaterMode();
    if (wantBar && !m_selectionBar) {
        m_selectionBar = new SelectionActionBar(m_state, this);
        m_selectionBar->show();
        placeOverlays();
        animateOverlay(m_selectionBar, m_selectionBar->pos(), true, 220);
    } else if (!wantBar && m_selectionBar) {
        QWidget *leaving = m_selectionBar;
        m_selectionBar = nullptr;
        fadeOutAndDelete(leaving, 180, true);
    } else if (m_selectionBar) {
        m_selectionBar->refresh();
    }

    const bool wantToast = m_state->activeToast().has_value();
    if (wantToast && m_toast) {
        // A new toast replaces the old one in place.
        m_toast->refresh();
    } else if (wantToast) {
        m_toast = new ToastView(m_state, this);
        m_toast->show();
        placeOverlays();
        animateOverlay(m_toast, m_toast->pos(), true, 220);
    } else if (m_toast) {
        QWidget *leaving = m_toast;
        m_toast = nullptr;
        fadeOutAndDelete(leaving, 150, false);
    }

    const bool wantPalette = m_state->showCommandPalette();
    if (wantPalette && !m_palette) {
        if (!m_parts.commandPalette) {
            m_state->setShowCommandPalette(false);
        } else {
            m_palette = m_parts.commandPalette(m_state, this);
            m_palette->setGeometry(rect());
            m_palette->show();
            m_palette->raise();
            auto *effect = new QGraphicsOpacityEffect(m_palette);
            m_palette->setGraphicsEffect(effect);
            auto *fade = new QPropertyAnimation(effect, "opacity", m_palette);
            fade->setDuration(150);
            fade->setStartValue(0.0);
            fade->setEndValue(1.0);
            QPointer<QWidget> pal = m_palette;
            connect(fade, &QPropertyAnimation::finished, this, [pal] {
                if (pal) pal->setGraphicsEffect(nullptr);
            });
            fade->start(QAbstractAnimation::DeleteWhenStopped);
        }
    } else if (!wantPalette && m_palette) {
        QWidget *leaving = m_palette;
        m_palette = nullptr;
        fadeOutAndDelete(leaving, 150, false);
        setFocus();
    }
    placeOverlays();
}

void ContentView::placeOverlays()
{
    if (m_selectionBar) {
        m_selectionBar->adjustSize();
        const QSize s = m_selectionBar->sizeHint();
        m_selectionBar->resize(s);
        m_selectionBar->move((width() - s.width()) / 2, height() - kOverlayInset - s.height() + kShadowMargin);
        m_selectionBar->raise();
    }
    if (m_toast) {
        m_toast->adjustSize();
        const QSize s = m_toast->sizeHint();
        m_toast->resize(s);
        m_toast->move(width() - kOverlayInset - s.width() + kShadowMargin,
                      height() - kOverlayInset - s.height() + kShadowMargin);
        m_toast->raise();
    }
    if (m_palette) {
        m_palette->setGeometry(rect());
        m_palette->raise();
    }
}

void ContentView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeOverlays();
}

std::optional<ColorScheme> ContentView::preferredScheme() const
{
    if (!m_state) return std::nullopt;
    switch (m_state->appearance()) {
    case AppAppearance::light: return ColorScheme::light;
    case AppAppearance::dark: return ColorScheme::dark;
    case AppAppearance::system: break;
    }
    return std::nullopt;
}

void ContentView::applyAppearance()
{
    const auto scheme = preferredScheme();
    LinearTheme::applyColorScheme(window(), scheme);
    for (SheetSlot *s : m_sheets)
        if (s->dialog) LinearTheme::applyColorScheme(s->dialog, scheme);
    if (m_editor) LinearTheme::applyColorScheme(m_editor, scheme);
    if (m_alert) LinearTheme::applyColorScheme(m_alert, scheme);
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_startupDone) return;
    m_startupDone = true;
    applyAppearance();
    QTimer::singleShot(0, this, &ContentView::runStartupTask);
}

void ContentView::runStartupTask()
{
    if (!m_state) return;
    QPointer<AppState> state = m_state;
    m_state->afterScopeCacheLoads([state] {
        if (state && state->allVideos().isEmpty() && !state->isScanning()) state->applyActiveScope();
    });
}

// ---- sheets and the alert ----

QDialog *ContentView::openSheet() const
{
    if (m_alert) return m_alert;
    if (m_editor) return m_editor;
    for (SheetSlot *s : m_sheets)
        if (s->dialog) return s->dialog;
    return nullptr;
}

void ContentView::syncSheets()
{
    for (SheetSlot *s : m_sheets) syncSheet(*s);
}

void ContentView::syncSheet(SheetSlot &slot)
{
    if (!m_state) return;
    const bool wanted = (m_state->*slot.get)();
    if (wanted && !slot.dialog) {
        if (!slot.factory) {
            (m_state->*slot.set)(false);
            return;
        }
        QDialog *d = slot.factory(m_state, window());
        slot.dialog = d;
        d->setObjectName(slot.name);
        d->setAttribute(Qt::WA_DeleteOnClose);
        d->setWindowModality(Qt::WindowModal);
        LinearTheme::applyColorScheme(d, preferredScheme());
        auto set = slot.set;
        SheetSlot *sp = &slot;
        connect(d, &QDialog::finished, this, [this, set, sp] {
            sp->dialog = nullptr;
            if (m_state) (m_state->*set)(false);
        });
        d->open();
    } else if (!wanted && slot.dialog) {
        QDialog *d = slot.dialog;
        slot.dialog = nullptr;
        d->disconnect(this);
        d->close();
    }
}

void ContentView::syncEditor()
{
    if (!m_state) return;
    const std::optional<VideoFile> &video = m_state->videoPendingEdit();
    // The editor is keyed by the video: another video means another editor.
    if (m_editor && (!video || video->id != m_editorVideoID)) {
        QDialog *d = m_editor;
        m_editor = nullptr;
        d->disconnect(this);
        d->close();
    }
    if (!video || m_editor) return;
    if (!m_parts.editorSheet) {
        m_state->setVideoPendingEdit(std::nullopt);
        return;
    }
    QDialog *d = m_parts.editorSheet(m_state, *video, window());
    m_editor = d;
    m_editorVideoID = video->id;
    d->setObjectName("editorSheet");
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setWindowModality(Qt::WindowModal);
    LinearTheme::applyColorScheme(d, preferredScheme());
    connect(d, &QDialog::finished, this, [this] {
        m_editor = nullptr;
        if (m_state) m_state->setVideoPendingEdit(std::nullopt);
    });
    d->open();
}

QString ContentView::permanentDeleteMessage(const QList<VideoFile> &videos, AppLanguage language)
{
    qint64 total = 0;
    for (const VideoFile &v : videos) total += v.fileSize;
    const QString size = "(" + formatByteCount(total) + ")";
    if (videos.size() == 1) return videos.first().name + " " + size;
    return QString::number(videos.size()) + " " + L10n::text("toolbar.videos", language) + " " + size;
}

void ContentView::syncAlert()
{
    if (!m_state) return;
    const bool wanted = m_state->showPermanentDeleteAlert();
    if (wanted && !m_alert) {
        const AppLanguage lang = m_state->language();
        auto *box = new QMessageBox(window());
        m_alert = box;
        box->setObjectName("permanentDeleteAlert");
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->setIcon(QMessageBox::Warning);
        box->setWindowTitle(L10n::text("alert.permTitle", lang));
        box->setText(L10n::text("alert.permTitle", lang));
        box->setInformativeText(permanentDeleteMessage(m_state->videosPendingPermanentDelete(), lang));
        QPushButton *cancel = box->addButton(L10n::text("toolbar.cancel", lang), QMessageBox::RejectRole);
        cancel->setObjectName("alertCancel");
        QPushButton *confirm = box->addButton(L10n::text("alert.permConfirm", lang), QMessageBox::DestructiveRole);
        confirm->setObjectName("alertConfirm");
        box->setDefaultButton(cancel);
        box->setEscapeButton(cancel);
        LinearTheme::applyColorScheme(box, preferredScheme());
        connect(box, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton *b) {
            if (!m_state) return;
            if (b == confirm) m_state->deletePermanently();
            else m_state->setVideosPendingPermanentDelete({});
        });
        connect(box, &QDialog::finished, this, [this] {
            m_alert = nullptr;
            if (m_state) m_state->setShowPermanentDeleteAlert(false);
        });
        box->open();
    } else if (!wanted && m_alert) {
        QMessageBox *box = m_alert;
        m_alert = nullptr;
        box->disconnect(this);
        box->close();
    }
}

// ---- keys ----

QLineEdit *ContentView::searchField() const
{
    return m_treePane ? m_treePane->findChild<QLineEdit *>("searchField") : nullptr;
}

bool ContentView::isSearchFocused() const
{
    QLineEdit *f = searchField();
    return f && f->hasFocus();
}

void ContentView::setSearchFocused(bool focused)
{
    QLineEdit *f = searchField();
    if (!f) return;
    if (focused) {
        window()->activateWindow();
        f->setFocus(Qt::ShortcutFocusReason);
        f->selectAll();
    } else if (f->hasFocus()) {
        setFocus(Qt::OtherFocusReason);
    }
}

bool ContentView::handleKey(QKeyEvent *event)
{
    if (!m_state) return false;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool commandKeys = mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();

    if (key == Qt::Key_Escape) {
        if (m_state->showCommandPalette()) {
            m_state->setShowCommandPalette(false);
            return true;
        }
        if (m_state->isTheaterMode()) {
            m_state->setIsTheaterMode(false);
            return true;
        }
        if (m_state->selectedVideoIDs().size() >= 2) {
            m_state->clearSelection();
            return true;
        }
        return false;
    }
    if (commandKeys) return false;

    const bool blocked = isSearchFocused() || m_state->showCommandPalette();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        if (blocked) return false;
        m_state->selectAdjacent(key == Qt::Key_Up ? -1 : 1);
        return true;
    }
    const bool isSpace = key == Qt::Key_Space;
    const bool isF = event->text() == "f" || event->text() == "F";
    if (isSpace || isF) {
        if (blocked || !m_state->primarySelectedVideo()) return false;
        m_state->setShowInspector(true);
        if (isSpace) m_state->setPlaybackToggleSignal(m_state->playbackToggleSignal() + 1);
        else m_state->setFullscreenRequestSignal(m_state->fullscreenRequestSignal() + 1);
        return true;
    }
    return false;
}

void ContentView::keyPressEvent(QKeyEvent *event)
{
    if (handleKey(event)) event->accept();
    else QWidget::keyPressEvent(event);
}
