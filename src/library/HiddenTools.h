#pragma once

// For checks of the program without some of its optional parts: the environment variable
// LUMENKITE_HIDE_TOOLS, a comma-separated list of "ffmpeg", "ffprobe", "libmpv" and
// "clip-helper", makes the program behave as if those were not installed. (The programs are
// looked for in fixed folders, not on PATH, and libmpv also in the loader's own places.)

#include <QByteArrayList>
#include <QtGlobal>

inline bool isToolHidden(const char *name)
{
    const QByteArray hidden = qgetenv("LUMENKITE_HIDE_TOOLS");
    if (hidden.isEmpty()) return false;
    for (const QByteArray &part : hidden.split(','))
        if (part.trimmed() == name) return true;
    return false;
}
