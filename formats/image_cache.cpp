// The decoded-picture cache: a list appended at the tail.
#include "formats/image_cache.h"

#include <cstring>
#include <new>

#include "graphics/bitmap.h"
#include "formats/loaded_source.h"
#include "vm/text.h"
#include "vm/error_codes.h"

namespace {
vlImageCacheEntry* gCache = nullptr;
}

int AddImageCacheEntry(const char* name, int32_t width, int32_t height, uint32_t word1, vlLoadedSource* source,
                       vlBitmap* alpha, uint32_t word2) {
  if (std::strlen(name) >= sizeof(vlImageCacheEntry::name)) return ERR_CACHEERROR;
  auto* e = new (std::nothrow) vlImageCacheEntry{};
  if (!e) return ERR_MEM;
  if (alpha && !(e->alpha = CopyAlphaPlane(alpha, width, height))) {
    delete e;
    return ERR_MEM;
  }
  std::strcpy(e->name, name);
  e->width = width;
  e->height = height;
  e->word1 = word1;
  e->word2 = word2;
  e->source = source;
  if (source) RetainLoadedSource(source);
  vlImageCacheEntry** link = &gCache;
  while (*link) link = &(*link)->next;
  *link = e;
  return 0;
}

int FindImageCacheEntry(const char* name, int wantAlpha, int32_t* width, int32_t* height, uint32_t* word1,
                        vlLoadedSource** source, vlBitmap** alpha, uint32_t* word2) {
  for (vlImageCacheEntry* e = gCache; e; e = e->next) {
    if (CompareNoCase(e->name, name)) continue;
    if (wantAlpha && !e->alpha) return ERR_CACHEERROR;
    if (wantAlpha && !(*alpha = CopyAlphaPlane(e->alpha, e->width, e->height))) return ERR_MEM;
    *width = e->width;
    *height = e->height;
    *word1 = e->word1;
    *word2 = e->word2;
    *source = e->source;
    if (e->source) RetainLoadedSource(e->source);
    return 0;
  }
  return ERR_CACHEERROR;
}

void FreeImageCache() {
  while (vlImageCacheEntry* e = gCache) {
    gCache = e->next;
    if (e->source) ReleaseLoadedSource(e->source);
    if (e->alpha) DeleteAlphaPlane(e->alpha);
    delete e;
  }
}
