// Menu strips: menu objects built from script tables as trees of items,
// attached to displays by the "menu" attribute, and the item-state
// commands. This platform draws no menu strip; the item flags are the
// items' state.
#pragma once
#include <cstdint>

#include "runtime/objects.h"
#include "runtime/preproc.h"

struct vlVMState;

struct vlMenu {
  uint32_t type;  // 57
  int32_t idNumber;
  void* idHandle;
  vlObjectData* data;
  vlObjectId id() const { return {idNumber, idHandle}; }
  void setId(vlObjectId id) {
    idNumber = id.number;
    idHandle = id.handle;
  }
  vlMenu* next;
  vlMenuItem* items;
};

extern vlMenu* vlMenuList;

int GetMenuByID(vlObjectId id, vlMenu** out);
// Depth first: an item before its sub-items, then its next sibling.
vlMenuItem* FindMenuItem(vlMenuItem* first, const char* id);
int FreeMenuByID(vlVMState* state, vlObjectId id, int mustExist);
void FreeAllMenus(vlVMState* state);

int CmdCreateMenu(vlVMState* state);
int CmdFreeMenu(vlVMState* state);
int CmdIsMenuItemDisabled(vlVMState* state);
int CmdIsMenuItemSelected(vlVMState* state);
int CmdEnableMenuItem(vlVMState* state);
int CmdDisableMenuItem(vlVMState* state);
int CmdSelectMenuItem(vlVMState* state);
int CmdDeselectMenuItem(vlVMState* state);
