// Conversion between ISO 8859-1, the engine's text encoding, and UTF-8,
// which the desktop (clipboard, requesters) and some commands use.
#pragma once
#include <cstddef>

enum vlEncoding : int { VL_ENCODING_LATIN1 = 0, VL_ENCODING_UTF8 = 1 };

// A new buffer (malloc, 2 * length + 1 bytes) with the text in UTF-8; null
// for a null text or when memory runs out.
char* ConvertLatin1ToUTF8(const char* text);

// Writes the text in Latin-1 into out (outSize bytes, always terminated when
// outSize > 0). A character without a Latin-1 form, a malformed sequence or
// a sequence cut short by the terminator becomes one '?'. An output of
// strlen(text) + 1 bytes always suffices. Returns the bytes written, not
// counting the terminator.
size_t ConvertUTF8ToLatin1(const char* text, char* out, size_t outSize);

// The same for length bytes that may hold zero bytes (kept as they are);
// out needs length + 1 bytes and is terminated.
size_t ConvertUTF8BytesToLatin1(const char* text, size_t length, char* out);

// A new string converted from one encoding to the other; null for any pair
// other than Latin-1 -> UTF-8 and UTF-8 -> Latin-1, or out of memory.
char* ConvertEncoding(const char* text, int from, int to);
