#pragma once

#include <QSize>
#include <QString>

// Whether the native player can decode a file's first video stream here.
enum class NativeDecodability {
    unknown,           // the header could not be read: the player decides
    noVideo,           // audio only
    decodableVideo,    // a codec the GStreamer player decodes on this system
    undecodableVideo,  // a video stream in another codec
};

// What the header says of the first video stream: whether the native player decodes it,
// and how its stored picture is turned for display (the native player shows the stored
// picture as it is).
struct NativeVideoHeader {
    NativeDecodability decodability = NativeDecodability::unknown;
    int quarterTurns = 0; // clockwise, 0..3
    QSize storedSize;     // empty when unknown
};

// Reads only the container header. Safe on any thread.
NativeVideoHeader probeNativeVideoHeader(const QString &path);
inline NativeDecodability probeNativeDecodability(const QString &path)
{
    return probeNativeVideoHeader(path).decodability;
}
