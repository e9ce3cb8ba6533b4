// Packed data: a 4-byte magic, 4 reserved bytes, then a zlib stream. Used
// for the dos library's compressed files ("VLPK"), compressed containers
// and compressed linked plug-ins.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlStream;

// The error code of a failing zlib result: -1 1306, -2 1307, -3 1309,
// -4 1000, -6 1308, anything else 1091.
int ZlibErrorCode(int result);

// Inflates the pack at the stream's current position into the file
// destPath (when given; file adapters may take it) or into buffer
// (capacity bytes; inflation stops when it is full). *sizeOut receives the
// bytes written, *consumedOut (when given) the pack's length from its
// magic on; the stream is left just behind the compressed data. 0, 1310
// (wrong magic), 1009 (the header is cut short), 1309 (corrupt data, or a
// zlib stream whose end is missing), 1000, 1052 or 1005. A failure leaves
// what was written.
int DecompressPack(const char magic[4], vlStream* source, const char* destPath, uint8_t* buffer,
                   size_t capacity, uint64_t* sizeOut, uint64_t* consumedOut = nullptr);
