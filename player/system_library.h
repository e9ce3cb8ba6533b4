// The system command library: its open and free-all routines, the legacy
// switches it owns and the commands of its groups (table, value, debug,
// program information, date and time, stopwatch timers, catalogs).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlObjectNode;

// Registers the system commands (the error and object commands among them)
// as globals, binds the table walk under "next" as well, registers the
// library, its constants and every ERR_ constant, and the timer list.
// Switches the single-music legacy mode on. 0 or an error code.
int OpenSystemLibrary(vlVMState* state);
// Frees every timer with its user data, closes the script's catalog and
// drops the script's error function.
void FreeSystemLibrary(vlVMState* state);

// Program flow and values
int CmdEnd(vlVMState* state);
int CmdWait(vlVMState* state);
int CmdCollectGarbage(vlVMState* state);
int CmdGCInfo(vlVMState* state);
int CmdLegacyControl(vlVMState* state);
int CmdDebugOutput(vlVMState* state);
int CmdGetType(vlVMState* state);
int CmdIsNil(vlVMState* state);
int CmdIIf(vlVMState* state);
int CmdGetConstant(vlVMState* state);
int CmdIncreasePointer(vlVMState* state);
int CmdDecreasePointer(vlVMState* state);

// Tables
int CmdNextItem(vlVMState* state);
int CmdIsTableEmpty(vlVMState* state);
int CmdTableItems(vlVMState* state);
int CmdHaveItem(vlVMState* state);
int CmdRawGet(vlVMState* state);
int CmdRawSet(vlVMState* state);
int CmdRawEqual(vlVMState* state);
int CmdGetMetaTable(vlVMState* state);
int CmdSetMetaTable(vlVMState* state);
int CmdPairs(vlVMState* state);
int CmdIPairs(vlVMState* state);
int CmdForEach(vlVMState* state);
int CmdForEachI(vlVMState* state);
int CmdCopyTable(vlVMState* state);
int CmdSort(vlVMState* state);
int CmdUnpack(vlVMState* state);
int CmdInsertItem(vlVMState* state);
int CmdRemoveItem(vlVMState* state);
int CmdListItems(vlVMState* state);
int CmdConcat(vlVMState* state);

// Debugging
int CmdDebugPrint(vlVMState* state);
int CmdDebugPrintNR(vlVMState* state);
int CmdDebugPrompt(vlVMState* state);

// Program and system information
int CmdGetVersion(vlVMState* state);
int CmdGetApplicationInfo(vlVMState* state);
int CmdGetProgramInfo(vlVMState* state);
int CmdGetSystemInfo(vlVMState* state);
int CmdGetFileArgument(vlVMState* state);
int CmdGetCommandLine(vlVMState* state);
int CmdGetSystemCountry(vlVMState* state);
int CmdGetSystemLanguage(vlVMState* state);
int CmdGetMemoryInfo(vlVMState* state);
int CmdOpenURL(vlVMState* state);

// Clipboard
int CmdClearClipboard(vlVMState* state);
int CmdPeekClipboard(vlVMState* state);
int CmdGetClipboard(vlVMState* state);
int CmdSetClipboard(vlVMState* state);

// Plug-ins
int CmdLoadPlugin(vlVMState* state);
int CmdHavePlugin(vlVMState* state);
int CmdEnablePlugin(vlVMState* state);
int CmdDisablePlugin(vlVMState* state);
int CmdGetPlugins(vlVMState* state);
// Pushes the table GetPlugins returns: one entry per loaded plug-in.
void PushPluginTable(vlVMState* state);

// Requesters
int CmdSystemRequest(vlVMState* state);
int CmdStringRequest(vlVMState* state);
int CmdFileRequest(vlVMState* state);
int CmdPathRequest(vlVMState* state);
int CmdListRequest(vlVMState* state);
int CmdFontRequest(vlVMState* state);
int CmdColorRequest(vlVMState* state);
// Forgets the file and directory the requesters remember.
void ForgetRequesterPaths();

// Date and time
int CmdGetDate(vlVMState* state);
int CmdGetTime(vlVMState* state);
int CmdGetWeekday(vlVMState* state);
int CmdGetDateNum(vlVMState* state);
int CmdCompareDates(vlVMState* state);

// Stopwatch timers
int CmdStartTimer(vlVMState* state);
int CmdStopTimer(vlVMState* state);
int CmdPauseTimer(vlVMState* state);
int CmdResumeTimer(vlVMState* state);
int CmdResetTimer(vlVMState* state);
int CmdGetTimer(vlVMState* state);
int CmdWaitTimer(vlVMState* state);
void FreeScriptTimers(vlVMState* state);
// The head of the timer list (object type 53).
vlObjectNode** ScriptTimerList();

// Catalogs
int CmdOpenCatalog(vlVMState* state);
int CmdCloseCatalog(vlVMState* state);
int CmdGetCatalogString(vlVMState* state);
void CloseScriptCatalog();
