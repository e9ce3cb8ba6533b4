// Shared by the picture reader fuzz targets: a memory stream over the input.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/stream.h"

inline vlStream* FuzzStream(const uint8_t* data, size_t size) { return OpenMemoryStream(data, size); }

// Multi-frame readers build a whole screen-sized canvas per frame read, so a
// hundred-byte file can name a 1024x61440 screen and take seconds per input
// under the sanitizers. Frames of screens above this many pixels are not
// decoded; the open scan still runs on them.
constexpr int64_t kFuzzMaxFramePixels = int64_t{1} << 22;
