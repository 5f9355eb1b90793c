#pragma once

// A video's sound as 16 kHz mono 16-bit samples, the form the speech recogniser takes,
// delivered in chunks so that long recordings never sit in memory whole.

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace SpeechAudio {

inline constexpr int kSampleRate = 16000;

enum class Failure {
    noAudioTrack,     // the file has no sound track, or it cannot be read
    extractionFailed, // neither the libraries nor the ffmpeg program could decode it
    cancelled,
};

// Receives the next samples; returning false stops the decoding (cancellation).
using SampleSink = std::function<bool(const int16_t *samples, size_t count)>;

// Decodes the sound track in process; when the libraries cannot open the file, runs the
// `ffmpeg` program at `ffmpegPath` into a temporary raw file that is always removed again.
// No value on success.
// `cancelled` is asked while the program runs.
std::optional<Failure> decode(const QString &path, const std::optional<QString> &ffmpegPath, const SampleSink &sink,
                              const std::function<bool()> &cancelled = {});

// The temporary file of an ffmpeg run: in the temporary folder, "Lumenkite-Speech-<uuid>.raw".
QString temporaryFilePrefix();

} // namespace SpeechAudio
