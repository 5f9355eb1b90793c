// The video row's actions as they reach the application state: the context menu with its
// two target rules, the search-match badge and the play action.

#include "PaneFixture.h"

#include "ui/Availability.h"
#include "ui/tree/LumenkiteRowView.h"
#include "ui/tree/TreeListView.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>

namespace {

QAction *item(QMenu *menu, const QString &key)
{
    for (QAction *a : menu->actions())
        if (a->objectName() == key)
            return a;
    ADD_FAILURE() << "no menu item " << key.toStdString();
    static QAction none(nullptr);
    return &none;
}

// Real files in the sandbox, so that trashing shows which files it touched.
struct DiskLibrary {
    QString root = lktest::sandboxRoot() + "/home/Videos/lib";
    QList<VideoFile> videos;
    std::unique_ptr<AppState> state;

    DiskLibrary()
    {
        QDir(root).removeRecursively();
        for (const QString name : {"a.mp4", "b.mov", "c.mkv", "d.avi"}) {
            const QString path = root + "/" + name;
            EXPECT_TRUE(lktest::writeSizedFile(path, 2048));
            videos.append(*VideoFile::fromFile(path));
        }
        state = panetest::makeState(videos, root);
    }
    bool exists(int i) const { return QFile::exists(videos[i].id); }
};

} // namespace

TEST(RowContextMenu, ItemsInOrderWithTheirTexts)
{
    const auto state = panetest::makeState();
    using V = Availability::View;
    for (V v : {V::moveSheet, V::editorSheet, V::batchCompressSheet})
        Availability::setAvailable(state.get(), v, true);
    std::unique_ptr<QMenu> menu(LumenkiteRowView::makeContextMenu(*state, state->allVideos()[0], nullptr));
    QStringList keys, texts;
    int separators = 0;
    for (QAction *a : menu->actions()) {
        if (a->isSeparator()) {
            keys.append("-");
            ++separators;
            continue;
        }
        keys.append(a->objectName());
        texts.append(a->text());
        EXPECT_TRUE(a->isEnabled());
    }
    EXPECT_EQ(keys, (QStringList{"ctx.play", "ctx.trim", "sidebar.compress", "speech.transcribe", "ctx.openDefault",
                                 "ctx.reveal", "-", "ctx.move", "ctx.copyPath", "-", "ctx.trash", "ctx.deletePerm"}));
    EXPECT_EQ(texts.first(), "Play");
    EXPECT_TRUE(texts.contains("Show in File Manager"));
    // Titles are shown verbatim: the ampersand is doubled so it is not taken as a mnemonic.
    EXPECT_EQ(item(menu.get(), "ctx.trim")->text(), QString("Trim && Merge Clips") + QChar(0x2026));

    // Without the editor, the compressor and the move sheet their items are disabled.
    for (V v : {V::moveSheet, V::editorSheet, V::batchCompressSheet})
        Availability::setAvailable(state.get(), v, false);
    menu.reset(LumenkiteRowView::makeContextMenu(*state, state->allVideos()[0], nullptr));
    for (const char *key : {"ctx.trim", "sidebar.compress", "ctx.move"})
        EXPECT_FALSE(item(menu.get(), key)->isEnabled()) << key;
    EXPECT_TRUE(item(menu.get(), "ctx.play")->isEnabled());
    EXPECT_TRUE(item(menu.get(), "ctx.trash")->property("destructive").toBool());
    EXPECT_FALSE(item(menu.get(), "ctx.move")->property("destructive").toBool());
}

TEST(RowContextMenu, SelectionOrRowTargets)
{
    const auto state = panetest::makeState();
    const QList<VideoFile> all = state->allVideos();
    state->selectVideo(all[0]);
    state->toggleSelection(all[2]);
    const QList<VideoFile> selection = state->selectedVideos();
    ASSERT_EQ(selection.size(), 2);

    // On an unselected row: that row alone. On a selected row: the whole selection.
    const struct {
        VideoFile row;
        QList<VideoFile> expected;
    } cases[] = {{all[4], {all[4]}}, {all[2], selection}};
    for (const auto &c : cases) {
        state->setShowMoveSheet(false);
        state->setShowBatchCompressSheet(false);
        state->setShowPermanentDeleteAlert(false);
        std::unique_ptr<QMenu> menu(LumenkiteRowView::makeContextMenu(*state, c.row, nullptr));
        item(menu.get(), "ctx.move")->trigger();
        EXPECT_EQ(state->videosPendingMove(), c.expected);
        EXPECT_TRUE(state->showMoveSheet());
        item(menu.get(), "sidebar.compress")->trigger();
        EXPECT_EQ(state->videosPendingCompression(), c.expected);
        EXPECT_TRUE(state->showBatchCompressSheet());
        item(menu.get(), "ctx.deletePerm")->trigger();
        EXPECT_EQ(state->videosPendingPermanentDelete(), c.expected);
        EXPECT_TRUE(state->showPermanentDeleteAlert());
        // None of these touches the selection.
        EXPECT_EQ(state->selectedVideos(), selection);
    }
}

TEST(RowContextMenu, TrashTakesTheSelectionOnlyFromASelectedRow)
{
    DiskLibrary lib;
    AppState &state = *lib.state;
    state.selectVideo(lib.videos[0]);
    state.toggleSelection(lib.videos[1]);
    {
        std::unique_ptr<QMenu> menu(LumenkiteRowView::makeContextMenu(state, lib.videos[3], nullptr));
        item(menu.get(), "ctx.trash")->trigger();
    }
    EXPECT_TRUE(lib.exists(0));
    EXPECT_TRUE(lib.exists(1));
    EXPECT_FALSE(lib.exists(3));
    {
        std::unique_ptr<QMenu> menu(LumenkiteRowView::makeContextMenu(state, lib.videos[1], nullptr));
        item(menu.get(), "ctx.trash")->trigger();
    }
    EXPECT_FALSE(lib.exists(0));
    EXPECT_FALSE(lib.exists(1));
    EXPECT_TRUE(lib.exists(2));
}

TEST(RowContextMenu, HoverTrashActsOnTheRowEvenInsideASelection)
{
    DiskLibrary lib;
    AppState &state = *lib.state;
    state.selectVideo(lib.videos[0]);
    state.toggleSelection(lib.videos[1]);
    LumenkiteRowView::trashRowVideo(state, lib.videos[1]);
    EXPECT_TRUE(lib.exists(0));
    EXPECT_FALSE(lib.exists(1));
}

TEST(RowContextMenu, PlayTrimAndTranscribeMakeTheRowTheOnlySelection)
{
    const auto state = panetest::makeState();
    const QList<VideoFile> all = state->allVideos();
    for (const QString key : {"ctx.play", "ctx.trim", "speech.transcribe"}) {
        state->selectVideo(all[0]);
        state->toggleSelection(all[1]);
        state->setShowInspector(false);
        const int toggles = state->playbackToggleSignal();
        std::unique_ptr<QMenu> menu(LumenkiteRowView::makeContextMenu(*state, all[3], nullptr));
        item(menu.get(), key)->trigger();
        EXPECT_EQ(state->selectedVideoIDs(), QSet<QString>{all[3].id}) << key.toStdString();
        EXPECT_EQ(state->primarySelectedVideoID(), all[3].id);
        if (key == "ctx.play") {
            EXPECT_EQ(state->playbackToggleSignal(), toggles + 1);
            EXPECT_TRUE(state->showInspector());
        } else if (key == "ctx.trim") {
            EXPECT_EQ(state->videoPendingEdit(), all[3]);
            EXPECT_EQ(state->playbackToggleSignal(), toggles);
        } else {
            EXPECT_TRUE(state->showInspector());
        }
    }
}

TEST(RowContextMenu, CopyPathPutsThePlainPathOnTheClipboardAndSaysSo)
{
    const auto state = panetest::makeState();
    const VideoFile v = state->allVideos()[1];
    std::unique_ptr<QMenu> menu(LumenkiteRowView::makeContextMenu(*state, v, nullptr));
    item(menu.get(), "ctx.copyPath")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), v.id);
    ASSERT_TRUE(state->activeToast());
    EXPECT_EQ(state->activeToast()->message, "Path copied to clipboard");
    EXPECT_FALSE(state->activeToast()->isError);
    EXPECT_FALSE(state->activeToast()->canUndo);
}

TEST(SearchMatchBadgeAction, SeeksOnlyWhenTheHitHasABestMoment)
{
    const auto state = panetest::makeState();
    const QList<VideoFile> all = state->allVideos();
    state->setAiSearchHits({{all[0].id, VisualSearchHit{0.6, std::nullopt, {}, false, false}},
                            {all[1].id, VisualSearchHit{0.6, 42.0, {}, false, false}}});
    state->setShowInspector(false);
    LumenkiteRowView::showInInspector(*state, all[0]);
    EXPECT_EQ(state->primarySelectedVideoID(), all[0].id);
    EXPECT_TRUE(state->showInspector());
    EXPECT_FALSE(state->pendingSeekTimestamp());

    state->setShowInspector(false);
    LumenkiteRowView::showInInspector(*state, all[1]);
    EXPECT_EQ(state->primarySelectedVideoID(), all[1].id);
    EXPECT_TRUE(state->showInspector());
    EXPECT_EQ(state->pendingSeekTimestamp(), 42.0);
}

TEST(FolderContextMenu, ToggleMoveRevealAndCopy)
{
    const auto state = panetest::makeState();
    state->expandAll();
    TreeListView list(state.get());
    list.setMediaService(nullptr);
    const qsizetype index = list.indexOfRow("folder:/lib/Trips");
    ASSERT_GE(index, 0);
    std::unique_ptr<QMenu> menu(list.makeContextMenu(index, nullptr));
    QStringList texts;
    for (QAction *a : menu->actions())
        texts.append(a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(texts, (QStringList{"Collapse Folder", "-", "Move All Videos in Folder… (3)", "Show in File Manager", "Copy Path"}));
    item(menu.get(), "ctx.collapse")->trigger();
    EXPECT_FALSE(state->expandedFolderIDs().contains("/lib/Trips"));
    item(menu.get(), "ctx.moveFolderVideos")->trigger();
    EXPECT_EQ(state->videosPendingMove().size(), 3);

    // Collapsed now: the first item opens it, in the language of the moment.
    state->setLanguage(AppLanguage::de);
    std::unique_ptr<QMenu> german(list.makeContextMenu(list.indexOfRow("folder:/lib/Trips"), nullptr));
    EXPECT_EQ(german->actions().first()->text(), L10n::text("ctx.expand", AppLanguage::de));
    EXPECT_EQ(german->actions().at(2)->text(), L10n::text("ctx.moveFolderVideos", AppLanguage::de) + " (3)");
    item(german.get(), "ctx.copyPath")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "/lib/Trips");
    ASSERT_TRUE(state->activeToast());
    EXPECT_EQ(state->activeToast()->message, L10n::text("toast.pathCopied", AppLanguage::de));
}
