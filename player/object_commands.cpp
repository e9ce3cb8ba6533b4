// Script commands on objects of any kind and their user data. Depends on
// the object registry, object data, the layer look-up and the argument
// readers.
#include "player/object_commands.h"

#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/layer_lookup.h"
#include "runtime/object_data.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// The user-data list of the object named by the type and id arguments at
// typeIndex and typeIndex + 1: 0, or 1078/1081 for layers, 1041 otherwise.
int FindDataList(vlVMState* L, int typeIndex, vlObjectData*** list) {
  auto type = static_cast<uint32_t>(vl::CheckIntArg(L, typeIndex));
  if (type == VL_OBJ_LAYER) return GetLayerDataList(L, typeIndex + 1, list);
  vlObjectId id;
  GetObjectIDArg(&id, L, typeIndex + 1);
  vlObjectNode* node = FindObjectByID(type, id);
  if (!node) return ERR_FINDARRAY;
  *list = &node->data;
  return 0;
}

// The key argument: 1055 when empty.
int ReadKey(vlVMState* L, int index, const char** key) {
  size_t len = 0;
  *key = vl::CheckStringArg(L, index, &len);
  return len == 0 ? ERR_WRONGUSAGE : 0;
}

int MissingKey(const char* key) {
  SetErrorArgument(key);
  return ERR_FINDOBJECTDATA;
}

struct Listing {
  vlVMState* L;
  uint32_t type;
  int count;
};

}  // namespace

int CmdHaveObject(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  auto type = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  vlObjectId id;
  GetObjectIDArg(&id, L, 2);
  vl::PushNumber(L, FindObjectByID(type, id) ? 1 : 0);
  return 1;
}

int CmdGetObjectType(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  // Only a light userdata can be a handle; it is compared, never followed.
  void* handle = vl::GetTypeAt(L, 1) == VL_TLIGHTUSERDATA ? vl::ToUserdataAt(L, 1) : nullptr;
  vl::PushNumber(L, FindObjectByHandle(handle));
  return 1;
}

int CmdGetObjects(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  Listing listing{L, static_cast<uint32_t>(vl::CheckIntArg(L, 1)), 0};
  vl::PushNewTable(L);
  ScanObjects(
      [](vlObjectNode* node, void* ud) {
        auto* l = static_cast<Listing*>(ud);
        if (node->type == l->type) {
          PushObjectID(l->L, {node->idNumber, node->idHandle});
          vl::RawSetTableIndex(l->L, -2, l->count++);
        }
        return false;
      },
      &listing);
  vl::PushNumber(L, listing.count);
  return 2;
}

int CmdSetObjectData(vlVMState* L) {
  CheckArgs(L, 4, 4, 0, 0);
  vlObjectData** list = nullptr;
  const char* key = nullptr;
  if (int err = FindDataList(L, 1, &list)) return err;
  if (int err = ReadKey(L, 3, &key)) return err;
  return SetObjectDataItem(L, key, 4, list);
}

int CmdGetObjectData(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  vlObjectData** list = nullptr;
  const char* key = nullptr;
  if (int err = FindDataList(L, 1, &list)) return err;
  if (int err = ReadKey(L, 3, &key)) return err;
  vlObjectData* item = FindObjectData(*list, key);
  if (!item) return MissingKey(key);
  PushObjectDataValue(L, item);
  return 1;
}

int CmdHaveObjectData(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  vlObjectData** list = nullptr;
  const char* key = nullptr;
  if (int err = FindDataList(L, 1, &list)) return err;
  if (int err = ReadKey(L, 3, &key)) return err;
  vl::PushNumber(L, FindObjectData(*list, key) ? 1 : 0);
  return 1;
}

int CmdClearObjectData(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlObjectData** list = nullptr;
  if (int err = FindDataList(L, 1, &list)) return err;
  if (vl::GetStackTop(L) < 3) {
    FreeObjectDataList(L, list);
    return 0;
  }
  const char* key = nullptr;
  if (int err = ReadKey(L, 3, &key)) return err;
  return RemoveObjectDataItem(L, list, key) ? 0 : MissingKey(key);
}

int CmdCopyObjectData(vlVMState* L) {
  CheckArgs(L, 4, 5, 0, 0);
  vlObjectData** src = nullptr;
  vlObjectData** dst = nullptr;
  if (int err = FindDataList(L, 1, &src)) return err;
  if (int err = FindDataList(L, 3, &dst)) return err;
  bool overwrite = vl::OptIntArg(L, 5, 1) != 0;
  for (vlObjectData* item = *src; item; item = item->next) {
    if (!overwrite && FindObjectData(*dst, item->key)) continue;
    PushObjectDataValue(L, item);
    int err = SetObjectDataItem(L, item->key, -1, dst);
    vl::SetStackTop(L, -2);
    if (err) return err;
  }
  return 0;
}
