// Pictures and anims saved through a saver plug-in: the player finds the
// plug-in by format id, hands it the pixels in the form its format row
// asks for and the open stream, and turns its answers into error codes.
#include "tests/display/core/display_fixture.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/image_save.h"
#include "graphics/bitmap.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "runtime/plugin_formats.h"
#include "player/plugin_loader.h"
#include "tests/objects/plugin_paths/probe_plugin.h"
#include "vm/error_codes.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

class SaverPluginTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenAnimLib(L), 0);
    ASSERT_EQ(LoadPluginFile(VL_PROBE_PLUGIN_DIR "/probesaver.vlp", 0, &node_), 0);
    ASSERT_EQ(RegisterPluginFormats(L, node_), 0);
    info_ = GetPluginInfo(node_->handle);
    state_ = reinterpret_cast<ProbeStateFn>(GetPluginSymbol(node_->handle->library, "GetProbeState"))();
    file_ = testing::TempDir() + std::to_string(getpid()) + "probe.out";
  }
  void TearDown() override {
    if (started_) {
      std::remove(file_.c_str());
      FreeAnimLibrary(L);
      FreeBrushLib(L);
      FreePluginList();
    }
    DisplayTest::TearDown();
  }
  vlPlugin* node_ = nullptr;
  vlPluginInfo* info_ = nullptr;
  ProbeState* state_ = nullptr;
  std::string file_;
};

TEST_F(SaverPluginTest, ARGBSaverGetsThePixelsAndTheStream) {
  // Two formats listed, then the zero rows.
  ASSERT_NE(info_->imageSaverFormats, nullptr);
  EXPECT_EQ(info_->imageSaverFormats[0].formatId, PROBE_IMG_ARGB);
  EXPECT_EQ(info_->imageSaverFormats[1].formatId, PROBE_IMG_PALETTE);
  EXPECT_EQ(info_->imageSaverFormats[2].formatId, 0u);

  const uint32_t argb[6] = {0x80FF0000, 0xFF00FF00, 0x000000FF, 0x12345678, 0xFFFFFFFF, 0x7F010203};
  ASSERT_EQ(SaveImageToFile(PROBE_IMG_ARGB, argb, 3, 2, file_.c_str(), -1, 1, 90, 256, 0), 0);
  EXPECT_EQ(state_->saveCalls, 1);
  EXPECT_EQ(state_->saveFormat, PROBE_IMG_ARGB);
  EXPECT_EQ(state_->image.width, 3);
  EXPECT_EQ(state_->image.height, 2);
  EXPECT_EQ(state_->image.rowBytes, 12);
  EXPECT_EQ(state_->image.flags, VL_SAVERIMG_ARGB | VL_SAVERIMG_ALPHA);
  // What the plug-in wrote through the stream is in the file, unchanged.
  const std::vector<uint8_t> bytes = ReadFile(file_);
  ASSERT_EQ(bytes.size(), 16u + 24u);
  EXPECT_EQ(Word(bytes, 0), 0x31425250u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Word(bytes, 16 + 4 * i), argb[i]) << i;

  // Without alpha wanted the picture is not marked as carrying it.
  ASSERT_EQ(SaveImageToFile(PROBE_IMG_ARGB, argb, 3, 2, file_.c_str(), -1, 0, 90, 256, 0), 0);
  EXPECT_EQ(state_->image.flags, VL_SAVERIMG_ARGB);
}

TEST_F(SaverPluginTest, PaletteSaverGetsIndicesPaletteAndTransparentPen) {
  const uint32_t argb[4] = {0xFF0000, 0x00FF00, 0xFF0000, 0x0000FF};
  ASSERT_EQ(SaveImageToFile(PROBE_IMG_PALETTE, argb, 4, 1, file_.c_str(), 0x00FF00, 0, 90, 16, 0), 0);
  EXPECT_EQ(state_->image.flags, VL_SAVERIMG_TRANSPARENT);
  EXPECT_EQ(state_->image.rowBytes, 4);
  ASSERT_GE(state_->image.colorCount, 3);
  ASSERT_LE(state_->image.colorCount, 16);
  const std::vector<uint8_t> bytes = ReadFile(file_);
  ASSERT_EQ(bytes.size(), 16u + 4u + 4u * state_->image.colorCount);
  // Every index names a palette entry of the pixel's colour; the key
  // colour's pen is the transparent index.
  for (int i = 0; i < 4; ++i) {
    const uint8_t pen = bytes[16 + i];
    ASSERT_LT(pen, state_->image.colorCount);
    EXPECT_EQ(Word(bytes, 20 + 4 * pen) & 0xFFFFFF, argb[i]) << i;
  }
  EXPECT_EQ(state_->image.transparentIndex, bytes[17]);
  // No key: no transparent pen.
  ASSERT_EQ(SaveImageToFile(PROBE_IMG_PALETTE, argb, 4, 1, file_.c_str(), -1, 0, 90, 16, 0), 0);
  EXPECT_EQ(state_->image.flags, 0u);
  EXPECT_EQ(state_->image.transparentIndex, -1);
}

TEST_F(SaverPluginTest, SaverFailuresAndUnknownFormats) {
  const uint32_t argb[1] = {0xFF102030};
  state_->saveResult = 0;
  EXPECT_EQ(SaveImageToFile(PROBE_IMG_ARGB, argb, 1, 1, file_.c_str(), -1, 0, 90, 256, 0), 1487);
  EXPECT_EQ(state_->saveCalls, 1);
  state_->saveResult = 1;
  // A format no saver lists, or a disabled saver: 1486 before anything.
  EXPECT_EQ(SaveImageToFile(0x7777, argb, 1, 1, file_.c_str(), -1, 0, 90, 256, 0), ERR_UNKNOWNIMGOUT);
  info_->disabled = 1;
  EXPECT_EQ(SaveImageToFile(PROBE_IMG_ARGB, argb, 1, 1, file_.c_str(), -1, 0, 90, 256, 0), ERR_UNKNOWNIMGOUT);
  info_->disabled = 0;
  EXPECT_EQ(state_->saveCalls, 1);
  // A file that cannot be made is reported before the saver is asked.
  EXPECT_EQ(SaveImageToFile(PROBE_IMG_ARGB, argb, 1, 1, "/nonexistent-dir/x.prb", -1, 0, 90, 256, 0),
            ERR_WRITEFILE);
  EXPECT_EQ(state_->saveCalls, 1);
}

TEST_F(SaverPluginTest, SaveBrushThroughThePlugin) {
  // A 2x2 brush with a mask: the masked-out pixel carries no alpha.
  ASSERT_EQ(Run(".table 0 { mask = 1 }\n.call base=1 createbrush 1 2 2 16711680 r0"), 0);
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &b, 0), 0);
  FillMaskRect(b->mask, 1, 1, 1, 1, 1);
  ASSERT_EQ(Run(".call savebrush 1 \"" + file_ + "\" " + std::to_string(PROBE_IMG_ARGB)), 0);
  EXPECT_EQ(state_->image.width, 2);
  const std::vector<uint8_t> bytes = ReadFile(file_);
  ASSERT_EQ(bytes.size(), 16u + 16u);
  EXPECT_EQ(Word(bytes, 16) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(Run(".call savebrush 1 \"" + file_ + "\" 30000"), ERR_UNKNOWNIMGOUT);
}

TEST_F(SaverPluginTest, AnimStreamsThroughThePlugin) {
  ASSERT_EQ(Run(".call createbrush 1 4 3 65280"), 0);
  // ARGB saver with alpha: mode 4; quality and fps passed on.
  ASSERT_EQ(Run(".table 0 { usealpha = 1, quality = 70, fps = 12 }\n.call base=1 beginanimstream 2 \"" + file_ +
                "\" 4 3 " + std::to_string(PROBE_ANIM_ARGB) + " r0"),
            0);
  EXPECT_EQ(state_->beginCalls, 1);
  EXPECT_EQ(state_->beginMode, 4u);
  EXPECT_EQ(state_->beginWidth, 4);
  EXPECT_EQ(state_->beginQuality, 70);
  EXPECT_EQ(state_->beginFps, 12);
  ASSERT_EQ(Run(".table 0 { delay = 40 }\n.call base=1 writeanimframe 2 1 r0"), 0);
  EXPECT_EQ(state_->frameCalls, 1);
  EXPECT_EQ(state_->frame.delay, 40);
  EXPECT_EQ(state_->frame.rowLength, 16);
  EXPECT_EQ(state_->frame.formatId, PROBE_ANIM_ARGB);
  EXPECT_EQ(state_->frame.flags, 0u);  // the brush has no alpha channel
  EXPECT_EQ(state_->framePixel0 & 0xFFFFFF, 0x00FF00u);
  // A refused frame is 1489 and leaves the stream open.
  state_->frameResult = 0;
  EXPECT_EQ(Run(".call writeanimframe 2 1"), kErrSaveAnim);
  state_->frameResult = 1;
  ASSERT_EQ(Run(".call finishanimstream 2"), 0);
  EXPECT_EQ(state_->finishCalls, 1);
  std::ifstream f(file_);
  std::string line;
  std::getline(f, line);
  EXPECT_EQ(line.substr(0, 9), "frame 40 ");

  // A palette saver gets mode 1 and 8-bit frames with their palette.
  ASSERT_EQ(Run(".call beginanimstream 3 \"" + file_ + "\" 4 3 " + std::to_string(PROBE_ANIM_PALETTE)), 0);
  EXPECT_EQ(state_->beginMode, 1u);
  ASSERT_EQ(Run(".call writeanimframe 3 1"), 0);
  EXPECT_EQ(state_->frame.rowLength, 4);
  ASSERT_GE(state_->frame.colorCount, 1);
  EXPECT_EQ(state_->palette[state_->framePixel0] & 0xFFFFFF, 0x00FF00u);
  ASSERT_EQ(Run(".call finishanimstream 3"), 0);

  // Alpha on a saver without it, unknown formats and a refused begin.
  EXPECT_EQ(Run(".table 0 { usealpha = 1 }\n.call base=1 beginanimstream 4 \"" + file_ + "\" 4 3 " +
                std::to_string(PROBE_ANIM_PALETTE) + " r0"),
            kErrSaverNoAlpha);
  EXPECT_EQ(Run(".call beginanimstream 4 \"" + file_ + "\" 4 3 4242"), kErrUnknownAnimFormat);
  state_->beginFails = 1;
  EXPECT_EQ(Run(".call beginanimstream 4 \"" + file_ + "\" 4 3 " + std::to_string(PROBE_ANIM_ARGB)),
            kErrSaveAnim);
  EXPECT_EQ(state_->finishCalls, 2);
}

}  // namespace
