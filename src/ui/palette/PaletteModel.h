#pragma once

// What the command palette lists for a typed text: the quick commands and the videos whose
// name or folder contains it. Computed anew on every use, so titles follow the state.

#include "library/Models.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class AppState;

struct QuickCommand {
    QString id;
    QString title;
    QString subtitle;
    QString icon;
    std::optional<QString> shortcut;
    std::function<void()> action;
};

namespace PaletteModel {

// How many videos the palette lists at most.
inline constexpr int kMaxVideoMatches = 8;

// The engine name for the visual search's status (fixed English in every language).
QString engineName(const AppState &state);

// Ten commands, then move and trash while something is selected. Actions read the state
// when they run, not when the list was built.
QList<QuickCommand> allCommands(AppState *state);

// The commands whose title or subtitle contains the query (trimmed, case-insensitive),
// in list order; all of them for an empty query.
QList<QuickCommand> filterCommands(const QList<QuickCommand> &commands, const QString &query);

// The first `limit` videos, in library order, whose name or else folder contains the
// query; none for an empty query.
QList<VideoFile> videoMatches(const QList<VideoFile> &videos, const QString &query, int limit = kMaxVideoMatches);

} // namespace PaletteModel
