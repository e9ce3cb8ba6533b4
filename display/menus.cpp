// Menu objects: reading the item tree from a script table, the menu list,
// freeing, and the item commands with their checks.
#include "display/menus.h"

#include <cstdlib>
#include <cstring>

#include "display/display.h"
#include "platform/display_adapter.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/option_readers.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "platform/display_device.h"

vlMenu* vlMenuList = nullptr;

namespace {

// Making and finding a menu must not walk every menu there is.
vlObjectIndex gMenuIndex;

vlObjectNode** ListHead() { return reinterpret_cast<vlObjectNode**>(&vlMenuList); }

}  // namespace

namespace {

enum : uint32_t { kToggle = 1, kSelected = 2, kDisabled = 4 };

char* Dup(const char* text) {
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

// Reads the item list on top of the stack into *out (appending).
int ReadMenuItems(vlVMState* L, int level, vlMenuItem** out) {
  int list = vl::GetStackTop(L);
  vlMenuItem** tail = out;
  for (int i = 0;; ++i) {
    vl::RawGetTableIndex(L, list, i);
    int type = vl::GetTypeAt(L, -1);
    if (type == VL_TNIL) {
      vl::SetStackTop(L, list);
      return 0;
    }
    if (type != VL_TTABLE) {
      vl::SetStackTop(L, list);
      return ERR_TABLEORNIL;
    }
    int item = vl::GetStackTop(L);
    vl::RawGetTableIndex(L, item, 0);
    int nameType = vl::GetTypeAt(L, -1);
    const char* name = nullptr;
    int status = 0;
    if (nameType == VL_TSTRING) {
      name = vl::ToStringAt(L, -1);
      if (!*name) name = nullptr;
      if (!name && level == 0) status = ERR_WRONGUSAGE;
    } else if (nameType != VL_TNIL || level == 0) {
      status = ERR_STRINGEXPECTED;
    }
    vlMenuItem* node = nullptr;
    if (!status) {
      node = static_cast<vlMenuItem*>(std::calloc(1, sizeof(vlMenuItem)));
      if (!node || (name && !(node->name = Dup(name)))) {
        std::free(node);
        node = nullptr;
        status = ERR_MEM;
      }
    }
    vl::SetStackTop(L, item);
    if (!status) {
      *tail = node;
      tail = &node->next;
      vl::RawGetTableIndex(L, item, 1);
      int sub = vl::GetTypeAt(L, -1);
      if (sub == VL_TTABLE) {
        status = level >= 2 ? ERR_MENUCOMPLEXITY : ReadMenuItems(L, level + 1, &node->children);
      } else if (sub == VL_TNIL) {
        int32_t flags = 0;
        GetTableInt(L, item, "flags", &flags, nullptr);
        node->flags = static_cast<uint32_t>(flags);
        char text[256];
        if (GetTableString(L, item, "id", text, sizeof text, nullptr) && !(node->id = Dup(text))) status = ERR_MEM;
        if (!status && GetTableString(L, item, "hotkey", text, sizeof text, nullptr) && !(node->hotkey = Dup(text)))
          status = ERR_MEM;
      } else {
        status = ERR_TABLEORNIL;
      }
    }
    vl::SetStackTop(L, list);
    if (status) return status;
  }
}

// The checks every item command makes, in their order; the item found.
int FindItemFor(vlVMState* L, vlMenuItem** out) {
  CheckArgs(L, 2, 2, 0, 0);
  if (!DisplayDeviceDoes(nullptr, VL_DEVICE_MENUS)) return ERR_DISPLAYADAPTERSUPPORT;
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  if (!id.handle && id.number == 0) return ERR_NOCONTEXTMENU;
  const char* itemId = vl::CheckStringArg(L, 2, nullptr);
  vlDisplay* d = nullptr;
  if (int status = GetDisplayByID(id, &d)) return status;
  if (!d->menu) return ERR_NOMENU;
  if (d->displayState == VL_DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
  if (d->fullScreen) return ERR_FULLSCREEN;
  vlMenuItem* item = FindMenuItem(d->menu->items, itemId);
  if (!item) {
    SetErrorArgument(itemId);
    return ERR_FINDMENUITEM;
  }
  *out = item;
  return 0;
}

int Query(vlVMState* L, uint32_t bit, bool toggleOnly) {
  vlMenuItem* item;
  if (int status = FindItemFor(L, &item)) return status;
  if (toggleOnly && !(item->flags & kToggle)) return ERR_WRONGUSAGE;
  vl::PushNumber(L, (item->flags & bit) ? 1 : 0);
  return 1;
}

int Change(vlVMState* L, uint32_t set, uint32_t clear, bool toggleOnly) {
  vlMenuItem* item;
  if (int status = FindItemFor(L, &item)) return status;
  if (toggleOnly && !(item->flags & kToggle)) return ERR_WRONGUSAGE;
  item->flags = (item->flags | set) & ~clear;
  return 0;
}

}  // namespace

int GetMenuByID(vlObjectId id, vlMenu** out) {
  if (vlObjectNode* m = gMenuIndex.First(id)) {
    *out = reinterpret_cast<vlMenu*>(m);
    return 0;
  }
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDMENU;
}

vlMenuItem* FindMenuItem(vlMenuItem* item, const char* id) {
  for (; item; item = item->next) {
    if (item->id && !CompareNoCase(item->id, id)) return item;
    if (vlMenuItem* found = FindMenuItem(item->children, id)) return found;
  }
  return nullptr;
}

int FreeMenuByID(vlVMState* L, vlObjectId id, int mustExist) {
  vlMenu* menu = nullptr;
  int status = GetMenuByID(id, &menu);
  if (status) return mustExist ? status : 0;
  for (vlDisplay* d = vlDisplayList; d; d = d->next)
    if (d->menu == menu) return ERR_MENUATTACHED;
  gMenuIndex.Unlink(ListHead(), reinterpret_cast<vlObjectNode*>(menu));
  FreeMenuItems(menu->items);
  FreeObjectDataList(L, &menu->data);
  std::free(menu);
  return 0;
}

void FreeAllMenus(vlVMState* L) {
  while (vlMenu* m = vlMenuList) {
    vlMenuList = m->next;
    FreeMenuItems(m->items);
    FreeObjectDataList(L, &m->data);
    std::free(m);
  }
  gMenuIndex.Clear();
}

int CmdCreateMenu(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlObjectId id;
  int automatic = GetObjectIDArgOpt(&id, L, 1);
  vl::CheckTableArg(L, 2);
  if (!automatic) {
    vlMenu* old = nullptr;
    if (GetMenuByID(id, &old) == 0) {
      if (int status = FreeMenuByID(L, id, 1)) return status;
    }
  }
  vl::SetStackTop(L, 2);
  vlMenuItem* items = nullptr;
  // The items read so far go with any failure, also when an item field of
  // the wrong type stops the script from inside the reading.
  struct Held {
    vlMenuItem** items;
    ~Held() {
      if (items) FreeMenuItems(*items);
    }
  } held{&items};
  if (int status = ReadMenuItems(L, 0, &items)) return status;
  if (!items) return ERR_EMPTYMENUTREE;
  auto* menu = static_cast<vlMenu*>(std::calloc(1, sizeof(vlMenu)));
  if (!menu) return ERR_MEM;
  menu->type = VL_OBJ_MENU;
  menu->items = items;
  menu->setId(automatic ? vlObjectId{0, menu} : id);
  if (gMenuIndex.Append(ListHead(), reinterpret_cast<vlObjectNode*>(menu))) {
    std::free(menu);
    return ERR_MEM;
  }
  held.items = nullptr;  // the menu owns them now
  if (automatic) {
    vl::PushPointer(L, menu);
    return 1;
  }
  return 0;
}

int CmdFreeMenu(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return FreeMenuByID(L, id, 1);
}

int CmdIsMenuItemDisabled(vlVMState* L) { return Query(L, kDisabled, false); }
int CmdIsMenuItemSelected(vlVMState* L) { return Query(L, kSelected, true); }
int CmdEnableMenuItem(vlVMState* L) { return Change(L, 0, kDisabled, false); }
int CmdDisableMenuItem(vlVMState* L) { return Change(L, kDisabled, 0, false); }
int CmdSelectMenuItem(vlVMState* L) { return Change(L, kSelected, 0, true); }
int CmdDeselectMenuItem(vlVMState* L) { return Change(L, 0, kSelected, true); }
