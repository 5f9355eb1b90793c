#include "tools/DuplicateVideoService.h"
#include "support/TestSupport.h"
#include "library/FileNames.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace {

QString root() { return lktest::sandboxRoot() + "/dupes"; }

// Deterministic content of `size` bytes; `seed` changes every byte.
QByteArray content(qint64 size, int seed)
{
    QByteArray out(size, Qt::Uninitialized);
    quint32 x = 2463534242u + quint32(seed) * 7919u;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x);
    }
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A library entry for a file; `recordedSize` stands for what the library scan saw.
VideoFile entry(const QString &path, qint64 recordedSize, int ageDays = 10)
{
    return *VideoFile::make(path, recordedSize, QDateTime(QDate(2026, 1, 1), QTime(12, 0)).addDays(-ageDays), std::nullopt);
}

VideoFile makeVideo(const QString &path, const QByteArray &bytes, int ageDays = 10)
{
    EXPECT_TRUE(writeFile(path, bytes)) << path.toStdString();
    return entry(path, bytes.size(), ageDays);
}

std::vector<DuplicateScanEvent> scan(const QList<VideoFile> &videos, std::stop_token stop = {})
{
    std::vector<DuplicateScanEvent> events;
    DuplicateVideoService::findExactDuplicates(videos, [&](const DuplicateScanEvent &e) { events.push_back(e); }, stop);
    return events;
}

QStringList names(const QList<VideoFile> &videos)
{
    QStringList out;
    for (const VideoFile &v : videos) out << QDir(root()).relativeFilePath(v.id);
    return out;
}

QString sha256(const QByteArray &bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(); }

} // namespace

TEST(ExactDuplicates, GroupsIdenticalFilesInKeepOrderAndReportsProgress)
{
    const QString r = root();
    const QByteArray a = content(300'000, 1), b = content(200'000, 2);
    QByteArray c1 = content(400'000, 3), c2 = c1;
    c2[100'000] = char(c2[100'000] ^ 0x55); // outside all three windows: only the full digest tells
    QList<VideoFile> videos = {
        makeVideo(r + "/x/A (2).mp4", a, 5),
        makeVideo(r + "/x/y/A.mp4", a, 1),
        makeVideo(r + "/x/A copy.mp4", a, 9),
        makeVideo(r + "/b1.mov", b),
        makeVideo(r + "/c1.mkv", c1),
        makeVideo(r + "/deep/folder/b2.mov", b),
        makeVideo(r + "/c2.mkv", c2),
        makeVideo(r + "/unique.mp4", content(123'456, 4)),
    };
    // Empty files are never duplicates of each other.
    ASSERT_TRUE(writeFile(r + "/empty1.mp4", {}) && writeFile(r + "/empty2.mp4", {}));
    for (const char *name : {"/empty1.mp4", "/empty2.mp4"}) {
        VideoFile empty = entry(r + name, 1);
        empty.fileSize = 0;
        videos << empty;
    }

    const auto events = scan(videos);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), DuplicateScanEvent::progress(0.08, QStringLiteral("Grouping by file size\u2026")));
    const DuplicateScanEvent &done = events.back();
    ASSERT_EQ(done.kind, DuplicateScanEvent::Kind::completed);
    EXPECT_EQ(done.unreadableCount, 0);
    ASSERT_EQ(done.groups.size(), 2);
    // Three copies of 300 kB free 600 kB, two of 200 kB free 200 kB.
    EXPECT_EQ(done.groups[0].id, sha256(a));
    EXPECT_EQ(done.groups[0].fileSize, 300'000);
    // Not a copy first; then the shorter folder; then the older file.
    EXPECT_EQ(names(done.groups[0].videos), QStringList({"x/y/A.mp4", "x/A copy.mp4", "x/A (2).mp4"}));
    EXPECT_EQ(done.groups[1].id, sha256(b));
    EXPECT_EQ(names(done.groups[1].videos), QStringList({"b1.mov", "deep/folder/b2.mov"}));

    // 7 candidates by size; all 7 share a fingerprint with another, so all are read in full.
    QStringList stages;
    std::vector<double> fractions;
    for (size_t i = 1; i + 1 < events.size(); ++i) {
        stages << events[i].stage;
        fractions.push_back(events[i].fraction);
    }
    EXPECT_EQ(stages, QStringList({"5 / 7", "7 / 7", "1 / 7", "2 / 7", "3 / 7", "4 / 7", "5 / 7", "6 / 7", "7 / 7"}));
    EXPECT_DOUBLE_EQ(fractions[0], (5.0 / 7.0) * 0.45 + 0.1);
    EXPECT_DOUBLE_EQ(fractions[1], 0.55);
    EXPECT_DOUBLE_EQ(fractions.back(), 0.98);
}

TEST(ExactDuplicates, EveryFingerprintWindowTellsFilesApart)
{
    const QString r = root();
    const struct {
        qint64 size;
        qint64 changedByte;
        bool sameFingerprint;
    } cases[] = {
        {300'000, 10, false},                // first window
        {300'000, 150'000 + 100, false},     // middle window
        {300'000, 300'000 - 1, false},       // last window
        {300'000, 100'000, true},            // between the windows
        {100'000, 99'999, false},            // two overlapping windows, no middle one
        {1'000, 999, false},                 // one window holds the whole file
    };
    for (const auto &c : cases) {
        const QByteArray one = content(c.size, 7);
        QByteArray two = one;
        two[c.changedByte] = char(two[c.changedByte] ^ 1);
        ASSERT_TRUE(writeFile(r + "/w1", one) && writeFile(r + "/w2", two));
        const auto p1 = DuplicateVideoService::fingerprint(r + "/w1", c.size);
        const auto p2 = DuplicateVideoService::fingerprint(r + "/w2", c.size);
        ASSERT_TRUE(p1 && p2);
        EXPECT_EQ(p1->size(), 64);
        EXPECT_EQ(*p1 == *p2, c.sameFingerprint) << c.size << " changed at " << c.changedByte;
    }
}

// Names that are not UTF-8 are read at their exact bytes: "x\xff" is neither the file
// "x\xef\xbf\xbd" (U+FFFD spelt out) nor unreadable, and two Latin-1 names still group.
TEST(ExactDuplicates, NamesThatAreNotUtf8AreReadAtTheirOwnBytes)
{
    const QByteArray r = FileNames::encode(root() + "/bytes");
    QDir().mkpath(FileNames::decode(r));
    const QByteArray same = content(150'000, 21), other = content(150'000, 22);
    const auto make = [&](const QByteArray &leaf, const QByteArray &bytes) {
        const QByteArray path = r + "/" + leaf;
        const int fd = ::open(path.constData(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0) << path.constData();
        EXPECT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        ::close(fd);
        return entry(FileNames::decode(path), bytes.size());
    };
    const VideoFile y = make("y.mp4", same);
    const VideoFile replacement = make("x\xef\xbf\xbd.mp4", same);
    const VideoFile raw = make("x\xff.mp4", other);
    const VideoFile latin1a = make("caf\xe9 1.mp4", other);
    const VideoFile latin1b = make("caf\xe9 2.mp4", content(150'000, 23));
    const VideoFile latin1c = make("caf\xe9 3.mp4", content(150'000, 23));
    ASSERT_NE(raw.id, replacement.id);

    const auto events = scan({y, replacement, raw, latin1a, latin1b, latin1c});
    const DuplicateScanEvent &done = events.back();
    ASSERT_EQ(done.kind, DuplicateScanEvent::Kind::completed);
    EXPECT_EQ(done.unreadableCount, 0);
    ASSERT_EQ(done.groups.size(), 3);
    QSet<QSet<QString>> groups;
    for (const DuplicateVideoGroup &g : done.groups) {
        QSet<QString> ids;
        for (const VideoFile &v : g.videos) ids.insert(v.id);
        groups.insert(ids);
    }
    EXPECT_EQ(groups, (QSet<QSet<QString>>{{y.id, replacement.id}, {raw.id, latin1a.id}, {latin1b.id, latin1c.id}}));
}

// Files that are not what the library recorded, or no files at all, never group and are
// counted as not read; the scan never blocks on them.
TEST(ExactDuplicates, FilesThatCannotBeReadAsRecordedAreLeftOutAndCounted)
{
    const QString r = root() + "/odd";
    const QByteArray bytes = content(200'000, 11);
    struct Case {
        const char *what;
        std::function<QList<VideoFile>()> make;
        int groups;
        int unreadable;
    };
    const Case cases[] = {
        {"a FIFO in place of a video",
         [&] {
             QDir().mkpath(r);
             ::unlink(QFile::encodeName(r + "/pipe.mp4"));
             EXPECT_EQ(::mkfifo(QFile::encodeName(r + "/pipe.mp4").constData(), 0644), 0);
             return QList<VideoFile>{makeVideo(r + "/real.mp4", bytes), entry(r + "/pipe.mp4", bytes.size())};
         },
         0, 1},
        {"files shorter than recorded", [&] {
             QList<VideoFile> v{makeVideo(r + "/s1.mp4", bytes), makeVideo(r + "/s2.mp4", bytes)};
             for (VideoFile &f : v) f.fileSize = 250'000;
             return v;
         }, 0, 2},
        {"files longer than recorded", [&] {
             QList<VideoFile> v{makeVideo(r + "/l1.mp4", bytes), makeVideo(r + "/l2.mp4", bytes)};
             for (VideoFile &f : v) f.fileSize = 150'000;
             return v;
         }, 0, 2},
        {"a folder and a missing file beside a real pair", [&] {
             QDir().mkpath(r + "/dir.mp4");
             return QList<VideoFile>{makeVideo(r + "/p1.mp4", bytes), makeVideo(r + "/p2.mp4", bytes),
                                     entry(r + "/dir.mp4", bytes.size()), entry(r + "/gone.mp4", bytes.size())};
         }, 1, 2},
    };
    for (const Case &c : cases) {
        const QList<VideoFile> videos = c.make();
        const auto events = scan(videos);
        ASSERT_EQ(events.back().kind, DuplicateScanEvent::Kind::completed) << c.what;
        EXPECT_EQ(events.back().groups.size(), c.groups) << c.what;
        EXPECT_EQ(events.back().unreadableCount, c.unreadable) << c.what;
    }
}

namespace {

// Runs `body` in a child process as the unprivileged user and returns its output lines.
QStringList asNobody(const std::function<QStringList()> &body)
{
    int fds[2];
    if (::pipe(fds) != 0) return {"pipe failed"};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const gid_t nogroup = 65534;
        if (::setgroups(1, &nogroup) != 0 || ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(3);
        const QByteArray out = body().join("\n").toUtf8();
        ::_exit(::write(fds[1], out.constData(), size_t(out.size())) == out.size() ? 0 : 4);
    }
    ::close(fds[1]);
    QByteArray out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {QString("child failed with status %1").arg(status)};
    return QString::fromUtf8(out).split('\n');
}

} // namespace

TEST(ExactDuplicates, UnreadableFilesAreNeverIdentical)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const QString r = root() + "/perm";
    const QByteArray bytes = content(200'000, 21);
    // Three copies, one of them unreadable: the other two group. Two unreadable copies of
    // another file: no group, although both "read" nothing.
    const QList<VideoFile> videos = {makeVideo(r + "/a1.mp4", bytes), makeVideo(r + "/a2.mp4", bytes),
                                     makeVideo(r + "/a3.mp4", bytes), makeVideo(r + "/u1.mp4", content(300'000, 22)),
                                     makeVideo(r + "/u2.mp4", content(300'000, 22))};
    for (const char *name : {"a3.mp4", "u1.mp4", "u2.mp4"}) ::chmod(QFile::encodeName(r + "/" + name).constData(), 0);
    for (QString dir = r; dir.startsWith(lktest::sandboxRoot()) || dir == lktest::sandboxRoot(); dir = QFileInfo(dir).path()) {
        ::chmod(QFile::encodeName(dir).constData(), 0755);
        if (dir == lktest::sandboxRoot()) break;
    }
    const QStringList out = asNobody([&] {
        const auto events = scan(videos);
        QStringList lines{QString::number(events.back().unreadableCount)};
        for (const DuplicateVideoGroup &g : events.back().groups) lines << names(g.videos).join(",");
        return lines;
    });
    EXPECT_EQ(out, QStringList({"3", "perm/a1.mp4,perm/a2.mp4"}));
}

TEST(ExactDuplicates, CancellingStopsInsideAFileAndSendsNoCompletion)
{
    const QString r = root() + "/big";
    // Sparse files of 1 GiB read fast but still take many 1 MiB blocks.
    ASSERT_TRUE(lktest::writeSizedFile(r + "/one.mp4", 1LL << 30));
    ASSERT_TRUE(lktest::writeSizedFile(r + "/two.mp4", 1LL << 30));
    const QList<VideoFile> videos = {entry(r + "/one.mp4", 1LL << 30), entry(r + "/two.mp4", 1LL << 30)};

    // A digest that is stopped while it runs gives no digest at all.
    std::stop_source stopDigest;
    std::optional<QString> digest = QString("unset");
    std::jthread reader([&] { digest = DuplicateVideoService::contentDigest(r + "/one.mp4", 1LL << 30, stopDigest.get_token()); });
    stopDigest.request_stop();
    reader.join();
    EXPECT_FALSE(digest.has_value());

    // Stopped once the digest pass begins: no completion, nothing after the stop.
    std::stop_source stop;
    std::vector<DuplicateScanEvent> events;
    DuplicateVideoService::findExactDuplicates(
        videos,
        [&](const DuplicateScanEvent &e) {
            events.push_back(e);
            if (e.stage == "2 / 2") stop.request_stop(); // the fingerprint pass is done
        },
        stop.get_token());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().stage, "2 / 2");
    for (const auto &e : events) EXPECT_NE(e.kind, DuplicateScanEvent::Kind::completed);

    // Through the job handle: events arrive queued on the caller's thread, none after cancel.
    int seen = 0;
    QObject context;
    std::unique_ptr<DuplicateScanJob> job(DuplicateVideoService::startScan(videos, nullptr));
    job->onEvent(&context, [&](const DuplicateScanEvent &) { ++seen; });
    ASSERT_TRUE(lktest::waitFor([&] { return seen >= 1; }));
    job->cancel();
    const int atCancel = seen;
    ASSERT_TRUE(job->waitForFinished(60000));
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, atCancel);
}

TEST(ExactDuplicates, ReclaimableBytesAndEmptyInput)
{
    const QString r = root();
    EXPECT_EQ(DuplicateVideoService::reclaimableBytes({}), 0);
    EXPECT_EQ(DuplicateVideoService::reclaimableBytes({entry(r + "/a.mp4", 5)}), 0);
    EXPECT_EQ(DuplicateVideoService::reclaimableBytes({entry(r + "/a.mp4", 5), entry(r + "/b.mp4", 7), entry(r + "/c.mp4", 9)}), 16);
    const auto events = scan({entry(r + "/a.mp4", 5), entry(r + "/b.mp4", 7)});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1], DuplicateScanEvent::completed({}));
}
