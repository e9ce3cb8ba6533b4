// The system library's program-flow, value, debugging, information and
// catalog commands. Depends on the VM (collector, trace switch, quit flag),
// the platform layer (sleep, locale, memory, desktop opener), the start-up
// records and the catalog reader.
#include <cstdio>
#include <cstring>

#include "display/layers/kept_blend.h"
#include "display/layers/layers.h"
#include "runtime/os.h"
#include "platform/programs.h"
#include "platform/timers.h"
#include "runtime/blocking.h"
#include "runtime/catalog.h"
#include "runtime/console.h"
#include "runtime/constant_ref.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "player/linked_data.h"
#include "runtime/script_call.h"
#include "runtime/script_version.h"
#include "runtime/startup_records.h"
#include "player/system_library.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/gc.h"
#include "vm/stack_api.h"

namespace {

vlCatalog* gScriptCatalog = nullptr;

void SetField(vlVMState* L, const char* key, const char* text) {
  vl::PushString(L, key);
  vl::PushString(L, text ? text : "");
  vl::RawSetTableValue(L, -3);
}

void SetField(vlVMState* L, const char* key, double n) {
  vl::PushString(L, key);
  vl::PushNumber(L, n);
  vl::RawSetTableValue(L, -3);
}

}  // namespace

// Program flow ----------------------------------------------------------------

int CmdEnd(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  if (L->g->host.quitFlag) *L->g->host.quitFlag = 1;
  return ERR_USERABORT;
}

int CmdWait(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  KeepLayerBlendThrough(L);  // changes no picture
  int32_t time = vl::CheckIntArg(L, 1);
  int32_t unit = vl::OptIntArg(L, 2, 2);
  if (time < 1) return 0;
  uint64_t ms = unit == 2 ? uint64_t(time) * 20 : unit == 0 ? uint64_t(time) * 1000 : uint64_t(time);
  // One sleep takes at most 32 bits of milliseconds; longer waits go in turns.
  while (ms > 0) {
    uint32_t part = ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
    int status = SleepPumpingEvents(L, part);
    if (status) return status;
    ms -= part;
  }
  return 0;
}

int CmdCollectGarbage(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  int32_t kb = vl::OptIntArg(L, 1, 0);
  vl::SetGCThresholdKB(L, kb < 0 ? 0 : kb);
  // Objects freed by the script but kept for layers that are gone since
  // (a freed BGPic takes its layers without looking at them) go now.
  FreeOrphanedObjects(L, 31);
  return 0;
}

int CmdGCInfo(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, vl::GetGCCountKB(L));
  vl::PushNumber(L, vl::GetGCThresholdKB(L));
  return 2;
}

int CmdLegacyControl(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const char* tag = vl::CheckStringArg(L, 1, nullptr);
  uint32_t value = vl::CheckIntArg(L, 2) != 0;
  if (!CompareNoCase(tag, "linebasedshapes")) {
    vlLegacyLineBasedShapes = value;
  } else if (!CompareNoCase(tag, "singlemusic")) {
    vlLegacySingleMusic = value;
  } else {
    SetErrorArgument(tag);
    return ERR_UNKNOWNTAG;
  }
  return 0;
}

int CmdDebugOutput(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  L->g->traceFlag = vl::CheckIntArg(L, 1) != 0;
  return 0;
}

// Values ----------------------------------------------------------------------

int CmdGetType(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int code;
  switch (vl::GetTypeAt(L, 1)) {
    case VL_TNIL: code = 0; break;
    case VL_TLIGHTUSERDATA: code = 9; break;
    case VL_TNUMBER: code = 2; break;
    case VL_TSTRING: code = 3; break;
    case VL_TTABLE: code = 4; break;
    case VL_TFUNCTION: code = 5; break;
    case VL_TUSERDATA: code = 8; break;
    case VL_TTHREAD: code = 10; break;
    default: code = -1; break;
  }
  vl::PushNumber(L, code);
  return 1;
}

int CmdIsNil(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::PushNumber(L, vl::GetTypeAt(L, 1) == VL_TNIL ? 1 : 0);
  return 1;
}

int CmdIIf(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  bool first;
  switch (vl::GetTypeAt(L, 1)) {
    case VL_TNIL: first = false; break;
    case VL_TNUMBER: first = vl::ToNumberAt(L, 1) != 0; break;
    case VL_TSTRING: first = vl::GetStringLengthAt(L, 1) != 0; break;
    default: return ERR_WRONGDTYPE;
  }
  vl::PushSlotCopy(L, first ? 2 : 3);
  return 1;
}

int CmdGetConstant(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* text = vl::CheckStringArg(L, 1, nullptr);
  const char* s = nullptr;
  double n = 0;
  int used = 0;
  int status = ParseConstantRef(L, text, &s, &n, &used);
  if (status) return status;
  if (s) vl::PushString(L, s);
  else vl::PushNumber(L, n);
  return 1;
}

namespace {

int MovePointer(vlVMState* L, int sign) {
  CheckArgs(L, 2, 2, 0, 0);
  auto p = reinterpret_cast<uintptr_t>(vl::CheckPointerArg(L, 1));
  int64_t n = vl::CheckIntArg(L, 2);
  vl::PushPointer(L, reinterpret_cast<void*>(p + static_cast<uintptr_t>(sign * n)));
  return 1;
}

}  // namespace

int CmdIncreasePointer(vlVMState* L) { return MovePointer(L, 1); }
int CmdDecreasePointer(vlVMState* L) { return MovePointer(L, -1); }

// Debugging -------------------------------------------------------------------

namespace {

int DebugPrintArgs(vlVMState* L, bool lineBreak) {
  CheckArgs(L, 1, 0, 0, 0);
  if (DebugOutputDisabled()) return 0;
  if (int status = JoinArgsAsText(L, vl::GetStackTop(L))) return status;
  size_t length = vl::GetStringLengthAt(L, -1);
  std::fwrite(vl::ToStringAt(L, -1), 1, length, stdout);
  if (lineBreak) std::fputc('\n', stdout);
  if (!lineBreak || vlConsoleForceFlush) std::fflush(stdout);
  return 0;
}

}  // namespace

int CmdDebugPrint(vlVMState* L) { return DebugPrintArgs(L, true); }
int CmdDebugPrintNR(vlVMState* L) { return DebugPrintArgs(L, false); }

int CmdDebugPrompt(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* prompt = vl::CheckStringArg(L, 1, nullptr);
  if (*prompt) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
  }
  constexpr size_t kLineSize = 16384;
  auto* line = static_cast<char*>(AllocMemory(kLineSize + 1, 1));
  if (!line) return ERR_MEM;
  // An end signal ends the wait with an empty line.
  if (WaitForInput(stdin, -1) < 0 || !std::fgets(line, kLineSize + 1, stdin)) line[0] = 0;
  size_t n = std::strlen(line);
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
  vl::PushBytes(L, line, n);
  FreeMemory(line);
  return 1;
}

// Program and system information ------------------------------------------------

int CmdGetVersion(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNewTable(L);
  SetField(L, "application", "VellamoraPlayer");
  SetField(L, "version", "6.1");
  SetField(L, "version_date", "05.03.16");
  SetField(L, "kernel", "6.1");
  SetField(L, "kernel_date", "05.03.16");
  SetField(L, "platform", "Linux");
  SetField(L, "bigendian", 0.0);
  SetField(L, "cpu", "i386");
  vl::PushString(L, "plugins");
  PushPluginTable(L);
  vl::RawSetTableValue(L, -3);
  return 1;
}

int CmdGetApplicationInfo(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNewTable(L);
  vlAppletInfo* applet = GetAppletRecord(L);
  const char* keys[kHeaderStringCount] = {"title", "version", "copyright", "author", "description"};
  for (int i = 0; i < kHeaderStringCount; ++i) SetField(L, keys[i], applet ? applet->header[i] : "");
  SetField(L, "identifier", applet ? applet->identifier : "");
  return 1;
}

int CmdGetProgramInfo(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlStartupRecord* startup = GetCmdArgsRecord(L);
  const char* program = startup ? startup->programPath : "";
  if (vlLinked) {
    vl::PushNumber(L, 2);
    vl::PushString(L, program);
    return 2;
  }
  vl::PushNumber(L, startup && startup->containerFound ? 1 : 0);
  vl::PushString(L, startup ? startup->scriptPath : "");
  vl::PushString(L, program);
  return 3;
}

int CmdGetSystemInfo(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNewTable(L);
  const char* names[2][2] = {{"username", "USER"}, {"userhome", "HOME"}};
  for (auto& pair : names) {
    char* value = GetEnvCopy(pair[1]);
    if (!value) continue;
    SetField(L, pair[0], value);
    FreeMemory(value);
  }
  return 1;
}

int CmdGetFileArgument(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlStartupRecord* startup = GetCmdArgsRecord(L);
  vl::PushString(L, startup && startup->givenName ? startup->givenName : "");
  return 1;
}

int CmdGetCommandLine(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNewTable(L);
  int n = 0;
  vlStartupRecord* startup = GetCmdArgsRecord(L);
  for (vlExtraArg* a = startup ? startup->extraArgs : nullptr; a; a = a->next, ++n) {
    vl::PushNewTable(L);
    SetField(L, "arg", a->name);
    SetField(L, "param", a->value);
    vl::RawSetTableIndex(L, -2, n);
  }
  vl::PushNumber(L, n);
  vl::PushNumber(L, 1);
  return 3;
}

int CmdGetSystemCountry(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, GetLocaleCountry());
  return 1;
}

int CmdGetSystemLanguage(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, GetLocaleLanguage());
  return 1;
}

int CmdGetMemoryInfo(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int32_t kind = vl::CheckIntArg(L, 1);
  if (kind != 0 && kind != 1) return ERR_WRONGUSAGE;
  vl::PushNumber(L, static_cast<double>(GetFreeMemory()) * 1024.0);
  return 1;
}

int CmdOpenURL(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return OpenWithDesktop(vl::CheckStringArg(L, 1, nullptr));
}

// Catalogs ----------------------------------------------------------------------

void CloseScriptCatalog() {
  FreeCatalog(gScriptCatalog);
  gScriptCatalog = nullptr;
}

int CmdOpenCatalog(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  CloseScriptCatalog();
  gScriptCatalog = LoadCatalog(name);
  return 0;
}

int CmdCloseCatalog(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  CloseScriptCatalog();
  return 0;
}

int CmdGetCatalogString(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t id = vl::CheckIntArg(L, 1);
  const char* def = vl::CheckStringArg(L, 2, nullptr);
  vl::PushString(L, FindCatalogString(gScriptCatalog, id, def));
  return 1;
}
