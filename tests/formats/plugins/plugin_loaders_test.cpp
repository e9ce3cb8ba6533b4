// The picture pipeline and the anim sources with a real loader plug-in: the
// loader list picks it or the built-in readers, its pictures are scaled
// (raster) or rendered again (vector), and every handle it gives goes back
// to it.
#include <gtest/gtest.h>

#include <string>

#include "formats/anim_source.h"
#include "graphics/bitmap.h"
#include "runtime/class_lists.h"
#include "formats/loaded_source.h"
#include "player/plugin_loader.h"
#include "vm/error_codes.h"

namespace {

class PluginLoaders : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoadPluginFile(VL_FAKEPICS_PLUGIN, 0, &node), 0);
    info = GetPluginInfo(node->handle);
    ASSERT_EQ(AddPluginToClassList(info, VL_CLASS_IMAGE), 0);
    ASSERT_EQ(AddPluginToClassList(info, VL_CLASS_ANIM), 0);
    freed = reinterpret_cast<int (*)()>(GetPluginSymbol(node->handle->library, "FakePicsFreed"));
    ASSERT_NE(freed, nullptr);
  }
  void TearDown() override {
    FreeClassLists();
    FreePluginList();
  }
  int Load(const char* file, const char* loaders, int32_t w, int32_t h, int32_t alphaMode, vlLoadedSource** src,
           vlBitmap** alpha, vlLoadedImageInfo* out) {
    return LoadImageWithLoaders(file, loaders, nullptr, nullptr, -1, nullptr, 0, alphaMode, 0, w, h, 0, src, alpha,
                                out);
  }
  vlPlugin* node = nullptr;
  vlPluginInfo* info = nullptr;
  int (*freed)() = nullptr;
};

TEST_F(PluginLoaders, RasterPictureScaledAndReleasedThroughThePlugin) {
  vlLoadedSource* src = nullptr;
  vlBitmap* alpha = nullptr;
  vlLoadedImageInfo out{};
  ASSERT_EQ(Load("/x/pic.fake", "", 8, 6, 2, &src, &alpha, &out), 0);
  EXPECT_EQ(out.loader, info);
  EXPECT_EQ(out.third, 7);
  EXPECT_EQ(out.width, 8);
  ASSERT_NE(src->scaledPixels, nullptr);
  EXPECT_EQ(GetLoadedSourcePixels(src)[0], 0xFF000000u);
  EXPECT_EQ(GetLoadedSourcePixels(src)[8 * 5 + 7], 0xFF00000Bu);  // nearest: the last source pixel
  ASSERT_NE(alpha, nullptr);
  DeleteAlphaPlane(alpha);
  const int before = freed();
  RetainLoadedSource(src);
  ReleaseLoadedSource(src);
  EXPECT_EQ(freed(), before);
  ReleaseLoadedSource(src);
  EXPECT_EQ(freed(), before + 1);

  // "inbuilt" alone never asks the plug-in; the built-in readers refuse.
  EXPECT_EQ(Load("/x/pic.fake", "inbuilt", 0, 0, 0, &src, nullptr, &out), ERR_READFILE);
  // A disabled plug-in is passed over.
  info->disabled = 1;
  EXPECT_EQ(Load("/x/pic.fake", "", 0, 0, 0, &src, nullptr, &out), ERR_READFILE);
  info->disabled = 0;
  int32_t vector = -1, w = 0, h = 0, fourth = 0, hasAlpha = 0;
  EXPECT_EQ(IdentifyImageFile("/x/pic.fake", "plugin", nullptr, &vector, &w, &h, &fourth, &hasAlpha), 1);
  EXPECT_EQ(w * 10 + h, 43);
  EXPECT_EQ(hasAlpha, 1);
}

TEST_F(PluginLoaders, VectorPictureRenderedAtTheRequestedSize) {
  vlLoadedSource* src = nullptr;
  vlLoadedImageInfo out{};
  ASSERT_EQ(Load("/x/pic.fakevec", "fakepics", 0, 0, 0, &src, nullptr, &out), 0);
  EXPECT_EQ(out.vector, 1);
  int32_t w = 0, h = 0;
  GetLoadedSourceSize(src, &w, &h);
  EXPECT_EQ(w * 10 + h, 105);
  ReleaseLoadedSource(src);
  ASSERT_EQ(Load("/x/pic.fakevec", "fakepics", -200, 0, 0, &src, nullptr, &out), 0);
  EXPECT_EQ(out.width, 20);
  EXPECT_EQ(out.height, 5);
  EXPECT_EQ(src->scaledPixels, nullptr);  // rendered by the plug-in, not scaled
  EXPECT_EQ(GetLoadedSourcePixels(src)[19], 0x80654321u);
  const double bad[4] = {0, 0, 0, 0};
  uint32_t* pixels = nullptr;
  EXPECT_EQ(TransformLoadedImage(src, bad, 0, 0, 3, 3, &pixels, nullptr), ERR_TFIMAGE);
  ReleaseLoadedSource(src);
}

TEST_F(PluginLoaders, AnimSourceThroughThePlugin) {
  vlAnimSource* src = nullptr;
  int32_t w = 0, h = 0, frames = 0, alpha = 0;
  uintptr_t loader = 0;
  ASSERT_EQ(OpenAnimSource("/x/a.fakeanim", "", nullptr, 0, 1, &src, &w, &h, &frames, &alpha, &loader), 0);
  EXPECT_EQ(src->kind, uint32_t(VL_ANIMSOURCE_PLUGIN));
  EXPECT_EQ(loader, reinterpret_cast<uintptr_t>(info));
  EXPECT_EQ(frames, 3);
  EXPECT_EQ(alpha, 1);
  int32_t transparency = 0;
  uint32_t* px = LoadAnimSourceFrame(src, 2, 1, &transparency);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(px[3], 35u);
  EXPECT_EQ(transparency, 1);
  const int before = freed();
  FreeAnimSourceFrame(src, px);
  EXPECT_EQ(freed(), before + 1);
  EXPECT_EQ(GetAnimSourceFrameDelay(src, 1), 20);
  EXPECT_EQ(IsIFFAnimSource(src), 0);
  CloseAnimSource(src);
  EXPECT_EQ(freed(), before + 2);
  EXPECT_EQ(IsAnimFile("/x/a.fakeanim", "fakepics", nullptr), 1);
  // Only the built-in readers: the file is not even there.
  EXPECT_EQ(OpenAnimSource("/x/a.fakeanim", "inbuilt", nullptr, 0, 0, &src, &w, &h, &frames, &alpha, nullptr),
            ERR_READFILE);
  // A plug-in that joins only when named opens the file again through the
  // loader list made of the reference it gave.
  info->joinedOnRequest = 1;
  EXPECT_EQ(OpenAnimSource("/x/a.fakeanim", "", nullptr, 0, 0, &src, &w, &h, &frames, &alpha, nullptr), ERR_READFILE);
  char list[256];
  AnimLoaderName(loader, list, sizeof list);
  ASSERT_EQ(OpenAnimSource("/x/a.fakeanim", list, nullptr, 0, 0, &src, &w, &h, &frames, &alpha, nullptr), 0);
  EXPECT_EQ(src->plugin, info);
  CloseAnimSource(src);
  AnimLoaderName(0, list, sizeof list);
  EXPECT_STREQ(list, "inbuilt");
  AnimLoaderName(1, list, sizeof list);
  EXPECT_STREQ(list, "native");
}

}  // namespace
