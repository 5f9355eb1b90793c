// Pictures of the main window with the tree pane over a fixture library, for review:
// the folder tree expanded, a search with its filter chips, an empty state, and visual
// search without a model. usage: pane_pictures OUT_DIR   (under an X server)
#include "PictureProgram.h"
#include "library/AppState.h"
#include "library/FileNames.h"
#include "ui/window/ContentView.h"
#include "ui/LinearTheme.h"
#include "ui/window/LumenkiteApp.h"
#include "ui/tree/LumenkitePane.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

QList<VideoFile> fixtureLibrary(const QString &home)
{
    const struct {
        const char *folder;
        int count;
        QStringList exts;
    } layout[] = {
        {"Videos/Holidays/2023 Japan/Kyoto", 6, {"mp4", "mov"}},
        {"Videos/Holidays/2023 Japan/Tokyo", 7, {"mp4", "mkv"}},
        {"Videos/Holidays/2024 Alps", 4, {"mov", "m4v"}},
        {"Videos/Family/Birthdays", 5, {"mp4", "avi"}},
        {"Videos/Projects/Drone/Raw", 6, {"mov", "mkv", "mxf"}},
        {"Videos/Screen Recordings", 4, {"webm", "mp4"}},
        {"Downloads/Clips", 5, {"mkv", "flv", "ts"}},
    };
    QList<VideoFile> videos;
    int n = 0;
    for (const auto &l : layout) {
        for (int i = 0; i < l.count; ++i, ++n) {
            const QString name = QStringLiteral("%1 %2.%3").arg(QString(l.folder).section('/', -1)).arg(i + 1, 2, 10, QChar('0')).arg(l.exts.at(i % l.exts.size()));
            const qint64 size = qint64(3 + (n * 37) % 900) * 1'310'720 + n * 4099;
            const QDateTime date = QDateTime(QDate(2026, 11, 28), QTime(10, 0)).addDays(-(n * 11) % 400);
            videos.append(*VideoFile::make(home + "/" + l.folder + "/" + name, size, date, std::nullopt));
        }
    }
    return videos;
}

bool capture(QWidget *window, const QString &path)
{
    QTest::qWait(250);
    const bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    PictureProgram program("pane", argc, argv);
    const QString &home = program.home;
    const QString &out = program.out;

    int failures = 0;
    for (const QString scheme : {"light", "dark"}) {
        AppState state;
        state.setAppearance(scheme == "dark" ? AppAppearance::dark : AppAppearance::light);
        state.setShowOnboarding(false);
        state.setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile(home)));
        state.setAllVideos(fixtureLibrary(home));
        state.setLastScanDate(QDateTime::currentDateTime().addSecs(-3600));
        state.rebuildTree(true);
        state.expandAll();

        ContentViewParts parts;
        parts.treePane = [](AppState *s, QWidget *parent) { return new LumenkitePane(s, parent); };
        MainWindow window(&state, parts);
        LinearTheme::applyColorScheme(&window, scheme == "dark" ? ColorScheme::dark : ColorScheme::light);
        window.resize(1280, 800);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 1;
        const QList<VideoFile> videos = state.allVideos();
        state.selectVideo(videos.at(3));
        state.toggleSelection(videos.at(5));
        failures += !capture(&window, out + "/pane-tree-" + scheme + ".png");

        state.clearSelection();
        state.setActiveSmartFilter(SmartFilter::largeFiles);
        state.setSearchQuery("Tokyo");
        state.rebuildTree(false);
        failures += !capture(&window, out + "/pane-search-chips-" + scheme + ".png");

        state.setSearchQuery("no such clip");
        failures += !capture(&window, out + "/pane-empty-" + scheme + ".png");

        state.setSearchQuery("");
        state.setActiveSmartFilter(SmartFilter::all);
        state.rebuildTree(false);
        state.setIsAISearchMode(true);
        failures += !capture(&window, out + "/pane-visual-search-" + scheme + ".png");

        // Names a file system allows but text does not: a line break, a tab, bytes that are
        // not UTF-8 (two names that differ only there).
        state.setIsAISearchMode(false);
        QList<VideoFile> odd = fixtureLibrary(home);
        for (const QByteArray &name : {QByteArray("two\nlines.mp4"), QByteArray("tab\there.mkv"),
                                      QByteArray("dup\xff.mp4"), QByteArray("dup\xfe.mp4")})
            odd.append(*VideoFile::make(FileNames::decode(FileNames::encode(home) + "/Odd names/" + name), 5'000'000,
                                        QDateTime(QDate(2026, 11, 2), QTime(9, 0)), std::nullopt));
        state.setAllVideos(odd);
        state.rebuildTree(true);
        state.expandAll();
        state.selectVideo(odd.at(odd.size() - 4));
        failures += !capture(&window, out + "/pane-odd-names-" + scheme + ".png");

        // The longest texts at the smallest window, with the permission banner.
        state.setLanguage(AppLanguage::de);
        state.setDeniedFolders({home + "/Bibliotheken/Fotos-Mediathek.photoslibrary", home + "/Dokumente/Steuererklärungen",
                                home + "/Schreibtisch/Bildschirmaufnahmen"});
        window.resize(960, 620);
        failures += !capture(&window, out + "/pane-de-smallest-" + scheme + ".png");
        window.resize(1280, 800);
        failures += !capture(&window, out + "/pane-de-default-" + scheme + ".png");

        state.setLanguage(AppLanguage::en);
        state.setDeniedFolders({});

        // A scan of a large library: the scanning row from before the first video on, then
        // with thousands arrived (header, row and sidebar counting the same videos).
        VideoScanner::EventHandler deliver;
        state.setScanStarter([&](const ScanScope &, bool, QObject *, VideoScanner::EventHandler onEvent) {
            deliver = std::move(onEvent);
            return ScanJob();
        });
        state.startScan();
        failures += !capture(&window, out + "/pane-scan-start-" + scheme + ".png");
        const int arriving = AppState::kBackgroundRebuildMinimum + 2000;
        for (int at = 0; at < arriving; at += 40) {
            QList<VideoFile> batch;
            for (int i = at; i < at + 40; ++i)
                batch.append(*VideoFile::make(home + QString("/Videos/Camera %1/Clip %2.mp4").arg(i % 24 + 1).arg(i),
                                              2'000'000 + i, QDateTime(QDate(2026, 11, 2), QTime(9, 0)), std::nullopt));
            deliver(ScanEvent::batch(batch, home + QString("/Videos/Camera %1").arg(at % 24 + 1)));
        }
        if (!QTest::qWaitFor([&] { return state.allVideos().size() == arriving && !state.flattenedRows().isEmpty(); }, 20000))
            ++failures;
        QTest::qWait(AppState::kScanRebuildIntervalMs * 4);
        failures += !capture(&window, out + "/pane-scan-progress-" + scheme + ".png");
        state.stopScan();
    }
    return failures ? 1 : 0;
}
