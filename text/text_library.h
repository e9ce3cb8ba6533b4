// The "text" command library: its open routine, command and constants
// tables, the text settings that every output copies, the default
// encoding, and the library's shut-down.
#pragma once
#include <cstdint>

#include "text/fonts/engine_font.h"

struct vlVMState;

struct vlTextSettings {
  uint32_t style;
  uint32_t color;        // 0xAARRGGBB, the top byte a transparency
  uint32_t shadowColor;
  uint32_t edgeColor;
  int32_t shadowSize;
  int32_t shadowDirection;
  int32_t edgeSize;
  vlEngineFont* font;
};

vlTextSettings* GetTextSettings();
vlEngineFont* GetCurrentFont();
// The default of every optional encoding argument (0 ISO 8859-1, 1 UTF-8).
int32_t GetDefaultEncoding();
void SetDefaultEncoding(int32_t encoding);

// Makes the built-in 8-pixel font current; the engine's error on failure.
int InitDefaultFont();
int OpenTextLib(vlVMState* state);
// Frees everything the library holds and stops the font engines.
int FreeTextLibrary(vlVMState* state);
