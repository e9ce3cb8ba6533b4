// What is held, owed and deferred on a picture's way to the window: every
// reader of the pictures involved sees them as if each copy and drawing
// had been made at once, in the order it was asked for.
#include "graphics/presentation.h"

#include <gtest/gtest.h>

#include "abi/plugin_abi.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "platform/display_adapter.h"
#include "tests/graphics/graphics_test_util.h"

namespace {

// A picture that is to take the drawings made into another (a display's
// front copy of its back buffer) owes them until it is used or the other
// changes otherwise; drawings in between join the debt unpaid, and only
// the owed pixels are ever copied.
TEST(OwedDrawings, CarriedThroughDrawingsAndPaidWithOnlyTheOwedPixels) {
  constexpr uint32_t kJunk = 0x00DD00, kA = 0x0000AA, kB = 0xBB0000, kC = 0x00CCCC;
  vlBitmap* from = NewBitmap(24, 16, 0, nullptr);
  vlBitmap* to = NewBitmap(24, 16, 0, nullptr);
  ASSERT_TRUE(from && to);
  FillBitmapRect(from, 0, 0, 24, 16, kJunk);  // not owed: never copied
  FillBitmapRect(to, 0, 0, 24, 16, 0);
  auto draw = [&](int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color) {
    ASSERT_TRUE(BeginOwedDrawing(from, to));
    FillBitmapRect(from, x, y, w, h, color);
    EndOwedDrawing(from, to, x, y, w, h);
  };
  draw(0, 0, 4, 4, kA);
  draw(2, 2, 2, 2, kB);  // inside the first: both stay owed
  draw(8, 8, 2, 2, kB);
  FillBitmapRect(from, 0, 0, 24, 16, kC);  // a change not to be taken: paid first
  EXPECT_EQ(ReadBitmapPixel(to, 0, 0, 0) & 0xFFFFFF, kA);
  EXPECT_EQ(ReadBitmapPixel(to, 3, 3, 0) & 0xFFFFFF, kB);
  EXPECT_EQ(ReadBitmapPixel(to, 9, 9, 0) & 0xFFFFFF, kB);
  EXPECT_EQ(ReadBitmapPixel(to, 5, 5, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(ReadBitmapPixel(to, 7, 8, 0) & 0xFFFFFF, 0u);

  // More separate rectangles than the debt keeps apart: paid, not widened
  // to their bounding box.
  FillBitmapRect(from, 0, 0, 24, 16, kJunk);
  FillBitmapRect(to, 0, 0, 24, 16, 0);
  for (int i = 0; i < 70; ++i) draw(2 * (i % 10), 2 * (i / 10), 1, 1, kA);
  EXPECT_EQ(ReadBitmapPixel(to, 1, 0, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(ReadBitmapPixel(to, 1, 1, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(ReadBitmapPixel(to, 17, 11, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(ReadBitmapPixel(to, 0, 0, 0) & 0xFFFFFF, kA);
  EXPECT_EQ(ReadBitmapPixel(to, 18, 12, 0) & 0xFFFFFF, kA);  // the last drawing too

  // A debt of another pair keeps the slot: the drawing is not begun and
  // that debt is still paid when its picture is read.
  vlBitmap* other = NewBitmap(24, 16, 0, nullptr);
  ASSERT_NE(other, nullptr);
  FillBitmapRect(other, 0, 0, 24, 16, 0);
  const int32_t rect[4] = {4, 4, 2, 2};
  OweBitmapCopy(from, other, rect, 1);
  EXPECT_FALSE(BeginOwedDrawing(from, to));
  EXPECT_EQ(ReadBitmapPixel(other, 5, 5, 0) & 0xFFFFFF, kJunk);
  EXPECT_EQ(ReadBitmapPixel(other, 6, 6, 0) & 0xFFFFFF, 0u);

  // A picture deleted while owed forgets the debt (no copy into freed memory).
  draw(0, 0, 24, 16, kC);
  DeleteBitmap(to);
  FillBitmapRect(from, 0, 0, 24, 16, kA);
  EXPECT_EQ(ReadBitmapPixel(from, 0, 0, 0) & 0xFFFFFF, kA);
  DeleteBitmap(other);
  DeleteBitmap(from);
}

// A copy into a back buffer made only when the buffer is used: every
// reader of either picture sees what the copy would have made at the time
// it was asked for, whatever comes between, and in the order things were
// drawn (the copy, then drawing held for the buffer, then what a front
// copy owes the buffer).
vlBitmap* gHeldInto = nullptr;
TEST(DeferredCopies, EveryReaderSeesTheCopyAsItWasAskedFor) {
  constexpr uint32_t kA = 0x0000AA, kB = 0xBB0000, kJunk = 0x00DD00, kHeld = 0x123456;
  auto picture = [](uint32_t color) {
    vlBitmap* b = NewBitmap(24, 16, 0, nullptr);
    if (b) FillBitmapRect(b, 0, 0, 24, 16, color);
    return b;
  };
  auto at = [](vlBitmap* b, int32_t x, int32_t y) { return ReadBitmapPixel(b, x, y, 0) & 0xFFFFFF; };
  vlBitmap* a = picture(kA);
  vlBitmap* b = picture(kB);
  vlBitmap* back = picture(0);
  vlBitmap* front = picture(0);
  ASSERT_TRUE(a && b && back && front);

  // Read back: made then, from where the source was asked for.
  ASSERT_TRUE(DeferBitmapCopy(a, 4, 2, back, 10, 8, 6, 5));
  FillBitmapRect(a, 4, 2, 1, 1, kB);  // the source changes: the copy goes first
  EXPECT_EQ(at(back, 10, 8), kA);
  EXPECT_EQ(at(back, 15, 12), kA);
  EXPECT_EQ(at(back, 9, 8), 0u) << "outside the copy";
  EXPECT_EQ(at(back, 16, 12), 0u) << "outside the copy";
  FillBitmapRect(a, 0, 0, 24, 16, kA);

  // The source freed before the buffer is read.
  vlBitmap* gone = picture(kB);
  FillBitmapRect(back, 0, 0, 24, 16, 0);
  ASSERT_TRUE(DeferBitmapCopy(gone, 0, 0, back, 0, 0, 24, 16));
  DeleteBitmap(gone);
  EXPECT_EQ(at(back, 23, 15), kB);

  // A copy the next one does not cover is made first; one it covers is
  // dropped, and the buffer freed forgets the last one.
  FillBitmapRect(back, 0, 0, 24, 16, 0);
  ASSERT_TRUE(DeferBitmapCopy(a, 0, 0, back, 0, 0, 4, 4));
  ASSERT_TRUE(DeferBitmapCopy(b, 8, 8, back, 8, 8, 4, 4));
  EXPECT_EQ(at(back, 1, 1), kA);
  EXPECT_EQ(at(back, 9, 9), kB);
  ASSERT_TRUE(DeferBitmapCopy(a, 0, 0, back, 0, 0, 24, 16));
  ASSERT_TRUE(DeferBitmapCopy(b, 0, 0, back, 0, 0, 24, 16));
  EXPECT_EQ(at(back, 1, 1), kB);
  vlBitmap* doomed = picture(0);
  ASSERT_TRUE(DeferBitmapCopy(a, 0, 0, doomed, 0, 0, 24, 16));
  DeleteBitmap(doomed);
  FillBitmapRect(a, 0, 0, 24, 16, kA);  // would write into the freed picture

  // Drawing held for the buffer comes after the copy: it shows over it.
  FillBitmapRect(back, 0, 0, 24, 16, 0);
  ASSERT_TRUE(DeferBitmapCopy(a, 0, 0, back, 0, 0, 24, 16));
  gHeldInto = back;
  HoldPresentation(back, [] { FillBitmapRect(gHeldInto, 2, 2, 2, 2, kHeld); });
  EXPECT_EQ(at(back, 2, 2), kHeld);
  EXPECT_EQ(at(back, 5, 5), kA);

  // A front copy owed the buffer's drawing gets the copied pixels, whether
  // it is read, the source changes, the buffer is drawn into or a plain
  // copy covers the buffer before the front copy is paid.
  const char* ends[] = {"front read", "source drawn", "buffer drawn", "buffer covered", "pixels traded"};
  for (const char* end : ends) {
    SCOPED_TRACE(end);
    FillBitmapRect(a, 0, 0, 24, 16, kA);
    FillBitmapRect(back, 0, 0, 24, 16, kJunk);
    FillBitmapRect(front, 0, 0, 24, 16, 0);
    ASSERT_TRUE(BeginOwedDrawing(back, front));
    ASSERT_TRUE(DeferBitmapCopy(a, 0, 0, back, 0, 0, 24, 16));
    EndOwedDrawing(back, front, 0, 0, 24, 16);
    vlBitmap* shown = front;
    vlBitmap* spare = picture(0);
    if (end == ends[1]) FillBitmapRect(a, 0, 0, 24, 16, kB);
    if (end == ends[2]) FillBitmapRect(back, 0, 0, 2, 2, kB);
    if (end == ends[3]) BltBitmap(b, 0, 0, back, 0, 0, 24, 16);
    if (end == ends[4]) {
      ASSERT_EQ(SwapBitmapPixels(front, spare), 1);
      shown = spare;
    }
    EXPECT_EQ(at(shown, 12, 8), kA);
    EXPECT_EQ(at(shown, 0, 0), kA);
    DeleteBitmap(spare);
  }

  // Nothing deferred that the pictures cannot hold.
  EXPECT_FALSE(DeferBitmapCopy(a, 0, 0, back, 1, 0, 24, 16));
  EXPECT_FALSE(DeferBitmapCopy(a, -1, 0, back, 0, 0, 4, 4));
  EXPECT_FALSE(DeferBitmapCopy(a, 0, 0, a, 4, 4, 4, 4));
  EXPECT_FALSE(DeferBitmapCopy(a, 0, 0, back, 0, 0, 0, 4));
  vlBitmap* alpha = NewAlphaPlane(24, 16, 1, nullptr, 0);
  EXPECT_FALSE(DeferBitmapCopy(alpha, 0, 0, back, 0, 0, 4, 4));
  DeleteAlphaPlane(alpha);
  for (vlBitmap* p : {a, b, back, front}) DeleteBitmap(p);
}

}  // namespace

namespace {

int gRedraws = 0;
vlBitmap* gRedrawInto = nullptr;
void CountedRedraw() {
  gRedraws++;
  // The redraw draws into the held picture: no second round of itself.
  FillBitmapRect(gRedrawInto, 0, 0, 4, 4, 0x123456);
}

// One hold, settled once by whichever comes first: a lock of the held
// picture, a send, or a wait's flush; forgotten with the picture; refused
// while a display adapter takes drawing as it comes.
TEST(HeldPresentation, RunsOnceAtTheFirstUseOrSendAndNeverForAnAdapter) {
  vlBitmap* back = NewBitmap(8, 8, 0, nullptr);
  vlBitmap* other = NewBitmap(8, 8, 0, nullptr);
  ASSERT_TRUE(back && other);
  gRedrawInto = back;

  gRedraws = 0;
  ASSERT_TRUE(HoldPresentation(back, CountedRedraw));
  FillBitmapRect(other, 0, 0, 8, 8, 0);  // another picture: nothing settles
  EXPECT_EQ(gRedraws, 0);
  EXPECT_EQ(ReadBitmapPixel(back, 1, 1, 0) & 0xFFFFFF, 0x123456u);  // the read settles first
  EXPECT_EQ(gRedraws, 1);
  SendPresentation(true);
  EXPECT_EQ(gRedraws, 1);

  ASSERT_TRUE(HoldPresentation(back, CountedRedraw));
  SendPresentation(true);
  SendPresentation(true);
  EXPECT_EQ(gRedraws, 2);

  ASSERT_TRUE(HoldPresentation(back, CountedRedraw));
  EndPacedFrame(0);  // a paced frame sends what is held
  EXPECT_EQ(gRedraws, 3);

  ASSERT_TRUE(HoldPresentation(back, CountedRedraw));
  HoldPresentation(nullptr, nullptr);  // forgotten
  SendPresentation(true);
  EXPECT_EQ(gRedraws, 3);

  vlBitmap* doomed = NewBitmap(8, 8, 0, nullptr);
  gRedrawInto = doomed;
  ASSERT_TRUE(HoldPresentation(doomed, CountedRedraw));
  DeleteBitmap(doomed);  // nothing may draw into a freed picture
  SendPresentation(true);
  EXPECT_EQ(gRedraws, 3);

  vlPluginInfo adapter{};
  vlDisplayAdapter = &adapter;
  gRedrawInto = back;
  EXPECT_FALSE(HoldPresentation(back, CountedRedraw));
  vlDisplayAdapter = nullptr;
  SendPresentation(true);
  EXPECT_EQ(gRedraws, 3);
  DeleteBitmap(back);
  DeleteBitmap(other);
}

}  // namespace
