// Without its optional tools the app says what is unavailable: one toast at start naming
// them, one sentence per tool in the settings, and a reason on the player card of a format
// that only libmpv plays.

#include "UiFixture.h"
#include "support/TestSupport.h"

#include "ui/inspector/InspectorPlayerCard.h"
#include "ui/settings/SettingsView.h"
#include "ui/window/MissingTools.h"

#include <gtest/gtest.h>

#include <QLabel>

TEST(MissingTools, EachMissingToolIsNamedInTheToastTheSettingsAndThePlayerCard)
{
    // Before anything looks for the tools: what was found is kept for the whole run.
    qputenv("LUMENKITE_HIDE_TOOLS", "ffmpeg,ffprobe,libmpv,clip-helper");
    AppState state;
    MissingTools::announce(&state);
    ASSERT_TRUE(lktest::waitFor([&] { return state.activeToast().has_value(); }));
    EXPECT_TRUE(state.activeToast()->isError);
    EXPECT_TRUE(state.activeToast()->message.endsWith(": ffmpeg, ffprobe, libmpv, lumenkite-clip"))
        << state.activeToast()->message.toStdString();

    SettingsView view(&state);
    auto *list = view.findChild<QLabel *>("settingsMissingTools");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->isVisibleTo(&view));
    for (AppLanguage language : {AppLanguage::en, AppLanguage::de}) {
        state.setLanguage(language);
        for (const char *key : {"tools.missingFFmpeg", "tools.missingFFprobe", "tools.missingLibmpv",
                                "tools.missingClipHelper"})
            EXPECT_TRUE(list->text().contains(L10n::text(key, language))) << key << " " << list->text().toStdString();
    }

    CannotPlayPlaceholder card;
    card.setLanguage(AppLanguage::ja);
    card.setExtension("MKV");
    EXPECT_EQ(card.reasonText(), L10n::text("tools.cannotPlayWithoutLibmpv", AppLanguage::ja));
    card.setExtension("mp4");
    EXPECT_TRUE(card.reasonText().isEmpty()) << "a native format is not blamed on libmpv";
}

TEST(MissingTools, NothingIsListedWhenEverythingIsThere)
{
    const MissingTools::Tools tools = MissingTools::probe();
    if (!MissingTools::missingNames(tools).isEmpty())
        GTEST_SKIP() << "missing here: " << MissingTools::missingNames(tools).join(", ").toStdString();
    AppState state;
    SettingsView view(&state);
    auto *list = view.findChild<QLabel *>("settingsMissingTools");
    ASSERT_TRUE(list);
    EXPECT_FALSE(list->isVisibleTo(&view));
    CannotPlayPlaceholder card;
    card.setExtension("mkv");
    EXPECT_TRUE(card.reasonText().isEmpty());
}
