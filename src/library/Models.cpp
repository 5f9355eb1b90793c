#include "Models.h"

#include "FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonValue>

#include <cmath>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>

double toReferenceSeconds(const QDateTime &date)
{
    return double(date.toMSecsSinceEpoch()) / 1000.0 - double(kReferenceDateOffset);
}

QDateTime fromReferenceSeconds(double seconds)
{
    const double ms = (seconds + double(kReferenceDateOffset)) * 1000.0;
    // Beyond this no calendar date is meant, and the conversion to 64 bits would overflow.
    if (!std::isfinite(ms) || std::fabs(ms) > 1e17)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(ms)), Qt::UTC);
}

QString standardizedPath(const QString &path)
{
    QString p = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
    return p;
}

// ---- VideoFile ----

const QSet<QString> &VideoFile::knownVideoExtensions()
{
    static const QSet<QString> set{"mp4", "mov", "m4v", "mkv", "avi", "webm", "wmv", "flv",
                                   "ts", "m2ts", "mts", "mpg", "mpeg", "3gp", "3g2", "ogv",
                                   "vob", "asf", "rmvb", "divx", "f4v", "mxf"};
    return set;
}

const QSet<QString> &VideoFile::nativeVideoExtensions()
{
    static const QSet<QString> set{"mp4", "mov", "m4v", "3gp", "3g2", "ts", "mpg", "mpeg"};
    return set;
}

static QString pathExtension(const QString &name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot alone (".mp4") names a hidden file with no extension.
    if (dot <= 0 || dot == name.size() - 1)
        return {};
    return name.mid(dot + 1);
}

std::optional<VideoFile> VideoFile::make(const QString &path, qint64 size, const QDateTime &modified,
                                         const std::optional<QDateTime> &created)
{
    const QString std = standardizedPath(path);
    const int slash = std.lastIndexOf(QLatin1Char('/'));
    const QString name = std.mid(slash + 1);
    const QString ext = pathExtension(name);
    if (!knownVideoExtensions().contains(ext.toLower()))
        return std::nullopt;
    if (size < 1)
        return std::nullopt;
    VideoFile v;
    v.id = std;
    v.name = name;
    v.fileExtension = ext.toUpper();
    v.directoryPath = slash <= 0 ? QStringLiteral("/") : std.left(slash);
    v.fileSize = size;
    v.modifiedDate = modified.isValid() ? modified : QDateTime::currentDateTimeUtc();
    v.createdDate = created;
    return v;
}

std::optional<VideoFile> VideoFile::fromFile(const QString &path)
{
    struct statx sx {};
    const QByteArray native = FileNames::encode(path);
    if (::statx(AT_FDCWD, native.constData(), AT_SYMLINK_NOFOLLOW,
                STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    if (!S_ISREG(sx.stx_mode))
        return std::nullopt;
    const QDateTime mtime = QDateTime::fromMSecsSinceEpoch(
        qint64(sx.stx_mtime.tv_sec) * 1000 + sx.stx_mtime.tv_nsec / 1000000, Qt::UTC);
    std::optional<QDateTime> btime;
    if (sx.stx_mask & STATX_BTIME)
        btime = QDateTime::fromMSecsSinceEpoch(
            qint64(sx.stx_btime.tv_sec) * 1000 + sx.stx_btime.tv_nsec / 1000000, Qt::UTC);
    return make(path, qint64(sx.stx_size), mtime, btime);
}

QJsonObject VideoFile::toJson() const
{
    QJsonObject o;
    o["id"] = id;
    o["url"] = url().toString(QUrl::FullyEncoded);
    o["name"] = name;
    o["fileExtension"] = fileExtension;
    o["directoryPath"] = directoryPath;
    o["fileSize"] = fileSize;
    o["modifiedDate"] = toReferenceSeconds(modifiedDate);
    if (createdDate)
        o["createdDate"] = toReferenceSeconds(*createdDate);
    return o;
}

std::optional<VideoFile> VideoFile::fromJson(const QJsonObject &o)
{
    const auto str = [&](const char *key, QString &out) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isString())
            return false;
        out = v.toString();
        return true;
    };
    VideoFile v;
    // Required as every stored record holds it; the URL itself is made from the id.
    QString url;
    if (!str("id", v.id) || !str("url", url) || !str("name", v.name) ||
        !str("fileExtension", v.fileExtension) || !str("directoryPath", v.directoryPath))
        return std::nullopt;
    const QJsonValue size = o.value("fileSize");
    const QJsonValue mod = o.value("modifiedDate");
    if (!size.isDouble() || !mod.isDouble())
        return std::nullopt;
    const double sizeValue = size.toDouble();
    // A whole number beyond 64 bits is no byte count; Qt would read it as 0.
    if (sizeValue != std::floor(sizeValue) || sizeValue < -9223372036854775808.0 ||
        sizeValue >= 9223372036854775808.0)
        return std::nullopt;
    v.fileSize = size.toInteger();
    v.modifiedDate = fromReferenceSeconds(mod.toDouble());
    const QJsonValue created = o.value("createdDate");
    if (created.isDouble())
        v.createdDate = fromReferenceSeconds(created.toDouble());
    else if (!created.isUndefined() && !created.isNull())
        return std::nullopt;
    return v;
}

bool VideoFile::operator==(const VideoFile &o) const
{
    return id == o.id && name == o.name && fileExtension == o.fileExtension &&
           directoryPath == o.directoryPath && fileSize == o.fileSize &&
           modifiedDate == o.modifiedDate && createdDate == o.createdDate;
}

size_t qHash(const VideoFile &v, size_t seed)
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, v.id);
    seed = combine(seed, v.name);
    seed = combine(seed, v.fileExtension);
    seed = combine(seed, v.directoryPath);
    seed = combine(seed, v.fileSize);
    seed = combine(seed, v.modifiedDate.toMSecsSinceEpoch());
    seed = combine(seed, v.createdDate ? v.createdDate->toMSecsSinceEpoch() + 1 : 0);
    return seed;
}

// ---- VideoMediaInfo ----

std::optional<QString> VideoMediaInfo::resolutionLabel() const
{
    if (!width || !height || *width <= 0 || *height <= 0)
        return std::nullopt;
    const int m = std::max(*width, *height);
    if (m >= 7680) return QStringLiteral("8K");
    if (m >= 3840) return QStringLiteral("4K");
    if (m >= 2560) return QStringLiteral("1440p");
    if (m >= 1920) return QStringLiteral("1080p");
    if (m >= 1280) return QStringLiteral("720p");
    if (m >= 854) return QStringLiteral("480p");
    return QString::number(*width) + QChar(0x00D7) + QString::number(*height);
}

std::optional<QString> VideoMediaInfo::dimensionsText() const
{
    if (!width || !height || *width <= 0 || *height <= 0)
        return std::nullopt;
    return QString::number(*width) + QStringLiteral(" \u00D7 ") + QString::number(*height);
}

size_t qHash(const VideoMediaInfo &i, size_t seed)
{
    QtPrivate::QHashCombine combine;
    auto opt = [&](const auto &o) { seed = combine(seed, o.has_value()); if (o) seed = combine(seed, *o); };
    opt(i.duration);
    opt(i.width);
    opt(i.height);
    opt(i.fps);
    opt(i.codec);
    return combine(seed, i.isPlayableNatively);
}

// ---- ScanScope ----

QString ScanScope::id() const
{
    switch (kind) {
    case Kind::homeDirectory: return QStringLiteral("scope:users-root");
    case Kind::entireMacDeep: return QStringLiteral("scope:mac-deep");
    case Kind::volume: return QStringLiteral("scope:vol:") + standardizedPath(url.toLocalFile());
    case Kind::customFolder: return QStringLiteral("scope:custom:") + standardizedPath(url.toLocalFile());
    }
    return {};
}

QString ScanScope::title(std::optional<AppLanguage> language) const
{
    switch (kind) {
    case Kind::homeDirectory: return L10n::text("scope.users", language);
    case Kind::entireMacDeep: return L10n::text("scope.allmac", language);
    case Kind::volume: return name;
    case Kind::customFolder: {
        QString path = url.toLocalFile();
        while (path.size() > 1 && path.endsWith('/'))
            path.chop(1);
        const QString last = path.mid(path.lastIndexOf('/') + 1);
        return last.isEmpty() ? path : last;
    }
    }
    return {};
}

std::optional<QUrl> ScanScope::rootURL() const
{
    switch (kind) {
    case Kind::homeDirectory: return QUrl::fromLocalFile(QString::fromLatin1(kUsersFolder));
    case Kind::entireMacDeep: return std::nullopt;
    case Kind::volume:
    case Kind::customFolder: return QUrl::fromLocalFile(standardizedPath(url.toLocalFile()));
    }
    return std::nullopt;
}

bool ScanScope::operator==(const ScanScope &o) const
{
    if (kind != o.kind)
        return false;
    switch (kind) {
    case Kind::volume: return name == o.name && url == o.url;
    case Kind::customFolder: return url == o.url;
    default: return true;
    }
}

size_t qHash(const ScanScope &s, size_t seed)
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, int(s.kind));
    if (s.kind == ScanScope::Kind::volume)
        seed = combine(seed, s.name);
    if (s.kind == ScanScope::Kind::volume || s.kind == ScanScope::Kind::customFolder)
        seed = combine(seed, s.url);
    return seed;
}

// ---- SmartFilter / VideoSortOrder ----

namespace SmartFilterInfo {
const QList<SmartFilter> &allCases()
{
    static const QList<SmartFilter> all{SmartFilter::all, SmartFilter::recent, SmartFilter::largeFiles,
                                        SmartFilter::nativeFormats, SmartFilter::otherFormats};
    return all;
}
QString rawValue(SmartFilter f)
{
    switch (f) {
    case SmartFilter::all: return "all";
    case SmartFilter::recent: return "recent";
    case SmartFilter::largeFiles: return "largeFiles";
    case SmartFilter::nativeFormats: return "nativeFormats";
    case SmartFilter::otherFormats: return "otherFormats";
    }
    return {};
}
std::optional<SmartFilter> fromRawValue(const QString &raw)
{
    for (SmartFilter f : allCases())
        if (rawValue(f) == raw)
            return f;
    return std::nullopt;
}
QString titleKey(SmartFilter f)
{
    switch (f) {
    case SmartFilter::all: return "filter.all";
    case SmartFilter::recent: return "filter.recent";
    case SmartFilter::largeFiles: return "filter.large";
    case SmartFilter::nativeFormats: return "filter.native";
    case SmartFilter::otherFormats: return "filter.other";
    }
    return {};
}
QString title(SmartFilter f, std::optional<AppLanguage> language) { return L10n::text(titleKey(f), language); }
} // namespace SmartFilterInfo

namespace VideoSortOrderInfo {
const QList<VideoSortOrder> &allCases()
{
    static const QList<VideoSortOrder> all{VideoSortOrder::nameAsc, VideoSortOrder::sizeDesc,
                                           VideoSortOrder::dateDesc, VideoSortOrder::extensionAsc};
    return all;
}
QString rawValue(VideoSortOrder o)
{
    switch (o) {
    case VideoSortOrder::nameAsc: return "nameAsc";
    case VideoSortOrder::sizeDesc: return "sizeDesc";
    case VideoSortOrder::dateDesc: return "dateDesc";
    case VideoSortOrder::extensionAsc: return "extensionAsc";
    }
    return {};
}
std::optional<VideoSortOrder> fromRawValue(const QString &raw)
{
    for (VideoSortOrder o : allCases())
        if (rawValue(o) == raw)
            return o;
    return std::nullopt;
}
} // namespace VideoSortOrderInfo

// ---- formatting ----

QString formatDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return QStringLiteral("0:00");
    // Beyond what a 64-bit count of seconds holds no real video goes; clamp.
    const double floored = std::floor(seconds);
    const qint64 s = floored >= 9.2e18 ? std::numeric_limits<qint64>::max() : qint64(floored);
    char buf[64];
    if (s < 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld", (long long)(s / 60), (long long)(s % 60));
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", (long long)(s / 3600),
                      (long long)((s % 3600) / 60), (long long)(s % 60));
    return QString::fromLatin1(buf);
}

QLocale uiLocale(AppLanguage language) { return QLocale(AppLanguageInfo::uiLocaleName(language)); }

static QString mediumDatePattern(const QLocale &locale)
{
    switch (locale.language()) {
    case QLocale::Japanese: return QStringLiteral("yyyy/MM/dd");
    case QLocale::German: return QStringLiteral("dd.MM.yyyy");
    case QLocale::English: return QStringLiteral("MMM d, yyyy");
    default: return locale.dateFormat(QLocale::ShortFormat);
    }
}

QString formatDate(const QDateTime &date, const QLocale &locale)
{
    return locale.toString(date.toLocalTime().date(), mediumDatePattern(locale));
}

QString formatDateTime(const QDateTime &date, const QLocale &locale)
{
    const QDateTime local = date.toLocalTime();
    const QString day = formatDate(date, locale);
    switch (locale.language()) {
    case QLocale::Japanese: return day + ' ' + locale.toString(local.time(), QStringLiteral("H:mm"));
    case QLocale::German: return day + ", " + locale.toString(local.time(), QStringLiteral("HH:mm"));
    case QLocale::English: return day + " at " + locale.toString(local.time(), QStringLiteral("h:mm AP"));
    default: return day + ' ' + locale.toString(local.time(), QLocale::ShortFormat);
    }
}

QString formatByteCount(qint64 bytes) { return formatByteCount(bytes, QLocale::system().decimalPoint().at(0)); }

QString formatByteCount(qint64 bytes, QChar decimalSeparator)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const bool negative = bytes < 0;
    const double magnitude = negative ? -double(bytes) : double(bytes);
    const QString sign = negative ? QStringLiteral("-") : QString();
    if (magnitude < 1000) {
        const qint64 n = qint64(magnitude);
        return sign + QString::number(n) + (n == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    }
    struct Unit { const char *name; double size; int decimals; };
    static const Unit units[] = {{"KB", 1e3, 0}, {"MB", 1e6, 1}, {"GB", 1e9, 2},
                                 {"TB", 1e12, 2}, {"PB", 1e15, 2}, {"EB", 1e18, 2}};
    const int count = int(sizeof units / sizeof units[0]);
    for (int i = 0; i < count; ++i) {
        const double scale = std::pow(10.0, units[i].decimals);
        const double rounded = std::round(magnitude / units[i].size * scale) / scale;
        // The unit is chosen after rounding: 999.96 MB shows as 1 GB.
        if (rounded >= 1000 && i + 1 < count)
            continue;
        QString text = QString::number(rounded, 'f', units[i].decimals);
        if (text.contains('.')) {
            while (text.endsWith('0'))
                text.chop(1);
            if (text.endsWith('.'))
                text.chop(1);
            text.replace('.', decimalSeparator);
        }
        return sign + text + ' ' + QLatin1String(units[i].name);
    }
    return {};
}
