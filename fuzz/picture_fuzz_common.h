// Shared by the picture reader fuzz targets: a memory stream over the input.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/stream.h"

inline vlStream* FuzzStream(const uint8_t* data, size_t size) { return OpenMemoryStream(data, size); }
