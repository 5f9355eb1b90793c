#pragma once

// Reading a video's streams in process, and the check an encoded result must pass before
// it may take the place of anything (the trim export and the batch compressor share it).

#include <QString>

namespace OutputValidation {

struct StreamFacts {
    bool readable = false;
    bool hasVideo = false;
    bool hasAudio = false;
    double duration = 0; // seconds, 0 when unknown
    QString audioCodec;  // the first audio stream's codec name ("aac", "opus"...), empty without one
};
StreamFacts probeStreams(const QString &path);

// How far a result's duration may stray from the expected one: 15 %, at least 1.2 s.
double durationTolerance(double expectedSeconds);

struct Check {
    bool ok = false;
    qint64 size = 0;
    double duration = 0;
    QString message; // why it failed, in fixed English
};
// The file exists with a size above 0 and lasts the expected time within the tolerance.
Check validate(const QString &path, double expectedSeconds);

} // namespace OutputValidation
