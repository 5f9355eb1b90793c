#pragma once

// A small fixture library for the window tests: videos described in memory (no files),
// or real files in the test's sandbox when an operation needs them.

#include "support/TestSupport.h"
#include "library/AppState.h"
#include "ui/Availability.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>

namespace uifx {

inline VideoFile video(const QString &path, qint64 size = 1'000'000, int ageDays = 100)
{
    return *VideoFile::make(path, size, QDateTime::currentDateTime().addDays(-ageDays), std::nullopt);
}

inline QString home() { return QDir::homePath(); }

// 2 folders of a few videos each, of three formats.
inline QList<VideoFile> library()
{
    const QString h = home();
    return {
        video(h + "/Videos/Trips/a.mp4", 2'000'000, 3),
        video(h + "/Videos/Trips/b.mov", 300'000'000, 40),
        video(h + "/Videos/Trips/c.mkv", 5'000'000, 2),
        video(h + "/Videos/Family/d.mp4", 1'000'000, 400),
        video(h + "/Videos/Family/e.mp4", 262'144'000, 10),
    };
}

// As if the window had been given every sheet, so commands that open one are enabled.
inline void offerEveryView(AppState &s)
{
    using V = Availability::View;
    for (V v : {V::moveSheet, V::editorSheet, V::duplicatesSheet, V::batchCompressSheet, V::storageInsightsSheet,
                V::onboarding, V::commandPalette, V::settings})
        Availability::setAvailable(&s, v, true);
}

inline void spin(int ms = 0)
{
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    } while (t.elapsed() < ms);
}

// Waits until `done` holds or `ms` passed.
template <typename F> bool waitFor(F done, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

inline void select(AppState &s, const QList<VideoFile> &videos)
{
    QSet<QString> ids;
    for (const VideoFile &v : videos) ids.insert(v.id);
    s.setSelectedVideoIDs(ids);
    s.setPrimarySelectedVideoID(videos.isEmpty() ? std::nullopt : std::optional<QString>(videos.first().id));
}

// A sheet that only records that it was opened.
inline QDialog *dummySheet(QWidget *parent)
{
    auto *d = new QDialog(parent);
    d->resize(200, 100);
    return d;
}

} // namespace uifx
