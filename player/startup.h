// The whole life of the player between process entry and exit: building
// the run's records, reading the script, running its main chunk, and the
// single exit through ShutDown.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/run_state.h"

struct vlVMState;
struct vlStartupRecord;
struct vlAppletInfo;

// The process's body: returns its exit status (0 for a normal end or a
// quit, 1 when the script or start-up ended with an error).
int StartUp(int argc, char** argv);

// Frees everything in a fixed order and reports an error (code >= 1,
// other than quit). Returns the exit status for code.
int ShutDown(int code, vlVMState* state, vlStartupRecord* startup, vlAppletInfo* applet);

// Progress of a start-up with progress output.
extern double vlProgressStep;
extern double vlProgressSum;
// Adds a progress step unless a container is linked; 1003 on a break.
int TimerTick();

// A unique temporary file, its name kept for removal at shut-down; copied
// into buffer. 1, or 0 when none could be made.
int NewTempName(char* buffer, size_t size);
// Removes every file NewTempName made and forgets them.
void RemoveTempNames();

struct vlPluginTag;

// The plug-in loader's part in start-up (tests replace them): load and
// register every plug-in found, and activate one plug-in by name.
struct vlStartupPluginCalls {
  int (*initPlugins)(vlVMState* state, vlStartupRecord* startup);
  int (*openPlugin)(vlVMState* state, const char* name, int minVersion, int minRevision, const vlPluginTag* tags);
};
extern vlStartupPluginCalls vlStartupPlugins;

// Chooses a script when none is named and none is linked: fills path
// (size bytes) and returns 0, or 1003 when cancelled. Default: the file
// requester.
extern int (*vlChooseScript)(char* path, size_t size);

// The first half of start-up: platform, catalog, marker, options, banner,
// event queue, the records published to the VM, the command libraries.
int ParseStartupArgs(vlVMState* state, vlStartupRecord* startup, vlAppletInfo* applet, const uint8_t* marker,
                     const uint8_t* patch, int argc, char** argv);
