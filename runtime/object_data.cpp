// Object identifiers on the stack and per-object user data. Values are held
// through references in the VM registry. Depends on the stack interface,
// the auxiliary library's references and readers and the folding compare.
#include "runtime/object_data.h"

#include <cstdlib>
#include <cstring>

#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// A new reference to the value at index (nil gives -1).
int RefValue(vlVMState* L, int index) {
  vl::PushSlotCopy(L, index);
  return vl::CreateRef(L, vl::kRegistryIndex);
}

vlObjectData* NewItem(const char* key, int ref) {
  size_t len = strlen(key);
  auto* item = static_cast<vlObjectData*>(malloc(sizeof(vlObjectData) + len + 1));
  if (!item) return nullptr;
  char* copy = reinterpret_cast<char*>(item + 1);
  memcpy(copy, key, len + 1);
  item->next = nullptr;
  item->key = copy;
  item->ref = ref;
  return item;
}

}  // namespace

void GetObjectIDArg(vlObjectId* out, vlVMState* L, int index) {
  if (vl::GetTypeAt(L, index) == VL_TLIGHTUSERDATA) {
    *out = {0, vl::ToUserdataAt(L, index)};
    return;
  }
  *out = {vl::CheckIntArg(L, index), nullptr};
}

int GetObjectIDArgOpt(vlObjectId* out, vlVMState* L, int index) {
  if (vl::GetTypeAt(L, index) == VL_TNIL) {
    *out = {0, reinterpret_cast<void*>(uintptr_t{1})};
    return 1;
  }
  GetObjectIDArg(out, L, index);
  return 0;
}

void PushObjectID(vlVMState* L, vlObjectId id) {
  if (id.handle)
    vl::PushPointer(L, id.handle);
  else
    vl::PushNumber(L, id.number);
}

void SetTableObjectID(vlVMState* L, const char* key, vlObjectId id) {
  vl::PushString(L, key);
  PushObjectID(L, id);
  vl::SetTableValue(L, -3);
}

vlObjectData* FindObjectData(vlObjectData* list, const char* key) {
  // vlObjectData starts with the {next, key} pair of the keyed lists
  return reinterpret_cast<vlObjectData*>(FindObjectDataItem(reinterpret_cast<vlKeyedNode*>(list), key));
}

int SetObjectDataItem(vlVMState* L, const char* key, int valueIndex, vlObjectData** list) {
  if (vlObjectData* item = FindObjectData(*list, key)) {
    int ref = RefValue(L, valueIndex);
    vl::ReleaseRef(L, vl::kRegistryIndex, item->ref);
    item->ref = ref;
    return 0;
  }
  vlObjectData** tail = list;
  while (*tail) tail = &(*tail)->next;
  vlObjectData* item = NewItem(key, -1);
  if (!item) return ERR_MEM;
  item->ref = RefValue(L, valueIndex);
  *tail = item;
  return 0;
}

int RemoveObjectDataItem(vlVMState* L, vlObjectData** list, const char* key) {
  vlObjectData** link = list;
  if (!(*list && (*list)->key == key)) {
    while (*link && CompareNoCase((*link)->key, key) != 0) link = &(*link)->next;
  }
  vlObjectData* item = *link;
  if (!item) return 0;
  *link = item->next;
  vl::ReleaseRef(L, vl::kRegistryIndex, item->ref);
  free(item);
  return 1;
}

void FreeObjectDataList(vlVMState* L, vlObjectData** list) {
  for (vlObjectData* item = *list; item;) {
    vlObjectData* next = item->next;
    vl::ReleaseRef(L, vl::kRegistryIndex, item->ref);
    free(item);
    item = next;
  }
  *list = nullptr;
}

int CopyObjectDataList(vlVMState* L, const vlObjectData* list, vlObjectData** out) {
  *out = nullptr;
  vlObjectData** tail = out;
  for (const vlObjectData* item = list; item; item = item->next) {
    vlObjectData* copy = NewItem(item->key, -1);
    if (!copy) {
      FreeObjectDataList(L, out);
      return ERR_MEM;
    }
    PushObjectDataValue(L, item);
    copy->ref = vl::CreateRef(L, vl::kRegistryIndex);
    *tail = copy;
    tail = &copy->next;
  }
  return 0;
}

void PushObjectDataValue(vlVMState* L, const vlObjectData* item) {
  if (item->ref < 0)
    vl::PushNil(L);
  else
    vl::RawGetTableIndex(L, vl::kRegistryIndex, item->ref);
}
