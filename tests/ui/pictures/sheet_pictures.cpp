// Pictures of the storage insights sheet and the move sheet over a fixture library, in both
// schemes, for review. usage: sheet_pictures OUT_DIR   (under an X server)
#include "PictureProgram.h"
#include "library/AppState.h"
#include "ui/LinearTheme.h"
#include "ui/sheets/insights/StorageInsightsSheetView.h"
#include "ui/sheets/move/MoveSheetView.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/ContentView.h"
#include "ui/window/LumenkiteApp.h"

#include <QApplication>
#include <QDir>
#include <QFile>
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
        {"Videos/Projects/Drone/Raw Footage From The Long Summer Trip Along The Coast", 6, {"mov", "mkv", "mxf"}},
        {"Videos/Screen Recordings", 4, {"webm", "mp4"}},
        {"Downloads/Clips", 5, {"mkv", "flv", "ts"}},
    };
    QList<VideoFile> videos;
    int n = 0;
    for (const auto &l : layout) {
        for (int i = 0; i < l.count; ++i, ++n) {
            const QString name = QStringLiteral("%1 %2.%3").arg(QString(l.folder).section('/', -1).left(24)).arg(i + 1, 2, 10, QChar('0')).arg(l.exts.at(i % l.exts.size()));
            const qint64 size = qint64(3 + (n * 37) % 900) * 1'310'720 + n * 4099;
            const QDateTime date = QDateTime(QDate(2026, 11, 28), QTime(10, 0)).addDays(-(n * 11) % 400);
            videos.append(*VideoFile::make(home + "/" + l.folder + "/" + name, size, date, std::nullopt));
        }
    }
    return videos;
}

bool capture(QWidget *widget, const QString &path)
{
    QTest::qWait(300);
    const bool ok = widget && widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    PictureProgram program("sheet", argc, argv);
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
        state.setRecentMoveDestinations({QUrl::fromLocalFile(home + "/Videos/Archive/2022"),
                                         QUrl::fromLocalFile(home + "/Videos/Family/Birthdays")});

        ContentViewParts parts;
        parts.treePane = [](AppState *s, QWidget *parent) { return new LumenkitePane(s, parent); };
        parts.moveSheet = [](AppState *s, QWidget *parent) -> QDialog * { return new MoveSheetView(s, parent); };
        parts.storageInsightsSheet = [](AppState *s, QWidget *parent) -> QDialog * {
            return new StorageInsightsSheetView(s, parent);
        };
        MainWindow window(&state, parts);
        LinearTheme::applyColorScheme(&window, scheme == "dark" ? ColorScheme::dark : ColorScheme::light);
        window.resize(1280, 800);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
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
