#include "PaletteModel.h"

#include "library/AppState.h"
#include "library/L10n.h"
#include "ui/EngineNames.h"

namespace PaletteModel {

namespace {

QString trimmedQuery(const QString &query) { return query.trimmed(); }

bool containsText(const QString &text, const QString &q) { return text.contains(q, Qt::CaseInsensitive); }

} // namespace

QString engineName(const AppState &state)
{
    return visualSearchEngineName(state.aiEngineStatus());
}

QList<QuickCommand> allCommands(AppState *state)
{
    const AppLanguage lang = state->language();
    const auto t = [lang](const char *key) { return L10n::text(QString::fromLatin1(key), lang); };
    QList<QuickCommand> list;
    list.append({"cmd-scan-home", t("scope.users"), t("scope.users.sub"), "folder.badge.person.crop", QStringLiteral("Ctrl+R"),
                 [state] { state->selectScope(ScanScope::homeDirectory()); }});
    list.append({"cmd-scan-mac", t("scope.allmac"), t("scope.allmac.sub"), "internaldrive", std::nullopt,
                 [state] { state->selectScope(ScanScope::entireMacDeep()); }});
    list.append({"cmd-duplicates", t("sidebar.duplicates"), t("dup.subtitle"), "square.on.square.dashed", std::nullopt,
                 [state] { state->setShowDuplicatesSheet(true); }});
    list.append({"cmd-ai-search", state->isAISearchMode() ? t("toolbar.visualSearchOn") : t("toolbar.visualSearch"),
                 engineName(*state), "sparkle.magnifyingglass", QStringLiteral("Shift+Ctrl+A"),
                 [state] { state->setIsAISearchMode(!state->isAISearchMode()); }});
    list.append({"cmd-ai-index", state->isAIIndexing() ? t("toolbar.stop") : t("ai.indexNow"), t("ai.onDevice"), "cpu",
                 std::nullopt, [state] {
                     if (state->isAIIndexing())
                         state->stopAIIndexing();
                     else
                         state->startAIIndexingIfNeeded();
                 }});
    list.append({"cmd-fullscreen", t("inspector.fullscreen"), t("inspector.title"), "arrow.up.left.and.arrow.down.right",
                 QStringLiteral("F"), [state] {
                     if (!state->primarySelectedVideo())
                         return;
                     state->setShowInspector(true);
                     state->setFullscreenRequestSignal(state->fullscreenRequestSignal() + 1);
                 }});
    list.append({"cmd-add-folder", t("sidebar.addFolder"), t("sidebar.sources"), "folder.badge.plus",
                 QStringLiteral("Shift+Ctrl+O"), [state] { state->addCustomFolder(); }});
    list.append({"cmd-expand-all", t("toolbar.expandAll"), t("sidebar.views"), "chevron.down.2", std::nullopt,
                 [state] { state->expandAll(); }});
    list.append({"cmd-collapse-all", t("toolbar.collapseAll"), t("sidebar.views"), "chevron.up.2", std::nullopt,
                 [state] { state->collapseAll(); }});
    list.append({"cmd-compact", state->compactSingleChildFolders() ? t("toolbar.compactOn") : t("toolbar.compactOff"),
                 t("sidebar.views"), "arrow.triangle.merge", std::nullopt,
                 [state] { state->setCompactSingleChildFolders(!state->compactSingleChildFolders()); }});

    const QList<VideoFile> selected = state->selectedVideos();
    if (!selected.isEmpty()) {
        const QString count = QStringLiteral(" (") + QString::number(selected.size()) + QStringLiteral(")");
        list.append({"cmd-move-selected", t("ctx.move") + count, t("move.conflictNote"), "folder.badge.arrow.right",
                     QStringLiteral("Ctrl+M"), [state] {
                         const QList<VideoFile> now = state->selectedVideos();
                         if (now.isEmpty())
                             return;
                         state->setVideosPendingMove(now);
                         state->setShowMoveSheet(true);
                     }});
        list.append({"cmd-trash-selected", t("ctx.trash") + count, t("toast.undo"), "trash", QStringLiteral("Ctrl+Backspace"),
                     [state] { state->moveSelectedToTrash(state->selectedVideos()); }});
    }
    return list;
}

QList<QuickCommand> filterCommands(const QList<QuickCommand> &commands, const QString &query)
{
    const QString q = trimmedQuery(query);
    if (q.isEmpty())
        return commands;
    QList<QuickCommand> out;
    for (const QuickCommand &c : commands)
        if (containsText(c.title, q) || containsText(c.subtitle, q))
            out.append(c);
    return out;
}

QList<VideoFile> videoMatches(const QList<VideoFile> &videos, const QString &query, int limit)
{
    const QString q = trimmedQuery(query);
    QList<VideoFile> out;
    if (q.isEmpty() || limit <= 0)
        return out;
    // Videos of one folder sit together: the folder's answer is reused until it changes.
    const QString *lastFolder = nullptr;
    bool lastFolderHit = false;
    for (const VideoFile &v : videos) {
        bool hit = containsText(v.name, q);
        if (!hit) {
            if (!lastFolder || *lastFolder != v.directoryPath) {
                lastFolder = &v.directoryPath;
                lastFolderHit = containsText(v.directoryPath, q);
            }
            hit = lastFolderHit;
        }
        if (hit) {
            out.append(v);
            if (out.size() >= limit)
                break;
        }
    }
    return out;
}

} // namespace PaletteModel
