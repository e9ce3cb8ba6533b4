// Script objects: the common record head, the identifiers scripts name
// objects by, the object-type registry that generic code walks (counts,
// look-ups by id or handle), and the registry of command libraries.
#pragma once
#include <cstddef>
#include <cstdint>

#include "abi/plugin_abi.h"

struct vlVMState;
struct vlCommand;

// One user-data item of an object: key (text stored right behind the node)
// and a VM registry reference to the value.
struct vlObjectData {
  vlObjectData* next;
  const char* key;
  int ref;
};

// The head every object record starts with; records are appended at the
// tail of their kind's list.
struct vlObjectNode {
  uint32_t type;
  int32_t idNumber;
  void* idHandle;
  vlObjectData* data;
  vlObjectNode* next;
};

// Object type codes 0..57 are built in; plug-in types are numbered from 58.
inline constexpr uint32_t kFirstExtraObjectType = 58;
enum : uint32_t {
  VL_OBJ_BGPIC = 1, VL_OBJ_SAMPLE = 2, VL_OBJ_BRUSH = 3, VL_OBJ_ANIM = 4,
  VL_OBJ_DISPLAY = 21, VL_OBJ_LAYER = 22, VL_OBJ_CLIPREGION = 35, VL_OBJ_ASYNCDRAW = 37,
  VL_OBJ_MEMORY = 39, VL_OBJ_INTERVAL = 41, VL_OBJ_TIMEOUT = 42, VL_OBJ_FONT = 43,
  VL_OBJ_FILE = 44, VL_OBJ_DIRECTORY = 45, VL_OBJ_TIMER = 53, VL_OBJ_MENU = 57,
};

// A plug-in type's attribute handler.
using vlObjectTypeHandler = int (*)(vlVMState* state, int attribute, void* out);

using vlObjectKeptTest = bool (*)(const vlObjectNode* node);

struct vlObjectType {
  vlObjectType* next;
  char* name;            // owned copy; null for a plain list registration
  uint32_t typeId;
  uint32_t callMode;     // 0: call the handler directly; else the plug-in frame call
  vlObjectTypeHandler handler;
  vlObjectNode** list;   // the word holding the head of the object list
  uint32_t ownsList;     // the word was made for the type: freed with the registry
  // True for a record the script has freed but layers or displays still
  // show: no longer the script's object, so the generic scans pass it by.
  vlObjectKeptTest kept;
};

struct vlLibraryNode {
  vlLibraryNode* next;
  const vlCommand* commands;
  char name[64];
  const void* owner;  // the plug-in whose table it is, null for a built-in one
};

// Appends a named type with the next type id (written to idOut when given);
// 0 or 1000.
int RegisterObjectType(vlObjectNode** listHead, const char* name, vlObjectTypeHandler handler,
                       uint32_t* idOut, uint32_t callMode);
// Makes a library's list visible to the generic scans; 0 or 1000. A list
// whose records can outlive their freeing (kept for layers) gives the test
// that tells them.
int RegisterObjectList(vlObjectNode** listHead, vlObjectKeptTest kept = nullptr);
// A named type whose list head the registry makes and frees with itself
// (the plug-ins' types): 0 or 1000.
int RegisterOwnedObjectType(const char* name, vlObjectTypeHandler handler, uint32_t* idOut, uint32_t callMode);
// Records an opened command library; 0 or 1000. Longer names are cut to 63.
int RegisterLibrary(const vlCommand* commands, const char* name, const void* owner = nullptr);
// Drops the libraries of an owner whose tables are about to be unloaded.
void ForgetLibrariesOf(const void* owner);

const vlLibraryNode* FirstLibrary();

// Visits every record of every registered list in registry order until
// match returns true; that record, or null.
vlObjectNode* ScanObjects(bool (*match)(vlObjectNode* node, void* ud), void* ud);

int CountObjectsOfType(uint32_t type);
// The type code of the first record with that handle; -1 for null or none.
// The pointer is only compared, never followed.
int FindObjectByHandle(const void* handle);
vlObjectNode* FindObjectByID(uint32_t type, vlObjectId id);
int CountExtraObjectTypes();
const char* FindObjectTypeName(uint32_t typeId);
// The name of a built-in type code (0..57), else of a registered type, else null.
const char* GetObjectTypeName(uint32_t typeId);
int CallObjectTypeHandler(vlVMState* state, uint32_t typeId, int attribute, void* out);

// Frees both registries (names included); the type counter keeps counting.
void FreeObjectRegistries();
