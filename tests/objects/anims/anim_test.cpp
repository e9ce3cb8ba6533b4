// The anim and sprite libraries driven by assembled scripts on a private X
// server: GIF anims made by ImageMagick loaded and checked pixel by pixel,
// grids cut from brushes, frame edits, copies, saving read back by the
// GIF reader and by ImageMagick, anims played and sprites shown on a
// window (read back with XGetImage), and the error codes.
#include "tests/display/core/display_fixture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "display/graphics_library/graphics_library.h"
#include "display/layers/async_draw.h"
#include "display/commands/layers_library.h"
#include "display/layers/engine_hooks.h"
#include "display/layers/layers.h"
#include "formats/anim_source.h"
#include "graphics/bitmap.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/sprites/sprite.h"
#include "runtime/errors.h"
#include "tests/objects/anims/anim_lookup.h"
#include "vm/error_codes.h"
#include "vm/table.h"

namespace {

class AnimTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenAnimLib(L), 0);
    ASSERT_EQ(OpenSpriteLib(L), 0);
    dir_ = testing::TempDir() + "anim_" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir -p '" + dir_ + "'").c_str()), 0);
  }
  void TearDown() override {
    if (started_) {
      FreeSpriteLibrary(L);
      FreeAnimLibrary(L);
      FreeBrushLib(L);
      std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    DisplayTest::TearDown();
  }
  vlAnim* Anim(int n) { return vltest::FindAnim(L, n); }
  vlSprite* Sprite(int n) { return vltest::FindSprite(L, n); }
  vlDisplay* OpenWindow(int w = 80, int h = 60) {
    EXPECT_EQ(Run(".table 0 { width = " + std::to_string(w) + ", height = " + std::to_string(h) +
                  ", color = 0 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1"),
              0);
    return CurrentDisplay();
  }
  // A 3-frame 8x6 GIF anim: solid red, green, blue, 10/20/30 centiseconds.
  std::string ThreeFrameGif() {
    const std::string file = dir_ + "/three.gif";
    std::string cmd = "convert -size 8x6 -delay 10 xc:'#ff0000' -delay 20 xc:'#00ff00' -delay 30 xc:'#0000ff' '" +
                      file + "' 2>/dev/null";
    return std::system(cmd.c_str()) == 0 ? file : "";
  }
  // Brush 1: three 4x4 tiles side by side, red, green and blue.
  void TileBrush() {
    ASSERT_EQ(Run(".call createbrush 1 12 4 16711680"), 0);
    vlBrush* b = nullptr;
    ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &b, 0), 0);
    FillBitmapRect(b->bitmap, 4, 0, 4, 4, 0xFF00FF00u);
    FillBitmapRect(b->bitmap, 8, 0, 4, 4, 0xFF0000FFu);
  }
  std::string dir_;
};

uint32_t Pixel(vlBitmap* b, int x, int y) { return ReadBitmapPixel(b, x, y, 0) & 0xFFFFFF; }

TEST_F(AnimTest, LoadsImageMagickGifFramesAndDelays) {
  const std::string gif = ThreeFrameGif();
  if (gif.empty()) GTEST_SKIP() << "no ImageMagick";
  ASSERT_EQ(Run(".call loadanim 1 \"" + gif + "\""), 0);
  vlAnim* a = Anim(1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->width, 8);
  EXPECT_EQ(a->height, 6);
  ASSERT_EQ(a->frameCount, 3);
  const uint32_t colors[3] = {0xFF0000, 0x00FF00, 0x0000FF};
  for (int f = 0; f < 3; ++f) {
    EXPECT_EQ(Pixel(a->bitmaps[f], 0, 0), colors[f]);
    EXPECT_EQ(Pixel(a->bitmaps[f], 7, 5), colors[f]);
    EXPECT_EQ(GetAnimFrameDelay(a, f), (f + 1) * 100);
  }
  // A disk anim decodes the same frames on demand.
  ASSERT_EQ(Run(".table 0 { fromdisk = 1 }\n.call base=1 loadanim 2 \"" + gif + "\" r0"), 0);
  vlAnim* d = Anim(2);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->disk, 1u);
  vlBitmap *b, *m, *al;
  ASSERT_EQ(GetAnimFrameBitmaps(d, 2, 0, 0, &b, &m, &al), 0);
  EXPECT_EQ(Pixel(b, 3, 3), 0x0000FFu);
  FreeFrameTriple(b, m, al);
  EXPECT_EQ(Run(".call modifyanimframes 2 1"), ERR_ANIMDISK);
  // IsAnim: a GIF of three frames is an anim, a picture is not.
  ASSERT_EQ(std::system(("convert -size 4x4 xc:white '" + dir_ + "/one.png'").c_str()), 0);
  ASSERT_EQ(Run(".call isanim \"" + gif + "\" -> yes\n.call isanim \"" + dir_ + "/one.png\" -> no"), 0);
  EXPECT_EQ(Num("yes"), 1);
  EXPECT_EQ(Num("no"), 0);
  // A single picture loads as a one-frame anim.
  ASSERT_EQ(Run(".call loadanim 3 \"" + dir_ + "/one.png\""), 0);
  ASSERT_NE(Anim(3), nullptr);
  EXPECT_EQ(Anim(3)->frameCount, 1);
  EXPECT_EQ(Pixel(Anim(3)->bitmaps[0], 1, 1), 0xFFFFFFu);
  // A strip picture cut into a grid of frames: two per row, three frames.
  const std::string strip = dir_ + "/strip.png";
  ASSERT_EQ(std::system(("convert -size 4x3 xc:'#ff0000' xc:'#00ff00' +append \\( -size 4x3 xc:'#0000ff' "
                         "xc:'#ffffff' +append \\) -append '" + strip + "'")
                            .c_str()),
            0);
  ASSERT_EQ(Run(".table 0 { width = 4, height = 3, frames = 3, fpr = 2 }\n.call base=1 loadsprite 4 \"" + strip +
                "\" r0"),
            0);
  ASSERT_NE(Sprite(4), nullptr);
  ASSERT_EQ(Sprite(4)->frameCount, 3);
  EXPECT_EQ(Pixel(Sprite(4)->bitmaps[1], 0, 0), 0x00FF00u);
  EXPECT_EQ(Pixel(Sprite(4)->bitmaps[2], 3, 2), 0x0000FFu);
}

TEST_F(AnimTest, IffAnimLoopFramesAreSkipped) {
  // The IFF generator of the format tests: five frames, the last two the
  // format's loop frames.
  const std::string file = dir_ + "/op5.anim";
  const std::string tool = std::string(std::getenv("VL_SOURCE_DIR")) + "/tests/formats/pictures/make_iff.py";
  ASSERT_EQ(std::system(("python3 '" + tool + "' anim '" + file + "' op5 >/dev/null 2>&1").c_str()), 0);
  ASSERT_EQ(Run(".call loadanim 1 \"" + file + "\""), 0);
  ASSERT_EQ(Anim(1)->frameCount, 5);
  // Frame 3 as the generator drew it: its delta repeats a byte down a
  // column and changes rows below that run.
  std::ifstream in(file + ".3.rgb", std::ios::binary);
  const std::vector<unsigned char> rgb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(rgb.size(), 4u + 3u * Anim(1)->width * Anim(1)->height);
  for (int y = 0, i = 4; y < Anim(1)->height; ++y)
    for (int x = 0; x < Anim(1)->width; ++x, i += 3)
      ASSERT_EQ(Pixel(Anim(1)->bitmaps[3], x, y), uint32_t(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2])) << x << "," << y;
  ASSERT_EQ(Run(".table 0 { skiploopframes = 1 }\n.call base=1 loadanim 2 \"" + file + "\" r0"), 0);
  ASSERT_EQ(Anim(2)->frameCount, 3);
  for (int f = 0; f < 3; ++f)
    for (int y = 0; y < Anim(1)->height; y += 3)
      for (int x = 0; x < Anim(1)->width; x += 3)
        ASSERT_EQ(Pixel(Anim(2)->bitmaps[f], x, y), Pixel(Anim(1)->bitmaps[f], x, y)) << f;
  // The disk anim plays the same frames as the loaded one.
  ASSERT_EQ(Run(".table 0 { fromdisk = 1 }\n.call base=1 loadanim 3 \"" + file + "\" r0"), 0);
  vlBitmap *b, *m, *a;
  ASSERT_EQ(GetAnimFrameBitmaps(Anim(3), 4, 0, 0, &b, &m, &a), 0);
  EXPECT_EQ(Pixel(b, 1, 1), Pixel(Anim(1)->bitmaps[4], 1, 1));
  FreeFrameTriple(b, m, a);
}

TEST_F(AnimTest, LoadErrors) {
  const std::string gif = ThreeFrameGif();
  if (gif.empty()) GTEST_SKIP() << "no ImageMagick";
  EXPECT_EQ(Run(".table 0 { loadalpha = 1, transparency = 0 }\n.call base=1 loadanim 1 \"" + gif + "\" r0"),
            ERR_MASKNALPHA);
  EXPECT_EQ(Run(".table 0 { loadalpha = 1, loadtransparency = 1 }\n.call base=1 loadanim 1 \"" + gif + "\" r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { frames = 2, fromdisk = 1 }\n.call base=1 loadanim 1 \"" + gif + "\" r0"),
            ERR_WRONGUSAGE);
  const std::string junk = dir_ + "/junk.bin";
  std::ofstream(junk) << "this is neither a picture nor an anim";
  EXPECT_EQ(Run(".call loadanim 1 \"" + junk + "\""), kErrAnimFormat);
  EXPECT_NE(Run(".call loadanim 1 \"/nonexistent/none.gif\""), 0);
  // A FIFO cannot seek (held open here for writing so the open does not wait).
  const std::string fifo = dir_ + "/anim.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int writer = open(fifo.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  EXPECT_EQ(Run(".call loadanim 1 \"" + fifo + "\""), ERR_SEEKFILE);
  close(writer);
  EXPECT_EQ(Run(".call freeanim 9"), kErrFindAnim);
  EXPECT_EQ(Run(".call loadanimframe 1 4 \"" + gif + "\""), ERR_ANIMFRAME);
  ASSERT_EQ(Run(".call loadanimframe 1 -1 \"" + gif + "\""), 0);
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &b, 0), 0);
  EXPECT_EQ(Pixel(b->bitmap, 0, 0), 0x0000FFu);
}

TEST_F(AnimTest, CreateFromBrushGridAndEditFrames) {
  // A 12x4 brush of three 4x4 tiles: red, green, blue.
  ASSERT_NO_FATAL_FAILURE(TileBrush());
  ASSERT_EQ(Run(".call createanim 1 1 4 4 3 3"), 0);
  vlAnim* a = Anim(1);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->frameCount, 3);
  EXPECT_EQ(Pixel(a->bitmaps[0], 0, 0), 0xFF0000u);
  EXPECT_EQ(Pixel(a->bitmaps[1], 3, 3), 0x00FF00u);
  EXPECT_EQ(Pixel(a->bitmaps[2], 0, 0), 0x0000FFu);
  // Grids that do not fit, negative starts and bad sizes.
  EXPECT_EQ(Run(".call createanim 2 1 4 4 4 4"), kErrSizeMismatch);
  EXPECT_EQ(Run(".call createanim 2 1 4 4 2 2 -1 0"), ERR_NEGCOORDS);
  EXPECT_EQ(Run(".call createanim 2 1 0 4 2 2"), ERR_WRONGUSAGE);
  // Two rows of two frames each from a 2-per-row grid.
  ASSERT_EQ(Run(".call createanim 2 1 4 2 4 2"), 0);
  EXPECT_EQ(Anim(2)->frameCount, 4);
  EXPECT_EQ(Pixel(Anim(2)->bitmaps[3], 0, 0), 0x00FF00u);  // row 1, column 1

  // Frame edits: insert two black frames at position 2, remove them again.
  ASSERT_EQ(Run(".call modifyanimframes 1 2 2"), 0);
  ASSERT_EQ(a->frameCount, 5);
  EXPECT_EQ(Pixel(a->bitmaps[0], 0, 0), 0xFF0000u);
  EXPECT_EQ(Pixel(a->bitmaps[1], 0, 0), 0u);
  EXPECT_EQ(Pixel(a->bitmaps[3], 0, 0), 0x00FF00u);
  EXPECT_EQ(Run(".call modifyanimframes 1 -5"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call modifyanimframes 1 0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call modifyanimframes 1 -2 5"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call modifyanimframes 1 -2 0"), 0);  // the last two go
  ASSERT_EQ(a->frameCount, 3);
  EXPECT_EQ(Pixel(a->bitmaps[2], 0, 0), 0u);
  // New frames of an anim with alpha are opaque black.
  ASSERT_EQ(Run(".table 0 { alphachannel = 1 }\n.call base=1 createbrush 3 4 4 255 r0\n"
                ".call createanim 3 3 4 4 1 1\n.call modifyanimframes 3 1"),
            0);
  ASSERT_NE(Anim(3)->alphas[1], nullptr);
  auto* plane = static_cast<vlPlane*>(Anim(3)->alphas[1]->handle);
  EXPECT_EQ(plane->pixels[0], 255);
  // ... and of an anim with a mask visible black.
  ASSERT_EQ(Run(".table 0 { mask = 1 }\n.call base=1 createbrush 4 4 4 255 r0\n"
                ".call createanim 4 4 4 4 1 1\n.call modifyanimframes 4 1"),
            0);
  ASSERT_NE(Anim(4)->masks[1], nullptr);
  EXPECT_EQ(ReadBitmapPixel(Anim(4)->masks[1], 3, 3, 1), 1u);
  EXPECT_EQ(Pixel(Anim(4)->bitmaps[1], 3, 3), 0u);

  // Delays, copies and scaling.
  EXPECT_EQ(Run(".call setanimframedelay 1 4 10"), ERR_ANIMFRAME);
  EXPECT_EQ(Run(".call setanimframedelay 1 1 -1"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call setanimframedelay 1 2 70"), 0);
  EXPECT_EQ(GetAnimFrameDelay(a, 1), 70);
  EXPECT_EQ(GetAnimFrameDelay(a, 0), 0);
  EXPECT_EQ(Run(".call copyanim 1 1"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call copyanim 1 nil -> h"), 0);
  ASSERT_EQ(Run(".call scaleanim 1 8 2"), 0);
  EXPECT_EQ(a->width, 8);
  EXPECT_EQ(a->bitmaps[0]->width, 8);
  EXPECT_EQ(Pixel(a->bitmaps[0], 7, 1), 0xFF0000u);
  ASSERT_EQ(Run(".call getanimframe 5 1 $h"), 0);  // the copy kept the old size
  vlBrush* frame = nullptr;
  ASSERT_EQ(GetBrushByID(L, {5, nullptr}, &frame, 0), 0);
  EXPECT_EQ(frame->width, 4);
  EXPECT_EQ(Run(".call getanimframe 5 9 1"), ERR_ANIMFRAME);
  ASSERT_EQ(Run(".call freeanim $h\n.call freeanim 1"), 0);
  EXPECT_EQ(Anim(1), nullptr);
}

TEST_F(AnimTest, SavedGifReadsBackThroughImageMagickAndTheReader) {
  ASSERT_NO_FATAL_FAILURE(TileBrush());
  ASSERT_EQ(Run(".call createanim 1 1 4 4 3 3\n.call setanimframedelay 1 2 200"), 0);
  const std::string gif = dir_ + "/saved.gif";
  EXPECT_EQ(Run(".table 0 { colors = 1 }\n.call base=1 saveanim 1 \"" + gif + "\" 0 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { colors = 257 }\n.call base=1 saveanim 1 \"" + gif + "\" 0 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { usealpha = 1, transparency = 0 }\n.call base=1 saveanim 1 \"" + gif + "\" 0 r0"),
            ERR_MASKNALPHA);
  EXPECT_EQ(Run(".call saveanim 1 \"" + gif + "\" 77"), kErrUnknownAnimFormat);
  ASSERT_EQ(Run(".call saveanim 1 \"" + gif + "\""), 0);
  // ImageMagick sees three 4x4 frames with our colours and delays.
  FILE* p = popen(("identify -format '%w %h %T %[pixel:p{1,1}]\\n' '" + gif + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[256];
  std::vector<std::string> lines;
  while (fgets(line, sizeof line, p)) lines.emplace_back(line);
  pclose(p);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 6), "4 4 0 ");
  EXPECT_NE(lines[0].find("(255,0,0,1)"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].substr(0, 7), "4 4 20 ");
  EXPECT_NE(lines[1].find("(0,255,0,1)"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("(0,0,255,1)"), std::string::npos) << lines[2];
  // And our own reader gets the frames back.
  ASSERT_EQ(Run(".call loadanim 2 \"" + gif + "\""), 0);
  ASSERT_EQ(Anim(2)->frameCount, 3);
  EXPECT_EQ(Pixel(Anim(2)->bitmaps[1], 2, 2), 0x00FF00u);

  // A stream: a small brush placed at (2, 1) on an 8x6 frame, black around.
  const std::string avi = dir_ + "/stream.gif";
  ASSERT_EQ(Run(".call createbrush 3 2 2 16777215\n.call beginanimstream 4 \"" + avi + "\" 8 6\n"
                ".table 0 { x = 2, y = 1, delay = 50 }\n.call base=1 writeanimframe 4 3 r0\n"
                ".call finishanimstream 4"),
            0);
  EXPECT_EQ(Run(".call finishanimstream 4"), kErrFindAnimStream);
  EXPECT_EQ(Run(".call beginanimstream 5 \"" + avi + "\" 0 6"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call loadanim 5 \"" + avi + "\""), 0);
  vlAnim* s = Anim(5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->width, 8);
  EXPECT_EQ(Pixel(s->bitmaps[0], 2, 1), 0xFFFFFFu);
  EXPECT_EQ(Pixel(s->bitmaps[0], 3, 2), 0xFFFFFFu);
  EXPECT_EQ(Pixel(s->bitmaps[0], 1, 1), 0u);
  EXPECT_EQ(Pixel(s->bitmaps[0], 4, 1), 0u);
  EXPECT_EQ(GetAnimFrameDelay(s, 0), 50);

  // An AVI read back by ffmpeg: three frames of 4x4 (MJPEG, so colours
  // only roughly).
  const std::string aviFile = dir_ + "/saved.avi";
  ASSERT_EQ(Run(".call saveanim 1 \"" + aviFile + "\" 1"), 0);
  p = popen(("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames,width "
             "-of csv=p=0 '" + aviFile + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  while (fgets(line, sizeof line, p)) out += line;
  pclose(p);
  EXPECT_EQ(out, "4,3\n");
}

// Anim streams among many: each found by number or handle through the
// commands and the object commands, re-used numbers closing the old stream;
// unknown ids keep their errors.
TEST_F(AnimTest, ManyAnimStreamsByIdentifier) {
  OpenObjectCommands();
  auto file = [&](const std::string& name) { return "\"" + dir_ + "/" + name + ".gif\""; };
  std::string make = ".call createbrush 3 2 2 16777215\n";
  for (int i = 1; i <= 40; ++i) make += ".call beginanimstream " + std::to_string(i) + " " + file(std::to_string(i)) + " 4 4\n";
  ASSERT_EQ(Run(make + ".call beginanimstream nil " + file("auto") + " 4 4 -> s\n.call getobjecttype $s -> t\n"
                ".call haveobject 52 25 -> h\n.call getobjects 52 -> list n"),
            0);
  EXPECT_EQ(Num("t"), 52);
  EXPECT_EQ(Num("h"), 1);
  EXPECT_EQ(Num("n"), 41);
  ASSERT_EQ(Run(".call writeanimframe 25 3\n.call finishanimstream 25\n.call writeanimframe $s 3\n"
                ".call finishanimstream $s\n.call getobjecttype $s -> t\n.call haveobject 52 25 -> h"),
            0);
  EXPECT_EQ(Num("t"), -1);
  EXPECT_EQ(Num("h"), 0);
  EXPECT_EQ(Run(".call writeanimframe 25 3"), kErrFindAnimStream);
  char text[kErrorTextSize];
  GetErrorText(kErrFindAnimStream, text, sizeof text);
  EXPECT_NE(std::string(text).find("25"), std::string::npos) << text;
  EXPECT_EQ(Run(".call finishanimstream 25"), kErrFindAnimStream);
  EXPECT_EQ(Run(".call writeanimframe $s 3"), ERR_FINDARRAY);
  EXPECT_EQ(Run(".call finishanimstream $s"), ERR_FINDARRAY);
  // A number in use starts a new stream in place of the old one; a freed
  // number is made again.
  ASSERT_EQ(Run(".call beginanimstream 10 " + file("ten") + " 4 4\n.call beginanimstream 25 " + file("again") +
                " 4 4\n.call writeanimframe 25 3\n.call writeanimframe 10 3\n.call writeanimframe 10 3\n"
                ".call getobjects 52 -> list n\n.call finishanimstream 10\n.call finishanimstream 25\n"
                ".call loadanim 1 " + file("ten") + "\n.call loadanim 2 " + file("again")),
            0);
  EXPECT_EQ(Num("n"), 40);
  const vlValue* list = vltest::GetGlobal(L, "list");
  ASSERT_EQ(list->tag, VL_TTABLE);
  EXPECT_EQ(vl::TableGetInt(vl::ToTable(list), 38)->v.n, 10);
  EXPECT_EQ(vl::TableGetInt(vl::ToTable(list), 39)->v.n, 25);
  ASSERT_NE(Anim(1), nullptr);
  EXPECT_EQ(Anim(1)->frameCount, 2);
  ASSERT_NE(Anim(2), nullptr);
  EXPECT_EQ(Anim(2)->frameCount, 1);
}

TEST_F(AnimTest, PlayAnimOnTheWindowAndAsLayer) {
  vlDisplay* d = OpenWindow();
  ASSERT_NE(d, nullptr);
  ASSERT_NO_FATAL_FAILURE(TileBrush());
  ASSERT_EQ(Run(".call createanim 1 1 4 4 3 3"), 0);
  // Played once at full speed: the last frame stays on the window.
  ASSERT_EQ(Run(".call playanim 1 10 20 -2"), 0);
  EXPECT_EQ(WindowPixel(d, 11, 21), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 9, 21), 0u);
  EXPECT_EQ(Anim(1)->locked, 0u);
  // At full speed the frames still keep the screen's pace: 30 frames take
  // 29 vertical blanks at least.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(".call playanim 1 10 20 -2 10"), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29 * 16));
  // DisplayAnimFrame shows one frame.
  ASSERT_EQ(Run(".call displayanimframe 1 30 30 2"), 0);
  EXPECT_EQ(WindowPixel(d, 31, 31), 0x00FF00u);
  EXPECT_EQ(Run(".call displayanimframe 1 30 30 4"), ERR_ANIMFRAME);
  // Async: a handle comes back and the anim is locked while it plays.
  ASSERT_EQ(Run(".table 0 { async = 1, times = 0 }\n.call base=1 playanim 1 40 40 r0 -> h"), 0);
  EXPECT_EQ(Anim(1)->locked, 1u);
  EXPECT_EQ(Run(".call modifyanimframes 1 1"), ERR_LOCKEDOBJ);
  FreeAsyncDraws(L);
  EXPECT_EQ(Anim(1)->locked, 0u);

  // Layers: a frame shown as a layer; freeing the anim keeps the layer.
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  ASSERT_EQ(Run(".call displayanimframe 1 50 10 3"), 0);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->type, VL_LAYER_ANIM);
  EXPECT_EQ(WindowPixel(d, 51, 11), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 53, 13), 0x0000FFu);  // the whole frame, from its left edge
  // Played as a layer, the anim keeps its draw tags' transform: twice the
  // size, the last frame left showing.
  ASSERT_EQ(Run(".table 0 { scalex = 2, scaley = 2 }\n.call base=1 playanim 1 60 30 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 67, 37), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 60, 30), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 68, 38), 0u);
  ASSERT_EQ(Run(".call freeanim 1"), 0);
  EXPECT_EQ(Anim(1), nullptr);
  RefreshRect(L, 0, 0, 80, 60, 0);
  EXPECT_EQ(WindowPixel(d, 51, 11), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 53, 13), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 67, 37), 0x0000FFu);
  ShutdownLayerSystem(L);
}

TEST_F(AnimTest, SpritesShowMoveAndRefuseChanges) {
  vlDisplay* d = OpenWindow();
  ASSERT_NE(d, nullptr);
  ASSERT_NO_FATAL_FAILURE(TileBrush());
  ASSERT_EQ(Run(".call createsprite 1 3 1 4 4 3 3"), 0);
  vlSprite* s = Sprite(1);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->frameCount, 3);
  ASSERT_EQ(Run(".call displaysprite 1 10 10 3"), 0);
  EXPECT_EQ(WindowPixel(d, 11, 11), 0x0000FFu);
  // Frame 0 after the last frame wraps to frame 1.
  ASSERT_EQ(Run(".call displaysprite 1 10 10"), 0);
  EXPECT_EQ(WindowPixel(d, 11, 11), 0xFF0000u);
  // Moving restores the background.
  ASSERT_EQ(Run(".call displaysprite 1 30 10 2"), 0);
  EXPECT_EQ(WindowPixel(d, 11, 11), 0u);
  EXPECT_EQ(WindowPixel(d, 31, 11), 0x00FF00u);
  EXPECT_EQ(CountSpriteNodes(d->bgpic), 1);
  EXPECT_EQ(Run(".call flipsprite 1 0"), ERR_MODIFYSPRITE);
  // A sprite that a move holds is named as on screen first.
  s->locked = 1;
  EXPECT_EQ(Run(".call scalesprite 1 8 8"), ERR_MODIFYSPRITE);
  s->locked = 0;
  EXPECT_EQ(Run(".call copysprite 1 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call displaysprite 1 0 0 4"), ERR_ANIMFRAME);
  // A sprite made of two sprites: frame 4 is frame 1 of the second.
  ASSERT_EQ(Run(".call copysprite 1 2\n.call flipsprite 2 1\n.call createsprite 3 32 1 2"), 0);
  vlSprite* link = Sprite(3);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->frameCount, 6);
  vlBitmap* frame = nullptr;
  GetSpriteFrameBitmaps(link, 3, &frame, nullptr, nullptr);
  EXPECT_EQ(frame, Sprite(2)->bitmaps[0]);
  frame = nullptr;
  GetSpriteFrameBitmaps(link, 6, &frame, nullptr, nullptr);
  EXPECT_EQ(frame, nullptr);
  EXPECT_EQ(Run(".call createsprite 4 32 3"), kErrSpriteLink);
  EXPECT_EQ(Run(".call scalesprite 2 8 8"), ERR_MODIFYSPRITE2);
  // A move made just before BeginRefresh still shows; the ones made while
  // refreshing is held show at EndRefresh.
  ASSERT_EQ(OpenGraphicsLib(L), 0);
  ASSERT_EQ(Run(".call displaysprite 1 50 10 2\n.call beginrefresh 1\n.call displaysprite 1 50 30 2"), 0);
  EXPECT_EQ(WindowPixel(d, 51, 11), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 51, 31), 0u);
  ASSERT_EQ(Run(".call endrefresh\n.call displaysprite 1 30 10 2"), 0);
  EXPECT_EQ(WindowPixel(d, 51, 31), 0u);
  EXPECT_EQ(WindowPixel(d, 51, 11), 0u);
  EXPECT_EQ(WindowPixel(d, 31, 11), 0x00FF00u);
  // A sprite put on screen while a clip region is active is cut by it;
  // freeing the region shows it whole at once, and after a move too.
  ASSERT_EQ(Run(".call createsprite 5 3 1\n.call createclipregion 1 14 0 0 44 60\n.call setclipregion 1\n"
                ".call displaysprite 5 40 40"),
            0);
  EXPECT_EQ(WindowPixel(d, 41, 41), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 45, 41), 0u);
  ASSERT_EQ(Run(".call freeclipregion 1"), 0);
  EXPECT_EQ(WindowPixel(d, 45, 41), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 49, 41), 0x0000FFu);
  ASSERT_EQ(Run(".call displaysprite 5 40 44"), 0);
  EXPECT_EQ(WindowPixel(d, 49, 45), 0x0000FFu);
  ASSERT_EQ(Run(".call removesprite 5\n.call freesprite 5"), 0);
  // Removing and freeing.
  ASSERT_EQ(Run(".call removesprite 1"), 0);
  EXPECT_EQ(WindowPixel(d, 31, 11), 0u);
  EXPECT_EQ(Run(".call removesprite 1"), ERR_SPRITEONSCREEN);
  ASSERT_EQ(Run(".call freesprite 2"), 0);
  EXPECT_EQ(Sprite(3), nullptr);  // the link went with its component
  EXPECT_EQ(Run(".call freesprite 2"), ERR_FINDSPRITE);
  ASSERT_EQ(Run(".call displaysprite 1 5 5\n.call removesprites"), 0);
  EXPECT_EQ(CountSpriteNodes(d->bgpic), 0);
  EXPECT_EQ(WindowPixel(d, 6, 6), 0u);
  // Sprites need layers off.
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  EXPECT_EQ(Run(".call displaysprite 1 5 5"), ERR_LAYERSOFF);
  ShutdownLayerSystem(L);
}

// A sprite that another display shows is on screen all the same: it
// cannot be changed, and freeing it takes it off that display too (its
// node used to stay behind, pointing at the freed sprite).
TEST_F(AnimTest, SpritesShownOnAnotherDisplayStayWholeUntilFreed) {
  vlDisplay* d = OpenWindow();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call createbrush 1 8 8 16711680\n.call createsprite 1 3 1\n.call displaysprite 1 10 10\n"
                ".table 0 { width = 40, height = 30 }\n.call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
                ".call selectdisplay 2"),
            0);
  EXPECT_EQ(Run(".call scalesprite 1 2 2"), ERR_MODIFYSPRITE);
  EXPECT_EQ(Run(".call flipsprite 1 1"), ERR_MODIFYSPRITE);
  EXPECT_EQ(WindowPixel(d, 17, 17), 0xFF0000u);
  ASSERT_EQ(Run(".call freesprite 1"), 0);
  EXPECT_EQ(CountSpriteNodes(d->bgpic), 0);
  EXPECT_EQ(WindowPixel(d, 17, 17), 0u);
}

// A clip region made from a brush's mask cuts a sprite shown through it
// to the mask's set pixels, not to its box: a disc drawn by ImageMagick.
TEST_F(AnimTest, SpritesShownThroughAShapeRegionKeepToItsMask) {
  vlDisplay* d = OpenWindow();
  ASSERT_NE(d, nullptr);
  const std::string disc = dir_ + "/disc.bmp";
  ASSERT_EQ(std::system(("convert -size 20x20 xc:black -fill white -draw 'circle 9.5,9.5 9.5,1' -type truecolor '" +
                         disc + "'").c_str()),
            0);
  ASSERT_EQ(OpenGraphicsLib(L), 0);
  ASSERT_EQ(Run(".table 0 { transparency = 0 }\n.call base=1 loadbrush 9 \"" + disc + "\" r0\n"
                ".call createclipregion 1 28 9 10 10\n.call setclipregion 1\n"
                ".call createbrush 1 30 30 16711680\n.call createsprite 1 3 1\n.call displaysprite 1 5 5"),
            0);
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {9, nullptr}, &b, 0), 0);
  int inside = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool set = x >= 10 && y >= 10 && x < 30 && y < 30 && Pixel(b->bitmap, x - 10, y - 10) != 0;
      inside += set;
      ASSERT_EQ(WindowPixel(d, x, y), set ? 0xFF0000u : 0u) << x << "," << y;
    }
  EXPECT_GT(inside, 200);
  ASSERT_EQ(Run(".call freeclipregion 1"), 0);
  EXPECT_EQ(WindowPixel(d, 6, 6), 0xFF0000u);
}

// Sprites collide where the frames they show have pixels: through a
// frame's mask, through its alpha channel, and frame by frame.
TEST_F(AnimTest, SpritesCollideByThePixelsOfTheFrameTheyShow) {
  vlDisplay* d = OpenWindow();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenLayersLib(L), 0);
  const std::string keyed = dir_ + "/discs.bmp", alpha = dir_ + "/disc.png";
  // discs.bmp: a white square, then a white disc on black; disc.png the
  // same disc in an alpha channel.
  ASSERT_EQ(std::system(("convert -size 40x20 xc:black +antialias -fill white -draw 'rectangle 0,0 19,19' -draw "
                         "'circle 29.5,9.5 29.5,1' -type truecolor '" + keyed +
                         "' && convert -size 20x20 xc:none +antialias -fill white -draw 'circle 9.5,9.5 9.5,1' png32:'" +
                         alpha + "'").c_str()),
            0);
  ASSERT_EQ(Run(".table 0 { transparency = 0 }\n.call base=1 loadbrush 1 \"" + keyed +
                "\" r0\n.table 0 { loadalpha = 1 }\n.call base=1 loadbrush 2 \"" + alpha +
                "\" r0\n.call createsprite 1 3 1 20 20 2\n.call createsprite 2 3 2"),
            0);
  ASSERT_NE(Sprite(1)->masks[1], nullptr);
  ASSERT_NE(Sprite(2)->alphas[0], nullptr);
  // The disc frame and the alpha disc with their corners on each other.
  ASSERT_EQ(Run(".call displaysprite 1 0 0 2\n.call displaysprite 2 17 17\n.call collision 32 1 2 -> corners\n"
                ".call collision 32 2 1 -> back\n.call collision 48 1 17 17 3 3 -> cornerbox\n"
                ".call collision 48 2 20 20 8 8 -> middlebox"),
            0);
  EXPECT_EQ(Num("corners"), 0);
  EXPECT_EQ(Num("back"), 0);
  EXPECT_EQ(Num("cornerbox"), 0);
  EXPECT_EQ(Num("middlebox"), 1);
  // The square frame fills its corner, where the alpha disc is still
  // clear; nearer, the discs meet.
  ASSERT_EQ(Run(".call displaysprite 1 0 0 1\n.call collision 32 1 2 -> square\n.call collision 48 1 17 17 3 3 -> "
                "squarebox\n.call displaysprite 1 0 0 2\n.call displaysprite 2 8 8\n.call collision 32 1 2 -> near\n"
                ".call collision 48 1 20 0 5 5 -> outside"),
            0);
  EXPECT_EQ(Num("square"), 0);
  EXPECT_EQ(Num("squarebox"), 1);
  EXPECT_EQ(Num("near"), 1);
  EXPECT_EQ(Num("outside"), 0);
  // Only sprites on screen take part.
  ASSERT_EQ(Run(".call removesprite 2"), 0);
  EXPECT_EQ(Run(".call collision 32 1 2"), ERR_SPRITEONSCREEN);
  EXPECT_EQ(Run(".call collision 48 2 0 0 5 5"), ERR_SPRITEONSCREEN);
  ASSERT_EQ(Run(".call createsprite nil 3 2 -> auto"), 0);
  EXPECT_EQ(Run(".call collision 32 1 $auto"), ERR_SPRITEONSCREEN2);
  EXPECT_EQ(Run(".call collision 33 1 1"), ERR_WRONGUSAGE);
  ShutdownLayerSystem(L);
}

TEST_F(AnimTest, AnimLayerFramesStepAndChangePrivately) {
  vlDisplay* d = OpenWindow();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_NO_FATAL_FAILURE(TileBrush());
  ASSERT_EQ(Run(".call createanim 1 1 4 4 3 3\n.call enablelayers\n"
                ".call displayanimframe 1 10 10 3\n.call displayanimframe 1 30 10 1\n"
                ".call createbrush 2 4 4 16777215\n.call displaybrush 2 50 10"),
            0);
  // The last frame wraps to the first; -1 is the last, 4 is out of range.
  ASSERT_EQ(Run(".call nextframe 1"), 0);
  EXPECT_EQ(WindowPixel(d, 11, 11), 0xFF0000u);
  ASSERT_EQ(Run(".call nextframe 1 20 20 -1"), 0);
  EXPECT_EQ(WindowPixel(d, 21, 21), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 11, 11), 0u);
  EXPECT_EQ(Run(".call nextframe 1 100000 100000 4"), ERR_ANIMFRAME);
  EXPECT_EQ(Run(".call nextframe 9"), ERR_LAYERRANGE);
  // Adding frames to the anim of layer 2 leaves layer 1's anim and the
  // script's anim alone.
  vlLayer* first = GetLayerByPos(d->bgpic, 1);
  vlLayer* second = GetLayerByPos(d->bgpic, 2);
  ASSERT_EQ(Run(".call modifylayerframes 2 2"), 0);
  EXPECT_EQ(Anim(1)->frameCount, 3);
  vlAnim* own = nullptr;
  ASSERT_EQ(GetAnimByID(L, second->source, &own, VL_ANIM_FINDORPHANS), 0);
  EXPECT_EQ(own->frameCount, 5);
  EXPECT_EQ(second->geometry[0]->partX, 0);  // still showing the red frame
  EXPECT_EQ(first->source.number, 1);
  // Removing the shown frame makes the layer show the first one.
  ASSERT_EQ(Run(".call nextframe 2 100000 100000 2"), 0);
  ASSERT_EQ(Run(".call modifylayerframes 2 -1 2"), 0);
  EXPECT_EQ(second->geometry[0]->partX, 0);
  EXPECT_EQ(WindowPixel(d, 31, 11), 0xFF0000u);
  EXPECT_EQ(own->frameCount, 4);
  // Another layer's type refuses NextFrame.
  vlBitmap* box = NewBitmap(4, 4, 0, nullptr);
  vlLayerGeometry* g = NewLayerGeometry();
  g->x = 70, g->y = 0, g->width = 4, g->height = 4;
  ASSERT_EQ(AddLayer(L, VL_LAYER_BOX, nullptr, 70, 0, 4, 4, nullptr, nullptr, box, nullptr, nullptr, g, -1, 0,
                     nullptr),
            0);
  EXPECT_EQ(Run(".call nextframe 3"), ERR_NOANMLAYER);  // the brush's layer
  EXPECT_EQ(Run(".call nextframe 4"), ERR_NOANMLAYER);
  // ModifyLayerFrames too, even when the layer's source id names an anim.
  ASSERT_EQ(Run(".call copyanim 1 2"), 0);
  EXPECT_EQ(Run(".call modifylayerframes 3 1"), ERR_NOANMLAYER);
  EXPECT_EQ(Anim(2)->frameCount, 3);
  // Inserted under the others, and blank anims made by the layer commands.
  ASSERT_EQ(Run(".call insertlayer 1 4 1 0 40 0"), 0);
  vlLayer* inserted = GetLayerByPos(d->bgpic, 1);
  ASSERT_EQ(inserted->type, VL_LAYER_ANIM);
  EXPECT_EQ(WindowPixel(d, 1, 41), 0xFF0000u);
  ASSERT_EQ(Run(".table 0 { frames = 2, color = 16776960 }\n.call base=1 createlayer 60 40 5 5 r0\n"
                ".call nextframe 6"),
            0);
  vlLayer* blank = GetLayerByPos(d->bgpic, 6);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(blank->geometry[0]->partX, 1);
  EXPECT_EQ(WindowPixel(d, 61, 41), 0xFFFF00u);
  // Masked blank frames carry the key blank brushes get; others none.
  ASSERT_EQ(Run(".table 0 { frames = 2, mask = 1 }\n.call base=1 createlayer 70 40 5 5 r0\n"
                ".table 0 { frames = 2, alphachannel = 1 }\n.call base=1 createlayer 70 50 5 5 r0"),
            0);
  for (int pos : {7, 8}) {
    vlAnim* made = nullptr;
    ASSERT_EQ(GetAnimByID(L, GetLayerByPos(d->bgpic, pos)->source, &made, VL_ANIM_FINDORPHANS), 0);
    EXPECT_EQ(made->transparentColor, pos == 7 ? 0xAFC0DE : -1);
    EXPECT_EQ(made->masks[1] != nullptr, pos == 7);
  }
  ShutdownLayerSystem(L);
}

TEST_F(AnimTest, DiskAnimLayersDecodeTheFrameTheyShow) {
  const std::string gif = ThreeFrameGif();
  if (gif.empty()) GTEST_SKIP() << "no ImageMagick";
  vlDisplay* d = OpenWindow();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".table 0 { fromdisk = 1 }\n.call base=1 loadanim 1 \"" + gif + "\" r0\n.call enablelayers\n"
                ".call displayanimframe 1 0 0 2\n.call displayanimframe 1 20 0 3"),
            0);
  EXPECT_EQ(WindowPixel(d, 1, 1), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 21, 1), 0x0000FFu);
  ASSERT_EQ(Run(".call nextframe 1"), 0);
  EXPECT_EQ(WindowPixel(d, 1, 1), 0x0000FFu);
  RefreshRect(L, 0, 0, 80, 60, 0);
  EXPECT_EQ(WindowPixel(d, 1, 1), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 21, 1), 0x0000FFu);
  EXPECT_EQ(Run(".call modifylayerframes 1 1"), ERR_ANIMDISK);
  EXPECT_EQ(Run(".call selectlayer 1 0 2"), ERR_ANIMDISK);
  // PlayAnimDisk plays the file once and leaves nothing behind.
  ASSERT_EQ(Run(".call disablelayers\n.call playanimdisk \"" + gif + "\" 40 40 nil -2"), 0);
  EXPECT_EQ(WindowPixel(d, 41, 41), 0x0000FFu);
  ShutdownLayerSystem(L);
}

TEST_F(AnimTest, SpritesStayAboveWhatIsDrawnUnderThem) {
  vlDisplay* d = OpenWindow();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenLayersLib(L), 0);  // its redraw engine draws the sprites
  InstallLayerHooks();
  ASSERT_EQ(Run(".call createbrush 1 4 4 16711680\n.call createsprite 1 3 1\n.call displaysprite 1 10 10\n"
                ".call createbrush 2 10 10 65280\n.call displaybrush 2 5 5"),
            0);
  EXPECT_EQ(WindowPixel(d, 11, 11), 0xFF0000u);  // the sprite
  EXPECT_EQ(WindowPixel(d, 6, 6), 0x00FF00u);    // the brush around it
  ASSERT_EQ(Run(".call removesprite 1"), 0);
  EXPECT_EQ(WindowPixel(d, 11, 11), 0x00FF00u);
  // Drawn before the first sprite came, and back when it goes.
  ASSERT_EQ(Run(".call createbrush 3 6 6 255\n.call displaybrush 3 40 40\n.call displaysprite 1 41 41\n"
                ".call removesprites"),
            0);
  EXPECT_EQ(WindowPixel(d, 42, 42), 0x0000FFu);
  // Keeping the background leaves the sprites' pictures behind.
  ASSERT_EQ(Run(".call displaysprite 1 60 40\n.call removesprites 1"), 0);
  EXPECT_EQ(CountSpriteNodes(d->bgpic), 0);
  EXPECT_EQ(WindowPixel(d, 61, 41), 0xFF0000u);
  RefreshRect(L, 0, 0, 80, 60, 0);
  EXPECT_EQ(WindowPixel(d, 61, 41), 0xFF0000u);
  ShutdownLayerSystem(L);
}

}  // namespace
