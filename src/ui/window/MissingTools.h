#pragma once

// The optional programs and libraries the app works with, and what a user loses without
// each: ffmpeg and ffprobe (found on PATH), libmpv (loaded at run time) and the
// lumenkite-clip helper. The app starts without any of them and says what is unavailable.

#include "library/L10n.h"

#include <QString>
#include <QStringList>

class AppState;

namespace MissingTools {

struct Tools {
    bool ffmpeg = true;
    bool ffprobe = true;
    bool libmpv = true;
    bool clipHelper = true;
};

// Looks for each one; the first call searches PATH and loads libmpv, so it belongs off the
// GUI thread (later calls are answered from what was found).
Tools probe();

// The names of the missing ones ("ffmpeg", "ffprobe", "libmpv", "lumenkite-clip").
QStringList missingNames(const Tools &tools);
// One sentence per missing one: what it is and what is unavailable without it.
QStringList messages(const Tools &tools, AppLanguage language);

// Probes off the GUI thread and, when something is missing, shows one error toast naming it.
void announce(AppState *state);

} // namespace MissingTools
