// Brushes through the clipboard as PNG pictures: the PNG the player writes
// is read back by ImageMagick, and a PNG that another client (xclip) owns
// comes in as a new brush.
#include "tests/display/core/display_fixture.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "runtime/os.h"
#include "player/system_library.h"
#include "vm/error_codes.h"
#include "vm/value.h"

namespace {

class BrushClipboard : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenSystemLibrary(L), 0);
  }
  void TearDown() override {
    if (started_) FreeBrushLib(L);
    DisplayTest::TearDown();
  }
  std::string Temp(const char* name) { return testing::TempDir() + std::to_string(getpid()) + name; }
};

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t Pixel(vlBitmap* b, int x, int y) { return ReadBitmapPixel(b, x, y, 0) & 0xFFFFFF; }

TEST_F(BrushClipboard, BrushBecomesAPngImageMagickReads) {
  // A 3 x 2 brush: red, green, blue on top, white below; the alpha
  // channel makes the middle column half transparent.
  ASSERT_EQ(Run(".table 0 { alphachannel = 1 }\n.call base=1 createbrush 1 3 2 16777215 r0"), 0);
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &b, 0), 0);
  WriteBitmapPixel(b->bitmap, 0, 0, 0xFF0000, 0);
  WriteBitmapPixel(b->bitmap, 1, 0, 0x00FF00, 0);
  WriteBitmapPixel(b->bitmap, 2, 0, 0x0000FF, 0);
  FillAlphaRect(b->alpha, 1, 0, 1, 2, 128);

  uint8_t* png = nullptr;
  size_t length = 0;
  ASSERT_EQ(BrushToClipboardPNG(L, {1, nullptr}, &png, &length), 0);
  const std::string file = Temp("clip_out.png"), raw = Temp("clip_out.rgba");
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<char*>(png), static_cast<std::streamsize>(length));
  ASSERT_EQ(std::system(("convert '" + file + "' -depth 8 rgba:'" + raw + "'").c_str()), 0);
  std::vector<uint8_t> rgba = ReadFile(raw);
  const std::vector<uint8_t> want = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 255,
                                     255, 255, 255, 255, 255, 255, 255, 128, 255, 255, 255, 255};
  EXPECT_EQ(rgba, want);

  // And the same bytes come back as a brush with an alpha channel.
  ASSERT_EQ(BrushFromClipboardPNG(L, png, length), 0);
  auto* copy = static_cast<vlBrush*>(vl::ToUserdataAt(L, -1));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->width, 3);
  EXPECT_EQ(copy->height, 2);
  EXPECT_EQ(Pixel(copy->bitmap, 2, 0), 0x0000FFu);
  ASSERT_NE(copy->alpha, nullptr);
  auto* plane = static_cast<vlPlane*>(copy->alpha->handle);
  EXPECT_EQ(plane->pixels[1], 128);
  EXPECT_EQ(plane->pixels[2], 255);
  FreeMemory(png);
  std::remove(file.c_str());
  std::remove(raw.c_str());

  EXPECT_EQ(BrushToClipboardPNG(L, {9, nullptr}, &png, &length), ERR_FINDBRUSH);
  const uint8_t junk[] = {0x89, 'P', 'N', 'G', 1, 2, 3};
  EXPECT_NE(BrushFromClipboardPNG(L, junk, sizeof junk), 0);
}

TEST_F(BrushClipboard, PngFromAnotherClientArrivesAsBrush) {
  if (std::system("command -v xclip >/dev/null 2>&1") != 0) GTEST_SKIP() << "xclip missing";
  const std::string file = Temp("clip_in.png");
  ASSERT_EQ(std::system(("convert -size 4x3 xc:'#336699' -fill '#FF8000' -draw 'point 1,2' '" + file + "'").c_str()),
            0);
  Display* d = XOpenDisplay(server_.name());
  ASSERT_NE(d, nullptr);
  Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
  Window before = XGetSelectionOwner(d, clipboard);
  std::string command =
      std::string("DISPLAY=") + server_.name() + " xclip -i -selection clipboard -t image/png '" + file + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((XGetSelectionOwner(d, clipboard) == None || XGetSelectionOwner(d, clipboard) == before) &&
         std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  XCloseDisplay(d);

  // The clipboard is read through a display's window.
  ASSERT_EQ(Run(".table 0 { width = 40, height = 30 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1"), 0);
  ASSERT_EQ(Run(".call peekclipboard -> kind\n.call getclipboard -> got h"), 0);
  EXPECT_EQ(Num("kind"), 2);
  EXPECT_EQ(Num("got"), 2);
  const vlValue* h = vltest::GetGlobal(L, "h");
  ASSERT_EQ(h->tag, VL_TLIGHTUSERDATA);
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {0, h->v.p}, &b, 0), 0);
  EXPECT_EQ(b->width, 4);
  EXPECT_EQ(b->height, 3);
  EXPECT_EQ(Pixel(b->bitmap, 0, 0), 0x336699u);
  EXPECT_EQ(Pixel(b->bitmap, 1, 2), 0xFF8000u);
  std::remove(file.c_str());
}

}  // namespace
