#include "ui/sheets/move/MoveSheetView.h"
#include "ui/sheets/move/MoveProgressView.h"

#include "library/L10n.h"
#include "ui/Controls.h"
#include "ui/sheets/SheetControls.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr int kUnfilteredFolderLimit = 24;

QColor withAlpha(QColor c, qreal alpha)
{
    c.setAlphaF(float(c.alphaF() * alpha));
    return c;
}

QFont titleFont() { return LinearTheme::font(12.5, QFont::Medium); }
QFont pathFont() { return LinearTheme::font(10.5, QFont::Normal, LinearTheme::Design::monospaced); }
QFont badgeFont() { return LinearTheme::font(10.5, QFont::Medium); }
QFont actionFont() { return LinearTheme::font(11, QFont::DemiBold); }

// The rounded box behind the filter field.
class FilterBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        const QPainterPath shape = LinearTheme::roundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7);
        p.fillPath(shape, lp.neutral(0.065, 0.045));
        p.setPen(QPen(withAlpha(lp.separator(), 0.65), 0.75));
        p.drawPath(shape);
    }
};

ThemedLabel *sectionHeader(const QString &text, QWidget *parent)
{
    QFont f = LinearTheme::font(10, QFont::DemiBold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    auto *l = new ThemedLabel(text, f, Tone::tertiary, parent);
    l->setObjectName(QStringLiteral("sectionHeader"));
    l->setContentsMargins(6, 0, 6, 0);
    return l;
}

} // namespace

// ---- DestinationButtonRow ----

DestinationButtonRow::DestinationButtonRow(const QString &title, const QString &path, const QString &icon,
                                           const std::optional<QString> &badge, const QString &actionLabel,
                                           QWidget *parent)
    : QAbstractButton(parent), m_title(title), m_path(path), m_icon(icon), m_badge(badge), m_actionLabel(actionLabel)
{
    setObjectName(QStringLiteral("destinationRow"));
    setText(title);
    setToolTip(path);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize DestinationButtonRow::sizeHint() const
{
    const qreal h = QFontMetricsF(titleFont()).height() + 1.5 + QFontMetricsF(pathFont()).height() + 14;
    return {300, qCeil(h)};
}

QSize DestinationButtonRow::minimumSizeHint() const { return {120, sizeHint().height()}; }

QRectF DestinationButtonRow::pathRect() const
{
    qreal right = width() - 10;
    if (m_badge) right -= QFontMetricsF(badgeFont()).horizontalAdvance(*m_badge) + 10;
    if (m_hovered) right -= QFontMetricsF(actionFont()).horizontalAdvance(m_actionLabel) + 10;
    const qreal left = 10 + 18 + 10;
    const qreal top = 7 + QFontMetricsF(titleFont()).height() + 1.5;
    return QRectF(left, top, std::max<qreal>(0, right - left), QFontMetricsF(pathFont()).height());
}

QString DestinationButtonRow::shownPath() const
{
    return QFontMetricsF(pathFont()).elidedText(m_path, Qt::ElideLeft, pathRect().width());
}

void DestinationButtonRow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    if (m_hovered || hasFocus())
        p.fillPath(LinearTheme::roundedRect(QRectF(rect()), 7), lp.neutral(0.06, 0.045));
    const qreal mid = height() / 2.0;
    LinearTheme::drawSymbol(p, QRectF(10 + 2.5, mid - 6.5, 13, 13), m_icon, m_hovered ? lp.accent() : lp.secondaryLabel());

    qreal right = width() - 10;
    if (m_hovered) {
        const qreal w = QFontMetricsF(actionFont()).horizontalAdvance(m_actionLabel);
        p.setFont(actionFont());
        p.setPen(lp.accent());
        p.drawText(QRectF(right - w - 1, 0, w + 1, height()), Qt::AlignRight | Qt::AlignVCenter, m_actionLabel);
        right -= w + 10;
    }
    if (m_badge) {
        const qreal w = QFontMetricsF(badgeFont()).horizontalAdvance(*m_badge);
        p.setFont(badgeFont());
        p.setPen(lp.tertiaryLabel());
        p.drawText(QRectF(right - w - 1, 0, w + 1, height()), Qt::AlignRight | Qt::AlignVCenter, *m_badge);
        right -= w + 10;
    }
    const QRectF pr = pathRect();
    const QRectF tr(pr.left(), 7, pr.width(), QFontMetricsF(titleFont()).height());
    p.setFont(titleFont());
    p.setPen(lp.label());
    p.drawText(tr, Qt::AlignLeft | Qt::AlignVCenter, QFontMetricsF(titleFont()).elidedText(m_title, Qt::ElideRight, tr.width()));
    p.setFont(pathFont());
    p.setPen(lp.tertiaryLabel());
    p.drawText(pr, Qt::AlignLeft | Qt::AlignVCenter, shownPath());
}

void DestinationButtonRow::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void DestinationButtonRow::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void DestinationButtonRow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

// ---- MoveSheetView ----

QList<VideoFolderNodePtr> MoveSheetView::folderCandidates(const QList<VideoFolderNodePtr> &roots, const QString &filter)
{
    QList<VideoFolderNodePtr> all;
    LumenkiteBuilder::allFolders(roots, all);
    const QString text = filter.trimmed();
    if (text.isEmpty()) {
        if (all.size() > kUnfilteredFolderLimit) all.resize(kUnfilteredFolderLimit);
        return all;
    }
    QList<VideoFolderNodePtr> out;
    for (const VideoFolderNodePtr &f : std::as_const(all))
        if (f->displayName.contains(text, Qt::CaseInsensitive) || f->id().contains(text, Qt::CaseInsensitive))
            out.append(f);
    return out;
}

MoveSheetView::MoveSheetView(AppState *state, QWidget *parent) : QDialog(parent), m_state(state)
{
    // A move that copies to another disk goes on after this sheet closes; its card lives on the window.
    if (parent) MoveProgressView::ensureFor(state, parent->window());
    setFixedSize(480, 420);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *body = new SheetBackground(this);
    outer->addWidget(body);
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(3);
    m_title = new ThemedLabel({}, LinearTheme::font(14.5, QFont::DemiBold), Tone::label, body);
    m_title->setObjectName(QStringLiteral("title"));
    m_subtitle = new ThemedLabel({}, LinearTheme::font(11.5), Tone::secondary, body);
    m_subtitle->setObjectName(QStringLiteral("subtitle"));
    m_subtitle->setElideMode(Qt::ElideMiddle);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    header->addLayout(titles, 1);
    auto *close = new SheetButton(SheetButton::Style::closeCircle, QStringLiteral("xmark"), {}, body);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setSymbolTone(Tone::tertiary);
    connect(close, &QAbstractButton::clicked, this, &MoveSheetView::dismiss);
    header->addWidget(close, 0, Qt::AlignTop);
    column->addLayout(header);
    column->addWidget(new SheetDivider(body));

    auto *filterRow = new QHBoxLayout;
    filterRow->setContentsMargins(16, 12, 16, 12);
    filterRow->setSpacing(10);
    auto *box = new FilterBox(body);
    auto *boxRow = new QHBoxLayout(box);
    boxRow->setContentsMargins(10, 7, 10, 7);
    boxRow->setSpacing(6);
    boxRow->addWidget(new SheetSymbol(QStringLiteral("magnifyingglass"), 11.5, Tone::tertiary, box));
    m_filter = new QLineEdit(box);
    m_filter->setObjectName(QStringLiteral("folderFilter"));
    m_filter->setFrame(false);
    m_filter->setFont(LinearTheme::font(12));
    m_filter->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    boxRow->addWidget(m_filter, 1);
    filterRow->addWidget(box, 1);
    m_choose = new SheetButton(SheetButton::Style::prominent, QStringLiteral("folder.badge.plus"), {}, body);
    m_choose->setObjectName(QStringLiteral("chooseFolderButton"));
    connect(m_choose, &QAbstractButton::clicked, this, &MoveSheetView::chooseFolderAction);
    filterRow->addWidget(m_choose);
    column->addLayout(filterRow);

    m_scroll = new QScrollArea(body);
    m_scroll->setObjectName(QStringLiteral("destinations"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    column->addWidget(m_scroll, 1);
    column->addWidget(new SheetDivider(body));

    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(16, 10, 16, 10);
    m_note = new ThemedLabel({}, LinearTheme::font(11), Tone::tertiary, body);
    m_note->setObjectName(QStringLiteral("conflictNote"));
    footer->addWidget(m_note, 1);
    m_cancel = new SheetButton(SheetButton::Style::bordered, {}, {}, body);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(m_cancel, &QAbstractButton::clicked, this, &MoveSheetView::dismiss);
    footer->addWidget(m_cancel);
    column->addLayout(footer);

    connect(m_filter, &QLineEdit::textChanged, this, &MoveSheetView::rebuildList);
    if (m_state) {
        connect(m_state, &AppState::languageChanged, this, [this] {
            retitle();
            rebuildList();
        });
        connect(m_state, &AppState::videosPendingMoveChanged, this, &MoveSheetView::retitle);
        connect(m_state, &AppState::treeRootsChanged, this, &MoveSheetView::rebuildList);
        connect(m_state, &AppState::recentMoveDestinationsChanged, this, &MoveSheetView::rebuildList);
    }
    retitle();
    rebuildList();
    m_filter->setFocus();
}

QString MoveSheetView::title() const { return m_title->text(); }
QString MoveSheetView::subtitle() const { return m_subtitle->text(); }

void MoveSheetView::retitle()
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    const QList<VideoFile> pending = m_state ? m_state->videosPendingMove() : QList<VideoFile>();
    if (pending.size() == 1) {
        m_title->setText(L10n::text("move.titleSingle", lang));
        m_subtitle->setText(pending.first().name + QStringLiteral(" \u00B7 ") + formatByteCount(pending.first().fileSize));
    } else {
        qint64 total = 0;
        for (const VideoFile &v : pending) total += v.fileSize;
        m_title->setText(QString::number(pending.size()) + QStringLiteral(" \u00B7 ") + L10n::text("move.titleMulti", lang));
        m_subtitle->setText(formatByteCount(total));
    }
    m_filter->setPlaceholderText(L10n::text("move.filter", lang));
    m_choose->setText(L10n::text("move.chooseFolder", lang));
    m_choose->updateGeometry();
    m_note->setText(L10n::text("move.conflictNote", lang));
    m_cancel->setText(L10n::text("toolbar.cancel", lang));
    m_cancel->updateGeometry();
}

void MoveSheetView::rebuildList()
{
    if (!m_state) return;
    const AppLanguage lang = m_state->language();
    const QString moveWord = L10n::text("inspector.move", lang);
    auto *list = new QWidget;
    list->setObjectName(QStringLiteral("destinationList"));
    auto *v = new QVBoxLayout(list);
    v->setContentsMargins(12, 0, 12, 14);
    v->setSpacing(14);
    QPointer<AppState> state = m_state;

    const QList<QUrl> recent = m_state->recentMoveDestinations();
    if (!recent.isEmpty() && m_filter->text().isEmpty()) {
        auto *section = new QWidget(list);
        section->setObjectName(QStringLiteral("recentSection"));
        auto *s = new QVBoxLayout(section);
        s->setContentsMargins(0, 0, 0, 0);
        s->setSpacing(4);
        s->addWidget(sectionHeader(L10n::text("move.recent", lang), section));
        for (const QUrl &url : recent) {
            const QString path = url.toLocalFile();
            auto *row = new DestinationButtonRow(url.fileName(), path, QStringLiteral("clock.arrow.circlepath"), std::nullopt,
                                                 moveWord, section);
            row->setProperty("kind", QStringLiteral("recent"));
            connect(row, &QAbstractButton::clicked, this, [state, url] {
                if (state) state->moveSelected(url);
            });
            s->addWidget(row);
        }
        v->addWidget(section);
    }
    const QList<VideoFolderNodePtr> folders = folderCandidates(m_state->treeRoots(), m_filter->text());
    if (!folders.isEmpty()) {
        auto *section = new QWidget(list);
        section->setObjectName(QStringLiteral("treeSection"));
        auto *s = new QVBoxLayout(section);
        s->setContentsMargins(0, 0, 0, 0);
        s->setSpacing(4);
        s->addWidget(sectionHeader(L10n::text("move.treeFolders", lang), section));
        for (const VideoFolderNodePtr &f : folders) {
            const QUrl url = f->url();
            auto *row = new DestinationButtonRow(f->displayName, url.toLocalFile(), QStringLiteral("folder"),
                                                 QString::number(qlonglong(f->totalVideoCount)), moveWord, section);
            row->setProperty("kind", QStringLiteral("folder"));
            connect(row, &QAbstractButton::clicked, this, [state, url] {
                if (state) state->moveSelected(url);
            });
            s->addWidget(row);
        }
        v->addWidget(section);
    }
    v->addStretch(1);
    const int scrollY = m_scroll->verticalScrollBar()->value();
    delete m_scroll->takeWidget();
    m_scroll->setWidget(list);
    m_list = list;
    m_scroll->verticalScrollBar()->setValue(scrollY);
}

QList<DestinationButtonRow *> MoveSheetView::recentRows() const
{
    QList<DestinationButtonRow *> out;
    if (!m_list) return out;
    for (DestinationButtonRow *r : m_list->findChildren<DestinationButtonRow *>())
        if (r->property("kind").toString() == QLatin1String("recent")) out << r;
    return out;
}

QList<DestinationButtonRow *> MoveSheetView::folderRows() const
{
    QList<DestinationButtonRow *> out;
    if (!m_list) return out;
    for (DestinationButtonRow *r : m_list->findChildren<DestinationButtonRow *>())
        if (r->property("kind").toString() == QLatin1String("folder")) out << r;
    return out;
}

void MoveSheetView::dismiss() { reject(); }

void MoveSheetView::chooseFolderAction()
{
    if (m_dialog) return;
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    auto *dialog = new QFileDialog(this, L10n::text("move.chooseFolder", lang));
    dialog->setObjectName(QStringLiteral("chooseFolderDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    // Qt's own dialog: it follows the sheet's colours and works the same on every desktop.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setLabelText(QFileDialog::Accept, L10n::text("inspector.move", lang));
    dialog->setWindowModality(Qt::WindowModal);
    m_dialog = dialog;
    QPointer<AppState> state = m_state;
    connect(dialog, &QFileDialog::accepted, this, [state, dialog] {
        const QList<QUrl> urls = dialog->selectedUrls();
        // The sheet closes from inside moveSelected; only the state is used after it.
        if (state && !urls.isEmpty() && urls.first().isLocalFile()) state->moveSelected(urls.first());
    });
    dialog->open();
}
