#pragma once

#include "L10n.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QLocale>
#include <QSet>
#include <QString>
#include <QUrl>

#include <optional>

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC: the reference date of the
// stored JSON form.
inline constexpr qint64 kReferenceDateOffset = 978307200;

double toReferenceSeconds(const QDateTime &date);
QDateTime fromReferenceSeconds(double seconds);

// The standardized form of a path: absolute, "." and ".." removed, no trailing slash.
QString standardizedPath(const QString &path);

// One video file on disk.
struct VideoFile {
    QString id;            // standardized path: the identity everywhere
    QString name;          // last path component, extension included
    QString fileExtension; // upper case, empty when the name has none
    QString directoryPath; // the containing folder
    qint64 fileSize = 0;
    QDateTime modifiedDate;
    std::optional<QDateTime> createdDate;

    // 22 known extensions and the 8 the native player is tried on, lower case.
    static const QSet<QString> &knownVideoExtensions();
    static const QSet<QString> &nativeVideoExtensions();

    // Builds a value for a file at `path` from facts already read. No value when the
    // extension is not a known video extension or the size is below 1.
    static std::optional<VideoFile> make(const QString &path, qint64 size, const QDateTime &modified,
                                         const std::optional<QDateTime> &created);
    // Reads the facts from the file system (regular files only).
    static std::optional<VideoFile> fromFile(const QString &path);

    // The file URL of `id`. Made on demand: a URL kept per video cost more memory than all
    // of the video's other facts together.
    QUrl url() const { return QUrl::fromLocalFile(id); }

    bool isNativeFormat() const { return nativeVideoExtensions().contains(fileExtension.toLower()); }

    QJsonObject toJson() const;
    // Fails (no value) on a missing or mistyped required key.
    static std::optional<VideoFile> fromJson(const QJsonObject &object);

    bool operator==(const VideoFile &other) const;
    bool operator!=(const VideoFile &other) const { return !(*this == other); }
};
size_t qHash(const VideoFile &video, size_t seed = 0);
// Every member moves by a plain memory copy, so a growing list of videos is reallocated in
// place instead of copied video by video.
Q_DECLARE_TYPEINFO(VideoFile, Q_RELOCATABLE_TYPE);

// What probing a video yields.
struct VideoMediaInfo {
    std::optional<double> duration;
    std::optional<int> width;
    std::optional<int> height;
    std::optional<double> fps;
    std::optional<QString> codec;
    bool isPlayableNatively = false;

    std::optional<QString> resolutionLabel() const;
    std::optional<QString> dimensionsText() const;

    bool operator==(const VideoMediaInfo &other) const = default;
};
size_t qHash(const VideoMediaInfo &info, size_t seed = 0);

// Where a scan looks.
struct ScanScope {
    enum class Kind { homeDirectory = 0, entireMacDeep = 1, volume = 2, customFolder = 3 };
    Kind kind = Kind::homeDirectory;
    QString name; // volume only
    QUrl url;     // volume and customFolder

    static ScanScope homeDirectory() { return {Kind::homeDirectory, {}, {}}; }
    static ScanScope entireMacDeep() { return {Kind::entireMacDeep, {}, {}}; }
    static ScanScope volume(const QString &name, const QUrl &url) { return {Kind::volume, name, url}; }
    static ScanScope customFolder(const QUrl &url) { return {Kind::customFolder, {}, url}; }

    QString id() const;
    QString title(std::optional<AppLanguage> language = std::nullopt) const;
    // The folder the tree is built below; none for the whole computer.
    std::optional<QUrl> rootURL() const;

    bool operator==(const ScanScope &other) const;
    bool operator!=(const ScanScope &other) const { return !(*this == other); }
};
size_t qHash(const ScanScope &scope, size_t seed = 0);

// The folder that holds the users' homes here.
inline const char *kUsersFolder = "/home";

enum class SmartFilter { all, recent, largeFiles, nativeFormats, otherFormats };
namespace SmartFilterInfo {
const QList<SmartFilter> &allCases();
QString rawValue(SmartFilter filter);
std::optional<SmartFilter> fromRawValue(const QString &raw);
QString titleKey(SmartFilter filter);
QString title(SmartFilter filter, std::optional<AppLanguage> language = std::nullopt);
} // namespace SmartFilterInfo

enum class VideoSortOrder { nameAsc, sizeDesc, dateDesc, extensionAsc };
namespace VideoSortOrderInfo {
const QList<VideoSortOrder> &allCases();
QString rawValue(VideoSortOrder order);
std::optional<VideoSortOrder> fromRawValue(const QString &raw);
} // namespace VideoSortOrderInfo

// "0:07", "12:05", "1:00:00"; "0:00" for values that are not finite or below zero.
QString formatDuration(double seconds);
// Medium date style (and short time) in the given locale ("en_US", "ja_JP", "de_DE").
QString formatDate(const QDateTime &date, const QLocale &locale);
QString formatDateTime(const QDateTime &date, const QLocale &locale);
// The locale a language formats dates in.
QLocale uiLocale(AppLanguage language);
// File-style byte count: decimal units, "Zero KB", "1 byte", "40 MB", "193.4 MB", "1.23 GB".
QString formatByteCount(qint64 bytes);
// Same, with an explicit decimal separator (for tests and callers that know it).
QString formatByteCount(qint64 bytes, QChar decimalSeparator);
