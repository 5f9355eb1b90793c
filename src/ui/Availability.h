#pragma once

// Which sheets and windows this program has been given. A command that would open one that
// is missing is shown disabled instead of doing nothing; it enables itself once the window
// that owns the state registers a view for it.

class AppState;

namespace Availability {

enum class View { moveSheet, editorSheet, duplicatesSheet, batchCompressSheet, storageInsightsSheet, onboarding,
                  commandPalette, settings };

// Kept with the state object, so every widget that shows the state sees the same answer.
void setAvailable(AppState *state, View view, bool available);
bool isAvailable(const AppState *state, View view);

} // namespace Availability
