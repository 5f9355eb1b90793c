#pragma once

#include <QString>

// Whether the native player can decode a file's first video stream here.
enum class NativeDecodability {
    unknown,           // the header could not be read: the player decides
    noVideo,           // audio only
    decodableVideo,    // a codec the GStreamer player decodes on this system
    undecodableVideo,  // a video stream in another codec
};

// Reads only the container header. Safe on any thread.
NativeDecodability probeNativeDecodability(const QString &path);
