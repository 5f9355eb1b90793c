// The virtualised tree list: row geometry, loading only what is visible, stale answers,
// and keeping the primary selection in view.

#include "PaneFixture.h"

#include "ui/tree/TreeListView.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QScrollBar>
#include <QTest>

using panetest::ManualMediaService;
using panetest::video;

namespace {

QList<VideoFile> flatLibrary(int count, const QString &folder = "/big")
{
    QList<VideoFile> videos;
    for (int i = 0; i < count; ++i)
        videos.append(video(QStringLiteral("%1/clip%2.mp4").arg(folder).arg(i, 5, 10, QChar('0'))));
    return videos;
}

struct ListFixture {
    std::unique_ptr<AppState> state;
    ManualMediaService service;
    std::unique_ptr<TreeListView> list;

    explicit ListFixture(const QList<VideoFile> &videos, const QString &root = "/big")
        : state(panetest::makeState(videos, root))
    {
        list = std::make_unique<TreeListView>(state.get());
        list->setMediaService(&service);
        list->resize(500, 300);
        list->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(list.get()));
    }
};

} // namespace

TEST(TreeList, RowOffsetsAndHitTestingFollowTheRowHeights)
{
    const auto state = panetest::makeState();
    TreeListView list(state.get());
    list.setMediaService(nullptr);
    list.resize(500, 2000);
    const auto &rows = list.rows();
    ASSERT_GE(rows.size(), 4);
    qint64 y = TreeListView::kTopPadding;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(list.rowTop(i), y) << i;
        EXPECT_EQ(list.rowAt(QPoint(10, int(y) + 1)), i);
        y += qint64(TreeListView::rowHeight(rows.at(i))) + 1;
        // The one-point gap between rows belongs to no row.
        if (i + 1 < rows.size()) {
            EXPECT_EQ(list.rowAt(QPoint(10, int(y) - 1)), -1);
        }
    }
    EXPECT_EQ(list.contentHeight(), y - 1 + TreeListView::kBottomPadding);
    EXPECT_EQ(list.rowAt(QPoint(10, 3)), -1); // top padding
    EXPECT_EQ(list.indexOfRow(rows.at(2).id()), 2);
    EXPECT_EQ(list.indexOfRow("video:/nowhere.mp4"), -1);
}

TEST(TreeList, BottomPaddingLeavesRoomForTheSelectionBar)
{
    const auto state = panetest::makeState();
    TreeListView list(state.get());
    list.setMediaService(nullptr);
    const qint64 rowsEnd = list.contentHeight() - TreeListView::kBottomPadding;
    const QList<VideoFile> videos = state->allVideos();
    state->selectVideo(videos[0]);
    EXPECT_EQ(list.contentHeight(), rowsEnd + 16);
    state->toggleSelection(videos[1]);
    EXPECT_EQ(list.contentHeight(), rowsEnd + 64);
}

TEST(TreeList, OnlyVisibleVideoRowsLoadAndRowsThatLeaveDropTheirRequests)
{
    ListFixture f(flatLibrary(2000));
    const auto [first, last] = f.list->visibleRange();
    ASSERT_GT(last, first);
    EXPECT_LT(last - first, 20);
    QStringList expected;
    for (qsizetype i = first; i <= last; ++i)
        if (f.list->rows().at(i).isVideo())
            expected.append(f.list->rows().at(i).video().id);
    QStringList loaded = f.list->loadedVideoIDs();
    loaded.sort();
    expected.sort();
    EXPECT_EQ(loaded, expected);
    EXPECT_EQ(f.service.thumbnails.size(), expected.size());
    EXPECT_EQ(f.service.metadatas.size(), expected.size());
    EXPECT_EQ(f.service.lastThumbnailSize, QSizeF(96, 56));
    EXPECT_EQ(f.service.lastPriority, MediaRequestPriority::visible);

    // An answer for a row scrolled away lands nowhere; the row starts afresh when it returns.
    const auto firstRequest = f.service.thumbnails.first();
    const QString firstID = firstRequest.url.toLocalFile();
    f.list->verticalScrollBar()->setValue(f.list->verticalScrollBar()->maximum());
    EXPECT_FALSE(f.list->loadedVideoIDs().contains(firstID));
    EXPECT_LT(f.list->loadedVideoIDs().size(), 20);
    firstRequest.onThumbnail(panetest::solidImage(Qt::red), firstRequest.generation);
    f.list->verticalScrollBar()->setValue(0);
    EXPECT_TRUE(f.list->loadedVideoIDs().contains(firstID));
    EXPECT_EQ(f.list->thumbnail(firstID), nullptr);
}

TEST(TreeList, AStaleAnswerNeverReplacesANewerResult)
{
    ListFixture f(flatLibrary(3));
    const QString id = f.state->allVideos().first().id;
    auto requestFor = [&](const QList<ManualMediaService::Pending> &list) {
        QList<ManualMediaService::Pending> out;
        for (const auto &p : list)
            if (p.url.toLocalFile() == id)
                out.append(p);
        return out;
    };
    ASSERT_EQ(requestFor(f.service.thumbnails).size(), 1);
    // An edit reloads the row: a second request with a newer generation.
    f.state->setVideoReloadSignal(f.state->videoReloadSignal() + 1);
    const auto thumbs = requestFor(f.service.thumbnails);
    const auto facts = requestFor(f.service.metadatas);
    ASSERT_EQ(thumbs.size(), 2);
    ASSERT_EQ(facts.size(), 2);
    EXPECT_LT(thumbs[0].generation, thumbs[1].generation);

    // The new answers come first, the superseded ones late: the new ones stay.
    VideoMediaInfo fresh;
    fresh.duration = 20;
    VideoMediaInfo old;
    old.duration = 10;
    thumbs[1].onThumbnail(panetest::solidImage(Qt::green), thumbs[1].generation);
    facts[1].onMetadata(fresh, facts[1].generation);
    thumbs[0].onThumbnail(panetest::solidImage(Qt::red), thumbs[0].generation);
    facts[0].onMetadata(old, facts[0].generation);
    ASSERT_NE(f.list->thumbnail(id), nullptr);
    EXPECT_EQ(f.list->thumbnail(id)->pixelColor(0, 0), QColor(Qt::green));
    ASSERT_NE(f.list->mediaInfo(id), nullptr);
    EXPECT_EQ(f.list->mediaInfo(id)->duration, 20);

    // An answer handed back under another generation than the one asked for is dropped too.
    f.state->setVideoReloadSignal(f.state->videoReloadSignal() + 1);
    const auto third = requestFor(f.service.thumbnails).last();
    third.onThumbnail(panetest::solidImage(Qt::blue), third.generation + 1);
    EXPECT_EQ(f.list->thumbnail(id)->pixelColor(0, 0), QColor(Qt::green));
    // A null answer clears the old picture.
    third.onThumbnail(QImage(), third.generation);
    EXPECT_TRUE(f.list->thumbnail(id)->isNull());
}

TEST(TreeList, PrimarySelectionIsScrolledToTheMiddle)
{
    ListFixture f(flatLibrary(400));
    const VideoFile target = f.state->allVideos().at(250);
    f.state->selectVideo(target);
    const qsizetype index = f.list->indexOfRow("video:" + target.id);
    ASSERT_GE(index, 0);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(f.list->rowRect(index).center().y() - f.list->viewport()->height() / 2) <= 1, 2000);
    const int settled = f.list->scrollOffset();

    // Clearing the selection does not scroll.
    f.state->clearSelection();
    QTest::qWait(TreeListView::kScrollAnimationMs + 60);
    EXPECT_EQ(f.list->scrollOffset(), settled);

    // The first row cannot move to the middle: the list stops at its top.
    f.state->selectVideo(f.state->allVideos().first());
    QTRY_COMPARE_WITH_TIMEOUT(f.list->scrollOffset(), 0, 2000);
}

TEST(TreeList, SelectingAVideoInsideACollapsedFolderNeitherScrollsNorExpands)
{
    QList<VideoFile> videos = flatLibrary(200, "/lib/A");
    videos.append(video("/lib/B/hidden.mp4"));
    ListFixture f(videos, "/lib");
    f.state->collapseAll();
    f.state->expandAll();
    f.state->toggleFolder("/lib/B");
    ASSERT_EQ(f.list->indexOfRow("video:/lib/B/hidden.mp4"), -1);
    f.list->setScrollOffset(400);
    const QSet<QString> expanded = f.state->expandedFolderIDs();
    f.state->selectVideo(videos.last());
    QTest::qWait(TreeListView::kScrollAnimationMs + 60);
    EXPECT_EQ(f.list->scrollOffset(), 400);
    EXPECT_EQ(f.state->expandedFolderIDs(), expanded);
}

TEST(TreeList, ClicksSelectToggleAndPlay)
{
    ListFixture f(flatLibrary(10));
    const auto &rows = f.list->rows();
    auto centreOf = [&](const QString &id) { return f.list->rowRect(f.list->indexOfRow("video:" + id)).center(); };
    const QList<VideoFile> videos = f.state->allVideos();
    QWidget *vp = f.list->viewport();

    QTest::mouseClick(vp, Qt::LeftButton, {}, centreOf(videos[2].id));
    EXPECT_EQ(f.state->primarySelectedVideoID(), videos[2].id);
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, centreOf(videos[4].id));
    EXPECT_EQ(f.state->selectedVideoIDs(), (QSet<QString>{videos[2].id, videos[4].id}));
    EXPECT_EQ(f.state->primarySelectedVideoID(), videos[4].id);
    // Ctrl-click on the primary removes it; another selected video becomes primary.
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, centreOf(videos[4].id));
    EXPECT_EQ(f.state->selectedVideoIDs(), QSet<QString>{videos[2].id});
    EXPECT_EQ(f.state->primarySelectedVideoID(), videos[2].id);
    // Shift adds no range: it is a plain click.
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, centreOf(videos[6].id));
    EXPECT_EQ(f.state->selectedVideoIDs(), QSet<QString>{videos[6].id});

    const int toggles = f.state->playbackToggleSignal();
    f.state->setShowInspector(false);
    QTest::mouseDClick(vp, Qt::LeftButton, {}, centreOf(videos[1].id));
    EXPECT_EQ(f.state->playbackToggleSignal(), toggles + 1);
    EXPECT_TRUE(f.state->showInspector());
    EXPECT_EQ(f.state->primarySelectedVideoID(), videos[1].id);
    Q_UNUSED(rows);
}

TEST(TreeList, HoverButtonsActOnTheRowAloneAndFolderClicksToggle)
{
    ListFixture f(panetest::fixtureVideos(), "/lib");
    f.state->expandAll();
    QWidget *vp = f.list->viewport();
    const QList<VideoFile> videos = f.state->allVideos();
    f.state->selectVideo(videos[0]);
    f.state->toggleSelection(videos[1]);

    const qsizetype index = f.list->indexOfRow("video:" + videos[3].id);
    ASSERT_GE(index, 0);
    const QRect rect = f.list->rowRect(index);
    QTest::mouseMove(vp, rect.center());
    LumenkiteRowView::Input in;
    in.depth = f.list->rows().at(index).depth;
    in.video = &videos[3];
    in.isHovered = true;
    const auto layout = LumenkiteRowView::layout(rect, in);
    QTest::mouseMove(vp, layout.moveButton.center().toPoint());
    QTest::mouseClick(vp, Qt::LeftButton, {}, layout.moveButton.center().toPoint());
    EXPECT_EQ(f.state->videosPendingMove(), QList<VideoFile>{videos[3]});
    EXPECT_TRUE(f.state->showMoveSheet());
    // The selection is untouched by the hover button.
    EXPECT_EQ(f.state->selectedVideoIDs().size(), 2);

    const qsizetype folder = f.list->indexOfRow("folder:/lib/Work");
    ASSERT_GE(folder, 0);
    const bool wasExpanded = f.list->rows().at(folder).isExpanded;
    const QRect folderRect = f.list->rowRect(folder);
    EXPECT_EQ(folderRect.height(), 33);
    // The folder's own move button takes all its videos and leaves the folder as it is.
    FolderRowPainter::Input hoveredFolder;
    hoveredFolder.row = &f.list->rows().at(folder);
    hoveredFolder.isHovered = true;
    const QPoint move = FolderRowPainter::layout(folderRect, hoveredFolder).moveButton.center().toPoint();
    QTest::mouseMove(vp, move);
    QTest::mouseClick(vp, Qt::LeftButton, {}, move);
    EXPECT_EQ(f.state->videosPendingMove().size(), 2);
    EXPECT_EQ(f.list->rows().at(f.list->indexOfRow("folder:/lib/Work")).isExpanded, wasExpanded);

    QTest::mouseClick(vp, Qt::LeftButton, {}, f.list->rowRect(folder).center());
    const qsizetype after = f.list->indexOfRow("folder:/lib/Work");
    EXPECT_NE(f.list->rows().at(after).isExpanded, wasExpanded);
    // Its chevron turns from where it was towards where the folder now is, then rests there.
    const double from = wasExpanded ? 90 : 0, to = wasExpanded ? 0 : 90;
    QList<double> angles;
    QTest::qWaitFor([&] {
        angles << f.list->chevronAngle("folder:/lib/Work");
        return angles.last() < 0;
    }, 5000);
    ASSERT_GE(angles.size(), 2);
    EXPECT_EQ(angles.last(), -1);
    for (qsizetype i = 0; i + 1 < angles.size(); ++i) {
        EXPECT_GE(angles[i], std::min(from, to));
        EXPECT_LE(angles[i], std::max(from, to));
        if (i > 0) // never turns back
            EXPECT_GE((angles[i] - angles[i - 1]) * (to - from), 0);
    }
    EXPECT_EQ(f.list->chevronAngle("folder:/lib/Trips"), -1);
}

namespace {
class KeyRecorder : public QWidget {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override { keys.append(event->key()); }
};
} // namespace

TEST(TreeList, ArrowKeysGoToTheWindowNotToTheScrollBar)
{
    const auto state = panetest::makeState(flatLibrary(300), "/big");
    KeyRecorder window;
    auto *list = new TreeListView(state.get(), &window);
    list->setMediaService(nullptr);
    window.resize(400, 300);
    list->resize(400, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_PageDown);
    EXPECT_EQ(window.keys, (QList<int>{Qt::Key_Down, Qt::Key_PageDown}));
    EXPECT_EQ(list->scrollOffset(), 0);
}
