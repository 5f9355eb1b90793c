#pragma once

#include "Models.h"

#include <QUrl>

// What a batch compression job hands back for one video.
struct BatchCompressionResult {
    VideoFile original;
    QUrl outputURL;
    qint64 originalBytes = 0;
    qint64 compressedBytes = 0;
    bool replacedOriginal = false;
    bool skippedBecauseNotSmaller = false;
    bool operator==(const BatchCompressionResult &other) const = default;
};
