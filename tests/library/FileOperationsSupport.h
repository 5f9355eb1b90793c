#pragma once

// What the file-operation tests share: a fresh folder in the sandbox and a video on disk.

#include "library/Models.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

namespace fotest {

// An empty folder "<sandbox>/<area>/<name>", made anew.
inline QString sandboxFolder(const QString &area, const QString &name)
{
    const QString path = lktest::sandboxRoot() + "/" + area + "/" + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

// A file of `size` bytes and the library's value for it.
inline VideoFile makeVideo(const QString &path, qint64 size = 1000)
{
    EXPECT_TRUE(lktest::writeSizedFile(path, size)) << path.toStdString();
    const auto video = VideoFile::fromFile(path);
    EXPECT_TRUE(video.has_value()) << path.toStdString();
    return video.value_or(VideoFile{});
}

} // namespace fotest
