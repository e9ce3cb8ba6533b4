// Video rectangles cut out of window drawing, on a private Xvfb display: a
// full-window blit leaves an active video's pixels alone (the video's own
// frames, flag 0x20, are drawn there), the mask of the display marks
// exactly the videos' clipped rectangles, and stopped videos cut nothing.
#include "tests/display/core/display_fixture.h"

#include "../../formats/pictures/picture_test_util.h"
#include "display/clients.h"
#include "display/display_events.h"
#include "graphics/bitmap.h"
#include "graphics/display_blit.h"
#include "media/video/video_library.h"
#include "media/video/video_mask.h"
#include "objects/brushes/brush.h"
#include "platform/display_adapter.h"
#include "vm/error_codes.h"

namespace {

class VideoMask : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenVideoLib(L), 0);
  }
  void TearDown() override {
    if (started_) {
      FreeVideoLib(L);
      FreeBrushLib(L);
    }
    DisplayTest::TearDown();
  }
  vlVideo* PlayPaused(int n, const std::string& file, int x, int y) {
    const std::string id = std::to_string(n);
    EXPECT_EQ(Run(".call openvideo " + id + " \"" + file + "\"\n.call playvideo " + id + " " + std::to_string(x) +
                  " " + std::to_string(y) + "\n.call pausevideo " + id),
              0);
    FlushPendingDisplayFrames(L);
    vlVideo* v = nullptr;
    return GetVideoByID(L, {n, nullptr}, 0, &v) == 0 ? v : nullptr;
  }
  // Display 1 on a blue 80x60 picture (with the extra display keys) and a
  // half-second red 16x8 clip; null when either fails.
  vlDisplay* OpenBlueDisplay(const std::string& keys, std::string* clip) {
    EXPECT_EQ(Run(".call createbgpic 1 80 60 255\n.table 0 { bgpic = 1" + keys +
                  " }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1"),
              0);
    *clip = dir_.File("v.avi");
    int status = 0;
    pictest::RunTool("ffmpeg -v error -y -f lavfi -i color=c=red:size=16x8:rate=10 -t 0.5 -c:v rawvideo "
                     "-pix_fmt bgr24 " + pictest::Quote(*clip),
                     &status);
    EXPECT_EQ(status, 0);
    return status == 0 ? GetDisplayByNumber(1) : nullptr;
  }
  pictest::TempDir dir_;
};

TEST_F(VideoMask, BlitsLeaveActiveVideosAlone) {
  std::string file;
  vlDisplay* d = OpenBlueDisplay("", &file);
  ASSERT_NE(d, nullptr);
  vlVideo* a = PlayPaused(1, file, 10, 20);
  // The second one hangs over the display's corner: only its visible part.
  vlVideo* b = PlayPaused(2, file, 72, 56);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);

  // The window record holds both, unclipped, for the window drawing.
  ASSERT_EQ(d->videoOverlayCount, 2);
  EXPECT_EQ(d->videoOverlays[1].x, 72);
  EXPECT_EQ(d->videoOverlays[1].width, 16);

  vlBitmap* green = NewBitmap(80, 60, 0, nullptr);
  FillBitmapRect(green, 0, 0, 80, 60, 0xFF00FF00u);
  const uint32_t videoPixel = WindowPixel(d, 12, 22);
  EXPECT_NE(videoPixel, 0x00FF00u);
  BlitToDisplay(green, 0, 0, d, 0, 0, 80, 60, 0);
  EXPECT_EQ(WindowPixel(d, 9, 22), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 12, 22), videoPixel);
  EXPECT_EQ(WindowPixel(d, 25, 27), videoPixel);
  EXPECT_EQ(WindowPixel(d, 26, 27), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 79, 59), videoPixel);
  // Shapes drawn to the window are cut the same way.
  FillDisplayRect(d, 0, 0, 80, 60, 0x0000FF);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 12, 22), videoPixel);
  // The videos' own frames go over them.
  BlitToDisplay(green, 0, 0, d, 0, 0, 80, 60, 0x20);
  EXPECT_EQ(WindowPixel(d, 12, 22), 0x00FF00u);

  // Stopped videos are cut out no more.
  ASSERT_EQ(Run(".call stopvideo 1\n.call stopvideo 2"), 0);
  EXPECT_EQ(d->videoOverlayCount, 0);
  BlitToDisplay(green, 0, 0, d, 0, 0, 80, 60, 0);
  FillDisplayRect(d, 0, 0, 80, 60, 0x0000FF);
  EXPECT_EQ(WindowPixel(d, 12, 22), 0x0000FFu);
  DeleteBitmap(green);
}

}  // namespace

// An auto-scaled window made larger by the user takes its videos along:
// the paused red video at 10,20 of an 80x60 picture shown in a window of
// twice the size sits at 20,40, twice as large, and the window shows it
// there and the picture's blue where it was.
TEST_F(VideoMask, VideosFollowTheWindowOfAScaledDisplay) {
  std::string file;
  vlDisplay* d = OpenBlueDisplay(", scalemode = 1, sizeable = 1", &file);
  ASSERT_NE(d, nullptr);
  vlVideo* v = PlayPaused(1, file, 10, 20);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->scaledX, 10);
  // What the window manager's resize hands the display.
  ASSERT_EQ(ResizeDisplayToWindow(L, d, 160, 120), 0);
  FlushPendingDisplayFrames(L);
  ASSERT_EQ(d->scaleX, 2.0);
  ASSERT_EQ(GetVideoByID(L, {1, nullptr}, 0, &v), 0);
  EXPECT_EQ(v->scaledX, 20);
  EXPECT_EQ(v->scaledY, 40);
  EXPECT_EQ(v->scaledWidth, 32);
  EXPECT_EQ(v->scaledHeight, 16);
  ASSERT_EQ(d->videoOverlayCount, 1);
  EXPECT_EQ(d->videoOverlays[0].x, 20);
  const uint32_t red = WindowPixel(d, 50, 54);
  EXPECT_GT(red >> 16 & 255, 200u) << std::hex << red;
  EXPECT_LT(red & 255, 60u) << std::hex << red;
  EXPECT_EQ(WindowPixel(d, 21, 41), red);
  EXPECT_EQ(WindowPixel(d, 19, 39), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 52, 56), 0x0000FFu);
  ASSERT_EQ(Run(".call stopvideo 1"), 0);
}
