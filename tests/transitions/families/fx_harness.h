// Runs one effect family off screen: the new and the old picture carry a
// colour per pixel that names the picture and the place, the frames go
// into a target bitmap through the spare display record, and each frame's
// result is read back for exact checks.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <utility>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "platform/offscreen_bitmap.h"
#include "transitions/fx_engine.h"

namespace fxtest {

inline uint32_t NewColor(int x, int y) { return 0x800000u | (static_cast<uint32_t>(x) << 11) | static_cast<uint32_t>(y); }
inline uint32_t OldColor(int x, int y) { return (static_cast<uint32_t>(x) << 11) | static_cast<uint32_t>(y); }

class OffscreenFx : public ::testing::Test {
 public:
  struct Box {
    int x, y, w, h;
  };

 protected:
  void SetUp() override {
    SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
    spare_.outputType = VL_OUTPUT_DISPLAY;
    vlSpareDisplay = &spare_;
  }
  void TearDown() override {
    Release();
    vlSpareDisplay = nullptr;
    SetGlobalPixelFormat(-1);
  }

  static vlBitmap* Picture(int w, int h, bool fresh) {
    std::vector<uint32_t> argb(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        argb[static_cast<size_t>(y) * w + x] = 0xFF000000u | (fresh ? NewColor(x, y) : OldColor(x, y));
    vlBitmap* b = NewBitmap(w, h, 0, nullptr);
    WriteBitmapARGB(argb.data(), w * 4, b, 0, 0, w, h);
    return b;
  }

  void Release() {
    if (fx) FreeFXContext(fx, 1);
    fx = nullptr;
    DeleteBitmap(target);
    target = nullptr;
  }

  // The context of effect id on a w x h rectangle at (0, 0) of a target of
  // the same size that shows the old picture; the family's initialisation
  // has run.
  int Start(int32_t effect, int w, int h, int32_t speed, int32_t parameter = -1) {
    Release();
    fx = static_cast<vlFxContext*>(std::calloc(1, sizeof(vlFxContext)));
    fx->objectType = VL_FX_BGPIC;
    fx->effect = effect;
    fx->stepSize = fx->speed = speed;
    fx->parameter = parameter;
    fx->width = fx->destWidth = w;
    fx->height = fx->destHeight = h;
    fx->source = Picture(w, h, true);
    fx->ownsSource = 1;
    fx->oldPicture = Picture(w, h, false);
    fx->blitFlags = 4 | VL_SAFEBLT_OFFSCREEN;
    target = Picture(w, h, false);
    fx->target = target;
    fx->step = vlFxTable[effect].step;
    fx->cleanup = vlFxTable[effect].cleanup;
    int32_t done = 0;
    const int status = fx->step(fx, &done);
    fx->phase = 1;
    Read();
    return status;
  }

  // One frame; returns done.
  int32_t Frame() {
    int32_t done = 0;
    EXPECT_EQ(fx->step(fx, &done), 0);
    Read();
    return done;
  }

  // Frames until done (at most limit); the number run.
  int RunToEnd(int limit = 100000) {
    int n = 0;
    while (n < limit) {
      ++n;
      if (Frame()) break;
    }
    return n;
  }

  void Read() {
    uint32_t* argb = ReadBitmapARGB(target, 0, 0, fx->width, fx->height, 0);
    pixels.assign(argb, argb + static_cast<size_t>(fx->width) * fx->height);
    delete[] argb;
  }
  uint32_t Pixel(int x, int y) const { return pixels[static_cast<size_t>(y) * fx->width + x] & 0xFFFFFF; }
  bool IsNew(int x, int y) const { return Pixel(x, y) == NewColor(x, y); }
  bool IsOld(int x, int y) const { return Pixel(x, y) == OldColor(x, y); }
  int CountNew() const {
    int n = 0;
    for (int y = 0; y < fx->height; ++y)
      for (int x = 0; x < fx->width; ++x) n += IsNew(x, y);
    return n;
  }
  bool AllNew() const { return CountNew() == fx->width * fx->height; }
  // True when exactly the pixels inside the rectangles are new and all
  // others old.
  bool NewExactly(const std::vector<Box>& boxes) const {
    for (int y = 0; y < fx->height; ++y)
      for (int x = 0; x < fx->width; ++x) {
        bool in = false;
        for (const Box& b : boxes) in = in || (x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h);
        if (in ? !IsNew(x, y) : !IsOld(x, y)) {
          ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << Pixel(x, y);
          return false;
        }
      }
    return true;
  }

  // Each effect at a few sizes and speeds stops within its frame count
  // (and the finishing frame) on the whole new picture.
  void ExpectEachEndsOnTheNewPicture(std::initializer_list<int> ids, std::initializer_list<int> speeds) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 3}, std::pair{37, 23}, std::pair{50, 64}})
      for (int id : ids)
        for (int speed : speeds) {
          ASSERT_EQ(Start(id, w, h, speed, 0x00FF00), 0) << id;
          const int frames = RunToEnd(20000);
          ASSERT_LE(frames, fx->frameCount + 1) << id << " " << w << "x" << h << " speed " << speed;
          ASSERT_TRUE(AllNew()) << "effect " << id << " " << w << "x" << h << " speed " << speed;
        }
  }

  vlFxContext* fx = nullptr;
  vlBitmap* target = nullptr;
  std::vector<uint32_t> pixels;
  vlDisplay spare_{};
};

}  // namespace fxtest
