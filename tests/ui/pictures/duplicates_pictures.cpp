// Pictures of the duplicates sheet over the main window, for review: the exact tab after a
// real scan of generated files, and the similar tab over a hand-made visual index, in both
// schemes. usage: duplicates_pictures OUT_DIR   (under an X server)
#include "PictureProgram.h"
#include "support/TestSupport.h"
#include "ui/sheets/duplicates/DuplicatesSheetView.h"
#include "ui/window/LumenkiteApp.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPainter>
#include <QSlider>

#include <cmath>

namespace {

// Sparse files: copies of one size are byte-identical, which is all the scan needs.
QList<VideoFile> fixtureLibrary(const QString &home)
{
    const struct {
        const char *path;
        qint64 size;
        int ageDays;
    } files[] = {
        {"Videos/Holidays/Kyoto Temple.mp4", 1'240'000'000, 300},
        {"Downloads/Kyoto Temple copy.mp4", 1'240'000'000, 20},
        {"Desktop/Kyoto Temple (2).mp4", 1'240'000'000, 5},
        {"Videos/Family/Birthday 2024.mov", 812'300'000, 200},
        {"Videos/Family/Old/Birthday 2024.mov", 812'300'000, 150},
        {"Downloads/Birthday\n2024.mov", 812'300'000, 30}, // a name with a line break, drawn on one line
        {"Videos/Screen Recordings/Demo.webm", 96'400'000, 40},
        {"Downloads/Demo (1).webm", 96'400'000, 2},
        {"Videos/Drone/Coast Flight.mkv", 2'310'000'000, 90},
        {"Videos/Drone/Coast Flight Edit.mkv", 1'870'000'000, 60},
        {"Videos/Drone/Coast Flight Short.mp4", 640'000'000, 50},
        {"Videos/Holidays/Alps Sunrise.mov", 455'000'000, 100},
        {"Videos/Holidays/Alps Sunrise 4K.mov", 1'020'000'000, 99},
        {"Videos/Projects/Interview.mp4", 333'000'000, 10},
    };
    QList<VideoFile> videos;
    for (const auto &f : files) {
        const QString path = home + "/" + f.path;
        lktest::writeSizedFile(path, f.size);
        videos.append(*VideoFile::make(path, f.size, QDateTime(QDate(2026, 11, 28), QTime(10, 0)).addDays(-f.ageDays),
                                       std::nullopt));
    }
    return videos;
}

QuantizedEmbedding towards(double degrees, double lift)
{
    std::vector<float> v(32, 0.0f);
    v[0] = float(std::cos(degrees * M_PI / 180));
    v[1] = float(std::sin(degrees * M_PI / 180));
    v[2] = float(lift);
    return QuantizedEmbedding::fromVector(v);
}

bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The window with the sheet over it, and a prompt over the sheet, as a user sees them.
bool capture(QWidget *window, QWidget *sheet, const QString &path, QWidget *prompt = nullptr)
{
    pictures::settle();
    QImage image = window->grab().toImage();
    {
        QPainter p(&image);
        p.fillRect(image.rect(), QColor(0, 0, 0, 60));
        const QPoint at((image.width() / image.devicePixelRatio() - sheet->width()) / 2, 28);
        p.drawPixmap(at, sheet->grab());
        if (prompt)
            p.drawPixmap(at + QPoint((sheet->width() - prompt->width()) / 2, (sheet->height() - prompt->height()) / 2),
                         prompt->grab());
    }
    return pictures::save(image, path);
}

} // namespace

int main(int argc, char **argv)
{
    PictureProgram program("dup", argc, argv);
    const QString &home = program.home;
    const QString &out = program.out;
    const QList<VideoFile> library = fixtureLibrary(home);

    int failures = 0;
    for (const QString scheme : {"light", "dark"}) {
        AppState state;
        pictures::prepareState(state, home, scheme);
        state.setAllVideos(library);
        state.rebuildTree(true);
        // Drone and Alps clips look alike; the Kyoto copies are identical anyway. The drone
        // clips form a chain: the short one looks like the kept one only at a lower threshold.
        VisualIndexMap entries;
        const struct {
            int index;
            double degrees, lift;
        } looks[] = {{8, 0, 0}, {9, 14, 0.05}, {10, 28, 0.1}, {11, 120, 0}, {12, 122, 0.05}, {0, 240, 0},
                     {1, 240, 0}, {2, 240, 0}, {6, 300, 0}, {3, 60, 0}};
        for (const auto &l : looks) {
            VideoVisualIndexEntry e;
            e.videoID = library[l.index].id;
            e.clipEmbeddings = {towards(l.degrees, l.lift), towards(l.degrees + 2, l.lift)};
            entries.insert(e.videoID, e);
        }

        ContentViewParts parts = pictures::windowParts();
        parts.duplicatesSheet = makeDuplicatesSheet;
        MainWindow window(&state, parts);
        if (!pictures::show(window, {1280, 800}, scheme)) return 1;
        // After the start-up copy of the (empty) stored index.
        QTest::qWait(100);
        // Opened from the sidebar's tool row, as a user opens it.
        window.contentView()->sidebar()->rebuild();
        if (auto *tool = window.contentView()->sidebar()->control<SidebarItemRow>("tool:duplicates")) tool->click();
        QTest::qWait(50);
        auto *sheet = qobject_cast<DuplicatesSheetView *>(window.contentView()->openSheet());
        if (!sheet) return 1;
        if (!waitFor([&] { return sheet->contentState() == "list"; })) ++failures;
        failures += !capture(&window, sheet, out + "/duplicates-exact-" + scheme + ".png");

        // The similar tab before anything is indexed, then with the index.
        sheet->setActiveTab(DuplicateTab::similar);
        failures += !capture(&window, sheet, out + "/duplicates-need-index-" + scheme + ".png");
        sheet->setActiveTab(DuplicateTab::exact);
        state.setAiIndexEntries(entries);
        sheet->setActiveTab(DuplicateTab::similar);
        if (!waitFor([&] { return sheet->contentState() == "list"; })) ++failures;
        failures += !capture(&window, sheet, out + "/duplicates-similar-" + scheme + ".png");
        // A slider move: new groups, and the ticks follow their Copy labels.
        sheet->slider()->setValue(86);
        if (!waitFor([&] { return sheet->contentState() == "list"; })) ++failures;
        failures += !capture(&window, sheet, out + "/duplicates-similar-86-" + scheme + ".png");
        // Trashing similar videos asks first.
        sheet->trashSelected();
        if (QMessageBox *ask = sheet->trashConfirmation()) {
            waitFor([&] { return ask->isVisible(); });
            failures += !capture(&window, sheet, out + "/duplicates-similar-ask-" + scheme + ".png", ask);
            ask->reject();
        } else {
            ++failures;
        }
        sheet->closeSheet();
    }
    return failures ? 1 : 0;
}
