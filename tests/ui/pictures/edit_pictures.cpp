// Pictures of the batch compressor's summary and of the trim editor after real runs on
// generated clips, for review: a replace with a file that cannot get smaller, a save as new
// files, a batch that failed, a stop; the editor after Cancel, and the window with its toast
// after a trim. usage: edit_pictures OUT_DIR   (under an X server)
#include "PictureProgram.h"
#include "editing/BatchCompressionService.h"
#include "support/TestSupport.h"
#include "ui/sheets/compressor/BatchCompressSheetView.h"
#include "ui/sheets/editor/VideoEditorSheet.h"
#include "ui/window/LumenkiteApp.h"

#include <QPushButton>

namespace {

using pictures::capture;

// A stand-in for ffmpeg; the output path is its last argument.
QString script(const QString &path, const QString &body)
{
    return lktest::writeScript(path, "for last; do :; done\n" + body);
}

bool makeLarge(const QString &path)
{
    return lktest::ffmpegOutput(path, {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=4", "-c:v",
                                       "libx264", "-preset", "ultrafast", "-crf", "6", "-pix_fmt", "yuv420p"});
}

// Runs the sheet over `videos` until its summary (or, with `stopAfterStart`, until the
// encode runs, then stops it) and pictures it.
bool compressorPicture(AppState &state, const QList<VideoFile> &videos, CompressionSaveMode mode,
                       const BatchCompressionOptions &options, bool stopAfterStart, const QString &path)
{
    state.setVideosPendingCompression(videos);
    BatchCompressSheetView sheet(&state, nullptr, options);
    if (!pictures::show(sheet, {640, 620})) return false;
    sheet.setSaveMode(mode);
    sheet.startRun();
    if (stopAfterStart) {
        QTest::qWaitFor([&] { return sheet.currentItemProgress() > 0; }, 20000);
        QTest::qWait(300);
        sheet.stopRun();
    } else if (!QTest::qWaitFor([&] { return sheet.finishedSummary(); }, 120000)) {
        return false;
    }
    const bool ok = capture(&sheet, path);
    sheet.hide();
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    PictureProgram program("edit", argc, argv);
    const QString &home = program.home;
    const QString &out = program.out;

    const QString folder = home + "/Videos/Batch";
    QDir().mkpath(folder);
    for (const QString name : {"Harbour.mp4", "Market.mp4", "Second.mp4", "Broken.mp4", "Stopped.mp4"})
        if (!makeLarge(folder + "/" + name)) return 1;
    if (!lktest::ffmpegOutput(folder + "/Tiny.mp4", {"-f", "lavfi", "-i", "color=c=gray:size=160x120:rate=5:duration=4",
                                                     "-c:v", "libx264", "-preset", "veryslow", "-crf", "51",
                                                     "-pix_fmt", "yuv420p"}))
        return 1;
    auto video = [&](const QString &name) { return *VideoFile::fromFile(folder + "/" + name); };
    const QString tools = program.sandboxPath() + "/tools";
    QDir().mkpath(tools);
    BatchCompressionOptions failing, sleeping;
    failing.ffmpegPath = script(tools + "/failing", "echo 'Conversion failed!' >&2\nexit 1");
    sleeping.ffmpegPath = script(tools + "/sleeping", "echo partial > \"$last\"\nexec sleep 600");

    int failures = 0;
    AppState state;
    state.setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile(home)));
    state.setAllVideos({video("Harbour.mp4"), video("Market.mp4"), video("Second.mp4"), video("Tiny.mp4"),
                        video("Broken.mp4"), video("Stopped.mp4")});
    state.rebuildTree(true);
    failures += !compressorPicture(state, {video("Harbour.mp4"), video("Tiny.mp4")},
                                   CompressionSaveMode::replaceOriginal, {}, false, out + "/compressor-replaced.png");
    failures += !compressorPicture(state, {video("Second.mp4")}, CompressionSaveMode::saveAsNew, {}, false,
                                   out + "/compressor-saved-as-new.png");
    failures += !compressorPicture(state, {video("Broken.mp4")}, CompressionSaveMode::replaceOriginal, failing, false,
                                   out + "/compressor-failed.png");
    failures += !compressorPicture(state, {video("Market.mp4"), video("Stopped.mp4")},
                                   CompressionSaveMode::replaceOriginal, sleeping, true, out + "/compressor-stopped.png");

    // The trim editor: Cancel during an encode brings back its settings, with nothing left.
    {
        TrimExportOptions options;
        options.ffmpegPath = script(tools + "/trim-sleeping", "echo partial > \"$last\"\nexec sleep 600");
        const VideoFile source = video("Market.mp4");
        state.setVideoPendingEdit(source);
        VideoEditorSheet sheet(&state, source, nullptr, options);
        sheet.resize(1100, 760);
        sheet.show();
        QTest::qWaitFor([&] { return sheet.totalDuration() > 0; }, 20000);
        sheet.applyDuration(2.5);
        sheet.setExportPreset(TrimExportPreset::hevcHigh);
        sheet.startExport();
        QTest::qWait(600);
        failures += !capture(&sheet, out + "/editor-exporting.png");
        if (auto *cancel = sheet.findChild<QPushButton *>("progressCancel")) cancel->click();
        failures += !capture(&sheet, out + "/editor-after-cancel.png");
        const QStringList left = QDir(folder).entryList({".Lumenkite-*"}, QDir::Files | QDir::Hidden);
        std::printf("partial files after cancel: %d\n", int(left.size()));
        sheet.hide();
        state.setVideoPendingEdit(std::nullopt);
    }

    // A real trim from the window: the new file is selected and a toast tells of it.
    {
        ContentViewParts parts = pictures::windowParts();
        parts.editorSheet = &VideoEditorSheet::create;
        MainWindow window(&state, parts);
        if (!pictures::show(window, {1280, 800})) return 1;
        const VideoFile source = video("Market.mp4");
        state.setVideoPendingEdit(source);
        VideoEditorSheet *sheet = nullptr;
        QTest::qWaitFor([&] {
            sheet = window.findChild<VideoEditorSheet *>();
            return sheet && sheet->isVisible() && sheet->totalDuration() > 0;
        }, 20000);
        if (sheet) {
            sheet->applyDuration(2);
            sheet->setExportPreset(TrimExportPreset::h2641080p);
            sheet->startExport();
            QTest::qWaitFor([&] { return !state.videoPendingEdit().has_value(); }, 120000);
        }
        QTest::qWait(400);
        failures += !capture(&window, out + "/editor-done-window.png");
    }
    return failures ? 1 : 0;
}
