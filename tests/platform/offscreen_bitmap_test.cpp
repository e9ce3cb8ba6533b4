// Offscreen bitmaps: row rounding, the format they take from the display,
// the lock record and the bit depth.
#include "platform/offscreen_bitmap.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct FormatReset {
  ~FormatReset() { SetGlobalPixelFormat(-1); }
};

TEST(OffscreenBitmap, RowsRoundToFourPixelsInTheDisplayFormat) {
  FormatReset reset;
  vlOffscreenBitmap* bm = AllocOffscreenBitmap(5, 3, 0);
  ASSERT_NE(bm, nullptr);
  EXPECT_EQ(bm->pixelFormat, 10);  // unset display format
  EXPECT_EQ(bm->bytesPerPixel, 4);
  EXPECT_EQ(bm->bytesPerRow, 32);  // 8 pixels
  EXPECT_EQ(bm->width, 5);
  std::memset(bm->pixels, 0xAB, 32 * 3);  // the whole buffer is ours
  vlOffscreenAccess acc;
  ASSERT_EQ(LockOffscreenBitmap(bm, &acc), 1);
  EXPECT_EQ(acc.ok, 1);
  EXPECT_EQ(acc.pixels, bm->pixels);
  EXPECT_EQ(acc.rowLength, 8);
  EXPECT_EQ(acc.width, 5);
  EXPECT_EQ(acc.height, 3);
  EXPECT_EQ(acc.pixelFormat, 10);
  UnlockOffscreenBitmap(bm);
  FreeOffscreenBitmap(bm);

  bm = AllocOffscreenBitmap(8, 1, 0);
  ASSERT_NE(bm, nullptr);
  EXPECT_EQ(bm->bytesPerRow, 32);
  FreeOffscreenBitmap(bm);

  SetGlobalPixelFormat(4);
  EXPECT_EQ(GetDisplayBitDepth(), 16);
  bm = AllocOffscreenBitmap(9, 2, 0);
  ASSERT_NE(bm, nullptr);
  EXPECT_EQ(bm->pixelFormat, 4);
  EXPECT_EQ(bm->bytesPerRow, 24);  // 12 pixels of 2 bytes
  ASSERT_EQ(LockOffscreenBitmap(bm, &acc), 1);
  EXPECT_EQ(acc.rowLength, 12);
  FreeOffscreenBitmap(bm);
  SetGlobalPixelFormat(8);
  EXPECT_EQ(GetDisplayBitDepth(), 24);
}

TEST(OffscreenBitmap, RefusesBadSizesAndNullHeaders) {
  EXPECT_EQ(GetDisplayBitDepth(), 32);
  EXPECT_EQ(AllocOffscreenBitmap(0, 10, 0), nullptr);
  EXPECT_EQ(AllocOffscreenBitmap(10, -1, 0), nullptr);
  EXPECT_EQ(AllocOffscreenBitmap(INT32_MAX, INT32_MAX, 0), nullptr);
  vlOffscreenAccess acc;
  EXPECT_EQ(LockOffscreenBitmap(nullptr, &acc), 0);
  FreeOffscreenBitmap(nullptr);
}

}  // namespace
