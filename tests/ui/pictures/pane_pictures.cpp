// Pictures of the main window with the tree pane over a fixture library, for review:
// the folder tree expanded, a search with its filter chips, an empty state, and visual
// search without a model. usage: pane_pictures OUT_DIR   (under an X server)
#include "PictureProgram.h"
#include "library/FileNames.h"
#include "ui/window/LumenkiteApp.h"

int main(int argc, char **argv)
{
    PictureProgram program("pane", argc, argv);
    const QString &home = program.home;
    const QString &out = program.out;

    using pictures::capture;
    const auto library = [&] { return pictures::folderLibrary(home, "Raw"); };
    int failures = 0;
    for (const QString scheme : {"light", "dark"}) {
        AppState state;
        pictures::prepareState(state, home, scheme);
        state.setAllVideos(library());
        state.setLastScanDate(QDateTime::currentDateTime().addSecs(-3600));
        state.rebuildTree(true);
        state.expandAll();

        MainWindow window(&state, pictures::windowParts());
        if (!pictures::show(window, {1280, 800}, scheme))
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
        QList<VideoFile> odd = library();
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
