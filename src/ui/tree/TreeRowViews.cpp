#include "ui/tree/TreeRowViews.h"
#include "ui/tree/TreeRowPainting.h"
#include "ui/DesktopActions.h"

#include "library/FileNames.h"

#include "library/AppState.h"
#include "library/L10n.h"
#include "platform/DesktopServices.h"

#include <QContextMenuEvent>
#include <QEasingCurve>
#include <QEnterEvent>
#include <QFontMetricsF>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <cmath>

// ---- TreeGuideLines ----

TreeGuideLines::TreeGuideLines(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

void TreeGuideLines::setRow(int depth, const QList<bool> &ancestors, bool isLast, qreal indentWidth)
{
    m_depth = std::max(0, depth);
    m_ancestors = ancestors;
    m_isLast = isLast;
    m_indent = indentWidth;
    updateGeometry();
    update();
}

QSize TreeGuideLines::sizeHint() const { return QSize(int(std::ceil(guideWidth(m_depth, m_indent))), 0); }

bool TreeGuideLines::columnHasLine(const QList<bool> &ancestors, int column)
{
    const int entry = column + 1;
    return entry >= 0 && entry < ancestors.size() && ancestors[entry];
}

TreeGuideLines::Geometry TreeGuideLines::geometry(qreal height, int depth, const QList<bool> &ancestors,
                                                  bool isLast, qreal indent)
{
    Geometry g;
    for (int level = 0; level + 1 < depth; ++level)
        if (columnHasLine(ancestors, level)) g.ancestorLineX.append(level * indent + 9);
    if (depth > 0) {
        const qreal x0 = (depth - 1) * indent;
        const qreal mid = height / 2;
        g.elbowVertical = QLineF(x0 + 9.5, 0, x0 + 9.5, isLast ? mid : height);
        g.elbowHorizontal = QLineF(x0 + 9.5, mid, x0 + indent - 3, mid);
    }
    return g;
}

void TreeGuideLines::paint(QPainter &p, QPointF origin, qreal height, int depth, const QList<bool> &ancestors,
                           bool isLast, qreal indent, const LinearPalette &palette)
{
    if (depth <= 0) return;
    const Geometry g = geometry(height, depth, ancestors, isLast, indent);
    const QColor colour = palette.guideLine();
    p.save();
    p.translate(origin);
    for (qreal x : g.ancestorLineX) p.fillRect(QRectF(x, 0, 1, height), colour);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(colour, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    QPainterPath elbow;
    elbow.moveTo(g.elbowVertical->p1());
    elbow.lineTo(g.elbowVertical->p2());
    elbow.moveTo(g.elbowHorizontal->p1());
    elbow.lineTo(g.elbowHorizontal->p2());
    p.drawPath(elbow);
    p.restore();
}

void TreeGuideLines::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paint(p, QPointF(0, 0), height(), m_depth, m_ancestors, m_isLast, m_indent, LinearPalette::of(this));
}

// ---- FolderTreeRowView ----

namespace {
constexpr qreal kPadX = 10;
constexpr qreal kSpacing = 7;
constexpr qreal kChevron = 14;
constexpr qreal kIconWidth = 16;
constexpr qreal kSizeMinWidth = 66;
constexpr qreal kButtonsWidth = 26 + 3 + 26;

QFont nameFont() { return LinearTheme::font(12.5, QFont::DemiBold); }
QFont countFont() { return LinearTheme::font(10.5, QFont::Medium); }
QFont sizeFont() { return LinearTheme::font(11.5, QFont::Medium); }

AppLanguage languageOf(const AppState *state) { return state ? state->language() : AppLanguage::en; }
} // namespace

FolderTreeRowView::FolderTreeRowView(const TreeRow &row, AppState *state, QWidget *parent)
    : QWidget(parent), m_row(row), m_state(state)
{
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    setFixedHeight(kRowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_angle = row.isExpanded ? 90 : 0;

    const AppLanguage lang = languageOf(state);
    m_moveButton = new LinearIconButton("folder.badge.arrow.right", L10n::text("ctx.moveFolderVideos", lang), this);
    m_revealButton = new LinearIconButton("arrow.up.forward.square", L10n::text("ctx.reveal", lang), this);
    connect(m_moveButton, &QAbstractButton::clicked, this, &FolderTreeRowView::moveAllVideos);
    connect(m_revealButton, &QAbstractButton::clicked, this, &FolderTreeRowView::reveal);
    m_moveButton->hide();
    m_revealButton->hide();

    m_chevronAnimation = new QVariantAnimation(this);
    m_chevronAnimation->setDuration(140);
    m_chevronAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_chevronAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        m_angle = v.toReal();
        update();
    });
    if (state)
        connect(state, &AppState::languageChanged, this, [this] {
            const AppLanguage l = languageOf(m_state);
            m_moveButton->setToolTip(L10n::text("ctx.moveFolderVideos", l));
            m_revealButton->setToolTip(L10n::text("ctx.reveal", l));
            update();
        });
    setToolTip(QString());
}

void FolderTreeRowView::setRow(const TreeRow &row)
{
    const bool was = m_row.isExpanded;
    m_row = row;
    if (was != row.isExpanded) {
        m_chevronAnimation->stop();
        m_chevronAnimation->setStartValue(m_angle);
        m_chevronAnimation->setEndValue(row.isExpanded ? 90.0 : 0.0);
        m_chevronAnimation->start();
    }
    update();
}

void FolderTreeRowView::setHovered(bool hovered)
{
    if (m_hovered == hovered) return;
    m_hovered = hovered;
    m_moveButton->setVisible(hovered);
    m_revealButton->setVisible(hovered);
    if (!hovered) {
        m_moveButton->setHovered(false);
        m_revealButton->setHovered(false);
    }
    layoutButtons();
    update();
}

QString FolderTreeRowView::countText() const { return QString::number(qlonglong(folder().totalVideoCount)); }
QString FolderTreeRowView::sizeText() const { return formatByteCount(folder().totalSize); }

QSize FolderTreeRowView::sizeHint() const { return QSize(420, kRowHeight); }

qreal FolderTreeRowView::sizeColumnLeft() const
{
    const qreal sizeWidth = std::max(kSizeMinWidth, QFontMetricsF(sizeFont()).horizontalAdvance(sizeText()));
    return width() - kPadX - sizeWidth;
}

void FolderTreeRowView::layoutButtons()
{
    const qreal right = sizeColumnLeft() - kSpacing;
    const int y = (height() - 26) / 2;
    m_revealButton->setGeometry(int(right - 26), y, 26, 26);
    m_moveButton->setGeometry(int(right - 26 - 3 - 26), y, 26, 26);
}

void FolderTreeRowView::resizeEvent(QResizeEvent *event)
{
    layoutButtons();
    QWidget::resizeEvent(event);
}

void FolderTreeRowView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    const qreal h = height();
    if (m_hovered || hasFocus())
        p.fillPath(LinearTheme::roundedRect(QRectF(6, 0, width() - 12, h), 6), lp.hoverFill());

    TreeGuideLines::paint(p, QPointF(0, 0), h, m_row.depth, m_row.ancestorHasNextSibling, m_row.isLastInParent,
                          TreeGuideLines::kIndentWidth, lp);
    qreal x = TreeGuideLines::guideWidth(m_row.depth) + kPadX;
    const qreal cy = h / 2;

    // Chevron, rotated about its centre.
    p.save();
    p.translate(x + kChevron / 2, cy);
    p.rotate(m_angle);
    LinearTheme::drawSymbol(p, QRectF(-5, -5, 10, 10), "chevron.right", lp.tertiaryLabel());
    p.restore();
    x += kChevron + kSpacing;

    const bool open = m_row.isExpanded;
    LinearTheme::drawSymbol(p, QRectF(x, cy - 8, kIconWidth, 16), open ? "folder.fill" : "folder",
                            open ? lp.accent() : lp.secondaryLabel());
    x += kIconWidth + kSpacing;

    // Count capsule and size take their room first; the name gets what is left.
    const QFontMetricsF countMetrics(countFont());
    const qreal countWidth = countMetrics.horizontalAdvance(countText()) + 12;
    const qreal countHeight = countMetrics.height() + 2;
    qreal nameRight = sizeColumnLeft() - 8 - (m_hovered ? kButtonsWidth + kSpacing : 0) - kSpacing - countWidth - kSpacing;
    const QFontMetricsF nameMetrics(nameFont());
    const qreal nameRoom = std::max<qreal>(0, nameRight - x);
    const QString name = nameMetrics.elidedText(
        TreeRowPainting::shortenedForEliding(FileNames::display(folder().displayName), Qt::ElideMiddle, nameRoom),
        Qt::ElideMiddle, nameRoom);
    p.setFont(nameFont());
    p.setPen(lp.label());
    const qreal nameWidth = nameMetrics.horizontalAdvance(name);
    p.drawText(QRectF(x, 0, nameWidth + 1, h), Qt::AlignVCenter | Qt::AlignLeft, name);
    x += nameWidth + kSpacing;

    const QRectF capsule(x, cy - countHeight / 2, countWidth, countHeight);
    p.fillPath(LinearTheme::roundedRect(capsule, countHeight / 2), lp.hoverFill());
    p.setFont(countFont());
    p.setPen(lp.secondaryLabel());
    p.drawText(capsule, Qt::AlignCenter, countText());

    p.setFont(sizeFont());
    p.setPen(lp.tertiaryLabel());
    const qreal sizeLeft = sizeColumnLeft();
    p.drawText(QRectF(sizeLeft, 0, width() - kPadX - sizeLeft, h), Qt::AlignVCenter | Qt::AlignRight, sizeText());
}

void FolderTreeRowView::enterEvent(QEnterEvent *event)
{
    setHovered(true);
    QWidget::enterEvent(event);
}

void FolderTreeRowView::leaveEvent(QEvent *event)
{
    setHovered(false);
    QWidget::leaveEvent(event);
}

void FolderTreeRowView::mousePressEvent(QMouseEvent *event) { event->accept(); }

void FolderTreeRowView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) toggle();
    event->accept();
}

void FolderTreeRowView::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() == Qt::NoModifier &&
        (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        toggle();
        return;
    }
    QWidget::keyPressEvent(event);
}

QMenu *FolderTreeRowView::makeContextMenu(QWidget *parent)
{
    const AppLanguage lang = languageOf(m_state);
    auto *menu = new QMenu(parent);
    menu->addAction(L10n::text(isExpanded() ? "ctx.collapse" : "ctx.expand", lang), this, &FolderTreeRowView::toggle);
    menu->addSeparator();
    menu->addAction(L10n::text("ctx.moveFolderVideos", lang) + " (" + countText() + ")", this,
                    &FolderTreeRowView::moveAllVideos);
    menu->addAction(L10n::text("ctx.reveal", lang), this, &FolderTreeRowView::reveal);
    menu->addAction(L10n::text("ctx.copyPath", lang), this, &FolderTreeRowView::copyPath);
    return menu;
}

void FolderTreeRowView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = makeContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void FolderTreeRowView::toggle()
{
    if (m_state) m_state->toggleFolder(folder().id);
}

void FolderTreeRowView::moveAllVideos()
{
    if (m_state) m_state->prepareMove(folder());
}

void FolderTreeRowView::reveal() { DesktopActions::reveal(m_state, {folder().url}); }

void FolderTreeRowView::copyPath()
{
    DesktopServices::copyToClipboard(folder().url.toLocalFile());
    if (m_state) m_state->showToast(L10n::text("toast.pathCopied", m_state->language()), false, false);
}
