#include "ui/DesktopActions.h"

#include "library/AppState.h"
#include "library/L10n.h"
#include "platform/DesktopServices.h"

namespace DesktopActions {

void reportFailure(AppState *state, const char *key)
{
    if (state) state->showToast(L10n::text(QString::fromLatin1(key), state->language()), true, false);
}

bool reveal(AppState *state, const QList<QUrl> &items)
{
    if (items.isEmpty()) return false;
    const bool ok = DesktopServices::revealInFileManager(items);
    if (!ok) reportFailure(state, "error.revealFailed");
    return ok;
}

bool open(AppState *state, const QUrl &url)
{
    const bool ok = DesktopServices::openURL(url);
    if (!ok) reportFailure(state, "error.openFailed");
    return ok;
}

bool openFolderPermissions(AppState *state)
{
    if (!state) return false;
    if (state->deniedFolders().isEmpty()) {
        // Nothing to grant: said, so the button does not seem dead.
        state->showToast(L10n::text("toast.noUnreadableFolders", state->language()));
        return false;
    }
    const bool ok = DesktopServices::openFullDiskAccessSettings(state->deniedFolders());
    if (!ok) reportFailure(state, "error.permissionsFailed");
    return ok;
}

} // namespace DesktopActions
