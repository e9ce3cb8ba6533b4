// Defaults, lookup and release of the script's declarations, and the
// window-icon slots the container fills. Depends on nothing but the C
// library.
#include "runtime/preproc.h"

#include <cstdlib>
#include <cstring>

void InitGradientRecord(vlGradientBlock* gradient) {
  std::memset(gradient, 0, sizeof(*gradient));
  gradient->style = 2;
  gradient->centerX = 0.5;
  gradient->centerY = 0.5;
  gradient->balance = 0.5;
}

void InitDisplayRecord(vlDisplayDecl* display) {
  std::memset(display, 0, sizeof(*display));
  std::strcpy(display->title, "Vellamora");
  display->x = -100000;
  display->y = -100000;
  display->width = 640;
  display->height = 480;
  display->fillStyle = 1;
  InitGradientRecord(&display->gradient);
  display->menu = -1;
  display->mode = 1;
  InitBackfillRecord(&display->backfill);
}

void AppendPreprocRecord(vlPreprocRecord** list, vlPreprocRecord* record) {
  record->next = nullptr;
  vlPreprocRecord** tail = list;
  while (*tail) tail = &(*tail)->next;
  *tail = record;
}

int AddDefaultDisplay(vlPreprocRecord** list, const char* title) {
  auto* record = static_cast<vlPreprocRecord*>(std::calloc(1, sizeof(vlPreprocRecord)));
  auto* display = static_cast<vlDisplayDecl*>(std::malloc(sizeof(vlDisplayDecl)));
  if (!record || !display) {
    std::free(record);
    std::free(display);
    return 1000;
  }
  InitDisplayRecord(display);
  display->flags |= VL_DF_ACTIVE;
  if (title) {
    std::strncpy(display->title, title, sizeof(display->title) - 1);
    display->title[sizeof(display->title) - 1] = 0;
  }
  record->subtype = VL_PP_DISPLAY;
  record->id = 1;
  record->linked = 1;
  record->data = display;
  AppendPreprocRecord(list, record);
  return 0;
}

vlDisplayDecl* FindDisplayDecl(vlPreprocRecord* list, uint32_t id) {
  for (vlPreprocRecord* r = list; r; r = r->next)
    if (r->subtype == VL_PP_DISPLAY && r->id == id && r->data) return static_cast<vlDisplayDecl*>(r->data);
  return nullptr;
}

void FreeMenuItems(vlMenuItem* item) {
  while (item) {
    vlMenuItem* next = item->next;
    FreeMenuItems(item->children);
    std::free(item->name);
    std::free(item->id);
    std::free(item->hotkey);
    std::free(item);
    item = next;
  }
}

void FreePluginTags(vlPluginTag* tag) {
  while (tag) {
    vlPluginTag* next = tag->next;
    std::free(tag);  // key and string live in the same block
    tag = next;
  }
}

void FreePreprocRecords(vlPreprocRecord** list) {
  vlPreprocRecord* r = *list;
  while (r) {
    vlPreprocRecord* next = r->next;
    if (r->subtype == VL_PP_MENU)
      FreeMenuItems(static_cast<vlMenuItem*>(r->data));
    else if (r->subtype == VL_PP_PLUGIN)
      FreePluginTags(static_cast<vlPluginTag*>(r->data));
    else
      std::free(r->data);
    std::free(r->name);
    std::free(r->sourceFile);
    std::free(r);
    r = next;
  }
  *list = nullptr;
}

char* vlIconSlotNames[kIconSlotCount] = {};
uint32_t vlIconSlotFlags[kIconSlotCount] = {};

void FreeIconSlots() {
  for (int i = 0; i < kIconSlotCount; ++i) {
    std::free(vlIconSlotNames[i]);
    vlIconSlotNames[i] = nullptr;
    vlIconSlotFlags[i] = 0;
  }
}
