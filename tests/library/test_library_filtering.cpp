// Filtering through the library index: a query typed, grown, shrunk and replaced, filters
// switched and the library changed in between must always give what a fresh state with the
// same settings gives; counts must equal a plain count; the index-built tree must equal the
// tree built from the copied list.
#include "library/AppState.h"
#include "library/LibraryIndex.h"
#include "library/LumenkiteBuilder.h"

#include <gtest/gtest.h>

#include <QCollator>
#include <QCollatorSortKey>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>

#include <functional>
#include <numeric>

namespace {

VideoFile video(const QString &path, qint64 size, int daysOld)
{
    return *VideoFile::make(path, size, QDateTime::currentDateTimeUtc().addDays(-daysOld), std::nullopt);
}

QList<VideoFile> library()
{
    return {
        video("/srv/v/Trips/Beach Day.MP4", 300'000'000, 1),
        video("/srv/v/Trips/beach night.mov", 1'000, 40),
        video("/srv/v/Trips/Ünïcode Beach.mkv", 250'000'000, 2),
        video("/srv/v/mp4s/clip10.mkv", 5'000, 100),
        video("/srv/v/mp4s/clip2.avi", 5'000, 3),
        video("/srv/v/other/Plain.mov", 249'999'999, 31),
        video("/srv/v/other/plain.MOV", 7, 29),
        video("/srv/v/beachside/x.webm", 12, 0),
    };
}

struct Settings {
    SmartFilter smart = SmartFilter::all;
    std::optional<QString> extension;
    QString query;
};

void apply(AppState &state, const Settings &s)
{
    state.setActiveSmartFilter(s.smart);
    state.setActiveExtensionFilter(s.extension);
    state.setSearchQuery(s.query);
}

QStringList ids(const QList<VideoFile> &videos)
{
    QStringList out;
    for (const VideoFile &v : videos)
        out.append(v.id);
    return out;
}

// What a state that never filtered before shows for these settings and this library.
QStringList fresh(const QList<VideoFile> &videos, const Settings &s)
{
    AppState state;
    state.setAllVideos(videos);
    apply(state, s);
    return ids(state.filteredVideos());
}

QStringList rowIDs(const QList<TreeRow> &rows)
{
    QStringList out;
    for (const TreeRow &row : rows)
        out.append(row.id());
    return out;
}

} // namespace

TEST(LibraryFiltering, StepByStepFilteringEqualsAFreshFilter)
{
    QList<VideoFile> videos = library();
    QList<VideoFile> fewer = videos;
    fewer.removeAt(1);
    fewer.removeAt(0);
    QList<VideoFile> more = videos;
    more.append(video("/srv/v/new/Beach Walk.mp4", 10, 0));
    more.append(video("/srv/v/new/beachball.flv", 10, 50));

    struct Step {
        Settings settings;
        const QList<VideoFile> *library; // a change of the library before the step; null keeps it
    };
    const Step steps[] = {
        {{SmartFilter::all, {}, "b"}, nullptr},
        {{SmartFilter::all, {}, "be"}, nullptr},          // grows
        {{SmartFilter::all, {}, "beach"}, nullptr},
        {{SmartFilter::all, {}, "beach n"}, nullptr},
        {{SmartFilter::all, {}, "beach"}, nullptr},       // shrinks
        {{SmartFilter::all, {}, "BEACH"}, nullptr},       // same folded query
        {{SmartFilter::all, {}, "beachs"}, nullptr},      // grows into the folder only
        {{SmartFilter::all, {}, "mp4"}, nullptr},         // replaced: extension and folder
        {{SmartFilter::all, {}, "mp4"}, &more},           // the library grows under the query
        {{SmartFilter::all, {}, "beach"}, nullptr},
        {{SmartFilter::all, {}, "beach w"}, &fewer},      // grows while the library shrinks
        {{SmartFilter::recent, {}, "beach w"}, &more},
        {{SmartFilter::recent, {}, "beach"}, nullptr},
        {{SmartFilter::largeFiles, {}, "beach"}, nullptr},
        {{SmartFilter::largeFiles, {}, "beach d"}, nullptr},
        {{SmartFilter::nativeFormats, {}, "p"}, nullptr},
        {{SmartFilter::nativeFormats, {}, "pl"}, nullptr},
        {{SmartFilter::otherFormats, {}, "pl"}, nullptr},
        {{SmartFilter::all, QString("MOV"), "pl"}, nullptr},
        {{SmartFilter::all, QString("MOV"), "pla"}, nullptr},
        {{SmartFilter::all, QString("MKV"), "pla"}, nullptr},
        {{SmartFilter::all, QString("MKV"), ""}, nullptr},
        {{SmartFilter::all, {}, "ünï"}, &videos},
        {{SmartFilter::all, {}, "ÜNÏC"}, nullptr},
        {{SmartFilter::all, {}, "  clip1 "}, nullptr},
        {{SmartFilter::all, {}, ""}, nullptr},
    };
    AppState state;
    state.setAllVideos(videos);
    // What a widget reads when it hears of a new query is the new query's result.
    qsizetype countHeard = -1;
    QObject::connect(&state, &AppState::searchQueryChanged, [&] { countHeard = state.filteredVideoCount(); });
    const QList<VideoFile> *current = &videos;
    for (const Step &step : steps) {
        if (step.library) {
            state.setAllVideos(*step.library);
            current = step.library;
        }
        countHeard = -1;
        apply(state, step.settings);
        const QStringList expected = fresh(*current, step.settings);
        const std::string label = step.settings.query.toStdString();
        if (countHeard >= 0) {
            EXPECT_EQ(countHeard, expected.size()) << label << " (as the change was heard)";
        }
        EXPECT_EQ(ids(state.filteredVideos()), expected) << label;
        EXPECT_EQ(state.filteredVideoCount(), expected.size()) << label;
        qint64 bytes = 0;
        for (const VideoFile &v : state.filteredVideos())
            bytes += v.fileSize;
        EXPECT_EQ(state.filteredVideoBytes(), bytes) << label;
        // The tree shows exactly the filtered videos.
        QStringList shown;
        for (const TreeRow &row : LumenkiteBuilder::flatten(state.treeRoots(), true, {}))
            if (row.isVideo())
                shown.append(row.video().id);
        shown.sort();
        QStringList sortedExpected = expected;
        sortedExpected.sort();
        EXPECT_EQ(shown, sortedExpected) << label;
    }
}

TEST(LibraryFiltering, SmartViewCountsEqualAPlainCountAndFollowTheLibrary)
{
    AppState state;
    EXPECT_FALSE(state.smartFilterCount(SmartFilter::all).has_value());
    QList<VideoFile> videos = library();
    const QDateTime now = QDateTime::currentDateTime();
    for (int round = 0; round < 3; ++round) {
        state.setAllVideos(videos);
        // A filter or query leaves the counts of the whole library unchanged.
        state.setSearchQuery(round == 1 ? "beach" : "");
        state.setActiveExtensionFilter(round == 2 ? std::optional<QString>("MOV") : std::nullopt);
        for (SmartFilter f : SmartFilterInfo::allCases()) {
            int plain = 0;
            for (const VideoFile &v : videos) {
                switch (f) {
                case SmartFilter::all: plain += 1; break;
                case SmartFilter::recent: plain += v.modifiedDate >= now.addDays(-30); break;
                case SmartFilter::largeFiles: plain += v.fileSize >= 250'000'000; break;
                case SmartFilter::nativeFormats: plain += v.isNativeFormat(); break;
                case SmartFilter::otherFormats: plain += !v.isNativeFormat(); break;
                }
            }
            EXPECT_EQ(state.smartFilterCount(f), plain) << round << " " << SmartFilterInfo::rawValue(f).toStdString();
        }
        // The next round counts a changed library: no count may stay from this one.
        videos.removeFirst();
        videos.append(video(QString("/srv/v/more/big%1.mp4").arg(round), 900'000'000, 0));
    }
}

// A large list is numbered in parts side by side: its folders and extensions must come out
// as one pass over it would number them, and filter as a plain test of each video would.
TEST(LibraryFiltering, ALargeListNumberedInPartsEqualsOnePlainPass)
{
    QList<VideoFile> videos;
    const char *const extensions[] = {"mp4", "MOV", "mkv"};
    constexpr int kCount = 120'000;
    for (int i = 0; i < kCount; ++i) {
        // Folders return after others (so one folder lies in several parts), and two kinds of
        // file appear only late in the list.
        const int folder = (i / 5) % 3'001;
        const char *extension = i >= kCount - 10 ? "webm" : (i >= kCount / 2 ? extensions[i % 3] : extensions[i % 2]);
        videos.append(video(QString("/srv/lib/f%1/Clip %2.%3").arg(folder).arg(i).arg(extension), i + 1, i % 50));
    }
    const LibraryIndex index(videos);
    const std::vector<int> &folders = index.folders();
    QHash<QString, int> plain;
    for (qsizetype i = 0; i < videos.size(); ++i) {
        const auto it = plain.constFind(videos[i].directoryPath);
        const int expected = it == plain.cend() ? int(plain.size()) : *it;
        plain.insert(videos[i].directoryPath, expected);
        ASSERT_EQ(folders[size_t(i)], expected) << videos[i].id.toStdString();
    }
    EXPECT_EQ(index.folderCount(), plain.size());

    const auto plainFilter = [&](const std::function<bool(const VideoFile &)> &passes) {
        std::vector<int> out;
        for (qsizetype i = 0; i < videos.size(); ++i)
            if (passes(videos[i]))
                out.push_back(int(i));
        return out;
    };
    LibraryIndex::Criteria webm, mkv, query, native;
    webm.extension = "WEBM";
    mkv.extension = "MKV";
    query.foldedQuery = "f3000"; // a folder first met in the list's second half
    native.smart = SmartFilter::nativeFormats;
    EXPECT_EQ(index.filter(webm), plainFilter([](const VideoFile &v) { return v.fileExtension == "WEBM"; }));
    EXPECT_EQ(index.filter(mkv), plainFilter([](const VideoFile &v) { return v.fileExtension == "MKV"; }));
    EXPECT_EQ(index.filter(query), plainFilter([](const VideoFile &v) { return v.directoryPath.endsWith("f3000"); }));
    EXPECT_EQ(index.filter(native), plainFilter([](const VideoFile &v) { return v.isNativeFormat(); }));
    query.foldedQuery = "clip 11999";
    EXPECT_EQ(index.filter(query).size(), 11u); // Clip 11999 and Clip 119990..119999
}

TEST(LibraryFiltering, IndexBuiltTreeEqualsTheTreeOfTheCopiedList)
{
    // Names that collate alike but differ in case, numbers in names, accents, equal names
    // in two folders, a folder of a single folder (compaction) and a video with no date.
    QList<VideoFile> videos = {
        video("/srv/lib/a/Clip10.mp4", 30, 5),   video("/srv/lib/a/clip2.mp4", 30, 5),
        video("/srv/lib/a/CLIP2.mov", 10, 1),    video("/srv/lib/a/clip2.MP4", 20, 9),
        video("/srv/lib/a/Élan.mkv", 40, 2),     video("/srv/lib/a/elan.mkv", 40, 2),
        video("/srv/lib/b/only/deep/x.avi", 5, 3), video("/srv/lib/b/Clip10.mp4", 30, 5),
        video("/srv/lib/zeta.webm", 1, 400),
    };
    VideoFile undated = video("/srv/lib/a/undated.mp4", 2, 0);
    undated.modifiedDate = QDateTime();
    videos.append(undated);
    // Enough others that a few videos are a small part of the list, which sorts its own
    // folders by the ranks instead of walking the order of the whole list.
    for (int i = 0; i < 30; ++i)
        videos.append(video(QString("/srv/other/filler%1.mp4").arg(i), 3, i));

    const LibraryIndex index(videos);
    std::vector<int> all(size_t(videos.size()));
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = int(i);
    std::vector<int> some = {0, 2, 3, 5, 6, 9};
    std::vector<int> few = {0, 1, 2, 3, 9};
    for (std::vector<int> *subset : {&all, &some, &few}) {
        QList<VideoFile> copied;
        for (int i : *subset)
            copied.append(videos[i]);
        for (VideoSortOrder order : VideoSortOrderInfo::allCases()) {
            for (bool compact : {true, false}) {
                for (const std::optional<QString> &root : {std::optional<QString>("/srv/lib"), std::optional<QString>()}) {
                    const auto fromList = LumenkiteBuilder::buildTree(copied, root, compact, order);
                    const auto fromIndex = LumenkiteBuilder::buildTree(index, *subset, root, compact, order);
                    EXPECT_EQ(rowIDs(LumenkiteBuilder::flatten(fromIndex, true, {})),
                              rowIDs(LumenkiteBuilder::flatten(fromList, true, {})))
                        << VideoSortOrderInfo::rawValue(order).toStdString() << " compact " << compact;
                    ASSERT_EQ(fromIndex.size(), fromList.size());
                    for (qsizetype i = 0; i < fromIndex.size(); ++i) {
                        EXPECT_EQ(fromIndex[i]->totalSize, fromList[i]->totalSize);
                        EXPECT_EQ(fromIndex[i]->latestModifiedDate, fromList[i]->latestModifiedDate);
                    }
                }
            }
        }
    }
}

TEST(LibraryFiltering, CacheReadAtStartUpOpensTheSameLibraryAsAReadInPlace)
{
    // A record of the scope the state opens on, below the (temporary) home.
    QList<VideoFile> videos;
    for (int i = 0; i < 300; ++i)
        videos.append(video(QDir::homePath() + QString("/Videos/f%1/Clip %2.mp4").arg(i % 7).arg(i), 10 + i, i % 60));
    const QString key = AppState().scopeCacheKey();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Lumenkite";
    QDir().mkpath(folder);
    ASSERT_TRUE(ScopeCacheCodec::save({{key, CachedScopeScan{key, videos, {}, QDateTime::currentDateTimeUtc()}}},
                                      folder + "/scope_cache_v1.json"));

    // Waited for by its first reader.
    {
        AppState state;
        EXPECT_EQ(state.scopeCache().value(key).videos, videos);
    }
    // Applied once the read is in; a later request runs at once.
    AppState state;
    int runs = 0;
    state.afterScopeCacheLoads([&] {
        ++runs;
        state.applyActiveScope();
    });
    QElapsedTimer clock;
    clock.start();
    while (runs == 0 && clock.elapsed() < 20'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(runs, 1);
    EXPECT_FALSE(state.isScanning());
    EXPECT_EQ(state.allVideos(), videos);
    state.afterScopeCacheLoads([&] { ++runs; });
    EXPECT_EQ(runs, 2);
    // The index made during the read orders and filters as a fresh one does.
    state.setSearchQuery("clip 1");
    AppState fresh;
    fresh.setAllVideos(videos);
    fresh.setSearchQuery("clip 1");
    EXPECT_EQ(ids(state.filteredVideos()), ids(fresh.filteredVideos()));
    fresh.rebuildTree(false);
    EXPECT_EQ(rowIDs(LumenkiteBuilder::flatten(state.treeRoots(), true, {})),
              rowIDs(LumenkiteBuilder::flatten(fresh.treeRoots(), true, {})));
    // The counts made with the index during the read are a plain count's.
    EXPECT_EQ(state.totalVideoBytes(), fresh.totalVideoBytes());
    EXPECT_EQ(state.extensionCounts(), fresh.extensionCounts());
    for (SmartFilter f : SmartFilterInfo::allCases())
        EXPECT_EQ(state.smartFilterCount(f), fresh.smartFilterCount(f)) << SmartFilterInfo::rawValue(f).toStdString();
}

namespace {

// Names, sizes, dates and extensions drawn from small sets, so that every sort key ties often
// and names collate alike in different cases; folders "A" and "a" side by side.
QList<VideoFile> tiedLibrary(int count, unsigned seed)
{
    static const char *const names[] = {"clip", "Clip", "CLIP", "clip2", "clip10", "Élan", "elan", "b"};
    static const char *const extensions[] = {"mp4", "MP4", "mov", "mkv", "webm"};
    static const char *const folders[] = {"A", "a", "b/c", "b/C", "deep/one/two", "z"};
    const QDateTime base = QDateTime::currentDateTimeUtc();
    QList<VideoFile> out;
    unsigned x = seed;
    const auto next = [&x](unsigned n) {
        x = x * 1103515245u + 12345u;
        return (x >> 16) % n;
    };
    for (int i = 0; i < count; ++i) {
        const QString path = QString("/lib/%1/%2 %3.%4")
                                 .arg(folders[next(6)], names[next(8)])
                                 .arg(next(4))
                                 .arg(extensions[next(5)]);
        VideoFile v = *VideoFile::make(path, 1 + qint64(next(4)) * 100'000'000, base.addDays(-int(next(5)) * 20),
                                       std::nullopt);
        if (next(10) == 0)
            v.modifiedDate = QDateTime();
        out.append(v);
    }
    return out;
}

struct RowShape {
    QString id;
    int depth;
    bool last, expanded;
    QList<bool> guides;
    bool operator==(const RowShape &) const = default;
    friend void PrintTo(const RowShape &r, std::ostream *os) { *os << r.id.toStdString() << "@" << r.depth; }
};

std::vector<RowShape> shapes(const QList<TreeRow> &rows)
{
    std::vector<RowShape> out;
    for (const TreeRow &r : rows)
        out.push_back({r.id(), r.depth, r.isLastInParent, r.isExpanded, r.ancestorHasNextSibling});
    return out;
}

// The tree the state's settings ask for, built the plain way: from the copied filtered list,
// on this thread.
std::vector<RowShape> plainRows(AppState &state)
{
    std::optional<QString> root;
    if (const std::optional<QUrl> url = state.activeScope().rootURL())
        root = standardizedPath(url->toLocalFile());
    const auto tree = LumenkiteBuilder::buildTree(state.filteredVideos(), root, state.compactSingleChildFolders(),
                                                  state.sortOrder());
    return shapes(LumenkiteBuilder::flatten(tree, !state.searchQuery().trimmed().isEmpty(),
                                            state.expandedFolderIDs()));
}

bool spinUntil(const std::function<bool()> &done, int ms = 20'000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// In every sort order, the tree an unranked index builds of `subset` equals the plain build
// of those videos, and building it leaves the index unranked.
void expectUnrankedTreesEqualPlainBuilds(const QList<VideoFile> &videos, const std::vector<int> &subset,
                                         LumenkiteBuilder::Unranked unranked)
{
    QList<VideoFile> copied;
    for (int i : subset)
        copied.append(videos[i]);
    for (VideoSortOrder order : VideoSortOrderInfo::allCases()) {
        const LibraryIndex index(videos);
        const auto tree =
            LumenkiteBuilder::buildTree(index, subset, QString("/lib"), true, order, std::nullopt, {}, unranked);
        EXPECT_FALSE(index.nameRanksReady());
        EXPECT_EQ(shapes(LumenkiteBuilder::flatten(tree, true, {})),
                  shapes(LumenkiteBuilder::flatten(LumenkiteBuilder::buildTree(copied, QString("/lib"), true, order),
                                                   true, {})))
            << VideoSortOrderInfo::rawValue(order).toStdString();
    }
}

} // namespace

TEST(LibraryFiltering, EveryOrderOfTheIndexEqualsSortingEachFolder)
{
    QList<VideoFile> videos = tiedLibrary(1500, 7);
    // Videos directly in the root, outside it and directly in "/" land in nodes of their own.
    for (const char *path : {"/lib/top.mp4", "/other/deep/out.mkv", "/loose.mov", "/lib/b/c/late.mp4"})
        videos.insert(videos.size() / 2, *VideoFile::make(path, 5, QDateTime::currentDateTimeUtc(), std::nullopt));
    std::vector<int> all(size_t(videos.size()));
    std::iota(all.begin(), all.end(), 0);
    std::vector<int> sparse, dense;
    for (int i = 0; i < int(videos.size()); ++i)
        (i % 7 == 3 ? sparse : dense).push_back(i);
    // The whole list's build places every folder once for its root; the parts' builds after it
    // pick their nodes out of that placement and must still equal the plain build.
    for (const std::optional<QString> &root : {std::optional<QString>("/lib"), std::optional<QString>()}) {
        const LibraryIndex index(videos);
        for (const std::vector<int> *subset : {&all, &sparse, &dense}) {
            QList<VideoFile> copied;
            for (int i : *subset)
                copied.append(videos[i]);
            for (VideoSortOrder order : VideoSortOrderInfo::allCases()) {
                for (bool compact : {true, false}) {
                    const std::string label = VideoSortOrderInfo::rawValue(order).toStdString() + " " +
                                              std::to_string(subset->size()) + (compact ? " compact " : " ") +
                                              root.value_or("whole computer").toStdString();
                    const auto fromList = LumenkiteBuilder::buildTree(copied, root, compact, order);
                    const auto fromIndex = LumenkiteBuilder::buildTree(index, *subset, root, compact, order);
                    const QList<TreeRow> rows = LumenkiteBuilder::flatten(fromIndex, true, {});
                    EXPECT_EQ(shapes(rows), shapes(LumenkiteBuilder::flatten(fromList, true, {}))) << label;
                    for (const TreeRow &row : rows) {
                        if (row.isFolder()) {
                            ASSERT_EQ(row.folder().url(), QUrl::fromLocalFile(row.folder().id())) << label;
                        }
                    }
                }
            }
        }
    }
    // A small part of a library whose names are not ranked yet (as after a rescan) is
    // ordered by its own names, without waiting for the ranks of all of them, and alike.
    std::vector<int> few;
    for (int i = 0; i < int(videos.size()); i += 11)
        few.push_back(i);
    expectUnrankedTreesEqualPlainBuilds(videos, few, LumenkiteBuilder::Unranked::rankAll);
}

// A library large enough to be ranked in parts on several threads (and merged in parallel)
// ranks its names as one plain collation of all of them does: equal names share a rank.
TEST(LibraryFiltering, NamesRankedInPartsEqualOnePlainCollation)
{
    const QList<VideoFile> videos = tiedLibrary(90'000, 11);
    const LibraryIndex index(videos);
    const std::vector<int> &ranks = index.nameRanks();
    ASSERT_EQ(ranks.size(), size_t(videos.size()));
    // The tree's collation: numeric, case-blind, and English where the locale is C.
    QCollator collator(QLocale().language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates)
                                                          : QLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<int> order(size_t(videos.size()));
    std::iota(order.begin(), order.end(), 0);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(order.size());
    for (const VideoFile &v : videos)
        keys.push_back(collator.sortKey(v.name));
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    for (size_t j = 1; j < order.size(); ++j) {
        const int a = order[j - 1], b = order[j];
        const bool equal = keys[size_t(a)].compare(keys[size_t(b)]) == 0;
        ASSERT_EQ(equal ? ranks[size_t(a)] == ranks[size_t(b)] : ranks[size_t(a)] < ranks[size_t(b)], true)
            << videos[a].name.toStdString() << " / " << videos[b].name.toStdString();
    }
}

// A tree wanted at once from an unranked library collates its own names, its folders sorted
// side by side on several threads, and equals the plain build; the library stays unranked.
TEST(LibraryFiltering, ATreeOfOwnNamesSortedSideBySideEqualsThePlainBuild)
{
    const QList<VideoFile> videos = tiedLibrary(60'000, 13);
    std::vector<int> all(size_t(videos.size()));
    std::iota(all.begin(), all.end(), 0);
    expectUnrankedTreesEqualPlainBuilds(videos, all, LumenkiteBuilder::Unranked::collateOwnNames);
}

// A build that a newer one replaced stops where it stands and gives no tree, from a list and
// from an index alike, whether it learns so at once or half-way; one never replaced is whole.
TEST(LibraryFiltering, ASupersededBuildStopsAndGivesNoTree)
{
    const QList<VideoFile> videos = tiedLibrary(3000, 5);
    const LibraryIndex index(videos);
    std::vector<int> all(size_t(videos.size()));
    std::iota(all.begin(), all.end(), 0);
    for (int askedBeforeStop : {0, 3, -1}) {
        for (bool fromIndex : {false, true}) {
            int asked = 0;
            const LumenkiteBuilder::Superseded superseded = [&] {
                ++asked;
                return askedBeforeStop >= 0 && asked > askedBeforeStop;
            };
            const auto tree = fromIndex ? LumenkiteBuilder::buildTree(index, all, QString("/lib"), false,
                                                                      VideoSortOrder::nameAsc, std::nullopt, superseded)
                                        : LumenkiteBuilder::buildTree(videos, QString("/lib"), false,
                                                                      VideoSortOrder::nameAsc, std::nullopt, superseded);
            const std::string label = std::to_string(askedBeforeStop) + (fromIndex ? " index" : " list");
            if (askedBeforeStop >= 0) {
                EXPECT_TRUE(tree.isEmpty()) << label;
            } else {
                qsizetype count = 0;
                for (const VideoFolderNodePtr &top : tree)
                    count += top->totalVideoCount;
                EXPECT_EQ(count, videos.size()) << label;
                EXPECT_GT(asked, 0) << label;
            }
        }
    }
}

// Large results are built on a worker and shown in one step; whatever the settings, the
// rows shown are those of the plain build on this thread.
TEST(LibraryFiltering, TreeBuiltOnAWorkerEqualsThePlainBuild)
{
    const int count = AppState::kBackgroundRebuildMinimum + 1500;
    AppState state;
    state.setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile("/lib")));
    state.setAllVideos(tiedLibrary(count, 11));
    state.rebuildTree(true);
    int rebuilt = 0;
    QObject::connect(&state, &AppState::treeRebuilt, [&] { ++rebuilt; });

    struct Case {
        QString query;
        SmartFilter smart;
        std::optional<QString> extension;
        VideoSortOrder order;
        bool compact;
    };
    const Case cases[] = {
        {"", SmartFilter::all, {}, VideoSortOrder::sizeDesc, true},
        {"c", SmartFilter::all, {}, VideoSortOrder::sizeDesc, true},      // grows from nothing
        {"cl", SmartFilter::all, {}, VideoSortOrder::dateDesc, true},     // narrows, then re-sorts
        {"cl", SmartFilter::all, {}, VideoSortOrder::extensionAsc, false},
        {"", SmartFilter::all, {}, VideoSortOrder::nameAsc, false},
        {"", SmartFilter::nativeFormats, {}, VideoSortOrder::nameAsc, true},
        {"", SmartFilter::all, QString("MP4"), VideoSortOrder::dateDesc, true}, // exact case only
        {"lib", SmartFilter::all, {}, VideoSortOrder::extensionAsc, true}, // the folder matches all
        {"LIB/", SmartFilter::all, {}, VideoSortOrder::dateDesc, false},
        {"", SmartFilter::all, {}, VideoSortOrder::extensionAsc, false},
    };
    for (const Case &c : cases) {
        const std::string label = c.query.toStdString() + " " + VideoSortOrderInfo::rawValue(c.order).toStdString();
        state.setCompactSingleChildFolders(c.compact);
        state.setSortOrder(c.order);
        state.setActiveSmartFilter(c.smart);
        state.setActiveExtensionFilter(c.extension);
        state.setSearchQuery(c.query);
        rebuilt = 0;
        state.refreshTree();
        const bool large = state.filteredVideoCount() >= AppState::kBackgroundRebuildMinimum;
        // Built elsewhere: nothing is shown before the event loop runs.
        if (large) {
            EXPECT_EQ(rebuilt, 0) << label;
        }
        ASSERT_TRUE(spinUntil([&] { return rebuilt > 0; })) << label;
        EXPECT_EQ(rebuilt, 1) << label; // the earlier requests of this step never showed
        EXPECT_EQ(shapes(state.flattenedRows()), plainRows(state)) << label;
        qsizetype total = 0;
        for (const VideoFolderNodePtr &root : state.treeRoots())
            total += root->totalVideoCount;
        EXPECT_EQ(total, state.filteredVideoCount()) << label;
    }
}

// Requests made one after another before any result is in: only the newest shows, and a tree
// built at once meanwhile is never replaced by an older request's result.
TEST(LibraryFiltering, ASupersededTreeNeverShows)
{
    const int count = AppState::kBackgroundRebuildMinimum + 1500;
    AppState state;
    state.setAllVideos(tiedLibrary(count, 23));
    state.rebuildTree(true);
    std::vector<std::vector<RowShape>> shown;
    QObject::connect(&state, &AppState::flattenedRowsChanged, [&] { shown.push_back(shapes(state.flattenedRows())); });
    int rebuilt = 0;
    QObject::connect(&state, &AppState::treeRebuilt, [&] { ++rebuilt; });

    // Typing, a sort change and more typing, each keeping every video (all lie below "/lib").
    for (const char *query : {"l", "li", "lib"})
        state.setSearchQuery(query);
    state.setSortOrder(VideoSortOrder::sizeDesc);
    state.setSearchQuery("lib/");
    ASSERT_TRUE(spinUntil([&] { return rebuilt > 0; }));
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(rebuilt, 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown.back(), plainRows(state));

    // A request on a worker, then a tree built at once for other settings (as revealing a
    // video does): the worker's result is dropped.
    shown.clear();
    rebuilt = 0;
    state.setSearchQuery("/li");
    state.setSearchQuery("");
    state.setSortOrder(VideoSortOrder::dateDesc); // a large result: on a worker again
    state.setActiveExtensionFilter(QString("MOV"));
    state.rebuildTree(false);
    const std::vector<RowShape> atOnce = shapes(state.flattenedRows());
    EXPECT_EQ(atOnce, plainRows(state));
    settle.restart();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(shapes(state.flattenedRows()), atOnce);
    for (const std::vector<RowShape> &rows : shown)
        EXPECT_EQ(rows, atOnce);
}

// A large library is filtered with its tree on a worker. The filtered list answers for the
// new settings at once when asked; the count and size shown beside the tree stay those of the
// tree shown until the new tree is in, and then are its own.
TEST(LibraryFiltering, ALargeLibrarysShownFiguresAreThoseOfTheTreeShown)
{
    const int count = AppState::kBackgroundRebuildMinimum + 1500;
    const QList<VideoFile> videos = tiedLibrary(count, 5);
    AppState state;
    state.setAllVideos(videos);
    state.rebuildTree(true);
    const auto treeFigures = [&] {
        std::pair<qsizetype, qint64> figures{0, 0};
        for (const VideoFolderNodePtr &root : state.treeRoots()) {
            figures.first += root->totalVideoCount;
            figures.second += root->totalSize;
        }
        return figures;
    };
    ASSERT_EQ(state.shownVideoCount(), count);
    // Whenever the rows change, the figures shown are the tree's.
    int mismatches = 0, rebuilt = 0;
    QObject::connect(&state, &AppState::flattenedRowsChanged, [&] {
        mismatches += treeFigures() != std::pair(state.shownVideoCount(), state.shownVideoBytes());
    });
    QObject::connect(&state, &AppState::treeRebuilt, [&] { ++rebuilt; });
    const Settings steps[] = {
        {SmartFilter::all, {}, "clip"},  {SmartFilter::all, {}, "clip1"}, {SmartFilter::largeFiles, {}, ""},
        {SmartFilter::all, QString("mov"), ""}, {SmartFilter::all, {}, ""}, {SmartFilter::all, {}, "élan"},
    };
    for (const Settings &step : steps) {
        const std::string label = step.query.toStdString() + " " + SmartFilterInfo::rawValue(step.smart).toStdString();
        const std::pair<qsizetype, qint64> before = treeFigures();
        rebuilt = 0;
        apply(state, step);
        state.refreshTree();
        EXPECT_EQ(std::pair(state.shownVideoCount(), state.shownVideoBytes()), before) << label;
        ASSERT_TRUE(spinUntil([&] { return rebuilt > 0; })) << label;
        const QStringList expected = fresh(videos, step);
        qint64 bytes = 0;
        for (const VideoFile &v : state.filteredVideos())
            bytes += v.fileSize;
        EXPECT_EQ(ids(state.filteredVideos()), expected) << label;
        EXPECT_EQ(state.shownVideoCount(), expected.size()) << label;
        EXPECT_EQ(state.shownVideoBytes(), bytes) << label;
        EXPECT_EQ(treeFigures(), std::pair(qsizetype(expected.size()), bytes)) << label;
    }
    EXPECT_EQ(mismatches, 0);
}

// Opening and closing the folders of a large tree makes its rows on a worker: rows made for an
// opening that a later one replaced never show, and the rows left are the last opening's.
TEST(LibraryFiltering, ALargeTreeShowsTheRowsOfTheLastOpening)
{
    const int count = AppState::kBackgroundFlattenMinimum + 5000;
    AppState state;
    state.setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile("/lib")));
    state.setAllVideos(tiedLibrary(count, 17));
    state.rebuildTree(true);
    const auto plain = [&] { return shapes(LumenkiteBuilder::flatten(state.treeRoots(), false, state.expandedFolderIDs())); };
    std::vector<qsizetype> shown;
    QObject::connect(&state, &AppState::flattenedRowsChanged, [&] { shown.push_back(state.flattenedRows().size()); });

    // Closed again before the opened rows are in: they never show.
    state.expandAll();
    state.collapseAll();
    EXPECT_EQ(shapes(state.flattenedRows()), plain());
    const std::vector<RowShape> closed = plain();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(shapes(state.flattenedRows()), closed);
    for (qsizetype rows : shown)
        EXPECT_LT(rows, AppState::kBackgroundFlattenMinimum);

    // Opened, then one folder closed before those rows are in: only the last opening shows.
    shown.clear();
    state.expandAll();
    const QString folder = state.treeRoots().first()->id();
    state.toggleFolder(folder);
    const std::vector<RowShape> wanted = plain();
    ASSERT_TRUE(spinUntil([&] { return !shown.empty(); }));
    settle.restart();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(shapes(state.flattenedRows()), wanted);
}

// A large library's videos are found by id at once, whether its id lookup (made on a worker)
// is in yet or not, and for a library changed meanwhile: the last of equal ids is found, as
// the lookup has always answered.
TEST(LibraryFiltering, ALargeLibrarysVideosAreFoundByIDWhileItsLookupIsMade)
{
    AppState state; // the second library comes while the first one's lookup is made
    for (unsigned seed : {7u, 8u}) {
        // Names drawn from small sets: many videos share an id.
        const QList<VideoFile> videos = tiedLibrary(AppState::kBackgroundRebuildMinimum + 500, seed);
        QHash<QString, qsizetype> last, count;
        for (qsizetype i = 0; i < videos.size(); ++i) {
            last.insert(videos[i].id, i);
            ++count[videos[i].id];
        }
        state.setAllVideos(videos);
        // Ids that several videos share.
        QStringList picked;
        for (auto it = count.cbegin(); it != count.cend() && picked.size() < 3; ++it)
            if (it.value() > 1)
                picked.append(it.key());
        ASSERT_EQ(picked.size(), 3);
        const auto check = [&] {
            for (const QString &id : picked) {
                const std::optional<VideoFile> found = state.videoWithID(id);
                ASSERT_TRUE(found) << id.toStdString();
                EXPECT_TRUE(*found == videos[last.value(id)]) << id.toStdString();
            }
            EXPECT_FALSE(state.videoWithID("/lib/none.mp4"));
            state.setSelectedVideoIDs(QSet<QString>(picked.cbegin(), picked.cend()));
            QList<qsizetype> positions;
            for (const QString &id : picked)
                positions.append(last.value(id));
            std::sort(positions.begin(), positions.end());
            QStringList expected;
            for (qsizetype i : positions)
                expected.append(videos[i].id);
            EXPECT_EQ(ids(state.selectedVideos()), expected);
        };
        // Checked at once and on each turn of the loop while the lookup is made and taken.
        for (int turn = 0; turn < 40; ++turn) {
            check();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }
}
