// The brush library driven by assembled scripts on a private X server:
// loading real pictures (checked against ImageMagick's decode), creating,
// copying and freeing brushes and their error codes, showing brushes on a
// window (read back with XGetImage) and transforming them.
#include "tests/display/core/display_fixture.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "formats/image_cache.h"
#include "objects/brushes/brush.h"
#include "runtime/runtime_options.h"
#include "vm/error_codes.h"
#include "vm/value.h"

namespace {

class BrushTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
  }
  void TearDown() override {
    if (started_) FreeBrushLib(L);
    DisplayTest::TearDown();
  }
  vlBrush* Brush(int n) {
    vlBrush* b = nullptr;
    return GetBrushByID(L, {n, nullptr}, &b, 0) == 0 ? b : nullptr;
  }
};

std::string Data(const char* rel) {
  const char* data = std::getenv("VL_TESTDATA");
  return std::string(data ? data : "/nonexistent") + "/" + rel;
}

// ImageMagick's decode after the given operations: width x height x channels bytes.
std::vector<uint8_t> Magick(const std::string& file, const std::string& ops, const char* format) {
  std::string raw = std::string(testing::TempDir()) + "brush_" + std::to_string(getpid()) + ".raw";
  std::string cmd = "convert '" + file + "' " + ops + " -depth 8 " + format + ":'" + raw + "' 2>/dev/null";
  std::vector<uint8_t> out;
  if (std::system(cmd.c_str()) == 0) {
    std::ifstream in(raw, std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::remove(raw.c_str());
  return out;
}

uint32_t Pixel(vlBitmap* b, int x, int y) { return ReadBitmapPixel(b, x, y, 0) & 0xFFFFFF; }

uint8_t AlphaAt(vlBitmap* a, int x, int y) {
  auto* plane = static_cast<vlPlane*>(a->handle);
  return plane->pixels[static_cast<size_t>(y) * plane->rowBytes + x];
}

// Every pixel of the brush equals the RGB bytes.
void ExpectRGB(vlBrush* b, const std::vector<uint8_t>& rgb) {
  ASSERT_EQ(rgb.size(), size_t(b->width) * b->height * 3u);
  for (int y = 0; y < b->height; ++y)
    for (int x = 0; x < b->width; ++x) {
      const uint8_t* p = &rgb[(size_t(y) * b->width + x) * 3];
      ASSERT_EQ(Pixel(b->bitmap, x, y), (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]) << x << "," << y;
    }
}

TEST_F(BrushTest, LoadBrushMatchesImageMagick) {
  // PngSuite files carry gAMA chunks that ImageMagick applies while the
  // player shows the stored samples: the PNGs here are written without them.
  const std::string dir = testing::TempDir() + "brushpng_" + std::to_string(getpid());
  const std::string bmp = Data("bmp/g/rgb24.bmp");
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "' && convert '" + bmp + "' -strip PNG24:'" + dir +
                         "/rgb.png' && convert '" + bmp + "' -strip -interlace PNG PNG8:'" + dir + "/pal.png'")
                            .c_str()),
            0);
  for (const std::string& file : {bmp, Data("bmp/g/pal8.bmp"), Data("bmp/g/pal4.bmp"), Data("bmp/g/pal8rle.bmp"), dir + "/rgb.png",
                                 dir + "/pal.png"}) {
    SCOPED_TRACE(file);
    std::vector<uint8_t> rgb = Magick(file, "", "RGB");
    if (rgb.empty()) GTEST_SKIP() << "ImageMagick cannot decode " << file;
    ASSERT_EQ(Run(".call loadbrush 1 \"" + file + "\""), 0);
    vlBrush* b = Brush(1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->mask, nullptr);
    EXPECT_EQ(b->alpha, nullptr);
    EXPECT_EQ(b->transparentColor, -1);
    ExpectRGB(b, rgb);
  }
  std::system(("rm -rf '" + dir + "'").c_str());
  // The file's own alpha channel.
  const std::string file = Data("png/png/basn6a08.png");
  std::vector<uint8_t> rgba = Magick(file, "", "RGBA");
  ASSERT_EQ(rgba.size(), 32u * 32u * 4u);
  ASSERT_EQ(Run(".table 0 { loadalpha = 1 }\n.call base=1 loadbrush 2 \"" + file + "\" r0"), 0);
  vlBrush* b = Brush(2);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(b->alpha, nullptr);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(AlphaAt(b->alpha, x, y), rgba[(y * 32 + x) * 4 + 3]) << x << "," << y;
  // A global alpha level scales it.
  ASSERT_EQ(Run(".table 0 { loadalpha = 1, globalalpha = 128 }\n.call base=1 loadbrush 2 \"" + file + "\" r0"), 0);
  b = Brush(2);
  EXPECT_EQ(AlphaAt(b->alpha, 0, 0), rgba[3] * 128 / 255);
}

TEST_F(BrushTest, APictureTooLargeToHoldIsOutOfMemoryNotAnUnknownFormat) {
  // A valid 9000 x 9000 PNG of one-bit grey (10 MB of rows, a few KB packed).
  const std::string file = std::string(testing::TempDir()) + "huge_" + std::to_string(getpid()) + ".png";
  const std::string script =
      "import struct, sys, zlib\n"
      "w = h = 9000\n"
      "def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))\n"
      "rows = (b'\\0' * (1 + (w + 7) // 8)) * h\n"
      "open(sys.argv[1], 'wb').write(b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 1, 0, 0, 0, 0))"
      " + chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b''))\n";
  ASSERT_EQ(std::system(("python3 -c \"" + script + "\" '" + file + "'").c_str()), 0);
  EXPECT_EQ(Run(".call loadbrush 1 \"" + file + "\""), ERR_MEM);
  EXPECT_EQ(Brush(1), nullptr);
  // ImageMagick agrees that the file is a picture of that size.
  FILE* p = popen(("identify -format '%w %h' '" + file + "' 2>/dev/null").c_str(), "r");
  char size[64] = "";
  if (p) {
    if (!fgets(size, sizeof size, p)) size[0] = 0;
    pclose(p);
  }
  std::remove(file.c_str());
  if (size[0]) {
    EXPECT_STREQ(size, "9000 9000");
  }
}

TEST_F(BrushTest, LoadBrushRectanglesAndErrors) {
  const std::string file = Data("bmp/g/rgb24.bmp");  // 127 x 64
  std::vector<uint8_t> rgb = Magick(file, "-crop 27x14+100+50 +repage", "RGB");
  if (rgb.empty()) GTEST_SKIP() << "no ImageMagick";
  // A width past the right edge is clipped.
  ASSERT_EQ(Run(".table 0 { x = 100, y = 50, width = 500 }\n.call base=1 loadbrush 3 \"" + file + "\" r0"), 0);
  ASSERT_NE(Brush(3), nullptr);
  EXPECT_EQ(Brush(3)->width, 27);
  EXPECT_EQ(Brush(3)->height, 14);
  ExpectRGB(Brush(3), rgb);
  EXPECT_EQ(Run(".table 0 { x = 127 }\n.call base=1 loadbrush 4 \"" + file + "\" r0"), ERR_COORDSRANGE);
  // A negative size is refused; 0 runs to the edge.
  EXPECT_EQ(Run(".table 0 { width = -5 }\n.call base=1 loadbrush 4 \"" + file + "\" r0"), ERR_BADDIMENSIONS);
  EXPECT_EQ(Run(".table 0 { height = -1 }\n.call base=1 loadbrush 4 \"" + file + "\" r0"), ERR_BADDIMENSIONS);
  ASSERT_EQ(Run(".table 0 { x = 7, width = 0 }\n.call base=1 loadbrush 4 \"" + file + "\" r0"), 0);
  EXPECT_EQ(Brush(4)->width, 120);
  ASSERT_EQ(Run(".call freebrush 4"), 0);
  EXPECT_EQ(Run(".table 0 { y = -1 }\n.call base=1 loadbrush 4 \"" + file + "\" r0"), ERR_NEGCOORDS);
  EXPECT_EQ(Run(".table 0 { loadalpha = 1, transparency = 0 }\n.call base=1 loadbrush 4 \"" + file + "\" r0"),
            ERR_MASKNALPHA);
  EXPECT_EQ(Run(".table 0 { loadalpha = 1, loadtransparency = 1 }\n.call base=1 loadbrush 4 \"" + file + "\" r0"),
            ERR_WRONGUSAGE);
  EXPECT_NE(Run(".call loadbrush 4 \"/nonexistent/none.png\""), 0);
  EXPECT_EQ(Brush(4), nullptr);
  // A damaged picture is refused, nothing is added.
  std::string bad = std::string(testing::TempDir()) + "bad_" + std::to_string(getpid()) + ".bmp";
  { std::ofstream(bad, std::ios::binary) << "BM\x10\0\0\0garbage"; }
  EXPECT_NE(Run(".call loadbrush 4 \"" + bad + "\""), 0);
  std::remove(bad.c_str());
  EXPECT_EQ(Brush(4), nullptr);
  // A transparent colour makes a mask.
  ASSERT_EQ(Run(".call loadbrush 5 \"" + file + "\" " + std::to_string(Pixel(Brush(3)->bitmap, 0, 0))), 0);
  ASSERT_NE(Brush(5)->mask, nullptr);
  EXPECT_EQ(ReadBitmapPixel(Brush(5)->mask, 100, 50, 1), 0u);
}

// The two values of the five-argument form reach the picture readers: an
// ILBM whose transparent pen is masked (masking 2) gets a key colour of
// its own with mode 1, and the brush its mask from that colour. The
// IFF writer of the picture tests gives the expected pixels.
TEST_F(BrushTest, LoadBrushHandsItsTwoValuesToThePictureReaders) {
  const std::string file = std::string(testing::TempDir()) + "key2_" + std::to_string(getpid()) + ".iff";
  ASSERT_EQ(std::system(("python3 '" + std::string(std::getenv("VL_SOURCE_DIR")) +
                         "/tests/formats/pictures/make_iff.py' ilbm '" + file + "' key2")
                            .c_str()),
            0);
  std::vector<uint8_t> rgb;
  {
    std::ifstream in(file + ".rgb", std::ios::binary);
    rgb.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_EQ(rgb.size(), 4u + 37u * 11u * 3u);
  ASSERT_EQ(Run(".call loadbrush 1 \"" + file + "\" nil -1 1"), 0);
  ASSERT_NE(Brush(1), nullptr);
  EXPECT_EQ(Brush(1)->transparentColor, 0xA8A8B7);
  ASSERT_NE(Brush(1)->mask, nullptr);
  int keyed = 0;
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 37; ++x) {
      const uint8_t* p = &rgb[4 + (size_t(y) * 37 + x) * 3];
      const bool key = p[0] == 0xA8 && p[1] == 0xA8 && p[2] == 0xB7;
      keyed += key;
      ASSERT_EQ(ReadBitmapPixel(Brush(1)->mask, x, y, 1), key ? 0u : 1u) << x << "," << y;
    }
  EXPECT_GT(keyed, 0);
  // Without them the picture keeps its palette and has no transparent pen.
  ASSERT_EQ(Run(".call loadbrush 1 \"" + file + "\" -1"), 0);
  EXPECT_EQ(Brush(1)->mask, nullptr);
  EXPECT_EQ(Brush(1)->transparentColor, -1);
  EXPECT_EQ(Run(".call loadbrush 1 \"" + file + "\" -1 -1 \"x\""), ERR_NUMEXPECTED);
  std::remove(file.c_str());
  std::remove((file + ".rgb").c_str());
}

TEST_F(BrushTest, CreateCopyFreeAndLookUps) {
  ASSERT_EQ(Run(".call createbrush 1 10 5 16711680"), 0);
  ASSERT_NE(Brush(1), nullptr);
  EXPECT_EQ(Pixel(Brush(1)->bitmap, 9, 4), 0xFF0000u);
  EXPECT_EQ(Run(".call createbrush 2 0.5 5"), ERR_BADDIMENSIONS);
  EXPECT_EQ(Run(".table 0 { mask = 1, alphachannel = 1 }\n.call base=1 createbrush 2 4 4 0 r0"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".table 0 { mask = 1 }\n.call base=1 createbrush 2 4 4 255 r0"), 0);
  EXPECT_EQ(Brush(2)->transparentColor, 0xAFC0DE);
  EXPECT_EQ(ReadBitmapPixel(Brush(2)->mask, 3, 3, 1), 1u);
  ASSERT_EQ(Run(".table 0 { alphachannel = 1, clear = 1 }\n.call base=1 createbrush 3 4 4 0 r0"), 0);
  EXPECT_EQ(AlphaAt(Brush(3)->alpha, 1, 1), 0);
  // Creating brush 1 again replaces it.
  ASSERT_EQ(Run(".call createbrush 1 3 3 255"), 0);
  EXPECT_EQ(Brush(1)->width, 3);
  int count = 0;
  for (vlBrush* b = vlBrushList; b; b = b->next) count += b->idNumber == 1;
  EXPECT_EQ(count, 1);
  // Automatic ids come back as the record's address.
  ASSERT_EQ(Run(".call createbrush nil 2 2 -> h"), 0);
  const vlValue* h = vltest::GetGlobal(L, "h");
  ASSERT_NE(h, nullptr);
  vlBrush* autoBrush = nullptr;
  ASSERT_EQ(GetBrushByID(L, {0, h->v.p}, &autoBrush, 0), 0);
  EXPECT_EQ(autoBrush->idHandle, autoBrush);
  // Copies are independent.
  ASSERT_EQ(Run(".call copybrush 1 7"), 0);
  EXPECT_EQ(Pixel(Brush(7)->bitmap, 2, 2), 0x0000FFu);
  EXPECT_NE(Brush(7)->bitmap, Brush(1)->bitmap);
  EXPECT_EQ(Run(".call copybrush 1 1"), ERR_WRONGUSAGE);
  // Missing brushes and handles.
  EXPECT_EQ(Run(".call freebrush 99"), ERR_FINDBRUSH);
  EXPECT_EQ(Run(".call copybrush 99 8"), ERR_FINDBRUSH);
  EXPECT_EQ(Run(".call displaybrush 99 0 0"), ERR_FINDBRUSH);
  ASSERT_EQ(Run(".call freebrush 7"), 0);
  EXPECT_EQ(Brush(7), nullptr);
  ASSERT_EQ(Run(".call freebrush $h"), 0);
  EXPECT_EQ(GetBrushByID(L, {0, autoBrush}, &autoBrush, 0), ERR_FINDARRAY);
  // A locked brush cannot be freed.
  Brush(1)->locked = 1;
  EXPECT_EQ(Run(".call freebrush 1"), ERR_LOCKEDOBJ);
  Brush(1)->locked = 0;
}

TEST_F(BrushTest, DisplayBrushReachesTheWindow) {
  ASSERT_EQ(Run(".table 0 { width = 64, height = 48, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                ".call opendisplay 1"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  ASSERT_NE(d->window, nullptr);
  ASSERT_EQ(Run(".call createbrush 1 10 6 16711680"), 0);
  ASSERT_EQ(Run(".call displaybrush 1 5 7"), 0);
  EXPECT_EQ(WindowPixel(d, 5, 7), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 14, 12), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 15, 12), 0x000000u);
  EXPECT_EQ(WindowPixel(d, 4, 7), 0x000000u);
  // Anchor 0.5, 0.5 centres the brush on the point.
  ASSERT_EQ(Run(".call createbrush 2 4 4 65280\n.table 0 { anchorx = 0.5, anchory = 0.5 }\n"
                ".call base=1 displaybrush 2 40 30 r0"),
            0);
  EXPECT_EQ(WindowPixel(d, 38, 28), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 41, 31), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 42, 32), 0x000000u);
  EXPECT_EQ(Run(".table 0 { anchorx = 1.5 }\n.call base=1 displaybrush 2 0 0 r0"), ERR_WRONGUSAGE);
  // A part reaching past the brush edge draws only what is inside.
  ASSERT_EQ(Run(".call createbrush 3 4 4 255\n.call displaybrushpart 3 2 2 50 2 20 20"), 0);
  EXPECT_EQ(WindowPixel(d, 51, 3), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 52, 3), 0x000000u);
  // The window shows the part's own pixels, from where the part starts, for
  // a small brush and for one large enough to be shown from where it lies.
  for (const char* size : {"8 8", "700 500"}) {
    SCOPED_TRACE(size);
    ASSERT_EQ(Run(std::string(".call createbrush 4 ") + size + " 255\n.call writebrushpixel 4 3 4 16776960 255\n"
                  ".call displaybrushpart 4 2 2 30 30 4 4"),
              0);
    EXPECT_EQ(WindowPixel(d, 31, 32), 0xFFFF00u);
    EXPECT_EQ(WindowPixel(d, 30, 30), 0x0000FFu);
    EXPECT_EQ(WindowPixel(d, 32, 32), 0x0000FFu);
    ASSERT_EQ(Run(".call freebrush 4"), 0);
  }
  EXPECT_EQ(Run(".call displaybrushpart 3 4 0 0 0 2 2"), ERR_COORDSRANGE);
  EXPECT_EQ(Run(".call displaybrushpart 3 -1 0 0 0 2 2"), ERR_NEGCOORDS);
  // What is shown comes from the kind registered for the object's type and
  // from nothing else: a stand-in for brushes answers for a brush that does
  // not exist, and a type whose kind shows nothing this way is refused.
  static vlBitmap* standIn;
  standIn = NewBitmap(3, 3, 0, nullptr);
  ASSERT_NE(standIn, nullptr);
  FillBitmapRect(standIn, 0, 0, 3, 3, 0x00FFFF);
  vlLayerSource fake{};
  fake.objectPictures = [](vlVMState*, uint32_t, vlObjectId, int32_t, int, vlShownObject* shown) {
    shown->image = standIn;
    shown->objWidth = shown->objHeight = shown->width = shown->height = 3;
    return 0;
  };
  const vlLayerSource* brushes = FindLayerSource(VL_LAYER_BRUSH);
  RegisterLayerSource(VL_LAYER_BRUSH, &fake);
  EXPECT_EQ(Run(".call displaybrush 77 60 40"), 0);
  RegisterLayerSource(VL_LAYER_BRUSH, brushes);
  EXPECT_EQ(WindowPixel(d, 60, 40), 0x00FFFFu);
  EXPECT_EQ(WindowPixel(d, 62, 42), 0x00FFFFu);
  EXPECT_EQ(WindowPixel(d, 63, 43), 0x000000u);
  EXPECT_EQ(Run(".call displaybrush 77 60 40"), ERR_FINDBRUSH);
  DeleteBitmap(standIn);
  EXPECT_EQ(DisplayObjectOnTarget(L, VL_LAYER_TEXTOBJECT, vlObjectId{1, nullptr}, 0, 0, 0, 0, 0, 4, 4, 0, 0, 0),
            ERR_WRONGUSAGE);
  // A masked brush leaves its transparent pixels alone.
  const std::string file = Data("png/png/basn2c08.png");
  ASSERT_EQ(Run(".call loadbrush 4 \"" + file + "\" " + std::to_string(Pixel(Brush(3)->bitmap, 0, 0))), 0);
  ASSERT_NE(Brush(4)->mask, nullptr);
  ASSERT_EQ(Run(".call displaybrush 4 0 0"), 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      if (ReadBitmapPixel(Brush(4)->mask, x, y, 1)) {
        ASSERT_EQ(WindowPixel(d, x, y), Pixel(Brush(4)->bitmap, x, y)) << x << "," << y;
      }
}

TEST_F(BrushTest, TransformsMatchImageMagick) {
  const std::string file = Data("bmp/g/rgb24.bmp");
  std::vector<uint8_t> doubled = Magick(file, "-sample 200%", "RGB");
  std::vector<uint8_t> turned = Magick(file, "-rotate 90", "RGB");
  if (doubled.empty() || turned.empty()) GTEST_SKIP() << "no ImageMagick";
  ASSERT_EQ(Run(".call loadbrush 1 \"" + file + "\"\n.call scalebrush 1 \"200%\" \"200%\""), 0);
  EXPECT_EQ(Brush(1)->width, 254);
  EXPECT_EQ(Brush(1)->height, 128);
  ExpectRGB(Brush(1), doubled);
  // 50 percent restores the size; the same size changes nothing.
  ASSERT_EQ(Run(".call scalebrush 1 \"50%\" \"50%\""), 0);
  EXPECT_EQ(Brush(1)->width, 127);
  vlBitmap* before = Brush(1)->bitmap;
  ASSERT_EQ(Run(".call scalebrush 1 127 64"), 0);
  EXPECT_EQ(Brush(1)->bitmap, before);
  EXPECT_EQ(Run(".call scalebrush 1 0 10"), ERR_BADDIMENSIONS);
  ASSERT_EQ(Run(".call loadbrush 2 \"" + file + "\"\n.call rotatebrush 2 90"), 0);
  EXPECT_EQ(Brush(2)->width, 64);
  EXPECT_EQ(Brush(2)->height, 127);
  ExpectRGB(Brush(2), turned);
  EXPECT_EQ(Run(".call transformbrush 99 0 0 0 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call transformbrush 99 1 0 0 1"), ERR_FINDBRUSH);
  EXPECT_EQ(Run(".call rotatebrush 2 10 0"), ERR_WRONGUSAGE);
  // A result below one pixel keeps one pixel; a size beyond any picture
  // fails with the brush unchanged.
  ASSERT_EQ(Run(".call transformbrush 2 0.001 0 0 0.001"), 0);
  EXPECT_EQ(Brush(2)->width, 1);
  EXPECT_EQ(Brush(2)->height, 1);
  EXPECT_NE(Run(".call scalebrush 1 1e12 10"), 0);
  EXPECT_EQ(Brush(1)->width, 127);
}

TEST_F(BrushTest, ImageCommandsMatchImageMagick) {
  const std::string file = Data("bmp/g/rgb24.bmp");
  std::vector<uint8_t> flipped = Magick(file, "-flip", "RGB");
  std::vector<uint8_t> mirrored = Magick(file, "-flop", "RGB");
  std::vector<uint8_t> negated = Magick(file, "-negate", "RGB");
  std::vector<uint8_t> cropped = Magick(file, "-crop 27x4+100+60 +repage", "RGB");
  if (flipped.empty() || mirrored.empty() || negated.empty() || cropped.empty()) GTEST_SKIP() << "no ImageMagick";
  const std::string load = ".call loadbrush 1 \"" + file + "\"\n";
  ASSERT_EQ(Run(load + ".call flipbrush 1 0"), 0);
  ExpectRGB(Brush(1), flipped);
  ASSERT_EQ(Run(load + ".call flipbrush 1 1"), 0);
  ExpectRGB(Brush(1), mirrored);
  ASSERT_EQ(Run(load + ".call invertbrush 1"), 0);
  ExpectRGB(Brush(1), negated);
  // A crop reaching past the edge stops at it.
  ASSERT_EQ(Run(load + ".call cropbrush 1 100 60 50 50"), 0);
  ExpectRGB(Brush(1), cropped);
  EXPECT_EQ(Run(load + ".call cropbrush 1 0 0 0 5"), ERR_BADDIMENSIONS);
  EXPECT_EQ(Run(".call cropbrush 1 -1 0 5 5"), ERR_NEGCOORDS);
  EXPECT_EQ(Run(".call cropbrush 1 127 0 5 5"), ERR_COORDSRANGE);
  EXPECT_EQ(Run(".call cropbrush 99 0 0 0 5"), ERR_BADDIMENSIONS);  // checked before the look-up
  EXPECT_EQ(Run(".call invertbrush 99"), ERR_FINDBRUSH);
  // Blur and sharpen keep a uniform brush's colour: white stays white.
  ASSERT_EQ(Run(".call createbrush 2 20 10 16777215\n.call blurbrush 2 3 1\n.call readbrushpixel 2 10 5 -> b\n"
                ".call sharpenbrush 2 1\n.call readbrushpixel 2 0 0 -> s"),
            0);
  EXPECT_EQ(Num("b"), 0xFFFFFF);
  EXPECT_EQ(Num("s"), 0xFFFFFF);
  // A blur wider than the brush: every tap of the 21-tap Gaussian counts,
  // those past the ends on the edge pixels (black, black, white).
  ASSERT_EQ(Run(".call createbrush 3 3 1 0\n.call writebrushpixel 3 2 0 16777215\n.call blurbrush 3 10 4"), 0);
  std::vector<double> taps(21, 0.0);
  for (int i = -31; i <= 31; ++i) taps[(i + 31) / 3] += std::exp(-i * i / (18.0 * 16)) / (2.5066282746310002 * 4);
  double all = 0;
  for (double t : taps) all += t;
  for (int x = 0; x < 3; ++x) {
    double sum = 0;
    for (int k = 0; k < 21; ++k) sum += taps[k] / all * (x + k - 10 >= 2 ? 255 : 0);
    EXPECT_EQ(Pixel(Brush(3)->bitmap, x, 0), static_cast<uint32_t>(sum) * 0x010101u) << x;
  }
  // Edge with a 33 x 33 kernel: a lone white pixel on grey stays white,
  // the grey around it, near or far, turns black.
  ASSERT_EQ(Run(".call createbrush 5 40 40 6579300\n.call writebrushpixel 5 20 20 16777215\n.call edgebrush 5 16"), 0);
  EXPECT_EQ(Pixel(Brush(5)->bitmap, 20, 20), 0xFFFFFFu);
  EXPECT_EQ(Pixel(Brush(5)->bitmap, 21, 20), 0u);
  EXPECT_EQ(Pixel(Brush(5)->bitmap, 0, 0), 0u);
  // Modulate takes fractions to the nearest whole percent: 0.29 is 29 %.
  ASSERT_EQ(Run(".call createbrush 4 2 2 13158600\n.call modulatebrush 4 0.29 1 1"), 0);
  EXPECT_NEAR(static_cast<int>(Pixel(Brush(4)->bitmap, 1, 1) & 0xFF), 58, 1);
  // A ripple centred on the top-left corner has no radius: nothing moves.
  ASSERT_EQ(Run(load + ".call waterripplebrush 1 32 0 0 0 0\n.call waterripplebrush 1 8 5 0 0 0"), 0);
  ExpectRGB(Brush(1), Magick(file, "", "RGB"));
}

TEST_F(BrushTest, PixelsPlanesAndTrimming) {
  ASSERT_EQ(Run(".table 0 { mask = 1, clear = 1 }\n.call base=1 createbrush 1 8 6 255 r0"), 0);
  // Pixels written with an alpha value set the mask bit.
  ASSERT_EQ(Run(".call writebrushpixel 1 2 1 16711680 255\n.call writebrushpixel 1 5 3 65280 255\n"
                ".call writebrushpixel 1 -1 0 255 255\n.call writebrushpixel 1 8 0 255 255\n"
                ".call readbrushpixel 1 2 1 -> c m\n.call readbrushpixel 1 0 0 -> c0 m0\n"
                ".call readbrushpixel 1 8 0 -> co mo"),
            0);
  EXPECT_EQ(Num("c"), 0xFF0000);
  EXPECT_EQ(Num("m"), 1);
  EXPECT_EQ(Num("c0"), 0x0000FF);
  EXPECT_EQ(Num("m0"), 0);
  EXPECT_EQ(Num("co"), -1);
  EXPECT_EQ(Num("mo"), -1);
  // Trimming keeps the box of the visible pixels and reports its corner.
  ASSERT_EQ(Run(".call trimbrush 1 -> tx ty"), 0);
  EXPECT_EQ(Num("tx"), 2);
  EXPECT_EQ(Num("ty"), 1);
  EXPECT_EQ(Brush(1)->width, 4);
  EXPECT_EQ(Brush(1)->height, 3);
  EXPECT_EQ(Pixel(Brush(1)->bitmap, 0, 0), 0xFF0000u);
  EXPECT_EQ(Pixel(Brush(1)->bitmap, 3, 2), 0x00FF00u);
  ASSERT_EQ(Run(".table 0 { mask = 1, clear = 1 }\n.call base=1 createbrush 2 4 4 0 r0"), 0);
  EXPECT_EQ(Run(".call trimbrush 2"), ERR_TRANSBRUSH);
  ASSERT_EQ(Run(".call createbrush 3 4 4 0\n.call trimbrush 3 -> tx ty"), 0);
  EXPECT_EQ(Num("tx"), 0);
  // The mask becomes an alpha channel and back; the RGB array carries it.
  ASSERT_EQ(Run(".call changebrushtransparency 1 30"), 0);
  ASSERT_EQ(Brush(1)->mask, nullptr);
  ASSERT_NE(Brush(1)->alpha, nullptr);
  EXPECT_EQ(AlphaAt(Brush(1)->alpha, 0, 0), 255);
  EXPECT_EQ(AlphaAt(Brush(1)->alpha, 1, 0), 0);
  ASSERT_EQ(Run(".call brushtorgbarray 1 -> t\n.call brushtorgbarray 1 1 -> ti\n"
                "getglobal 0 \"t\"\ngetfield 1 0 #0\nsetglobal 1 \"e0\"\ngetfield 1 0 #1\nsetglobal 1 \"e1\"\n"
                "getfield 1 0 #11\nsetglobal 1 \"e11\"\n"
                "getglobal 0 \"ti\"\ngetfield 1 0 #0\nsetglobal 1 \"i0\""),
            0);
  EXPECT_EQ(Num("e0"), 0xFFFF0000u);  // row 0: red, visible
  EXPECT_EQ(Num("e1"), 0x000000FFu);  // blue fill, invisible
  EXPECT_EQ(Num("e11"), 0xFF00FF00u);  // row 2, x 3: green
  EXPECT_EQ(Run("getglobal 0 \"t\"\ngetfield 1 0 #12"), ERR_FIELDINIT);  // 12 pixels, from index 0
  EXPECT_EQ(Num("i0"), 0x00FF0000u);
  ASSERT_EQ(Run(".call readbrushpixel 1 0 0 -> c a"), 0);
  EXPECT_EQ(Num("a"), 255);
  EXPECT_EQ(Run(".call changebrushtransparency 1 5"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call invertmask 1"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call invertalphachannel 1\n.call readbrushpixel 1 0 0 -> c a"), 0);
  EXPECT_EQ(Num("a"), 0);
  // Argument rules.
  EXPECT_EQ(Run(".call pixelatebrush 3 4"), 0);
  EXPECT_EQ(Run(".call pixelatebrush 3 5"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call quantizebrush 3 0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call quantizebrush 3 257"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call reducealphachannel 3 128"), ERR_WRONGUSAGE);  // no alpha channel
  EXPECT_EQ(Run(".call setbrushtransparency 3 0\n.call readbrushpixel 3 1 1 -> c m"), 0);
  EXPECT_EQ(Num("m"), 0);
  // A locked brush refuses changes.
  Brush(3)->locked = 1;
  EXPECT_EQ(Run(".call invertbrush 3"), ERR_LOCKEDOBJ);
  Brush(3)->locked = 0;
}

}  // namespace

namespace {

// While resources are preloaded a brush stores its picture under "cache"
// and later declarations take it by "cachedload", even once the file is
// gone; "cachealpha" keeps the alpha channel for the cache only.
TEST_F(BrushTest, PreloadedBrushesShareTheImageCache) {
  const std::string file = testing::TempDir() + "brushcache_" + std::to_string(getpid()) + ".png";
  ASSERT_EQ(std::system(("convert -size 2x1 xc:'#FF000080' xc:'#00FF00FF' +append PNG32:'" + file + "'").c_str()),
            0);
  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 1u, 0u);
  ASSERT_EQ(Run(".table 0 { cache = \"Pic\", cachealpha = 1 }\n.call base=1 loadbrush 1 \"" + file + "\" r0"), 0);
  std::remove(file.c_str());
  vlBrush* b = Brush(1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->alpha, nullptr);
  EXPECT_EQ(Pixel(b->bitmap, 0, 0), 0xFF0000u);
  EXPECT_EQ(Pixel(b->bitmap, 2, 0), 0x00FF00u);
  // The cached picture, with its alpha channel, and without.
  ASSERT_EQ(Run(".table 0 { cachedload = \"pic\", loadalpha = 1 }\n.call base=1 loadbrush 2 \"" + file + "\" r0"),
            0);
  b = Brush(2);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->width, 4);
  ASSERT_NE(b->alpha, nullptr);
  EXPECT_EQ(AlphaAt(b->alpha, 0, 0), 0x80);
  EXPECT_EQ(AlphaAt(b->alpha, 3, 0), 0xFF);
  EXPECT_EQ(Pixel(b->bitmap, 3, 0), 0x00FF00u);
  ASSERT_EQ(Run(".table 0 { cachedload = \"Pic\", x = 2 }\n.call base=1 loadbrush 3 \"" + file + "\" r0"), 0);
  b = Brush(3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->width, 2);
  EXPECT_EQ(b->alpha, nullptr);
  EXPECT_EQ(Pixel(b->bitmap, 0, 0), 0x00FF00u);
  // A name the cache does not hold is loaded from the (missing) file.
  EXPECT_NE(Run(".table 0 { cachedload = \"other\" }\n.call base=1 loadbrush 4 \"" + file + "\" r0"), 0);
  // Outside the preloads the cache is not asked.
  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 0u, 0u);
  EXPECT_NE(Run(".table 0 { cachedload = \"Pic\" }\n.call base=1 loadbrush 4 \"" + file + "\" r0"), 0);
  FreeImageCache();
}

}  // namespace
