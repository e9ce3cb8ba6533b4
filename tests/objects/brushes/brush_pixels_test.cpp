// Flood fill and colour replacement against hand-worked pictures, and
// brushes saved as BMP, PNG, JPEG and GIF read back by ImageMagick.
#include "tests/display/core/display_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "vm/error_codes.h"

namespace {

class BrushPixelTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    dir_ = testing::TempDir() + "brushsave_" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir -p '" + dir_ + "'").c_str()), 0);
  }
  void TearDown() override {
    if (started_) {
      FreeBrushLib(L);
      std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    DisplayTest::TearDown();
  }
  vlBrush* Brush(int n) {
    vlBrush* b = nullptr;
    return GetBrushByID(L, {n, nullptr}, &b, 0) == 0 ? b : nullptr;
  }
  // Builds brush n from rows of letters: . white, R red, B blue.
  void Picture(int n, const std::vector<std::string>& rows) {
    ASSERT_EQ(Run(".call createbrush " + std::to_string(n) + " " + std::to_string(rows[0].size()) + " " +
                  std::to_string(rows.size()) + " 16777215"),
              0);
    for (size_t y = 0; y < rows.size(); y++)
      for (size_t x = 0; x < rows[y].size(); x++)
        if (rows[y][x] != '.')
          WriteBitmapPixel(Brush(n)->bitmap, int(x), int(y), rows[y][x] == 'R' ? 0xFF0000 : 0x0000FF, 0);
  }
  std::vector<std::string> Letters(int n) {
    std::vector<std::string> out;
    vlBrush* b = Brush(n);
    for (int y = 0; y < b->height; y++) {
      std::string row;
      for (int x = 0; x < b->width; x++) {
        uint32_t c = ReadBitmapPixel(b->bitmap, x, y, 0) & 0xFFFFFF;
        row += c == 0xFFFFFF ? '.' : c == 0xFF0000 ? 'R' : c == 0x0000FF ? 'B' : c == 0x00FF00 ? 'G' : '?';
      }
      out.push_back(row);
    }
    return out;
  }
  // ImageMagick's RGBA bytes of a file.
  std::vector<uint8_t> Decode(const std::string& file) {
    std::string raw = dir_ + "/decoded.rgba";
    std::vector<uint8_t> out;
    if (std::system(("convert '" + file + "' -depth 8 RGBA:'" + raw + "' 2>/dev/null").c_str()) == 0) {
      std::ifstream in(raw, std::ios::binary);
      out.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::remove(raw.c_str());
    return out;
  }
  std::string dir_;
};

TEST_F(BrushPixelTest, FloodFillStopsAtTheBorderColour) {
  Picture(1, {"..R....",
              ".R.R...",
              "R...R.B",
              ".R.R..B",
              "..R.BBB"});
  ASSERT_EQ(Run(".call floodfill 1 2 2 16711680 65280"), 0);
  EXPECT_EQ(Letters(1), (std::vector<std::string>{"..R....", ".RGR...", "RGGGR.B", ".RGR..B", "..R.BBB"}));
  // Blue is no border when red is: the fill passes over it, but not
  // through the red walls around the left corners.
  ASSERT_EQ(Run(".call floodfill 1 6 0 16711680 65280"), 0);
  EXPECT_EQ(Letters(1), (std::vector<std::string>{"..RGGGG", ".RGRGGG", "RGGGRGG", ".RGRGGG", "..RGGGG"}));
  // A seed on the border colour fills nothing.
  Picture(2, {"R..", "..."});
  ASSERT_EQ(Run(".call floodfill 2 0 0 16711680 255"), 0);
  EXPECT_EQ(Letters(2), (std::vector<std::string>{"R..", "..."}));
  EXPECT_EQ(Run(".call floodfill 2 -1 0 16711680 255"), ERR_NEGCOORDS);
  EXPECT_EQ(Run(".call floodfill 2 3 0 16711680 255"), ERR_COORDSRANGE);
  // A spiral of border pixels: the fill follows every turn.
  Picture(3, {"RRRRRRR",
              "......R",
              ".RRRR.R",
              ".R..R.R",
              ".R.RR.R",
              ".R....R",
              ".RRRRRR"});
  ASSERT_EQ(Run(".call floodfill 3 2 3 16711680 255"), 0);
  EXPECT_EQ(Letters(3), (std::vector<std::string>{"RRRRRRR", "BBBBBBR", "BRRRRBR", "BRBBRBR", "BRBRRBR",
                                                  "BRBBBBR", "BRRRRRR"}));
}

// Random pictures against a breadth-first reference: the fill reaches the
// pixels joined to the seed, side by side, through pixels not of the
// border colour, and no other; a corridor winding through a large brush
// needs no deep stack.
TEST_F(BrushPixelTest, FloodFillIsTheRegionJoinedToTheSeed) {
  std::mt19937 rng(5);
  const uint32_t border = 0xFF0000, fill = 0xFFFF00, others[2] = {0x00FF00, 0x0000FF};
  for (int iter = 0; iter < 12; ++iter) {
    const int w = 1 + rng() % 40, h = 1 + rng() % 40;
    ASSERT_EQ(Run(".call createbrush 7 " + std::to_string(w) + " " + std::to_string(h) + " 0"), 0);
    std::vector<uint32_t> pic(w * h);
    for (int i = 0; i < w * h; ++i) {
      pic[i] = rng() % 10 < 4 ? border : others[rng() % 2];
      WriteBitmapPixel(Brush(7)->bitmap, i % w, i / w, pic[i], 0);
    }
    const int sx = rng() % w, sy = rng() % h;
    std::vector<char> in(w * h, 0);
    if (pic[sy * w + sx] != border) {
      std::deque<int> queue{sy * w + sx};
      in[sy * w + sx] = 1;
      while (!queue.empty()) {
        const int at = queue.front(), x = at % w, y = at / w;
        queue.pop_front();
        for (auto [nx, ny] : {std::pair{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}}) {
          if (nx < 0 || ny < 0 || nx >= w || ny >= h || in[ny * w + nx] || pic[ny * w + nx] == border) continue;
          in[ny * w + nx] = 1;
          queue.push_back(ny * w + nx);
        }
      }
    }
    ASSERT_EQ(Run(".call floodfill 7 " + std::to_string(sx) + " " + std::to_string(sy) + " 16711680 16776960"), 0);
    for (int i = 0; i < w * h; ++i)
      ASSERT_EQ(ReadBitmapPixel(Brush(7)->bitmap, i % w, i / w, 0) & 0xFFFFFF, in[i] ? fill : pic[i])
          << "iteration " << iter << " at " << i % w << "," << i / w;
  }
  const int n = 1000;
  ASSERT_EQ(Run(".call createbrush 8 1000 1000 16777215"), 0);
  for (int y = 1; y < n; y += 2)
    for (int x = 0; x < n; ++x)
      if ((y / 2) % 2 == 0 ? x != n - 1 : x != 0) WriteBitmapPixel(Brush(8)->bitmap, x, y, border, 0);
  ASSERT_EQ(Run(".call floodfill 8 0 0 16711680 65280"), 0);
  long filled = 0;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) filled += (ReadBitmapPixel(Brush(8)->bitmap, x, y, 0) & 0xFFFFFF) == 0x00FF00;
  EXPECT_EQ(filled, (n / 2) * n + n / 2);
}

TEST_F(BrushPixelTest, ReplaceColorsByPairs) {
  Picture(1, {"R.B", "BR."});
  ASSERT_EQ(Run(".table 0 { [0] = 16711680, [1] = 255, [2] = 255, [3] = 65280 }\nsetglobal 0 \"t\"\n"
                ".call replacecolors 1 $t"),
            0);
  // Later pairs test the replaced value: red became blue and then green.
  EXPECT_EQ(Letters(1), (std::vector<std::string>{"G.G", "GG."}));
  // In the other order blue goes to green before red becomes blue.
  Picture(2, {"RB"});
  ASSERT_EQ(Run(".table 0 { [0] = 255, [1] = 65280, [2] = 16711680, [3] = 255 }\nsetglobal 0 \"t\"\n"
                ".call replacecolors 2 $t"),
            0);
  EXPECT_EQ(Letters(2), (std::vector<std::string>{"BG"}));
  // -1 ends the list.
  Picture(3, {"R."});
  ASSERT_EQ(Run(".table 0 { [0] = 16777215, [1] = 0, [2] = -1, [3] = 16711680, [4] = 0 }\nsetglobal 0 \"t\"\n"
                ".call replacecolors 3 $t"),
            0);
  EXPECT_EQ(ReadBitmapPixel(Brush(3)->bitmap, 1, 0, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(Letters(3)[0][0], 'R');
  EXPECT_EQ(Run(".table 0 { [0] = 16711680 }\nsetglobal 0 \"t\"\n.call replacecolors 1 $t"), ERR_WRONGUSAGE);
  // An empty list does not even look for the brush.
  EXPECT_EQ(Run(".table 0 { }\nsetglobal 0 \"t\"\n.call replacecolors 99 $t"), 0);
  EXPECT_EQ(Run(".table 0 { [0] = 1, [1] = 2 }\nsetglobal 0 \"t\"\n.call replacecolors 99 $t"), ERR_FINDBRUSH);
}

TEST_F(BrushPixelTest, SavedFilesReadBack) {
  const std::string bmp1 = dir_ + "/one.bmp";
  ASSERT_EQ(Run(".call createbrush 1 1 1 1193046\n.call savebrush 1 \"" + bmp1 + "\""), 0);
  std::ifstream in(bmp1, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), 58u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[54], 0x56);
  EXPECT_EQ(bytes[55], 0x34);
  EXPECT_EQ(bytes[56], 0x12);
  EXPECT_EQ(bytes[57], 0);
  struct stat st {};
  for (int w : {3, 4, 5}) {
    const std::string f = dir_ + "/w" + std::to_string(w) + ".bmp";
    ASSERT_EQ(Run(".call createbrush 2 " + std::to_string(w) + " 2 0\n.call savebrush 2 \"" + f + "\" 0"), 0);
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 54 + 2 * (w == 5 ? 16 : 12));
  }
  // A picture with distinct pixels, in every format.
  Picture(3, {"R.B.", "BBR.", "..RR"});
  WriteBitmapPixel(Brush(3)->bitmap, 3, 0, 0x123456, 0);
  const uint32_t expect[12] = {0xFF0000, 0xFFFFFF, 0x0000FF, 0x123456, 0x0000FF, 0x0000FF,
                               0xFF0000, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFF0000, 0xFF0000};
  for (int format : {0, 1, 3}) {
    SCOPED_TRACE(format);
    const std::string f = dir_ + "/pic" + std::to_string(format);
    ASSERT_EQ(Run(".call savebrush 3 \"" + f + "\" " + std::to_string(format)), 0);
    std::vector<uint8_t> rgba = Decode(f);
    if (rgba.empty()) GTEST_SKIP() << "no ImageMagick";
    ASSERT_EQ(rgba.size(), 48u);
    for (int i = 0; i < 12; i++)
      EXPECT_EQ((uint32_t{rgba[4 * i]} << 16) | (rgba[4 * i + 1] << 8) | rgba[4 * i + 2], expect[i]) << i;
  }
  // JPEG: lossy, but the size and the colours' gist survive.
  ASSERT_EQ(Run(".call createbrush 4 16 8 16711680\n.table 0 { quality = 95 }\n.call base=1 savebrush 4 \"" + dir_ +
                "/j.jpg\" 2 0 r0"),
            0);
  std::vector<uint8_t> jpg = Decode(dir_ + "/j.jpg");
  ASSERT_EQ(jpg.size(), 16u * 8u * 4u);
  EXPECT_GT(jpg[0], 240);
  EXPECT_LT(jpg[1], 16);
  // The alpha channel reaches PNG.
  ASSERT_EQ(Run(".table 0 { alphachannel = 1 }\n.call base=1 createbrush 5 2 1 255 r0\n"
                ".call writebrushpixel 5 1 0 255 64\n.call savebrush 5 \"" + dir_ + "/a.png\" 1"),
            0);
  std::vector<uint8_t> png = Decode(dir_ + "/a.png");
  ASSERT_EQ(png.size(), 8u);
  EXPECT_EQ(png[3], 255);
  EXPECT_EQ(png[7], 64);
  // A GIF of a masked brush keeps the transparent pixels transparent.
  ASSERT_EQ(Run(".table 0 { mask = 1 }\n.call base=1 createbrush 6 2 1 255 r0\n"
                ".call writebrushpixel 6 0 0 255 0\n.call savebrush 6 \"" + dir_ + "/m.gif\" 3"),
            0);
  std::vector<uint8_t> gif = Decode(dir_ + "/m.gif");
  ASSERT_EQ(gif.size(), 8u);
  EXPECT_EQ(gif[3], 0);
  EXPECT_EQ(gif[7], 255);
  EXPECT_EQ(Run(".call savebrush 3 \"" + dir_ + "/x\" 99"), ERR_UNKNOWNIMGOUT);
  EXPECT_EQ(Run(".call savebrush 3 \"" + dir_ + "/no/such/dir/x.bmp\""), ERR_WRITEFILE);
  EXPECT_EQ(Run(".call savebrush 98 \"" + dir_ + "/x.bmp\""), ERR_FINDBRUSH);
  // Only vector brushes can be rasterised.
  EXPECT_EQ(Run(".call rasterizebrush 3"), ERR_WRONGUSAGE);
}

}  // namespace
