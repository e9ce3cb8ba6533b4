// The player's instance of the plug-in VM table: each slot points at the
// stack-interface routine of its name. Depends on the stack interface, the
// call path and the collector.
#include "vm/plugin_vm.h"

#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/gc.h"
#include "vm/protect.h"
#include "vm/stack_api.h"

namespace {

// Services that read objects and file names belong to the runtime's
// plug-in service table; until it provides them they report an internal
// error instead of answering wrongly.
int RaiseErrorPending(vlVMState* L, int) { vl::RaiseVmError(L, ERR_INTERNAL); }
int ObjectIdPending(vlVMState* L, int, vlObjectId*) { vl::RaiseVmError(L, ERR_INTERNAL); }
const char* FileNamePending(vlVMState* L, int) { vl::RaiseVmError(L, ERR_INTERNAL); }

// Filled at compile time; the runtime installs its four services once,
// before any plug-in is loaded.
constinit vlPluginVMTable kTable = {
    vl::GetStackTop,
    vl::SetStackTop,
    vl::PushSlotCopy,
    vl::RemoveSlot,
    vl::InsertTopAt,
    vl::ReplaceSlotWithTop,
    vl::IsNativeFunctionAt,
    vl::IsNumberAt,
    vl::IsStringAt,
    vl::IsUserdataAt,
    vl::GetTypeAt,
    vl::ValuesEqual,
    vl::ValuesRawEqual,
    vl::ValueLessThan,
    vl::ToNumberAt,
    vl::ToStringAt,
    vl::GetStringLengthAt,
    vl::ToNativeFunctionAt,
    vl::ToUserdataAt,
    vl::ToPointerAt,
    vl::PushNil,
    vl::PushNumber,
    vl::PushBytes,
    vl::PushString,
    vl::PushPointer,
    vl::PushNativeClosure,
    vl::GetTableValue,
    vl::RawGetTableValue,
    vl::RawGetTableIndex,
    vl::PushNewTable,
    vl::PushFunctionGlobals,
    vl::SetTableValue,
    vl::RawSetTableValue,
    vl::RawSetTableIndex,
    vl::SetFunctionGlobals,
    vl::CallProtected,
    vl::NextTableEntry,
    vl::ConcatValues,
    vl::PushNativeUpvalues,
    vl::GetUpvalueAt,
    vl::SetUpvalueAt,
    vl::PushNewUserdata,
    vl::SetMetatableAt,
    vl::PushMetatableAt,
    RaiseErrorPending,
    vl::CheckStringArg,
    vl::OptStringArg,
    vl::CheckNumberArg,
    vl::OptNumberArg,
    vl::CheckIntArg,
    vl::OptIntArg,
    vl::CheckTableArg,
    vl::CheckFunctionArg,
    vl::CheckArgType,
    vl::CreateRef,
    vl::ReleaseRef,
    ObjectIdPending,
    vl::NewNamedMetatable,
    vl::PushNamedMetatable,
    vl::ToNamedUserdataAt,
    vl::InitStrBuf,
    vl::PrepStrBuf,
    vl::AddBytesToStrBuf,
    vl::AddStringToStrBuf,
    vl::AddTopToStrBuf,
    vl::PushStrBufResult,
    vl::FindNameInList,
    vl::EnsureStackSpace,
    FileNamePending,
    ObjectIdPending,
    vl::PushBoolean,
    vl::ToBooleanAt,
    vl::PushNewSizedTable,
    vl::GetTypeName,
    vl::CallFunction,
    vl::GetGCThresholdKB,
    vl::GetGCCountKB,
    vl::SetGCThresholdKB,
};

}  // namespace

const vlPluginVMTable* GetPluginVMTable() { return &kTable; }

void InstallPluginVMServices(int (*raiseError)(vlVMState*, int),
                             int (*objectIdArg)(vlVMState*, int, vlObjectId*),
                             const char* (*fileNameArg)(vlVMState*, int),
                             int (*objectIdArgOpt)(vlVMState*, int, vlObjectId*),
                             int (*callProtected)(vlVMState*, int, int, int)) {
  kTable.CallProtected = callProtected;
  kTable.RaiseErrorSvc = raiseError;
  kTable.GetObjectIDArgSvc = objectIdArg;
  kTable.GetFileNameArgSvc = fileNameArg;
  kTable.GetObjectIDArgOptSvc = objectIdArgOpt;
}
