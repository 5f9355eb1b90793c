// Driving the real window in the soak programs.
#pragma once

#include "library/AppState.h"
#include "ui/window/LumenkiteApp.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace soak {

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
