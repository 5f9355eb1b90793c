#pragma once

// The desktop actions the window offers (show in the file manager, open with the default
// application, open the unreadable folders), each reporting in an error toast when no
// handler on this desktop took it.

#include <QList>
#include <QString>
#include <QUrl>

class AppState;

namespace DesktopActions {

bool reveal(AppState *state, const QList<QUrl> &items);
bool open(AppState *state, const QUrl &url);
// Shows the first unreadable folder of the state's list in its parent folder.
bool openFolderPermissions(AppState *state);
// The error toast of a failed action ("error.revealFailed", "error.openFailed", ...).
void reportFailure(AppState *state, const char *key);

} // namespace DesktopActions
