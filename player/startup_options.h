// Applying the option values of the command line and the options file to
// the run's records and to the start-up settings that later steps read.
#pragma once
#include <cstdint>

#include "player/startup_records.h"

// What the options say for the rest of start-up and for shut-down.
struct vlStartupSettings {
  char* skipPlugins;     // multi-string (SplitBars), or null
  char* requirePlugins;  // multi-string, or null
  char* requireTags;     // the require-tags text, or null
  char* debugDevice;     // set: errors at shut-down go to the console
  char* audioDevice;     // null: "default"
  uint32_t debugOutput;
  uint32_t noDebug;      // warning declarations are not printed
  uint32_t overridePlacement;
  uint32_t noChdir;
  uint32_t noMouseHook;
  uint32_t runtimeFlags;  // bit 0: low-resolution software timer
};
extern vlStartupSettings vlStartup;

// The ALSA device the options name ("default" unless AUDIODEVICE).
const char* GetAudioDeviceName();
// Frees the texts of the settings and clears them (shut-down).
void FreeStartupSettings();

// The display mode each mode option selects, walked in this order.
struct vlDisplayModeOption {
  uint32_t optionId;
  int32_t mode;
};
extern const vlDisplayModeOption vlDisplayModeOptions[5];

// Applies the value array (words by option id) to the applet information's
// display overrides, the start-up record and the start-up settings. 0 or
// an error code (1000, 1018, 1024, 1243, 1557, 1569).
int ApplyStartupOptions(vlAppletInfo* applet, const uintptr_t* values, vlStartupRecord* startup);
