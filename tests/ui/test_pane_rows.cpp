// Layout rules of the painted tree rows: columns that line up, hover buttons in place of the
// date, the details line, the checkbox and the search-match badge.

#include "PaneFixture.h"

#include "library/FileNames.h"
#include "ui/tree/FolderRowPainter.h"
#include "ui/tree/LumenkiteRowView.h"
#include "ui/tree/TreeRowPainting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <limits>

using panetest::video;

namespace {

LumenkiteRowView::Input inputFor(const VideoFile &v, int depth = 0)
{
    LumenkiteRowView::Input in;
    in.depth = depth;
    in.video = &v;
    return in;
}

} // namespace

TEST(VideoRowLayout, TrailingColumnsLineUpAcrossRowsWithMinimumWidths)
{
    const QRectF rect(0, 0, 700, LumenkiteRowView::kHeight);
    const QList<VideoFile> videos{video("/a/x.mp4", 1), video("/a/b/c/very long name of a clip.mkv", 999'999'999'999),
                                  video("/a/y.mov", 5'000)};
    std::optional<QRectF> firstDate, firstSize;
    for (int depth : {0, 3}) {
        for (const VideoFile &v : videos) {
            const auto l = LumenkiteRowView::layout(rect, inputFor(v, depth));
            EXPECT_GE(l.date.width(), LumenkiteRowView::kDateMinWidth);
            EXPECT_GE(l.size.width(), LumenkiteRowView::kSizeMinWidth);
            EXPECT_DOUBLE_EQ(l.size.right(), rect.right() - 10);
            EXPECT_DOUBLE_EQ(l.date.right(), l.size.left() - 10);
            // Short texts all take the minimum widths, so the columns start at one x.
            if (v.fileSize < 1'000'000'000) {
                if (!firstDate) {
                    firstDate = l.date;
                    firstSize = l.size;
                }
                EXPECT_EQ(l.date, *firstDate);
                EXPECT_EQ(l.size, *firstSize);
            }
            // The text never reaches into the trailing columns.
            EXPECT_LE(l.name.right(), l.date.left() - 28 + 0.01);
        }
    }
}

TEST(VideoRowLayout, InANarrowPaneALongNameTakesTheDatesPlace)
{
    // The tree pane at its smallest, three folders down.
    const QRectF narrow(0, 0, 410, LumenkiteRowView::kHeight), wide(0, 0, 700, LumenkiteRowView::kHeight);
    const VideoFile longName = video("/a/b/c/description of the clip.mp4"), shortName = video("/a/b/c/x.mp4");
    const struct {
        const VideoFile *video;
        QRectF rect;
        bool dateShown;
    } cases[] = {{&longName, narrow, false}, {&shortName, narrow, true}, {&longName, wide, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.video->name.toStdString() + " at " + std::to_string(int(c.rect.width())));
        const auto l = LumenkiteRowView::layout(c.rect, inputFor(*c.video, 3));
        EXPECT_EQ(!l.dateText.isEmpty(), c.dateShown);
        EXPECT_EQ(l.date.width() > 0, c.dateShown);
        EXPECT_LE(l.name.right(), l.date.left() - 28 + 0.01);
        if (!c.dateShown) { // far more of the name than the few letters the date left it
            EXPECT_GE(l.name.width(), 130) << l.nameText.toStdString();
        }
    }
}

TEST(VideoRowLayout, IndentationMovesTheLeadingItemsByTwentyPerLevel)
{
    const VideoFile v = video("/a/x.mp4");
    const QRectF rect(0, 0, 600, 44);
    const auto top = LumenkiteRowView::layout(rect, inputFor(v, 0));
    const auto deep = LumenkiteRowView::layout(rect, inputFor(v, 2));
    EXPECT_DOUBLE_EQ(top.checkbox.left(), 10);
    EXPECT_DOUBLE_EQ(deep.checkbox.left(), 50);
    EXPECT_DOUBLE_EQ(deep.thumbnail.left() - deep.checkbox.left(), 26);
    EXPECT_EQ(deep.thumbnail.size(), QSizeF(48, 28));
    EXPECT_EQ(top.background, rect.adjusted(6, 0, -6, 0));
}

TEST(VideoRowLayout, HoverShowsThreeButtonsInPlaceOfTheDate)
{
    const VideoFile v = video("/a/x.mp4");
    auto in = inputFor(v);
    const QRectF rect(0, 0, 600, 44);
    const auto resting = LumenkiteRowView::layout(rect, in);
    EXPECT_FALSE(resting.dateText.isEmpty());
    EXPECT_TRUE(resting.playButton.isEmpty());
    EXPECT_EQ(LumenkiteRowView::hitTest(resting, resting.date.center()), LumenkiteRowView::Part::row);

    in.isHovered = true;
    const auto hovered = LumenkiteRowView::layout(rect, in);
    EXPECT_TRUE(hovered.date.isEmpty());
    EXPECT_EQ(hovered.size, resting.size);
    EXPECT_EQ(hovered.playButton.size(), QSizeF(26, 26));
    EXPECT_DOUBLE_EQ(hovered.moveButton.left() - hovered.playButton.right(), 2);
    EXPECT_DOUBLE_EQ(hovered.trashButton.right(), hovered.size.left() - 10);
    const struct {
        QPointF point;
        LumenkiteRowView::Part part;
    } hits[] = {{hovered.playButton.center(), LumenkiteRowView::Part::playButton},
                {hovered.moveButton.center(), LumenkiteRowView::Part::moveButton},
                {hovered.trashButton.center(), LumenkiteRowView::Part::trashButton},
                {hovered.checkbox.center(), LumenkiteRowView::Part::checkbox},
                {hovered.name.center(), LumenkiteRowView::Part::row},
                {hovered.thumbnail.center(), LumenkiteRowView::Part::row}};
    for (const auto &h : hits)
        EXPECT_EQ(LumenkiteRowView::hitTest(hovered, h.point), h.part);
}

TEST(VideoRowLayout, DetailsShowResolutionAndOnlyPositiveFiniteDurations)
{
    const VideoFile v = video("/a/x.mp4");
    const struct {
        std::optional<double> duration;
        QString expected;
    } cases[] = {{65.9, "· 1:05"},
                 {3600, "· 1:00:00"},
                 {0.0, ""},
                 {-3.0, ""},
                 {std::numeric_limits<double>::infinity(), ""},
                 {std::numeric_limits<double>::quiet_NaN(), ""},
                 {std::nullopt, ""}};
    for (const auto &c : cases) {
        VideoMediaInfo info;
        info.duration = c.duration;
        info.width = 1920;
        info.height = 1080;
        auto in = inputFor(v);
        in.mediaInfo = &info;
        const auto l = LumenkiteRowView::layout(QRectF(0, 0, 600, 44), in);
        EXPECT_EQ(l.durationText, c.expected);
        EXPECT_EQ(l.resolutionText, "1080p");
        EXPECT_GT(l.resolution.left(), l.formatBadge.right());
    }
    // No facts yet: neither item.
    const auto bare = LumenkiteRowView::layout(QRectF(0, 0, 600, 44), inputFor(v));
    EXPECT_TRUE(bare.resolutionText.isEmpty());
    EXPECT_TRUE(bare.durationText.isEmpty());
}

TEST(VideoRowLayout, LongNamesAreCutInTheMiddle)
{
    const VideoFile v = video("/a/an extremely long file name that cannot possibly fit in a narrow row.mp4");
    const auto l = LumenkiteRowView::layout(QRectF(0, 0, 380, 44), inputFor(v));
    EXPECT_TRUE(l.nameText.startsWith("an")) << l.nameText.toStdString();
    EXPECT_TRUE(l.nameText.endsWith(".mp4")) << l.nameText.toStdString();
    EXPECT_TRUE(l.nameText.contains(QChar(0x2026)));
}

TEST(VideoRowLayout, CheckboxVisibility)
{
    const struct {
        bool hovered;
        qsizetype count;
        bool inSelection;
        bool visible;
    } cases[] = {{false, 0, false, false}, {false, 1, false, false}, {false, 1, true, true},
                 {true, 0, false, true},   {false, 2, false, true},  {false, 2, true, true}};
    for (const auto &c : cases)
        EXPECT_EQ(LumenkiteRowView::isCheckboxVisible(c.hovered, c.count, c.inSelection), c.visible)
            << c.hovered << " " << c.count << " " << c.inSelection;
}

TEST(SearchMatchBadge, SymbolPercentTimeAndReason)
{
    VideoVisualIndexEntry entry;
    entry.labelsEN = {{"sea_shore", 0.9f}, {"sky", 0.5f}};
    const struct {
        VisualSearchHit hit;
        bool withEntry;
        std::optional<SearchMatchBadge> expected;
    } cases[] = {
        {{0.004, std::nullopt, {}, false, false}, true, SearchMatchBadge{"sparkle.magnifyingglass", "0%", std::nullopt, "sea shore"}},
        {{0.0, 12.0, {}, false, false}, true, std::nullopt},
        {{-0.5, std::nullopt, {}, false, false}, false, std::nullopt},
        {{0.42, std::nullopt, {}, false, true}, false, SearchMatchBadge{"waveform", "42%", std::nullopt, "Speech"}},
        {{0.875, 65.0, {}, true, false}, false, SearchMatchBadge{"text.viewfinder", "88%", QString("1:05"), "Text match"}},
        {{0.5, 3.0, {}, false, false}, true, SearchMatchBadge{"sparkle.magnifyingglass", "50%", QString("0:03"), ""}},
        {{0.5, std::nullopt, {}, false, false}, false, SearchMatchBadge{"sparkle.magnifyingglass", "50%", std::nullopt, ""}},
        // Speech wins over on-screen text for both the symbol and the reason.
        {{0.3, 1.0, {}, true, true}, false, SearchMatchBadge{"waveform", "30%", QString("0:01"), "Speech"}},
    };
    for (const auto &c : cases) {
        const auto badge = LumenkiteRowView::searchBadge(c.hit, c.withEntry ? &entry : nullptr, AppLanguage::en);
        EXPECT_EQ(badge, c.expected) << c.hit.score;
    }
    const auto de = LumenkiteRowView::searchBadge({0.3, 1.0, {}, false, true}, nullptr, AppLanguage::de);
    EXPECT_EQ(de->reason, L10n::text("speech.match", AppLanguage::de));
}

TEST(SearchMatchBadge, SitsAfterTheDetailsAndTakesClicks)
{
    const VideoFile v = video("/a/x.mp4");
    VideoMediaInfo info;
    info.duration = 10;
    auto in = inputFor(v);
    in.mediaInfo = &info;
    in.badge = SearchMatchBadge{"waveform", "42%", std::nullopt, "Speech"};
    const auto l = LumenkiteRowView::layout(QRectF(0, 0, 700, 44), in);
    EXPECT_GT(l.matchBadge.left(), l.duration.right());
    EXPECT_EQ(LumenkiteRowView::hitTest(l, l.matchBadge.center()), LumenkiteRowView::Part::matchBadge);
}

TEST(TreeGuides, AncestorColumnsFollowTheSiblingsOfTheEnclosingFolders)
{
    // Depth 3 below folders at depths 0, 1, 2: column 0 continues while the depth-1 folder
    // has a sibling, column 1 while the depth-2 folder has one; column 2 is the elbow.
    const QList<bool> guides{true, false, true};
    EXPECT_FALSE(TreeRowPainting::guideColumnHasLine(0, 3, guides));
    EXPECT_TRUE(TreeRowPainting::guideColumnHasLine(1, 3, guides));
    EXPECT_FALSE(TreeRowPainting::guideColumnHasLine(2, 3, guides));
    EXPECT_FALSE(TreeRowPainting::guideColumnHasLine(0, 1, {true}));

    // The last child's elbow stops at mid-height; another child's runs to the bottom.
    const auto paintedBelowMiddle = [](bool last) {
        QImage image(40, 44, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        TreeRowPainting::paintGuides(p, QRectF(0, 0, 40, 44), 1, {false}, last, false);
        p.end();
        return image.pixelColor(9, 40) != QColor(Qt::white);
    };
    EXPECT_FALSE(paintedBelowMiddle(true));
    EXPECT_TRUE(paintedBelowMiddle(false));
}

TEST(TreeGuides, ElbowAndAncestorLinesSitInTheirColumns)
{
    using TreeRowPainting::guideGeometry;
    const auto top = guideGeometry(33, 0, {}, true, 20);
    EXPECT_TRUE(top.ancestorLineX.isEmpty());
    EXPECT_FALSE(top.elbowVertical.has_value());

    const auto lastChild = guideGeometry(33, 1, {false}, true, 20);
    EXPECT_EQ(lastChild.elbowVertical->p2().y(), 16.5);
    EXPECT_EQ(lastChild.elbowVertical->x1(), 9.5);
    const auto middleChild = guideGeometry(33, 1, {true}, false, 20);
    EXPECT_EQ(middleChild.elbowVertical->p2().y(), 33);
    EXPECT_EQ(middleChild.elbowHorizontal->x2(), 17);

    // Depth 3: two ancestor columns decided by the folders at depths 1 and 2, elbow in column 2.
    const auto deep = guideGeometry(33, 3, {true, true, false}, false, 20);
    EXPECT_EQ(deep.ancestorLineX, QList<double>({9}));
    EXPECT_EQ(deep.elbowVertical->x1(), 49.5);
    EXPECT_EQ(deep.elbowHorizontal->x2(), 57);
    EXPECT_EQ(guideGeometry(33, 3, {false, false, true}, true, 20).ancestorLineX, QList<double>({29}));
}

TEST(FolderRowLayout, HoverButtonsAndSizeColumn)
{
    const auto state = panetest::makeState();
    const qsizetype index = panetest::rowIndex(*state, "folder:/lib/Trips");
    ASSERT_GE(index, 0);
    const TreeRow &row = state->flattenedRows().at(index);
    FolderRowPainter::Input in;
    in.row = &row;
    const QRectF rect(0, 0, 600, FolderRowPainter::kHeight);
    const auto resting = FolderRowPainter::layout(rect, in);
    EXPECT_TRUE(resting.moveButton.isEmpty());
    EXPECT_EQ(resting.countText, "3");
    EXPECT_EQ(resting.sizeText, formatByteCount(row.folder().totalSize));
    // The chevron starts one indent column further in per level.
    EXPECT_EQ(resting.chevron.left(), row.depth * TreeRowPainting::kIndentWidth + 10);
    EXPECT_GE(resting.size.width(), FolderRowPainter::kSizeMinWidth);
    EXPECT_EQ(FolderRowPainter::hitTest(resting, resting.name.center()), FolderRowPainter::Part::row);
    in.isHovered = true;
    const auto hovered = FolderRowPainter::layout(rect, in);
    EXPECT_EQ(FolderRowPainter::hitTest(hovered, hovered.moveButton.center()), FolderRowPainter::Part::moveButton);
    EXPECT_EQ(FolderRowPainter::hitTest(hovered, hovered.revealButton.center()), FolderRowPainter::Part::revealButton);
    EXPECT_LT(hovered.revealButton.right(), hovered.size.left());
    EXPECT_EQ(FolderRowPainter::toolTip(FolderRowPainter::Part::moveButton, AppLanguage::en),
              L10n::text("ctx.moveFolderVideos", AppLanguage::en));
    EXPECT_EQ(FolderRowPainter::toolTip(FolderRowPainter::Part::revealButton, AppLanguage::en),
              L10n::text("ctx.reveal", AppLanguage::en));
}

// A name may hold line breaks, other control characters and bytes that are not UTF-8: the
// row draws it on one line, each such character visible.
TEST(VideoRowLayout, NamesWithLineBreaksStayOnOneLine)
{
    const VideoFile v = *VideoFile::make(FileNames::decode(QByteArray("/a/two\nlines\r\t\xff.mp4")), 10,
                                         QDateTime::currentDateTime(), std::nullopt);
    const auto l = LumenkiteRowView::layout(QRectF(0, 0, 600, 44), inputFor(v));
    EXPECT_EQ(l.nameText, QString::fromUtf8("two\u23CElines\u23CE\uFFFD\uFFFD.mp4"));
    QFontMetricsF metrics(QApplication::font());
    EXPECT_LT(metrics.boundingRect(l.name, Qt::AlignLeft | Qt::AlignVCenter, l.nameText).height(),
              1.5 * metrics.height());
}
