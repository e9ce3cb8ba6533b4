// What is held, owed and deferred on a picture's way to the window: every
// reader of the pictures involved sees them as if each copy and drawing
// had been made at once, in the order it was asked for.
#include "graphics/presentation.h"

#include <gtest/gtest.h>

#include <vector>

#include "abi/plugin_abi.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "platform/display_adapter.h"
#include "runtime/hooks.h"
#include "tests/graphics/graphics_test_util.h"

namespace {

// The layer engine's kept blend holds while every part of what it was made
// from stays as it was, through commands that change no picture, and not
// while a hook may change pictures behind the engine's back.
TEST(KeptBlend, HoldsOnlyWhileWhatItWasMadeFromStays) {
  int displayA = 0, displayB = 0, picA = 0, picB = 0;
  vlBitmap* background = NewBitmap(8, 8, 0, nullptr);
  vlBitmap* other = NewBitmap(8, 8, 0, nullptr);
  ASSERT_TRUE(background && other);
  const vlKeptBlendKey made{&displayA, &picA, background, 640, 480, 7, 3, 11};
  EXPECT_FALSE(KeptBlendHolds(made)) << "nothing kept yet";
  KeepBlendFor(made);
  EXPECT_TRUE(BlendKept());
  EXPECT_TRUE(KeptBlendHolds(made));
  const char* const fields[] = {"display", "picture", "background", "width",
                                "height",  "command", "layer change", "list change"};
  for (int field = 0; field < 8; field++) {
    vlKeptBlendKey now = made;
    switch (field) {
      case 0: now.display = &displayB; break;
      case 1: now.pic = &picB; break;
      case 2: now.background = other; break;
      case 3: now.width++; break;
      case 4: now.height--; break;
      case 5: now.commands++; break;
      case 6: now.epoch++; break;
      default: now.listChanges++; break;
    }
    EXPECT_FALSE(KeptBlendHolds(now)) << fields[field];
  }
  // A command that changes no picture carries it one command on, once.
  KeepBlendThrough(9);  // not the next command: no carry
  vlKeptBlendKey later = made;
  later.commands = 8;
  EXPECT_FALSE(KeptBlendHolds(later));
  KeepBlendThrough(8);
  EXPECT_TRUE(KeptBlendHolds(later));
  EXPECT_FALSE(KeptBlendHolds(made));
  vlHook* hook = AddHook(0, reinterpret_cast<void*>(+[] {}), nullptr, 0);
  ASSERT_NE(hook, nullptr);
  EXPECT_FALSE(KeptBlendHolds(later)) << "a hook is set";
  RemoveHook(hook);
  EXPECT_TRUE(KeptBlendHolds(later));
  DropKeptBlend();
  EXPECT_FALSE(BlendKept());
  EXPECT_FALSE(KeptBlendHolds(later));
  KeepBlendThrough(9);  // nothing kept: nothing carried
  later.commands = 9;
  EXPECT_FALSE(KeptBlendHolds(later));
  DeleteBitmap(background);
  DeleteBitmap(other);
}

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
// A back buffer's owner as the tests play it: every redraw is noted and
// fills its rectangle with the colour, while the owner still shows it.
struct TestOwner {
  vlBitmap* into = nullptr;
  uint32_t colour = 0;
  bool shown = true;
  std::vector<std::vector<int32_t>> redraws;
};
TestOwner gOwner;
const vlHeldRedrawer kTestRedrawer = {
    [](void* owner, const vlBitmap* back) {
      auto* o = static_cast<TestOwner*>(owner);
      return o->shown && o->into == back;
    },
    [](void* owner, void*, int32_t x, int32_t y, int32_t w, int32_t h) {
      auto* o = static_cast<TestOwner*>(owner);
      o->redraws.push_back({x, y, w, h});
      // The redraw draws into the held picture: no second round of itself.
      FillBitmapRect(o->into, x, y, w, h, o->colour);
    }};

bool Hold(vlBitmap* back, const void* mover, vlHeldBox box, TestOwner* owner = &gOwner) {
  owner->into = back;
  return HoldRedraw(back, owner, nullptr, &kTestRedrawer, &mover, 1, &box, 1);
}
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
  gOwner = TestOwner{};
  gOwner.colour = kHeld;
  ASSERT_TRUE(Hold(back, nullptr, {2, 2, 3, 3}));
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

using Boxes = std::vector<std::vector<int32_t>>;

// Held rectangles are redrawn once, merged where that costs few pixels,
// at whichever comes first: a lock of the back buffer, a send, a paced
// frame, a second move of something held, or a hold for another owner;
// not at all when the owner no longer shows the buffer or the buffer is
// freed; and never for a display adapter.
TEST(HeldRedraw, MergedAndDrawnOnceAtTheFirstUseOrSend) {
  vlBitmap* back = NewBitmap(16, 16, 0, nullptr);
  vlBitmap* other = NewBitmap(16, 16, 0, nullptr);
  ASSERT_TRUE(back && other);
  gOwner = TestOwner{};
  gOwner.colour = 0x123456;
  int a = 0, b = 0;

  // Two overlapping moves: one box of their bounds, drawn when read.
  ASSERT_TRUE(Hold(back, &a, {0, 0, 3, 3}));
  ASSERT_TRUE(Hold(back, &b, {2, 2, 5, 5}));
  FillBitmapRect(other, 0, 0, 16, 16, 0);  // another picture: nothing settles
  EXPECT_TRUE(gOwner.redraws.empty());
  EXPECT_EQ(ReadBitmapPixel(back, 1, 1, 0) & 0xFFFFFF, 0x123456u);
  EXPECT_EQ(gOwner.redraws, (Boxes{{0, 0, 6, 6}}));
  SendPresentation(true);
  EXPECT_EQ(gOwner.redraws.size(), 1u);

  // Apart, or in an L whose bounds would cost twice their pixels: one by one.
  gOwner.redraws.clear();
  ASSERT_TRUE(Hold(back, &a, {0, 0, 0, 0}));
  ASSERT_TRUE(Hold(back, &b, {9, 9, 9, 9}));
  SendPresentation(true);
  EXPECT_EQ(gOwner.redraws, (Boxes{{0, 0, 1, 1}, {9, 9, 1, 1}}));
  gOwner.redraws.clear();
  ASSERT_TRUE(Hold(back, &a, {0, 0, 1, 7}));
  ASSERT_TRUE(Hold(back, &b, {0, 6, 7, 7}));
  EndPacedFrame(0);  // a paced frame sends what is held
  EXPECT_EQ(gOwner.redraws, (Boxes{{0, 0, 2, 8}, {0, 6, 8, 2}}));

  // The same mover again: what it left is drawn before its next place.
  gOwner.redraws.clear();
  ASSERT_TRUE(Hold(back, &a, {0, 0, 0, 0}));
  ASSERT_TRUE(Hold(back, &a, {5, 5, 5, 5}));
  EXPECT_EQ(gOwner.redraws, (Boxes{{0, 0, 1, 1}}));
  // Another owner's hold: this one's first.
  TestOwner second;
  ASSERT_TRUE(Hold(other, &b, {3, 3, 3, 3}, &second));
  EXPECT_EQ(gOwner.redraws, (Boxes{{0, 0, 1, 1}, {5, 5, 1, 1}}));
  SendPresentation(true);
  EXPECT_EQ(second.redraws, (Boxes{{3, 3, 1, 1}}));

  // Not shown any more, or freed: nothing is drawn.
  gOwner.redraws.clear();
  ASSERT_TRUE(Hold(back, &a, {0, 0, 0, 0}));
  gOwner.shown = false;
  SendPresentation(true);
  gOwner.shown = true;
  vlBitmap* doomed = NewBitmap(8, 8, 0, nullptr);
  ASSERT_TRUE(Hold(doomed, &a, {0, 0, 0, 0}));
  DeleteBitmap(doomed);  // nothing may draw into a freed picture
  SendPresentation(true);
  EXPECT_TRUE(gOwner.redraws.empty());

  vlPluginInfo adapter{};
  vlDisplayAdapter = &adapter;
  EXPECT_FALSE(Hold(back, &a, {0, 0, 0, 0}));
  vlDisplayAdapter = nullptr;
  SendPresentation(true);
  EXPECT_TRUE(gOwner.redraws.empty());
  DeleteBitmap(back);
  DeleteBitmap(other);
}

}  // namespace
