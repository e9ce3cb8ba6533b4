// The VM table handed to plug-ins: 78 entry points of the stack interface in
// a fixed order. Plug-ins are built separately and index this table, so the
// order below is frozen: slots are only ever appended, never moved.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlVMState;
struct vlStrBuf;   // string builder, defined with the auxiliary library
struct vlObjectId; // {number, handle} record of an object identifier
typedef int (*vlNativeFn)(vlVMState* state);

// X(slot, name, result, parameters)
#define VL_PLUGIN_VM_SLOTS(X)                                                   \
  X(0, GetStackTop, int, (vlVMState*))                                          \
  X(1, SetStackTop, void, (vlVMState*, int))                                    \
  X(2, PushSlotCopy, void, (vlVMState*, int))                                   \
  X(3, RemoveSlot, void, (vlVMState*, int))                                     \
  X(4, InsertTopAt, void, (vlVMState*, int))                                    \
  X(5, ReplaceSlotWithTop, void, (vlVMState*, int))                             \
  X(6, IsNativeFunctionAt, int, (vlVMState*, int))                              \
  X(7, IsNumberAt, int, (vlVMState*, int))                                      \
  X(8, IsStringAt, int, (vlVMState*, int))                                      \
  X(9, IsUserdataAt, int, (vlVMState*, int))                                    \
  X(10, GetTypeAt, int, (vlVMState*, int))                                      \
  X(11, ValuesEqual, int, (vlVMState*, int, int))                               \
  X(12, ValuesRawEqual, int, (vlVMState*, int, int))                            \
  X(13, ValueLessThan, int, (vlVMState*, int, int, int))                        \
  X(14, ToNumberAt, double, (vlVMState*, int))                                  \
  X(15, ToStringAt, const char*, (vlVMState*, int))                             \
  X(16, GetStringLengthAt, size_t, (vlVMState*, int))                           \
  X(17, ToNativeFunctionAt, vlNativeFn, (vlVMState*, int))                      \
  X(18, ToUserdataAt, void*, (vlVMState*, int))                                 \
  X(19, ToPointerAt, const void*, (vlVMState*, int))                            \
  X(20, PushNil, void, (vlVMState*))                                            \
  X(21, PushNumber, void, (vlVMState*, double))                                 \
  X(22, PushBytes, void, (vlVMState*, const char*, size_t))                     \
  X(23, PushString, void, (vlVMState*, const char*))                            \
  X(24, PushPointer, void, (vlVMState*, void*))                                 \
  X(25, PushNativeClosure, void, (vlVMState*, vlNativeFn, int))                 \
  X(26, GetTableValue, void, (vlVMState*, int))                                 \
  X(27, RawGetTableValue, void, (vlVMState*, int))                              \
  X(28, RawGetTableIndex, void, (vlVMState*, int, int))                         \
  X(29, PushNewTable, void, (vlVMState*))                                       \
  X(30, PushFunctionGlobals, void, (vlVMState*, int))                           \
  X(31, SetTableValue, void, (vlVMState*, int))                                 \
  X(32, RawSetTableValue, void, (vlVMState*, int))                              \
  X(33, RawSetTableIndex, void, (vlVMState*, int, int))                         \
  X(34, SetFunctionGlobals, int, (vlVMState*, int))                             \
  X(35, CallProtected, int, (vlVMState*, int, int, int))                        \
  X(36, NextTableEntry, int, (vlVMState*, int))                                 \
  X(37, ConcatValues, void, (vlVMState*, int))                                  \
  X(38, PushNativeUpvalues, int, (vlVMState*))                                  \
  X(39, GetUpvalueAt, const char*, (vlVMState*, int, int))                      \
  X(40, SetUpvalueAt, const char*, (vlVMState*, int, int))                      \
  X(41, PushNewUserdata, void*, (vlVMState*, size_t))                           \
  X(42, SetMetatableAt, int, (vlVMState*, int))                                 \
  X(43, PushMetatableAt, int, (vlVMState*, int))                                \
  X(44, RaiseErrorSvc, int, (vlVMState*, int))                                  \
  X(45, CheckStringArg, const char*, (vlVMState*, int, size_t*))                \
  X(46, OptStringArg, const char*, (vlVMState*, int, const char*, size_t*))     \
  X(47, CheckNumberArg, double, (vlVMState*, int))                              \
  X(48, OptNumberArg, double, (vlVMState*, int, double))                        \
  X(49, CheckIntArg, int32_t, (vlVMState*, int))                                \
  X(50, OptIntArg, int32_t, (vlVMState*, int, int32_t))                         \
  X(51, CheckTableArg, void, (vlVMState*, int))                                 \
  X(52, CheckFunctionArg, void, (vlVMState*, int))                              \
  X(53, CheckArgType, void, (vlVMState*, int, int))                             \
  X(54, CreateRef, int, (vlVMState*, int))                                      \
  X(55, ReleaseRef, void, (vlVMState*, int, int))                               \
  X(56, GetObjectIDArgSvc, int, (vlVMState*, int, vlObjectId*))                 \
  X(57, NewNamedMetatable, int, (vlVMState*, const char*))                      \
  X(58, PushNamedMetatable, void, (vlVMState*, const char*))                    \
  X(59, ToNamedUserdataAt, void*, (vlVMState*, int, const char*))               \
  X(60, InitStrBuf, void, (vlVMState*, vlStrBuf*))                              \
  X(61, PrepStrBuf, char*, (vlStrBuf*))                                         \
  X(62, AddBytesToStrBuf, void, (vlStrBuf*, const char*, size_t))               \
  X(63, AddStringToStrBuf, void, (vlStrBuf*, const char*))                      \
  X(64, AddTopToStrBuf, void, (vlStrBuf*))                                      \
  X(65, PushStrBufResult, void, (vlStrBuf*))                                    \
  X(66, FindNameInList, int, (const char*, const char* const*))                 \
  X(67, EnsureStackSpace, int, (vlVMState*, int))                               \
  X(68, GetFileNameArgSvc, const char*, (vlVMState*, int))                      \
  X(69, GetObjectIDArgOptSvc, int, (vlVMState*, int, vlObjectId*))              \
  X(70, PushBoolean, void, (vlVMState*, int))                                   \
  X(71, ToBooleanAt, int, (vlVMState*, int))                                    \
  X(72, PushNewSizedTable, void, (vlVMState*, int, int))                        \
  X(73, GetTypeName, const char*, (vlVMState*, int))                            \
  X(74, CallFunction, void, (vlVMState*, int, int))                             \
  X(75, GetGCThresholdKB, int, (vlVMState*))                                    \
  X(76, GetGCCountKB, int, (vlVMState*))                                        \
  X(77, SetGCThresholdKB, void, (vlVMState*, int))

// The table itself: one function pointer per slot, in slot order.
struct vlPluginVMTable {
#define VL_PLUGIN_VM_FIELD(slot, name, result, params) result(*name) params;
  VL_PLUGIN_VM_SLOTS(VL_PLUGIN_VM_FIELD)
#undef VL_PLUGIN_VM_FIELD
};

constexpr int kPluginVMSlotCount = 78;
static_assert(sizeof(void*) == 8, "plug-in tables are laid out for 64-bit pointers");
static_assert(sizeof(vlPluginVMTable) == kPluginVMSlotCount * sizeof(void*),
              "the plug-in VM table has exactly 78 slots");
#define VL_PLUGIN_VM_OFFSET(slot, name, result, params)                \
  static_assert(offsetof(vlPluginVMTable, name) == (slot) * sizeof(void*), \
                "plug-in VM slot " #name " moved");
VL_PLUGIN_VM_SLOTS(VL_PLUGIN_VM_OFFSET)
#undef VL_PLUGIN_VM_OFFSET

// The player's one instance of the table.
const vlPluginVMTable* GetPluginVMTable();

// The slots that read objects and file names or raise with the runtime's
// error record belong to the runtime, which installs them here; until then
// they raise 1066.
void InstallPluginVMServices(int (*raiseError)(vlVMState*, int),
                             int (*objectIdArg)(vlVMState*, int, vlObjectId*),
                             const char* (*fileNameArg)(vlVMState*, int),
                             int (*objectIdArgOpt)(vlVMState*, int, vlObjectId*));
