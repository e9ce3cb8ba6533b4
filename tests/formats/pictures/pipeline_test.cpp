// The picture loading pipeline over the built-in readers: requested sizes,
// alpha modes and transparent-colour demands, and the loaded source's
// reference counting.
#include "tests/support/testdata.h"
#include "graphics/bitmap.h"
#include "picture_test_util.h"
#include "runtime/errors.h"
#include "formats/loaded_source.h"
#include "vm/error_codes.h"

using namespace pictest;

namespace {

int Load(const std::string& file, int32_t alphaMode, int wantTransparent, int32_t width, int32_t height,
         vlLoadedSource** source, vlBitmap** alpha, vlLoadedImageInfo* info) {
  return LoadImageWithLoaders(file.c_str(), "inbuilt", nullptr, nullptr, -1, nullptr, 0, alphaMode,
                              wantTransparent, width, height, 0, source, alpha, info);
}

uint32_t AlphaAt(vlBitmap* plane, int32_t x, int32_t y) {
  vlPixelAccess acc;
  if (!LockPixels(plane, VL_LOCK_READ, &acc)) return 999;
  const uint32_t v = acc.pixels[static_cast<size_t>(y) * acc.rowLength + x];
  UnlockPixels(plane, &acc);
  return v;
}

}  // namespace

TEST(PicturePipeline, SizesAndScaling) {
  VL_REQUIRE_TESTDATA();
  const std::string file = TestData("png/png/basn2c08.png");  // 32 x 32
  vlLoadedSource* src = nullptr;
  vlLoadedImageInfo info{};
  ASSERT_EQ(Load(file, 0, 0, 0, 0, &src, nullptr, &info), 0);
  EXPECT_EQ(info.width, 32);
  EXPECT_EQ(src->scaledPixels, nullptr);  // own size: nothing scaled
  Rgba direct;
  ASSERT_EQ(LoadRgba(file, &direct), 0);
  const uint32_t* px = GetLoadedSourcePixels(src);
  EXPECT_EQ(px[5 * 32 + 7] & 0xFFFFFF, (uint32_t{direct.At(7, 5)[0]} << 16) | (direct.At(7, 5)[1] << 8) |
                                            direct.At(7, 5)[2]);
  RetainLoadedSource(src);
  ReleaseLoadedSource(src);
  EXPECT_EQ(src->references, 1u);
  ReleaseLoadedSource(src);

  // Width -50, height 0: half the width, the own height; nearest pixels.
  ASSERT_EQ(Load(file, 0, 0, -50, 0, &src, nullptr, &info), 0);
  EXPECT_EQ(info.width, 16);
  EXPECT_EQ(info.height, 32);
  ASSERT_NE(src->scaledPixels, nullptr);
  EXPECT_EQ(GetLoadedSourcePixels(src), src->scaledPixels);
  EXPECT_EQ(src->scaledPixels[3 * 16 + 4], src->pixels[3 * 32 + 8]);
  ReleaseLoadedSource(src);
}

TEST(PicturePipeline, AlphaAndTransparentColourDemands) {
  VL_REQUIRE_TESTDATA();
  const std::string opaque = TestData("png/png/basn2c08.png"), withAlpha = TestData("png/png/basn6a08.png");
  vlLoadedSource* src = nullptr;
  vlBitmap* alpha = nullptr;
  vlLoadedImageInfo info{};
  EXPECT_EQ(Load(opaque, 1, 0, 0, 0, &src, &alpha, &info), ERR_NOALPHA);
  EXPECT_EQ(src, nullptr);
  EXPECT_STREQ(GetErrorArgument(), opaque.c_str());
  ASSERT_EQ(Load(opaque, 2, 0, 0, 0, &src, &alpha, &info), 0);
  EXPECT_EQ(alpha, nullptr);
  ReleaseLoadedSource(src);
  EXPECT_EQ(Load(opaque, 0, 1, 0, 0, &src, &alpha, &info), ERR_NOTRANSPARENCY);

  ASSERT_EQ(Load(withAlpha, 1, 0, 0, 0, &src, &alpha, &info), 0);
  ASSERT_NE(alpha, nullptr);
  EXPECT_EQ(info.alpha, 1);
  EXPECT_EQ(AlphaAt(alpha, 3, 2), GetLoadedSourcePixels(src)[2 * 32 + 3] >> 24);
  DeleteAlphaPlane(alpha);
  ReleaseLoadedSource(src);

  // A GIF with a transparent colour asked for one: its transparency becomes
  // an alpha plane.
  TempDir dir;
  const std::string gif = dir.File("t.gif");
  int status = 0;
  RunTool("convert -size 6x4 xc:red -fill blue -draw 'point 1,1' -transparent blue " + Quote(gif), &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(Load(gif, 0, 1, 0, 0, &src, &alpha, &info), 0);
  ASSERT_NE(alpha, nullptr);
  EXPECT_EQ(info.transparent, -1);
  EXPECT_EQ(AlphaAt(alpha, 1, 1), 0u);
  EXPECT_EQ(AlphaAt(alpha, 0, 0), 255u);
  DeleteAlphaPlane(alpha);
  ReleaseLoadedSource(src);

  // Errors of the built-in loader pass through unchanged.
  EXPECT_EQ(Load(dir.File("none.png"), 0, 0, 0, 0, &src, &alpha, &info), ERR_READFILE);
}

TEST(PicturePipeline, IdentifyAndOwnedSources) {
  VL_REQUIRE_TESTDATA();
  int32_t vector = -1, w = 0, h = 0, fourth = 0, alpha = -1;
  const std::string file = TestData("png/png/basn6a08.png");
  EXPECT_EQ(IdentifyImageFile(file.c_str(), "", nullptr, &vector, &w, &h, &fourth, &alpha), 1);
  EXPECT_EQ(vector, 0);
  EXPECT_EQ(w, 32);
  EXPECT_EQ(alpha, 1);
  EXPECT_EQ(IdentifyImageFile(TestData("README.md").c_str(), "", nullptr, &vector, &w, &h, &fourth, &alpha), 0);
  vlLoadedSource* owned = NewOwnedLoadedSource(5, 3);
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(LoadedSourceOwnsPixels(owned), 1);
  GetLoadedSourcePixels(owned)[14] = 1;
  ReleaseLoadedSource(owned);
  vlLoadedSource* custom = NewCustomLoadedSource(nullptr, nullptr, nullptr, nullptr, 0);
  double matrix[4] = {1, 0, 0, 1};
  uint32_t* out = nullptr;
  EXPECT_EQ(TransformLoadedImage(custom, matrix, 0, 0, 4, 4, &out, nullptr), ERR_TFIMAGE);
  ReleaseLoadedSource(custom);
}
