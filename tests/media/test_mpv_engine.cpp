// Finding libmpv at run time and the engine's command and property plumbing.
#include "media/LibMPVLibrary.h"
#include "media/MPVPlayerEngine.h"

#include <gtest/gtest.h>

TEST(LibMPVLibrary, CandidatesDecideInOrder)
{
    const QString real = "/usr/lib/x86_64-linux-gnu/libmpv.so.2";
    // A missing path is skipped; the first one that opens is used.
    auto lib = LibMPVLibrary::load({"/nonexistent/libmpv.so.2", real});
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(lib->loadedPath, real);
    // The first library that opens but lacks the entry points ends the search.
    EXPECT_EQ(LibMPVLibrary::load({"/usr/lib/x86_64-linux-gnu/libz.so.1", real}), nullptr);
    EXPECT_EQ(LibMPVLibrary::load({}), nullptr);
    EXPECT_NE(LibMPVLibrary::shared(), nullptr);
}

TEST(MPVPlayerEngine, SeekArgument)
{
    const std::pair<double, const char *> rows[] = {
        {-3, "0.000"}, {12.3456, "12.346"}, {0, "0.000"}, {std::nan(""), "0.000"}, {3600.5, "3600.500"}};
    for (const auto &[t, text] : rows)
        EXPECT_EQ(MPVPlayerEngine::seekArgument(t), QString::fromLatin1(text)) << t;
}

TEST(MPVPlayerEngine, ShutdownLeavesNothingToTalkTo)
{
    auto engine = MPVPlayerEngine::create();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->getFlag("pause"), std::optional<bool>(true)); // created paused
    EXPECT_EQ(engine->getString("keep-open").value_or(""), "yes");
    const int live = MPVPlayerEngine::liveEngineCount();
    engine->shutdown();
    EXPECT_EQ(MPVPlayerEngine::liveEngineCount(), live - 1);
    EXPECT_FALSE(engine->getDouble("time-pos").has_value());
    engine->command({"stop"});
    engine->setFlag("pause", false);
    EXPECT_FALSE(engine->getFlag("pause").has_value());
}

TEST(MPVPlayerEngine, LoadWithoutASurfaceWaitsAndTheLastOneWins)
{
    auto engine = MPVPlayerEngine::create();
    ASSERT_NE(engine, nullptr);
    engine->load(QUrl::fromLocalFile("/tmp/a.mkv"), true);
    engine->load(QUrl::fromLocalFile("/tmp/b.mkv"), false);
    ASSERT_TRUE(engine->pendingLoad().has_value());
    EXPECT_EQ(engine->pendingLoad()->url, QUrl::fromLocalFile("/tmp/b.mkv"));
    EXPECT_FALSE(engine->pendingLoad()->autoPlay);
}
