#include "ui/sheets/move/MoveProgressView.h"

#include "library/L10n.h"
#include "ui/Controls.h"
#include "ui/LinearTheme.h"
#include "ui/sheets/SheetControls.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QVBoxLayout>

MoveProgressView *MoveProgressView::ensureFor(AppState *state, QWidget *window)
{
    if (!state || !window)
        return nullptr;
    if (auto *existing = window->findChild<MoveProgressView *>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new MoveProgressView(state, window);
}

MoveProgressView::MoveProgressView(AppState *state, QWidget *window) : QWidget(window), m_state(state)
{
    setObjectName(QStringLiteral("moveProgress"));
    setFixedWidth(380);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 12, 12, 12);
    row->setSpacing(12);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    QFont titleFont = font();
    titleFont.setPointSizeF(12.5);
    titleFont.setWeight(QFont::DemiBold);
    m_title = new ThemedLabel(QString(), titleFont, Tone::label, this);
    texts->addWidget(m_title);
    m_bar = new QProgressBar(this);
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 1000);
    m_bar->setFixedHeight(6);
    texts->addWidget(m_bar);
    QFont detailFont = font();
    detailFont.setPointSizeF(11);
    m_detail = new ThemedLabel(QString(), detailFont, Tone::secondary, this);
    texts->addWidget(m_detail);
    row->addLayout(texts, 1);
    auto *cancel = new SheetButton(SheetButton::Style::bordered, QString(), QString(), this);
    cancel->setObjectName(QStringLiteral("moveProgressCancel"));
    m_cancel = cancel;
    row->addWidget(cancel, 0, Qt::AlignVCenter);
    connect(cancel, &QAbstractButton::clicked, this, [this] {
        if (m_state) m_state->cancelFileCopy();
    });
    connect(state, &AppState::fileCopyChanged, this, &MoveProgressView::refresh);
    connect(state, &AppState::languageChanged, this, &MoveProgressView::refresh);
    window->installEventFilter(this);
    refresh();
}

QString MoveProgressView::title() const { return m_title->text(); }
QString MoveProgressView::detail() const { return m_detail->text(); }

void MoveProgressView::refresh()
{
    if (!m_state)
        return;
    const AppLanguage lang = m_state->language();
    m_title->setText(L10n::text(QStringLiteral("move.copying"), lang));
    m_cancel->setText(L10n::text(QStringLiteral("toolbar.cancel"), lang));
    const qint64 done = m_state->fileCopyDone(), total = m_state->fileCopyTotal();
    m_bar->setValue(total > 0 ? int(std::min<qint64>(1000, done * 1000 / total)) : 0);
    m_detail->setText(formatByteCount(done) + QStringLiteral(" / ") + formatByteCount(total));
    const bool show = m_state->isCopyingFiles();
    if (show) {
        adjustSize();
        place();
        raise();
    }
    setVisible(show);
}

void MoveProgressView::place()
{
    const QWidget *window = parentWidget();
    if (!window)
        return;
    const QSize s = sizeHint().expandedTo(QSize(width(), 0));
    resize(s);
    move((window->width() - s.width()) / 2, window->height() - s.height() - 24);
}

bool MoveProgressView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible())
        place();
    return QWidget::eventFilter(watched, event);
}

void MoveProgressView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = LinearTheme::roundedRect(card, 10);
    p.fillPath(shape, VisualEffectBackground::fill(VisualEffectBackground::Material::regular, lp));
    p.setPen(QPen(lp.separator(), 0.75));
    p.drawPath(shape);
}
