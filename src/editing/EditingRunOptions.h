#pragma once

// What an export or a compression runs with, for tests and the checks that stand in
// for a real tool or a real file system.

#include "editing/SafeReplace.h"

#include <QString>

#include <memory>
#include <optional>

struct EditingRunOptions {
    // Unset: the located ffmpeg program; an empty string: no ffmpeg.
    std::optional<QString> ffmpegPath;
    // Null: the real file system.
    std::shared_ptr<SafeReplace::FileSteps> fileSteps;
};
