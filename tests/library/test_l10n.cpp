#include "library/L10n.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>

namespace {

const QString kLanguageKey = QStringLiteral("Lumenkite.language");

QSettings appSettings() { return QSettings(QStringLiteral("Lumenkite"), QStringLiteral("Lumenkite")); }

// Every key the interface looks up, grouped by area; the table must hold exactly these.
const QStringList kExpectedKeys = {
    "scope.users", "scope.users.sub", "scope.allmac", "scope.allmac.sub",
    "sidebar.sources", "sidebar.views", "sidebar.formats", "sidebar.tools", "sidebar.addFolder",
    "sidebar.photosLibrary", "sidebar.photosLibrary.help", "sidebar.refreshSources", "sidebar.fullDiskAccess",
    "sidebar.duplicates", "sidebar.compress", "sidebar.insights", "sidebar.settings", "sidebar.rescanTooltip",
    "sidebar.sourcesRefreshed",
    "filter.all", "filter.recent", "filter.large", "filter.native", "filter.other",
    "sort.name", "sort.size", "sort.date", "sort.format", "sort.short.name", "sort.short.size", "sort.short.date",
    "sort.short.format",
    "toolbar.rescan", "toolbar.searchPlaceholder", "toolbar.aiPlaceholder", "toolbar.visualSearch",
    "toolbar.visualSearchOn", "toolbar.compactOn", "toolbar.compactOff", "toolbar.expandAll", "toolbar.collapseAll",
    "toolbar.theme", "toolbar.inspector", "toolbar.scanning", "toolbar.stop", "toolbar.cancel", "toolbar.videos",
    "toolbar.matches", "toolbar.results", "toolbar.examples", "toolbar.clearFilters", "toolbar.noVideos",
    "toolbar.noVideos.appStore", "toolbar.noMatches", "toolbar.scanningEmptySub", "toolbar.noFilterMatchSub",
    "toolbar.loadingLibrary", "toolbar.loadingLibrarySub",
    "toolbar.noVideosSub", "toolbar.noVideosSub.appStore",
    "ai.title", "ai.onDevice", "ai.ready", "ai.downloadPrompt", "ai.downloadBtn", "ai.downloadShort", "ai.indexNow",
    "ai.upToDate", "ai.indexing", "ai.indexed", "ai.skipped", "ai.removeModel", "ai.textMatch", "ai.matchedMoments",
    "ai.jumpToMoment", "ai.bannerReady", "ai.bannerNeedModel", "ai.translationPack",
    "ai.stageConnecting", "ai.stageCompiling", "ai.modelReady", "ai.modelRemoved", "ai.modelDamaged",
    "ai.downloadFailed", "ai.serverAnswer", "ai.gzipStart", "ai.gzipDamaged", "ai.retry",
    "inspector.title", "inspector.theater", "inspector.fullscreen", "inspector.exitFullscreen",
    "inspector.openExternal", "inspector.closePanel", "inspector.trimMerge", "inspector.move", "inspector.trash",
    "inspector.revealFinder", "inspector.noSelection", "inspector.noSelectionSub", "inspector.fullscreenActive",
    "inspector.aiInsights",
    "meta.size", "meta.duration", "meta.resolution", "meta.fps", "meta.codec", "meta.player", "meta.modified",
    "meta.created",
    "editor.title", "editor.split", "editor.addRange", "editor.removeRange", "editor.reset", "editor.previewKept",
    "editor.segmentsHeader", "editor.hint", "editor.quality", "editor.saveMode", "editor.preset.passthrough",
    "editor.preset.hevc", "editor.preset.h264", "editor.save.new", "editor.save.replace", "editor.mergeExport",
    "editor.trimExport", "editor.play", "editor.pause", "editor.saved",
    "dup.title", "dup.subtitle", "dup.scan", "dup.scanning", "dup.none", "dup.noneSub", "dup.reclaimable",
    "dup.groups", "dup.autoSelect", "dup.trashSelected", "dup.original", "dup.copy", "dup.done", "dup.tabExact",
    "dup.tabSimilar", "dup.similarity", "dup.needIndex", "dup.similarNone", "dup.unreadable",
    "dup.noneAmongReadable", "dup.trashFailed",
    "move.titleSingle", "move.titleMulti", "move.filter", "move.chooseFolder", "move.copying", "move.copyBusy", "move.recent", "move.treeFolders",
    "move.conflictNote",
    "ctx.play", "ctx.trim", "ctx.openDefault", "ctx.reveal", "ctx.move", "ctx.copyPath", "ctx.trash",
    "ctx.deletePerm", "ctx.expand", "ctx.collapse", "ctx.moveFolderVideos",
    "sel.selected",
    "alert.permTitle", "alert.permConfirm",
    "toast.undo", "toast.pathCopied", "toast.folderUnreadable", "toast.noUnreadableFolders", "error.readOnly",
    "error.notAFolder",
    "onb.welcome", "onb.subtitle", "onb.f1.title", "onb.f1.desc", "onb.f2.title", "onb.f2.desc", "onb.f3.title",
    "onb.f3.desc", "onb.chooseFolder", "onb.getStarted",
    "appearance.system", "appearance.light", "appearance.dark",
    "menu.videos", "menu.language", "menu.welcome", "menu.quit",
    "error.revealFailed", "error.openFailed", "error.permissionsFailed",
    "perm.banner", "perm.grant",
    "comp.title", "comp.subtitle", "comp.preset.hevcBalanced", "comp.preset.hevc1080p", "comp.preset.h2641080p",
    "comp.estSavings", "comp.start", "comp.selectAll", "comp.deselectAll", "comp.doneTitle", "comp.reclaimed",
    "comp.action",
    "edit.originalChanged", "edit.originalGone", "edit.resultSavedAs", "comp.failedTitle",
    "comp.added", "comp.nothingReclaimed", "comp.notSmaller", "comp.failedItems", "comp.originalsKept",
    "comp.stoppedDone", "comp.stoppedNone",
    "speech.transcribe", "speech.transcribing", "speech.match", "speech.transcript", "speech.noSpeech",
    "insights.title", "insights.subtitle", "insights.topFolders", "insights.largestVideos", "insights.byFormat",
    "settings.general", "settings.ai",
    "tools.missingTitle", "tools.missingToast", "tools.missingFFmpeg", "tools.missingFFprobe", "tools.missingLibmpv",
    "tools.missingClipHelper", "tools.cannotPlayWithoutLibmpv",
    "trim.noValidRange", "trim.failurePrefix", "trim.stagePreparing", "trim.stageExporting", "trim.stageJoining",
    "trim.stageEncoding", "trim.stageSaving", "trim.noFFmpeg", "trim.ffmpegFailed", "trim.cannotStartFFmpeg",
    "trim.unknownError", "trim.ffmpegCrashedTwice", "trim.ffmpegFailedTwice", "trim.noVideoTrack", "trim.tooShort",
    "trim.outputMissing", "move.notAFolder", "dup.stageSizes", "dup.confirmSimilarTitle", "dup.confirmSimilarNote",
    "settings.nativeEngine", "settings.codecs", "settings.visualEngine", "settings.model", "settings.installed",
    "settings.indexedVideos", "settings.speech", "settings.codecsFound", "settings.codecsNative",
    "settings.speechOffline", "error.noTrashFolder", "edit.outputEmpty", "edit.outputUnreadable", "edit.outputLength",
    "edit.couldNotCreate", "edit.couldNotSave", "edit.originalStaysAt", "edit.originalNoLongerAt", "edit.originalIsAt",
    "edit.newFileIsAt", "edit.originalTrashFailed", "edit.setAsideFailed",
};

// Restores the stored language after each test so tests do not leak into each other.
class L10nLanguageSettings : public ::testing::Test {
protected:
    void SetUp() override { appSettings().remove(kLanguageKey); }
    void TearDown() override { appSettings().remove(kLanguageKey); }
    static void store(const QVariant &value)
    {
        QSettings s = appSettings();
        s.setValue(kLanguageKey, value);
        s.sync();
    }
};

} // namespace

TEST(L10nTable, HoldsExactlyTheInterfaceKeysOnce)
{
    const QStringList keys = L10n::allKeys();
    const QSet<QString> unique(keys.cbegin(), keys.cend());
    EXPECT_EQ(unique.size(), keys.size()) << "duplicate keys in the table";
    EXPECT_EQ(keys.size(), kExpectedKeys.size());

    const QSet<QString> expected(kExpectedKeys.cbegin(), kExpectedKeys.cend());
    ASSERT_EQ(expected.size(), kExpectedKeys.size());
    for (const QString &k : expected - unique)
        ADD_FAILURE() << "missing key " << k.toStdString();
    for (const QString &k : unique - expected)
        ADD_FAILURE() << "unexpected key " << k.toStdString();
}

TEST(L10nTable, EveryKeyHasThreeRealTexts)
{
    // A lookup that comes back as the key means the row is absent; a "%" directive or
    // "{n}" would mean the text expects a number that views never fill in.
    static const QRegularExpression placeholder(QStringLiteral(R"(%(\d|@|l?l?d|s|f)|\{\d*\})"));
    for (const QString &key : L10n::allKeys()) {
        for (AppLanguage lang : AppLanguageInfo::allCases()) {
            const QString t = L10n::text(key, lang);
            const std::string where = key.toStdString() + " [" + AppLanguageInfo::rawValue(lang).toStdString() + "]";
            EXPECT_FALSE(t.trimmed().isEmpty()) << where;
            EXPECT_NE(t, key) << where;
            EXPECT_FALSE(placeholder.match(t).hasMatch()) << where << ": " << t.toStdString();
        }
    }
}

TEST(L10nTable, NamesNoProductOfTheOtherPlatform)
{
    static const QRegularExpression foreign(QStringLiteral(
        R"((?<!Video )Finder|\bMac\b|macOS|Macintosh|/Users|Full Disk Access|フルディスクアクセス|Festplattenvollzugriff|)"
        R"(Apple Silicon|CoreML|Live Text|AVFoundation|VideoToolbox|Apple Speech|⌘|⌥|⇧)"));
    for (const QString &key : L10n::allKeys()) {
        for (AppLanguage lang : AppLanguageInfo::allCases()) {
            const QString t = L10n::text(key, lang);
            EXPECT_FALSE(foreign.match(t).hasMatch())
                << key.toStdString() << " [" << AppLanguageInfo::rawValue(lang).toStdString() << "]: " << t.toStdString();
        }
    }
}

TEST(L10nTable, MissingKeyComesBackUnchanged)
{
    for (const QString &key : {QStringLiteral("no.such.key"), QStringLiteral(""), QStringLiteral("Scope.Users")}) {
        for (AppLanguage lang : AppLanguageInfo::allCases())
            EXPECT_EQ(L10n::text(key, lang), key) << key.toStdString();
        EXPECT_EQ(L10n::text(key), key);
    }
}

TEST(L10nTable, KnownTexts)
{
    struct Case {
        const char *key;
        AppLanguage lang;
        const char *text;
    };
    const Case cases[] = {
        {"scope.users", AppLanguage::de, "Benutzer (/home)"},
        {"scope.users", AppLanguage::en, "Users (/home)"},
        {"scope.allmac", AppLanguage::ja, "コンピュータ全体"},
        {"sort.size", AppLanguage::ja, "サイズ順 (大→小)"},
        {"filter.large", AppLanguage::de, "Große Dateien (≥ 250 MB)"},
        {"toolbar.aiPlaceholder", AppLanguage::en, "Describe a scene or on-screen text (e.g. \"kids playing\", \"beach\")…"},
        {"toolbar.aiPlaceholder", AppLanguage::de, "Szene oder Text im Video suchen (z. B. „Strand“, „spielende Kinder“)…"},
        {"toolbar.videos", AppLanguage::ja, "本"},
        {"sidebar.rescanTooltip", AppLanguage::en, "Rescan active source (Ctrl+R)"},
        {"ctx.reveal", AppLanguage::en, "Show in File Manager"},
        {"toast.undo", AppLanguage::de, "Widerrufen"},
        {"move.titleMulti", AppLanguage::en, "Move Videos"},
        {"move.conflictNote", AppLanguage::en, "Existing filenames are automatically renamed safely."},
    };
    for (const Case &c : cases)
        EXPECT_EQ(L10n::text(QString::fromUtf8(c.key), c.lang), QString::fromUtf8(c.text))
            << c.key << " [" << AppLanguageInfo::rawValue(c.lang).toStdString() << "]";
}

TEST(L10nLanguage, RawValuesAndLabels)
{
    const QList<AppLanguage> order{AppLanguage::en, AppLanguage::ja, AppLanguage::de};
    EXPECT_EQ(AppLanguageInfo::allCases(), order);
    const QStringList raws{"en", "ja", "de"};
    const QStringList locales{"en_US", "ja_JP", "de_DE"};
    const QStringList labels{"English (US)", QString::fromUtf8("日本語"), "Deutsch"};
    for (int i = 0; i < order.size(); ++i) {
        EXPECT_EQ(AppLanguageInfo::rawValue(order[i]), raws[i]);
        EXPECT_EQ(AppLanguageInfo::fromRawValue(raws[i]), order[i]);
        EXPECT_EQ(AppLanguageInfo::uiLocaleName(order[i]), locales[i]);
        EXPECT_EQ(AppLanguageInfo::menuLabel(order[i]), labels[i]);
    }
    for (const char *raw : {"", "EN", "Ja", " de", "fr", "en-US", "ja_JP"})
        EXPECT_FALSE(AppLanguageInfo::fromRawValue(QString::fromUtf8(raw)).has_value()) << raw;
}

TEST(L10nLanguage, ResolveFromStoredValueAndPreferredLanguages)
{
    struct Case {
        const char *stored;
        QStringList preferred;
        AppLanguage expected;
    };
    const Case cases[] = {
        {"ja", {"de-DE"}, AppLanguage::ja},
        {"ja", {}, AppLanguage::ja},
        {"en", {"ja-JP"}, AppLanguage::en},
        {"de", {"en-US"}, AppLanguage::de},
        {"fr", {"de-DE"}, AppLanguage::de},
        {"EN", {"ja-JP"}, AppLanguage::ja},
        {"EN", {}, AppLanguage::en},
        {"", {"ja-JP"}, AppLanguage::ja},
        {"", {"de-CH"}, AppLanguage::de},
        {"", {"en-GB"}, AppLanguage::en},
        {"", {"DE"}, AppLanguage::de},
        {"", {"JA-jp"}, AppLanguage::ja},
        {"", {"fr-FR", "de-DE"}, AppLanguage::en},
        {"", {}, AppLanguage::en},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(AppLanguageInfo::resolve(QString::fromUtf8(c.stored), c.preferred), c.expected)
            << "stored=" << c.stored << " preferred=" << c.preferred.join(',').toStdString();
    }
}

TEST_F(L10nLanguageSettings, CurrentReadsTheStoredLanguageFirst)
{
    const AppLanguage fromSystem = AppLanguageInfo::resolve(QString(), QLocale::system().uiLanguages());
    EXPECT_EQ(AppLanguageInfo::current(), fromSystem);

    store(QStringLiteral("ja"));
    EXPECT_EQ(AppLanguageInfo::current(), AppLanguage::ja);
    EXPECT_EQ(L10n::text("toolbar.stop"), QString::fromUtf8("停止"));

    store(QStringLiteral("de"));
    EXPECT_EQ(AppLanguageInfo::current(), AppLanguage::de);
    EXPECT_EQ(L10n::text("toolbar.stop"), QStringLiteral("Stopp"));

    for (const QString &ignored : {QStringLiteral("fr"), QStringLiteral("EN"), QString()}) {
        store(ignored);
        EXPECT_EQ(AppLanguageInfo::current(), fromSystem) << ignored.toStdString();
    }
}
