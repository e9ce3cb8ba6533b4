// Base64 (RFC 4648, "+/" alphabet, '=' padding) to and from byte buffers.
#pragma once
#include <cstddef>

struct vlStream;
struct vlStrBuf;

// Bytes the encoding of length bytes takes, not counting a terminator.
constexpr size_t Base64EncodedSize(size_t length) { return (length + 2) / 3 * 4; }
// Encodes into dst (Base64EncodedSize + 1 bytes, terminated); the length.
size_t EncodeBase64(const void* src, size_t length, char* dst);
// Decodes into dst (length / 4 * 3 bytes suffice; line breaks and spaces
// are passed over). 1 with *outLength set, or 0 for a character outside
// the alphabet, misplaced padding or a cut-off group.
int DecodeBase64(const char* src, size_t length, void* dst, size_t* outLength);

// The file formats' coder. Encodes into the string builder when given, else
// into buffer (*countOut grows by one per character), else to the stream,
// which alone gets a line feed before the 73rd character of every line
// unless oneLine is set (counted too). *countOut, when given, is added to.
// 0, or 1005 when a stream write fails.
int Base64Encode(vlStream* stream, vlStrBuf* builder, char* buffer, const void* bytes, size_t length,
                 size_t* countOut, int oneLine);
// Decodes length bytes of text into the builder when given, else into
// buffer (length / 4 * 3 bytes suffice). Bytes below 33 are passed over,
// '=' counts as 0 and ends decoding after its group; whatever follows is
// ignored. *countOut gets the bytes produced, also on failure. 0, or 1323
// for a byte outside the alphabet or text ending inside a group.
int Base64Decode(const char* text, void* buffer, vlStrBuf* builder, size_t length, size_t* countOut);
