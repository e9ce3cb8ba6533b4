// Opening the system command library: its command table (the error and
// object commands included), its constants with every ERR_ code, the table
// walk bound as "next", and the free-all routine. Depends on the command
// registration of the aux library and the object and library registries.
#include "player/system_library.h"

#include <string>

#include "platform/event_pump.h"
#include "runtime/error_commands.h"
#include "runtime/error_vm.h"
#include "runtime/messages.h"
#include "player/object_commands.h"
#include "runtime/objects.h"
#include "runtime/prefs.h"
#include "runtime/script_version.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

const vlCommand kSystemCommands[] = {
    // Program flow
    {"End", CmdEnd},
    {"Wait", CmdWait},
    {"EnableLineHook", CmdEnableLineHook},
    {"DisableLineHook", CmdDisableLineHook},
    {"CollectGarbage", CmdCollectGarbage},
    {"GCInfo", CmdGCInfo},
    {"LegacyControl", CmdLegacyControl},
    {"DebugOutput", CmdDebugOutput},
    // Tables
    {"NextItem", CmdNextItem},
    {"IsTableEmpty", CmdIsTableEmpty},
    {"TableItems", CmdTableItems},
    {"HaveItem", CmdHaveItem},
    {"RawGet", CmdRawGet},
    {"RawSet", CmdRawSet},
    {"RawEqual", CmdRawEqual},
    {"GetMetaTable", CmdGetMetaTable},
    {"SetMetaTable", CmdSetMetaTable},
    {"Pairs", CmdPairs},
    {"IPairs", CmdIPairs},
    {"ForEach", CmdForEach},
    {"ForEachI", CmdForEachI},
    {"CopyTable", CmdCopyTable},
    {"Sort", CmdSort},
    {"Unpack", CmdUnpack},
    {"InsertItem", CmdInsertItem},
    {"RemoveItem", CmdRemoveItem},
    {"ListItems", CmdListItems},
    {"Concat", CmdConcat},
    // Values
    {"GetType", CmdGetType},
    {"IsNil", CmdIsNil},
    {"IIf", CmdIIf},
    {"GetConstant", CmdGetConstant},
    {"IncreasePointer", CmdIncreasePointer},
    {"DecreasePointer", CmdDecreasePointer},
    // Debugging
    {"DebugPrint", CmdDebugPrint},
    {"DebugStr", CmdDebugPrint},
    {"DebugVal", CmdDebugPrint},
    {"DebugPrintNR", CmdDebugPrintNR},
    {"DebugPrompt", CmdDebugPrompt},
    {"Assert", CmdAssert},
    // Errors
    {"Error", CmdError},
    {"GetLastError", CmdGetLastError},
    {"GetErrorName", CmdGetErrorName},
    {"RaiseOnError", CmdRaiseOnError},
    {"ExitOnError", CmdExitOnError},
    // Objects
    {"HaveObject", CmdHaveObject},
    {"GetObjectType", CmdGetObjectType},
    {"GetObjects", CmdGetObjects},
    {"SetObjectData", CmdSetObjectData},
    {"GetObjectData", CmdGetObjectData},
    {"HaveObjectData", CmdHaveObjectData},
    {"ClearObjectData", CmdClearObjectData},
    {"CopyObjectData", CmdCopyObjectData},
    // Program and system
    {"GetVersion", CmdGetVersion},
    {"GetApplicationInfo", CmdGetApplicationInfo},
    {"GetProgramInfo", CmdGetProgramInfo},
    {"GetSystemInfo", CmdGetSystemInfo},
    {"GetFileArgument", CmdGetFileArgument},
    {"GetCommandLine", CmdGetCommandLine},
    {"GetSystemCountry", CmdGetSystemCountry},
    {"GetSystemLanguage", CmdGetSystemLanguage},
    {"GetMemoryInfo", CmdGetMemoryInfo},
    // Plug-ins
    {"LoadPlugin", CmdLoadPlugin},
    {"HavePlugin", CmdHavePlugin},
    {"EnablePlugin", CmdEnablePlugin},
    {"DisablePlugin", CmdDisablePlugin},
    {"GetPlugins", CmdGetPlugins},
    // Requesters
    {"SystemRequest", CmdSystemRequest},
    {"StringRequest", CmdStringRequest},
    {"FileRequest", CmdFileRequest},
    {"PathRequest", CmdPathRequest},
    {"ListRequest", CmdListRequest},
    {"FontRequest", CmdFontRequest},
    {"ColorRequest", CmdColorRequest},
    // Clipboard and desktop
    {"ClearClipboard", CmdClearClipboard},
    {"PeekClipboard", CmdPeekClipboard},
    {"GetClipboard", CmdGetClipboard},
    {"SetClipboard", CmdSetClipboard},
    {"OpenURL", CmdOpenURL},
    // Date and time
    {"GetDate", CmdGetDate},
    {"GetTime", CmdGetTime},
    {"GetWeekday", CmdGetWeekday},
    {"GetDateNum", CmdGetDateNum},
    {"CompareDates", CmdCompareDates},
    // Timers
    {"StartTimer", CmdStartTimer},
    {"StopTimer", CmdStopTimer},
    {"PauseTimer", CmdPauseTimer},
    {"ResumeTimer", CmdResumeTimer},
    {"ResetTimer", CmdResetTimer},
    {"GetTimer", CmdGetTimer},
    {"WaitTimer", CmdWaitTimer},
    // Catalogs
    {"OpenCatalog", CmdOpenCatalog},
    {"CloseCatalog", CmdCloseCatalog},
    {"GetCatalogString", CmdGetCatalogString},
    // Preferences
    {"SavePrefs", CmdSavePrefs},
    {"LoadPrefs", CmdLoadPrefs},
    {"DeletePrefs", CmdDeletePrefs},
    {nullptr, nullptr}};

constexpr char kVellamoraMark[] = "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
static_assert(sizeof kVellamoraMark == 46);

const vlConstant kSystemConstants[] = {
    {"SECONDS", nullptr, 0}, {"MILLISECONDS", nullptr, 1}, {"TICKS", nullptr, 2},
    {"DATEYEAR", nullptr, 0}, {"DATEMONTH", nullptr, 1}, {"DATEDAY", nullptr, 2}, {"DATETIME", nullptr, 3},
    {"CHIPMEMORY", nullptr, 0}, {"FASTMEMORY", nullptr, 1},
    {"NIL", nullptr, 0}, {"STRING", nullptr, 3}, {"NUMBER", nullptr, 2}, {"TABLE", nullptr, 4},
    {"FUNCTION", nullptr, 5}, {"USERDATA", nullptr, 8}, {"LIGHTUSERDATA", nullptr, 9},
    {"THREAD", nullptr, 10}, {"LONG", nullptr, 1}, {"INTEGER", nullptr, 1}, {"FLOAT", nullptr, 11},
    {"DOUBLE", nullptr, 12}, {"BYTE", nullptr, 7}, {"SHORT", nullptr, 6}, {"WORD", nullptr, 6},
    {"REQ_NORMAL", nullptr, 0}, {"REQ_MULTISELECT", nullptr, 1}, {"REQ_SAVEMODE", nullptr, 2},
    {"REQ_HIDEICONS", nullptr, 65536},
    {"PRGTYPE_SCRIPT", nullptr, 0}, {"PRGTYPE_APPLET", nullptr, 1}, {"PRGTYPE_PROGRAM", nullptr, 2},
    {"REQICON_NONE", nullptr, 0}, {"REQICON_INFORMATION", nullptr, 1}, {"REQICON_ERROR", nullptr, 2},
    {"REQICON_WARNING", nullptr, 3}, {"REQICON_QUESTION", nullptr, 4},
    {"CLIPBOARD_EMPTY", nullptr, 0}, {"CLIPBOARD_TEXT", nullptr, 1}, {"CLIPBOARD_IMAGE", nullptr, 2},
    {"CLIPBOARD_SOUND", nullptr, 3}, {"CLIPBOARD_UNKNOWN", nullptr, 4},
    {"AMIGAICON_DISK", nullptr, 1}, {"AMIGAICON_DRAWER", nullptr, 2}, {"AMIGAICON_TOOL", nullptr, 3},
    {"AMIGAICON_PROJECT", nullptr, 4},
    {"AMIGAICON_NONE", "::none", 0}, {"AMIGAICON_SHOW", "::show", 0}, {"AMIGAICON_HIDE", "::hide", 0},
    {"AMIGAICON_SETTITLE", "::title", 0}, {"AMIGAICON_SETPOSITION", "::setpos", 0},
    {"HKEY_CLASSES_ROOT", nullptr, 0}, {"HKEY_CURRENT_USER", nullptr, 4},
    {"VELLAMORA", kVellamoraMark, 0},
    {"LANGUAGE_ENGLISH", nullptr, 0}, {"LANGUAGE_GERMAN", nullptr, 1}, {"LANGUAGE_DUTCH", nullptr, 2},
    {"LANGUAGE_ITALIAN", nullptr, 3}, {"LANGUAGE_FRENCH", nullptr, 4}, {"LANGUAGE_SPANISH", nullptr, 5},
    {"LANGUAGE_PORTUGUESE", nullptr, 6}, {"LANGUAGE_SWEDISH", nullptr, 7}, {"LANGUAGE_DANISH", nullptr, 8},
    {"LANGUAGE_FINNISH", nullptr, 9}, {"LANGUAGE_NORWEGIAN", nullptr, 10}, {"LANGUAGE_POLISH", nullptr, 11},
    {"LANGUAGE_HUNGARIAN", nullptr, 12}, {"LANGUAGE_GREEK", nullptr, 13}, {"LANGUAGE_CZECH", nullptr, 14},
    {"LANGUAGE_TURKISH", nullptr, 15}, {"LANGUAGE_CROATIAN", nullptr, 16}, {"LANGUAGE_RUSSIAN", nullptr, 17},
    {"LANGUAGE_UNKNOWN", nullptr, 18},
    {"COUNTRY_UK", nullptr, 0}, {"COUNTRY_USA", nullptr, 1}, {"COUNTRY_AUSTRALIA", nullptr, 2},
    {"COUNTRY_BELGIUM", nullptr, 3}, {"COUNTRY_BULGARIA", nullptr, 4}, {"COUNTRY_BRAZIL", nullptr, 5},
    {"COUNTRY_CANADA", nullptr, 6}, {"COUNTRY_CZECHREPUBLIC", nullptr, 7}, {"COUNTRY_DENMARK", nullptr, 8},
    {"COUNTRY_GERMANY", nullptr, 9}, {"COUNTRY_SPAIN", nullptr, 10}, {"COUNTRY_FRANCE", nullptr, 11},
    {"COUNTRY_GREECE", nullptr, 12}, {"COUNTRY_ITALY", nullptr, 13}, {"COUNTRY_LIECHTENSTEIN", nullptr, 14},
    {"COUNTRY_LITHUANIA", nullptr, 15}, {"COUNTRY_LUXEMBOURG", nullptr, 16}, {"COUNTRY_HUNGARY", nullptr, 17},
    {"COUNTRY_MALTA", nullptr, 18}, {"COUNTRY_MONACO", nullptr, 19}, {"COUNTRY_NETHERLANDS", nullptr, 20},
    {"COUNTRY_NORWAY", nullptr, 21}, {"COUNTRY_POLAND", nullptr, 22}, {"COUNTRY_PORTUGAL", nullptr, 23},
    {"COUNTRY_ROMANIA", nullptr, 24}, {"COUNTRY_RUSSIA", nullptr, 25}, {"COUNTRY_SANMARINO", nullptr, 26},
    {"COUNTRY_SLOVAKIA", nullptr, 27}, {"COUNTRY_SLOVENIA", nullptr, 28}, {"COUNTRY_SWITZERLAND", nullptr, 29},
    {"COUNTRY_FINLAND", nullptr, 30}, {"COUNTRY_SWEDEN", nullptr, 31}, {"COUNTRY_TURKEY", nullptr, 32},
    {"COUNTRY_IRELAND", nullptr, 33}, {"COUNTRY_AUSTRIA", nullptr, 34}, {"COUNTRY_ICELAND", nullptr, 35},
    {"COUNTRY_ANDORRA", nullptr, 36}, {"COUNTRY_UKRAINE", nullptr, 37}, {"COUNTRY_UNKNOWN", nullptr, 38},
    {"PLUGINCAPS_CONVERT", nullptr, 1}, {"PLUGINCAPS_LIBRARY", nullptr, 2}, {"PLUGINCAPS_IMAGE", nullptr, 4},
    {"PLUGINCAPS_ANIM", nullptr, 8}, {"PLUGINCAPS_SOUND", nullptr, 16}, {"PLUGINCAPS_VECTOR", nullptr, 32},
    {"PLUGINCAPS_VIDEO", nullptr, 64}, {"PLUGINCAPS_SAVEIMAGE", nullptr, 128},
    {"PLUGINCAPS_SAVEANIM", nullptr, 256}, {"PLUGINCAPS_SAVESAMPLE", nullptr, 512},
    {"PLUGINCAPS_REQUIRE", nullptr, 1024}, {"PLUGINCAPS_DISPLAYADAPTER", nullptr, 2048},
    {"PLUGINCAPS_TIMERADAPTER", nullptr, 4096}, {"PLUGINCAPS_REQUESTERADAPTER", nullptr, 8192},
    {"PLUGINCAPS_FILEADAPTER", nullptr, 16384}, {"PLUGINCAPS_DIRADAPTER", nullptr, 32768},
    {"PLUGINCAPS_AUDIOADAPTER", nullptr, 65536},
    {"FILETYPE_IMAGE", nullptr, 0}, {"FILETYPE_ANIM", nullptr, 1}, {"FILETYPE_SOUND", nullptr, 2},
    {"FILETYPE_VIDEO", nullptr, 3},
    {"FILETYPEFLAGS_SAVE", nullptr, 1}, {"FILETYPEFLAGS_ALPHA", nullptr, 2},
    {"FILETYPEFLAGS_QUALITY", nullptr, 4}, {"FILETYPEFLAGS_FPS", nullptr, 8},
    {nullptr, nullptr, 0}};

}  // namespace

int OpenSystemLibrary(vlVMState* L) {
  // Commands are globals: register them into the globals table.
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kSystemCommands, 0);
  // The generic loop steps tables through the global "next".
  vl::PushString(L, "next");
  vl::PushNativeClosure(L, CmdNextItem, 0);
  vl::RawSetTableValue(L, vl::kGlobalsIndex);
  if (int status = RegisterLibrary(kSystemCommands, "system")) return status;
  vl::RegisterConstants(L, kSystemConstants, 0);
  vl::RegisterConstants(L, ErrorConstants().data(), 0);
  if (int status = RegisterObjectList(ScriptTimerList())) return status;
  vlLegacySingleMusic = 1;
  return 0;
}

void FreeSystemLibrary(vlVMState* L) {
  FreeScriptTimers(L);
  CloseScriptCatalog();
  ForgetRequesterPaths();
  SetUserErrorHandler(L, 0);
}
