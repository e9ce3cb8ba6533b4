// The display fixture of the transition tests: the libraries the effects
// use are open and synchronous effects run without waiting between frames.
#pragma once
#include "tests/display/core/display_fixture.h"

#include "display/layers/async_draw.h"
#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "objects/brushes/brush.h"
#include "transitions/fx_engine.h"
#include "transitions/transition_library.h"

namespace vltest {

class FxDisplayTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenTransitionFxLib(L), 0);
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenGraphicsLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    vlFxFrameDelayUs = 0;
  }
  void TearDown() override {
    if (started_) {
      FreeAsyncDraws(L);
      FreeBrushLib(L);
      ShutdownLayerSystem(L);
    }
    DisplayTest::TearDown();
  }
};

}  // namespace vltest
