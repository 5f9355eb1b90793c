#pragma once

#include "library/AppState.h"
#include "ui/LinearTheme.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/ContentView.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

// What every picture program sets up before it draws: a home of its own (HOME and XDG_*),
// the application, the output folder (the first argument, else "screenshots"), English and
// onboarding done, the theme.
class PictureProgram
{
public:
    PictureProgram(const QString &name, int &argc, char **argv)
        : sandbox_(QDir::tempPath() + "/lumenkite-" + name + "-pictures-XXXXXX"),
          home(prepareHome(sandbox_.path() + "/home")), app_(argc, argv)
    {
        QApplication::setOrganizationName("Lumenkite");
        QApplication::setApplicationName("Lumenkite");
        out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots")).absolutePath();
        QDir().mkpath(out);
        QSettings().setValue("Lumenkite.language", "en");
        QSettings().setValue("Lumenkite.hasCompletedOnboarding", true);
        LinearTheme::initialize();
    }

    QString sandboxPath() const { return sandbox_.path(); }

private:
    static QString prepareHome(const QString &home)
    {
        QDir().mkpath(home);
        qputenv("HOME", home.toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home + "/.config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home + "/.local/share").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", (home + "/.cache").toLocal8Bit());
        return home;
    }

    QTemporaryDir sandbox_;

public:
    const QString home;

private:
    QApplication app_;

public:
    QString out;
};

// The steps the programs share around what each of them draws.
namespace pictures {

// Seven folders of a few videos each below `home` (none on disk), with sizes and dates
// spread out; the drone clips sit in `droneFolder` below Videos/Projects/Drone. File names
// take the first 24 characters of their folder's name.
inline QList<VideoFile> folderLibrary(const QString &home, const QString &droneFolder)
{
    const struct {
        QString folder;
        int count;
        QStringList exts;
    } layout[] = {
        {"Videos/Holidays/2023 Japan/Kyoto", 6, {"mp4", "mov"}},
        {"Videos/Holidays/2023 Japan/Tokyo", 7, {"mp4", "mkv"}},
        {"Videos/Holidays/2024 Alps", 4, {"mov", "m4v"}},
        {"Videos/Family/Birthdays", 5, {"mp4", "avi"}},
        {"Videos/Projects/Drone/" + droneFolder, 6, {"mov", "mkv", "mxf"}},
        {"Videos/Screen Recordings", 4, {"webm", "mp4"}},
        {"Downloads/Clips", 5, {"mkv", "flv", "ts"}},
    };
    QList<VideoFile> videos;
    int n = 0;
    for (const auto &l : layout) {
        for (int i = 0; i < l.count; ++i, ++n) {
            const QString name = QStringLiteral("%1 %2.%3")
                                     .arg(l.folder.section('/', -1).left(24))
                                     .arg(i + 1, 2, 10, QChar('0'))
                                     .arg(l.exts.at(i % l.exts.size()));
            const qint64 size = qint64(3 + (n * 37) % 900) * 1'310'720 + n * 4099;
            const QDateTime date = QDateTime(QDate(2026, 11, 28), QTime(10, 0)).addDays(-(n * 11) % 400);
            videos.append(*VideoFile::make(home + "/" + l.folder + "/" + name, size, date, std::nullopt));
        }
    }
    return videos;
}

// A state past the welcome, in the "light" or "dark" `scheme`, scoped to `home`.
inline void prepareState(AppState &state, const QString &home, const QString &scheme)
{
    state.setAppearance(scheme == "dark" ? AppAppearance::dark : AppAppearance::light);
    state.setShowOnboarding(false);
    state.setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile(home)));
}

// The window's parts with the real tree pane; a program adds the sheets it draws.
inline ContentViewParts windowParts()
{
    ContentViewParts parts;
    parts.treePane = [](AppState *s, QWidget *parent) { return new LumenkitePane(s, parent); };
    return parts;
}

// Shows `widget` at `size`, in `scheme` when one is named; false when it never appears.
inline bool show(QWidget &widget, QSize size, const QString &scheme = {})
{
    if (!scheme.isEmpty())
        LinearTheme::applyColorScheme(&widget, scheme == "dark" ? ColorScheme::dark : ColorScheme::light);
    widget.resize(size);
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

// Lets what was just changed settle (animations, queued layouts) before a picture.
inline void settle() { QTest::qWait(300); }

inline bool save(const QImage &image, const QString &path)
{
    const bool ok = !image.isNull() && image.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// The widget as it shows once settled, written to `path`.
inline bool capture(QWidget *widget, const QString &path)
{
    settle();
    return save(widget ? widget->grab().toImage() : QImage(), path);
}

} // namespace pictures
