// Pictures of the storage insights sheet and the move sheet over a fixture library, in both
// schemes, for review. usage: sheet_pictures OUT_DIR   (under an X server)
#include "PictureProgram.h"
#include "ui/sheets/insights/StorageInsightsSheetView.h"
#include "ui/sheets/move/MoveSheetView.h"
#include "ui/window/LumenkiteApp.h"

#include <QFile>

int main(int argc, char **argv)
{
    PictureProgram program("sheet", argc, argv);
    const QString &home = program.home;
    const QString &out = program.out;

    using pictures::capture;
    int failures = 0;
    for (const QString scheme : {"light", "dark"}) {
        AppState state;
        pictures::prepareState(state, home, scheme);
        // A long folder name, for the chart's and the move sheet's cut labels.
        state.setAllVideos(pictures::folderLibrary(home, "Raw Footage From The Long Summer Trip Along The Coast"));
        state.setLastScanDate(QDateTime::currentDateTime().addSecs(-3600));
        state.rebuildTree(true);
        state.setRecentMoveDestinations({QUrl::fromLocalFile(home + "/Videos/Archive/2022"),
                                         QUrl::fromLocalFile(home + "/Videos/Family/Birthdays")});

        ContentViewParts parts = pictures::windowParts();
        parts.moveSheet = [](AppState *s, QWidget *parent) -> QDialog * { return new MoveSheetView(s, parent); };
        parts.storageInsightsSheet = [](AppState *s, QWidget *parent) -> QDialog * {
            return new StorageInsightsSheetView(s, parent);
        };
        MainWindow window(&state, parts);
        if (!pictures::show(window, {1280, 800}, scheme))
            return 1;

        state.setShowStorageInsightsSheet(true);
        auto *insights = window.findChild<StorageInsightsSheetView *>();
        if (!QTest::qWaitFor([&] { return insights && !insights->isComputing(); }, 5000)) ++failures;
        failures += !capture(insights, out + "/sheet-insights-" + scheme + ".png");
        if (insights) insights->reject();
        QTest::qWait(100);

        const QList<VideoFile> videos = state.allVideos();
        state.setVideosPendingMove({videos.at(2), videos.at(9), videos.at(20)});
        state.setShowMoveSheet(true);
        auto *move = window.findChild<MoveSheetView *>();
        if (move && !move->folderRows().isEmpty()) {
            // The pointer over the first folder row shows its highlight and action word.
            QTest::mouseMove(move->folderRows().first(), QPoint(40, 10));
            QTest::qWait(50);
        }
        failures += !capture(move, out + "/sheet-move-" + scheme + ".png");
        if (move) {
            QTest::keyClicks(move->filterField(), "tokyo");
            failures += !capture(move, out + "/sheet-move-filtered-" + scheme + ".png");
            move->reject();
        }
        QTest::qWait(100);

        // A move to another file system: the window with the copy's card, caught midway.
        QTemporaryDir other(QStringLiteral("/dev/shm/lumenkite-pictures-XXXXXX"));
        const QString far = other.path() + "/Harbour at Night.mp4";
        QFile sparse(far);
        if (other.isValid() && sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(1) << 30)) {
            sparse.close();
            QDir().mkpath(home + "/Videos/Archive/2022");
            state.setVideosPendingMove({*VideoFile::fromFile(far)});
            state.moveSelected(QUrl::fromLocalFile(home + "/Videos/Archive/2022"));
            (void)QTest::qWaitFor([&] { return state.fileCopyDone() > (qint64(96) << 20) || !state.isCopyingFiles(); }, 60000);
            failures += !(state.isCopyingFiles() && capture(&window, out + "/window-move-copying-" + scheme + ".png"));
            state.cancelFileCopy();
            (void)QTest::qWaitFor([&] { return !state.isCopyingFiles(); }, 60000);
        }
    }
    return failures ? 1 : 0;
}
