#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QUrl>

#include <optional>

// Remembers the custom folders the user added across launches.
//
// Linux folders need no access grant, so a "bookmark" here is a small record of our own
// (path, device, inode and, where the file system reports it, birth time). It lets restore
// tell when the folder at the stored path was replaced, or find it again after a move
// nearby, and report the bookmark as stale in both cases. Starting and stopping access
// are no-ops, but the set of folders this service keeps open is tracked all the same.
class BookmarkService final
{
public:
    // User-defaults key of the dictionary: standardized folder path -> bookmark data.
    static inline const QString defaultsKey = QStringLiteral("Lumenkite.securityScopedBookmarks");
    // User-defaults key of the plain paths of folders no bookmark could be made for.
    static inline const QString customFolderPathsKey = QStringLiteral("Lumenkite.customFolderPaths");

    static BookmarkService &shared();

    // A private instance (tests); it shares the stored settings with every other one.
    BookmarkService() = default;
    BookmarkService(const BookmarkService &) = delete;
    BookmarkService &operator=(const BookmarkService &) = delete;

    // Never fails outward: when no bookmark can be made the folder is kept as a plain path.
    void addFolder(const QUrl &folder);
    void removeFolder(const QUrl &folder);
    // The folders to offer as custom scopes, sorted by folder name (numeric, case-insensitive).
    QList<QUrl> restoreFolders();

    // Standardized folder path -> URL whose access this service started and has not stopped.
    QHash<QString, QUrl> activeURLs() const;

    // The bookmark record and its resolution, exposed for tests and for restore.
    struct Resolution {
        QUrl url;
        bool isStale = false;
    };
    // No value when the folder does not exist or cannot be read.
    static std::optional<QByteArray> makeBookmarkData(const QUrl &folder);
    // No value when the data is not a bookmark record or its folder can be found nowhere.
    static std::optional<Resolution> resolveBookmarkData(const QByteArray &data);

private:
    void setActive(const QString &key, const QUrl &url);

    mutable QMutex lock;
    QHash<QString, QUrl> m_activeURLs;
};
