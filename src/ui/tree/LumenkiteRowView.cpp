#include "ui/tree/LumenkiteRowView.h"
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
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

struct RowFonts {
    QFont nameRegular = PaneStyle::font(12.5, QFont::Normal);
    QFont nameBold = PaneStyle::font(12.5, QFont::DemiBold);
    QFont resolution = PaneStyle::font(10, QFont::Medium, true);
    QFont duration = PaneStyle::font(10.5, QFont::Medium);
    QFont date = PaneStyle::font(11, QFont::Normal);
    QFont size = PaneStyle::font(11.5, QFont::Medium);
    QFont badgeNumber = PaneStyle::font(9.5, QFont::DemiBold);
    QFont badgeReason = PaneStyle::font(9.5, QFont::Medium);
    QFontMetricsF mNameRegular{nameRegular}, mNameBold{nameBold}, mResolution{resolution}, mDuration{duration},
        mDate{date}, mSize{size}, mBadgeNumber{badgeNumber}, mBadgeReason{badgeReason};
};

const RowFonts &fonts()
{
    static const RowFonts f;
    return f;
}

constexpr double kBadgeSymbol = 9;
constexpr double kBadgeHeight = 15;

double badgeWidth(const SearchMatchBadge &b)
{
    const RowFonts &f = fonts();
    double w = 6 + kBadgeSymbol + 3 + f.mBadgeNumber.horizontalAdvance(b.percentText);
    if (b.timeText)
        w += 3 + f.mBadgeNumber.horizontalAdvance(*b.timeText);
    if (!b.reason.isEmpty())
        w += 3 + f.mBadgeReason.horizontalAdvance(b.reason);
    return std::ceil(w + 6);
}

QString mediaDateText(const VideoFile &video, AppLanguage language)
{
    return formatDate(video.modifiedDate, uiLocale(language));
}

} // namespace

std::optional<SearchMatchBadge> LumenkiteRowView::searchBadge(const VisualSearchHit &hit,
                                                              const VideoVisualIndexEntry *entry, AppLanguage language)
{
    if (!(hit.score > 0))
        return std::nullopt;
    SearchMatchBadge b;
    b.symbol = hit.isSpeechMatch ? QStringLiteral("waveform")
               : hit.isOCRMatch  ? QStringLiteral("text.viewfinder")
                                 : QStringLiteral("sparkle.magnifyingglass");
    b.percentText = QString::number(qint64(std::llround(hit.score * 100))) + QLatin1Char('%');
    if (hit.bestTimestamp)
        b.timeText = formatDuration(*hit.bestTimestamp);
    if (hit.isSpeechMatch)
        b.reason = L10n::text(QStringLiteral("speech.match"), language);
    else if (hit.isOCRMatch)
        b.reason = L10n::text(QStringLiteral("ai.textMatch"), language);
    else if (!hit.bestTimestamp && entry) {
        const QStringList labels = topLabels(*entry);
        if (!labels.isEmpty())
            b.reason = labels.first();
    }
    return b;
}

QStringList LumenkiteRowView::topLabels(const VideoVisualIndexEntry &entry) { return entry.topLabels(); }

LumenkiteRowView::Layout LumenkiteRowView::layout(const QRectF &rect, const Input &input)
{
    const RowFonts &f = fonts();
    Layout l;
    l.background = rect.adjusted(6, 0, -6, 0);
    const double cy = rect.center().y();
    const double left = rect.left() + input.depth * TreeRowPainting::kIndentWidth + 10;
    const double right = rect.right() - 10;

    l.checkbox = QRectF(left, cy - 8, 16, 16);
    l.thumbnail = QRectF(left + 26, cy - kThumbnailHeight / 2, kThumbnailWidth, kThumbnailHeight);
    const double textLeft = l.thumbnail.right() + 10;

    const VideoFile *video = input.video;
    l.sizeText = video ? formatByteCount(video->fileSize) : QString();
    const double sizeWidth = std::max(kSizeMinWidth, std::ceil(f.mSize.horizontalAdvance(l.sizeText)));
    l.size = QRectF(right - sizeWidth, cy - 9, sizeWidth, 18);

    double trailingLeft;
    if (input.isHovered) {
        const double b = TreeRowPainting::kIconButtonSize;
        const double x = l.size.left() - 10 - (3 * b + 4);
        l.playButton = QRectF(x, cy - b / 2, b, b);
        l.moveButton = QRectF(x + b + 2, cy - b / 2, b, b);
        l.trashButton = QRectF(x + 2 * (b + 2), cy - b / 2, b, b);
        trailingLeft = x;
    } else {
        l.dateText = video ? mediaDateText(*video, input.language) : QString();
        const double dateWidth = std::max(kDateMinWidth, std::ceil(f.mDate.horizontalAdvance(l.dateText)));
        l.date = QRectF(l.size.left() - 10 - dateWidth, cy - 9, dateWidth, 18);
        trailingLeft = l.date.left();
    }
    // Text, spacing, a spacer of at least 8, spacing, then the trailing columns.
    const auto nameRoom = [&] { return std::max(0.0, trailingLeft - 10 - 8 - 10 - textLeft); };
    const QFontMetricsF &nameMetrics = input.isPrimarySelection ? f.mNameBold : f.mNameRegular;
    const QString name = video ? FileNames::display(video->name) : QString(); // one line, whatever it holds
    // In a narrow pane or a deep folder the name matters more than the date, which the
    // inspector shows too: the date gives way before the name is cut to a few letters.
    if (!input.isHovered && nameRoom() < kNameRoomBeforeDateGoes && nameMetrics.horizontalAdvance(name) > nameRoom()) {
        l.dateText.clear();
        l.date = QRectF(l.size.left() - 10, cy - 9, 0, 18);
        trailingLeft = l.date.left();
    }
    const double available = nameRoom();
    l.nameText = nameMetrics.elidedText(name, Qt::ElideMiddle, available);
    const double nameHeight = std::ceil(nameMetrics.height());
    const QSizeF badgeSize = TreeRowPainting::formatBadgeSize(video ? video->fileExtension : QString());
    const double detailsHeight = std::max(badgeSize.height(), kBadgeHeight);
    const double top = std::round(cy - (nameHeight + 2 + detailsHeight) / 2);
    l.name = QRectF(textLeft, top, std::min(available, std::ceil(nameMetrics.horizontalAdvance(l.nameText))), nameHeight);

    const double detailsTop = top + nameHeight + 2;
    const double detailsMid = detailsTop + detailsHeight / 2;
    double x = textLeft;
    l.formatBadge = QRectF(QPointF(x, detailsMid - badgeSize.height() / 2), badgeSize);
    x = l.formatBadge.right() + 6;
    if (input.mediaInfo) {
        if (const auto label = input.mediaInfo->resolutionLabel()) {
            l.resolutionText = *label;
            const double w = std::ceil(f.mResolution.horizontalAdvance(l.resolutionText));
            l.resolution = QRectF(x, detailsMid - 7, w, 14);
            x = l.resolution.right() + 6;
        }
        const auto d = input.mediaInfo->duration;
        if (d && std::isfinite(*d) && *d > 0) {
            l.durationText = QStringLiteral("· ") + formatDuration(*d);
            const double w = std::ceil(f.mDuration.horizontalAdvance(l.durationText));
            l.duration = QRectF(x, detailsMid - 7, w, 14);
            x = l.duration.right() + 6;
        }
    }
    if (input.badge)
        l.matchBadge = QRectF(x, detailsMid - kBadgeHeight / 2, badgeWidth(*input.badge), kBadgeHeight);
    return l;
}

LumenkiteRowView::Part LumenkiteRowView::hitTest(const Layout &l, const QPointF &p)
{
    if (l.playButton.contains(p))
        return Part::playButton;
    if (l.moveButton.contains(p))
        return Part::moveButton;
    if (l.trashButton.contains(p))
        return Part::trashButton;
    if (l.checkbox.contains(p))
        return Part::checkbox;
    if (!l.matchBadge.isEmpty() && l.matchBadge.contains(p))
        return Part::matchBadge;
    return Part::row;
}

QString LumenkiteRowView::toolTip(Part part, AppLanguage language)
{
    switch (part) {
    case Part::playButton: return L10n::text(QStringLiteral("ctx.play"), language);
    case Part::moveButton: return L10n::text(QStringLiteral("ctx.move"), language);
    case Part::trashButton: return L10n::text(QStringLiteral("ctx.trash"), language);
    case Part::matchBadge: return L10n::text(QStringLiteral("ai.jumpToMoment"), language);
    default: return {};
    }
}

void LumenkiteRowView::paint(QPainter &painter, const QRectF &rect, const Input &input, const PaneColors &c)
{
    const RowFonts &f = fonts();
    const Layout l = layout(rect, input);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);

    if (input.isSelected || input.isHovered) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(input.isSelected ? c.accentFill() : c.hoverFill());
        painter.drawRoundedRect(l.background, 6, 6);
    }
    TreeRowPainting::paintGuides(painter, rect, input.depth, input.ancestorHasNextSibling, input.isLastInParent, c.dark);

    if (input.checkboxVisible) {
        const QColor tint = input.isChecked ? c.accent : PaneColors::alpha(c.tertiaryLabel, 0.7);
        PaneStyle::drawGlyph(painter, input.isChecked ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle"),
                             l.checkbox.adjusted(1, 1, -1, -1), tint);
    }

    // Thumbnail: control background, the image filling the frame, or the film symbol.
    QPainterPath frame;
    frame.addRoundedRect(l.thumbnail, 5, 5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(c.controlBackground);
    painter.drawPath(frame);
    if (input.thumbnail && !input.thumbnail->isNull()) {
        const QImage &img = *input.thumbnail;
        const double target = l.thumbnail.width() / l.thumbnail.height();
        QRectF src(0, 0, img.width(), img.height());
        if (src.width() / src.height() > target)
            src.setWidth(src.height() * target);
        else
            src.setHeight(src.width() / target);
        src.moveCenter(QPointF(img.width() / 2.0, img.height() / 2.0));
        painter.save();
        painter.setClipPath(frame);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(l.thumbnail, img, src);
        painter.restore();
    } else {
        PaneStyle::drawGlyph(painter, QStringLiteral("film"),
                             QRectF(l.thumbnail.center().x() - 6, l.thumbnail.center().y() - 6, 12, 12), c.tertiaryLabel);
    }
    if (input.isPrimarySelection) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, qRound(0.28 * 255)));
        painter.drawPath(frame);
        PaneStyle::drawGlyph(painter, QStringLiteral("play.fill"),
                             QRectF(l.thumbnail.center().x() - 4.5, l.thumbnail.center().y() - 4.5, 9, 9), Qt::white);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(c.outline(), 0.5));
    painter.drawPath(frame);

    // Name and details.
    painter.setFont(input.isPrimarySelection ? f.nameBold : f.nameRegular);
    painter.setPen(c.label);
    painter.drawText(l.name.adjusted(0, 0, 2, 0), Qt::AlignLeft | Qt::AlignVCenter, l.nameText);

    const double textRight = (input.isHovered ? l.playButton.left() : l.date.left()) - 28;
    painter.save();
    painter.setClipRect(QRectF(l.formatBadge.left(), rect.top(), std::max(0.0, textRight - l.formatBadge.left()), rect.height()));
    TreeRowPainting::paintFormatBadge(painter, l.formatBadge.topLeft(), input.video ? input.video->fileExtension : QString(), c);
    if (!l.resolutionText.isEmpty()) {
        painter.setFont(f.resolution);
        painter.setPen(c.tertiaryLabel);
        painter.drawText(l.resolution.adjusted(0, 0, 2, 0), Qt::AlignLeft | Qt::AlignVCenter, l.resolutionText);
    }
    if (!l.durationText.isEmpty()) {
        painter.setFont(f.duration);
        painter.setPen(c.tertiaryLabel);
        painter.drawText(l.duration.adjusted(0, 0, 2, 0), Qt::AlignLeft | Qt::AlignVCenter, l.durationText);
    }
    if (input.badge) {
        const SearchMatchBadge &b = *input.badge;
        const QRectF r = l.matchBadge;
        painter.setPen(Qt::NoPen);
        painter.setBrush(c.accentFill());
        painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        double x = r.left() + 6;
        PaneStyle::drawGlyph(painter, b.symbol, QRectF(x, r.center().y() - kBadgeSymbol / 2, kBadgeSymbol, kBadgeSymbol), c.accent);
        x += kBadgeSymbol + 3;
        painter.setPen(c.accent);
        auto text = [&](const QFont &font, const QFontMetricsF &m, const QString &s) {
            painter.setFont(font);
            const double w = m.horizontalAdvance(s);
            painter.drawText(QRectF(x, r.top(), w + 2, r.height()), Qt::AlignLeft | Qt::AlignVCenter, s);
            x += w + 3;
        };
        text(f.badgeNumber, f.mBadgeNumber, b.percentText);
        if (b.timeText)
            text(f.badgeNumber, f.mBadgeNumber, *b.timeText);
        if (!b.reason.isEmpty())
            text(f.badgeReason, f.mBadgeReason, b.reason);
    }
    painter.restore();

    // Trailing columns.
    if (input.isHovered) {
        TreeRowPainting::paintIconButton(painter, l.playButton, QStringLiteral("play.fill"),
                                         input.hoveredPart == Part::playButton, false, false, c);
        TreeRowPainting::paintIconButton(painter, l.moveButton, QStringLiteral("folder.badge.arrow.right"),
                                         input.hoveredPart == Part::moveButton, false, false, c);
        TreeRowPainting::paintIconButton(painter, l.trashButton, QStringLiteral("trash"),
                                         input.hoveredPart == Part::trashButton, false, true, c);
    } else {
        painter.setFont(f.date);
        painter.setPen(c.tertiaryLabel);
        painter.drawText(l.date, Qt::AlignRight | Qt::AlignVCenter, l.dateText);
    }
    painter.setFont(f.size);
    painter.setPen(input.isPrimarySelection ? c.label : c.secondaryLabel);
    painter.drawText(l.size, Qt::AlignRight | Qt::AlignVCenter, l.sizeText);
    painter.restore();
}

// ---- actions ----

void LumenkiteRowView::playAction(AppState &state, const VideoFile &video)
{
    state.selectVideo(video);
    state.setShowInspector(true);
    state.setPlaybackToggleSignal(state.playbackToggleSignal() + 1);
}

QList<VideoFile> LumenkiteRowView::selectionOrRow(const AppState &state, const VideoFile &video)
{
    if (state.selectedVideoIDs().contains(video.id))
        return state.selectedVideos();
    return {video};
}

void LumenkiteRowView::click(AppState &state, const VideoFile &video, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::ControlModifier)
        state.toggleSelection(video);
    else
        state.selectVideo(video);
}

void LumenkiteRowView::toggleCheckbox(AppState &state, const VideoFile &video) { state.toggleSelection(video); }

void LumenkiteRowView::moveRowVideo(AppState &state, const VideoFile &video)
{
    state.setVideosPendingMove({video});
    state.setShowMoveSheet(true);
}

void LumenkiteRowView::trashRowVideo(AppState &state, const VideoFile &video) { state.moveSelectedToTrash({video}); }

void LumenkiteRowView::showInInspector(AppState &state, const VideoFile &video)
{
    const auto it = state.aiSearchHits().constFind(video.id);
    if (it != state.aiSearchHits().constEnd() && it->bestTimestamp) {
        state.select(video, *it->bestTimestamp);
        return;
    }
    state.selectVideo(video);
    state.setShowInspector(true);
}

QMenu *LumenkiteRowView::makeContextMenu(AppState &state, const VideoFile &video, QWidget *parent)
{
    QMenu *menu = new QMenu(parent);
    const AppLanguage lang = state.language();
    AppState *s = &state;
    auto item = [&](const char *key, std::function<void()> action, bool destructive = false) {
        // Shown verbatim: an ampersand in a title is not a mnemonic marker.
        QAction *a = menu->addAction(L10n::text(QString::fromLatin1(key), lang).replace('&', QStringLiteral("&&")));
        a->setObjectName(QString::fromLatin1(key));
        a->setProperty("destructive", destructive);
        QObject::connect(a, &QAction::triggered, menu, std::move(action));
    };
    // Targets are decided when an item is chosen, from the selection of that moment.
    item("ctx.play", [s, video] { playAction(*s, video); });
    item("ctx.trim", [s, video] {
        s->selectVideo(video);
        s->setVideoPendingEdit(video);
    });
    item("sidebar.compress", [s, video] {
        s->setVideosPendingCompression(selectionOrRow(*s, video));
        s->setShowBatchCompressSheet(true);
    });
    item("speech.transcribe", [s, video] {
        s->selectVideo(video);
        s->setShowInspector(true);
        s->transcribeSelected(video);
    });
    item("ctx.openDefault", [s, video] { DesktopActions::open(s, video.url()); });
    item("ctx.reveal", [s, video] { DesktopActions::reveal(s, {video.url()}); });
    menu->addSeparator();
    item("ctx.move", [s, video] {
        const QList<VideoFile> list = selectionOrRow(*s, video);
        if (list.isEmpty())
            return;
        s->setVideosPendingMove(list);
        s->setShowMoveSheet(true);
    });
    item("ctx.copyPath", [s, video] {
        DesktopServices::copyToClipboard(video.url().toLocalFile());
        s->showToast(L10n::text(QStringLiteral("toast.pathCopied"), s->language()), false, false);
    });
    using Availability::View;
    for (const auto &[key, view] : {std::pair{"ctx.trim", View::editorSheet}, std::pair{"sidebar.compress", View::batchCompressSheet},
                                    std::pair{"ctx.move", View::moveSheet}})
        if (QAction *a = menu->findChild<QAction *>(QString::fromLatin1(key)))
            a->setEnabled(Availability::isAvailable(s, view));
    menu->addSeparator();
    item("ctx.trash", [s, video] { s->moveSelectedToTrash(selectionOrRow(*s, video)); }, true);
    item("ctx.deletePerm", [s, video] {
        const QList<VideoFile> list = selectionOrRow(*s, video);
        if (list.isEmpty())
            return;
        s->setVideosPendingPermanentDelete(list);
        s->setShowPermanentDeleteAlert(true);
    }, true);
    return menu;
}
