#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

namespace lktest {

bool writeSizedFile(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    if (size > 0) {
        // Write the last byte so the size is real without using the space.
        ok = ::ftruncate(fd, size - 1) == 0 && ::pwrite(fd, "x", 1, size - 1) == 1;
    }
    ::close(fd);
    return ok;
}

int runProgram(const QString &program, const QStringList &args, QString *output, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool makeClip(const QString &path, double seconds, int width, int height,
              const QStringList &videoArgs, bool withAudio)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList args{"-y", "-v", "error", "-f", "lavfi", "-i",
                     QStringLiteral("testsrc2=size=%1x%2:rate=25:duration=%3")
                         .arg(width).arg(height).arg(QString::number(seconds))};
    if (withAudio)
        args << "-f" << "lavfi" << "-i"
             << QStringLiteral("sine=frequency=440:duration=%1").arg(QString::number(seconds));
    args << videoArgs;
    if (withAudio)
        args << "-shortest";
    args << path;
    return runProgram("ffmpeg", args) == 0 && QFileInfo(path).size() > 0;
}

} // namespace lktest
