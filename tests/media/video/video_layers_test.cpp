// Videos as layers on a private Xvfb display: raw AVIs made by ffmpeg shown
// as single-frame layers and played into layers (window pixels compared
// with ffmpeg's rgb24 frames), the layer controls changing the playback
// state, the nameless copies layers keep, and the GetAttribute answers.
#include "tests/display/core/display_fixture.h"

#include <chrono>
#include <string>
#include <vector>

#include "../../formats/pictures/picture_test_util.h"
#include "display/clients.h"
#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "media/video/video_layers.h"
#include "media/video/video_library.h"
#include "media/video/video_player.h"
#include "objects/brushes/brush.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

class VideoLayers : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenGraphicsLib(L), 0);
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenVideoLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    file_ = dir_.File("r.avi");
    int status = 0;
    pictest::RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=32x16:rate=20 -t 0.5 -c:v rawvideo -pix_fmt bgr24 " +
                         pictest::Quote(file_),
                     &status);
    ASSERT_EQ(status, 0);
    frames_ = pictest::RunTool("ffmpeg -v error -i " + pictest::Quote(file_) + " -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(frames_.size(), size_t(10 * 32 * 16 * 3));
    ASSERT_EQ(Run(".call createbgpic 1 80 60 255\n.table 0 { bgpic = 1 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    d_ = GetDisplayByNumber(1);
    ASSERT_NE(d_, nullptr);
  }
  void TearDown() override {
    if (started_) {
      FreeVideoLib(L);
      ShutdownLayerSystem(L);
      FreeBrushLib(L);
      FreeGraphicsObjects(L);
    }
    DisplayTest::TearDown();
  }
  vlVideo* Find(int n) {
    vlVideo* v = nullptr;
    return GetVideoByID(L, {n, nullptr}, 0, &v) == 0 ? v : nullptr;
  }
  int CountVideos() {
    int n = 0;
    for (vlVideo* v = gVideo.videos; v; v = reinterpret_cast<vlVideo*>(v->node.next)) ++n;
    return n;
  }
  // Draws queued frames until the video record reaches the state.
  bool WaitState(vlVideo* v, uint32_t state, int seconds) {
    for (int i = 0; i < seconds * 100; ++i) {
      FlushPendingDisplayFrames(L);
      if (v->state.load() == state) {
        FlushPendingDisplayFrames(L);
        return true;
      }
      usleep(10000);
    }
    return false;
  }
  uint32_t Rgb(int frame, int x, int y) {
    const uint8_t* p = &frames_[(size_t(frame) * 32 * 16 + size_t(y) * 32 + x) * 3];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
  // The frame shows at (x0, y0) in the window, pixel for pixel.
  void ExpectFrame(int frame, int x0, int y0) {
    int wrong = 0;
    for (int y = 0; y < 16; y += 3)
      for (int x = 0; x < 32; x += 3) wrong += WindowPixel(d_, x0 + x, y0 + y) != Rgb(frame, x, y);
    EXPECT_EQ(wrong, 0) << "frame " << frame;
  }
  pictest::TempDir dir_;
  std::string file_;
  std::vector<uint8_t> frames_;
  vlDisplay* d_ = nullptr;
};

TEST_F(VideoLayers, FramesAsLayersAndTheirAttributes) {
  ASSERT_EQ(Run(".call openvideo 1 \"" + file_ + "\""), 0);
  // Layers off: no video layers.
  EXPECT_EQ(Run(".call displayvideoframe 1 0 0 0"), ERR_NOLAYERS);
  EXPECT_EQ(Run(".table 0 { uselayer = 1 }\n.call base=1 playvideo 1 0 0 r0"), ERR_NOLAYERS);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  ASSERT_EQ(Run(".call displayvideoframe 1 10 20 0"), 0);
  ExpectFrame(0, 10, 20);
  EXPECT_EQ(WindowPixel(d_, 5, 5), 255u);
  // 300 ms into a 20 fps stream is frame 6; the video is already a
  // layer's, so a nameless copy shows it.
  ASSERT_EQ(Run(".call displayvideoframe 1 44 40 300"), 0);
  ExpectFrame(6, 44, 40);
  EXPECT_EQ(CountVideos(), 2);
  EXPECT_EQ(Run(".call displayvideoframe 1 0 0 500"), 1233);
  // Sought and played, the layer starts at the place sought.
  ASSERT_EQ(Run(".call seeklayer 2 300\n.call playlayer 2\n.call getattribute 22 2 18 -> n\n.call stoplayer 2"), 0);
  EXPECT_GE(Num("n"), 300);
  vlLayer* layer = GetLayerByPos(d_->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->type, VL_LAYER_VIDEO);

  // GetAttribute of the video and of its layers.
  ASSERT_EQ(Run(".call getattribute 50 1 11 -> frames\n.call getattribute 50 1 14 -> duration\n"
                ".call getattribute 50 1 0 -> width\n.call getattribute 50 1 72 -> canseek\n"
                ".call getattribute 50 1 75 -> driver\n.call getattribute 50 1 91 -> loader\n"
                ".call getattribute 50 1 83 -> playing"),
            0);
  EXPECT_EQ(Num("frames"), 10);
  EXPECT_EQ(Num("duration"), 500);
  EXPECT_EQ(Num("width"), 32);
  EXPECT_EQ(Num("canseek"), 1);
  EXPECT_EQ(Num("driver"), 1);
  EXPECT_EQ(Num("playing"), 0);
  EXPECT_STREQ(vltest::GlobalString(L, "loader").c_str(), "inbuilt");
  EXPECT_EQ(Run(".call getattribute 50 1 40 -> x"), ERR_UNKNOWNATTR);
  ASSERT_EQ(Run(".call getattribute 22 1 9 -> type\n.call getattribute 22 2 11 -> lframes\n"
                ".call getattribute 22 2 14 -> lduration\n.call getattribute 22 1 84 -> paused"),
            0);
  EXPECT_EQ(Num("type"), 50);
  EXPECT_EQ(Num("lframes"), 10);
  EXPECT_EQ(Num("lduration"), 500);
  EXPECT_EQ(Num("paused"), 0);

  // Opening another video under its id closes it as CloseVideo does: the
  // layer keeps the record and its picture. Closing the video keeps its
  // layer's picture; removing the layers frees the copies.
  ASSERT_EQ(Run(".call openvideo 1 \"" + file_ + "\""), 0);
  EXPECT_EQ(CountVideos(), 3);
  RefreshRect(L, 0, 0, 80, 60, 0);
  ExpectFrame(0, 10, 20);
  ASSERT_EQ(Run(".call closevideo 1"), 0);
  EXPECT_EQ(CountVideos(), 2);
  EXPECT_EQ(Find(1), nullptr);
  RefreshRect(L, 0, 0, 80, 60, 0);
  ExpectFrame(0, 10, 20);
  EXPECT_EQ(Run(".call getattribute 22 1 14 -> d2"), 0);
  EXPECT_EQ(Num("d2"), 500);
  ASSERT_EQ(Run(".call removelayer 2"), 0);
  EXPECT_EQ(CountVideos(), 1);
  ASSERT_EQ(Run(".call removelayer 1"), 0);
  EXPECT_EQ(CountVideos(), 0);
  EXPECT_EQ(WindowPixel(d_, 12, 22), 255u);
}

TEST_F(VideoLayers, PlayingIntoALayerUnderLayerControl) {
  ASSERT_EQ(Run(".call openvideo 1 \"" + file_ + "\"\n.call enablelayers\n.call createbrush 2 4 4 65280\n"
                ".call displaybrush 2 70 50"),
            0);
  ASSERT_EQ(Run(".table 0 { uselayer = 1 }\n.call base=1 playvideo 1 20 10 r0"), 0);
  vlVideo* v = Find(1);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->onLayer, 1u);
  vlLayer* layer = GetLayerByPos(d_->bgpic, 2);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->type, VL_LAYER_VIDEO);
  EXPECT_EQ(IsLayerVideoPlaying(L, layer), 1);
  // The first layer is a brush: no video controls.
  EXPECT_EQ(Run(".call pauselayer 1"), ERR_BADLAYERTYPE);
  EXPECT_EQ(Run(".call playlayer 2"), 1501);
  ASSERT_EQ(Run(".call pauselayer 2"), 0);
  EXPECT_EQ(v->state.load(), uint32_t{VL_VIDEO_PAUSED});
  EXPECT_EQ(IsLayerVideoPlaying(L, layer), 0);
  EXPECT_EQ(Run(".call pauselayer 2"), 1451);
  EXPECT_EQ(Run(".call getattribute 22 2 84 -> paused"), 0);
  EXPECT_EQ(Num("paused"), 1);
  ASSERT_EQ(Run(".call resumelayer 2"), 0);
  EXPECT_EQ(Run(".call resumelayer 2"), 1452);
  ASSERT_EQ(Run(".call setlayervolume 2 \"50%\""), 0);
  EXPECT_EQ(v->volume, 32);
  // Played to the end, the layer shows the last frame.
  ASSERT_TRUE(WaitState(v, VL_VIDEO_ENDED, 10));
  RefreshRect(L, 0, 0, 80, 60, 0);
  ExpectFrame(9, 20, 10);
  EXPECT_EQ(WindowPixel(d_, 71, 51), 0x00FF00u);
  ASSERT_EQ(Run(".call stoplayer 2"), 0);
  EXPECT_EQ(Run(".call stoplayer 2"), 1516);
  // A stopped layer shows the frame it is sought to.
  ASSERT_EQ(Run(".call seeklayer 2 200"), 0);
  for (int i = 0; i < 20; ++i) {
    FlushPendingDisplayFrames(L);
    usleep(5000);
  }
  ExpectFrame(4, 20, 10);
  EXPECT_EQ(Run(".call seeklayer 2 500"), 1233);
  // Played again from the layer, then the video plays elsewhere too: a
  // second layer gets a nameless copy.
  ASSERT_EQ(Run(".call seeklayer 2 0\n.call playlayer 2"), 0);
  EXPECT_EQ(Run(".call playvideo 1"), 1501);
  ASSERT_EQ(Run(".table 0 { uselayer = 1 }\n.call base=1 playvideo 1 40 40 r0"), 0);
  EXPECT_EQ(CountVideos(), 2);
  // Removing a playing layer stops and frees its copy.
  ASSERT_EQ(Run(".call removelayer 3"), 0);
  EXPECT_EQ(CountVideos(), 1);
  ASSERT_EQ(Run(".call removelayer 2"), 0);
  EXPECT_EQ(v->state.load(), uint32_t{VL_VIDEO_STOPPED});
  EXPECT_EQ(v->onLayer, 0u);
  // Off layers again, it plays on the display as before.
  ASSERT_EQ(Run(".call playvideo 1 0 0\n.call stopvideo 1"), 0);
}

// A playing layer sought forward: the position answers the new place at
// once and then runs on from it, and the window shows the frame whose time
// the position names (an MJPEG AVI whose frame n has red 4n, 10 per second).
TEST_F(VideoLayers, SeekingAPlayingLayerMovesThePositionAndTheFramesTogether) {
  const std::string mjpeg = dir_.File("count.avi");
  int status = 0;
  pictest::RunTool("ffmpeg -v error -y -f lavfi -i color=c=black:s=32x16:r=10:d=6 -vf \"geq=r='N*4':g=128:b=64\" "
                   "-c:v mjpeg -q:v 2 " + pictest::Quote(mjpeg),
                   &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(Run(".call enablelayers\n.call openvideo 1 \"" + mjpeg +
                "\"\n.table 0 { uselayer = 1 }\n.call base=1 playvideo 1 0 0 r0"),
            0);
  auto pump = [&](int ms) {
    for (int i = 0; i < ms / 5; ++i) {
      FlushPendingDisplayFrames(L);
      usleep(5000);
    }
  };
  auto position = [&](const char* attribute) {
    EXPECT_EQ(Run(".call getattribute 22 1 " + std::string(attribute) + " -> n"), 0);
    return Num("n");
  };
  auto since = [](std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  };
  pump(300);
  EXPECT_GT(position("18"), 100);
  // Forward, back to the start, forward again: the position starts at the
  // place sought and never runs ahead of the time since the seek.
  for (int target : {3000, 0, 4500}) {
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(Run(".call seeklayer 1 " + std::to_string(target)), 0);
    const double at = position("18");
    EXPECT_GE(at, target) << "right after seeking to " << target;
    EXPECT_LE(at, target + since(t0) + 5) << "right after seeking to " << target;
    // The first frame from the new place may be late on a loaded machine:
    // until it shows, the position stays at the place sought.
    pump(150);
    for (int i = 0; i < 100 && position("18") == target; ++i) pump(30);
    // The position runs from the moment the frame is handed to the main
    // thread, which draws it at its next pump.
    pump(20);
    const double later = position("18"), elapsed = since(t0);
    EXPECT_LE(later, target + elapsed + 5) << elapsed << " ms after seeking to " << target;
    EXPECT_GE(later, target) << elapsed << " ms after seeking to " << target;
    // The layer shows a frame of that time: the one due, or a neighbour.
    const int shown = static_cast<int>((WindowPixel(d_, 8, 8) >> 16) + 2) / 4;
    const int due = static_cast<int>(later) / 100;
    EXPECT_GE(shown, due - 1) << "at " << later << " ms";
    EXPECT_LE(shown, due + 1) << "at " << later << " ms";
    EXPECT_NEAR(position("12"), due + 1, 1) << "the current frame at " << later << " ms";
  }
  ASSERT_EQ(Run(".call stoplayer 1"), 0);
}

TEST_F(VideoLayers, APausedVideoOutsideLayersSurvivesARefresh) {
  ASSERT_EQ(Run(".call openvideo 1 \"" + file_ + "\"\n.call playvideo 1 8 8"), 0);
  vlVideo* v = Find(1);
  ASSERT_NE(v, nullptr);
  for (int i = 0; i < 30 && WindowPixel(d_, 9, 9) == 255u; ++i) {
    FlushPendingDisplayFrames(L);
    usleep(5000);
  }
  ASSERT_EQ(Run(".call pausevideo 1"), 0);
  FlushPendingDisplayFrames(L);
  std::vector<uint32_t> before;
  for (int x = 0; x < 32; x += 3) before.push_back(WindowPixel(d_, 8 + x, 15));
  ASSERT_NE(before[0], 255u);
  RefreshDisplayObject(L, d_, 2);
  for (int x = 0, i = 0; x < 32; x += 3, ++i) EXPECT_EQ(WindowPixel(d_, 8 + x, 15), before[i]) << x;
  ASSERT_EQ(Run(".call stopvideo 1"), 0);
  EXPECT_EQ(WindowPixel(d_, 9, 15), 255u);
}

}  // namespace
