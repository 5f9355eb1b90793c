#pragma once

#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// The few desktop actions the application asks of the session: showing files in the file
// manager, opening a URL with its default application, copying text.
namespace DesktopServices {

// Asks the file manager to show the items selected (org.freedesktop.FileManager1.ShowItems
// on the session bus); when no file manager answers, opens each distinct parent folder
// instead. Returns false when neither worked.
bool revealInFileManager(const QList<QUrl> &items);
// Same, on a given bus (tests run their own).
bool revealInFileManager(const QList<QUrl> &items, const QDBusConnection &bus);

// The distinct parent folders of `items`, in first-seen order: what the fallback opens.
QList<QUrl> parentFolders(const QList<QUrl> &items);

// Opens the URL with the user's default application.
bool openURL(const QUrl &url);

// Whether the session has a message bus to reach without starting one: its address is in
// the environment, or the per-user bus socket exists. Without one, a look-up on the bus
// would start a bus of its own (D-Bus autolaunch) just to find that nobody answers.
bool hasSessionBus();

// Puts plain text on the clipboard.
void copyToClipboard(const QString &text);

// Linux has no privacy page that grants folder access. Instead the folders that could not
// be read are shown: the first one selected in its parent folder in the file manager, so
// the user can change its permissions there (entries are paths; bare names from older records
// open the home folder). Does nothing for an empty list.
// Returns false when nothing could be opened.
bool openFullDiskAccessSettings(const QStringList &unreadableFolders);

} // namespace DesktopServices
