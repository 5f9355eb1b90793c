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
    // The original is still on disk although it was to be replaced (the Trash refused it, or
    // it had changed during the encode); `remark` says where it is.
    bool originalKept = false;
    QString remark;
    // The space the item gave back: only a replaced original that left the disk counts.
    qint64 reclaimedBytes() const
    {
        return replacedOriginal && !originalKept && !skippedBecauseNotSmaller && originalBytes > compressedBytes
                   ? originalBytes - compressedBytes
                   : 0;
    }
    bool operator==(const BatchCompressionResult &other) const = default;
};
