// The move sheet driven in the main window over real files: recent destinations, tree
// folders with the filter, a folder chosen in the file dialog, name conflicts and a
// destination on another file system that runs out of space.
#include "UiFixture.h"
#include "ui/sheets/move/MoveProgressView.h"
#include "ui/sheets/move/MoveSheetView.h"
#include "ui/window/LumenkiteApp.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

using namespace uifx;

namespace {

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Every file below the folder, hidden ones included, as "a, b".
std::string filesBelow(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out.join(", ").toStdString();
}

class MoveSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = home() + "/Lib";
        ASSERT_TRUE(writeBytes(root + "/Trips/a.mp4", QByteArray(4000, 'a')));
        ASSERT_TRUE(writeBytes(root + "/Trips/b.mov", QByteArray(6000, 'b')));
        ASSERT_TRUE(writeBytes(root + "/Family/c.mkv", QByteArray(5000, 'c')));
        ASSERT_TRUE(writeBytes(root + "/Archive/a.mp4", "older a"));
        ContentViewParts parts;
        parts.moveSheet = [](AppState *s, QWidget *parent) -> QDialog * { return new MoveSheetView(s, parent); };
        app = std::make_unique<LumenkiteApp>(parts);
        state = app->state();
        state->setShowOnboarding(false);
        state->setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile(root)));
        QList<VideoFile> videos;
        for (const QString &p : {"/Trips/a.mp4", "/Trips/b.mov", "/Family/c.mkv"}) videos << *VideoFile::fromFile(root + p);
        state->setAllVideos(videos);
        state->rebuildTree(true);
        app->show();
        app->mainWindow()->activateWindow();
        QApplication::setActiveWindow(app->mainWindow());
        ASSERT_TRUE(QTest::qWaitForWindowActive(app->mainWindow()));
    }
    void TearDown() override { app.reset(); }

    VideoFile videoNamed(const QString &name) const
    {
        for (const VideoFile &v : state->allVideos())
            if (v.name == name) return v;
        ADD_FAILURE() << "no video " << name.toStdString();
        return {};
    }
    // Selects the videos and opens the sheet through the window's move command.
    MoveSheetView *openSheetFor(const QList<VideoFile> &videos)
    {
        select(*state, videos);
        app->mainWindow()->action("move")->trigger();
        auto *sheet = qobject_cast<MoveSheetView *>(app->mainWindow()->contentView()->openSheet());
        EXPECT_NE(sheet, nullptr);
        if (sheet) { EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet)); }
        return sheet;
    }
    DestinationButtonRow *rowFor(const QList<DestinationButtonRow *> &rows, const QString &path) const
    {
        for (DestinationButtonRow *r : rows)
            if (r->path() == path) return r;
        return nullptr;
    }
    bool sheetClosed() const
    {
        return waitFor([&] { return !state->showMoveSheet() && !app->mainWindow()->contentView()->openSheet(); });
    }
    // A move to another file system copies on a worker; its toast comes when it ends.
    bool copyEnded() const { return waitFor([&] { return !state->isCopyingFiles(); }, 60000); }
    // The folder dialog of the sheet, answered with `folder`.
    void chooseInDialog(MoveSheetView *sheet, const QString &folder)
    {
        QTest::mouseClick(sheet->findChild<QAbstractButton *>("chooseFolderButton"), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return sheet->folderDialog() && sheet->folderDialog()->isVisible(); }));
        QFileDialog *dialog = sheet->folderDialog();
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        // Typed into the dialog's name field and confirmed with Return, as a user does.
        auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setFocus();
        name->setText(folder);
        QTest::keyClick(name, Qt::Key_Return);
    }

    QString root;
    std::unique_ptr<LumenkiteApp> app;
    AppState *state = nullptr;
};

} // namespace

TEST_F(MoveSheetTest, RecentDestinationWithATakenNameMovesUnderTheNextFreeName)
{
    state->setRecentMoveDestinations({QUrl::fromLocalFile(root + "/Archive"), QUrl::fromLocalFile(root + "/Family")});
    const VideoFile a = videoNamed("a.mp4");
    MoveSheetView *sheet = openSheetFor({a});
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->title(), "Move Video");
    EXPECT_EQ(sheet->subtitle(), "a.mp4 \u00B7 4 KB");
    ASSERT_EQ(sheet->recentRows().size(), 2);
    DestinationButtonRow *archive = sheet->recentRows().first();
    EXPECT_EQ(archive->title(), "Archive");

    // Hovering shows the action; clicking moves.
    QTest::mouseMove(archive, QPoint(30, 8));
    EXPECT_TRUE(waitFor([&] { return archive->isHovered(); }, 1000));
    QTest::mouseClick(archive, Qt::LeftButton, {}, QPoint(30, 8));
    ASSERT_TRUE(sheetClosed());

    // The file that was there is untouched; the moved one took "a (2).mp4".
    QFile older(root + "/Archive/a.mp4");
    ASSERT_TRUE(older.open(QIODevice::ReadOnly));
    EXPECT_EQ(older.readAll(), "older a");
    QFile moved(root + "/Archive/a (2).mp4");
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), QByteArray(4000, 'a'));
    EXPECT_FALSE(QFile::exists(a.id));
    EXPECT_EQ(videoNamed("a (2).mp4").directoryPath, root + "/Archive");
    ASSERT_TRUE(state->activeToast().has_value());
    EXPECT_EQ(state->activeToast()->message, "1 \u2192 Archive");
    EXPECT_FALSE(state->activeToast()->isError);
    EXPECT_EQ(state->recentMoveDestinations().first(), QUrl::fromLocalFile(root + "/Archive"));
    EXPECT_TRUE(state->videosPendingMove().isEmpty());
}

TEST_F(MoveSheetTest, FilterTypedInTheFieldNarrowsTheTreeAndHidesRecents)
{
    state->setRecentMoveDestinations({QUrl::fromLocalFile(root + "/Archive")});
    const VideoFile a = videoNamed("a.mp4"), b = videoNamed("b.mov");
    MoveSheetView *sheet = openSheetFor({a, b});
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->title(), "2 \u00B7 Move Videos");
    EXPECT_EQ(sheet->subtitle(), "10 KB");
    EXPECT_EQ(sheet->recentRows().size(), 1);
    // The folder the videos sit in is offered like the others.
    EXPECT_NE(rowFor(sheet->folderRows(), root + "/Trips"), nullptr);

    // Blanks only: recents hidden, folders unfiltered.
    QTest::keyClicks(sheet->filterField(), "  ");
    EXPECT_TRUE(sheet->recentRows().isEmpty());
    EXPECT_EQ(sheet->folderRows().size(), MoveSheetView::folderCandidates(state->treeRoots(), {}).size());

    sheet->filterField()->clear();
    QTest::keyClicks(sheet->filterField(), " FAM ");
    ASSERT_EQ(sheet->folderRows().size(), 1);
    DestinationButtonRow *family = sheet->folderRows().first();
    EXPECT_EQ(family->path(), root + "/Family");
    EXPECT_EQ(family->badge(), std::optional<QString>("1"));
    family->setFocus();
    QTest::keyClick(family, Qt::Key_Return);
    ASSERT_TRUE(sheetClosed());
    EXPECT_TRUE(QFile::exists(root + "/Family/a.mp4"));
    EXPECT_TRUE(QFile::exists(root + "/Family/b.mov"));
    EXPECT_EQ(state->activeToast()->message, "2 \u2192 Family");
}

TEST_F(MoveSheetTest, CancelAndAClosedDialogLeaveEverythingInPlace)
{
    const VideoFile a = videoNamed("a.mp4");
    MoveSheetView *sheet = openSheetFor({a});
    ASSERT_NE(sheet, nullptr);
    QTest::mouseClick(sheet->findChild<QAbstractButton *>("chooseFolderButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return sheet->folderDialog() && sheet->folderDialog()->isVisible(); }));
    sheet->folderDialog()->reject();
    spin(20);
    EXPECT_TRUE(state->showMoveSheet());
    EXPECT_EQ(app->mainWindow()->contentView()->openSheet(), sheet);
    QTest::mouseClick(sheet->findChild<QAbstractButton *>("cancelButton"), Qt::LeftButton);
    ASSERT_TRUE(sheetClosed());
    EXPECT_TRUE(QFile::exists(a.id));
    EXPECT_FALSE(state->activeToast().has_value());
}

// A small file system of its own that fills up while the second video is copied.
class MoveToFullDisk : public MoveSheetTest {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
        mountPoint = lktest::sandboxRoot() + "/small-disk";
        QDir().mkpath(mountPoint);
        if (lktest::runProgram("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", mountPoint}) != 0)
            GTEST_SKIP() << "tmpfs could not be mounted";
        mounted = true;
        MoveSheetTest::SetUp();
        ASSERT_TRUE(writeBytes(root + "/Big/huge.mp4", QByteArray(3 * 1024 * 1024, 'h')));
        QList<VideoFile> videos = state->allVideos();
        videos << *VideoFile::fromFile(root + "/Big/huge.mp4");
        state->setAllVideos(videos);
        state->rebuildTree(true);
    }
    void TearDown() override
    {
        MoveSheetTest::TearDown();
        if (mounted) lktest::runProgram("umount", {mountPoint});
    }
    QString mountPoint;
    bool mounted = false;
};

TEST_F(MoveToFullDisk, FailedCopyLeavesTheSourceAndNoPartialFileAndSaysWhy)
{
    const VideoFile huge = videoNamed("huge.mp4"), a = videoNamed("a.mp4");

    // Nothing fits: an error toast names the file and the reason; nothing changes.
    MoveSheetView *sheet = openSheetFor({huge});
    ASSERT_NE(sheet, nullptr);
    chooseInDialog(sheet, mountPoint);
    ASSERT_TRUE(sheetClosed());
    ASSERT_TRUE(copyEnded());
    ASSERT_TRUE(state->activeToast().has_value());
    EXPECT_TRUE(state->activeToast()->isError);
    EXPECT_TRUE(state->activeToast()->message.startsWith("huge.mp4: ")) << state->activeToast()->message.toStdString();
    EXPECT_TRUE(state->activeToast()->message.contains(qt_error_string(ENOSPC)));
    EXPECT_EQ(QFileInfo(huge.id).size(), 3 * 1024 * 1024);
    EXPECT_EQ(filesBelow(mountPoint), "");
    EXPECT_EQ(videoNamed("huge.mp4").id, huge.id);
    state->dismissToast();

    // One fits, one does not: the one moves (beside a file of its name, which it leaves
    // alone), and a notice after the move's own names the other with its reason.
    ASSERT_TRUE(writeBytes(mountPoint + "/a.mp4", "kept"));
    sheet = openSheetFor({a, huge});
    ASSERT_NE(sheet, nullptr);
    chooseInDialog(sheet, mountPoint);
    ASSERT_TRUE(sheetClosed());
    ASSERT_TRUE(copyEnded());
    ASSERT_TRUE(state->activeToast().has_value());
    EXPECT_EQ(state->activeToast()->message, "1 \u2192 small-disk");
    EXPECT_EQ(filesBelow(mountPoint), "a (2).mp4, a.mp4");
    QFile kept(mountPoint + "/a.mp4");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "kept");
    EXPECT_EQ(QFileInfo(mountPoint + "/a (2).mp4").size(), 4000);
    EXPECT_FALSE(QFile::exists(a.id));
    EXPECT_EQ(QFileInfo(huge.id).size(), 3 * 1024 * 1024);
    state->dismissToast();
    ASSERT_TRUE(state->activeToast().has_value());
    EXPECT_TRUE(state->activeToast()->isError);
    EXPECT_EQ(state->activeToast()->message.toStdString(), ("huge.mp4: " + qt_error_string(ENOSPC)).toStdString());
    // The destination became a recent one only through the move that happened.
    EXPECT_EQ(state->recentMoveDestinations().first(), QUrl::fromLocalFile(mountPoint));
}

TEST(MoveSheetCandidates, FirstTwentyFourInPreOrderOrEveryMatchOfTheTrimmedFilter)
{
    // 30 folders: /r/Movies/m00../m14 and /r/Other/o00../o14, two videos each place.
    QList<VideoFile> videos;
    for (int i = 0; i < 14; ++i) {
        videos << video(QString("/r/Movies/m%1/a.mp4").arg(i, 2, 10, QChar('0')));
        videos << video(QString("/r/Other/o%1/a.mp4").arg(i, 2, 10, QChar('0')));
    }
    videos << video("/r/Movies/x.mp4") << video("/r/Other/y.mp4");
    const QList<VideoFolderNodePtr> roots = LumenkiteBuilder::buildTree(videos, QString("/r"), true, VideoSortOrder::nameAsc);
    QList<VideoFolderNodePtr> all;
    LumenkiteBuilder::allFolders(roots, all);
    ASSERT_EQ(all.size(), 30);

    const auto ids = [](const QList<VideoFolderNodePtr> &nodes) {
        QStringList out;
        for (const VideoFolderNodePtr &n : nodes) out << n->id();
        return out;
    };
    QStringList firstIds = ids(all);
    EXPECT_EQ(ids(MoveSheetView::folderCandidates(roots, {})), firstIds.mid(0, 24));
    EXPECT_EQ(ids(MoveSheetView::folderCandidates(roots, " \t ")), firstIds.mid(0, 24));
    // A match on the path below a matching folder counts too, and there is no cut.
    const QList<VideoFolderNodePtr> movies = MoveSheetView::folderCandidates(roots, "  movies ");
    EXPECT_EQ(movies.size(), 15);
    for (const VideoFolderNodePtr &n : movies) EXPECT_TRUE(n->id().startsWith("/r/Movies")) << n->id().toStdString();
    EXPECT_EQ(MoveSheetView::folderCandidates(roots, "/R/").size(), 30);
    EXPECT_TRUE(MoveSheetView::folderCandidates(roots, "nothing like it").isEmpty());
}

// A move to another file system copies on a worker: the window keeps handling events while
// a card at its foot counts the bytes, Cancel leaves the video whole where it was (or, when
// the copy had already ended, whole at its new place), and never a hidden copy behind. A
// move that ends can be undone across the same two file systems, again with the card.
TEST_F(MoveSheetTest, MoveToAnotherDiskCopiesWhileTheWindowStaysLiveAndCanBeCancelled)
{
    QTemporaryDir other("/dev/shm/lumenkite-move-ui-XXXXXX");
    struct stat a {}, b {};
    if (!other.isValid() || ::stat(QFile::encodeName(other.path()).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(root).constData(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    constexpr qint64 size = 192 << 20;
    const QString far = other.path() + "/far.mp4";
    ASSERT_TRUE(lktest::writeSizedFile(far, size));
    QList<VideoFile> videos = state->allVideos();
    videos << *VideoFile::fromFile(far);
    state->setAllVideos(videos);
    state->rebuildTree(true);
    const QString dest = root + "/Archive";

    struct Seen {
        bool midway = false;   // a count between none and all reached the window
        bool cardShown = false;
        int ticks = 0;         // timer events the window handled while copying
    };
    const auto watch = [&](Seen &seen) {
        auto *timer = new QTimer(app.get());
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, [&seen, this] {
            if (state->isCopyingFiles()) ++seen.ticks;
        });
        timer->start();
        QObject::connect(state, &AppState::fileCopyChanged, timer, [&seen, this] {
            if (state->fileCopyDone() > 0 && state->fileCopyDone() < state->fileCopyTotal()) seen.midway = true;
            auto *card = app->mainWindow()->findChild<MoveProgressView *>();
            if (card && card->isVisible() && state->isCopyingFiles()) seen.cardShown = true;
        });
        return timer;
    };

    // Cancelled at the first count the window sees.
    Seen cancelled;
    QTimer *timer = watch(cancelled);
    MoveSheetView *sheet = openSheetFor({videoNamed("far.mp4")});
    ASSERT_NE(sheet, nullptr);
    chooseInDialog(sheet, dest);
    ASSERT_TRUE(sheetClosed());
    ASSERT_TRUE(state->isCopyingFiles());
    auto *card = app->mainWindow()->findChild<MoveProgressView *>();
    ASSERT_NE(card, nullptr);
    ASSERT_TRUE(waitFor([&] { return state->fileCopyDone() > 0 || !state->isCopyingFiles(); }, 60000));
    if (state->isCopyingFiles()) {
        EXPECT_TRUE(card->isVisible());
        EXPECT_EQ(card->title(), "Moving to another disk\u2026");
        QTest::mouseClick(card->cancelButton(), Qt::LeftButton);
    }
    ASSERT_TRUE(copyEnded());
    delete timer;
    EXPECT_FALSE(card->isVisible());
    const bool wasMoved = !QFile::exists(far);
    std::cout << (wasMoved ? "the copy had ended before the cancel\n" : "cancelled during the copy\n");
    EXPECT_EQ(QFileInfo(wasMoved ? dest + "/far.mp4" : far).size(), size);
    EXPECT_EQ(wasMoved, QFile::exists(dest + "/far.mp4"));
    EXPECT_EQ(filesBelow(dest).find(".lumenkite-move-"), std::string::npos) << filesBelow(dest);
    EXPECT_TRUE(cancelled.cardShown);
    EXPECT_GT(cancelled.ticks, 0);

    // Moved for good, then undone: both copies on the worker, the window handling events.
    if (!wasMoved) {
        Seen moving;
        timer = watch(moving);
        sheet = openSheetFor({videoNamed("far.mp4")});
        ASSERT_NE(sheet, nullptr);
        chooseInDialog(sheet, dest);
        ASSERT_TRUE(sheetClosed());
        ASSERT_TRUE(copyEnded());
        delete timer;
        EXPECT_TRUE(moving.midway);
        EXPECT_GT(moving.ticks, 0);
        ASSERT_TRUE(state->activeToast().has_value());
        EXPECT_EQ(state->activeToast()->message, "1 \u2192 Archive");
        EXPECT_FALSE(QFile::exists(far));
        EXPECT_EQ(QFileInfo(dest + "/far.mp4").size(), size);
    }
    Seen undoing;
    timer = watch(undoing);
    state->undoLastOperation();
    ASSERT_TRUE(copyEnded());
    delete timer;
    EXPECT_TRUE(undoing.cardShown);
    EXPECT_EQ(QFileInfo(far).size(), size);
    EXPECT_FALSE(QFile::exists(dest + "/far.mp4"));
    // Back outside the library's folders: it leaves the library with its moved entry.
    EXPECT_FALSE(state->videoWithID(dest + "/far.mp4").has_value());
    EXPECT_EQ(filesBelow(dest).find(".lumenkite-move-"), std::string::npos) << filesBelow(dest);
}
