// GetAttribute on samples and music objects, without an audio device.
#include "tests/runtime/handler_test_util.h"

#include <vector>

#include "display/graphics_library/graphics_library.h"
#include "media/sound/sound_library.h"
#include "runtime/objects.h"
#include "platform/hooks.h"
#include "tests/vm/script_util.h"
#include "vm/error_codes.h"

namespace {

class SoundAttributes : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    ASSERT_EQ(OpenGraphicsLib(L), 0);
    ASSERT_EQ(OpenSoundLib(L), 0);
  }
  void TearDown() override {
    FreeSoundLib(L);
    FreeGraphicsObjects(L);
    FreeObjectRegistries();
    FreeRuntimeOptionHooks();
    ResetPlatformHooks();
    HandlerTest::TearDown();
  }
  int Run(const std::string& body) {
    L->g->quitDefault = 0;  // an earlier error stopped the script
    return vltest::RunScript(L, ".line 1\n" + body + "\nret\n");
  }
  double Num(const char* name) { return vltest::GlobalNumber(L, name); }
};

TEST_F(SoundAttributes, SampleFramesDurationAndFormat) {
  // 8000 frames of 16-bit stereo at 16000 Hz: half a second.
  ASSERT_EQ(Call(CmdCreateSample, [&] {
              vl::PushNumber(L, 1);
              vl::PushNewTable(L);
              for (int i = 0; i < 16000; i++) {
                vl::PushNumber(L, (i % 64) * 100);
                vl::RawSetTableIndex(L, 2, i);
              }
              vl::PushNumber(L, 16000);
              vl::PushNumber(L, 3);
            }),
            0);
  ASSERT_EQ(Run(".call getattribute 2 1 11 -> frames\n.call getattribute 2 1 14 -> ms\n"
                ".call getattribute 2 1 15 -> pitch\n.call getattribute 2 1 9 -> format\n"
                ".call getattribute 2 1 83 -> playing\n.call getattribute 2 0 60 -> count\n"
                ".call getattribute 2 1 91 -> loader"),
            0);
  EXPECT_EQ(Num("frames"), 8000);
  EXPECT_EQ(Num("ms"), 500);
  EXPECT_EQ(Num("pitch"), 16000);
  EXPECT_EQ(Num("format"), 3);  // STEREO16
  EXPECT_EQ(vltest::GetGlobal(L, "playing")->tag, VL_TBOOLEAN);
  EXPECT_EQ(Num("count"), 1);
  EXPECT_EQ(vltest::GlobalString(L, "loader"), "inbuilt");
  EXPECT_EQ(Run(".call getattribute 2 7 11"), ERR_FINDSAMPLE);
  EXPECT_EQ(Run(".call getattribute 2 1 0"), ERR_UNKNOWNATTR);
  EXPECT_EQ(Run(".call getattribute 33 4 14"), ERR_FINDMUSIC);
}

}  // namespace
