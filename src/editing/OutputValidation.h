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
    double frameRate = 0;     // the video stream's average rate, 0 when unknown
    double videoDuration = 0; // the video stream's own length, 0 when unknown
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

// The same, and the video stream itself lasts the expected time within `frames` frames at
// `frameRate` (a cut must hold exactly what was kept: a copy that began at an earlier key
// frame is longer by up to a whole group of pictures).
Check validateExact(const QString &path, double expectedSeconds, double frameRate, int frames);

// The length of one frame at `frameRate`; 1/25 s when the rate is unknown or absurd.
double frameDuration(double frameRate);

// The time of the video key frame at or before `seconds`, read from the container's index
// (no decoding); not-a-number when it cannot be read.
double keyframeAtOrBefore(const QString &path, double seconds);

} // namespace OutputValidation
