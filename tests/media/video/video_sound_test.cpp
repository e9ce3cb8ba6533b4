// A CDXL video's sound played through the sound library's channels into
// libasound's "file" plug-in (a private configuration), compared byte for
// byte with the 8-bit sound the generator wrote, widened to 16 bits.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>

#include "../../formats/pictures/picture_test_util.h"
#include "../../runtime/handler_test_util.h"
#include "media/sound/sound_library.h"
#include "media/video/video_player.h"
#include "platform/hooks.h"
#include "platform/shared_libs.h"
#include "runtime/runtime_options.h"
#include "vm/stack_api.h"

namespace {

std::string gSinkDir;

class VideoSound : public vltest::HandlerTest {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/vl_vsink_XXXXXX";
    gSinkDir = mkdtemp(pattern);
    std::ofstream(gSinkDir + "/.asoundrc") << "pcm.!default { type file slave.pcm \"null\" file \"" << gSinkDir
                                            << "/out.raw\" format \"raw\" }\n";
    setenv("HOME", gSinkDir.c_str(), 1);
    dlopen("libasound.so.2", RTLD_LAZY | RTLD_NODELETE);
  }
  static void TearDownTestSuite() { std::system(("rm -rf '" + gSinkDir + "'").c_str()); }
  void SetUp() override {
    HandlerTest::SetUp();
    const char* files[VL_LIB_COUNT] = {};
    files[VL_LIB_ALSA] = "libasound.so.2";
    LoadSharedLibsFrom(files);
    ASSERT_EQ(OpenSoundLib(L), 0);
    gSound.deviceName[0] = 0;
    vl::SetStackTop(L, 0);
  }
  void TearDown() override {
    FreeSoundLib(L);
    FreeRuntimeOptionHooks();
    ResetPlatformHooks();
    UnloadSharedLibs();
    HandlerTest::TearDown();
  }
};

TEST_F(VideoSound, TheSoundTrackReachesTheDevice) {
  pictest::TempDir dir;
  const std::string file = dir.File("a.cdxl");
  int status = 0;
  pictest::RunTool("python3 " + pictest::Quote(std::string(getenv("VL_SOURCE_DIR")) +
                                               "/tests/formats/pictures/make_iff.py") +
                       " cdxl " + pictest::Quote(file) + " pal",
                   &status);
  ASSERT_EQ(status, 0);
  vlVideoHandle* handle = nullptr;
  int32_t width, height;
  uint32_t length, seekable;
  uintptr_t loader;
  ASSERT_EQ(OpenVideoPlayer(file.c_str(), "", "", &handle, &width, &height, &length, &seekable, &loader), 0);
  static std::atomic<int> ended{0};
  gVideoEndedHook = [](vlVideoPlayer*) { ended.store(1); };
  ASSERT_EQ(StartVideoPlayer(L, handle, {1, nullptr}, nullptr, 0, 0, width, height, 64, 0, 0, nullptr), 0);
  EXPECT_EQ(handle->player->sound, 1u);
  for (int i = 0; i < 500 && !ended; ++i) usleep(10000);
  EXPECT_EQ(ended.load(), 1);
  StopVideoPlayer(handle, nullptr, 1);
  FreeVideoPlayer(handle);
  gVideoEndedHook = nullptr;

  std::vector<uint8_t> expected;
  for (int n = 0; n < 5; ++n) {
    for (uint8_t b : pictest::ReadBytes(file + "." + std::to_string(n) + ".snd")) {
      const int16_t s = int16_t(int8_t(b) * 256);
      expected.push_back(uint8_t(s));
      expected.push_back(uint8_t(uint16_t(s) >> 8));
    }
  }
  ASSERT_EQ(expected.size(), 400u);
  const auto raw = pictest::ReadBytes(gSinkDir + "/out.raw");
  ASSERT_GE(raw.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), raw.begin()));
  // After the track only silence follows.
  for (size_t i = expected.size(); i < raw.size(); ++i) ASSERT_EQ(raw[i], 0) << i;
}

}  // namespace
