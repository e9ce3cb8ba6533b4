// The decoded-picture cache: case-insensitive look-ups, the alpha rules,
// private alpha copies and the source references it holds.
#include <gtest/gtest.h>

#include <string>

#include "graphics/bitmap.h"
#include "formats/image_cache.h"
#include "formats/loaded_source.h"
#include "vm/error_codes.h"

namespace {

struct CacheGuard {
  ~CacheGuard() { FreeImageCache(); }
};

TEST(ImageCache, FindsByNameIgnoringCaseAndSharesTheSource) {
  CacheGuard guard;
  vlLoadedSource* src = NewOwnedLoadedSource(4, 3);
  ASSERT_NE(src, nullptr);
  ASSERT_EQ(AddImageCacheEntry("Pics/Title.PNG", 4, 3, 11, src, nullptr, 22), 0);
  ReleaseLoadedSource(src);  // the cache keeps its own reference

  int32_t w = 0, h = 0;
  uint32_t a = 0, b = 0;
  vlLoadedSource* found = nullptr;
  vlBitmap* alpha = nullptr;
  ASSERT_EQ(FindImageCacheEntry("pics/title.png", 0, &w, &h, &a, &found, &alpha, &b), 0);
  EXPECT_EQ(found, src);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(a, 11u);
  EXPECT_EQ(b, 22u);
  EXPECT_EQ(alpha, nullptr);
  // Still alive after its first owner let go (ASan reports a use after
  // free if the cache took no reference).
  EXPECT_NE(GetLoadedSourcePixels(found), nullptr);
  ReleaseLoadedSource(found);

  EXPECT_EQ(FindImageCacheEntry("pics/other.png", 0, &w, &h, &a, &found, &alpha, &b), ERR_CACHEERROR);
  // Asking for alpha of an entry without one is an error, not an empty plane.
  EXPECT_EQ(FindImageCacheEntry("pics/title.png", 1, &w, &h, &a, &found, &alpha, &b), ERR_CACHEERROR);
}

TEST(ImageCache, AlphaPlanesAreCopiedInAndOut) {
  CacheGuard guard;
  vlBitmap* plane = NewAlphaPlane(5, 2, 1, nullptr, 0);
  ASSERT_NE(plane, nullptr);
  FillAlphaRect(plane, 1, 1, 2, 1, 200);
  ASSERT_EQ(AddImageCacheEntry("a.png", 5, 2, 0, nullptr, plane, 0), 0);
  FillAlphaRect(plane, 0, 0, 5, 2, 7);  // the cache's copy must not follow
  DeleteAlphaPlane(plane);

  int32_t w, h;
  uint32_t a, b;
  vlLoadedSource* found = nullptr;
  vlBitmap* copy1 = nullptr;
  vlBitmap* copy2 = nullptr;
  ASSERT_EQ(FindImageCacheEntry("A.PNG", 1, &w, &h, &a, &found, &copy1, &b), 0);
  ASSERT_EQ(FindImageCacheEntry("A.PNG", 1, &w, &h, &a, &found, &copy2, &b), 0);
  ASSERT_NE(copy1, nullptr);
  EXPECT_NE(copy1, copy2);
  auto* p = static_cast<vlPlane*>(copy1->handle);
  EXPECT_EQ(p->pixels[0], 0);
  EXPECT_EQ(p->pixels[p->rowBytes + 1], 200);
  EXPECT_EQ(p->pixels[p->rowBytes + 3], 0);
  DeleteAlphaPlane(copy1);
  DeleteAlphaPlane(copy2);
}

TEST(ImageCache, NameTooLongIsRefused) {
  CacheGuard guard;
  std::string name(1024, 'x');
  EXPECT_EQ(AddImageCacheEntry(name.c_str(), 1, 1, 0, nullptr, nullptr, 0), ERR_CACHEERROR);
  name.resize(1023);
  EXPECT_EQ(AddImageCacheEntry(name.c_str(), 1, 1, 0, nullptr, nullptr, 0), 0);
}

}  // namespace
