// The key-name table of the event commands: names of special keys and
// qualifiers and their codes.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlKeyName {
  const char* name;
  uint32_t code;
};
constexpr int kKeyTableRows = 52;
extern const vlKeyName kKeyTable[kKeyTableRows];

// A one-character name gives its code when it is a graphic character;
// longer names are looked up without case among the special keys (and
// the qualifiers when allowed). 0 when unknown.
uint32_t KeyCodeFromName(const char* name, int qualifiersAllowed);
// The name of a special key from "ESC" to "PAUSE", null for other codes.
const char* KeyNameOfCode(uint32_t code);
// The name a legacy key record compares with: rows "TAB" to "PAUSE",
// null for other codes.
const char* LegacyKeyNameOfCode(uint32_t code);
// The text a key event gives the script as its "key": the name from "ESC"
// to "PAUSE", "\n" for ENTER and RETURN, eight blanks for TAB, one for
// SPACE, else the character with the code.
void KeyTextOfCode(uint32_t code, char* out, size_t size);
