// Window icons: loading the icon slots, merging them with the built-in
// icons, and handing the merged list to new X windows.
#include "display/icons.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_window.h"
#include "runtime/console.h"
#include "runtime/preproc.h"
#include "runtime/errors.h"
#include "formats/loaded_source.h"
#include "runtime/messages.h"
#include "runtime/progress_message.h"
#include "vm/error_codes.h"

const vlIconSlotRow vlIconSlotTable[18] = {
    {"ic16x16", 16, 16, 52},       {"ic24x24", 24, 24, 53},       {"ic32x32", 32, 32, 54},
    {"ic48x48", 48, 48, 55},       {"ic64x64", 64, 64, 56},       {"ic96x96", 96, 96, 57},
    {"ic128x128", 128, 128, 58},   {"ic256x256", 256, 256, 59},   {"ic512x512", 512, 512, 60},
    {"ic16x16s", 16, 16, -1},      {"ic24x24s", 24, 24, -1},      {"ic32x32s", 32, 32, -1},
    {"ic48x48s", 48, 48, -1},      {"ic64x64s", 64, 64, -1},      {"ic96x96s", 96, 96, -1},
    {"ic128x128s", 128, 128, -1},  {"ic256x256s", 256, 256, -1},  {"ic512x512s", 512, 512, -1},
};

namespace {

// Through the picture loading pipeline, as plain ARGB with alpha when the
// picture has it.
int PipelinePictureLoader(vlVMState*, const char* file, uint32_t** argb, int32_t* width, int32_t* height,
                          int32_t* rowPixels, int* hasAlpha) {
  vlLoadedSource* source = nullptr;
  vlLoadedImageInfo info{};
  int status = LoadImageWithLoaders(file, "", "", nullptr, -1, nullptr, 0, 2, 0, 0, 0, 0, &source, nullptr, &info);
  if (status) return status;
  const uint32_t* pixels = GetLoadedSourcePixels(source);
  const size_t n = static_cast<size_t>(info.width) * info.height;
  *argb = pixels && n ? new (std::nothrow) uint32_t[n] : nullptr;
  if (*argb) std::memcpy(*argb, pixels, n * 4);
  ReleaseLoadedSource(source);
  if (!*argb) return ERR_MEM;
  *width = *rowPixels = info.width;
  *height = info.height;
  *hasAlpha = info.alpha;
  return 0;
}

vlIconNode* gUserIcons = nullptr;

vlIconNode* NewNode(int32_t width, int32_t height, uint32_t flags) {
  auto* node = static_cast<vlIconNode*>(std::calloc(1, sizeof(vlIconNode)));
  if (!node) return nullptr;
  node->pixels = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(width) * height * 4));
  if (!node->pixels) {
    std::free(node);
    return nullptr;
  }
  node->width = width;
  node->height = height;
  node->flags = flags;
  return node;
}

void Append(vlIconNode** head, vlIconNode* node) {
  while (*head) head = &(*head)->next;
  *head = node;
}

const unsigned long* MergedIconData(long* items) {
  *items = 0;
  vlIconNode* list = GetWindowIconList();
  long total = 0;
  for (vlIconNode* n = list; n; n = n->next) total += 2 + static_cast<long>(n->width) * n->height;
  auto* data = total ? new (std::nothrow) unsigned long[total] : nullptr;
  if (data) {
    long at = 0;
    for (vlIconNode* n = list; n; n = n->next) {
      data[at++] = static_cast<unsigned long>(n->width);
      data[at++] = static_cast<unsigned long>(n->height);
      for (long i = 0, m = static_cast<long>(n->width) * n->height; i < m; ++i) data[at++] = n->pixels[i];
    }
    *items = total;
  }
  FreeIconList(list);
  return data;
}

void ReleaseMerged(const unsigned long* data) { delete[] data; }

}  // namespace

vlDisplayPictureLoader gDisplayPictureLoader = PipelinePictureLoader;

void FreeIconList(vlIconNode* list) {
  while (list) {
    vlIconNode* next = list->next;
    std::free(list->pixels);
    std::free(list);
    list = next;
  }
}

void FreeDisplayIcons() {
  FreeIconList(gUserIcons);
  gUserIcons = nullptr;
}

int LoadDisplayIcons(vlVMState* L, int verbose) {
  vlIconNode* list = nullptr;
  for (int i = 0; i < kIconSlotCount; ++i) {
    const char* file = vlIconSlotNames[i];
    if (!file) continue;
    const vlIconSlotRow& row = vlIconSlotTable[i];
    if (verbose) PrintProgressMessage(GetMessage(698), file, 1);
    uint32_t* argb = nullptr;
    int32_t w = 0, h = 0, rowPixels = 0;
    int hasAlpha = 0;
    int status = gDisplayPictureLoader(L, file, &argb, &w, &h, &rowPixels, &hasAlpha);
    if (!status && (w != row.width || h != row.height)) {
      char size[32];
      std::snprintf(size, sizeof size, "%dx%d", row.width, row.height);
      SetErrorArgument(size);
      status = ERR_ICONDIMS;
    }
    vlIconNode* node = nullptr;
    if (!status && !(node = NewNode(w, h, (vlIconSlotFlags[i] ? 1u : 0u) | (row.slotWord == -1 ? 2u : 0u))))
      status = ERR_MEM;
    if (!status) {
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
          uint32_t p = argb[static_cast<size_t>(y) * rowPixels + x];
          node->pixels[static_cast<size_t>(y) * w + x] = hasAlpha ? p : (p | 0xFF000000u);
        }
      Append(&list, node);
    }
    delete[] argb;
    if (status) {
      FreeIconList(list);
      return status;
    }
    if (verbose) PrintDone();
  }
  FreeDisplayIcons();
  gUserIcons = list;
  return 0;
}

vlIconNode* GetBuiltinIconList() {
  const unsigned long* data = GetBuiltinIconData();
  vlIconNode* list = nullptr;
  for (long at = 0; at < kBuiltinIconItems;) {
    int32_t w = static_cast<int32_t>(data[at]), h = static_cast<int32_t>(data[at + 1]);
    vlIconNode* node = NewNode(w, h, 0);
    if (!node) {
      FreeIconList(list);
      return nullptr;
    }
    for (long i = 0, n = static_cast<long>(w) * h; i < n; ++i)
      node->pixels[i] = static_cast<uint32_t>(data[at + 2 + i]);
    Append(&list, node);
    at += 2 + static_cast<long>(w) * h;
  }
  return list;
}

vlIconNode* GetWindowIconList() {
  vlIconNode* list = GetBuiltinIconList();
  if (!list) return nullptr;
  for (vlIconNode* u = gUserIcons; u; u = u->next) {
    const size_t bytes = static_cast<size_t>(u->width) * u->height * 4;
    // The applet's own icon takes the place of a built-in one of its size.
    vlIconNode* same = nullptr;
    for (vlIconNode* n = list; n && !same; n = n->next)
      if (n->width == u->width && n->height == u->height && ((n->flags ^ u->flags) & 2) == 0) same = n;
    if (same) {
      std::memcpy(same->pixels, u->pixels, bytes);
      same->flags = u->flags;
      continue;
    }
    vlIconNode* copy = NewNode(u->width, u->height, u->flags);
    if (!copy) {
      FreeIconList(list);
      return nullptr;
    }
    std::memcpy(copy->pixels, u->pixels, bytes);
    Append(&list, copy);
  }
  return list;
}

void InstallWindowIconHooks() {
  gX11Hooks.windowIconData = MergedIconData;
  gX11Hooks.releaseIconData = ReleaseMerged;
}
