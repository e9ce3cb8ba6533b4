// Raising command errors in the VM, the script's error function, the
// current-function walk over the call stack and the requester text with
// source positions. Depends on the stack and debug interfaces, run-time
// options, the registries and the error store.
#include "runtime/error_vm.h"

#include <cstring>

#include "runtime/console.h"
#include "runtime/error_commands.h"
#include "runtime/error_format.h"
#include "runtime/errors.h"
#include "runtime/objects.h"
#include "runtime/run_state.h"
#include "runtime/runtime_options.h"
#include "runtime/script_version.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/debug_api.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"

namespace {

int gHandlerRef = -1;

// The spelling of a command in its library's table, or null.
const char* LibraryCommandName(const char* reported) {
  for (const vlLibraryNode* lib = FirstLibrary(); lib; lib = lib->next) {
    for (const vlCommand* c = lib->commands; c && c->name; ++c)
      if (CompareNoCase(c->name, reported) == 0) return c->name;
  }
  return nullptr;
}

bool NameKindKnown(const char* kind) {
  return !strcmp(kind, "global") || !strcmp(kind, "local") || !strcmp(kind, "method") ||
         !strcmp(kind, "field");
}

void HostStoreAndRaise(vlVMState* L, int code) { StoreAndRaiseError(L, code); }
int HostHasUserErrorHandler(vlVMState*) { return gHandlerRef >= 0; }
int HostErrorNesting(vlVMState*) { return vlOptions.callbackNesting; }
void HostNoteErrorPosition(vlVMState* L, int line) {
  if (TakeKeptErrorPosition()) return;
  SetCurrentErrorLine(line);
  FindCurrentFunctionName(L);
}
void HostSetErrorArgument(vlVMState*, const char* text) { SetErrorArgument(text); }
void HostSetErrorArgIndex(vlVMState*, int32_t index) { SetErrorArgIndex(index); }
void HostClearLastError(vlVMState*, vlNativeFn handler) {
  if (handler != CmdGetLastError) SetLastErrorCode(0);
}

}  // namespace

vlVMState* CheckArgCount(vlVMState* L, int min, int max, int versionMajor, int versionMinor) {
  int n = vl::GetStackTop(L);
  if (n < min) vl::RaiseVmError(L, ERR_MISSINGPARAMTR);
  if ((max >= 1 && n > max) || (min == 0 && max == 0 && n > 0)) vl::RaiseVmError(L, ERR_TOOMANYARGS);
  if (versionMajor && !CheckScriptVersion(versionMajor, versionMinor)) vl::RaiseVmError(L, ERR_OLDAPPLET);
  return L;
}

void StoreAndRaiseError(vlVMState* L, int code) {
  SetLastErrorCode(code);
  // The command that printed "Loading ..." failed: its line ends here, so
  // that what follows (the report, the script's own output) starts anew.
  if (vlProgressLineOpen) PrintFailed();
  if (!vlOptions.errorRaising) {
    TakeKeptErrorPosition();
    // The script goes on; only outside callbacks is the record forgotten.
    if (vlOptions.callbackNesting == 0) ResetCurrentFunction();
    return;
  }
  FindCurrentFunctionName(L);
  if (vlOptions.callbackNesting == 0 && L->g->host.quitFlag) *L->g->host.quitFlag = 1;
  vl::RaiseVmError(L, code);
}

int GetUserErrorHandler() { return gHandlerRef; }

void SetUserErrorHandler(vlVMState* L, int index) {
  if (gHandlerRef >= 0) vl::ReleaseRef(L, vl::kRegistryIndex, gHandlerRef);
  gHandlerRef = -1;
  if (index == 0) return;
  vl::PushSlotCopy(L, index);
  gHandlerRef = vl::CreateRef(L, vl::kRegistryIndex);
}

int CallUserErrorHandler(vlVMState* L, int code) {
  FindCurrentFunctionName(L);
  char text[kErrorTextSize];
  GetErrorText(code, text, sizeof text);
  int top = vl::GetStackTop(L);
  vl::RawGetTableIndex(L, vl::kRegistryIndex, gHandlerRef);
  vl::PushNumber(L, code);
  vl::PushString(L, text);
  vl::PushString(L, GetCurrentFunctionName());
  vl::PushNumber(L, GetCurrentErrorLine());
  ResetCurrentFunction();
  SetRuntimeOption(L, VL_OPT_CALLBACK_NESTING, 1, 0);
  int status = vl::CallProtected(L, 4, 0, 0);
  SetRuntimeOption(L, VL_OPT_CALLBACK_NESTING, 0, 0);
  vl::SetStackTop(L, top);
  return status;
}

int CallProtectedForPlugin(vlVMState* L, int nargs, int nresults, int handlerIndex) {
  char name[kFunctionNameSize];
  CopyText(name, sizeof name, GetCurrentFunctionName());
  const int32_t line = GetCurrentErrorLine();
  SetRuntimeOption(L, VL_OPT_CALLBACK_NESTING, 1, 0);
  struct Lower {
    vlVMState* L;
    ~Lower() { SetRuntimeOption(L, VL_OPT_CALLBACK_NESTING, 0, 0); }
  } lower{L};
  const int status = vl::CallProtected(L, nargs, nresults, handlerIndex);
  if (status != 0) {
    SetCurrentFunctionName(name);
    SetCurrentErrorLine(line);
  }
  return status;
}

void FindCurrentFunctionName(vlVMState* L) {
  bool sourceTaken = false;
  vlDebugInfo ar;
  for (int level = 0; vl::GetStackLevel(L, level, &ar); ++level) {
    vl::GetDebugInfo(L, "Sn", &ar);
    if (!sourceTaken && ar.source && ar.source[0] != '=' && ar.source[0] != '?') {
      SetErrorSourceFile(ar.source);
      sourceTaken = true;
    }
    if (!CurrentFunctionKnown()) {
      if (ar.what && !strcmp(ar.what, "C")) {
        const char* spelled = ar.name ? LibraryCommandName(ar.name) : nullptr;
        if (spelled || ar.name) SetCurrentFunctionName(spelled ? spelled : ar.name);
      } else if (!ar.namewhat || !ar.namewhat[0]) {
        SetCurrentFunctionName("<<unnamed>>");
      } else if (NameKindKnown(ar.namewhat)) {
        SetCurrentFunctionName(ar.name ? ar.name : "anonymous");
      }
    }
    if (GetCurrentErrorLine() == -1) {
      vlDebugInfo caller;
      if (vl::GetStackLevel(L, 1, &caller) && vl::GetDebugInfo(L, "l", &caller))
        SetCurrentErrorLine(caller.currentline);
    }
  }
}

void GetErrorInfo(vlVMState*, int code, char* dst, size_t size, const char** fileOut, int* lineOut) {
  GetErrorText(code, dst, size);
  bool known = vlOptions.sourcePositionsKnown != 0;
  if (fileOut) *fileOut = known ? GetErrorSourceFile() : nullptr;
  if (lineOut) *lineOut = known ? GetCurrentErrorLine() : 0;
}

void ShowErrorRequester(vlVMState* L, const char* message, int plain, int icon) {
  char text[kErrorTextSize + kSourceFileSize + kFunctionNameSize + 128];
  FormatErrorRequesterText(text, sizeof text, message, plain != 0, vlOptions.sourcePositionsKnown != 0);
  ShowErrorRequesterText(L, text, icon);
}

int DebugOutputDisabled() { return vlStartup.noDebug ? 1 : 0; }

void InstallErrorSystem(vlVMState* L) {
  vlVMHost& host = L->g->host;
  host.storeAndRaiseError = HostStoreAndRaise;
  host.hasUserErrorHandler = HostHasUserErrorHandler;
  host.callUserErrorHandler = CallUserErrorHandler;
  host.errorNesting = HostErrorNesting;
  host.noteErrorPosition = HostNoteErrorPosition;
  host.setErrorArgument = HostSetErrorArgument;
  host.setErrorArgIndex = HostSetErrorArgIndex;
  host.clearLastError = HostClearLastError;
  // -NODEBUG silences the debug printing commands, Assert and the trace.
  host.debugOutputDisabled = [](vlVMState*) { return DebugOutputDisabled(); };
  // The trace goes out as other console text does (flushed when forced).
  host.consoleOutput = [](vlVMState*, const char* text) { PrintConsole("%s", text); };
}

void FreeErrorSystem(vlVMState* L) {
  if (gHandlerRef >= 0 && L) vl::ReleaseRef(L, vl::kRegistryIndex, gHandlerRef);
  gHandlerRef = -1;
  FreeUserErrors();
}
