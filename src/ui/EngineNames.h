#pragma once

// The engines' names as every view shows them: literal, the same in every language.

#include "library/OnDeviceSearchTypes.h"

#include <QString>

inline constexpr const char *kMPVEngineName = "MPV Universal";
inline constexpr const char *kNativeEngineName = "GStreamer";

inline QString playerEngineName(bool usingMPV)
{
    return QString::fromLatin1(usingMPV ? kMPVEngineName : kNativeEngineName);
}

// The engines visual search runs on here: keyframe analysis alone, or with the scene models.
inline QString visualSearchEngineName(const OnDeviceAIEngineStatus &status)
{
    return status.kind == OnDeviceAIEngineStatus::Kind::appleVisionOnly ? QStringLiteral("OpenCV + Tesseract")
                                                                        : QStringLiteral("MobileCLIP + libtorch");
}
