// Driving the real window in the soak programs.
#pragma once

#include "platform/MemoryTuning.h"
#include "library/AppState.h"
#include "ui/window/LumenkiteApp.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTimer>

#include <clocale>
#include <functional>

namespace soak {

// Points HOME at <sandbox>/home and the XDG folders beside it (not inside it, so the scanned
// home holds only the check's own files). Returns the home.
inline QString sandboxHome(const QString &sandbox)
{
    const QString home = sandbox + "/home";
    QDir().mkpath(home);
    qputenv("HOME", QFile::encodeName(home));
    for (const char *var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(var, QFile::encodeName(sandbox + "/xdg/" + var));
    return home;
}

// Names the application as the program does and marks the welcome as seen; call once the
// QApplication exists.
inline void actAsTheProgram()
{
    // The program's own heap settings: the memory figures are the program's.
    tuneMemoryForLargeLibraries();
    QApplication::setOrganizationName("Lumenkite");
    QApplication::setApplicationName("Lumenkite");
    std::setlocale(LC_NUMERIC, "C");
    QSettings("Lumenkite", "Lumenkite").setValue("Lumenkite.hasCompletedOnboarding", true);
}

// Shows the window and runs its loop until the first scan has ended or `limitMs` has passed;
// `starting` runs just before the window is shown (to start the caller's clocks). True when
// the scan ended in time.
inline bool showAndWaitForFirstScan(LumenkiteApp *app, int pollMs, qint64 limitMs, const std::function<void()> &starting)
{
    AppState *state = app->state();
    bool sawScan = false, scanDone = false;
    // A small tree can be scanned between two polls: a new scan date says so too.
    const auto datedBefore = state->lastScanDate();
    QEventLoop loop;
    QElapsedTimer clock;
    QTimer poll;
    poll.setInterval(pollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (state->isScanning())
            sawScan = true;
        else if (state->lastScanDate() && (sawScan || state->lastScanDate() != datedBefore)) {
            scanDone = true;
            loop.quit();
        }
        if (clock.elapsed() > limitMs)
            loop.quit();
    });
    clock.start();
    if (starting)
        starting();
    poll.start();
    app->show();
    loop.exec();
    return scanDone;
}

} // namespace soak
