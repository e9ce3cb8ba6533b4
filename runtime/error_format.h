// The placeholder substituter for message texts: only "%s", "%d", "%ld"
// and "%%" are understood; nothing is ever read from a variable argument
// list, so a hostile text cannot make it read or write out of bounds.
#pragma once
#include <cstddef>

// Writes text into dst (size bytes, always terminated when size > 0) with
// "%s" replaced by arg, "%d" and "%ld" by number and "%%" by '%'; any other
// '%' sequence is copied as it stands. Returns the length written.
size_t FormatMessageText(char* dst, size_t size, const char* text, const char* arg, long number);

// Copies at most size - 1 characters of src and terminates; the length.
size_t CopyText(char* dst, size_t size, const char* src);

// Whether the text has a "%s", or a "%d"/"%ld".
bool HasStringPlaceholder(const char* text);
bool HasNumberPlaceholder(const char* text);
// Whether the text has any '%' sequence other than "%%".
bool HasPlaceholders(const char* text);
// Whether two texts ask for the same arguments in the same order ("%d" and
// "%ld" count alike, "%%" not at all); a text with any other '%' sequence
// never matches.
bool SamePlaceholders(const char* a, const char* b);
