// The command line and the options file: one option table, one array of
// option values filled first from the command line and then from the
// options file named after the script, and the list of extra arguments
// handed on to the script.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/startup_records.h"

// Option ids: indices into the value array. Index 0 is the script name.
enum vlCmdLineOptionId : uint32_t {
  VL_CLOPT_SCRIPT = 0,
  VL_CLOPT_WINDOW = 1,
  VL_CLOPT_BORDERLESS = 2,
  VL_CLOPT_SIZEABLE = 3,
  VL_CLOPT_BACKFILL = 4,
  VL_CLOPT_HIDETITLEBAR = 5,
  VL_CLOPT_BRUSH = 6,
  VL_CLOPT_STARTCOLOR = 7,
  VL_CLOPT_ENDCOLOR = 8,
  VL_CLOPT_SCRDEPTH = 9,
  VL_CLOPT_QUIET = 11,
  VL_CLOPT_BRUSHFILE = 13,
  VL_CLOPT_FIXED = 15,
  VL_CLOPT_NOSOUND = 16,
  VL_CLOPT_SCALEPICTURE = 18,
  VL_CLOPT_PICXPOS = 19,
  VL_CLOPT_PICYPOS = 20,
  VL_CLOPT_PICTRANS = 21,
  VL_CLOPT_FULLSCREEN = 22,
  VL_CLOPT_NOHIDE = 26,
  VL_CLOPT_SCRWIDTH = 27,
  VL_CLOPT_SCRHEIGHT = 28,
  VL_CLOPT_FAKEFULLSCREEN = 29,
  VL_CLOPT_HIDEPOINTER = 30,
  VL_CLOPT_NOMODESWITCH = 31,
  VL_CLOPT_DEBUGDEVICE = 33,
  VL_CLOPT_AUTOSCALE = 36,
  VL_CLOPT_SCALEWIDTH = 37,
  VL_CLOPT_SCALEHEIGHT = 38,
  VL_CLOPT_SMOOTHSCALE = 39,
  VL_CLOPT_LAYERSCALE = 40,
  VL_CLOPT_KEEPPROPORTIONS = 61,
  VL_CLOPT_FITSCALE = 62,
  VL_CLOPT_XSERVER = 64,
  VL_CLOPT_AUDIODEVICE = 65,
  VL_CLOPT_SKIPPLUGINS = 67,
  VL_CLOPT_SOFTTIMER = 70,
  VL_CLOPT_REQUIREPLUGINS = 74,
  VL_CLOPT_DISABLEBLANKER = 75,
  VL_CLOPT_TEMPDIR = 78,
  VL_CLOPT_MODEREQUESTER = 79,
  VL_CLOPT_ASKDISPLAYMODE = 80,
  VL_CLOPT_MONITOR = 81,
  VL_CLOPT_ALLDISPLAYS = 82,
  VL_CLOPT_NOMOUSEHOOK = 83,
  VL_CLOPT_REQUIRETAGS = 86,
  VL_CLOPT_DEBUGOUTPUT = 87,
  VL_CLOPT_NUMCHANNELS = 88,
  VL_CLOPT_FORCEFLUSH = 89,
  VL_CLOPT_HELP = 90,
  VL_CLOPT_OVERRIDEPLACEMENT = 91,
  VL_CLOPT_NOCHDIR = 92,
  VL_CLOPT_NODEBUG = 94,
};

inline constexpr int kCmdLineOptionCount = 52;
inline constexpr int kOptionValueCount = 95;

// One row of the option table. The help columns are catalog message ids
// (0: none).
struct vlCmdLineOption {
  const char* name;  // upper case
  uint32_t id;
  uint32_t takesArgument;
  uint32_t helpGroup;
  uint32_t helpText;
  const char* placeholder;
  const char* choices;
};

// The 52 rows, then a row whose name is null.
extern const vlCmdLineOption vlCmdLineOptions[kCmdLineOptionCount + 1];

// The row of a name (case-insensitive), or null.
const vlCmdLineOption* FindCmdLineOption(const char* name);

// The values of one run, by option id: a switch holds 1 or 0, an option
// with an argument the address of its text, the script name at index 0.
// The texts live in the two buffers, which the parsers own.
struct vlOptionValues {
  uintptr_t word[kOptionValueCount];
  char* line;  // the joined command line, cut into its tokens
  char* file;  // the options file's text, cut into its values
};

// Frees both buffers and clears every value.
void FreeOptionValues(vlOptionValues* values);
// The text of an option with an argument, or null when it was not given.
const char* GetOptionText(const uintptr_t* words, uint32_t id);

// Joins arguments 1 to argc-1 into one line: an argument beginning with '-'
// as it is, any other in double quotes, one blank between them. A malloc'ed
// text, or null when memory runs out.
char* JoinArguments(int argc, char* const* argv);

// Parses a joined command line into values (which keeps a copy of it);
// unknown option names are appended to extras. Once per value array: a
// second parse would free the texts the first one stored. 0, 1060 or 1000.
int ParseCommandLine(vlOptionValues* values, const char* line, vlExtraArg** extras);

// Parses the text of an options file (size bytes; a zero byte ends it) into
// values, over what the command line set; once per value array, like the
// command line. 0, 1363 or 1000.
int ParseOptionsText(vlOptionValues* values, const char* text, size_t size, vlExtraArg** extras);

// The options file of a script: its path with the file name's extension
// replaced by ".ini" (appended when it has none). 1, or 0 when it does not
// fit (the buffer is then emptied).
int GetOptionsFileName(const char* scriptPath, char* buffer, size_t size);

// Reads and parses the options file of the script, when there is one.
// 0 (also when there is none), 1000, 1009, 1363, or 1045 when a directory
// has its name (the name in the error argument).
int ReadOptionsFile(vlOptionValues* values, const char* scriptPath, vlExtraArg** extras);

// The option steps of start-up: joins and parses the command line (unknown
// names go to the start-up record's extra arguments), takes the script path
// from the free argument (kept as the name given too) or, with a linked
// container, from the program path, and reads the options file beside it.
// When no script is named and none is linked, *needScript is set and the
// options file is left for the caller to read once a script was chosen.
// 0, 1000, 1009, 1060 (also for a script name longer than the path buffer)
// or 1363.
int ParseStartupOptions(vlStartupRecord* startup, vlOptionValues* values, int argc, char* const* argv, bool linked,
                        bool* needScript);
