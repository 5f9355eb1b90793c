// The inspector inside the main window's layout: closing and reopening the panel, and
// theater mode, keep the one inspector and its player.
#include "library/AppState.h"
#include "media/VideoPlayerController.h"
#include "support/TestSupport.h"
#include "ui/window/ContentView.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/inspector/InspectorPlayerView.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QTest>

TEST(InspectorPane, ClosingAndReopeningThePanelKeepsTheInspectorAndItsPlayer)
{
    const QString clip = lktest::sandboxRoot() + "/pane/clip.mp4";
    ASSERT_TRUE(lktest::makeClip(clip, 2, 160, 120, {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
    AppState state;
    state.setAllVideos({*VideoFile::fromFile(clip)});
    ContentViewParts parts;
    parts.inspector = makeInspectorPane;
    ContentView window(&state, parts);
    window.resize(1280, 800);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QPointer<InspectorPlayerView> inspector = inspectorFor(&state);
    QPointer<VideoPlayerController> controller = inspector->controller();
    ASSERT_TRUE(inspector->isVisible());
    state.selectVideo(state.allVideos().front());
    QTest::qWait(50);
    controller->play();

    state.setShowInspector(false);
    QTest::qWait(50);
    ASSERT_TRUE(inspector);
    ASSERT_TRUE(controller);
    EXPECT_FALSE(inspector->isVisible());
    EXPECT_FALSE(controller->isPlaying());

    state.setShowInspector(true);
    QTest::qWait(50);
    EXPECT_EQ(inspectorFor(&state), inspector.data());
    EXPECT_EQ(inspector->controller(), controller.data());
    EXPECT_TRUE(inspector->isVisible());
    EXPECT_EQ(controller->currentURL(), state.allVideos().front().url());

    // Theater mode shows it alone, still the same one.
    state.setIsTheaterMode(true);
    QTest::qWait(50);
    EXPECT_EQ(inspectorFor(&state), inspector.data());
    EXPECT_TRUE(inspector->isVisible());
}
