// The key-name table, its look-ups and the key text of key events. Depends
// on the case folding and the key codes.
#include "display/events/event_keys.h"

#include <cstdio>
#include <cstring>

#include "platform/x11/x11_input.h"
#include "vm/text.h"

const vlKeyName kKeyTable[kKeyTableRows] = {
    {"MOVEWINDOW", 6},           {"SIZEWINDOW", 7},       {"INACTIVEWINDOW", 8},   {"ACTIVEWINDOW", 9},
    {"CLOSEWINDOW", 10},         {"ONBUTTONCLICKALL", 11}, {"ONBUTTONRIGHTCLICKALL", 12},
    {"ONBUTTONOVERALL", 13},     {"ONKEYDOWNALL", 14},    {"TAB", 272},            {"RETURN", 274},
    {"ENTER", 273},              {"SPACE", 276},          {"ESC", 275},            {"UP", 256},
    {"DOWN", 257},               {"RIGHT", 258},          {"LEFT", 259},           {"HELP", 260},
    {"BACKSPACE", 271},          {"DEL", 277},            {"F1", 261},             {"F2", 262},
    {"F3", 263},                 {"F4", 264},             {"F5", 265},             {"F6", 266},
    {"F7", 267},                 {"F8", 268},             {"F9", 269},             {"F10", 270},
    {"F11", 278},                {"F12", 279},            {"F13", 287},            {"F14", 288},
    {"F15", 289},                {"F16", 290},            {"INSERT", 280},         {"HOME", 281},
    {"END", 282},                {"PAGEUP", 283},         {"PAGEDOWN", 284},       {"PRINT", 285},
    {"PAUSE", 286},              {"LSHIFT", 0x80010000u}, {"RSHIFT", 0x80020000u}, {"LALT", 0x80040000u},
    {"RALT", 0x80080000u},       {"LCOMMAND", 0x80100000u}, {"RCOMMAND", 0x80200000u},
    {"LCONTROL", 0x80400000u},   {"RCONTROL", 0x80800000u},
};

namespace {
constexpr int kFirstKeyRow = 9, kLastKeyRow = 43, kLastQualifierRow = 51, kEscRow = 13;
}

uint32_t KeyCodeFromName(const char* name, int qualifiersAllowed) {
  if (!name || !*name) return 0;
  if (!name[1]) {
    auto c = static_cast<unsigned char>(name[0]);
    // Graphic characters: printable ASCII without the blank, and Latin-1.
    return (c > 0x20 && c < 0x7F) || c >= 0xA1 ? c : 0;
  }
  int last = qualifiersAllowed ? kLastQualifierRow : kLastKeyRow;
  for (int i = kFirstKeyRow; i <= last; ++i)
    if (CompareNoCase(name, kKeyTable[i].name) == 0) return kKeyTable[i].code;
  return 0;
}

const char* KeyNameOfCode(uint32_t code) {
  for (int i = kEscRow; i <= kLastKeyRow; ++i)
    if (kKeyTable[i].code == code) return kKeyTable[i].name;
  return nullptr;
}

const char* LegacyKeyNameOfCode(uint32_t code) {
  for (int i = kFirstKeyRow; i <= kLastKeyRow; ++i)
    if (kKeyTable[i].code == code) return kKeyTable[i].name;
  return nullptr;
}

void KeyTextOfCode(uint32_t code, char* out, size_t size) {
  if (size < 2) return;
  if (const char* name = KeyNameOfCode(code)) {
    std::snprintf(out, size, "%s", name);
  } else if (code == VL_KEY_ENTER || code == VL_KEY_RETURN) {
    std::snprintf(out, size, "\n");
  } else if (code == VL_KEY_TAB) {
    std::snprintf(out, size, "        ");
  } else if (code == VL_KEY_SPACE) {
    std::snprintf(out, size, " ");
  } else {
    out[0] = static_cast<char>(code);
    out[1] = '\0';
  }
}
