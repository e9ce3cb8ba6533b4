// Script commands of error control. Depends on the error store, the VM
// side of the error system, run-time options and the argument readers.
#include "runtime/error_commands.h"

#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/runtime_options.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

int CmdGetLastError(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, GetLastErrorCode());
  return 1;
}

int CmdGetErrorName(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  char text[kErrorTextSize];
  GetErrorText(vl::CheckIntArg(L, 1), text, sizeof text);
  vl::PushString(L, text);
  return 1;
}

// The script fails with exactly this text: 1239 shows the argument as it is.
int CmdError(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  SetErrorArgument(vl::CheckStringArg(L, 1, nullptr));
  return ERR_ERRORCALLED;
}

int CmdRaiseOnError(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (!vlOptions.errorRaising) return ERR_WRONGUSAGE;
  if (vl::GetTypeAt(L, 1) == VL_TNIL) {
    SetUserErrorHandler(L, 0);
    return 0;
  }
  vl::CheckFunctionArg(L, 1);
  SetUserErrorHandler(L, 1);
  return 0;
}

int CmdExitOnError(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  bool flag = vl::CheckIntArg(L, 1) != 0;
  if (!flag && GetUserErrorHandler() >= 0) return ERR_WRONGUSAGE;
  SetRuntimeOption(L, VL_OPT_ERROR_RAISING, flag ? 1u : 0u, 0);
  return 0;
}

int CmdAssert(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (DebugOutputDisabled()) return 0;
  int type = vl::GetTypeAt(L, 1);
  if (type == VL_TNIL || (type == VL_TNUMBER && vl::ToNumberAt(L, 1) == 0)) return ERR_ASSERTFAILED;
  vl::PushSlotCopy(L, 1);
  return 1;
}
