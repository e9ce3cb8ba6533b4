// Display windows on a private Xvfb server, driven by assembled scripts:
// the BGPic's pixels read back from the window, size, position and title
// changes, window rebuilds, minimising, full screen and fake full screen
// with their backdrops, the desktop display, menu items, saved placement,
// window icons and display clients.
#include "tests/display/core/display_fixture.h"

#include <X11/Xatom.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "display/clients.h"
#include "display/icons.h"
#include "graphics/bitmap.h"
#include "graphics/display_blit.h"
#include "player/container.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "runtime/prefs.h"
#include "player/preloads.h"
#include "platform/requesters.h"
#include "abi/plugin_abi.h"
#include "runtime/preproc.h"
#include "runtime/runtime_options.h"
#include "runtime/startup_records.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

class DisplayWindow : public DisplayTest {
 protected:
  vlDisplay* Open(int number) {
    EXPECT_EQ(Run(".call opendisplay " + std::to_string(number)), 0);
    return GetDisplayByNumber(number);
  }
  // The window's position on the root window.
  void RootPosition(vlDisplay* d, int* x, int* y) {
    XSync(d->window->display, False);
    Window child;
    XTranslateCoordinates(probe_, d->window->window, DefaultRootWindow(probe_), 0, 0, x, y, &child);
  }
  std::string WindowName(vlDisplay* d) {
    XSync(d->window->display, False);
    char* name = nullptr;
    std::string out;
    if (XFetchName(probe_, d->window->window, &name) && name) out = name;
    if (name) XFree(name);
    return out;
  }
  static uint32_t Channel(uint32_t c, int shift) { return (c >> shift) & 0xFF; }
};

TEST_F(DisplayWindow, OpenedWindowShowsTheBGPicPixelForPixel) {
  ASSERT_EQ(Run(".call creategradientbgpic 4 2 16711680 255 200 100 90\n"
                ".table 0 { bgpic = 4, x = 10, y = 20, title = \"Pixels\" }\n.call base=1 createdisplay 1 r0"),
            0);
  vlDisplay* d = Open(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->displayState, VL_DISPSTATE_OPEN);
  EXPECT_EQ(CurrentDisplay(), d);
  EXPECT_EQ(vlCurrentOutput, d->bgpic);
  XWindowAttributes a = WindowAttributes(d);
  EXPECT_EQ(a.width, 200);
  EXPECT_EQ(a.height, 100);
  int x, y;
  RootPosition(d, &x, &y);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
  EXPECT_EQ(WindowName(d), "Pixels");
  for (int px = 0; px < 200; px += 13)
    for (int py = 0; py < 100; py += 17)
      ASSERT_EQ(WindowPixel(d, px, py), ReadBitmapPixel(d->bgpic->dispBitmap, px, py, 0) & 0xFFFFFF)
          << px << "," << py;
  // From red at the left to blue at the right.
  uint32_t left = WindowPixel(d, 0, 50), right = WindowPixel(d, 199, 50);
  EXPECT_GT(Channel(left, 16), 0xF0u);
  EXPECT_LT(Channel(left, 0), 0x10u);
  EXPECT_GT(Channel(right, 0), 0xF0u);
  EXPECT_LT(Channel(right, 16), 0x10u);
  EXPECT_EQ(Run(".call opendisplay 1"), ERR_WRONGUSAGE);
}

TEST_F(DisplayWindow, AnotherBGPicResizesAndCentresTheWindow) {
  ASSERT_EQ(Run(".table 0 { width = 320, height = 200, color = 255 }\n.call base=1 createdisplay 1 r0"), 0);
  vlDisplay* d = Open(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0x0000FFu);
  vlBGPic* own = d->bgpic;
  d->cursorX = 9;
  ASSERT_EQ(Run(".call createbgpic 2 160 120 65280\n.call displaybgpic 2"), 0);
  EXPECT_NE(d->bgpic, own);
  EXPECT_EQ(d->width, 160);
  XWindowAttributes a = WindowAttributes(d);
  EXPECT_EQ(a.width, 160);
  EXPECT_EQ(a.height, 120);
  int x, y;
  RootPosition(d, &x, &y);
  EXPECT_EQ(x, (800 - 160) / 2);
  EXPECT_EQ(y, (600 - 120) / 2);
  EXPECT_EQ(WindowPixel(d, 100, 100), 0x00FF00u);
  EXPECT_EQ(d->cursorX, 0);
  EXPECT_EQ(d->marginRight, 159);
  // The display's own BGPic went with the change; only BGPic 2 is left.
  int count = 0;
  for (vlBGPic* p = vlBGPicList; p; p = p->next) ++count;
  EXPECT_EQ(count, 1);
  // Keeping the position: a BGPic of the same size with KEEPPOSITION.
  ASSERT_EQ(Run(".call createbgpic 3 160 120 16711680\n.table 0 { x = 100000, y = 30 }\n"
                ".call base=1 displaybgpic 3 r0"),
            0);
  RootPosition(d, &x, &y);
  EXPECT_EQ(x, (800 - 160) / 2);
  EXPECT_EQ(y, 30);
  EXPECT_EQ(WindowPixel(d, 3, 3), 0xFF0000u);
  // Shown for a transition, the old screen comes stretched to the new size.
  ASSERT_EQ(Run(".call createbgpic 4 320 240 255"), 0);
  vlBitmap *fresh = nullptr, *before = nullptr;
  ASSERT_EQ(ShowBGPicOnDisplay(L, {4, nullptr}, 100000, 100000, 1, &fresh, &before), 0);
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(QueryBitmap(before, 0), 320);
  EXPECT_EQ(QueryBitmap(before, 14), 240);
  EXPECT_EQ(ReadBitmapPixel(before, 319, 239, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(ReadBitmapPixel(fresh, 319, 239, 0) & 0xFFFFFF, 0x0000FFu);
  DeleteBitmap(fresh);
  DeleteBitmap(before);
  // A BGPic shown by another display is refused.
  ASSERT_EQ(Run(".table 0 { bgpic = 2 }\n.call base=1 createdisplay 2 r0"), 0);
  EXPECT_EQ(Run(".call displaybgpic 2"), ERR_MULTIBGPIC);
}

TEST_F(DisplayWindow, TitlesAndAttributeChanges) {
  ASSERT_EQ(Run(".table 0 { width = 120, height = 90 }\n.call base=1 createdisplay 1 r0"), 0);
  vlDisplay* d = Open(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(WindowName(d), "Vellamora");
  ASSERT_EQ(Run(".call settitle \"Renamed\""), 0);
  EXPECT_EQ(WindowName(d), "Renamed");
  EXPECT_EQ(Run(".call settitle \"" + std::string(256, 'x') + "\""), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call settitle \"" + std::string(255, 'y') + "\""), 0);
  // A title change keeps the window.
  Window before = d->window->window;
  ASSERT_EQ(Run(".table 0 { title = \"Kept\" }\n.call base=1 setdisplayattributes r0"), 0);
  EXPECT_EQ(d->window->window, before);
  EXPECT_EQ(WindowName(d), "Kept");
  // "sizeable" needs a new window.
  ASSERT_EQ(Run(".table 0 { sizeable = 1 }\n.call base=1 setdisplayattributes r0"), 0);
  EXPECT_NE(d->window->window, before);
  EXPECT_TRUE(d->styleFlags & VL_DISPSTYLE_SIZEABLE);
  EXPECT_EQ(d->displayState, VL_DISPSTATE_OPEN);
  EXPECT_EQ(WindowName(d), "Kept");
  // A new fill colour re-fills the display's own BGPic and reaches the window.
  ASSERT_EQ(Run(".table 0 { color = 16776960 }\n.call base=1 setdisplayattributes r0"), 0);
  EXPECT_EQ(WindowPixel(d, 60, 45), 0xFFFF00u);
  // A new size re-makes the own BGPic and the window.
  ASSERT_EQ(Run(".table 0 { width = 150, height = 70 }\n.call base=1 setdisplayattributes r0"), 0);
  EXPECT_EQ(d->bgpic->width, 150);
  XWindowAttributes a = WindowAttributes(d);
  EXPECT_EQ(a.width, 150);
  EXPECT_EQ(a.height, 70);
  EXPECT_EQ(WindowPixel(d, 149, 69), 0xFFFF00u);
  // A failing table leaves the display as it was.
  EXPECT_EQ(Run(".table 0 { title = \"Lost\", width = 0 }\n.call base=1 setdisplayattributes r0"), ERR_WRONGUSAGE);
  EXPECT_STREQ(d->title, "Kept");
  EXPECT_EQ(d->width, 150);
}

TEST_F(DisplayWindow, ChangeDisplaySizeMovesAndKeepsPosition) {
  ASSERT_EQ(Run(".table 0 { width = 200, height = 100, x = 50, y = 60, color = 8421504 }\n"
                ".call base=1 createdisplay 1 r0"),
            0);
  vlDisplay* d = Open(1);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".table 0 { x = 100000, y = 80 }\n.call base=1 changedisplaysize 300 150 r0"), 0);
  XWindowAttributes a = WindowAttributes(d);
  EXPECT_EQ(a.width, 300);
  EXPECT_EQ(a.height, 150);
  int x, y;
  RootPosition(d, &x, &y);
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, 80);
  EXPECT_EQ(WindowPixel(d, 299, 149), 0x808080u);
  // A percentage of the BGPic size, the other side following the aspect.
  ASSERT_EQ(Run(".call changedisplaysize \"50%\" -1"), 0);
  EXPECT_EQ(d->width, 150);
  EXPECT_EQ(d->height, 75);
  EXPECT_EQ(Run(".call changedisplaysize -1 -1"), ERR_WRONGUSAGE);
  // A size no X window can have is refused, the window left as it was; a
  // new display that large does not open.
  EXPECT_EQ(Run(".call changedisplaysize 70000 50"), ERR_DISPLAYSIZE);
  EXPECT_EQ(d->width, 150);
  EXPECT_EQ(WindowAttributes(d).width, 150);
  ASSERT_EQ(Run(".table 0 { width = 40000, height = 20 }\n.call base=1 createdisplay 2 r0"), 0);
  EXPECT_EQ(Run(".call opendisplay 2"), ERR_DISPLAYSIZE);
  // Moving with position constants: centred on the monitor.
  ASSERT_EQ(Run(".call movedisplay -100000 -100000"), 0);
  RootPosition(d, &x, &y);
  EXPECT_EQ(x, (800 - 150) / 2);
  EXPECT_EQ(y, (600 - 75) / 2);
}

TEST_F(DisplayWindow, MinimiseAndRestore) {
  ASSERT_EQ(Run(".table 0 { width = 100, height = 80 }\n.call base=1 createdisplay 1 r0"), 0);
  vlDisplay* d = Open(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Run(".call showdisplay"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call hidedisplay"), 0);
  EXPECT_EQ(d->displayState, VL_DISPSTATE_HIDDEN);
  EXPECT_EQ(Run(".call hidedisplay"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call showdisplay"), 0);
  EXPECT_EQ(d->displayState, VL_DISPSTATE_OPEN);
  ASSERT_EQ(Run(".call closedisplay 1"), 0);
  EXPECT_EQ(d->displayState, VL_DISPSTATE_CLOSED);
  EXPECT_EQ(d->window->window, 0u);
  EXPECT_EQ(Run(".call closedisplay 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call activatedisplay 1"), ERR_CLOSEDDISPLAY);
  // A refused opening table leaves the display as it was.
  EXPECT_EQ(Run(".table 0 { xserver = \":77\", x = 5, mode = \"sideways\" }\n.call base=1 opendisplay 1 r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(d->xServer[0], 0);
  EXPECT_EQ(d->xDisplayName, nullptr);
  EXPECT_NE(d->x, 5);
  EXPECT_EQ(Run(".call changedisplaymode 2 800 600"), ERR_CLOSEDDISPLAY);
}

// The backdrop is made through the global CreateDisplay, which a script
// may have replaced: what its function returns is no display to trust.
TEST_F(DisplayWindow, AReplacedCreateDisplayMakesNoBackdrop) {
  ASSERT_EQ(Run(".table 0 { width = 320, height = 240 }\n.call base=1 createdisplay 1 r0"), 0);
  ASSERT_NE(Open(1), nullptr);
  EXPECT_EQ(Run(".function fake\n.params 2\nloadk 2 #12345\nreturn 2 2\n.end\n.defun createdisplay fake\n"
                ".call changedisplaymode 2 800 600"),
            ERR_WRONGUSAGE);
}

TEST_F(DisplayWindow, FullScreenAndBackRestoresTheWindow) {
  ASSERT_EQ(Run(".table 0 { width = 320, height = 240, x = 40, y = 30, sizeable = 1, color = 16711935 }\n"
                ".call base=1 createdisplay 1 r0"),
            0);
  vlDisplay* d = Open(1);
  ASSERT_NE(d, nullptr);
  const uint32_t flags = d->styleFlags;
  EXPECT_EQ(Run(".call changedisplaymode 3 800 600"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call changedisplaymode 2 100 100"), ERR_WRONGUSAGE);
  // A refused change leaves the backfill and the screen size as they were.
  const int32_t backfillType = d->screen.backfill.type;
  d->screen.backfill.type = 2;
  EXPECT_EQ(Run(".table 0 { backfill = { type = \"plaid\" } }\n.call base=1 changedisplaymode 2 800 600 r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { backfill = { type = \"texture\" } }\n.call base=1 changedisplaymode 2 100 100 r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(d->screen.backfill.type, 2);
  EXPECT_EQ(d->screen.screenWidth, 0);
  d->screen.backfill.type = backfillType;
  ASSERT_EQ(Run(".call changedisplaymode 2 800 600"), 0);
  EXPECT_EQ(d->fullScreen, 1);
  EXPECT_TRUE(d->styleFlags & VL_DISPSTYLE_BORDERLESS);
  EXPECT_TRUE(d->styleFlags & VL_DISPSTYLE_FIXED);
  EXPECT_FALSE(d->styleFlags & VL_DISPSTYLE_SIZEABLE);
  int x, y;
  RootPosition(d, &x, &y);
  EXPECT_EQ(x, (800 - 320) / 2);
  EXPECT_EQ(y, (600 - 240) / 2);
  EXPECT_EQ(WindowPixel(d, 10, 10), 0xFF00FFu);
  // The backdrop covers the monitor in black behind the display.
  vlDisplay* backdrop = nullptr;
  ASSERT_EQ(GetDisplayByID(d->backdropId, &backdrop), 0);
  EXPECT_EQ(backdrop->isBackdrop, 1u);
  EXPECT_EQ(backdrop->ownerDisplay, d);
  XWindowAttributes a = WindowAttributes(backdrop);
  EXPECT_EQ(a.width, 800);
  EXPECT_EQ(a.height, 600);
  EXPECT_EQ(WindowPixel(backdrop, 5, 5), 0x000000u);
  // A second full-screen display on the same monitor is refused.
  ASSERT_EQ(Run(".table 0 { width = 100, height = 100, mode = \"fullscreen\" }\n.call base=1 createdisplay 2 r0"),
            0);
  EXPECT_EQ(Run(".call opendisplay 2"), ERR_MONITORFULLSCREEN);
  EXPECT_EQ(GetErrorArgIndex(), 1);
  // Back to windowed: position and flags as they were, no backdrop.
  ASSERT_EQ(Run(".call changedisplaymode 1"), 0);
  EXPECT_EQ(d->fullScreen, 0);
  EXPECT_EQ(d->styleFlags, flags);
  RootPosition(d, &x, &y);
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, 30);
  EXPECT_EQ(d->backdropId.handle, nullptr);
  for (vlDisplay* e = vlDisplayList; e; e = e->next) EXPECT_EQ(e->isBackdrop, 0u);
  // Windowed again is no change.
  Window w = d->window->window;
  ASSERT_EQ(Run(".call changedisplaymode 1"), 0);
  EXPECT_EQ(d->window->window, w);
}

TEST_F(DisplayWindow, FakeFullScreenIsABorderlessFixedWindowOverABackdrop) {
  ASSERT_EQ(Run(".table 0 { width = 200, height = 100, mode = \"fakefullscreen\" }\n.call base=1 createdisplay 1 r0"),
            0);
  vlDisplay* d = Open(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->styleFlags & 0x20005u, 0x20005u);
  EXPECT_EQ(d->fullScreen, 0);
  EXPECT_EQ(d->screen.mode, VL_DISPMODE_WINDOWED);
  int x, y;
  RootPosition(d, &x, &y);
  EXPECT_EQ(x, 300);
  EXPECT_EQ(y, 250);
  vlDisplay* backdrop = nullptr;
  ASSERT_EQ(GetDisplayByID(d->backdropId, &backdrop), 0);
  XWindowAttributes a = WindowAttributes(backdrop);
  EXPECT_EQ(a.width, 800);
  EXPECT_EQ(a.height, 600);
}

TEST_F(DisplayWindow, DesktopDisplayIsAFixedWindowOfTheMonitor) {
  EXPECT_EQ(Run(".table 0 { desktop = 1, scalemode = 1, scalewidth = 400, scaleheight = 300 }\n"
                ".call base=1 createdisplay 2 r0\n.call opendisplay 2"),
            ERR_DDAUTOSCALE);
  ASSERT_EQ(Run(".table 0 { desktop = 1, sizeable = 1, mode = \"fullscreen\" }\n.call base=1 createdisplay 1 r0"), 0);
  vlDisplay* d = Open(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->styleFlags, 0x42du);
  EXPECT_EQ(d->screen.mode, VL_DISPMODE_WINDOWED);
  EXPECT_EQ(d->width, 800);
  EXPECT_EQ(d->height, 600);
  EXPECT_EQ(d->fullScreen, 0);
}

TEST_F(DisplayWindow, MenuItemStatesOnAnOpenDisplay) {
  ASSERT_EQ(Run(".table 0 { { \"View\", { { \"Grid\", id = \"grid\", flags = 1 }, { \"Zoom\", id = \"zoom\" } } } }\n"
                ".call base=1 createmenu 1 r0\n.table 0 { menu = 1 }\n.call base=1 createdisplay 1 r0\n"
                ".call opendisplay 1"),
            0);
  ASSERT_EQ(Run(".call ismenuitemselected 1 \"GRID\" -> s0\n.call selectmenuitem 1 \"grid\"\n"
                ".call ismenuitemselected 1 \"grid\" -> s1\n.call deselectmenuitem 1 \"grid\"\n"
                ".call ismenuitemselected 1 \"grid\" -> s2\n.call disablemenuitem 1 \"zoom\"\n"
                ".call ismenuitemdisabled 1 \"zoom\" -> d1\n.call enablemenuitem 1 \"zoom\"\n"
                ".call ismenuitemdisabled 1 \"zoom\" -> d2"),
            0);
  EXPECT_EQ(Num("s0"), 0);
  EXPECT_EQ(Num("s1"), 1);
  EXPECT_EQ(Num("s2"), 0);
  EXPECT_EQ(Num("d1"), 1);
  EXPECT_EQ(Num("d2"), 0);
  EXPECT_EQ(Run(".call selectmenuitem 1 \"zoom\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call ismenuitemselected 1 \"zoom\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call selectmenuitem 1 \"nothing\""), ERR_FINDMENUITEM);
  EXPECT_STREQ(GetErrorArgument(), "nothing");
}

TEST_F(DisplayWindow, PlacementIsSavedOnCloseAndReadBackByTheDeclaration) {
  std::string home = std::string(testing::TempDir()) + "vl_display_home_" + std::to_string(getpid());
  std::filesystem::create_directories(home);
  setenv("HOME", home.c_str(), 1);
  vlAppletInfo applet{};
  std::strcpy(applet.identifier, "org.vellamora.displaytest");
  vl::SetRegistryPointer(L, "applet", &applet);
  ASSERT_EQ(Run(".table 0 { rememberposition = 1, x = 70, y = 90, width = 120, height = 80 }\n"
                ".call base=1 createdisplay 3 r0\n.call opendisplay 3\n.call closedisplay 3"),
            0);
  vl::PushNewTable(L);
  ASSERT_EQ(LoadPrefsTable(L, -1, applet.identifier), 0);
  vl::PushString(L, "__placement");
  vl::GetTableValue(L, -2);
  ASSERT_EQ(vl::GetTypeAt(L, -1), VL_TTABLE);
  vl::RawGetTableIndex(L, -1, 3);
  ASSERT_EQ(vl::GetTypeAt(L, -1), VL_TTABLE);
  auto field = [&](const char* key) {
    vl::PushString(L, key);
    vl::GetTableValue(L, -2);
    double v = vl::ToNumberAt(L, -1);
    vl::SetStackTop(L, -2);
    return v;
  };
  EXPECT_EQ(field("active"), 1);
  EXPECT_EQ(field("x"), 70);
  EXPECT_EQ(field("y"), 90);
  EXPECT_EQ(field("width"), 120);
  EXPECT_EQ(field("height"), 80);
  EXPECT_EQ(field("sizeable"), 0);
  vl::SetStackTop(L, 0);

  // A declaration of display 3 with "rememberposition" takes the stored
  // position and restore size instead of its own.
  vlStartupRecord startup{};
  vlAppletInfo declared{};
  std::strcpy(declared.identifier, applet.identifier);
  vl::SetRegistryPointer(L, "applet", &declared);
  auto* decl = static_cast<vlDisplayDecl*>(std::malloc(sizeof(vlDisplayDecl)));
  InitDisplayRecord(decl);
  decl->flags |= VL_DF_REMEMBERPOSITION;
  decl->x = 5;
  decl->y = 6;
  auto* record = static_cast<vlPreprocRecord*>(std::calloc(1, sizeof(vlPreprocRecord)));
  record->subtype = VL_PP_DISPLAY;
  record->id = 4;
  record->data = decl;
  // The stored entry is for display 3; copy it to 4 through a second close.
  ASSERT_EQ(Run(".table 0 { rememberposition = 1, x = 33, y = 44, width = 90, height = 60 }\n"
                ".call base=1 createdisplay 4 r0\n.call opendisplay 4 1\n.call closedisplay 4\n.call freedisplay 4"),
            0);
  AppendPreprocRecord(&declared.preproc, record);
  ASSERT_EQ(RunDeclaredDisplays(L, &startup, &declared), 0);
  vlDisplay* d = GetDisplayByNumber(4);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->x, 33);
  EXPECT_EQ(d->y, 44);
  EXPECT_EQ(d->restoreWidth, 90);
  EXPECT_EQ(d->restoreHeight, 60);
  FreePreprocRecords(&declared.preproc);
  vl::SetRegistryPointer(L, "applet", nullptr);
  std::filesystem::remove_all(home);
}

// Icons: pictures named "iconN" are N x N squares of one colour.
int SquareLoader(vlVMState*, const char* file, uint32_t** argb, int32_t* w, int32_t* h, int32_t* row, int* alpha) {
  int n = std::atoi(file + 4);
  if (std::strncmp(file, "icon", 4) != 0 || n < 1) return ERR_LOADPICTURE2;
  *argb = new (std::nothrow) uint32_t[static_cast<size_t>(n) * n];
  for (int i = 0; i < n * n; ++i) (*argb)[i] = 0x00123456;
  *w = *h = *row = n;
  *alpha = 0;
  return 0;
}

TEST_F(DisplayWindow, WindowIconsFromTheSlots) {
  gDisplayPictureLoader = SquareLoader;
  vlIconSlotNames[3] = strdup("icon32");  // the 48 x 48 slot
  EXPECT_EQ(LoadDisplayIcons(L, 0), ERR_ICONDIMS);
  EXPECT_STREQ(GetErrorArgument(), "48x48");
  FreeIconSlots();
  vlIconSlotNames[4] = strdup("icon64");
  vlIconSlotNames[0] = strdup("icon16");
  vlIconSlotNames[9] = strdup("icon16");  // the "s" variant of 16 x 16
  ASSERT_EQ(LoadDisplayIcons(L, 0), 0);
  vlIconNode* list = GetWindowIconList();
  int count16 = 0, count64 = 0;
  for (vlIconNode* n = list; n; n = n->next) {
    if (n->width == 16) ++count16;
    if (n->width == 64) {
      ++count64;
      EXPECT_EQ(n->pixels[0], 0xFF123456u);  // made opaque
    }
  }
  EXPECT_EQ(count16, 2);  // the built-in one and the "s" variant
  EXPECT_EQ(count64, 1);
  FreeIconList(list);
  // A new window carries the merged list.
  ASSERT_EQ(Run(".table 0 { width = 50, height = 40 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1"), 0);
  vlDisplay* d = GetDisplayByNumber(1);
  Atom actual;
  int format;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  ASSERT_EQ(XGetWindowProperty(probe_, d->window->window, XInternAtom(probe_, "_NET_WM_ICON", False), 0, 1 << 20,
                               False, XA_CARDINAL, &actual, &format, &items, &after, &data),
            Success);
  const long* v = reinterpret_cast<const long*>(data);
  bool found64 = false;
  for (unsigned long at = 0; at + 1 < items; at += 2 + v[at] * v[at + 1]) found64 = found64 || v[at] == 64;
  EXPECT_TRUE(found64);
  if (data) XFree(data);
  FreeIconSlots();
}

void CountCalls(void*, uint32_t code, const int32_t* args, void* user) {
  if (code == 4) {
    auto* seen = static_cast<int32_t*>(user);
    seen[0]++;
    seen[1] = args[0];
    seen[2] = args[1];
  }
}

TEST_F(DisplayWindow, ClientsAttachHearSizeChangesAndPostInput) {
  ASSERT_EQ(InitEventQueue(), 0);
  ASSERT_EQ(Run(".table 0 { width = 160, height = 100 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1"), 0);
  vlDisplay* d = GetDisplayByNumber(1);
  int32_t seen[3] = {0, 0, 0};
  int32_t w = 0, h = 0;
  vlTagItem tags[] = {{1, reinterpret_cast<uintptr_t>(&w)}, {2, reinterpret_cast<uintptr_t>(&h)}, {3, 77}, {0, 0}};
  vlDisplayClient* c = AddDisplayClient({1, nullptr}, CountCalls, seen, tags, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 100);
  EXPECT_EQ(c->tag3, 77u);
  EXPECT_EQ(AddDisplayClient({9, nullptr}, CountCalls, seen, tags, 0), nullptr);
  int32_t info[2] = {0, 0};
  vlTagItem query[] = {{1, reinterpret_cast<uintptr_t>(&info[0])}, {2, reinterpret_cast<uintptr_t>(&info[1])}, {0, 0}};
  EXPECT_EQ(GetDisplayInfo(reinterpret_cast<void*>(d->window->window), query), 2);
  EXPECT_EQ(info[0], 160);
  EXPECT_EQ(GetDisplayInfo(reinterpret_cast<void*>(uintptr_t{12345}), query), -1);
  ASSERT_EQ(Run(".call changedisplaysize 200 120"), 0);
  EXPECT_EQ(seen[0], 1);
  EXPECT_EQ(seen[1], 200);
  EXPECT_EQ(seen[2], 120);
  // Wheel input with data[2] = 0 posts event type 11.
  int32_t wheel[3] = {5, 6, 0};
  ASSERT_EQ(ClientEvent(c, 4, wheel), 0);
  vlEventMsg msg{};
  ASSERT_EQ(GetPendingEvent(0, &msg, 0), 1);
  EXPECT_EQ(msg.type, 11u);
  EXPECT_EQ(msg.display, d);
  // A key or button a client presses stays noted for the waits after
  // its release; a release alone notes nothing.
  ForgetPresses(d, 0, VL_PRESSED_COUNT);
  int32_t keyDown[3] = {'q', 1, 0}, keyUp[3] = {'q', 0, 0}, rightDown[3] = {5, 6, 1}, leftUp[3] = {5, 6, 0};
  ASSERT_EQ(ClientEvent(c, 5, keyDown), 0);
  ASSERT_EQ(ClientEvent(c, 5, keyUp), 0);
  ASSERT_EQ(ClientEvent(c, 2, rightDown), 0);
  ASSERT_EQ(ClientEvent(c, 1, leftUp), 0);
  EXPECT_EQ(d->keyState['q'], 0);
  EXPECT_TRUE(PressedSince(d, 'q', 1));
  EXPECT_TRUE(PressedSince(d, VL_PRESSED_RIGHT, 1));
  EXPECT_FALSE(PressedSince(d, VL_PRESSED_LEFT, 1));
  EXPECT_FALSE(PressedSince(d, 'p', 1));
  // The words a plug-in sets: refresh calls wanted, words 3 and 4.
  EXPECT_EQ(SetClientWord(c, 0, 1), 0);
  EXPECT_EQ(c->refresh, 1u);
  EXPECT_EQ(SetClientWord(c, 2, 99), 0);
  EXPECT_EQ(c->tag4, 99u);
  EXPECT_EQ(SetClientWord(c, 3, 1), ERR_WRONGUSAGE);
  EXPECT_EQ(SetClientWord(nullptr, 0, 1), ERR_FINDDISPLAY);
  // A display with a client cannot be freed.
  ASSERT_EQ(Run(".call createdisplay 2\n.call selectdisplay 2 1"), 0);
  EXPECT_EQ(Run(".call freedisplay 1"), ERR_SATFREEDISP);
  RemoveDisplayClient(c);
  // A removed client is not found again (its record is only compared).
  EXPECT_EQ(SetClientWord(c, 0, 1), ERR_FINDDISPLAY);
  EXPECT_EQ(Run(".call freedisplay 1"), 0);
  FreeEventQueue(L);
  FreeEventQueueMutex();
}

}  // namespace

namespace {

using vltest::DisplayTest;

class StartUpDisplays : public DisplayTest {};

// As at start-up: displays declared while the screen format is unknown
// hold their pixels as ARGB until the first display opens.
TEST_F(StartUpDisplays, DeclaredDisplaysOpenWithTheirPicturesAndDisplayOneBecomesCurrent) {
  vlDisplaySetupDone = 0;
  SetGlobalPixelFormat(-1);
  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 1u, 0u);
  ASSERT_EQ(Run(".table 0 { width = 120, height = 60, color = 16744448 }\n.call base=1 createdisplay 1 r0\n"
                ".table 0 { width = 90, height = 40, fillstyle = 2, gradientstyle = 1, gradientstartcolor = 0, "
                "gradientendcolor = 65535 }\n.call base=1 createdisplay 2 r0\n"
                ".table 0 { hidden = 1 }\n.call base=1 createdisplay 3 r0"),
            0);
  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 0u, 0u);
  vlDisplay* one = GetDisplayByNumber(1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->bgpic->loadBitmap, nullptr);
  ASSERT_NE(one->bgpic->argb, nullptr);
  EXPECT_EQ(one->bgpic->id().number, 1);  // display 1's own BGPic is BGPic 1
  ASSERT_EQ(OpenInitialDisplays(L, 0), 0);
  EXPECT_EQ(CurrentDisplay(), one);
  EXPECT_EQ(vlCurrentOutput, one->bgpic);
  EXPECT_EQ(one->bgpic->argb, nullptr);
  // Display 2 is centred over display 1: read where 1 is not covered.
  EXPECT_EQ(WindowPixel(one, 2, 2), 0xFF8000u);
  vlDisplay* two = GetDisplayByNumber(2);
  EXPECT_EQ(two->displayState, VL_DISPSTATE_OPEN);
  uint32_t left = WindowPixel(two, 0, 20), right = WindowPixel(two, 89, 20);
  EXPECT_LT(left & 0xFFFF, 0x0808u);
  EXPECT_GT(right & 0xFF, 0xF0u);
  EXPECT_EQ(GetDisplayByNumber(3)->displayState, VL_DISPSTATE_CLOSED);
}

TEST_F(StartUpDisplays, ActiveDisplayBecomesCurrent) {
  ASSERT_EQ(Run(".table 0 { width = 50, height = 50 }\n.call base=1 createdisplay 1 r0\n"
                ".table 0 { width = 60, height = 60, active = 1 }\n.call base=1 createdisplay 2 r0"),
            0);
  ASSERT_EQ(OpenInitialDisplays(L, 0), 0);
  EXPECT_EQ(CurrentDisplay(), GetDisplayByNumber(2));
}

TEST_F(DisplayTest, AutoScaledDisplayShowsTheBGPicEnlarged) {
  ASSERT_EQ(Run(".call createbgpic 1 100 50 16711680\n.call createbgpic 2 50 50 255\n"
                ".table 0 { bgpic = 1, scalemode = 1, scalewidth = 200, scaleheight = 100 }\n"
                ".call base=1 createdisplay 1 r0"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call opendisplay 1"), 0);
  XWindowAttributes a = WindowAttributes(d);
  EXPECT_EQ(a.width, 200);
  EXPECT_EQ(a.height, 100);
  EXPECT_DOUBLE_EQ(d->scaleX, 2.0);
  EXPECT_EQ(WindowPixel(d, 199, 99), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 0, 0), 0xFF0000u);
  // A blit of a rectangle lands at twice its position and size.
  vlBitmap* blue = nullptr;
  vlBGPic* pic = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {2, nullptr}, &pic, 0), 0);
  blue = pic->curBitmap;
  BlitToDisplay(blue, 0, 0, d, 10, 10, 5, 5, 0);
  EXPECT_EQ(WindowPixel(d, 20, 20), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 29, 29), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 30, 30), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 19, 19), 0xFF0000u);
}

TEST_F(DisplayTest, LayerScaledDisplayKeepsItsWindowWhenTheSizeChanges) {
  ASSERT_EQ(Run(".table 0 { width = 100, height = 50, scalemode = 2, scalewidth = 200, scaleheight = 100 }\n"
                ".call base=1 createdisplay 1 r0\n.call opendisplay 1\n.call changedisplaysize 50 25"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  XWindowAttributes a = WindowAttributes(d);
  EXPECT_EQ(a.width, 200);
  EXPECT_EQ(a.height, 100);
  EXPECT_EQ(d->bgpic->width, 50);
  EXPECT_EQ(d->bgpic->height, 25);
  EXPECT_DOUBLE_EQ(d->scaleX, 4.0);
  EXPECT_DOUBLE_EQ(d->scaleY, 4.0);
}

}  // namespace

namespace {

using vltest::DisplayTest;

// A requester adapter that answers the mode question with a fixed button
// and the mode list with a fixed entry.
int32_t gAnswer = 0;
int32_t gListAnswer = 0;
std::string gAskedTitle, gAskedBody, gChoices;
int AskRequest(void*, const char* title, const char* body, uint32_t, int32_t* result, const vlTagItem*) {
  gAskedTitle = title;
  gAskedBody = body;
  *result = gAnswer;
  return 0;
}
int ListRequest(void*, const char*, const char*, const char* choices, uint32_t, int32_t* result, const vlTagItem*,
                void*) {
  gChoices.clear();
  for (const char* c = choices; *c; c += std::strlen(c) + 1) gChoices += std::string(c) + ";";
  *result = gListAnswer;
  return 0;
}

class AskedDisplays : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    std::memset(&adapter_, 0, sizeof adapter_);
    adapter_.requesterFlags = 2 | 32;
    adapter_.SystemRequest = AskRequest;
    adapter_.ListRequest = ListRequest;
    vlRequesterAdapter = &adapter_;
  }
  void TearDown() override {
    vlRequesterAdapter = nullptr;
    DisplayTest::TearDown();
  }
  vlPluginInfo adapter_;
};

TEST_F(AskedDisplays, CancelLeavesTheDisplayClosedAndWindowedOpensIt) {
  ASSERT_EQ(Run(".table 0 { width = 64, height = 48, mode = \"ask\", title = \"Asking\" }\n"
                ".call base=1 createdisplay 1 r0"),
            0);
  gAnswer = 0;
  EXPECT_EQ(Run(".call opendisplay 1"), ERR_USERABORT);
  vlDisplay* d = GetDisplayByNumber(1);
  EXPECT_EQ(d->displayState, VL_DISPSTATE_CLOSED);
  EXPECT_EQ(gAskedTitle, "Asking");
  EXPECT_EQ(gAskedBody, "Please select desired display mode!");
  gAnswer = 2;
  ASSERT_EQ(Run(".call opendisplay 1"), 0);
  EXPECT_EQ(d->displayState, VL_DISPSTATE_OPEN);
  EXPECT_EQ(d->fullScreen, 0);
  EXPECT_EQ(d->screen.mode, VL_DISPMODE_WINDOWED);
}

TEST_F(AskedDisplays, ModeRequesterListsTheScreenModes) {
  ASSERT_EQ(Run(".table 0 { width = 64, height = 48, mode = \"moderequester\" }\n.call base=1 createdisplay 1 r0"),
            0);
  gListAnswer = -1;
  EXPECT_EQ(Run(".call opendisplay 1"), ERR_USERABORT);
  EXPECT_NE(gChoices.find("800x600;"), std::string::npos);
  gListAnswer = 0;
  ASSERT_EQ(Run(".call opendisplay 1"), 0);
  vlDisplay* d = GetDisplayByNumber(1);
  EXPECT_EQ(d->screen.mode, VL_DISPMODE_FULLSCREEN);
  EXPECT_EQ(d->fullScreen, 1);
  EXPECT_GT(d->screen.screenWidth, 0);
}

}  // namespace

namespace {

using vltest::DisplayTest;

TEST_F(DisplayTest, ScalingSwitchedOnAndOffByAttributes) {
  ASSERT_EQ(Run(".table 0 { width = 100, height = 50, color = 65535 }\n.call base=1 createdisplay 1 r0\n"
                ".call opendisplay 1"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_EQ(Run(".table 0 { scalemode = 1, scalewidth = 300, scaleheight = 150 }\n"
                ".call base=1 setdisplayattributes r0"),
            0);
  XWindowAttributes a = WindowAttributes(d);
  EXPECT_EQ(a.width, 300);
  EXPECT_EQ(a.height, 150);
  EXPECT_DOUBLE_EQ(d->scaleX, 3.0);
  EXPECT_EQ(d->bgpic->width, 100);
  EXPECT_EQ(WindowPixel(d, 299, 149), 0x00FFFFu);
  ASSERT_EQ(Run(".table 0 { scalemode = 0 }\n.call base=1 setdisplayattributes r0"), 0);
  a = WindowAttributes(d);
  EXPECT_EQ(a.width, 100);
  EXPECT_EQ(a.height, 50);
  EXPECT_DOUBLE_EQ(d->scaleX, 1.0);
  EXPECT_EQ(WindowPixel(d, 99, 49), 0x00FFFFu);
}

}  // namespace

namespace {

TEST_F(DisplayTest, FullScreenBackdropWithAPicture) {
  gDisplayPictureLoader = SquareLoader;
  ASSERT_EQ(Run(".table 0 { width = 100, height = 100 }\n.call base=1 createdisplay 1 r0"), 0);
  vlDisplay* d = GetDisplayByNumber(1);
  d->screen.mode = VL_DISPMODE_FULLSCREEN;
  vlBackfillBlock& b = d->screen.backfill;
  InitBackfillRecord(&b);
  b.type = 4;
  b.color = 255;
  b.endColor = -1;
  b.x = -100000;  // CENTER
  b.y = -70000;   // TOP
  std::strcpy(b.brushFile, "icon40");
  ASSERT_EQ(Run(".call opendisplay 1"), 0);
  vlDisplay* backdrop = nullptr;
  ASSERT_EQ(GetDisplayByID(d->backdropId, &backdrop), 0);
  EXPECT_EQ(WindowPixel(backdrop, 5, 5), 0x0000FFu);
  EXPECT_EQ(WindowPixel(backdrop, 400, 10), 0x123456u);
  EXPECT_EQ(WindowPixel(backdrop, 400, 45), 0x0000FFu);
  EXPECT_EQ(WindowPixel(backdrop, 375, 10), 0x0000FFu);
  EXPECT_EQ(WindowPixel(backdrop, 381, 10), 0x123456u);
}

}  // namespace
