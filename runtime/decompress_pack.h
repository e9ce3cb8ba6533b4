// Packed data: a 4-byte magic, 4 further bytes, then a zlib stream. Used
// for compressed containers and for compressed linked plug-ins.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlStream;

// Inflates the pack at the stream's current position into the file
// destPath (when given) or into buffer (capacity bytes; inflation stops
// when it is full). *sizeOut receives the bytes written; the stream is
// left just behind the compressed data. 0, 1310 (wrong magic), 1009 (the
// data ends early), 1309 (corrupt data), 1000, 1052 or 1005.
int DecompressPack(const char magic[4], vlStream* source, const char* destPath, uint8_t* buffer,
                   size_t capacity, uint64_t* sizeOut);
