// Base64 (RFC 4648, "+/" alphabet, '=' padding) to and from byte buffers.
#pragma once
#include <cstddef>

// Bytes the encoding of length bytes takes, not counting a terminator.
constexpr size_t Base64EncodedSize(size_t length) { return (length + 2) / 3 * 4; }
// Encodes into dst (Base64EncodedSize + 1 bytes, terminated); the length.
size_t EncodeBase64(const void* src, size_t length, char* dst);
// Decodes into dst (length / 4 * 3 bytes suffice; line breaks and spaces
// are passed over). 1 with *outLength set, or 0 for a character outside
// the alphabet, misplaced padding or a cut-off group.
int DecodeBase64(const char* src, size_t length, void* dst, size_t* outLength);
