// The display and bgpic libraries driven by assembled scripts on a real X
// server: display creation and replacement, own BGPics and their fills,
// the attribute reader's rules, menus, BGPic commands, selection mode,
// monitors and modes, and the letterbox and scale rules.
#include "tests/support/testdata.h"
#include "tests/display/core/display_fixture.h"

#include <string>

#include "display/display_scaling.h"
#include "display/menus.h"
#include "graphics/bitmap.h"
#include "vm/error_codes.h"
#include "vm/value.h"

namespace {

using vltest::DisplayTest;

uint32_t Pixel(vlBitmap* b, int x, int y) { return ReadBitmapPixel(b, x, y, 0) & 0xFFFFFF; }

TEST_F(DisplayTest, OwnBGPicHasTheDisplaySizeAndItsFill) {
  ASSERT_EQ(Run(".table 0 { width = 200, height = 100, color = 16711680 }\n"
                ".call base=1 createdisplay 1 r0"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  ASSERT_NE(d->bgpic, nullptr);
  EXPECT_EQ(d->bgpic->width, 200);
  EXPECT_EQ(d->bgpic->height, 100);
  EXPECT_EQ(d->ownBGPic, 1u);
  EXPECT_EQ(d->displayState, VL_DISPSTATE_CLOSED);
  EXPECT_EQ(Pixel(d->bgpic->dispBitmap, 0, 0), 0xFF0000u);
  EXPECT_EQ(Pixel(d->bgpic->dispBitmap, 199, 99), 0xFF0000u);
  EXPECT_EQ(d->marginRight, 199);
  EXPECT_STREQ(d->title, "Vellamora");
  EXPECT_EQ(d->x, -100000);

  // Nil asks for an automatic id: the record's address comes back.
  ASSERT_EQ(Run(".call createdisplay nil -> h"), 0);
  const vlValue* h = vltest::GetGlobal(L, "h");
  ASSERT_EQ(h->tag, VL_TLIGHTUSERDATA);
  vlDisplay* automatic = nullptr;
  ASSERT_EQ(GetDisplayByID({0, h->v.p}, &automatic), 0);
  EXPECT_EQ(automatic, h->v.p);
  EXPECT_EQ(automatic->width, 640);
  EXPECT_EQ(automatic->height, 480);
}

TEST_F(DisplayTest, SameNumberReplacesUnlessCurrent) {
  ASSERT_EQ(Run(".table 0 { width = 50, height = 40 }\n.call base=1 createdisplay 1 r0"), 0);
  ASSERT_EQ(Run(".table 0 { width = 60, height = 30 }\n.call base=1 createdisplay 1 r0"), 0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->width, 60);
  int count = 0;
  for (vlDisplay* e = vlDisplayList; e; e = e->next) ++count;
  EXPECT_EQ(count, 1);
  SetCurrentDisplay(d);
  EXPECT_EQ(Run(".call createdisplay 1"), ERR_FREEADISPLAY);
  EXPECT_EQ(Run(".call freedisplay 1"), ERR_FREEADISPLAY);
  EXPECT_EQ(Run(".call freedisplay 7"), ERR_FINDDISPLAY);
  SetCurrentDisplay(nullptr);
  EXPECT_EQ(Run(".call freedisplay 1"), 0);
  EXPECT_EQ(vlDisplayList, nullptr);
}

TEST_F(DisplayTest, NamedBGPicGivesTheSizeAndIsShownOnlyOnce) {
  ASSERT_EQ(Run(".call createbgpic 5 300 150 65280\n"
                ".table 0 { bgpic = 5, width = 10 }\n.call base=1 createdisplay 2 r0"),
            0);
  vlDisplay* d = GetDisplayByNumber(2);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->width, 300);
  EXPECT_EQ(d->height, 150);
  EXPECT_EQ(d->ownBGPic, 0u);
  EXPECT_EQ(Run(".table 0 { bgpic = 5 }\n.call base=1 createdisplay 3 r0"), ERR_MULTIBGPIC);
  EXPECT_EQ(GetDisplayByNumber(3), nullptr);
  EXPECT_EQ(Run(".table 0 { bgpic = 9 }\n.call base=1 createdisplay 3 r0"), ERR_FINDBGPIC);
  // Freeing a BGPic that a display shows orphans it: the display keeps it,
  // the script no longer finds it.
  ASSERT_EQ(Run(".call freebgpic 5"), 0);
  EXPECT_EQ(Run(".call scalebgpic 5 10 10"), ERR_FINDBGPIC);
  ASSERT_NE(d->bgpic, nullptr);
  EXPECT_EQ(d->bgpic->orphan, 1u);
  EXPECT_EQ(Pixel(d->bgpic->dispBitmap, 10, 10), 0x00FF00u);
}

TEST_F(DisplayTest, AttributeReaderRules) {
  // A percentage scale width is a share of the display width.
  ASSERT_EQ(Run(".table 0 { width = 640, height = 480, scalemode = 1, scalewidth = \"50%\", scaleheight = 240 }\n"
                ".call base=1 createdisplay 1 r0"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->scaleWidth, 320);
  EXPECT_EQ(d->scaleHeight, 240);
  EXPECT_EQ(d->autoScale, 1);
  EXPECT_TRUE(d->styleFlags & VL_DISPSTYLE_AUTOSCALE);
  EXPECT_EQ(d->width, 320);  // the window shows the scaled picture
  EXPECT_DOUBLE_EQ(d->scaleX, 0.5);
  // Mode 0 clears both scale bits and the scale size.
  ASSERT_EQ(Run(".table 0 { scalemode = 2, scalewidth = 100, scaleheight = 100, scalemode = 0 }\n"
                ".call base=1 createdisplay 2 r0"),
            0);
  d = GetDisplayByNumber(2);
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(d->styleFlags & (VL_DISPSTYLE_AUTOSCALE | VL_DISPSTYLE_LAYERSCALE));
  EXPECT_EQ(d->scaleWidth, 0);
  EXPECT_EQ(Run(".table 0 { scalemode = 3 }\n.call base=1 createdisplay 3 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { scalewidth = 0 }\n.call base=1 createdisplay 3 r0"), ERR_WRONGUSAGE);
  // Regions: only boxes, positive sizes, all four values required.
  EXPECT_EQ(Run(".table 0 { dragregion = { { type = 13, x = 0, y = 0, width = 5, height = 5 } } }\n"
                ".call base=1 createdisplay 3 r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { sizeregion = { { x = 0, y = 0, width = 0, height = 5 } } }\n"
                ".call base=1 createdisplay 3 r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { sizeregion = { { x = 0, y = 0, width = 4 } } }\n.call base=1 createdisplay 3 r0"),
            ERR_MISSINGPARAMTR);
  ASSERT_EQ(Run(".table 0 { width = 100, height = 50, dragregion = { { x = 2, y = 3, width = 40, height = 9 }, "
                "{ x = 90, y = 45, width = 50, height = 50 } } }\n.call base=1 createdisplay 3 r0"),
            0);
  d = GetDisplayByNumber(3);
  ASSERT_EQ(d->dragRegionCount, 2);
  EXPECT_EQ(d->dragRegions[0].x, 2);
  EXPECT_EQ(d->dragRegions[0].height, 9);
  EXPECT_EQ(d->dragRegionsGiven, 1);
  // Titles: 255 characters fit, 256 do not.
  std::string t255(255, 'a'), t256(256, 'b');
  ASSERT_EQ(Run(".table 0 { title = \"" + t255 + "\" }\n.call base=1 createdisplay 4 r0"), 0);
  EXPECT_EQ(std::string(GetDisplayByNumber(4)->title), t255);
  EXPECT_EQ(Run(".table 0 { title = \"" + t256 + "\" }\n.call base=1 createdisplay 5 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { width = 0 }\n.call base=1 createdisplay 5 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { fillstyle = 4 }\n.call base=1 createdisplay 5 r0"), ERR_WRONGUSAGE);
  // Monitors count from 1; this server has one.
  EXPECT_EQ(Run(".table 0 { monitor = 0 }\n.call base=1 createdisplay 5 r0"), ERR_MONITORRANGE);
  EXPECT_EQ(Run(".table 0 { monitor = 2 }\n.call base=1 createdisplay 5 r0"), ERR_MONITORRANGE);
  // Flag keys set and clear their bits; a backdrop hides from the task bar.
  ASSERT_EQ(Run(".table 0 { borderless = 1, sizeable = 1, sizeable = 0, noclose = 1, __backfill = 1, hidden = 1 }\n"
                ".call base=1 createdisplay 6 r0"),
            0);
  d = GetDisplayByNumber(6);
  EXPECT_EQ(d->styleFlags & (VL_DISPSTYLE_BORDERLESS | VL_DISPSTYLE_SIZEABLE | VL_DISPSTYLE_NOCLOSE |
                             VL_DISPSTYLE_HIDEFROMTASKBAR | VL_DISPSTYLE_HIDDEN),
            VL_DISPSTYLE_BORDERLESS | VL_DISPSTYLE_NOCLOSE | VL_DISPSTYLE_HIDEFROMTASKBAR | VL_DISPSTYLE_HIDDEN);
  EXPECT_EQ(d->isBackdrop, 1u);
  // Screen-mode keys and the backfill sub-table.
  ASSERT_EQ(Run(".table 0 { mode = \"fullscreen\", scrwidth = 800, backfill = { type = \"gradient\", "
                "startcolor = 255, endcolor = 65280 } }\n.call base=1 createdisplay 7 r0"),
            0);
  d = GetDisplayByNumber(7);
  EXPECT_EQ(d->screen.mode, VL_DISPMODE_FULLSCREEN);
  EXPECT_EQ(d->screen.screenWidth, 800);
  EXPECT_EQ(d->screen.backfill.type, 2);
  EXPECT_EQ(d->screen.backfill.color, 255);
  EXPECT_EQ(d->screen.backfill.endColor, 65280);
  EXPECT_EQ(Run(".table 0 { mode = \"sideways\" }\n.call base=1 createdisplay 8 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { backfill = { type = \"plaid\" } }\n.call base=1 createdisplay 8 r0"), ERR_WRONGUSAGE);
}

TEST_F(DisplayTest, MenuTreesAndTheirChecks) {
  // Two levels below the strip are accepted, a third is too complex.
  ASSERT_EQ(Run(".table 0 { { \"File\", { { \"Open\", { { \"Recent\", { { \"a\", id = \"ra\" } } } } } } } }\n"
                ".call base=1 createmenu 1 r0"),
            ERR_MENUCOMPLEXITY);
  EXPECT_EQ(vlMenuList, nullptr);
  ASSERT_EQ(Run(".table 0 { { \"File\", { { \"Open\", { { \"Recent\", id = \"recent\", flags = 3 } } }, "
                "{ nil }, { \"Quit\", id = \"quit\", hotkey = \"q\" } } } }\n"
                ".call base=1 createmenu 1 r0"),
            0);
  vlMenu* menu = vlMenuList;
  ASSERT_NE(menu, nullptr);
  vlMenuItem* recent = FindMenuItem(menu->items, "RECENT");
  ASSERT_NE(recent, nullptr);
  EXPECT_EQ(recent->flags, 3u);
  vlMenuItem* quit = FindMenuItem(menu->items, "quit");
  ASSERT_NE(quit, nullptr);
  EXPECT_STREQ(quit->hotkey, "q");
  // The separator between them has no name.
  vlMenuItem* open = menu->items->children;
  ASSERT_NE(open, nullptr);
  ASSERT_NE(open->next, nullptr);
  EXPECT_EQ(open->next->name, nullptr);
  // A separator directly in the strip, an empty tree, a non-table entry.
  EXPECT_EQ(Run(".table 0 { { \"File\" }, { \"\" } }\n.call base=1 createmenu 2 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { { 5 } }\n.call base=1 createmenu 2 r0"), ERR_STRINGEXPECTED);
  EXPECT_EQ(Run(".table 0 { }\n.call base=1 createmenu 2 r0"), ERR_EMPTYMENUTREE);
  EXPECT_EQ(Run(".table 0 { 5 }\n.call base=1 createmenu 2 r0"), ERR_TABLEORNIL);
  // Attached to a display the menu cannot be freed.
  ASSERT_EQ(Run(".table 0 { menu = 1 }\n.call base=1 createdisplay 1 r0"), 0);
  EXPECT_EQ(GetDisplayByNumber(1)->menu, menu);
  EXPECT_EQ(Run(".call freemenu 1"), ERR_MENUATTACHED);
  EXPECT_EQ(Run(".call freemenu 9"), ERR_FINDMENU);
  // Item commands need an open display; they refuse a closed one.
  EXPECT_EQ(Run(".call selectmenuitem 1 \"recent\""), ERR_CLOSEDDISPLAY);
  EXPECT_EQ(Run(".call selectmenuitem 0 \"recent\""), ERR_NOCONTEXTMENU);
  EXPECT_EQ(Run(".call selectmenuitem 3 \"recent\""), ERR_FINDDISPLAY);
  ASSERT_EQ(Run(".call createdisplay 2"), 0);
  EXPECT_EQ(Run(".call selectmenuitem 2 \"recent\""), ERR_NOMENU);
  ASSERT_EQ(Run(".call freedisplay 1"), 0);
  EXPECT_EQ(Run(".call freemenu 1"), 0);
  EXPECT_EQ(vlMenuList, nullptr);
}

TEST_F(DisplayTest, BGPicCommandsCheckTheirArguments) {
  EXPECT_EQ(Run(".call createbgpic 1 0 10"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call creategradientbgpic 1 2 0 255 0 10"), ERR_BADDIMENSIONS);
  EXPECT_EQ(Run(".table 0 { colors = { 255, 0.5 } }\n.call base=1 creategradientbgpic 1 2 0 255 20 20 0 r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { colors = { 255, 1.5, 0, 1 } }\n.call base=1 creategradientbgpic 1 2 0 255 20 20 0 r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { colors = { 255, 0.5, 7 } }\n.call base=1 creategradientbgpic 1 2 0 255 20 20 0 r0"),
            ERR_MISSINGPARAMTR);
  std::string stops = "{ ";
  for (int i = 0; i < 65; ++i) stops += "255, 0.5, ";
  stops += "}";
  EXPECT_EQ(Run(".table 0 { colors = " + stops + " }\n.call base=1 creategradientbgpic 1 2 0 255 20 20 0 r0"),
            ERR_INTERNAL);
  EXPECT_EQ(Run(".table 0 { centerx = 1.5 }\n.call base=1 creategradientbgpic 1 3 0 255 20 20 0 r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(vlBGPicList, nullptr);

  // The rainbow command is the gradient command.
  ASSERT_EQ(Run(".call creategradientbgpic 1 2 16711680 255 40 30 90\n"
                ".call createrainbowbgpic 2 2 16711680 255 40 30 90\n"
                ".call creategradientbgpic nil 1 16711680 255 40 30 -> auto"),
            0);
  vlBGPic *a = nullptr, *b = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {1, nullptr}, &a, 0), 0);
  ASSERT_EQ(GetBGPicByID(L, {2, nullptr}, &b, 0), 0);
  for (int x = 0; x < 40; x += 3)
    for (int y = 0; y < 30; y += 7) ASSERT_EQ(Pixel(a->curBitmap, x, y), Pixel(b->curBitmap, x, y));
  // Angle 90 runs from left (start colour) to right (end colour).
  EXPECT_GT(Pixel(a->curBitmap, 0, 15) >> 16, 0xF0u);
  EXPECT_GT(Pixel(a->curBitmap, 39, 15) & 0xFF, 0xF0u);
  EXPECT_EQ(a->scalable, 1u);
  EXPECT_EQ(a->backfill.desc.fillStyle, 2u);
  // Type 1 is the linear gradient at 90 degrees.
  vlBGPic* c = static_cast<vlBGPic*>(vltest::GetGlobal(L, "auto")->v.p);
  for (int x = 0; x < 40; x += 5) EXPECT_EQ(Pixel(c->curBitmap, x, 3), Pixel(a->curBitmap, x, 3));

  // Copies are independent pictures with the same pixels.
  EXPECT_EQ(Run(".call copybgpic 1 1"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call copybgpic 1 3"), 0);
  vlBGPic* copy = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {3, nullptr}, &copy, 0), 0);
  EXPECT_NE(copy->curBitmap, a->curBitmap);
  EXPECT_EQ(Pixel(copy->curBitmap, 20, 20), Pixel(a->curBitmap, 20, 20));
  // Scaling: sizes and percentages; a gradient is re-drawn at the new size.
  ASSERT_EQ(Run(".call scalebgpic 3 \"50%\" 60"), 0);
  EXPECT_EQ(copy->width, 20);
  EXPECT_EQ(copy->height, 60);
  EXPECT_GT(Pixel(copy->curBitmap, 19, 0) & 0xFF, 0xE0u);
  ASSERT_EQ(Run(".call createbgpic 4 10 10 255\n.call scalebgpic 4 30 20"), 0);
  vlBGPic* plain = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {4, nullptr}, &plain, 0), 0);
  EXPECT_EQ(Pixel(plain->curBitmap, 29, 19), 0x0000FFu);
  EXPECT_EQ(plain->loadWidth, 10);
  // A BGPic shown by a display cannot be scaled.
  ASSERT_EQ(Run(".table 0 { bgpic = 4 }\n.call base=1 createdisplay 1 r0"), 0);
  EXPECT_EQ(Run(".call scalebgpic 4 5 5"), ERR_SCALEBGPIC);
  EXPECT_EQ(Run(".call freebgpic 77"), ERR_FINDBGPIC);
}

TEST_F(DisplayTest, SelectionModeOnTheShownBGPic) {
  ASSERT_EQ(Run(".call createdisplay 1"), 0);
  vlDisplay* d = GetDisplayByNumber(1);
  SelectDisplayRecord(L, d, 1);
  EXPECT_EQ(CurrentDisplay(), d);
  EXPECT_EQ(vlCurrentOutput, d->bgpic);
  EXPECT_EQ(Run(".call endselect"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call selectbgpic nil"), ERR_NOLAYERS);
  ASSERT_EQ(Run(".table 0 { layers = 1 }\n.call base=1 createdisplay 2 r0\n.call selectdisplay 2 1"), 0);
  d = GetDisplayByNumber(2);
  ASSERT_EQ(CurrentDisplay(), d);
  d->cursorX = 7;
  ASSERT_EQ(Run(".call selectbgpic nil"), 0);
  EXPECT_EQ(d->outputType, VL_OUTPUT_BGPIC);
  EXPECT_EQ(d->cursorX, 0);
  EXPECT_EQ(d->marginRight, 639);
  ASSERT_NE(d->dirty.rects, nullptr);
  EXPECT_EQ(d->dirty.capacity, 1024);
  // Selecting it again changes nothing.
  d->cursorX = 3;
  ASSERT_EQ(Run(".call selectbgpic nil"), 0);
  EXPECT_EQ(d->cursorX, 3);
  // A BGPic of another display cannot be selected; nor freed while selected.
  ASSERT_EQ(Run(".call createbgpic 9 20 20\n.table 0 { bgpic = 9 }\n.call base=1 createdisplay 3 r0"), 0);
  EXPECT_EQ(Run(".call selectbgpic 9"), ERR_SELECTBGPIC);
  ASSERT_EQ(Run(".call createbgpic 10 20 20\n.call selectbgpic 10"), 0);
  EXPECT_EQ(vlCurrentOutput->id().number, 10);
  EXPECT_EQ(Run(".call freebgpic 10"), ERR_MODIFYABGPIC);
  ASSERT_EQ(Run(".call endselect"), 0);
  EXPECT_EQ(d->outputType, VL_OUTPUT_DISPLAY);
  EXPECT_EQ(vlCurrentOutput, d->bgpic);
  EXPECT_EQ(d->cursorX, 7);  // restored from before the selection
  EXPECT_EQ(Run(".call freebgpic 10"), 0);
}

TEST_F(DisplayTest, MonitorsAndModesOfTheServer) {
  ASSERT_EQ(Run(".call getmonitors -> m"), 0);
  ASSERT_EQ(Run("getglobal 2 \"m\"\ngetfield 0 2 #0\n"
                "getfield 1 0 \"width\"\nsetglobal 1 \"w\"\n"
                "getfield 1 0 \"height\"\nsetglobal 1 \"h\""),
            0);
  // One monitor: nothing at index 1.
  vl::PushString(L, "m");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  vl::RawGetTableIndex(L, -1, 1);
  EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL);
  vl::SetStackTop(L, 0);
  EXPECT_EQ(Num("w"), 800);
  EXPECT_EQ(Num("h"), 600);
  EXPECT_EQ(Run(".call getdisplaymodes 0"), ERR_MONITORRANGE);
  EXPECT_EQ(Run(".call getdisplaymodes 2"), ERR_MONITORRANGE);
  ASSERT_EQ(Run(".call getdisplaymodes -> modes\ngetglobal 2 \"modes\"\ngetfield 0 2 #0\n"
                "getfield 1 0 \"width\"\nsetglobal 1 \"mw\""),
            0);
  EXPECT_GE(Num("mw"), 1);
}

TEST_F(DisplayTest, LetterboxAndLayerScaleFactors) {
  // A 4:3 picture letterboxed into a 1920 x 1080 area.
  vlDisplay d{};
  vlBGPic pic{};
  pic.width = 640;
  pic.height = 480;
  d.styleFlags = VL_DISPSTYLE_LETTERBOX;
  ComputeLetterbox(&d, &pic, 1920, 1080);
  EXPECT_EQ(d.scaleWidth, 1440);
  EXPECT_EQ(d.scaleHeight, 1080);
  EXPECT_EQ(d.borderLeft, 240);
  EXPECT_EQ(d.borderRight, 240);
  EXPECT_EQ(d.borderTop, 0);
  // Without the letterbox flag the whole area is the scale size.
  d.styleFlags = 0;
  ComputeLetterbox(&d, &pic, 1000, 700);
  EXPECT_EQ(d.scaleWidth, 1000);
  EXPECT_EQ(d.borderLeft, 0);

  // Layer scaling with a scale size equal to the BGPic's size: factors 1.0.
  ASSERT_EQ(Run(".table 0 { width = 300, height = 200, scalemode = 2, scalewidth = 300, scaleheight = 200 }\n"
                ".call base=1 createdisplay 1 r0"),
            0);
  vlDisplay* one = GetDisplayByNumber(1);
  EXPECT_EQ(one->layersOn, 1u);
  EXPECT_DOUBLE_EQ(one->scaleX, 1.0);
  EXPECT_DOUBLE_EQ(one->scaleY, 1.0);
  // A gradient BGPic re-made for layer scaling is drawn at the new size.
  ASSERT_EQ(Run(".table 0 { width = 100, height = 50, fillstyle = 2, gradientstyle = 2, gradientangle = 90, "
                "gradientstartcolor = 0, gradientendcolor = 16777215, scalemode = 2, scalewidth = 400, "
                "scaleheight = 200 }\n.call base=1 createdisplay 2 r0"),
            0);
  vlDisplay* two = GetDisplayByNumber(2);
  vlBGPic* p = two->bgpic;
  EXPECT_EQ(p->width, 100);
  EXPECT_EQ(p->dispWidth, 400);
  EXPECT_DOUBLE_EQ(two->scaleX, 4.0);
  // Neighbouring columns differ: a re-drawn gradient, not 4x enlarged steps.
  uint32_t c0 = Pixel(p->dispBitmap, 200, 10), c1 = Pixel(p->dispBitmap, 201, 10), c2 = Pixel(p->dispBitmap, 203, 10);
  EXPECT_TRUE(c0 != c1 || c1 != c2);
}

}  // namespace

namespace {

// A 2 x 1 brush: red then blue.
vlBitmap* gTile = nullptr;
int TileBrush(vlVMState*, vlObjectId id, vlBitmap** bitmap, int32_t* w, int32_t* h) {
  if (id.number != 7) return ERR_FINDBRUSH;
  *bitmap = gTile;
  *w = 2;
  *h = 1;
  return 0;
}

TEST_F(DisplayTest, TexturedBGPicsTileTheBrushFromTheOffset) {
  gTile = NewBitmap(2, 1, 0, nullptr);
  WriteBitmapPixel(gTile, 0, 0, 0xFFFF0000u, 0);
  WriteBitmapPixel(gTile, 1, 0, 0xFF0000FFu, 0);
  EXPECT_EQ(Run(".call createtexturedbgpic 1 8 10 10"), ERR_FINDBRUSH);
  gLayerHooks.brushBitmap = TileBrush;
  ASSERT_EQ(Run(".call createtexturedbgpic 1 7 10 4 1 0"), 0);
  vlBGPic* pic = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {1, nullptr}, &pic, 0), 0);
  EXPECT_EQ(Pixel(pic->curBitmap, 0, 0), 0x0000FFu);  // starts inside the tile at x 1
  EXPECT_EQ(Pixel(pic->curBitmap, 1, 3), 0xFF0000u);
  EXPECT_EQ(Pixel(pic->curBitmap, 9, 2), 0xFF0000u);
  EXPECT_EQ(pic->scalable, 1u);
  ASSERT_NE(pic->backfill.texture, nullptr);  // a private copy of the brush
  EXPECT_NE(pic->backfill.texture, gTile);
  // Scaling re-tiles instead of stretching.
  ASSERT_EQ(Run(".call scalebgpic 1 20 4"), 0);
  EXPECT_EQ(Pixel(pic->curBitmap, 18, 0), 0x0000FFu);
  EXPECT_EQ(Pixel(pic->curBitmap, 19, 0), 0xFF0000u);
  // A display filled with the texture.
  ASSERT_EQ(Run(".table 0 { width = 6, height = 2, fillstyle = 3, texturebrush = 7 }\n"
                ".call base=1 createdisplay 1 r0"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  EXPECT_EQ(Pixel(d->bgpic->curBitmap, 0, 1), 0xFF0000u);
  EXPECT_EQ(Pixel(d->bgpic->curBitmap, 5, 1), 0x0000FFu);
  DeleteBitmap(gTile);
}

}  // namespace

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace {

// The picture's pixels as ImageMagick decodes them: RGB bytes.
std::vector<uint8_t> MagickRGB(const std::string& file, const std::string& raw) {
  std::string cmd = "convert '" + file + "' -depth 8 RGB:'" + raw + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(raw, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST_F(DisplayTest, LoadBGPicMatchesImageMagickAndScales) {
  VL_REQUIRE_TESTDATA();
  const char* data = std::getenv("VL_TESTDATA");
  ASSERT_NE(data, nullptr);
  std::string file = std::string(data) + "/bmp/g/rgb24.bmp";
  std::string raw = std::string(testing::TempDir()) + "bgpic_" + std::to_string(getpid()) + ".rgb";
  std::vector<uint8_t> rgb = MagickRGB(file, raw);
  std::remove(raw.c_str());
  if (rgb.empty()) GTEST_SKIP() << "ImageMagick cannot decode " << file;
  const int w = 127, h = 64;
  ASSERT_EQ(rgb.size(), size_t{w} * h * 3u);
  ASSERT_EQ(Run(".call loadbgpic 1 \"" + file + "\""), 0);
  vlBGPic* pic = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {1, nullptr}, &pic, 0), 0);
  ASSERT_EQ(pic->width, w);
  ASSERT_EQ(pic->height, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      uint32_t want = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
      ASSERT_EQ(Pixel(pic->curBitmap, x, y), want) << x << "," << y;
    }
  // Scaled while loading, and shown by a display at that size.
  ASSERT_EQ(Run(".table 0 { scalewidth = 64, scaleheight = \"50%\" }\n.call base=1 loadbgpic 2 \"" + file +
                "\" r0\n.table 0 { bgpic = 2 }\n.call base=1 createdisplay 1 r0"),
            0);
  EXPECT_EQ(GetDisplayByNumber(1)->width, 64);
  EXPECT_EQ(GetDisplayByNumber(1)->height, 32);
  // Option rules and a missing file.
  EXPECT_EQ(Run(".table 0 { loadalpha = 1, loadtransparency = 1 }\n.call base=1 loadbgpic 3 \"" + file + "\" r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { loadalpha = 1, transparency = 0 }\n.call base=1 loadbgpic 3 \"" + file + "\" r0"),
            ERR_MASKNALPHA);
  EXPECT_NE(Run(".call loadbgpic 3 \"" + std::string(data) + "/png/png/nothere.png\""), 0);
  // A transparent colour makes a mask; alpha pictures give an alpha plane.
  ASSERT_EQ(Run(".call loadbgpic 4 \"" + file + "\" " + std::to_string(rgb[0] << 16 | rgb[1] << 8 | rgb[2])), 0);
  vlBGPic* keyed = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {4, nullptr}, &keyed, 0), 0);
  ASSERT_NE(keyed->curMask, nullptr);
  EXPECT_EQ(ReadBitmapPixel(keyed->curMask, 0, 0, 1), 0u);
  ASSERT_EQ(Run(".table 0 { loadalpha = 1 }\n.call base=1 loadbgpic 5 \"" + std::string(data) +
                "/png/png/basn6a08.png\" r0"),
            0);
  vlBGPic* alpha = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {5, nullptr}, &alpha, 0), 0);
  EXPECT_NE(alpha->curAlpha, nullptr);
  EXPECT_EQ(Run(".table 0 { loadalpha = 1 }\n.call base=1 loadbgpic 6 \"" + file + "\" r0"), ERR_NOALPHA);

  // A palette of two colours replaces the first two pens of a 16-colour
  // ILBM; the other pens keep the file's colours.
  const std::string ilbm = std::string(testing::TempDir()) + "pens_" + std::to_string(getpid()) + ".iff";
  ASSERT_EQ(std::system(("python3 '" + std::string(std::getenv("VL_SOURCE_DIR")) +
                         "/tests/formats/pictures/make_iff.py' ilbm '" + ilbm + "' pal4-packed")
                            .c_str()),
            0);
  auto bytes = [](const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::string form = bytes(ilbm), expected = bytes(ilbm + ".rgb");
  const size_t cmap = form.find("CMAP");
  ASSERT_NE(cmap, std::string::npos);
  auto colour = [](const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) << 16 | uint32_t(uint8_t(b[at + 1])) << 8 | uint8_t(b[at + 2]);
  };
  const uint32_t pen0 = colour(form, cmap + 8), pen1 = colour(form, cmap + 11);
  const int loaded = Run(".table 0 { 16711680, 65280 }\n.call base=1 loadbgpic 7 \"" + ilbm + "\" nil r0");
  std::remove(ilbm.c_str());
  std::remove((ilbm + ".rgb").c_str());
  ASSERT_EQ(loaded, 0);
  vlBGPic* pens = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {7, nullptr}, &pens, 0), 0);
  int replaced = 0;
  for (int y = 0, i = 4; y < pens->height; ++y)
    for (int x = 0; x < pens->width; ++x, i += 3) {
      const uint32_t own = colour(expected, size_t(i));
      const uint32_t want = own == pen0 ? 0xFF0000u : own == pen1 ? 0x00FF00u : own;
      replaced += want != own;
      ASSERT_EQ(Pixel(pens->curBitmap, x, y), want) << x << "," << y;
    }
  EXPECT_GT(replaced, 0);
}

}  // namespace

namespace {

std::string gConverted;
int ConvertA(vlVMState*, uint32_t) { return gConverted += 'a', 0; }
int ConvertB(vlVMState*, uint32_t) { return gConverted += 'b', 0; }
int ConvertC(vlVMState*, uint32_t) { return gConverted += 'c', 0; }
int ConvertD(vlVMState*, uint32_t) { return gConverted += 'd', 0; }
int ConvertFails(vlVMState*, uint32_t) { return gConverted += 'x', ERR_BITMAP; }

// The pictures that wait for the screen format convert by rank whatever
// order the libraries opened in: brushes before the BGPics whose fills use
// them, then frames and fonts.
TEST(ScreenFormatConverters, RunByRankOnceEach) {
  ResetLayerHooks();
  AddScreenFormatConverter(VL_CONVERT_FONTS, ConvertD);
  AddScreenFormatConverter(VL_CONVERT_BGPICS, ConvertB);
  AddScreenFormatConverter(VL_CONVERT_FRAMES, ConvertC);
  AddScreenFormatConverter(VL_CONVERT_BRUSHES, ConvertA);
  AddScreenFormatConverter(VL_CONVERT_BRUSHES, ConvertFails);
  AddScreenFormatConverter(VL_CONVERT_BGPICS, ConvertB);
  gConverted.clear();
  EXPECT_EQ(RunScreenFormatConverters(nullptr, 0), ERR_BITMAP);
  EXPECT_EQ(gConverted, "ax");  // the first error stops the walk
  ResetLayerHooks();
  AddScreenFormatConverter(VL_CONVERT_FONTS, ConvertD);
  AddScreenFormatConverter(VL_CONVERT_FRAMES, ConvertC);
  AddScreenFormatConverter(VL_CONVERT_FRAMES, ConvertA);
  AddScreenFormatConverter(VL_CONVERT_BGPICS, ConvertB);
  gConverted.clear();
  EXPECT_EQ(RunScreenFormatConverters(nullptr, 0), 0);
  EXPECT_EQ(gConverted, "bcad");
  ResetLayerHooks();
}

}  // namespace
