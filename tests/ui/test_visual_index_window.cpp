// The visual index at start in the real window: the window opens while the index file is
// still being read, and a search finds what the file held once it is in.

#include "UiFixture.h"
#include "search/VisualIndexFile.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace uifx;

namespace {

// Lets a reader blocked in opening the FIFO go on (it then reads an empty file).
bool releaseReader(const QByteArray &fifo)
{
    const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) return false; // no reader waiting yet
    ::close(fd);
    return true;
}

} // namespace

TEST(VisualIndexWindow, TheWindowOpensWhileTheIndexIsReadAndSearchFindsItOnceRead)
{
    QSettings("Lumenkite", "Lumenkite").setValue("Lumenkite.hasCompletedOnboarding", true);
    const QString clip = home() + "/Videos/Signs/harbour.mp4";
    ASSERT_TRUE(lktest::makeClip(clip, 2, 160, 120));
    const VideoFile video = *VideoFile::fromFile(clip);

    // The current index file is a FIFO no one writes: reading it waits in open() until the
    // test lets it go, however long the window takes. The earlier version's file, read
    // after the current one turns out empty, holds the entry.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Lumenkite";
    ASSERT_TRUE(QDir().mkpath(folder));
    VideoVisualIndexEntry entry;
    entry.videoID = video.id;
    entry.fileSize = video.fileSize;
    entry.modifiedTimestamp = double(video.modifiedDate.toSecsSinceEpoch());
    entry.frameMoments = {{1.0, std::nullopt, "HARBOUR TIMETABLE"}};
    entry.ocrText = "HARBOUR TIMETABLE";
    entry.engineUsed = "Live Text";
    ASSERT_TRUE(VisualIndexFile::save({{video.id, entry}}, folder + "/visual_index_v3.json"));
    const QByteArray fifo = QFile::encodeName(folder + "/visual_index_v4.json");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);

    // Should the window wait for the file after all, it is let go in the end, so the test
    // fails instead of hanging.
    std::atomic<bool> releasedByWatchdog{false};
    std::mutex mutex;
    std::condition_variable stop;
    bool stopping = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (stop.wait_for(lock, std::chrono::seconds(60), [&] { return stopping; })) return;
        releasedByWatchdog = true;
        while (!stopping && !releaseReader(fifo)) stop.wait_for(lock, std::chrono::milliseconds(50));
    });
    struct Join {
        std::function<void()> f;
        ~Join() { f(); }
    } join{[&] {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        stop.notify_all();
        watchdog.join();
    }};

    ContentViewParts parts;
    parts.treePane = [](AppState *s, QWidget *parent) -> QWidget * { return new LumenkitePane(s, parent); };
    LumenkiteApp app(parts);
    AppState *state = app.state();
    state->setShowOnboarding(false);
    state->setAllVideos({video});
    state->rebuildTree(true);
    app.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    EXPECT_FALSE(releasedByWatchdog) << "the window waited for the index file";
    EXPECT_TRUE(state->aiIndexEntries().isEmpty());

    // The background load reaches the file when a worker is free: on a busy machine that
    // can take many seconds, so these are the watchdog's minute, not a time it should take.
    // Asked once more when the wait ends: the reader let go is no longer there to let go.
    bool released = false;
    ASSERT_TRUE(waitFor([&] { return released || (released = releaseReader(fifo)); }, 60000));
    ASSERT_TRUE(waitFor([&] { return state->aiIndexEntries().contains(video.id); }, 60000));

    // Visual search on from its shortcut; a word of the on-screen text finds the clip.
    QApplication::setActiveWindow(app.mainWindow());
    ASSERT_TRUE(QTest::qWaitForWindowActive(app.mainWindow()));
    QTest::keyClick(app.mainWindow(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(state->isAISearchMode());
    auto *field = app.mainWindow()->findChild<QLineEdit *>("searchField");
    ASSERT_NE(field, nullptr);
    field->setFocus();
    QTest::keyClicks(field, "timetable");
    ASSERT_TRUE(waitFor([&] { return !state->isAISearchRunning() && !state->aiSearchHits().isEmpty(); }, 10000));
    const QList<VideoFile> listed = state->filteredVideos();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed.first().id, video.id);
}
