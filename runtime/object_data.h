// Object identifiers on the VM stack and per-object user data: reading an
// id argument or option field, pushing an id back, and the key/value items
// that scripts attach to any object.
#pragma once
#include "runtime/objects.h"

// A light userdata argument gives {0, handle}; anything else is read as a
// number (the number reader raises its own error) giving {number, null}.
void GetObjectIDArg(vlObjectId* out, vlVMState* state, int index);
// As GetObjectIDArg, but nil asks for an automatic identifier: the result
// is {0, handle 1} (replaced by the new record's address) and 1 is
// returned; otherwise 0.
int GetObjectIDArgOpt(vlObjectId* out, vlVMState* state, int index);
inline bool IsAutomaticIdRequest(const vlObjectId& id) {
  return id.handle == reinterpret_cast<void*>(uintptr_t{1});
}
// Pushes the handle as a light userdata when it is set, else the number.
void PushObjectID(vlVMState* state, vlObjectId id);
// table[key] = id for the table on top of the stack.
void SetTableObjectID(vlVMState* state, const char* key, vlObjectId id);

// Stores a reference to the value at valueIndex under key (keys compare
// case-insensitively); 0 or 1000.
int SetObjectDataItem(vlVMState* state, const char* key, int valueIndex, vlObjectData** list);
// The item of that key, or null.
vlObjectData* FindObjectData(vlObjectData* list, const char* key);
// Removes the item of that key: 1 when removed, 0 when absent.
int RemoveObjectDataItem(vlVMState* state, vlObjectData** list, const char* key);
// Drops every reference and frees every item; the list becomes empty.
void FreeObjectDataList(vlVMState* state, vlObjectData** list);
// A copy with new references, in the same order; 0, or 1000 with *out null.
int CopyObjectDataList(vlVMState* state, const vlObjectData* list, vlObjectData** out);
// Pushes the value of an item.
void PushObjectDataValue(vlVMState* state, const vlObjectData* item);
