// The cache of decoded pictures keyed by file name: loading the same
// picture again shares the decoded source instead of decoding it twice.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlLoadedSource;

struct vlImageCacheEntry {
  vlImageCacheEntry* next;
  char name[1024];
  int32_t width, height;
  uint32_t word1;
  vlLoadedSource* source;  // one reference held by the entry
  uint32_t word2;
  vlBitmap* alpha;  // private copy, or null
};

// Appends an entry; alpha (when given) is copied. 0, 1000, or 1246 for a
// name that does not fit the entry (it could never be found again).
int AddImageCacheEntry(const char* name, int32_t width, int32_t height, uint32_t word1, vlLoadedSource* source,
                       vlBitmap* alpha, uint32_t word2);
// Names compare case-insensitively. 1246 when missing, or when wantAlpha
// is set and the entry has none; with wantAlpha *alpha is a fresh copy.
// The source gets one more reference for the caller.
int FindImageCacheEntry(const char* name, int wantAlpha, int32_t* width, int32_t* height, uint32_t* word1,
                        vlLoadedSource** source, vlBitmap** alpha, uint32_t* word2);
void FreeImageCache();
