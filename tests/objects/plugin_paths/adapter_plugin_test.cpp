// A display-adapter plug-in in charge of a display: double buffering done
// by the adapter (its begin, flip and end slots with the right arguments,
// its answers returned), pictures held as adapter video bitmaps (the ARGB
// and flags it is handed, the pixels it reads back, the frees), and a
// software double buffer that gets new buffers when its display is resized.
#include "tests/display/core/display_fixture.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "../../formats/pictures/picture_test_util.h"
#include "display/clients.h"
#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/adapter_bitmap.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/picture_engines.h"
#include "graphics/pixel_format.h"
#include "media/video/video_library.h"
#include "media/video/video_player.h"
#include "objects/brushes/brush.h"
#include "objects/sprites/sprite.h"
#include "platform/display_adapter.h"
#include "platform/display_device.h"
#include "platform/offscreen_bitmap.h"
#include "platform/window_record.h"
#include "player/plugin_loader.h"
#include "player/startup.h"
#include "tests/objects/plugin_paths/probe_plugin.h"
#include "vm/error_codes.h"

namespace {

// The display with the brush, layers and graphics libraries open.
class BrushDisplayTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenGraphicsLib(L), 0);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeBrushLib(L);
      FreeGraphicsObjects(L);
    }
    DisplayTest::TearDown();
  }
};

class AdapterPluginTest : public BrushDisplayTest {
 protected:
  void SetUp() override {
    BrushDisplayTest::SetUp();
    if (!started_) return;
    // The adapter installs itself while the start-up plug-ins are opened.
    vlPluginStartup = 1;
    uint32_t caps = 0;
    const int loaded = LoadPluginModule(VL_PROBE_PLUGIN_DIR "/probeadapter.vlp", &caps, &handle_);
    vlPluginStartup = 0;
    ASSERT_EQ(loaded, 0);
    info_ = GetPluginInfo(handle_);
    ASSERT_EQ(vlDisplayAdapter, info_);
    state_ = reinterpret_cast<ProbeStateFn>(GetPluginSymbol(handle_->library, "GetProbeState"))();
  }
  void TearDown() override {
    BrushDisplayTest::TearDown();
    vlDisplayAdapter = nullptr;
    BindAdapterBitmapEntries(nullptr);
    if (handle_) ClosePluginModule(handle_);
  }
  // A blue 64x48 display; brush 2 is red, brush 3 green.
  void OpenDisplay() {
    ASSERT_EQ(Run(".table 0 { width = 64, height = 48, color = 255 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1\n.call createbrush 2 4 4 16711680\n.call createbrush 3 4 4 65280"),
              0);
    d_ = GetDisplayByNumber(1);
    ASSERT_NE(d_->adapterHandle, nullptr);
    surface_ = static_cast<ProbeSurface*>(d_->adapterHandle);
  }
  uint32_t Front(int x, int y) { return surface_->front[y * surface_->width + x] & 0xFFFFFF; }

  vlPluginHandle* handle_ = nullptr;
  vlPluginInfo* info_ = nullptr;
  ProbeState* state_ = nullptr;
  vlDisplay* d_ = nullptr;
  ProbeSurface* surface_ = nullptr;
};

TEST_F(AdapterPluginTest, AdapterDoubleBufferShowsDrawingAtFlip) {
  OpenDisplay();
  EXPECT_EQ(state_->openCalls, 1);
  ASSERT_EQ(Run(".call displaybrush 2 3 3"), 0);
  EXPECT_EQ(Front(4, 4), 0xFF0000u);  // without buffering drawing shows at once

  ASSERT_EQ(Run(".call begindoublebuffer 1"), 0);
  EXPECT_EQ(state_->beginBufferCalls, 1);
  EXPECT_EQ(state_->lastHandle, d_->adapterHandle);
  EXPECT_EQ(d_->hardwareDoubleBuffer, 1u);
  EXPECT_EQ(d_->dbBack, nullptr);  // no back buffer of our own
  ASSERT_EQ(Run(".call displaybrush 3 3 3\n.call displaybrush 3 50 40"), 0);
  EXPECT_EQ(Front(4, 4), 0xFF0000u);
  EXPECT_EQ(Front(51, 41), 0x0000FFu);
  ASSERT_EQ(Run(".call flip 0"), 0);
  EXPECT_EQ(state_->flipBlock[0], 1);
  EXPECT_EQ(state_->flipBlock[1], 0);
  EXPECT_EQ(state_->flipBlock[2], 0);
  EXPECT_EQ(Front(4, 4), 0x00FF00u);
  EXPECT_EQ(Front(51, 41), 0x00FF00u);
  ASSERT_EQ(Run(".call flip"), 0);
  EXPECT_EQ(state_->flipBlock[1], 1);  // sync by default
  // The adapter's own answer is Flip's result.
  state_->flipResult = ERR_BITMAP;
  EXPECT_EQ(Run(".call flip"), ERR_BITMAP);
  state_->flipResult = 1;
  // Drawing into a brush meanwhile, then back to the adapter's buffering.
  ASSERT_EQ(Run(".call selectbrush 2\n.call endselect"), 0);
  EXPECT_EQ(d_->doubleBuffer, 1u);
  EXPECT_EQ(d_->hardwareDoubleBuffer, 1u);
  EXPECT_EQ(d_->outputType, static_cast<uint32_t>(VL_OUTPUT_DISPLAY));
  EXPECT_EQ(Run(".call begindoublebuffer 1"), ERR_ENDDOUBLEBUFFER);
  EXPECT_EQ(Run(".call closedisplay 1"), 1525);  // "Please end hardware double buffering first!"
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
  EXPECT_EQ(state_->endBufferCalls, 1);
  EXPECT_EQ(d_->doubleBuffer, 0u);
  EXPECT_EQ(d_->hardwareDoubleBuffer, 0u);
  EXPECT_EQ(Run(".call flip"), ERR_NODOUBLEBUFFER);
}

TEST_F(AdapterPluginTest, SoftwareBufferingWhenNotAskedOrNotOffered) {
  OpenDisplay();
  // Not asked for hardware: the player buffers in software.
  ASSERT_EQ(Run(".call begindoublebuffer"), 0);
  EXPECT_EQ(state_->beginBufferCalls, 0);
  ASSERT_NE(d_->dbBack, nullptr);
  ASSERT_EQ(Run(".call displaybrush 2 3 3"), 0);
  EXPECT_EQ(Front(4, 4), 0x0000FFu);
  ASSERT_EQ(Run(".call flip"), 0);
  EXPECT_EQ(state_->flipCalls, 0);
  EXPECT_EQ(Front(4, 4), 0xFF0000u);  // presented through the adapter's blit
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
  // An adapter that does not offer it: software too.
  info_->displayCaps = 0;
  ASSERT_EQ(Run(".call begindoublebuffer 1"), 0);
  EXPECT_EQ(state_->beginBufferCalls, 0);
  EXPECT_EQ(d_->hardwareDoubleBuffer, 0u);
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
  // Hardware asked of an adapter that keeps hardware pictures but does not
  // buffer: the back buffer is its picture for this display, drawing goes
  // into it, Flip shows it and the end frees it.
  info_->displayCaps = VL_DISPCAPS_DRAWCLOSED;
  const int allocs = state_->allocCalls, frees = state_->freeCalls;
  ASSERT_EQ(Run(".call begindoublebuffer 1"), 0);
  EXPECT_EQ(state_->allocCalls, allocs + 1);
  EXPECT_EQ(state_->allocWidth, 64);
  EXPECT_EQ(state_->allocHeight, 48);
  EXPECT_EQ(state_->allocDisplay, reinterpret_cast<uintptr_t>(d_->adapterHandle));
  EXPECT_TRUE(IsVideoBitmap(d_->dbBack));
  EXPECT_EQ(d_->outputHardware, 1u);
  ASSERT_EQ(Run(".call displaybrush 3 10 10\n.call selectbrush 2\n.call endselect\n.call displaybrush 2 40 30"), 0);
  EXPECT_EQ(d_->outputHardware, 1u) << "back from the selection";
  EXPECT_EQ(Front(11, 11), 0x0000FFu);
  ASSERT_EQ(Run(".call flip 0"), 0);
  EXPECT_EQ(Front(11, 11), 0x00FF00u);
  EXPECT_EQ(Front(41, 31), 0xFF0000u);
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
  EXPECT_EQ(state_->freeCalls, frees + 1);
  EXPECT_EQ(d_->outputHardware, 0u);
  // The adapter's buffering is refused to a display with clients (they
  // render into its own picture) and to a closed display.
  info_->displayCaps = 4;
  vlDisplayClient* client = AddDisplayClient({1, nullptr}, [](void*, uint32_t, const int32_t*, void*) {}, nullptr,
                                             nullptr, 0);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(Run(".call begindoublebuffer 1"), ERR_SATELLITE);
  RemoveDisplayClient(client);
  EXPECT_EQ(d_->doubleBuffer, 0u);
  ASSERT_EQ(Run(".call closedisplay 1"), 0);
  EXPECT_EQ(Run(".call begindoublebuffer 1"), ERR_CLOSEDDISPLAY);
  EXPECT_EQ(state_->beginBufferCalls, 0);
  ASSERT_EQ(Run(".call opendisplay 1"), 0);
  // The adapter refusing to begin: its error, and no double buffer.
  state_->beginBufferResult = ERR_BITMAP;
  EXPECT_EQ(Run(".call begindoublebuffer 1"), ERR_BITMAP);
  EXPECT_EQ(d_->doubleBuffer, 0u);
}

// A display its adapter marks takes a double buffer's frames whole; when
// the display grew and the double buffer could not (its adapter refused a
// larger back buffer), the rest comes from the display's front copy.
TEST_F(AdapterPluginTest, MarkedDisplayTakesWholeFramesAndTheStripsBesideThem) {
  state_->markWhole = 1;
  OpenDisplay();
  EXPECT_NE(d_->styleFlags & VL_DISPSTYLE_ADAPTERCAP1, 0u);
  info_->displayCaps = VL_DISPCAPS_DRAWCLOSED;  // its pictures, not its buffering
  ASSERT_EQ(Run(".call begindoublebuffer 1\n.call displaybrush 2 3 3\n.call flip 0"), 0);
  EXPECT_EQ(Front(4, 4), 0xFF0000u);
  EXPECT_EQ(Front(50, 40), 0x000000u) << "the whole black frame";
  state_->allocFails = 1;
  EXPECT_EQ(Run(".call changedisplaysize 80 60"), ERR_MEM);
  state_->allocFails = 0;
  ASSERT_EQ(d_->dbBGPic->width, 64);
  ASSERT_EQ(d_->bgpic->width, 80);
  ASSERT_EQ(Run(".call displaybrush 3 60 44\n.call flip 0"), 0);
  EXPECT_EQ(Front(61, 45), 0x00FF00u);
  EXPECT_EQ(Front(4, 4), 0xFF0000u);
  EXPECT_EQ(Front(70, 5), 0x0000FFu) << "right of the double buffer";
  EXPECT_EQ(Front(70, 55), 0x0000FFu) << "its corner";
  EXPECT_EQ(Front(5, 55), 0x0000FFu) << "below it";
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
}

TEST_F(AdapterPluginTest, CapabilityRequestsFollowTheAdapterWords) {
  info_->displayCaps = 1 | 4;
  info_->displayCaps2 = 16 | 2;
  EXPECT_EQ(GetAdapterBitmapCaps(0xFF), 4u | 64u | 8u | 32u);
  EXPECT_EQ(GetAdapterBitmapCaps(64), 64u);
  info_->displayCaps = 2 | 8;
  info_->displayCaps2 = 0;
  EXPECT_EQ(GetAdapterBitmapCaps(0xFF), 16u | 128u);
  // Mixing in hardware (the crossfade's request 2) from word 24's 32.
  info_->displayCaps2 = VL_DISPCAPS2_MIXES;
  EXPECT_EQ(GetAdapterBitmapCaps(0xFF), 16u | 128u | 2u);
  EXPECT_EQ(GetAdapterBitmapCaps(2), 2u);
  info_->displayCaps2 = 0;
  // The player's pictures only once word 16 says the adapter makes any.
  info_->displayCaps = 2 | 8;
  EXPECT_EQ(QueryAdapterCaps(0xFC), 0u);
  info_->displayCaps = 2 | 8 | 16;
  EXPECT_EQ(QueryAdapterCaps(0xFC), 16u | 128u);
  vlDisplayAdapter = nullptr;
  EXPECT_EQ(GetAdapterBitmapCaps(0xFF), 0u);
  EXPECT_EQ(QueryAdapterCaps(0xFC), 0u);
  vlDisplayAdapter = info_;
}

// The adapter's device offers what its entries and words give: a left-out
// entry is an empty route that draws nothing (observers still hear of it),
// and its flag to scale by itself is a feature of the device.
TEST_F(AdapterPluginTest, TheDeviceOffersWhatTheAdapterEntriesGive) {
  const vlRectFillFn fill = info_->RectFill;
  info_->RectFill = nullptr;
  info_->displayFlags |= 8;
  OpenDisplay();
  vlPlatformWindow* w = WindowOf(d_);
  const vlDisplayDevice* device = DisplayDevice(w);
  EXPECT_EQ(device->fillRect, nullptr);
  EXPECT_NE(device->plotPixel, nullptr);
  EXPECT_EQ(device->putPixels, nullptr);  // an adapter takes pictures, not pixel records
  EXPECT_TRUE(DisplayDeviceDoes(w, VL_DEVICE_SCALES_BLITS));
  FillDisplayRect(w, 0, 0, 8, 8, 0xFFFF0000u);
  EXPECT_EQ(Front(2, 2), 0x0000FFu);
  PlotDisplayPixel(w, 2, 2, 0xFFFF0000u);
  EXPECT_EQ(Front(2, 2), 0xFF0000u);
  info_->RectFill = fill;
  info_->displayFlags &= ~8u;
  EXPECT_NE(DefaultDisplayDevice()->fillRect, nullptr);
  EXPECT_FALSE(DisplayDeviceDoes(w, VL_DEVICE_SCALES_BLITS));
}

TEST_F(AdapterPluginTest, ConvertHandsTheAdapterKeyedOrAlphaPixels) {
  void* display = reinterpret_cast<void*>(0x1234);
  const uint32_t pixels[6] = {0x00FF00, 0xFF0000, 0xAA00FF00, 0x0000FF, 0, 0};  // rows of 3, 2 used
  vlBitmap* out = nullptr;
  vlBitmap* alpha = nullptr;
  int held = -1;
  ASSERT_EQ(ConvertToAdapterBitmap(pixels, 0x00FF00, 2, 2, 3, 0, display, &out, &alpha, &held), 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(held, 0);
  EXPECT_EQ(out->driverOwned, 1);
  EXPECT_EQ(state_->allocFlags, 9u);
  EXPECT_EQ(state_->allocDisplay, reinterpret_cast<uintptr_t>(display));
  EXPECT_EQ(state_->allocPixels[0], 0x0000FF00u);  // the key: transparent
  EXPECT_EQ(state_->allocPixels[1], 0xFFFF0000u);
  EXPECT_EQ(state_->allocPixels[2], 0xFF0000FFu);  // next row starts at 3
  EXPECT_EQ(state_->allocPixels[3], 0xFF000000u);
  void* handle = out->handle;
  DeleteBitmap(out);
  EXPECT_EQ(state_->freeCalls, 1);
  EXPECT_EQ(state_->lastFreed, handle);

  // No key, no alpha: opaque, flags 8.
  ASSERT_EQ(ConvertToAdapterBitmap(pixels, -1, 2, 1, 3, 0, nullptr, &out, &alpha, &held), 0);
  EXPECT_EQ(state_->allocFlags, 8u);
  EXPECT_EQ(state_->allocDisplay, 0u);
  EXPECT_EQ(state_->allocPixels[0], 0xFF00FF00u);
  DeleteBitmap(out);

  // An alpha plane gives the top bytes and is released.
  alpha = NewAlphaPlane(2, 1, 1, nullptr, 0);
  FillAlphaRect(alpha, 1, 0, 1, 1, 0x40);
  ASSERT_EQ(ConvertToAdapterBitmap(pixels, -1, 2, 1, 3, 0, nullptr, &out, &alpha, &held), 0);
  EXPECT_EQ(alpha, nullptr);
  EXPECT_EQ(state_->allocFlags, 9u);
  EXPECT_EQ(state_->allocPixels[0], 0x0000FF00u);
  EXPECT_EQ(state_->allocPixels[1], 0x40FF0000u);
  DeleteBitmap(out);

  // Refused: an error, unless the adapter keeps such pictures itself.
  state_->allocFails = 1;
  EXPECT_EQ(ConvertToAdapterBitmap(pixels, -1, 2, 1, 3, 0, nullptr, &out, &alpha, &held), ERR_BITMAP);
  EXPECT_EQ(out, nullptr);
  info_->displayCaps2 |= 4;
  EXPECT_EQ(ConvertToAdapterBitmap(pixels, -1, 2, 1, 3, 0, nullptr, &out, &alpha, &held), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(held, 1);
}

TEST_F(AdapterPluginTest, ReadBackConvertsPixelsAndAlphaAndFreesThem) {
  const uint32_t pixels[4] = {0x123456, 0xFEDCBA, 0x00FF00, 0x0000FF};
  vlBitmap* alpha = NewAlphaPlane(2, 2, 1, nullptr, 0);
  FillAlphaRect(alpha, 0, 0, 1, 2, 0x80);
  FillAlphaRect(alpha, 1, 0, 1, 2, 0xFF);
  vlBitmap* video = nullptr;
  int held = 0;
  ASSERT_EQ(ConvertToAdapterBitmap(pixels, -1, 2, 2, 2, 0, nullptr, &video, &alpha, &held), 0);
  vlBitmap* target = NewBitmap(2, 2, 0, nullptr);
  ASSERT_NE(target, nullptr);
  for (int32_t format : {10, 11, 12, 13}) {
    state_->readFormat = format;
    state_->readAlpha = 1;
    FillBitmapRect(target, 0, 0, 2, 2, 0);
    vlBitmap* out = nullptr;
    ASSERT_EQ(ReadAdapterBitmap(video, target, 2, 2, &out), 0) << format;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadBitmapPixel(target, i % 2, i / 2, 0), pixels[i]) << format << " " << i;
    ASSERT_NE(out, nullptr);
    vlPixelAccess a;
    ASSERT_TRUE(LockPixels(out, 0, &a));
    EXPECT_EQ(a.pixels[0], 0x80) << format;
    EXPECT_EQ(a.pixels[1], 0xFF) << format;
    EXPECT_EQ(a.pixels[a.rowLength], 0x80) << format;
    UnlockPixels(out, &a);
    DeleteAlphaPlane(out);
    EXPECT_EQ(state_->freedPixels, state_->readPixels);
  }
  // A 16-bit read-back: channels keep their top bits.
  state_->readFormat = 4;
  state_->readAlpha = 0;
  vlBitmap* out = reinterpret_cast<vlBitmap*>(1);
  ASSERT_EQ(ReadAdapterBitmap(video, target, 2, 2, &out), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ReadBitmapPixel(target, 1, 0, 0), 0xF8DCB8u);
  // Alpha from a format without it: 1055, the pixels still handed back.
  state_->readAlpha = 1;
  state_->freedPixels = nullptr;
  EXPECT_EQ(ReadAdapterBitmap(video, target, 2, 2, &out), ERR_WRONGUSAGE);
  EXPECT_EQ(state_->freedPixels, state_->readPixels);
  // No pixels: 1524.
  state_->readFails = 1;
  EXPECT_EQ(ReadAdapterBitmap(video, target, 2, 2, &out), ERR_READVIDEOPIXELS);
  DeleteBitmap(target);
  DeleteBitmap(video);
}

// A 3x2 video bitmap with an alpha byte per pixel, and the same picture
// and plane made in software.
constexpr uint32_t kRgb[6] = {0x123456, 0xFEDCBA, 0x00FF00, 0x0000FF, 0xABCDEF, 0x010203};
constexpr uint8_t kAlpha[6] = {0x80, 0xFF, 0x10, 0x20, 0x40, 0x60};
vlBitmap* SoftAlpha() {
  vlBitmap* alpha = NewAlphaPlane(3, 2, 1, nullptr, 0);
  for (int i = 0; i < 6; ++i) FillAlphaRect(alpha, i % 3, i / 3, 1, 1, kAlpha[i]);
  return alpha;
}
vlBitmap* SoftPicture() {
  vlBitmap* b = NewBitmap(3, 2, 0, nullptr);
  for (int i = 0; i < 6; ++i) FillBitmapRect(b, i % 3, i / 3, 1, 1, kRgb[i]);
  return b;
}
vlBitmap* VideoPicture() {
  vlBitmap* alpha = SoftAlpha();
  vlBitmap* video = nullptr;
  int held = 0;
  EXPECT_EQ(ConvertToAdapterBitmap(kRgb, -1, 3, 2, 3, 0, nullptr, &video, &alpha, &held), 0);
  return video;
}
// Same size, same alpha bytes (or both without a plane), the same mask
// bits when wantM is given, and the same pixels wherever the wanted result
// shows one (a transformed picture is not cleared outside its shape).
void ExpectSamePictures(vlBitmap* b, vlBitmap* m, vlBitmap* a, vlBitmap* wantB, vlBitmap* wantM, vlBitmap* wantA,
                        const char* what) {
  ASSERT_NE(b, nullptr) << what;
  ASSERT_EQ(b->width, wantB->width) << what;
  ASSERT_EQ(b->height, wantB->height) << what;
  ASSERT_EQ(a != nullptr, wantA != nullptr) << what;
  ASSERT_EQ(m != nullptr, wantM != nullptr) << what;
  vlPixelAccess p{}, q{};
  if (a) {
    ASSERT_TRUE(LockPixels(a, VL_LOCK_READ, &p));
    ASSERT_TRUE(LockPixels(wantA, VL_LOCK_READ, &q));
  }
  int shown = 0;
  for (int32_t y = 0; y < b->height; ++y)
    for (int32_t x = 0; x < b->width; ++x) {
      bool show = true;
      if (a) {
        const uint8_t want = q.pixels[y * q.rowLength + x];
        EXPECT_EQ(p.pixels[y * p.rowLength + x], want) << what << " alpha " << x << "," << y;
        show = want != 0;
      }
      if (m) {
        EXPECT_EQ(ReadBitmapPixel(m, x, y, 1), ReadBitmapPixel(wantM, x, y, 1)) << what << " mask " << x << "," << y;
        show = ReadBitmapPixel(wantM, x, y, 1) != 0;
      }
      if (!show) continue;
      ++shown;
      EXPECT_EQ(ReadBitmapPixel(b, x, y, 0), ReadBitmapPixel(wantB, x, y, 0)) << what << " " << x << "," << y;
    }
  if (a) {
    UnlockPixels(a, &p);
    UnlockPixels(wantA, &q);
  }
  EXPECT_GE(shown, 6) << what;
}
void DeleteAll(vlBitmap* b, vlBitmap* m, vlBitmap* a) {
  if (b) DeleteBitmap(b);
  if (m) DeleteMaskPlane(m);
  if (a) DeleteAlphaPlane(a);
}

TEST_F(AdapterPluginTest, ARGBReadOfAVideoBitmapGoesThroughTheAdaptersPixels) {
  vlBitmap* video = VideoPicture();
  ASSERT_NE(video, nullptr);
  for (int32_t format : {10, 11, 12, 13}) {
    state_->readFormat = format;
    const int reads = state_->readCalls, frees = state_->freePixelsCalls;
    uint32_t* argb = nullptr;
    ASSERT_EQ(ReadBitmapRectARGB(video, 1, 0, 2, 2, nullptr, &argb), 0) << format;
    for (int i = 0; i < 4; ++i) {
      const int at = (i / 2) * 3 + 1 + i % 2;
      EXPECT_EQ(argb[i], uint32_t{kAlpha[at]} << 24 | kRgb[at]) << format << " " << i;
    }
    delete[] argb;
    EXPECT_EQ(state_->readCalls, reads + 1) << format;
    EXPECT_EQ(state_->freePixelsCalls, frees + 1) << format;
    EXPECT_EQ(state_->freedPixels, state_->readPixels) << format;
  }
  // 16-bit pixels are not read: the rows stay clear, the pixels go back.
  state_->readFormat = 4;
  int frees = state_->freePixelsCalls;
  uint32_t* argb = nullptr;
  ASSERT_EQ(ReadBitmapRectARGB(video, 0, 0, 3, 2, nullptr, &argb), 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(argb[i], 0u) << i;
  delete[] argb;
  EXPECT_EQ(state_->freePixelsCalls, frees + 1);
  // A rectangle outside the picture is not read at all.
  const int reads = state_->readCalls;
  argb = nullptr;
  EXPECT_EQ(ReadBitmapRectARGB(video, 2, 0, 2, 2, nullptr, &argb), ERR_LOCKBMAP);
  EXPECT_EQ(state_->readCalls, reads);
  // No pixels from the adapter: 1524 and no buffer.
  state_->readFails = 1;
  frees = state_->freePixelsCalls;
  EXPECT_EQ(ReadBitmapRectARGB(video, 0, 0, 3, 2, nullptr, &argb), ERR_READVIDEOPIXELS);
  EXPECT_EQ(argb, nullptr);
  EXPECT_EQ(state_->freePixelsCalls, frees);
  DeleteBitmap(video);
}

TEST_F(AdapterPluginTest, ScaleAndTransformReadAVideoBitmapTheAdapterDoesNotDoItself) {
  ASSERT_EQ(GetAdapterBitmapCaps(VL_ADAPTERCAP_SCALE | VL_ADAPTERCAP_TRANSFORM), 0u);
  vlBitmap* video = VideoPicture();
  vlBitmap* soft = SoftPicture();
  vlBitmap* softAlpha = SoftAlpha();
  ASSERT_NE(video, nullptr);
  const double c = std::cos(0.5), s = std::sin(0.5);
  const double matrix[4] = {1.5 * c, s, -s, 0.75 * c};
  for (int withAlpha : {1, 0}) {
    state_->readFormat = withAlpha ? 13 : 11;
    state_->readAlpha = withAlpha;
    vlBitmap* wantAlpha = withAlpha ? softAlpha : nullptr;
    const int frees = state_->freePixelsCalls;
    vlBitmap *b = nullptr, *m = nullptr, *a = nullptr, *wb = nullptr, *wm = nullptr, *wa = nullptr;
    // A part of it, smooth.
    ASSERT_EQ(ScaleBitmap(video, nullptr, nullptr, 1, 0, nullptr, 2, 2, 5, 7, 1, 0, &b, &m, &a), 0);
    ASSERT_EQ(ScaleBitmap(soft, nullptr, wantAlpha, 1, 0, nullptr, 2, 2, 5, 7, 1, 0, &wb, &wm, &wa), 0);
    ExpectSamePictures(b, m, a, wb, wm, wa, withAlpha ? "scale with alpha" : "scale");
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(b ? b->driverOwned : -1, 0);
    DeleteAll(b, m, a);
    DeleteAll(wb, wm, wa);
    int32_t w = 0, h = 0, ww = 0, wh = 0;
    b = m = a = wb = wm = wa = nullptr;
    ASSERT_EQ(TransformBitmap(video, nullptr, nullptr, 0, 0, 3, 2, matrix, 1, 0, &b, &m, &a, &w, &h), 0);
    ASSERT_EQ(TransformBitmap(soft, nullptr, wantAlpha, 0, 0, 3, 2, matrix, 1, 0, &wb, &wm, &wa, &ww, &wh), 0);
    EXPECT_EQ(w, ww);
    EXPECT_EQ(h, wh);
    ExpectSamePictures(b, m, a, wb, wm, wa, withAlpha ? "transform with alpha" : "transform");
    // Exactly one plane: the alpha read back, else a mask.
    EXPECT_EQ(m != nullptr, !withAlpha);
    DeleteAll(b, m, a);
    DeleteAll(wb, wm, wa);
    EXPECT_EQ(state_->freePixelsCalls, frees + 2) << withAlpha;
  }
  // No pixels from the adapter: 1524, nothing handed out.
  state_->readFails = 1;
  vlBitmap *b = nullptr, *m = nullptr, *a = nullptr;
  EXPECT_EQ(ScaleBitmap(video, nullptr, nullptr, 0, 0, nullptr, 3, 2, 6, 4, 0, 0, &b, &m, &a), ERR_READVIDEOPIXELS);
  EXPECT_EQ(TransformBitmap(video, nullptr, nullptr, 0, 0, 3, 2, matrix, 0, 0, &b, &m, &a, nullptr, nullptr),
            ERR_READVIDEOPIXELS);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(a, nullptr);
  DeleteAlphaPlane(softAlpha);
  DeleteBitmap(soft);
  DeleteBitmap(video);
}

TEST_F(AdapterPluginTest, AllocFromAPictureFoldsTheMaskIntoAlpha) {
  vlBitmap* pic = NewBitmap(2, 1, 0, nullptr);
  FillBitmapRect(pic, 0, 0, 2, 1, 0x336699);
  vlBitmap* mask = NewMaskPlane(pic, 2, 1, 1, nullptr, 0);
  FillMaskRect(mask, 1, 0, 1, 1, 0);
  vlAdapterSource src{};
  src.bitmap = pic;
  src.mask = mask;
  const double matrix[4] = {1, 0, 0, 1};
  src.matrix = matrix;
  int alphaUsed = 0;
  void* h = AllocAdapterBitmap(2, 1, 8, &alphaUsed, &src);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(alphaUsed, 1);
  EXPECT_EQ(state_->allocFlags, 9u);
  EXPECT_EQ(state_->allocPixels[0], 0x00336699u);
  EXPECT_EQ(state_->allocPixels[1], 0xFF336699u);
  // An adapter picture as source goes by its handle, with flag 2.
  vlBitmap held{};
  held.handle = h;
  held.width = 2;
  held.height = 1;
  held.driverOwned = 1;
  vlAdapterSource again{};
  again.bitmap = &held;
  void* h2 = AllocAdapterBitmap(2, 1, 8, &alphaUsed, &again);
  ASSERT_NE(h2, nullptr);
  EXPECT_EQ(state_->allocFlags, 10u);
  EXPECT_EQ(state_->allocPixels[1], 0xFF336699u);
  auto freeVideo = reinterpret_cast<void (*)(void*)>(vlDisplayAdapter->FreeVideoBitMap);
  freeVideo(h2);
  freeVideo(h);
  DeleteMaskPlane(mask);
  DeleteBitmap(pic);
}

}  // namespace

// The software double buffer of a display resized meanwhile: the buffers
// take the new size, what was drawn stays, and the next Flip sends all.
using ResizedDoubleBufferTest = BrushDisplayTest;

TEST_F(ResizedDoubleBufferTest, ResizedDisplayGetsNewBuffers) {
  ASSERT_EQ(Run(".table 0 { width = 64, height = 48, color = 255 }\n.call base=1 createdisplay 1 r0\n"
                ".call opendisplay 1\n.call createbrush 2 4 4 16711680\n.call createbrush 3 4 4 65280"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_EQ(Run(".call begindoublebuffer\n.call displaybrush 2 3 3\n.call flip"), 0);
  ASSERT_EQ(Run(".call changedisplaysize 96 72"), 0);
  ASSERT_NE(d->dbBack, nullptr);
  EXPECT_EQ(d->dbBack->width, 96);
  EXPECT_EQ(d->dbBack->height, 72);
  EXPECT_EQ(d->dbPicture->width, 96);
  EXPECT_EQ(d->dbBGPic->width, 96);
  EXPECT_EQ(ReadBitmapPixel(d->dbBack, 4, 4, 0) & 0xFFFFFF, 0xFF0000u);  // kept
  EXPECT_EQ(d->doubleBuffer, 1u);
  // Drawing reaches the new area and the next Flip shows the whole frame.
  ASSERT_EQ(Run(".call displaybrush 3 90 66\n.call flip"), 0);
  EXPECT_EQ(WindowPixel(d, 91, 67), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 4, 4), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 80, 10), 0x000000u);  // the new area of the back buffer is black
  // Smaller again: still drawable, clipped to the new size.
  ASSERT_EQ(Run(".call changedisplaysize 32 24\n.call displaybrush 3 30 20\n.call flip"), 0);
  EXPECT_EQ(d->dbBack->width, 32);
  EXPECT_EQ(WindowPixel(d, 31, 21), 0x00FF00u);
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
}

namespace {

vlBrush* BrushNumber(vlVMState* L, int32_t n) {
  vlBrush* b = nullptr;
  return GetBrushByID(L, {n, nullptr}, &b, VL_BRUSH_HARDWAREOK) == 0 ? b : nullptr;
}

TEST_F(AdapterPluginTest, HardwareBrushesLiveInTheAdapter) {
  OpenDisplay();
  info_->displayCaps2 = 16 | 2;  // hardware brushes, displays for plug-ins
  info_->displayCaps |= VL_DISPCAPS_DRAWCLOSED;  // and the gate open
  ASSERT_EQ(Run(".table 0 { hardware = 1 }\n.call base=1 createbrush 5 3 2 16776960 r0"), 0);
  vlBrush* b = BrushNumber(L, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->hardware, 1u);
  EXPECT_EQ(b->display, d_);
  ASSERT_NE(b->bitmap, nullptr);
  EXPECT_EQ(b->bitmap->driverOwned, 1);
  EXPECT_EQ(state_->allocFlags, 8u);
  EXPECT_EQ(state_->allocDisplay, reinterpret_cast<uintptr_t>(d_->adapterHandle));
  EXPECT_EQ(state_->allocPixels[5], 0xFFFFFF00u);
  // Shown on the display through the adapter: its pixels come from the
  // adapter's own bitmap.
  ASSERT_EQ(Run(".call displaybrush 5 10 10"), 0);
  EXPECT_EQ(Front(12, 11), 0xFFFF00u);
  EXPECT_EQ(Front(13, 11), 0x0000FFu);
  // A mask asked for: flags 9 and the mask bit, no planes of our own.
  ASSERT_EQ(Run(".table 0 { hardware = 1, mask = 1 }\n.call base=1 createbrush 6 2 2 255 r0"), 0);
  EXPECT_EQ(state_->allocFlags, 9u);
  EXPECT_EQ(BrushNumber(L, 6)->hardwareFlags, 1u);
  EXPECT_EQ(BrushNumber(L, 6)->mask, nullptr);

  // Refused: 1522, or an ordinary brush when the adapter allows that.
  state_->allocFails = 1;
  EXPECT_EQ(Run(".table 0 { hardware = 1 }\n.call base=1 createbrush 7 2 2 0 r0"), ERR_BITMAP);
  info_->displayCaps |= 1;
  ASSERT_EQ(Run(".table 0 { hardware = 1 }\n.call base=1 createbrush 7 2 2 0 r0"), 0);
  EXPECT_EQ(BrushNumber(L, 7)->hardware, 0u);
  EXPECT_EQ(BrushNumber(L, 7)->bitmap->driverOwned, 0);
  state_->allocFails = 0;

  // A window rebuilt for a new style keeps the brushes' pixels: they are
  // read back, then made video bitmaps of the new window.
  const int allocs = state_->allocCalls;
  void* oldBitmap = b->bitmap->handle;
  ASSERT_EQ(Run(".table 0 { sizeable = 1 }\n.call base=1 setdisplayattributes r0"), 0);
  EXPECT_EQ(state_->closeCalls, 1);
  EXPECT_EQ(state_->openCalls, 2);
  EXPECT_EQ(state_->allocCalls, allocs + 2);
  ASSERT_NE(b->bitmap, nullptr);
  EXPECT_NE(b->bitmap->handle, oldBitmap);
  EXPECT_EQ(b->display, d_);
  EXPECT_EQ(b->hardware, 1u);
  EXPECT_EQ(state_->allocDisplay, reinterpret_cast<uintptr_t>(d_->adapterHandle));
  surface_ = static_cast<ProbeSurface*>(d_->adapterHandle);
  ASSERT_EQ(Run(".call displaybrush 5 0 0"), 0);
  EXPECT_EQ(Front(1, 1), 0xFFFF00u);

  // Closing the display for good frees its hardware brushes.
  const int freed = state_->freeCalls;
  ASSERT_EQ(Run(".call closedisplay 1"), 0);
  EXPECT_EQ(state_->freeCalls, freed + 2);
  EXPECT_EQ(BrushNumber(L, 5), nullptr);
  EXPECT_NE(BrushNumber(L, 7), nullptr);
}

TEST_F(AdapterPluginTest, LoadBrushAsHardwareFoldsTheKeyIntoAlpha) {
  OpenDisplay();
  info_->displayCaps |= VL_DISPCAPS_DRAWCLOSED;
  const std::string bmp = testing::TempDir() + std::to_string(getpid()) + "hw.bmp";
  ASSERT_EQ(Run(".call createbrush 1 2 1 16711680\n.call savebrush 1 \"" + bmp + "\""), 0);
  ASSERT_EQ(Run(".table 0 { hardware = 1, transparency = 16711680 }\n.call base=1 loadbrush 2 \"" + bmp + "\" r0"),
            0);
  // With the grant but the gate shut, an ordinary one too.
  info_->displayCaps &= ~uint32_t{VL_DISPCAPS_DRAWCLOSED};
  ASSERT_EQ(Run(".table 0 { hardware = 1 }\n.call base=1 loadbrush 4 \"" + bmp + "\" r0"), 0);
  EXPECT_EQ(BrushNumber(L, 4)->hardware, 0u);
  info_->displayCaps |= VL_DISPCAPS_DRAWCLOSED;
  std::remove(bmp.c_str());
  vlBrush* b = BrushNumber(L, 2);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->hardware, 1u);
  EXPECT_EQ(b->hardwareFlags, 1u);
  EXPECT_EQ(b->mask, nullptr);
  EXPECT_EQ(b->transparentColor, 0xFF0000);
  EXPECT_EQ(state_->allocFlags, 9u);
  EXPECT_EQ(state_->allocPixels[0], 0x00FF0000u);
  // Without the adapter's grant the brush is an ordinary one.
  info_->displayCaps2 = 0;
  ASSERT_EQ(Run(".call createbrush 1 2 1 255\n.call savebrush 1 \"" + bmp + "\"\n"
                ".table 0 { hardware = 1 }\n.call base=1 loadbrush 3 \"" + bmp + "\" r0"),
            0);
  std::remove(bmp.c_str());
  EXPECT_EQ(BrushNumber(L, 3)->hardware, 0u);
  EXPECT_EQ(BrushNumber(L, 3)->bitmap->driverOwned, 0);
}

TEST_F(AdapterPluginTest, RebuiltWindowBeginsTheAdapterDoubleBufferAgain) {
  OpenDisplay();
  ASSERT_EQ(Run(".call begindoublebuffer 1\n.call displaybrush 2 3 3"), 0);
  // The window is rebuilt for a new style: the adapter's buffering ends
  // with the old window and begins again on the new one.
  ASSERT_EQ(Run(".table 0 { sizeable = 1 }\n.call base=1 setdisplayattributes r0"), 0);
  EXPECT_EQ(state_->closeCalls, 1);
  EXPECT_EQ(state_->openCalls, 2);
  EXPECT_EQ(state_->endBufferCalls, 1);
  EXPECT_EQ(state_->beginBufferCalls, 2);
  surface_ = static_cast<ProbeSurface*>(d_->adapterHandle);
  EXPECT_EQ(state_->lastHandle, d_->adapterHandle);
  EXPECT_EQ(surface_->buffering, 1);
  EXPECT_EQ(d_->doubleBuffer, 1u);
  EXPECT_EQ(d_->hardwareDoubleBuffer, 1u);
  EXPECT_EQ(d_->displayState, static_cast<uint32_t>(VL_DISPSTATE_OPEN));
  // Still buffered: drawing shows at the next Flip only.
  ASSERT_EQ(Run(".call displaybrush 3 20 20"), 0);
  EXPECT_NE(Front(21, 21), 0x00FF00u);
  ASSERT_EQ(Run(".call flip 0"), 0);
  EXPECT_EQ(Front(21, 21), 0x00FF00u);

  // The adapter refusing to begin again: its error, the window open and
  // double buffering off.
  state_->beginBufferResult = ERR_BITMAP;
  EXPECT_EQ(Run(".table 0 { sizeable = 0 }\n.call base=1 setdisplayattributes r0"), ERR_BITMAP);
  EXPECT_EQ(state_->endBufferCalls, 2);
  EXPECT_EQ(state_->beginBufferCalls, 3);
  EXPECT_EQ(d_->displayState, static_cast<uint32_t>(VL_DISPSTATE_OPEN));
  EXPECT_EQ(d_->doubleBuffer, 0u);
  EXPECT_EQ(d_->hardwareDoubleBuffer, 0u);
  EXPECT_EQ(Run(".call flip"), ERR_NODOUBLEBUFFER);
  surface_ = static_cast<ProbeSurface*>(d_->adapterHandle);
  ASSERT_EQ(Run(".call displaybrush 2 30 30"), 0);
  EXPECT_EQ(Front(31, 31), 0xFF0000u);  // drawn at once
  ASSERT_EQ(Run(".call closedisplay 1"), 0);
}

// A hardware back buffer is the old window's adapter picture: the rebuilt
// window's adapter takes it over with its pixels, or, making none, the
// player keeps it.
TEST_F(AdapterPluginTest, RebuiltWindowTakesTheHardwareBackBufferAlong) {
  OpenDisplay();
  info_->displayCaps = VL_DISPCAPS_DRAWCLOSED;
  ASSERT_EQ(Run(".call begindoublebuffer 1\n.call displaybrush 2 3 3"), 0);
  ASSERT_TRUE(IsVideoBitmap(d_->dbBack));
  const int frees = state_->freeCalls;
  ASSERT_EQ(Run(".table 0 { sizeable = 1 }\n.call base=1 setdisplayattributes r0"), 0);
  EXPECT_EQ(state_->freeCalls, frees + 1);
  EXPECT_EQ(state_->allocDisplay, reinterpret_cast<uintptr_t>(d_->adapterHandle));
  ASSERT_TRUE(IsVideoBitmap(d_->dbBack));
  EXPECT_EQ(d_->outputHardware, 1u);
  EXPECT_EQ(ReadBitmapPixel(d_->dbBack, 4, 4, 0) & 0xFFFFFF, 0xFF0000u);
  surface_ = static_cast<ProbeSurface*>(d_->adapterHandle);
  ASSERT_EQ(Run(".call displaybrush 3 20 20\n.call flip 0"), 0);
  EXPECT_EQ(Front(21, 21), 0x00FF00u);
  state_->allocFails = 1;
  ASSERT_EQ(Run(".table 0 { sizeable = 0 }\n.call base=1 setdisplayattributes r0"), 0);
  state_->allocFails = 0;
  ASSERT_FALSE(IsVideoBitmap(d_->dbBack));
  EXPECT_EQ(d_->hardwareBackBuffer, 0u);
  EXPECT_EQ(d_->outputHardware, 0u);
  EXPECT_EQ(ReadBitmapPixel(d_->dbBack, 21, 21, 0) & 0xFFFFFF, 0x00FF00u);
  surface_ = static_cast<ProbeSurface*>(d_->adapterHandle);
  ASSERT_EQ(Run(".call displaybrush 2 40 30\n.call flip 0"), 0);
  EXPECT_EQ(Front(41, 31), 0xFF0000u);
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
}

// The screen's pixels are 16-bit while the adapter holds its pictures as
// ARGB: blits from and into hardware brushes convert.
TEST_F(AdapterPluginTest, HardwareBrushesBlitOnAnotherPixelFormat) {
  const int32_t screenFormat = GetGlobalPixelFormat();
  SetGlobalPixelFormat(VL_PIXFMT_RGB16);
  OpenDisplay();
  info_->displayCaps2 = 16 | 2;
  info_->displayCaps |= VL_DISPCAPS_DRAWCLOSED;
  ASSERT_EQ(Run(".table 0 { hardware = 1 }\n.call base=1 createbrush 5 4 4 16711680 r0\n"
                ".call displaybrush 5 10 10\n.call displaybrush 2 20 10"),
            0);
  ASSERT_EQ(BrushNumber(L, 5)->bitmap->driverOwned, 1);
  const uint32_t red = Front(21, 11);  // the ordinary brush, through 16 bits
  EXPECT_EQ(red & 0xF8FCF8, 0xF80000u);
  EXPECT_EQ(Front(11, 11), red);
  EXPECT_EQ(Front(13, 13), red);
  EXPECT_EQ(Front(14, 14), Front(30, 30));  // the background around it
  // Into the hardware brush from an ordinary 16-bit one.
  BltBitmap(BrushNumber(L, 3)->bitmap, 0, 0, BrushNumber(L, 5)->bitmap, 1, 1, 3, 3);
  ASSERT_EQ(Run(".call displaybrush 5 40 10"), 0);
  EXPECT_EQ(Front(40, 10), red);
  const uint32_t green = Front(41, 11);
  EXPECT_EQ(green & 0xF8FCF8, 0x00FC00u);
  EXPECT_EQ(Front(43, 13), green);
  const auto* video = static_cast<ProbeVideoBitmap*>(BrushNumber(L, 5)->bitmap->handle);
  EXPECT_EQ(video->pixels[1 * 4 + 1] & 0xF8FCF8, 0x00FC00u);
  EXPECT_EQ(video->pixels[0] & 0xF8FCF8, 0xF80000u);
  SetGlobalPixelFormat(screenFormat);
}


// A video played on an adapter's display: its area is an on-screen sprite
// node of the BGPic, owned by the video and handed to the player, its
// frames reach the adapter's surface, the node follows the video's new
// position and size, and stopping removes the node.
class AdapterVideoTest : public AdapterPluginTest {
 protected:
  void SetUp() override {
    AdapterPluginTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenSpriteLib(L), 0);
    ASSERT_EQ(OpenVideoLib(L), 0);
  }
  void TearDown() override {
    if (started_) {
      FreeVideoLib(L);
      FreeSpriteLibrary(L);
    }
    AdapterPluginTest::TearDown();
  }
  pictest::TempDir dir_;
};

TEST_F(AdapterVideoTest, VideoAreaIsAnOnScreenSpriteOfTheBGPic) {
  OpenDisplay();
  const std::string file = dir_.File("v.avi");
  int status = 0;
  pictest::RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=16x8:rate=20 -t 0.3 -c:v rawvideo -pix_fmt bgr24 " +
                       pictest::Quote(file),
                   &status);
  ASSERT_EQ(status, 0);
  const auto frames = pictest::RunTool("ffmpeg -v error -i " + pictest::Quote(file) + " -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(frames.size(), size_t{6 * 16 * 8 * 3});
  ASSERT_EQ(Run(".call createsprite 1 3 2\n.call displaysprite 1 0 0\n"
                ".call openvideo 1 \"" + file + "\"\n.call playvideo 1 10 20"),
            0);
  vlVideo* v = nullptr;
  ASSERT_EQ(GetVideoByID(L, {1, nullptr}, 0, &v), 0);
  auto* first = static_cast<vlSpriteNode*>(d_->bgpic->sprites);
  ASSERT_NE(first, nullptr);
  vlSpriteNode* node = first->next;
  ASSERT_NE(node, nullptr);
  EXPECT_NE(first->sprite, nullptr);  // sprites stay before the video's node
  EXPECT_EQ(node->owner, v);
  EXPECT_EQ(node->sprite, nullptr);
  EXPECT_EQ(node->x, 10);
  EXPECT_EQ(node->y, 20);
  EXPECT_EQ(node->width, 16);
  EXPECT_EQ(node->height, 8);
  EXPECT_EQ(v->spriteNode, node);
  EXPECT_EQ(v->player->player->spriteNode, node);
  EXPECT_EQ(CountSpriteNodes(d_->bgpic), 1);  // the video's node is no sprite
  for (int i = 0; i < 1000 && v->state.load() != VL_VIDEO_ENDED; ++i) {
    FlushPendingDisplayFrames(L);
    usleep(10000);
  }
  FlushPendingDisplayFrames(L);
  ASSERT_EQ(v->state.load(), VL_VIDEO_ENDED);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{15, 7}, std::pair{9, 3}}) {
    const uint8_t* p = &frames[(size_t{5} * 16 * 8 + size_t(y) * 16 + x) * 3];
    EXPECT_EQ(Front(10 + x, 20 + y), uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]) << x << "," << y;
  }
  // A new position and size move the adapter's sprite of the video too.
  ASSERT_EQ(Run(".call setvideoposition 1 30 5\n.call setvideosize 1 32 16"), 0);
  EXPECT_EQ(v->spriteNode, node);
  EXPECT_EQ(node->x, 30);
  EXPECT_EQ(node->y, 5);
  EXPECT_EQ(node->width, 32);
  EXPECT_EQ(node->height, 16);
  // RemoveSprites keeps the video's node; stopping removes it.
  ASSERT_EQ(Run(".call removesprites"), 0);
  EXPECT_EQ(d_->bgpic->sprites, node);
  ASSERT_EQ(Run(".call stopvideo 1"), 0);
  EXPECT_EQ(d_->bgpic->sprites, nullptr);
  EXPECT_EQ(v->spriteNode, nullptr);
  EXPECT_EQ(v->player->player->spriteNode, nullptr);
  ASSERT_EQ(Run(".call closevideo 1"), 0);
}

}  // namespace
