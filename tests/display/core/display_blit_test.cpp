// SafeBlt onto an open display and into bitmaps, read back from the X
// window: clipping, clip regions with and without their mask, source
// masks, the drawing target's planes; the display wrappers with and
// without a display adapter.
#include "tests/display/core/display_fixture.h"

#include <cstring>

#include "display/clients.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/display_blit.h"
#include "graphics/geometry.h"
#include "abi/plugin_abi.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

class Blit : public DisplayTest {
 protected:
  vlDisplay* OpenGrey() {
    EXPECT_EQ(Run(".table 0 { width = 100, height = 80, color = 8421504 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    return GetDisplayByNumber(1);
  }
  static vlBitmap* Solid(int w, int h, uint32_t color) {
    vlBitmap* b = NewBitmap(w, h, 0, nullptr);
    FillBitmapRect(b, 0, 0, w, h, 0xFF000000u | color);
    return b;
  }
};

TEST_F(Blit, IntoTheBackBufferAndOntoTheWindow) {
  vlDisplay* d = OpenGrey();
  ASSERT_NE(d, nullptr);
  vlBitmap* red = Solid(20, 10, 0xFF0000);
  SafeBlt(L, red, 0, 0, nullptr, 30, 40, 20, 10, 20, 10, 100, 80, VL_SAFEBLT_BACKANDSHOW, nullptr, nullptr, nullptr);
  EXPECT_EQ(WindowPixel(d, 30, 40), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 49, 49), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 50, 40), 0x808080u);
  EXPECT_EQ(ReadBitmapPixel(d->back, 35, 45, 0) & 0xFFFFFF, 0xFF0000u);
  // Clipped at the display's edge.
  SafeBlt(L, red, 0, 0, nullptr, 90, 75, 20, 10, 20, 10, 100, 80, VL_SAFEBLT_BACKANDSHOW, nullptr, nullptr, nullptr);
  EXPECT_EQ(WindowPixel(d, 99, 79), 0xFF0000u);
  // A negative source position draws nothing.
  vlBitmap* blue = Solid(20, 10, 0x0000FF);
  SafeBlt(L, blue, -1, 0, nullptr, 0, 0, 10, 10, 20, 10, 100, 80, VL_SAFEBLT_BACKANDSHOW, nullptr, nullptr, nullptr);
  EXPECT_EQ(WindowPixel(d, 2, 2), 0x808080u);
  // Straight to the window without touching the back buffer.
  SafeBlt(L, blue, 0, 0, nullptr, 0, 0, 10, 10, 20, 10, 100, 80, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(WindowPixel(d, 2, 2), 0x0000FFu);
  EXPECT_EQ(ReadBitmapPixel(d->back, 2, 2, 0) & 0xFFFFFF, 0x808080u);
  DeleteBitmap(red);
  DeleteBitmap(blue);
}

TEST_F(Blit, ClipRegionsAndMasks) {
  vlDisplay* d = OpenGrey();
  ASSERT_NE(d, nullptr);
  vlBitmap* green = Solid(40, 40, 0x00FF00);
  vlClipRegion region{10, 10, 20, 20, nullptr};
  SafeBlt(L, green, 0, 0, nullptr, 0, 0, 40, 40, 40, 40, 100, 80, VL_SAFEBLT_BACKANDSHOW, nullptr, nullptr, &region);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 10, 10), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 29, 29), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 30, 30), 0x808080u);
  // With flag 1 the region is ignored.
  SafeBlt(L, green, 0, 0, nullptr, 50, 0, 40, 40, 40, 40, 100, 80, VL_SAFEBLT_BACKANDSHOW | VL_SAFEBLT_NOCLIP, nullptr,
          nullptr, &region);
  EXPECT_EQ(WindowPixel(d, 52, 2), 0x00FF00u);
  // A clip mask with only its left half set.
  vlBitmap* clipMask = NewMaskPlane(nullptr, 20, 20, 1, nullptr, 0);
  FillMaskRect(clipMask, 0, 0, 10, 20, 0);
  vlClipRegion masked{0, 50, 20, 20, clipMask};
  vlBitmap* white = Solid(20, 20, 0xFFFFFF);
  SafeBlt(L, white, 0, 0, nullptr, 0, 50, 20, 20, 20, 20, 100, 80, VL_SAFEBLT_BACKANDSHOW, nullptr, nullptr, &masked);
  EXPECT_EQ(WindowPixel(d, 5, 55), 0xFFFFFFu);
  EXPECT_EQ(WindowPixel(d, 15, 55), 0x808080u);
  // A source mask into a bitmap destination: clear bits leave the target.
  vlBitmap* target = Solid(20, 20, 0x000000);
  vlBitmap* mask = NewMaskPlane(nullptr, 20, 20, 1, nullptr, 0);
  FillMaskRect(mask, 0, 0, 20, 5, 0);
  SafeBlt(L, white, 0, 0, target, 0, 0, 20, 20, 20, 20, 20, 20, VL_SAFEBLT_NOSPRITES, mask, nullptr, nullptr);
  EXPECT_EQ(ReadBitmapPixel(target, 3, 2, 0) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(ReadBitmapPixel(target, 3, 12, 0) & 0xFFFFFF, 0x000000u);
  // The drawing target's mask follows what was drawn when a brush is selected.
  d->outputType = VL_OUTPUT_BRUSH;
  d->outputMask = NewMaskPlane(nullptr, 20, 20, 1, nullptr, 0);
  SafeBlt(L, white, 0, 0, target, 2, 3, 4, 4, 20, 20, 20, 20, VL_SAFEBLT_NOSPRITES, nullptr, nullptr, nullptr);
  EXPECT_EQ(ReadBitmapPixel(d->outputMask, 2, 3, 1), 1u);
  EXPECT_EQ(ReadBitmapPixel(d->outputMask, 6, 3, 1), 0u);
  DeleteMaskPlane(d->outputMask);
  d->outputMask = nullptr;
  d->outputType = VL_OUTPUT_DISPLAY;
  for (vlBitmap* b : {green, white, target}) DeleteBitmap(b);
  DeleteMaskPlane(clipMask);
  DeleteMaskPlane(mask);
}

// A made source (here: yellow over a red picture) is written straight into
// the destination where the blit only copies it; where its pixels must be
// read (the put refused, straight to the window, through a clip mask) they
// are made in the source picture first, over the clipped rectangle only.
struct Made {
  vlBitmap* source;
  bool accept = true;
  int puts = 0, makes = 0;
  int32_t madeW = 0, madeH = 0;
  static bool Put(void* c, vlBitmap* to, int32_t, int32_t, int32_t dx, int32_t dy, int32_t w, int32_t h) {
    auto* m = static_cast<Made*>(c);
    ++m->puts;
    if (m->accept) FillBitmapRect(to, dx, dy, w, h, 0xFFFFFF00u);
    return m->accept;
  }
  static void Make(void* c, int32_t sx, int32_t sy, int32_t w, int32_t h) {
    auto* m = static_cast<Made*>(c);
    ++m->makes;
    m->madeW = w, m->madeH = h;
    FillBitmapRect(m->source, sx, sy, w, h, 0xFFFFFF00u);
  }
};

TEST_F(Blit, MadeSourcesGoStraightInOrAreMadeFirst) {
  vlDisplay* d = OpenGrey();
  ASSERT_NE(d, nullptr);
  vlBitmap* red = Solid(20, 10, 0xFF0000);
  Made m{red};
  const vlMadeSource made{Made::Put, Made::Make, &m};
  SafeBlt(L, red, 0, 0, nullptr, 90, 40, 20, 10, 20, 10, 100, 80, VL_SAFEBLT_BACKANDSHOW, nullptr, nullptr, nullptr,
          &made);
  EXPECT_EQ(m.puts, 1);
  EXPECT_EQ(m.makes, 0);
  EXPECT_EQ(WindowPixel(d, 99, 49), 0xFFFF00u);
  EXPECT_EQ(ReadBitmapPixel(d->back, 90, 40, 0) & 0xFFFFFF, 0xFFFF00u);
  EXPECT_EQ(ReadBitmapPixel(red, 0, 0, 0) & 0xFFFFFF, 0xFF0000u);  // never made
  m.accept = false;
  SafeBlt(L, red, 0, 0, nullptr, 90, 0, 20, 10, 20, 10, 100, 80, VL_SAFEBLT_BACKANDSHOW, nullptr, nullptr, nullptr,
          &made);
  EXPECT_EQ(m.makes, 1);
  EXPECT_EQ(m.madeW, 10);  // clipped at the display's edge
  EXPECT_EQ(WindowPixel(d, 95, 5), 0xFFFF00u);
  FillBitmapRect(red, 0, 0, 20, 10, 0xFFFF0000u);
  SafeBlt(L, red, 0, 0, nullptr, 0, 0, 20, 10, 20, 10, 100, 80, 0, nullptr, nullptr, nullptr, &made);
  EXPECT_EQ(m.makes, 2);
  EXPECT_EQ(WindowPixel(d, 19, 9), 0xFFFF00u);
  EXPECT_EQ(ReadBitmapPixel(d->back, 19, 9, 0) & 0xFFFFFF, 0x808080u);
  // Through a clip mask with only its left half set.
  FillBitmapRect(red, 0, 0, 20, 10, 0xFFFF0000u);
  m.accept = true;
  vlBitmap* clipMask = NewMaskPlane(nullptr, 20, 10, 1, nullptr, 0);
  FillMaskRect(clipMask, 0, 0, 10, 10, 0);
  vlClipRegion masked{0, 60, 20, 10, clipMask};
  SafeBlt(L, red, 0, 0, nullptr, 0, 60, 20, 10, 20, 10, 100, 80, VL_SAFEBLT_BACKANDSHOW, nullptr, nullptr, &masked,
          &made);
  EXPECT_EQ(m.makes, 3);
  EXPECT_EQ(WindowPixel(d, 5, 65), 0xFFFF00u);
  EXPECT_EQ(WindowPixel(d, 15, 65), 0x808080u);
  DeleteMaskPlane(clipMask);
  DeleteBitmap(red);
}

TEST_F(Blit, NoDisplayNeedsTheSpareRecord) {
  vlBitmap* src = Solid(4, 4, 0x123456);
  vlBitmap* dst = Solid(4, 4, 0);
  ASSERT_EQ(CurrentDisplay(), nullptr);
  testing::internal::CaptureStdout();
  SafeBlt(L, src, 0, 0, dst, 0, 0, 4, 4, 4, 4, 4, 4, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // blits report nothing, not on standard output
  EXPECT_EQ(ReadBitmapPixel(dst, 1, 1, 0) & 0xFFFFFF, 0u);
  vlDisplay spare{};
  spare.outputType = VL_OUTPUT_DISPLAY;
  vlSpareDisplay = &spare;
  SafeBlt(L, src, 0, 0, dst, 0, 0, 4, 4, 4, 4, 4, 4, VL_SAFEBLT_OFFSCREEN, nullptr, nullptr, nullptr);
  EXPECT_EQ(ReadBitmapPixel(dst, 1, 1, 0) & 0xFFFFFF, 0x123456u);
  EXPECT_EQ(CurrentDisplay(), nullptr);
  vlSpareDisplay = nullptr;
  DeleteBitmap(src);
  DeleteBitmap(dst);
}

// A display adapter that only reports its modes and records blits.
int32_t gModes[] = {800, 600, 24, 640, 480, 16, 800, 480, 24, 0, 0, 0};
int32_t gFreed = -1;
int gBlits = 0;
int AdapterInfo(int kind, int, void* out, int) {
  *static_cast<int32_t**>(out) = kind == 1 ? gModes : nullptr;
  return 0;
}
void AdapterFree(int kind, void*) { gFreed = kind; }
int AdapterBlit(void*, void*, const void* params, uint32_t) {
  const auto* tags = static_cast<const vlTagItem*>(params);
  gBlits += tags[4].tag == 5 ? static_cast<int>(tags[4].value) : 0;
  return 0;
}

void Observe(void*, uint32_t code, const int32_t* args, void* user) {
  auto* log = static_cast<int32_t*>(user);
  log[0] = static_cast<int32_t>(code);
  log[1] = args[0];
  log[2] = args[2];
}

TEST_F(Blit, AdapterWrappersAndObservers) {
  vlDisplay* d = OpenGrey();
  ASSERT_NE(d, nullptr);
  int32_t log[3] = {-1, 0, 0};
  vlDisplayClient client{};
  client.callback = Observe;
  client.userData = log;
  d->clients = &client;
  vlBitmap* red = Solid(8, 8, 0xFF0000);
  BlitToDisplay(red, 0, 0, d, 3, 4, 8, 8, 0);
  EXPECT_EQ(log[0], 0);
  EXPECT_EQ(log[1], 3);
  EXPECT_EQ(log[2], 8);
  EXPECT_EQ(WindowPixel(d, 3, 4), 0xFF0000u);
  FillDisplayRect(d, 0, 0, 2, 2, 0x00FF00);
  EXPECT_EQ(log[0], 1);
  EXPECT_EQ(WindowPixel(d, 1, 1), 0x00FF00u);
  d->clients = nullptr;

  static vlPluginInfo adapter;
  std::memset(&adapter, 0, sizeof adapter);
  adapter.displayCaps = 4;  // monitor information
  adapter.GetMonitorInfo = AdapterInfo;
  adapter.FreeMonitorInfo = AdapterFree;
  adapter.BltBitMap = AdapterBlit;
  vlDisplayAdapter = &adapter;
  // The display is shown as one made once the adapter is in: its device
  // is chosen again.
  d->device = nullptr;
  vlModeEntry* modes = nullptr;
  int32_t count = 0;
  ASSERT_EQ(GetDisplayModeList(d, &modes, &count), 0);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(modes[0].width, 640);
  EXPECT_EQ(modes[1].width, 800);
  EXPECT_EQ(modes[1].height, 480);
  EXPECT_EQ(modes[2].height, 600);
  EXPECT_EQ(gFreed, 1);
  delete[] modes;
  // Blits go to the adapter, not to the window.
  BlitToDisplay(red, 0, 0, d, 50, 50, 8, 8, 0);
  EXPECT_EQ(gBlits, 8);
  EXPECT_EQ(WindowPixel(d, 52, 52), 0x808080u);
  vlDisplayAdapter = nullptr;
  d->device = nullptr;
  DeleteBitmap(red);
}

}  // namespace

#include "display/icons.h"
#include "player/service_table.h"
#include "player/startup.h"

namespace {

TEST_F(Blit, DisplayServicesThroughThePluginTable) {
  vlDisplay* d = OpenGrey();
  ASSERT_NE(d, nullptr);
  const vlServiceTable* t = GetServiceTable();
  auto add = vlSlotAs<void* (*)(int32_t, void*, vlObserverFn, void*, vlTagItem*, uint32_t)>(
      t->graphics->slot[8]);
  auto remove = vlSlotAs<void (*)(void*)>(t->graphics->slot[9]);
  auto attrs = vlSlotAs<int (*)(const void*, const vlTagItem*)>(t->graphics->slot[18]);
  auto handle = vlSlotAs<uintptr_t (*)(int32_t, const void*)>(t->graphics->slot[20]);
  auto icons = vlSlotAs<void* (*)()>(t->graphics->slot[14]);
  auto freeIcons = vlSlotAs<void (*)(void*)>(t->graphics->slot[15]);
  auto setAdapter = vlSlotAs<int (*)(vlPluginInfo*, uintptr_t, const vlTagItem*)>(t->graphics->slot[13]);

  int32_t w = 0;
  vlTagItem tags[] = {{1, reinterpret_cast<uintptr_t>(&w)}, {0, 0}};
  void* client = add(1, nullptr, nullptr, nullptr, tags, 0);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(d->clients, client);
  remove(client);
  EXPECT_EQ(d->clients, nullptr);

  uintptr_t window = handle(1, nullptr);
  EXPECT_EQ(window, static_cast<uintptr_t>(d->window->window));
  EXPECT_EQ(handle(0, reinterpret_cast<void*>(window)), 1u);
  int32_t height = 0;
  vlTagItem query[] = {{2, reinterpret_cast<uintptr_t>(&height)}, {0, 0}};
  EXPECT_EQ(attrs(reinterpret_cast<void*>(window), query), 1);
  EXPECT_EQ(height, 80);

  auto* list = static_cast<vlIconNode*>(icons());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->width, 16);
  freeIcons(list);

  // Adapters are installed only while the start-up plug-ins are opened.
  static vlPluginInfo info;
  info.capabilities = PLUGINCAPS_DISPLAYADAPTER;
  EXPECT_EQ(setAdapter(&info, 0, nullptr), ERR_SETADAPTER);
  vlPluginStartup = 1;
  EXPECT_EQ(setAdapter(&info, 0, nullptr), 0);
  EXPECT_EQ(vlDisplayAdapter, &info);
  vlPluginStartup = 0;
  vlDisplayAdapter = nullptr;
}

}  // namespace

#include "display/monitors.h"

namespace {

// Two monitors side by side, reported by an adapter.
int32_t gMonitors[] = {0, 0, 800, 600, 800, 0, 1024, 768, 0, 0, 0, 0};
int TwoMonitors(int kind, int, void* out, int) {
  *static_cast<int32_t**>(out) = kind == 0 ? gMonitors : nullptr;
  return 0;
}

TEST_F(Blit, MonitorsFromAnAdapterAndWindowsAcrossThem) {
  static vlPluginInfo adapter;
  std::memset(&adapter, 0, sizeof adapter);
  adapter.displayCaps = 4;
  adapter.GetMonitorInfo = TwoMonitors;
  vlDisplayAdapter = &adapter;
  vlDisplay d{};
  EXPECT_EQ(CountMonitors(&d), 2);
  d.monitorIndex = 1;
  int32_t x, y, w, h;
  ASSERT_EQ(GetDisplayMonitorRect(&d, &x, &y, &w, &h), 0);
  EXPECT_EQ(x, 800);
  EXPECT_EQ(w, 1024);
  d.monitorIndex = 2;
  EXPECT_EQ(GetDisplayMonitorRect(&d, &x, &y, &w, &h), ERR_GETMONITORINFO);
  EXPECT_EQ(w, 0);
  // A window that overlaps both belongs to the later one.
  d.x = 700;
  d.y = 10;
  d.width = 200;
  d.height = 100;
  EXPECT_EQ(MonitorOfWindow(&d), 1);
  d.x = 10;
  EXPECT_EQ(MonitorOfWindow(&d), 0);
  vlDisplayAdapter = nullptr;
}

TEST_F(Blit, ClientsRefuseTransparentBGPics) {
  ASSERT_EQ(Run(".call createbgpic 1 30 30\n.table 0 { bgpic = 1 }\n.call base=1 createdisplay 1 r0"), 0);
  vlDisplay* d = GetDisplayByNumber(1);
  d->bgpic->dispAlpha = NewAlphaPlane(30, 30, 1, nullptr, 0);
  EXPECT_EQ(AddDisplayClient({1, nullptr}, nullptr, nullptr, nullptr, 0), nullptr);
  DeleteAlphaPlane(d->bgpic->dispAlpha);
  d->bgpic->dispAlpha = d->bgpic->curAlpha;
  vlRecordingScreen = 1;
  EXPECT_EQ(AddDisplayClient({1, nullptr}, nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(Run(".call createdisplay 2"), ERR_VIDRECMULTI);
  EXPECT_EQ(Run(".call freedisplay 1"), ERR_WRONGCMDRECVIDEO);
  vlRecordingScreen = 0;
  // A selection nested in a hardware double buffer keeps it running.
  d->savedHardwareDoubleBuffer = 1;
  EXPECT_EQ(AddDisplayClient({1, nullptr}, nullptr, nullptr, nullptr, 0), nullptr);
  d->savedHardwareDoubleBuffer = 0;
  vlDisplayClient* c = AddDisplayClient({1, nullptr}, nullptr, nullptr, nullptr, 0);
  ASSERT_NE(c, nullptr);
  RemoveDisplayClient(c);
}

}  // namespace
