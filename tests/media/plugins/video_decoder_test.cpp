// Video-decoder plug-ins: the player binds the decoder the loader list
// selects, grabs exactly the frames it decodes (ARGB and YUV), seeks it in
// milliseconds or in its own units, plays it to the end on the player's
// threads, and gives every packet back before it closes the decoder.
#include <atomic>

#include "media/video/video_player.h"
#include "media_plugin_util.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

namespace {

using PixelFn = uint32_t (*)(int, int, int);
using LiveFn = int (*)();

class VideoDecoder : public mediatest::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    info = Load("testvideo");
    ASSERT_NE(info, nullptr);
    pixel = Symbol<PixelFn>(info, "TestVideoPixel");
    live = Symbol<LiveFn>(info, "TestLivePackets");
    ASSERT_NE(pixel, nullptr);
    ASSERT_NE(live, nullptr);
  }

  struct Opened {
    int error;
    vlVideoHandle* handle = nullptr;
    int32_t width = 0, height = 0;
    uint32_t length = 0, seekable = 0;
    uintptr_t loader = 0;
  };
  Opened Open(const std::string& file, const char* loaders = "", const char* adapter = "") {
    Opened o{};
    o.error = OpenVideoPlayer(file.c_str(), loaders, adapter, &o.handle, &o.width, &o.height, &o.length, &o.seekable,
                              &o.loader);
    return o;
  }

  vlPluginInfo* info = nullptr;
  PixelFn pixel = nullptr;
  LiveFn live = nullptr;
};

TEST_F(VideoDecoder, GrabbedFramesAreTheDecodersPixels) {
  const std::string file = File("v.tvid", "TVID 24 16 12 10 0 0 1");
  Opened v = Open(file);
  ASSERT_EQ(v.error, 0);
  EXPECT_EQ(v.width, 24);
  EXPECT_EQ(v.height, 16);
  EXPECT_EQ(v.length, 1200u);
  EXPECT_EQ(v.seekable, 1u);
  EXPECT_EQ(v.loader, reinterpret_cast<uintptr_t>(info));
  EXPECT_STREQ(GetVideoFormatValue(v.handle), "Test video");
  EXPECT_EQ(GetVideoFrameCount(v.handle), 12u);
  // Frames by number, out of order, then by time.
  for (int n : {0, 5, 2, 11}) {
    vlGrabbedFrame f{};
    ASSERT_EQ(DecodeVideoFrameAt(v.handle, n, 0, 15, 1, &f), 0) << n;
    ASSERT_EQ(f.width, 24);
    for (int y = 0; y < 16; y++)
      for (int x = 0; x < 24; x++) ASSERT_EQ(f.pixels[size_t(y) * f.stride + x], pixel(n, x, y)) << n << " " << x << "," << y;
  }
  vlGrabbedFrame f{};
  EXPECT_EQ(DecodeVideoFrameAt(v.handle, 12, 0, 15, 1, &f), 1457);
  ASSERT_EQ(DecodeVideoFrameAt(v.handle, 700, 1, 3, 1, &f), 0);
  EXPECT_EQ(f.pixels[f.stride + 1], pixel(7, 1, 1));
  FreeVideoPlayer(v.handle);
  EXPECT_EQ(live(), 0) << "every packet went back to the decoder";
  const std::string log = Log();
  EXPECT_EQ(log.rfind("openvideo v.tvid end=-2 adapter=\n", 0), 0u) << log;
  EXPECT_NE(log.find("seekvideo 700 unit=0\n"), std::string::npos) << log;
  EXPECT_NE(log.find("closevideo live=0\n"), std::string::npos) << log;
}

TEST_F(VideoDecoder, YuvFramesAreConverted) {
  Opened v = Open(File("y.tvid", "TVID 32 8 4 10 0 0 5"));
  ASSERT_EQ(v.error, 0);
  vlGrabbedFrame f{};
  ASSERT_EQ(DecodeVideoFrameAt(v.handle, 1, 0, 15, 1, &f), 0);
  // Grey chroma gives grey pixels whose brightness follows Y along x.
  int previous = -1;
  for (int x = 0; x < 24; x++) {
    const uint32_t p = f.pixels[size_t(2) * f.stride + x];
    const int r = p >> 16 & 255, g = p >> 8 & 255, b = p & 255;
    EXPECT_NEAR(r, g, 2) << x;
    EXPECT_NEAR(g, b, 2) << x;
    EXPECT_GT(g, previous) << x;
    previous = g;
  }
  FreeVideoPlayer(v.handle);
}

TEST_F(VideoDecoder, TheLoaderListDecidesWhoDecodes) {
  const std::string file = File("s.tvid", "TVID 8 8 2 10 0 0 0");
  for (const char* list : {"", "plugin", "testvideo", "native|testvideo"}) {
    Opened v = Open(file, list);
    EXPECT_EQ(v.error, 0) << list;
    FreeVideoPlayer(v.handle);
  }
  ClearLog();
  for (const char* list : {"inbuilt", "native", "videox"}) {
    Opened v = Open(file, list);
    EXPECT_EQ(v.error, 1450) << list;
    EXPECT_STREQ(GetErrorArgument(), file.c_str());
  }
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(ProbeVideoFile(file.c_str(), "testvideo", ""), 1);
  EXPECT_EQ(ProbeVideoFile(file.c_str(), "inbuilt", ""), 0);
  // No adapter list reaches the decoder as "", never as null.
  ClearLog();
  EXPECT_EQ(ProbeVideoFile(file.c_str(), "testvideo", nullptr), 1);
  EXPECT_EQ(Log(), "openvideo s.tvid end=-2 adapter=\nclosevideo live=0\n");
  // A decoder reporting frames of no size is closed again and passed over.
  ClearLog();
  EXPECT_EQ(Open(File("z.tvid", "TVID 0 8 2 10 0 0 0"), "", nullptr).error, 1450);
  EXPECT_EQ(Log(), "openvideo z.tvid end=-2 adapter=\nclosevideo live=0\n");
  // Sound of more than two channels, as any sound the player cannot play,
  // refuses the video; the decoder is closed again.
  ClearLog();
  EXPECT_EQ(Open(File("c.tvid", "TVID 8 8 2 10 8000 3 0")).error, 1450);
  EXPECT_EQ(Log(), "openvideo c.tvid end=-2 adapter=\nclosevideo live=0\n");
  Opened stereo = Open(File("t.tvid", "TVID 8 8 2 10 8000 2 0"));
  EXPECT_EQ(stereo.error, 0);
  FreeVideoPlayer(stereo.handle);
}

TEST_F(VideoDecoder, UnitModeSeeksInTheDecodersUnits) {
  // Units are frames, 10 a second; the decoder gives its end position.
  Opened v = Open(File("u.tvid", "TVID 8 8 20 10 0 0 3"));
  ASSERT_EQ(v.error, 0);
  vlGrabbedFrame f{};
  ClearLog();
  ASSERT_EQ(DecodeVideoFrameAt(v.handle, 1500, 1, 0, 1, &f), 0);
  EXPECT_NE(Log().find("unit=1"), std::string::npos) << Log();
  FreeVideoPlayer(v.handle);
}

TEST_F(VideoDecoder, PlaysToTheEndOnThePlayersThreads) {
  Opened v = Open(File("p.tvid", "TVID 16 8 8 25 8000 1 1"));
  ASSERT_EQ(v.error, 0);
  static std::atomic<int> ended{0};
  ended = 0;
  gVideoEndedHook = [](vlVideoPlayer*) { ended.fetch_add(1); };
  ASSERT_EQ(StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 16, 8, 64, 0, 0, nullptr), 0);
  for (int i = 0; i < 300 && !ended; ++i) SleepMillis(10);
  EXPECT_EQ(ended.load(), 1);
  EXPECT_GE(GetVideoPosition(v.handle), 250u);
  StopVideoPlayer(v.handle, nullptr, 1);
  EXPECT_EQ(live(), 0);
  // Stopped in the middle: the packets still queued go back too.
  ASSERT_EQ(StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 16, 8, 64, 0, 0, nullptr), 0);
  SleepMillis(60);
  StopVideoPlayer(v.handle, nullptr, 1);
  EXPECT_EQ(live(), 0);
  gVideoEndedHook = nullptr;
  FreeVideoPlayer(v.handle);
}

}  // namespace
