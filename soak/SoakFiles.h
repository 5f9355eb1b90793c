// Small helpers the soak programs share: a private HOME, fixture clips, content hashes and a
// look into the Trash.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdlib>

namespace soak {

// Points HOME and the XDG folders into `root`, for this process and the programs it starts.
inline void useHome(const QString &root)
{
    const QByteArray r = QFile::encodeName(root);
    for (const char *sub : {"config", "data", "cache", "state"}) QDir().mkpath(root + "/" + sub);
    QDir().mkpath(root + "/runtime");
    QFile::setPermissions(root + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::setenv("HOME", r.constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (r + "/config").constData(), 1);
    ::setenv("XDG_DATA_HOME", (r + "/data").constData(), 1);
    ::setenv("XDG_CACHE_HOME", (r + "/cache").constData(), 1);
    ::setenv("XDG_STATE_HOME", (r + "/state").constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", (r + "/runtime").constData(), 1);
}

// `ffmpeg -y -v error <args> <path>`; the error text in `error` on failure.
inline bool ffmpeg(const QStringList &args, const QString &path, QString *error = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-y", "-v", "error"} + args + QStringList{path});
    const bool ok = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && error) *error = QString::fromLocal8Bit(p.readAllStandardError()) + p.errorString();
    return ok;
}

// A clip of `seconds` with a test picture and a tone.
inline bool makeClip(const QString &path, double seconds, const QString &size, const QStringList &videoArgs)
{
    const QString d = QString::number(seconds);
    return ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=25:duration=" + d, "-f", "lavfi",
                              "-i", "sine=frequency=440:duration=" + d} +
                      videoArgs + QStringList{"-c:a", "aac", "-shortest"},
                  path);
}

inline QByteArray hashFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result();
}

// The user's Trash folder of files.
inline QString trashFiles()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash/files");
}

// Whether a file in the Trash has this content.
inline bool inTrash(const QByteArray &hash)
{
    QDirIterator it(trashFiles(), QDir::Files | QDir::Hidden);
    while (it.hasNext())
        if (hashFile(it.next()) == hash) return true;
    return false;
}

} // namespace soak
