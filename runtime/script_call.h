// Small bridges between the file layer and the VM: file-name arguments
// resolved against the linked files, the start-up records published in the
// registry, calling a script command by name from engine code, and the
// text of arguments as the debug output shows it.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlAppletInfo;
struct vlStartupRecord;

// The string argument at index (its reader raises a bad argument), resolved
// against the files linked into the applet.
const char* GetFileNameArg(vlVMState* state, int index, int fontMode, int* isFontOut);

// The records published as "applet" and "clargs"; null without a state or
// before they are published.
vlAppletInfo* GetAppletRecord(vlVMState* state);
vlStartupRecord* GetCmdArgsRecord(vlVMState* state);

// Argument kinds of CallScriptCommand; each kind is followed by its value.
enum : int {
  VL_CALLARG_INT = 0,       // int
  VL_CALLARG_UNSIGNED = 1,  // unsigned int
  VL_CALLARG_TEXT = 2,      // const char*
  VL_CALLARG_NIL = 3,       // a pointer, not used
  VL_CALLARG_POINTER = 4,   // void*, pushed as a light userdata
  VL_CALLARG_OBJECTID = 5,  // const vlObjectId*
};

// Calls the global command of that name (case-insensitive) with argCount
// {kind, value} pairs, keeping results values on the stack. Not protected:
// a script error unwinds to the caller's protected call. 0, or 1135 when
// the stack has no room for the arguments.
int CallScriptCommand(vlVMState* state, const char* commandName, int results, int argCount, ...);

// Converts arguments 1..n through the script's "tostring" and pushes them
// joined with single blanks; 0 or an error code.
int JoinArgsAsText(vlVMState* state, int n);
