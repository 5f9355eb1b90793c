#pragma once

// The pipe protocol between the app and the `lumenkite-clip` helper. All integers are
// little-endian uint32; embeddings are float32 as the towers give them (not normalised).
//
//   helper, once loaded:  kHelloMagic, status (0 ready), image dimension, text dimension
//                          (a dimension of 0: that tower is not loaded)
//   request:              kRequestMagic, kind, count (1..kMaxBatch), then the payload:
//                          images: count x 256 x 256 x 3 bytes (RGB, rows top to bottom)
//                          texts:  count x 77 int32 token ids
//   answer:               kAnswerMagic, status, count, dimension, count x dimension floats
//                          (count and dimension are 0 unless the status is kOk)
//
// A request whose header is not understood gets an answer with kBadRequest and the helper
// exits, since it can no longer tell where the next request starts; a readable request with
// unusable content (an id out of range, a tower not loaded) gets kBadRequest and the helper
// goes on.

#include <cstdint>

namespace clipproto {

constexpr uint32_t kHelloMagic = 0x4C4B4348;   // "LKCH"
constexpr uint32_t kRequestMagic = 0x4C4B4351; // "LKCQ"
constexpr uint32_t kAnswerMagic = 0x4C4B4341;  // "LKCA"

enum Kind : uint32_t { kImages = 1, kTexts = 2 };
enum Status : uint32_t { kOk = 0, kBadRequest = 1, kFailed = 2 };

constexpr uint32_t kMaxBatch = 64;
constexpr int kImageSide = 256;
constexpr int kImageBytes = kImageSide * kImageSide * 3;
constexpr int kTextLength = 77;

} // namespace clipproto
