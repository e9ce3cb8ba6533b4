// Window icons: the 18 icon slots that the script and its options name,
// loaded at start-up into a list of ARGB icons, and the merged list of
// built-in and user icons that a new window carries.
#pragma once
#include <cstdint>

struct vlVMState;

struct vlIconNode {
  vlIconNode* next;
  uint32_t* pixels;  // width x height ARGB values
  int32_t width, height;
  uint32_t flags;  // 1: the slot's flag was set; 2: an "s" slot
};

struct vlIconSlotRow {
  const char* label;
  int32_t width, height;
  int32_t slotWord;
};
extern const vlIconSlotRow vlIconSlotTable[18];

// Loads a picture file as ARGB (icons, backdrop pictures): pixels (free
// with delete[]), size, row length in pixels and whether it has alpha.
// Default: the picture loading pipeline.
using vlDisplayPictureLoader = int (*)(vlVMState* state, const char* file, uint32_t** argb, int32_t* width,
                                    int32_t* height, int32_t* rowPixels, int* hasAlpha);
extern vlDisplayPictureLoader gDisplayPictureLoader;

int LoadDisplayIcons(vlVMState* state, int verbose);
// Null when memory runs out.
vlIconNode* GetWindowIconList();
void FreeIconList(vlIconNode* list);
vlIconNode* GetBuiltinIconList();
// The user icon list (shut-down).
void FreeDisplayIcons();
// Makes new windows carry the merged list.
void InstallWindowIconHooks();
