// The move engine stepped by hand (paths of bounce, sine and diagonal moves
// against their rules) and the moveobject commands on a private X server:
// where the object ends, what it leaves behind, locks and error codes.
#include "tests/display/core/display_fixture.h"

#include <cmath>
#include <string>
#include <vector>

#include "display/layers/async_draw.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/movement/move.h"
#include "objects/sprites/sprite.h"
#include "vm/error_codes.h"

namespace {

class MoveTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenAnimLib(L), 0);
    ASSERT_EQ(OpenSpriteLib(L), 0);
    ASSERT_EQ(OpenMoveObjectLib(L), 0);
    vlMoveFrameDelayUs = 0;
    ASSERT_EQ(Run(".table 0 { width = 400, height = 300, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    d_ = CurrentDisplay();
    ASSERT_NE(d_, nullptr);
  }
  void TearDown() override {
    if (started_) {
      FreeAsyncDraws(L);
      FreeSpriteLibrary(L);
      FreeAnimLibrary(L);
      FreeBrushLib(L);
    }
    DisplayTest::TearDown();
  }
  // Steps an internal job of brush 1 to the end; the positions after each step.
  std::vector<std::pair<int, int>> Path(int x1, int y1, int x2, int y2, int speed, int fx) {
    vlMoveJob job{};
    job.vm = L;
    job.kind = VL_KIND_BRUSH;
    job.id = {1, nullptr};
    job.x = x1, job.y = y1, job.endX = x2, job.endY = y2;
    job.xStep = speed;
    job.animSpeed = -1;
    job.fx = fx;
    job.internal = 1;
    std::vector<std::pair<int, int>> path;
    EXPECT_EQ(RunObjectMove(&job), 0);
    int32_t done = 0;
    for (int i = 0; i < 10000 && !done; ++i) {
      EXPECT_EQ(job.step(&job, &done), 0);
      path.emplace_back(job.x, job.y);
    }
    EXPECT_EQ(done, 1);
    job.free(&job);
    return path;
  }
  vlDisplay* d_ = nullptr;
};

TEST_F(MoveTest, BouncePathOvershootsByHalvingUnits) {
  ASSERT_EQ(Run(".call createbrush 1 10 10 16711680"), 0);
  auto path = Path(0, 50, 100, 50, 10, VL_MOVEFX_BOUNCE);
  std::vector<int> turns;  // x where the direction changes
  for (size_t i = 1; i + 1 < path.size(); ++i) {
    const int a = path[i].first - path[i - 1].first, b = path[i + 1].first - path[i].first;
    if ((a > 0 && b < 0) || (a < 0 && b > 0)) turns.push_back(path[i].first);
    EXPECT_EQ(path[i].second, 50);
  }
  EXPECT_EQ(turns, (std::vector<int>{260, 20, 140, 80, 110}));
  EXPECT_EQ(path.back(), std::make_pair(100, 50));
  // The last stretch runs one pixel per step.
  EXPECT_EQ(path[path.size() - 2].first, 101);
  // The brush was locked only while the job lived.
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &b, 0), 0);
  EXPECT_EQ(b->locked, 0u);
}

TEST_F(MoveTest, SineDiagonalAndSmoothPaths) {
  ASSERT_EQ(Run(".call createbrush 1 10 10 255"), 0);
  // Sine: y follows the table, x stops at the end, one finishing step snaps y.
  auto sine = Path(0, 100, 95, 100, 10, VL_MOVEFX_SINE);
  ASSERT_GE(sine.size(), 2u);
  EXPECT_EQ(sine.back(), std::make_pair(95, 100));
  EXPECT_EQ(sine[sine.size() - 2].first, 95);
  const int steps = 10, inc = 2;
  int index = (79 - (inc * steps) % 79) % 79;
  EXPECT_EQ(sine[0].second, static_cast<int>(100 + 50 * std::sin(0.08 * (index + 1))));
  // Diagonal of a square object: y moves 10 a step, x gets the 5 leftover pixels one per step.
  auto diag = Path(0, 0, 5, 100, 10, 0);
  ASSERT_EQ(diag.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(diag[i], std::make_pair(std::min(i + 1, 5), (i + 1) * 10)) << i;
  // Smooth-out slows down near the end.
  auto smooth = Path(0, 0, 200, 0, 10, VL_MOVEFX_SMOOTHOUT);
  EXPECT_EQ(smooth.back().first, 200);
  EXPECT_EQ(smooth[smooth.size() - 1].first - smooth[smooth.size() - 2].first, 1);
  // Arcs leave the line and come back to it.
  auto arc = Path(0, 150, 100, 150, 10, VL_MOVEFX_LOWERCURVE);
  EXPECT_EQ(arc.back(), std::make_pair(100, 150));
  EXPECT_GT(arc[4].second, 250);
}

TEST_F(MoveTest, FastSineMovesStayOnTheirWave) {
  ASSERT_EQ(Run(".call createbrush 1 10 10 255"), 0);
  // Speed 640 steps 160 entries of the 79-entry table at a time.
  ASSERT_EQ(Run(".table 0 { async = 1, speed = 640, fx = 4 }\n.call base=1 movebrush 1 0 100 3000 100 r0"), 0);
  vlAsyncDraw* draw = FirstAsyncDraw();
  ASSERT_NE(draw, nullptr);
  auto* job = static_cast<vlMoveJob*>(draw->userData);
  ASSERT_EQ(job->fx, VL_MOVEFX_SINE);
  for (int n = 0; !draw->done && n < 20; ++n) {
    ASSERT_EQ(RunAsyncDrawStep(L, draw, 0), 0);
    if (draw->done) break;
    EXPECT_GE(job->y, 50) << n;
    EXPECT_LE(job->y, 150) << n;
  }
  EXPECT_TRUE(draw->done);
  FreeAsyncDraws(L);
}

TEST_F(MoveTest, MoveBrushOnTheWindow) {
  ASSERT_EQ(Run(".call createbrush 1 10 10 16711680"), 0);
  ASSERT_EQ(Run(".call movebrush 1 0 20 100 20 -2"), 0);
  EXPECT_EQ(WindowPixel(d_, 105, 25), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 5, 25), 0u);   // the start was restored
  EXPECT_EQ(WindowPixel(d_, 95, 25), 0u);
  // Speed 0 fails; start equal to end draws nothing.
  EXPECT_EQ(Run(".call movebrush 1 0 20 100 20 0"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call movebrush 1 200 200 200 200"), 0);
  EXPECT_EQ(WindowPixel(d_, 205, 205), 0u);
  EXPECT_EQ(Run(".call movebrush 9 0 0 10 10"), ERR_FINDBRUSH);
  // Async: the brush is locked until the move is finished.
  ASSERT_EQ(Run(".table 0 { async = 1, speed = 5 }\n.call base=1 movebrush 1 0 50 60 50 r0 -> h"), 0);
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &b, 0), 0);
  EXPECT_EQ(b->locked, 1u);
  EXPECT_EQ(Run(".call freebrush 1"), ERR_LOCKEDOBJ);
  vlAsyncDraw* draw = FirstAsyncDraw();
  ASSERT_NE(draw, nullptr);
  int32_t n = 0;
  while (!draw->done && n++ < 100) ASSERT_EQ(RunAsyncDrawStep(L, draw, 0), 0);
  EXPECT_EQ(n, 12);
  FreeAsyncDraws(L);
  EXPECT_EQ(b->locked, 0u);
  EXPECT_EQ(WindowPixel(d_, 65, 55), 0xFF0000u);
}

// Finishing an async move early draws the object on its end point; cancelling
// leaves it where the last step put it. Both unlock the object.
TEST_F(MoveTest, FinishAndCancelAsyncMove) {
  ASSERT_EQ(Run(".call createbrush 1 10 10 16711680"), 0);
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &b, 0), 0);
  ASSERT_EQ(Run(".table 0 { async = 1, speed = 5, fx = 1 }\n.call base=1 movebrush 1 0 50 200 50 r0 -> h"), 0);
  vlAsyncDraw* draw = FirstAsyncDraw();
  ASSERT_NE(draw, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(RunAsyncDrawStep(L, draw, 0), 0);
  EXPECT_EQ(WindowPixel(d_, 17, 55), 0xFF0000u);
  ASSERT_EQ(FinishAsyncDraw(L, {0, draw}), 0);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(b->locked, 0u);
  EXPECT_EQ(WindowPixel(d_, 205, 55), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 195, 55), 0u);
  EXPECT_EQ(WindowPixel(d_, 17, 55), 0u);  // the last drawn place was restored
  EXPECT_EQ(FinishAsyncDraw(L, {0, draw}), ERR_FINDARRAY);

  ASSERT_EQ(Run(".table 0 { async = 1, speed = 5 }\n.call base=1 movebrush 1 0 100 200 100 r0 -> h"), 0);
  draw = FirstAsyncDraw();
  ASSERT_NE(draw, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(RunAsyncDrawStep(L, draw, 0), 0);
  ASSERT_EQ(CancelAsyncDraw(L, {0, draw}), 0);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(b->locked, 0u);
  EXPECT_EQ(WindowPixel(d_, 17, 105), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 205, 105), 0u);

  // A layer move finishes with its layer on the end point.
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  ASSERT_EQ(Run(".table 0 { async = 1, speed = 5 }\n.call base=1 movebrush 1 0 150 300 150 r0 -> h"), 0);
  draw = FirstAsyncDraw();
  ASSERT_NE(draw, nullptr);
  ASSERT_EQ(RunAsyncDrawStep(L, draw, 0), 0);
  vlLayer* layer = GetLayerByPos(d_->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->geometry[0]->x, 5);
  ASSERT_EQ(FinishAsyncDraw(L, {0, draw}), 0);
  EXPECT_EQ(layer->geometry[0]->x, 300);
  EXPECT_EQ(layer->geometry[0]->y, 150);
  EXPECT_EQ(b->locked, 0u);
  ASSERT_EQ(Run(".call disablelayers"), 0);
  ShutdownLayerSystem(L);
}

TEST_F(MoveTest, MoveSpriteAndLayer) {
  ASSERT_EQ(Run(".call createbrush 1 12 4 16711680"), 0);
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &b, 0), 0);
  FillBitmapRect(b->bitmap, 4, 0, 4, 4, 0xFF00FF00u);
  FillBitmapRect(b->bitmap, 8, 0, 4, 4, 0xFF0000FFu);
  ASSERT_EQ(Run(".call createsprite 1 3 1 4 4 3 3"), 0);
  ASSERT_EQ(Run(".call movesprite 1 0 0 50 0 10 0"), 0);
  vlSpriteNode* node = nullptr;
  ASSERT_EQ(FindSpriteOnScreen({1, nullptr}, &node), 0);
  EXPECT_EQ(node->x, 50);
  EXPECT_EQ(WindowPixel(d_, 5, 1), 0u);
  const uint32_t shown = WindowPixel(d_, 51, 1);
  EXPECT_TRUE(shown == 0xFF0000u || shown == 0x00FF00u || shown == 0x0000FFu) << std::hex << shown;
  // Layers: sprites refuse, layers move.
  ASSERT_EQ(Run(".call removesprites"), 0);
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  EXPECT_EQ(Run(".call movesprite 1 0 0 50 0"), ERR_LAYERSOFF);
  ASSERT_EQ(Run(".call createanim 2 1 4 4 3 3\n.call moveanim 2 0 100 40 100 -2"), 0);
  vlLayer* layer = GetLayerByPos(d_->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->type, VL_LAYER_ANIM);
  EXPECT_EQ(layer->geometry[0]->x, 40);
  ASSERT_EQ(Run(".call movelayer 1 100000 100000 60 120"), 0);
  EXPECT_EQ(layer->geometry[0]->x, 60);
  EXPECT_EQ(layer->geometry[0]->y, 120);
  EXPECT_EQ(Run(".call movelayer 5 0 0 10 10"), ERR_LAYERRANGE);
  ASSERT_EQ(Run(".call disablelayers"), 0);
  EXPECT_EQ(Run(".call movelayer 1 0 0 10 10"), ERR_NOLAYERS);
  ShutdownLayerSystem(L);
}

}  // namespace
