// Capability-class lists of plug-ins: six singly linked lists, appended at
// the tail. Depends on the script-version check. Main thread only.
#include "runtime/class_lists.h"

#include <cstdlib>

#include "runtime/script_version.h"
#include "vm/error_codes.h"

namespace {

struct ClassList {
  uint32_t code;
  vlClassNode* head;
};

ClassList g_lists[] = {{VL_CLASS_IMAGE, nullptr},       {VL_CLASS_ANIM, nullptr},
                       {VL_CLASS_SOUND, nullptr},       {VL_CLASS_VIDEO, nullptr},
                       {VL_CLASS_FILEADAPTER, nullptr}, {VL_CLASS_DIRADAPTER, nullptr}};

ClassList* FindList(uint32_t code) {
  for (ClassList& l : g_lists)
    if (l.code == code) return &l;
  return nullptr;
}

}  // namespace

vlClassNode* GetLoaderClassList(uint32_t classCode, int* known) {
  ClassList* l = FindList(classCode);
  if (known) *known = l != nullptr;
  return l ? l->head : nullptr;
}

int AddPluginToClassList(vlPluginInfo* plugin, uint32_t classCode) {
  ClassList* l = FindList(classCode);
  if (!l) return ERR_WRONGUSAGE;
  if (!CheckScriptVersion(6, 0)) return ERR_OLDAPPLET;
  auto* node = static_cast<vlClassNode*>(std::calloc(1, sizeof(vlClassNode)));
  if (!node) return ERR_MEM;
  node->plugin = plugin;
  vlClassNode** link = &l->head;
  while (*link) link = &(*link)->next;
  *link = node;
  return 0;
}

void RemovePluginFromClassList(vlPluginInfo* plugin, uint32_t classCode) {
  ClassList* l = FindList(classCode);
  if (!l) return;
  for (vlClassNode** link = &l->head; *link;) {
    if ((*link)->plugin == plugin) {
      vlClassNode* gone = *link;
      *link = gone->next;
      std::free(gone);
    } else {
      link = &(*link)->next;
    }
  }
}

void FreeClassLists() {
  for (ClassList& l : g_lists) {
    while (l.head) {
      vlClassNode* next = l.head->next;
      std::free(l.head);
      l.head = next;
    }
  }
}
