// Values of start-up options and plug-in tags given as text: numbers in
// decimal, "$" or "0x" hexadecimal and "%" binary, and '|'-separated lists.
#pragma once
#include <cstddef>

// Parses the number at the start of the text. consumed gets the characters
// used (sign included; 0 on error), error 0, 1018 (a "$", "%" or "0x" with
// no digit) or 1024 (no number at all). Characters after the number are
// not examined. Either out pointer may be null.
double ParseNumberString(const char* text, size_t* consumed, int* error);

// A new copy (malloc) of the text with every '|' turned into a zero byte and
// a second zero byte at the end, so "a|b" becomes "a\0b\0\0": walk it with
// p += strlen(p) + 1 until an empty item. Null for a null text or out of
// memory.
char* SplitBars(const char* text);
