#include "ui/tree/FolderRowPainter.h"
#include "ui/Availability.h"
#include "ui/DesktopActions.h"

#include "library/FileNames.h"

#include "library/AppState.h"
#include "platform/DesktopServices.h"
#include "ui/tree/TreeRowPainting.h"

#include <QAction>
#include <QFontMetricsF>
#include <QMenu>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
struct FolderFonts {
    QFont name = PaneStyle::font(12.5, QFont::DemiBold);
    QFont count = PaneStyle::font(10.5, QFont::Medium);
    QFont size = PaneStyle::font(11.5, QFont::Medium);
    QFontMetricsF mName{name}, mCount{count}, mSize{size};
};
const FolderFonts &fonts()
{
    static const FolderFonts f;
    return f;
}
} // namespace

FolderRowPainter::Layout FolderRowPainter::layout(const QRectF &rect, const Input &input)
{
    const FolderFonts &f = fonts();
    Layout l;
    const TreeRow &row = *input.row;
    const VideoFolderNode &folder = row.folder();
    l.background = rect.adjusted(6, 0, -6, 0);
    const double cy = rect.center().y();
    const double left = rect.left() + row.depth * TreeRowPainting::kIndentWidth + 10;
    const double right = rect.right() - 10;
    l.chevron = QRectF(left, cy - 7, 14, 14);
    l.icon = QRectF(l.chevron.right() + 7, cy - 8, 16, 16);
    l.sizeText = formatByteCount(folder.totalSize);
    const double sizeWidth = std::max(kSizeMinWidth, std::ceil(f.mSize.horizontalAdvance(l.sizeText)));
    l.size = QRectF(right - sizeWidth, cy - 9, sizeWidth, 18);
    double trailing = l.size.left();
    if (input.isHovered) {
        const double b = TreeRowPainting::kIconButtonSize;
        l.revealButton = QRectF(l.size.left() - 7 - b, cy - b / 2, b, b);
        l.moveButton = QRectF(l.revealButton.left() - 3 - b, cy - b / 2, b, b);
        trailing = l.moveButton.left();
    }
    l.countText = QString::number(folder.totalVideoCount);
    const double countWidth = std::ceil(f.mCount.horizontalAdvance(l.countText)) + 12;
    const double nameLeft = l.icon.right() + 7;
    // Name, count, then a spacer of at least 8 before the trailing items.
    const double available = std::max(0.0, trailing - 7 - 8 - 7 - countWidth - 7 - nameLeft);
    l.nameText = f.mName.elidedText(
        TreeRowPainting::shortenedForEliding(FileNames::display(folder.displayName), Qt::ElideMiddle, available),
        Qt::ElideMiddle, available);
    const double nameWidth = std::min(available, std::ceil(f.mName.horizontalAdvance(l.nameText)));
    l.name = QRectF(nameLeft, cy - 9, nameWidth, 18);
    const double countHeight = std::ceil(f.mCount.height()) + 2;
    l.count = QRectF(l.name.right() + 7, cy - countHeight / 2, countWidth, countHeight);
    return l;
}

FolderRowPainter::Part FolderRowPainter::hitTest(const Layout &l, const QPointF &p)
{
    if (l.moveButton.contains(p))
        return Part::moveButton;
    if (l.revealButton.contains(p))
        return Part::revealButton;
    return Part::row;
}

QString FolderRowPainter::toolTip(Part part, AppLanguage language)
{
    switch (part) {
    case Part::moveButton: return L10n::text(QStringLiteral("ctx.moveFolderVideos"), language);
    case Part::revealButton: return L10n::text(QStringLiteral("ctx.reveal"), language);
    default: return {};
    }
}

void FolderRowPainter::paint(QPainter &painter, const QRectF &rect, const Input &input, const PaneColors &c)
{
    const FolderFonts &f = fonts();
    const Layout l = layout(rect, input);
    const TreeRow &row = *input.row;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (input.isHovered) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(c.hoverFill());
        painter.drawRoundedRect(l.background, 6, 6);
    }
    TreeRowPainting::paintGuides(painter, rect, row.depth, row.ancestorHasNextSibling, row.isLastInParent, c.dark);

    painter.save();
    painter.translate(l.chevron.center());
    if (input.chevronAngle >= 0)
        painter.rotate(input.chevronAngle);
    else if (row.isExpanded)
        painter.rotate(90);
    PaneStyle::drawGlyph(painter, QStringLiteral("chevron.right"), QRectF(-5, -5, 10, 10), c.tertiaryLabel);
    painter.restore();
    PaneStyle::drawGlyph(painter, row.isExpanded ? QStringLiteral("folder.fill") : QStringLiteral("folder"),
                         l.icon.adjusted(1, 1, -1, -1), row.isExpanded ? c.accent : c.secondaryLabel);

    painter.setFont(f.name);
    painter.setPen(c.label);
    painter.drawText(l.name.adjusted(0, 0, 2, 0), Qt::AlignLeft | Qt::AlignVCenter, l.nameText);

    painter.setPen(Qt::NoPen);
    painter.setBrush(c.hoverFill());
    painter.drawRoundedRect(l.count, l.count.height() / 2, l.count.height() / 2);
    painter.setFont(f.count);
    painter.setPen(c.secondaryLabel);
    painter.drawText(l.count, Qt::AlignCenter, l.countText);

    if (input.isHovered) {
        TreeRowPainting::paintIconButton(painter, l.moveButton, QStringLiteral("folder.badge.arrow.right"),
                                         input.hoveredPart == Part::moveButton, false, false, c);
        TreeRowPainting::paintIconButton(painter, l.revealButton, QStringLiteral("arrow.up.forward.square"),
                                         input.hoveredPart == Part::revealButton, false, false, c);
    }
    painter.setFont(f.size);
    painter.setPen(c.tertiaryLabel);
    painter.drawText(l.size, Qt::AlignRight | Qt::AlignVCenter, l.sizeText);
    painter.restore();
}

void FolderRowPainter::click(AppState &state, const VideoFolderNode &folder) { state.toggleFolder(folder.id()); }

void FolderRowPainter::moveFolderVideos(AppState &state, const VideoFolderNode &folder) { state.prepareMove(folder); }

void FolderRowPainter::reveal(const VideoFolderNode &folder) { DesktopServices::revealInFileManager({folder.url()}); }

QMenu *FolderRowPainter::makeContextMenu(AppState &state, const VideoFolderNodePtr &folder, bool isExpanded,
                                         QWidget *parent)
{
    QMenu *menu = new QMenu(parent);
    const AppLanguage lang = state.language();
    AppState *s = &state;
    auto item = [&](const QString &key, const QString &title, std::function<void()> action) {
        QAction *a = menu->addAction(QString(title).replace('&', QStringLiteral("&&")));
        a->setObjectName(key);
        QObject::connect(a, &QAction::triggered, menu, std::move(action));
    };
    const QString toggleKey = isExpanded ? QStringLiteral("ctx.collapse") : QStringLiteral("ctx.expand");
    item(toggleKey, L10n::text(toggleKey, lang), [s, folder] { s->toggleFolder(folder->id()); });
    menu->addSeparator();
    item(QStringLiteral("ctx.moveFolderVideos"),
         L10n::text(QStringLiteral("ctx.moveFolderVideos"), lang) + QStringLiteral(" (") +
             QString::number(folder->totalVideoCount) + QLatin1Char(')'),
         [s, folder] { s->prepareMove(*folder); });
    if (QAction *move = menu->findChild<QAction *>(QStringLiteral("ctx.moveFolderVideos")))
        move->setEnabled(Availability::isAvailable(s, Availability::View::moveSheet));
    item(QStringLiteral("ctx.reveal"), L10n::text(QStringLiteral("ctx.reveal"), lang), [s, folder] { DesktopActions::reveal(s, {folder->url()}); });
    item(QStringLiteral("ctx.copyPath"), L10n::text(QStringLiteral("ctx.copyPath"), lang), [s, folder] {
        DesktopServices::copyToClipboard(folder->url().toLocalFile());
        s->showToast(L10n::text(QStringLiteral("toast.pathCopied"), s->language()), false, false);
    });
    return menu;
}
