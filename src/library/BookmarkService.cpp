#include "BookmarkService.h"
#include "FileNames.h"

#include "Models.h"

#include <QCollator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMutexLocker>
#include <QSet>
#include <QSettings>
#include <QVariantMap>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

QSettings settings() { return QSettings(QStringLiteral("Lumenkite"), QStringLiteral("Lumenkite")); }

// A folder key: the path of the folder's standardized file URL.
// Empty for a URL that names no local folder.
QString keyFor(const QUrl &folder)
{
    return folder.isLocalFile() && !folder.toLocalFile().isEmpty() ? standardizedPath(folder.toLocalFile()) : QString();
}

bool fileExists(const QString &path) { return !path.isEmpty() && QFileInfo::exists(path); }

struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<qint64> birthNs; // only where the file system reports it
    bool isDirectory = false;

    bool sameFileAs(const Identity &other) const
    {
        if (device != other.device || inode != other.inode)
            return false;
        // Inode numbers are reused at once on many file systems; the birth time tells a
        // folder made anew under the same number from the original.
        return !birthNs || !other.birthNs || *birthNs == *other.birthNs;
    }
};

std::optional<Identity> identityOf(const QString &path)
{
    struct statx sx {};
    if (::statx(AT_FDCWD, FileNames::encode(path).constData(), 0, STATX_TYPE | STATX_INO | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    Identity id;
    id.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    id.inode = sx.stx_ino;
    if (sx.stx_mask & STATX_BTIME)
        id.birthNs = qint64(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
    id.isDirectory = S_ISDIR(sx.stx_mode);
    return id;
}

// Looks for a moved folder near where it was: below its nearest existing ancestors, a few
// levels deep, on the same device, within a fixed budget so that restore stays quick.
std::optional<QString> findNearby(const QString &oldPath, const Identity &wanted)
{
    int budget = 4000;
    QSet<QString> searched;
    QString anchor = oldPath;
    for (int level = 0; level < 3; ++level) {
        const int slash = anchor.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            break;
        anchor = slash == 0 ? QStringLiteral("/") : anchor.left(slash);
        const auto anchorId = identityOf(anchor);
        if (!anchorId || !anchorId->isDirectory) {
            if (anchor == QLatin1String("/"))
                break;
            continue;
        }
        // Breadth first, two levels below the anchor.
        QList<QPair<QString, int>> queue{{anchor, 0}};
        while (!queue.isEmpty() && budget > 0) {
            const auto [dir, depth] = queue.takeFirst();
            if (searched.contains(dir))
                continue;
            searched.insert(dir);
            DIR *d = ::opendir(FileNames::encode(dir).constData());
            if (!d)
                continue;
            while (dirent *e = ::readdir(d)) {
                if (--budget <= 0)
                    break;
                const QByteArray name(e->d_name);
                if (name == "." || name == "..")
                    continue;
                if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN)
                    continue; // links are not followed
                if (e->d_type == DT_DIR && e->d_ino != wanted.inode && depth + 1 >= 2)
                    continue;
                const QString child = (dir == QLatin1String("/") ? dir : dir + QLatin1Char('/')) + FileNames::decode(name);
                struct stat st {};
                if (::lstat(FileNames::encode(child).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
                    continue;
                if (st.st_dev == wanted.device && st.st_ino == wanted.inode) {
                    const auto id = identityOf(child);
                    if (id && id->sameFileAs(wanted)) {
                        ::closedir(d);
                        return child;
                    }
                }
                if (st.st_dev == wanted.device && depth + 1 < 2)
                    queue.append({child, depth + 1});
            }
            ::closedir(d);
        }
        if (budget <= 0 || anchor == QLatin1String("/"))
            break;
    }
    return std::nullopt;
}

QVariantMap readBookmarks(QSettings &s) { return s.value(BookmarkService::defaultsKey).toMap(); }

QStringList readPlainPaths(QSettings &s) { return s.value(BookmarkService::customFolderPathsKey).toStringList(); }

bool isData(const QVariant &value) { return value.typeId() == QMetaType::QByteArray; }

} // namespace

BookmarkService &BookmarkService::shared()
{
    static BookmarkService instance;
    return instance;
}

std::optional<QByteArray> BookmarkService::makeBookmarkData(const QUrl &folder)
{
    const QString path = keyFor(folder);
    if (path.isEmpty())
        return std::nullopt;
    const auto id = identityOf(path);
    if (!id)
        return std::nullopt;
    QJsonObject record{{QStringLiteral("kind"), QStringLiteral("lumenkite.folder")},
                       {QStringLiteral("path"), path},
                       {QStringLiteral("device"), QString::number(id->device)},
                       {QStringLiteral("inode"), QString::number(id->inode)}};
    if (id->birthNs)
        record.insert(QStringLiteral("birth"), QString::number(*id->birthNs));
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

std::optional<BookmarkService::Resolution> BookmarkService::resolveBookmarkData(const QByteArray &data)
{
    const QJsonObject record = QJsonDocument::fromJson(data).object();
    if (record.value(QStringLiteral("kind")).toString() != QLatin1String("lumenkite.folder"))
        return std::nullopt;
    const QString path = record.value(QStringLiteral("path")).toString();
    bool deviceOk = false, inodeOk = false;
    Identity wanted;
    wanted.device = record.value(QStringLiteral("device")).toString().toULongLong(&deviceOk);
    wanted.inode = record.value(QStringLiteral("inode")).toString().toULongLong(&inodeOk);
    if (path.isEmpty() || !QFileInfo(path).isAbsolute() || !deviceOk || !inodeOk)
        return std::nullopt;
    if (record.contains(QStringLiteral("birth"))) {
        bool ok = false;
        const qint64 birth = record.value(QStringLiteral("birth")).toString().toLongLong(&ok);
        if (ok)
            wanted.birthNs = birth;
    }

    const auto here = identityOf(path);
    if (here && here->sameFileAs(wanted))
        return Resolution{QUrl::fromLocalFile(path), false};
    if (const auto moved = findNearby(path, wanted))
        return Resolution{QUrl::fromLocalFile(*moved), true};
    // Another folder now stands at the stored path: it is what the path names, but stale.
    if (here && here->isDirectory)
        return Resolution{QUrl::fromLocalFile(path), true};
    return std::nullopt;
}

void BookmarkService::setActive(const QString &key, const QUrl &url)
{
    QMutexLocker locker(&lock);
    m_activeURLs.insert(key, url);
}

QHash<QString, QUrl> BookmarkService::activeURLs() const
{
    QMutexLocker locker(&lock);
    return m_activeURLs;
}

void BookmarkService::addFolder(const QUrl &folder)
{
    const QString key = keyFor(folder);
    if (key.isEmpty())
        return;
    QSettings s = settings();
    if (const auto data = makeBookmarkData(folder)) {
        // Values that are not bookmark data are passed over when read, but kept here, so
        // one bad entry never costs the others.
        QVariantMap bookmarks = readBookmarks(s);
        bookmarks.insert(key, *data);
        s.setValue(defaultsKey, bookmarks);
        setActive(key, folder);
        return;
    }
    QStringList paths = readPlainPaths(s);
    if (!paths.contains(key)) {
        paths.append(key);
        s.setValue(customFolderPathsKey, paths);
    }
}

void BookmarkService::removeFolder(const QUrl &folder)
{
    const QString key = keyFor(folder);
    if (key.isEmpty())
        return;
    QSettings s = settings();
    QVariantMap bookmarks = readBookmarks(s);
    bookmarks.remove(key);
    s.setValue(defaultsKey, bookmarks);
    QStringList paths = readPlainPaths(s);
    paths.removeAll(key);
    s.setValue(customFolderPathsKey, paths);

    QMutexLocker locker(&lock);
    m_activeURLs.remove(key); // stopping access is a no-op here
}

QList<QUrl> BookmarkService::restoreFolders()
{
    QList<QUrl> result;
    QSet<QString> taken;
    QVariantMap bookmarks;
    QStringList plainPaths;
    {
        QSettings s = settings();
        bookmarks = readBookmarks(s);
        plainPaths = readPlainPaths(s);
    }

    for (auto it = bookmarks.cbegin(); it != bookmarks.cend(); ++it) {
        if (!isData(it.value()))
            continue;
        const auto resolved = resolveBookmarkData(it.value().toByteArray());
        if (!resolved)
            continue;
        const QString path = keyFor(resolved->url);
        if (fileExists(path) && !taken.contains(path)) {
            taken.insert(path);
            result.append(resolved->url);
            setActive(path, resolved->url);
        }
        if (resolved->isStale) {
            addFolder(resolved->url);
            // The folder now lives under its new key; the old one would bring it back twice.
            if (path != it.key()) {
                QSettings s = settings();
                QVariantMap current = readBookmarks(s);
                if (current.remove(it.key()) > 0)
                    s.setValue(defaultsKey, current);
            }
        }
    }

    for (const QString &plain : plainPaths) {
        const QString path = standardizedPath(plain);
        if (fileExists(path) && !taken.contains(path)) {
            taken.insert(path);
            result.append(QUrl::fromLocalFile(path));
        }
    }

    // Qt's collator for the C locale ignores numeric mode, so "Clip 10" would sort first.
    const QLocale system = QLocale::system();
    QCollator collator(system.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : system);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(result.begin(), result.end(), [&](const QUrl &a, const QUrl &b) {
        return collator.compare(a.fileName(), b.fileName()) < 0;
    });
    return result;
}
