// The two records that describe one run: the start-up record (what the
// command line and the options file say) and the applet information (what
// the compiled script declares, plus the command line's display overrides).
#pragma once
#include <cstddef>
#include <cstdint>

// A backfill decoration as declared for a display: 266 words.
struct vlBackfillBlock {
  int32_t type;          // 0 none, 1 colour, 2 gradient, 3 texture, 4 picture
  int32_t color;         // colour, or the gradient's start colour; -1 unset
  int32_t endColor;      // -1 unset
  int32_t x;             // picture position; -100000 centred
  int32_t y;
  int32_t brush;         // brush id of a texture or picture
  int32_t scalePicture;
  int32_t transColor;    // transparent colour of the picture; -1 none
  char brushFile[1024];  // picture file, when given by name
  int32_t hideTitleBar;
  int32_t smoothScale;
};
static_assert(sizeof(vlBackfillBlock) == 266 * 4, "the backfill block is 266 words");

// Clears the block: no backfill, colours unset, picture centred.
void InitBackfillRecord(vlBackfillBlock* block);

// An option name the option table does not know, handed on to the script.
struct vlExtraArg {
  vlExtraArg* next;
  char* name;   // malloc'ed
  char* value;  // malloc'ed, or null when none was given
};

// Frees the list and clears its head.
void FreeExtraArgs(vlExtraArg** list);

inline constexpr size_t kStartupPathSize = 1024;
inline constexpr size_t kXServerNameSize = 256;
inline constexpr size_t kAppletIdSize = 256;

struct vlStartupRecord {
  uint32_t containerFound;
  char scriptPath[kStartupPathSize];
  char programPath[kStartupPathSize];
  char* givenName;           // the script name as the user gave it (malloc'ed)
  uint32_t quiet;
  uint32_t noSound;
  uint32_t soundSetting;     // run-time option 3 of the sound library (30)
  uint32_t soundWords[3];    // 512, 50, 90: read by the sound and display code
  uint32_t numChannels;      // 0 unless NUMCHANNELS was given
  uint32_t skipDisplayOverrides;
  uint32_t applyToAllDisplays;
  vlExtraArg* extraArgs;
  char errorText[1024];  // the error reported at shut-down
};

// The command line's display overrides, copied onto declared displays once
// the script's displays are known.
struct vlDisplayCmdOverrides {
  int32_t scaleWidth;   // 0 unset; negative = percent
  int32_t scaleHeight;
  int32_t monitor;      // 0-based
  int32_t monitorGiven;  // MONITOR was given (monitor 1 is 0)
  int32_t mode;         // 0 unset
  int32_t screenWidth;  // -1 unset
  int32_t screenHeight;
  int32_t screenDepth;
  vlBackfillBlock backfill;  // type 0: none given; hideTitleBar from HIDETITLEBAR
  uint32_t flagBits;         // OR-ed into the display's flag word
  char xServer[kXServerNameSize];
};

struct vlPreprocRecord;

inline constexpr int kHeaderStringCount = 5;
inline constexpr size_t kHeaderStringSize = 256;

struct vlAppletInfo {
  uint8_t* code;  // the main chunk's bytes (malloc'ed)
  size_t codeSize;
  char header[kHeaderStringCount][kHeaderStringSize];
  char identifier[kAppletIdSize];  // the application identifier; empty when none
  vlPreprocRecord* preproc;        // declarations, in container order
  uint32_t versionMajor;
  uint32_t versionMinor;
  uint32_t containerRead;
  vlDisplayCmdOverrides overrides;
};

// The records of the running player (null outside a run).
extern vlAppletInfo* vlCurrentApplet;
extern vlStartupRecord* vlCurrentStartup;

// Presets of the fields that the option code owns: the overrides unset,
// the sound words, version 6.1.
void InitStartupDefaults(vlAppletInfo* applet, vlStartupRecord* startup);
