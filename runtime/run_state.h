// The state of the run that every floor reads: whether shut-down or the
// opening of the start-up plug-ins is under way, and the settings the
// options gave for the rest of the run. The driver writes them.
#pragma once
#include <cstdint>

// Set while ShutDown runs.
extern int vlShuttingDown;
// Set while the plug-ins named at start-up are opened.
extern int vlPluginStartup;

// What the options say for the rest of start-up and for shut-down.
struct vlStartupSettings {
  char* skipPlugins;     // multi-string (SplitBars), or null
  char* requirePlugins;  // multi-string, or null
  char* requireTags;     // the require-tags text, or null
  char* debugDevice;     // set: errors at shut-down go to the console
  uint32_t quietGiven;   // QUIET asked for: errors at shut-down go to standard error, not into a dialog
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
