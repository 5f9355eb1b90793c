#include "DesktopServices.h"

#include <QClipboard>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSet>

namespace DesktopServices {

QList<QUrl> parentFolders(const QList<QUrl> &items)
{
    QList<QUrl> parents;
    QSet<QString> seen;
    for (const QUrl &item : items) {
        if (!item.isLocalFile())
            continue;
        const QString parent = QFileInfo(QDir::cleanPath(item.toLocalFile())).absolutePath();
        if (!seen.contains(parent)) {
            seen.insert(parent);
            parents << QUrl::fromLocalFile(parent);
        }
    }
    return parents;
}

bool hasSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

bool revealInFileManager(const QList<QUrl> &items, const QDBusConnection &bus)
{
    if (items.isEmpty())
        return false;
    if (bus.isConnected()) {
        QStringList uris;
        for (const QUrl &item : items)
            uris << item.toString(QUrl::FullyEncoded);
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << uris << QString();
        // Short timeout: a session without a file manager must not freeze the window.
        const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
    }
    bool opened = false;
    for (const QUrl &parent : parentFolders(items))
        opened = QDesktopServices::openUrl(parent) || opened;
    return opened;
}

bool revealInFileManager(const QList<QUrl> &items)
{
    return revealInFileManager(items, QDBusConnection::sessionBus());
}

bool openURL(const QUrl &url) { return QDesktopServices::openUrl(url); }

void copyToClipboard(const QString &text)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
}

bool openFullDiskAccessSettings(const QStringList &unreadableFolders)
{
    if (unreadableFolders.isEmpty())
        return false;
    // Entries are whole paths; a record written by an older version holds bare names, which
    // say nowhere where the folder is, so the home folder is opened for those.
    for (const QString &folder : unreadableFolders)
        if (QDir::isAbsolutePath(folder))
            return revealInFileManager({QUrl::fromLocalFile(QDir::cleanPath(folder))});
    return openURL(QUrl::fromLocalFile(QDir::homePath()));
}

} // namespace DesktopServices
