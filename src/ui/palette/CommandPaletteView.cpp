#include "CommandPaletteView.h"

#include "library/AppState.h"
#include "library/L10n.h"
#include "ui/Controls.h"
#include "ui/LinearTheme.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kPanelWidth = 540;
constexpr int kListMaxHeight = 340;
constexpr int kBottomMargin = 80;

// One entry of either list: symbol, title over subtitle, an optional value and key cap.
class PaletteRow : public QAbstractButton {
public:
    PaletteRow(const QString &icon, const QString &title, const QString &subtitle, const std::optional<QString> &trailing,
               const std::optional<QString> &shortcut, QWidget *parent)
        : QAbstractButton(parent), m_icon(icon), m_title(title), m_subtitle(subtitle), m_trailing(trailing)
    {
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_Hover);
        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(10 + 20 + 10, 7, 10, 7);
        row->setSpacing(10);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto *t = new ThemedLabel(title, LinearTheme::font(12.5, QFont::Medium), Tone::label, this);
        t->setElideMode(Qt::ElideRight);
        auto *s = new ThemedLabel(subtitle, LinearTheme::font(11), Tone::tertiary, this);
        // The end of a long folder path stays visible.
        s->setElideMode(Qt::ElideLeft);
        texts->addWidget(t);
        texts->addWidget(s);
        row->addLayout(texts, 1);
        if (trailing) {
            const QFont f = LinearTheme::font(11, QFont::Medium, LinearTheme::Design::monospaced);
            row->addWidget(new ThemedLabel(*trailing, f, Tone::tertiary, this));
        }
        if (shortcut)
            row->addWidget(new KeycapBadge(*shortcut, this));
        for (QWidget *child : findChildren<QWidget *>())
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    QString title() const { return m_title; }
    bool isHovered() const { return m_hovered; }

    QSize sizeHint() const override { return layout()->sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        if (m_hovered) {
            QColor fill = lp.accent();
            fill.setAlphaF(lp.isDark() ? 0.18 : 0.11);
            p.fillPath(LinearTheme::roundedRect(rect(), 7), fill);
        }
        const QRectF iconRect(10, (height() - 16) / 2.0, 20, 16);
        LinearTheme::drawSymbol(p, iconRect.adjusted(2, 0, -2, 0), m_icon, m_hovered ? lp.accent() : lp.secondaryLabel());
    }
    void enterEvent(QEnterEvent *e) override
    {
        m_hovered = true;
        update();
        QAbstractButton::enterEvent(e);
    }
    void leaveEvent(QEvent *e) override
    {
        m_hovered = false;
        update();
        QAbstractButton::leaveEvent(e);
    }

private:
    QString m_icon, m_title, m_subtitle;
    std::optional<QString> m_trailing;
    bool m_hovered = false;
};

// The rounded panel with its outline and shadow.
class PalettePanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        const QPainterPath shape = LinearTheme::roundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12);
        p.fillPath(shape, VisualEffectBackground::fill(VisualEffectBackground::Material::regular, lp));
        p.setPen(QPen(lp.separator(), 0.75));
        p.drawPath(shape);
    }
    void mousePressEvent(QMouseEvent *e) override { e->accept(); } // clicks inside never close
};

class SectionHeader : public ThemedLabel {
public:
    SectionHeader(const QString &text, QWidget *parent)
        : ThemedLabel(text.toUpper(), headerFont(), Tone::tertiary, parent)
    {
        setContentsMargins(12, 6, 12, 0);
    }
    static QFont headerFont()
    {
        QFont f = LinearTheme::font(10, QFont::DemiBold);
        f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
        return f;
    }
};

} // namespace

CommandPaletteView::CommandPaletteView(AppState *state, QWidget *parent) : QWidget(parent), m_state(state)
{
    setObjectName("commandPalette");
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);

    m_panel = new PalettePanel(this);
    m_panel->setObjectName("palettePanel");
    auto *column = new QVBoxLayout(m_panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *header = new QWidget(m_panel);
    auto *h = new QHBoxLayout(header);
    h->setContentsMargins(16, 14, 16, 14);
    h->setSpacing(10);
    auto *glass = new QWidget(header);
    glass->setFixedSize(16, 16);
    glass->installEventFilter(this);
    glass->setObjectName("paletteGlass");
    h->addWidget(glass);
    m_field = new QLineEdit(header);
    m_field->setObjectName("paletteSearchField");
    m_field->setFrame(false);
    m_field->setFont(LinearTheme::font(14));
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_field->setStyleSheet("QLineEdit { background: transparent; border: none; }");
    m_field->installEventFilter(this);
    h->addWidget(m_field, 1);
    h->addWidget(new KeycapBadge(QStringLiteral("ESC"), header));
    column->addWidget(header);

    auto *divider = new QFrame(m_panel);
    divider->setObjectName("paletteDivider");
    divider->setFixedHeight(1);
    divider->installEventFilter(this);
    column->addWidget(divider);

    m_scroll = new QScrollArea(m_panel);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_listHost = new QWidget;
    m_listHost->setAutoFillBackground(false);
    m_list = new QVBoxLayout(m_listHost);
    m_list->setContentsMargins(6, 10, 6, 10);
    m_list->setSpacing(10);
    m_scroll->setWidget(m_listHost);
    column->addWidget(m_scroll);

    connect(m_field, &QLineEdit::textChanged, this, &CommandPaletteView::refresh);
    connect(m_field, &QLineEdit::returnPressed, this, &CommandPaletteView::submit);
    if (m_state) {
        // Titles and matches follow the state while the palette is open.
        for (auto signal : {&AppState::languageChanged, &AppState::isAISearchModeChanged, &AppState::isAIIndexingChanged,
                            &AppState::compactSingleChildFoldersChanged, &AppState::selectedVideosChanged,
                            &AppState::aiEngineStatusChanged, &AppState::allVideosChanged})
            connect(m_state, signal, this, &CommandPaletteView::scheduleRefresh);
        connect(m_state, &AppState::languageChanged, this, [this] {
            m_field->setPlaceholderText(L10n::text("toolbar.searchPlaceholder", m_state->language()));
        });
        m_field->setPlaceholderText(L10n::text("toolbar.searchPlaceholder", m_state->language()));
    }
    refresh();
}

QString CommandPaletteView::query() const { return m_field->text(); }

QList<QuickCommand> CommandPaletteView::commands() const
{
    if (!m_state) return {};
    return PaletteModel::filterCommands(PaletteModel::allCommands(m_state), query());
}

QList<VideoFile> CommandPaletteView::videoMatches() const
{
    if (!m_state) return {};
    return PaletteModel::videoMatches(m_state->allVideos(), query());
}

void CommandPaletteView::submit()
{
    if (!m_state) return;
    const QList<VideoFile> videos = videoMatches();
    if (!videos.isEmpty()) {
        openVideoMatch(videos.first());
        return;
    }
    const QList<QuickCommand> list = commands();
    if (!list.isEmpty())
        runCommand(list.first());
}

void CommandPaletteView::runCommand(const QuickCommand &command)
{
    if (!m_state) return;
    // The palette goes first, so a sheet the action opens comes up as it leaves.
    m_state->setShowCommandPalette(false);
    if (command.action) command.action();
}

void CommandPaletteView::openVideoMatch(const VideoFile &video)
{
    if (!m_state) return;
    m_state->revealVideo(video);
    m_state->setShowCommandPalette(false);
}

void CommandPaletteView::close()
{
    if (m_state) m_state->setShowCommandPalette(false);
}

QList<QAbstractButton *> CommandPaletteView::rows() const
{
    QList<QAbstractButton *> out;
    for (int i = 0; i < m_list->count(); ++i)
        if (auto *b = qobject_cast<QAbstractButton *>(m_list->itemAt(i)->widget()))
            out.append(b);
    return out;
}

void CommandPaletteView::scheduleRefresh()
{
    if (m_refreshPending) return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, [this] {
        m_refreshPending = false;
        refresh();
    });
}

void CommandPaletteView::refresh()
{
    while (QLayoutItem *item = m_list->takeAt(0)) {
        if (QWidget *w = item->widget()) w->deleteLater();
        delete item;
    }
    if (!m_state) return;
    const AppLanguage lang = m_state->language();
    const QList<VideoFile> videos = videoMatches();
    const QList<QuickCommand> list = commands();
    if (!videos.isEmpty()) {
        m_list->addWidget(new SectionHeader(L10n::text("menu.videos", lang), m_listHost));
        for (const VideoFile &v : videos) {
            auto *row = new PaletteRow("film", v.name, v.directoryPath, formatByteCount(v.fileSize), std::nullopt, m_listHost);
            row->setObjectName("video:" + v.id);
            connect(row, &QAbstractButton::clicked, this, [this, v] { openVideoMatch(v); });
            m_list->addWidget(row);
        }
    }
    if (!list.isEmpty()) {
        m_list->addWidget(new SectionHeader(L10n::text("sidebar.tools", lang), m_listHost));
        for (const QuickCommand &c : list) {
            auto *row = new PaletteRow(c.icon, c.title, c.subtitle, std::nullopt, c.shortcut, m_listHost);
            row->setObjectName(c.id);
            connect(row, &QAbstractButton::clicked, this, [this, c] { runCommand(c); });
            m_list->addWidget(row);
        }
    }
    if (videos.isEmpty() && list.isEmpty()) {
        auto *none = new ThemedLabel(L10n::text("toolbar.noMatches", lang), LinearTheme::font(12.5), Tone::tertiary, m_listHost);
        none->setObjectName("paletteNoMatches");
        none->setAlignment(Qt::AlignCenter);
        none->setContentsMargins(0, 28, 0, 28);
        none->setMinimumHeight(none->sizeHint().height() + 56);
        m_list->addWidget(none);
    }
    placePanel();
    // A new list starts at its top: an offset kept from the last one would hide the first
    // match under the section header.
    m_scroll->verticalScrollBar()->setValue(0);
}

void CommandPaletteView::placePanel()
{
    // Rows added to a visible list are shown only later; the list measures shown rows.
    for (int i = 0; i < m_list->count(); ++i)
        if (QWidget *w = m_list->itemAt(i)->widget()) w->setVisible(true);
    m_list->invalidate();
    const int listHeight = std::min(kListMaxHeight, m_list->sizeHint().height());
    m_scroll->setFixedHeight(listHeight);
    m_panel->setFixedWidth(kPanelWidth);
    m_panel->adjustSize();
    const QSize s = m_panel->sizeHint();
    const int usable = height() - kBottomMargin;
    m_panel->setGeometry((width() - kPanelWidth) / 2, std::max(0, (usable - s.height()) / 2), kPanelWidth, s.height());
    update();
}

void CommandPaletteView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0, 0, 0, int(0.32 * 255)));
    const QRectF panel = m_panel->geometry();
    paintSoftShadow(p, LinearTheme::roundedRect(panel, 12), 26, QPointF(0, 12), 0.25);
}

void CommandPaletteView::mousePressEvent(QMouseEvent *event)
{
    // The backdrop: a click outside the panel closes without running anything.
    if (!m_panel->geometry().contains(event->position().toPoint()))
        close();
    event->accept();
}

void CommandPaletteView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool CommandPaletteView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            close();
            return true;
        }
        // Arrow keys move nothing inside the palette.
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) return true;
    }
    if (event->type() == QEvent::Paint && watched != m_field) {
        auto *w = static_cast<QWidget *>(watched);
        QPainter p(w);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(w);
        if (w->objectName() == "paletteGlass")
            LinearTheme::drawSymbol(p, QRectF(w->rect()), "magnifyingglass", lp.accent());
        else
            p.fillRect(w->rect(), lp.separator());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CommandPaletteView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    placePanel();
    m_scroll->verticalScrollBar()->setValue(0);
    // Typing goes to the search field at once.
    QTimer::singleShot(0, this, [this] {
        activateWindow();
        m_field->setFocus(Qt::OtherFocusReason);
    });
}

void CommandPaletteView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placePanel();
}

QWidget *makeCommandPalette(AppState *state, QWidget *parent) { return new CommandPaletteView(state, parent); }
