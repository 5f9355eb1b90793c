#pragma once

#include <QString>
#include <QStringList>

namespace lktest {

// The temporary folder that HOME and every XDG folder point into for this test program.
QString sandboxRoot();

// Creates a file of exactly `size` bytes (sparse), making parent folders as needed.
bool writeSizedFile(const QString &path, qint64 size);

// Runs a program to completion; returns its exit code, or -1 when it could not run.
int runProgram(const QString &program, const QStringList &args, QString *output = nullptr,
               int timeoutMs = 60000);

// Makes a short clip with ffmpeg's lavfi sources. `videoArgs` are the encoder options.
// Returns false when ffmpeg is missing or fails.
bool makeClip(const QString &path, double seconds, int width, int height,
              const QStringList &videoArgs = {}, bool withAudio = false);

} // namespace lktest
