#pragma once

// For checks of the program without some of its optional parts: the environment variable
// LUMENKITE_HIDE_TOOLS, a comma-separated list of "libmpv" and "clip-helper", makes the
// program behave as if those were not installed (ffmpeg and ffprobe are hidden by PATH).

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
