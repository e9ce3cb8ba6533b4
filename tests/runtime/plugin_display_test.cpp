// A library plug-in that reaches displays and pictures only through the
// service table, on a private Xvfb display: pixels of a picture and of an
// alpha plane locked through graphics slot 16 (read back by the player's
// own pixel reads), and display windows named through slot 20 (checked
// against the X server).
#include "tests/display/core/display_fixture.h"

#include <string>

#include "graphics/bitmap.h"
#include "runtime/class_lists.h"
#include "player/plugin_loader.h"
#include "runtime/runtime_options.h"
#include "vm/stack_api.h"

namespace {

class PluginDisplay : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    savedQuiet = vlOptions.quiet;
    vlOptions.quiet = 1;
    vlPlugin* node = nullptr;
    ASSERT_EQ(LoadPluginFile(VL_TEST_PLUGIN_DIR "/gfxsvc.vlp", 0, &node), 0);
    ASSERT_EQ(InitPlugins(L), 0);
    // The library's commands as globals, for .call.
    ASSERT_EQ(vltest::RunScript(L,
                                "getglobal 0 \"gfxsvc\"\n"
                                "getfield 1 0 \"lockbitmap\"\nsetglobal 1 \"lockbitmap\"\n"
                                "getfield 1 0 \"displayhandle\"\nsetglobal 1 \"displayhandle\"\n"
                                "getfield 1 0 \"displayofhandle\"\nsetglobal 1 \"displayofhandle\"\nret\n"),
              0);
  }
  void TearDown() override {
    if (started_) {
      FreePluginList();
      FreeClassLists();
      vlOptions.quiet = savedQuiet;
    }
    DisplayTest::TearDown();
  }
  void SetPointer(const char* name, void* p) {
    vl::PushString(L, name);
    vl::PushPointer(L, p);
    vl::SetTableValue(L, vl::kGlobalsIndex);
  }
  // LockBitmap through the plug-in into globals ok, row, format, bpp, w, h,
  // found.
  int Lock(const std::string& args) {
    return Run(".call lockbitmap $bmp " + args + " -> ok row format bpp w h found");
  }
  uint32_t savedQuiet = 0;
};

TEST_F(PluginDisplay, PicturesAndPlanesLockThroughSlot16) {
  vlBitmap* picture = NewBitmap(40, 30, 0, nullptr);
  ASSERT_NE(picture, nullptr);
  FillBitmapRect(picture, 0, 0, 40, 30, 0);
  WriteBitmapPixel(picture, 3, 2, 0xABCDEF, 0);
  SetPointer("bmp", picture);
  // Read-only lock: the raw pixel at (3, 2).
  ASSERT_EQ(Lock("1 3 2"), 0);
  EXPECT_EQ(Num("ok"), 1);
  EXPECT_EQ(Num("w"), 40);
  EXPECT_EQ(Num("h"), 30);
  EXPECT_EQ(Num("bpp"), 4);  // a 24-bit server keeps 32-bit pixels
  EXPECT_GE(Num("row"), 40 * 4);
  EXPECT_LE(Num("format"), 13);
  const double raw = Num("found");
  // The same raw value stored at (5, 4) reads back as the same colour:
  // rows and pixels are where the words said.
  ASSERT_EQ(Lock("0 5 4 " + std::to_string(static_cast<uint64_t>(raw))), 0);
  EXPECT_EQ(ReadBitmapPixel(picture, 5, 4, 0), 0xABCDEFu);
  EXPECT_EQ(ReadBitmapPixel(picture, 4, 4, 0), 0u);
  EXPECT_EQ(ReadBitmapPixel(picture, 5, 3, 0), 0u);
  DeleteBitmap(picture);

  vlBitmap* alpha = NewAlphaPlane(17, 9, 1, nullptr, 0);
  ASSERT_NE(alpha, nullptr);
  SetPointer("bmp", alpha);
  ASSERT_EQ(Lock("0 16 8 200"), 0);
  EXPECT_EQ(Num("ok"), 1);
  EXPECT_EQ(Num("format"), 14);
  EXPECT_EQ(Num("bpp"), 1);
  EXPECT_EQ(Num("w"), 17);
  EXPECT_EQ(Num("found"), 0);
  const auto* bytes = reinterpret_cast<const uint8_t*>(QueryBitmap(alpha, 3));
  const intptr_t rowBytes = QueryBitmap(alpha, 1);
  EXPECT_EQ(Num("row"), rowBytes);
  EXPECT_EQ(bytes[8 * rowBytes + 16], 200);
  DeleteAlphaPlane(alpha);

  // Nothing to lock: every word 0.
  SetPointer("bmp", nullptr);
  ASSERT_EQ(Lock("0 0 0"), 0);
  EXPECT_EQ(Num("ok"), 0);
  EXPECT_EQ(Num("w"), 0);
  EXPECT_EQ(Num("row"), 0);
}

TEST_F(PluginDisplay, DisplayWindowsThroughSlot20) {
  ASSERT_EQ(Run(".table 0 { width = 160, height = 80, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                ".call opendisplay 1\n.table 0 { width = 64, height = 48 }\n"
                ".call base=1 createdisplay nil r0 -> h\n.call opendisplay $h\n"
                ".call displayhandle 1 -> window\n.call displayhandle 7 -> none"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  const auto window = static_cast<Window>(Num("window"));
  EXPECT_EQ(window, d->window->window);
  XWindowAttributes a{};
  ASSERT_NE(XGetWindowAttributes(probe_, window, &a), 0);
  EXPECT_EQ(a.width, 160);
  EXPECT_EQ(a.height, 80);
  EXPECT_EQ(Num("none"), 0);
  // Back from the window to the display's id; an automatic id is its handle.
  ASSERT_EQ(Run(".call displayofhandle $window -> id\n.call displayofhandle 12345 -> missing"), 0);
  EXPECT_EQ(Num("id"), 1);
  EXPECT_EQ(Num("missing"), 0);
  const vlValue* h = vltest::GetGlobal(L, "h");
  ASSERT_EQ(h->tag, VL_TLIGHTUSERDATA);
  vlDisplay* automatic = static_cast<vlDisplay*>(h->v.p);
  ASSERT_NE(automatic->window, nullptr);
  vltest::SetGlobalNumber(L, "w2", static_cast<double>(automatic->window->window));
  ASSERT_EQ(Run(".call displayofhandle $w2 -> id2"), 0);
  EXPECT_EQ(Num("id2"), static_cast<double>(reinterpret_cast<uintptr_t>(automatic)));
}

}  // namespace
