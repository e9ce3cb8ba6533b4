// The object-type and library registries and the generic object scans.
// Plain singly linked lists kept in registration order; no VM access.
#include "runtime/objects.h"

#include <cstdlib>
#include <cstring>

#include "runtime/error_format.h"
#include "runtime/object_index.h"
#include "vm/error_codes.h"

namespace {

vlObjectType* gTypes;
vlObjectType** gTypesTail = &gTypes;
vlLibraryNode* gLibraries;
vlLibraryNode** gLibrariesTail = &gLibraries;
uint32_t gNextTypeId = kFirstExtraObjectType;

constexpr const char* kBuiltinTypeNames[kFirstExtraObjectType] = {
    "",           "BGPIC",       "SAMPLE",       "BRUSH",       "ANIM",         "SNDMODULE",
    "KEYDOWN",    "NOOBJECT",    "TEXTOBJECT",   "TEXTOUT",     "UNDO",         "PRINT",
    "BRUSHPART",  "BGPICPART",   "BOX",          "CIRCLE",      "ELLIPSE",      "LINE",
    "PLOT",       "MAINWINDOW",  "ANIMDISK",     "DISPLAY",     "LAYER",        "HIDEBRUSH",
    "INSERTBRUSH", "HIDELAYER",  "REMOVELAYER",  "POLYGON",     "MASK",         "NEXTFRAME",
    "ALPHACHANNEL", "ARC",       "SPRITE",       "MUSIC",       "NEXTFRAME2",   "CLIPREGION",
    "POINTER",    "ASYNCDRAW",   "DOUBLEBUFFER", "MEMORY",      "EVENTHANDLER", "INTERVAL",
    "TIMEOUT",    "FONT",        "FILE",         "DIRECTORY",   "X",            "X",
    "X",          "VECTORPATH",  "VIDEO",        "MOVELIST",    "ANIMSTREAM",   "TIMER",
    "CLIENT",     "SERVER",      "UDPOBJECT",    "MENU",
};

bool Kept(const vlObjectType* t, const vlObjectNode* n) { return t->kept && t->kept(n); }

// Every record of every registered list, in registry order.
template <typename F>
vlObjectNode* Scan(F&& match) {
  for (vlObjectType* t = gTypes; t; t = t->next) {
    if (!t->list) continue;
    for (vlObjectNode* n = *t->list; n; n = n->next)
      if (!Kept(t, n) && match(n)) return n;
  }
  return nullptr;
}

// Links a new entry at the tail; null when memory runs out (nothing linked).
vlObjectType* AppendObjectType(vlObjectNode** listHead, const char* name, vlObjectTypeHandler handler,
                               uint32_t* idOut, uint32_t callMode) {
  auto* entry = static_cast<vlObjectType*>(calloc(1, sizeof(vlObjectType)));
  if (!entry) return nullptr;
  if (name) {
    entry->name = strdup(name);
    if (!entry->name) {  // nothing is linked when the copy fails
      free(entry);
      return nullptr;
    }
    entry->typeId = gNextTypeId++;
    if (idOut) *idOut = entry->typeId;
  }
  entry->callMode = callMode;
  entry->handler = handler;
  entry->list = listHead;
  *gTypesTail = entry;
  gTypesTail = &entry->next;
  return entry;
}

}  // namespace

int RegisterObjectType(vlObjectNode** listHead, const char* name, vlObjectTypeHandler handler,
                       uint32_t* idOut, uint32_t callMode) {
  return AppendObjectType(listHead, name, handler, idOut, callMode) ? 0 : ERR_MEM;
}

int RegisterObjectList(vlObjectNode** listHead, vlObjectKeptTest kept) {
  vlObjectType* entry = AppendObjectType(listHead, nullptr, nullptr, nullptr, 0);
  if (!entry) return ERR_MEM;
  entry->kept = kept;
  return 0;
}

int RegisterOwnedObjectType(const char* name, vlObjectTypeHandler handler, uint32_t* idOut, uint32_t callMode) {
  auto* head = static_cast<vlObjectNode**>(calloc(1, sizeof(vlObjectNode*)));
  if (!head) return ERR_MEM;
  vlObjectType* entry = AppendObjectType(head, name, handler, idOut, callMode);
  if (!entry) {
    free(head);
    return ERR_MEM;
  }
  entry->ownsList = 1;
  return 0;
}

int RegisterLibrary(const vlCommand* commands, const char* name, const void* owner) {
  auto* node = static_cast<vlLibraryNode*>(calloc(1, sizeof(vlLibraryNode)));
  if (!node) return ERR_MEM;
  node->commands = commands;
  node->owner = owner;
  CopyText(node->name, sizeof node->name, name);
  *gLibrariesTail = node;
  gLibrariesTail = &node->next;
  return 0;
}

void ForgetLibrariesOf(const void* owner) {
  if (!owner) return;
  for (vlLibraryNode** link = &gLibraries; *link;) {
    vlLibraryNode* node = *link;
    if (node->owner != owner) {
      link = &node->next;
      continue;
    }
    *link = node->next;
    free(node);
  }
  gLibrariesTail = &gLibraries;
  while (*gLibrariesTail) gLibrariesTail = &(*gLibrariesTail)->next;
}

vlObjectNode* ScanObjects(bool (*match)(vlObjectNode* node, void* ud), void* ud) {
  return Scan([&](vlObjectNode* n) { return match(n, ud); });
}

const vlLibraryNode* FirstLibrary() { return gLibraries; }

int CountObjectsOfType(uint32_t type) {
  int count = 0;
  Scan([&](vlObjectNode* n) {
    count += n->type == type;
    return false;
  });
  return count;
}

int FindObjectByHandle(const void* handle) {
  if (!handle) return -1;
  for (vlObjectType* t = gTypes; t; t = t->next) {
    if (!t->list) continue;
    if (const vlObjectIndex* index = vlObjectIndex::Of(t->list)) {
      // A handle is its records' whole key.
      if (const std::vector<vlObjectNode*>* named = index->Find({0, const_cast<void*>(handle)}))
        for (vlObjectNode* n : *named)
          if (!Kept(t, n)) return static_cast<int>(n->type);
      continue;
    }
    for (vlObjectNode* n = *t->list; n; n = n->next)
      if (n->idHandle == handle && !Kept(t, n)) return static_cast<int>(n->type);
  }
  return -1;
}

vlObjectNode* FindObjectByID(uint32_t type, vlObjectId id) {
  for (vlObjectType* t = gTypes; t; t = t->next) {
    if (!t->list) continue;
    if (const vlObjectIndex* index = vlObjectIndex::Of(t->list)) {
      // A list with an index beside it is not walked.
      if (const std::vector<vlObjectNode*>* named = index->Find(id))
        for (vlObjectNode* n : *named)
          if (n->type == type && n->idNumber == id.number && n->idHandle == id.handle && !Kept(t, n)) return n;
      continue;
    }
    for (vlObjectNode* n = *t->list; n; n = n->next)
      if (n->type == type && n->idNumber == id.number && n->idHandle == id.handle && !Kept(t, n)) return n;
  }
  return nullptr;
}

int CountExtraObjectTypes() { return static_cast<int>(gNextTypeId - kFirstExtraObjectType); }

const char* FindObjectTypeName(uint32_t typeId) {
  for (vlObjectType* t = gTypes; t; t = t->next)
    if (t->name && t->typeId == typeId) return t->name;
  return nullptr;
}

const char* GetObjectTypeName(uint32_t typeId) {
  if (typeId < kFirstExtraObjectType) return kBuiltinTypeNames[typeId];
  return FindObjectTypeName(typeId);
}

int CallObjectTypeHandler(vlVMState* state, uint32_t typeId, int attribute, void* out) {
  for (vlObjectType* t = gTypes; t; t = t->next) {
    if (!t->name || t->typeId != typeId || !t->handler) continue;
    // Any other call mode goes through the plug-in frame call, which does
    // nothing and yields 0 on this platform.
    return t->callMode == 0 ? t->handler(state, attribute, out) : 0;
  }
  return ERR_WRONGUSAGE;
}

void FreeObjectRegistries() {
  for (vlObjectType* t = gTypes; t;) {
    vlObjectType* next = t->next;
    if (t->ownsList) free(t->list);
    free(t->name);
    free(t);
    t = next;
  }
  gTypes = nullptr;
  gTypesTail = &gTypes;
  for (vlLibraryNode* l = gLibraries; l;) {
    vlLibraryNode* next = l->next;
    free(l);
    l = next;
  }
  gLibraries = nullptr;
  gLibrariesTail = &gLibraries;
}
