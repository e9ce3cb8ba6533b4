// Asynchronous drawing objects driven through the graphics library's
// script commands with a fake maker whose callbacks count their calls:
// stepping to the end, completing on the next call, finishing, cancelling,
// freeing, display binding, output-target refusals and frame seeking.
#include <memory>
#include <string>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/async_draw.h"
#include "display/graphics_library/graphics_library.h"
#include "display/layer_hooks.h"
#include "runtime/errors.h"
#include "runtime/objects.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

struct FakeMaker {
  int frames = 3;
  int current = 0;
  int steps = 0, finishes = 0, releases = 0;
  int finishDone = -1, releaseDone = -1;
  int seeks = 0, advances = 0, stepping = 0, queries = 0;
  int stepError = 0;
  intptr_t answer = 0;
  int layer = 0;  // its address names the drawn layer
};

int Step(void* ud, int32_t* done) {
  auto* m = static_cast<FakeMaker*>(ud);
  if (m->stepError) return m->stepError;
  ++m->steps;
  ++m->current;
  *done = m->current >= m->frames;
  return 0;
}
void Finish(void* ud, int32_t done) {
  auto* m = static_cast<FakeMaker*>(ud);
  ++m->finishes;
  m->finishDone = done;
}
void Release(void* ud, int32_t done) {
  auto* m = static_cast<FakeMaker*>(ud);
  ++m->releases;
  m->releaseDone = done;
}
intptr_t Notify(int32_t code, void* argument, void* ud, intptr_t extra) {
  auto* m = static_cast<FakeMaker*>(ud);
  switch (code) {
    case ADN_FRAMECOUNT: return m->frames;
    case ADN_CURRENTFRAME: return m->current;
    case ADN_SEEK:
      ++m->seeks;
      m->current = static_cast<int>(extra);
      return 0;
    case ADN_ADVANCE: ++m->advances; return 0;
    case ADN_DRAWNOBJECT: *static_cast<void**>(argument) = &m->layer; return 0;
    case ADN_QUERY:
      ++m->queries;
      *static_cast<intptr_t*>(argument) = m->answer;
      return 0;
    case ADN_STEPPING: ++m->stepping; return 0;
    default: return 0;
  }
}

int gInvalidated = 0;
void CountInvalidate(vlVMState*, vlDisplay*, void*) { ++gInvalidated; }

class AsyncDrawTest : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    ASSERT_EQ(OpenGraphicsLib(L), 0);
    displayA_ = std::make_unique<vlDisplay>();
    displayB_ = std::make_unique<vlDisplay>();
    displayA_->outputType = VL_OUTPUT_DISPLAY;
    displayB_->outputType = VL_OUTPUT_DISPLAY;
    SetCurrentDisplay(displayA_.get());
    gInvalidated = 0;
    SetAsyncDrawLayerInvalidator(CountInvalidate);
  }
  void TearDown() override {
    FreeAsyncDraws(L);
    SetCurrentDisplay(nullptr);
    SetAsyncDrawLayerInvalidator(nullptr);
    ResetLayerHooks();
    FreeObjectRegistries();
    HandlerTest::TearDown();
  }
  void* Make(FakeMaker* m, int32_t kind = ADF_FX, bool withFinish = true) {
    void* handle = nullptr;
    EXPECT_EQ(NewAsyncDraw(kind, Step, nullptr, withFinish ? Finish : nullptr, Release, Notify, m, &handle), 0);
    // Scripts see the handle as a light userdata global.
    SetPointerGlobal("h", handle);
    return handle;
  }
  void SetPointerGlobal(const char* name, void* p) {
    vl::SetStackTop(L, 0);
    vl::PushSlotCopy(L, vl::kGlobalsIndex);
    vl::PushCString(L, name);
    vl::PushPointer(L, p);
    vl::RawSetTableValue(L, 1);
    vl::SetStackTop(L, 0);
  }
  int Run(const std::string& body) {
    L->g->quitDefault = 0;
    return vltest::RunScript(L, ".line 1\n" + body + "\nret\n");
  }
  double Num(const char* name) { return vltest::GlobalNumber(L, name); }

  std::unique_ptr<vlDisplay> displayA_, displayB_;
};

TEST_F(AsyncDrawTest, SteppingToTheEndThenCompletingOnTheNextCall) {
  FakeMaker m;
  Make(&m);
  EXPECT_EQ(AsyncDrawOnDisplay(displayA_.get()), 1);
  EXPECT_EQ(AsyncDrawOnDisplay(displayB_.get()), 0);
  for (int i = 1; i <= 3; ++i) {
    ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0) << i;
    EXPECT_EQ(Num("r"), 0) << i;  // the call drawing the last frame still says 0
  }
  EXPECT_EQ(m.steps, 3);
  EXPECT_EQ(m.finishes, 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(Num("r"), 1);
  EXPECT_EQ(m.finishes, 1);
  EXPECT_EQ(m.finishDone, 1);
  EXPECT_EQ(m.releases, 1);
  EXPECT_EQ(m.releaseDone, 1);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  // Gone: an automatic id is "not found", a number names itself.
  EXPECT_EQ(Run(".call asyncdrawframe $h -> r"), ERR_FINDARRAY);
  EXPECT_EQ(Run(".call asyncdrawframe 7 -> r"), ERR_FINDASYNCDRAW);
  EXPECT_EQ(GetErrorArgIndex(), 7);
  EXPECT_EQ(m.releases, 1);
  // Stepping the display target does not touch layers.
  EXPECT_EQ(m.stepping, 0);
  EXPECT_EQ(gInvalidated, 0);
}

TEST_F(AsyncDrawTest, FinishCancelAndFreeReleaseExactlyOnce) {
  FakeMaker finished, cancelled, freed1, freed2;
  void* h1 = Make(&finished);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(finished.finishes, 1);
  EXPECT_EQ(finished.finishDone, 0);
  EXPECT_EQ(finished.releases, 1);
  EXPECT_EQ(Run(".call finishasyncdraw $h"), ERR_FINDARRAY);
  EXPECT_EQ(finished.releases, 1);

  Make(&cancelled);
  ASSERT_EQ(Run(".call cancelasyncdraw $h"), 0);
  EXPECT_EQ(cancelled.finishes, 0);  // cancelling never completes the effect
  EXPECT_EQ(cancelled.releases, 1);
  EXPECT_EQ(cancelled.releaseDone, 0);
  EXPECT_EQ(Run(".call cancelasyncdraw $h"), ERR_FINDARRAY);

  // A finish callback is optional.
  FakeMaker plain;
  Make(&plain, ADF_ANIM, false);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(plain.releases, 1);

  Make(&freed1);
  void* h3 = Make(&freed2);
  EXPECT_NE(h1, h3);
  // The display code frees them through its hook when displays close.
  gLayerHooks.freeAsyncDraws(L);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(freed1.releases, 1);
  EXPECT_EQ(freed2.releases, 1);
  EXPECT_EQ(freed1.finishes + freed2.finishes, 0);
  EXPECT_EQ(gLayerHooks.asyncDrawOnDisplay(displayA_.get()), 0);
}

TEST_F(AsyncDrawTest, BoundToTheDisplayCurrentWhenMade) {
  FakeMaker m;
  Make(&m);
  SetCurrentDisplay(displayB_.get());
  EXPECT_EQ(Run(".call asyncdrawframe $h -> r"), ERR_ADFWRONGDISP);
  EXPECT_EQ(m.steps, 0);
  SetCurrentDisplay(displayA_.get());
  EXPECT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(m.steps, 1);
}

TEST_F(AsyncDrawTest, OutputTargetRefusals) {
  FakeMaker m;
  Make(&m);
  struct Case {
    uint32_t type;
    uint32_t doubleBuffer;
    int code;
  } cases[] = {
      {VL_OUTPUT_BRUSH, 0, ERR_SELECTBRUSH},   {VL_OUTPUT_BRUSH, 1, ERR_ENDDOUBLEBUFFER},
      {VL_OUTPUT_ANIM, 0, ERR_SELECTANIM},     {VL_OUTPUT_MASK, 0, ERR_SELECTMASK},
      {VL_OUTPUT_ALPHA, 0, ERR_SELECTALPHACHANNEL},
  };
  for (const Case& c : cases) {
    displayA_->outputType = c.type;
    displayA_->doubleBuffer = c.doubleBuffer;
    EXPECT_EQ(Run(".call asyncdrawframe $h -> r"), c.code) << c.type;
  }
  // A frame of an anim is selected through the brush output type.
  vlBGPic frame{};
  frame.kind = VL_OBJ_ANIM;
  vlBGPic* output = vlCurrentOutput;
  vlCurrentOutput = &frame;
  displayA_->outputType = VL_OUTPUT_BRUSH;
  EXPECT_EQ(Run(".call asyncdrawframe $h -> r"), ERR_SELECTANIM);
  vlCurrentOutput = output;
  EXPECT_EQ(m.steps, 0);
  displayA_->doubleBuffer = 0;
  // A selected BGPic is drawn with the stepping notes around the step and
  // the drawn layer marked dirty.
  displayA_->outputType = VL_OUTPUT_BGPIC;
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(m.steps, 1);
  EXPECT_EQ(m.stepping, 2);
  EXPECT_EQ(gInvalidated, 1);
  EXPECT_EQ(FindAsyncDrawOwner(&m.layer, 0), 1);
  EXPECT_EQ(FindAsyncDrawOwner(&m.frames, 0), 0);
}

TEST_F(AsyncDrawTest, StepErrorIsRaisedAndTheObjectStays) {
  FakeMaker m;
  m.stepError = ERR_MEM;
  Make(&m);
  EXPECT_EQ(Run(".call asyncdrawframe $h -> r"), ERR_MEM);
  EXPECT_NE(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(m.releases, 0);
}

TEST_F(AsyncDrawTest, FrameArgumentSeeksAndCompletes) {
  FakeMaker m;
  m.frames = 5;
  Make(&m);
  EXPECT_EQ(Run(".call asyncdrawframe $h 2 -> r"), ERR_NOLAYERS);
  displayA_->layersOn = 1;
  EXPECT_EQ(Run(".call asyncdrawframe $h 6 -> r"), ERR_ANIMFRAME);
  // current + 1 is a normal step.
  ASSERT_EQ(Run(".call asyncdrawframe $h 1 -> r"), 0);
  EXPECT_EQ(Num("r"), 0);
  EXPECT_EQ(m.steps, 1);
  // The current frame draws nothing.
  ASSERT_EQ(Run(".call asyncdrawframe $h 1 -> r"), 0);
  EXPECT_EQ(m.steps, 1);
  EXPECT_EQ(m.seeks, 0);
  // A jump seeks; to the display it advances.
  ASSERT_EQ(Run(".call asyncdrawframe $h 4 -> r"), 0);
  EXPECT_EQ(Num("r"), 0);
  EXPECT_EQ(m.seeks, 1);
  EXPECT_EQ(m.advances, 1);
  EXPECT_EQ(m.current, 4);
  // Jumping to the last frame with a BGPic selected marks the layer dirty
  // and says finished.
  m.current = 2;
  displayA_->outputType = VL_OUTPUT_BGPIC;
  ASSERT_EQ(Run(".call asyncdrawframe $h 5 -> r"), 0);
  EXPECT_EQ(Num("r"), 1);
  EXPECT_EQ(gInvalidated, 1);
  EXPECT_EQ(m.releases, 0);
  // A finished object asked for frame 0 is completed and removed.
  ASSERT_EQ(Run(".call asyncdrawframe $h 0 -> r"), 0);
  EXPECT_EQ(Num("r"), 1);
  EXPECT_EQ(m.finishes, 1);
  EXPECT_EQ(m.releases, 1);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
}

TEST_F(AsyncDrawTest, QueriesAndBroadcastsReachTheRightRecords) {
  FakeMaker anim, fx;
  anim.answer = 11;
  fx.answer = 22;
  Make(&anim, ADF_ANIM);
  Make(&fx, ADF_FX);
  // Only transition records answer queries.
  EXPECT_EQ(QueryTransitionAsyncDraws(0), 22);
  EXPECT_EQ(anim.queries, 0);
  fx.answer = 0;
  EXPECT_EQ(QueryTransitionAsyncDraws(0), 0);
  BroadcastAsyncDraw(ADN_ADVANCE, nullptr);
  EXPECT_EQ(anim.advances, 1);
  EXPECT_EQ(fx.advances, 1);
  // Generic object scans see the list.
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_ASYNCDRAW), 2);
}

}  // namespace
