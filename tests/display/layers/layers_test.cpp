#include "tests/display/core/display_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <set>
#include <utility>
#include <vector>

#include "display/clients.h"
#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/geometry.h"
#include "graphics/picture_engines.h"
#include "runtime/errors.h"
#include "graphics/bitmap.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

// Dirty-list merging: every pixel of every rectangle stays covered, and the
// result matches the one-pass merge worked out pixel set by pixel set.
TEST(DirtyRects, MergeKeepsEveryPixelCovered) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; round++) {
    vlDirtyRects list{};
    int n = 1 + static_cast<int>(rng() % 12);
    std::set<std::pair<int, int>> pixels;
    for (int i = 0; i < n; i++) {
      int x = rng() % 60, y = rng() % 60, w = 1 + rng() % 15, h = 1 + rng() % 15;
      AddDirtyRect(&list, x, y, w, h, 1);
      for (int yy = y; yy < y + h; yy++)
        for (int xx = x; xx < x + w; xx++) pixels.insert({xx, yy});
    }
    ASSERT_EQ(list.capacity, 1024);
    EXPECT_EQ(MergeDirtyRects(&list), n);
    std::set<std::pair<int, int>> covered;
    int live = 0;
    for (int i = 0; i < list.count; i++) {
      const int32_t* e = list.rects + 4 * i;
      if (e[0] == VL_DIRTY_MERGED) continue;
      live++;
      for (int yy = e[1]; yy <= e[3]; yy++)
        for (int xx = e[0]; xx <= e[2]; xx++) covered.insert({xx, yy});
    }
    EXPECT_GE(live, 1);
    for (const auto& p : pixels) ASSERT_TRUE(covered.count(p)) << p.first << "," << p.second;
    std::free(list.rects);
  }
}

TEST(DirtyRects, NeighboursOnePixelApartMergeTwoApartDoNot) {
  vlDirtyRects list{};
  AddDirtyRect(&list, 0, 0, 10, 10, 1);   // 0..9
  AddDirtyRect(&list, 10, 0, 6, 5, 1);    // touching: merges
  AddDirtyRect(&list, 30, 30, 5, 5, 1);   // 14 away from the merged box
  MergeDirtyRects(&list);
  EXPECT_EQ(list.rects[0], 0);
  EXPECT_EQ(list.rects[2], 15);
  EXPECT_EQ(list.rects[4], VL_DIRTY_MERGED);
  EXPECT_EQ(list.rects[8], 30);
  std::free(list.rects);
  // A full list grows by 1024 with grow and keeps every entry.
  vlDirtyRects full{};
  full.rects = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * 4));
  full.capacity = 1;
  AddDirtyRect(&full, 1, 2, 3, 4, 0);
  AddDirtyRect(&full, 5, 5, 1, 1, 1);
  EXPECT_EQ(full.count, 2);
  EXPECT_EQ(full.capacity, 1025);
  EXPECT_EQ(full.rects[0], 1);
  EXPECT_EQ(full.rects[3], 5);
  EXPECT_FALSE(IsAllDirty(full));
  // Without grow a full list cannot take the rectangle: rather than drop
  // it, the list turns into a full refresh, and growing later keeps that.
  full.count = full.capacity;
  AddDirtyRect(&full, 7, 7, 1, 1, 0);
  EXPECT_TRUE(IsAllDirty(full));
  AddDirtyRect(&full, 9, 9, 1, 1, 1);
  EXPECT_TRUE(IsAllDirty(full));
  EXPECT_EQ(full.capacity, 1025);
  ClearDirtyRects(&full);
  EXPECT_FALSE(HasDirtyRects(full));
  std::free(full.rects);
}

TEST(Rects, OperationsAgainstPixelSets) {
  std::mt19937 rng(3);
  for (int round = 0; round < 200; round++) {
    vlRectXYWH a{static_cast<int32_t>(rng() % 20), static_cast<int32_t>(rng() % 20),
                 static_cast<int32_t>(1 + rng() % 10), static_cast<int32_t>(1 + rng() % 10)};
    vlRectXYWH b{static_cast<int32_t>(rng() % 20), static_cast<int32_t>(rng() % 20),
                 static_cast<int32_t>(1 + rng() % 10), static_cast<int32_t>(1 + rng() % 10)};
    int common = 0;
    for (int y = 0; y < 40; y++)
      for (int x = 0; x < 40; x++)
        common += x >= a.x && x < a.x + a.width && y >= a.y && y < a.y + a.height && x >= b.x &&
                  x < b.x + b.width && y >= b.y && y < b.y + b.height;
    vlRectXYWH i;
    EXPECT_EQ(IntersectRects(a, b, &i), common > 0);
    if (common) { EXPECT_EQ(i.width * i.height, common); }
    EXPECT_EQ(RectsOverlap(a, b), common > 0);
    EXPECT_EQ(BoxesCollide(a.x, a.y, a.width, a.height, b.x, b.y, b.width, b.height), common > 0);
  }
  vlRectXYWH s = ScaleRect({3, 5, 10, 4}, 1.5, 2.0);
  EXPECT_EQ(s.x, 4);   // rint(4.5) = 4 (to even)
  EXPECT_EQ(s.width, static_cast<int32_t>(std::rint(12 * 1.5)) + 1 - 4);
  EXPECT_EQ(s.y, 10);
  EXPECT_EQ(s.height, 7);  // rint(8 * 2) + 1 - 10
}

TEST(Filters, RunInPriorityThenSlotOrder) {
  vlLayerFilter f[VL_LAYER_FILTERS] = {};
  f[0].active = 1;   // blur, priority 0
  f[7].active = 1;   // invert, priority 0
  f[6].active = 1;   // grayscale, 10
  f[6].priority = 10;
  f[15].active = 1;  // swirl, 200
  f[15].priority = 200;
  int order[VL_LAYER_FILTERS];
  ASSERT_EQ(LayerFilterOrder(f, 0, order), 4);
  EXPECT_EQ(order[0], 15);
  EXPECT_EQ(order[1], 6);
  EXPECT_EQ(order[2], 0);
  EXPECT_EQ(order[3], 7);
  ASSERT_EQ(LayerFilterOrder(f, 1, order), 1);
  EXPECT_EQ(order[0], 15);
  vlLayerFilter w{};
  SetFilterDefaults(17, &w, 1, 1);
  w.ints[0] = 99;
  SetFilterDefaults(17, &w, 1, 1);
  EXPECT_EQ(w.ints[0], 99);  // given arguments stay
  EXPECT_EQ(w.ints[1], 1);
  EXPECT_EQ(w.ints[2], 0);
  EXPECT_FLOAT_EQ(w.floats[1], 0.5f);
  EXPECT_STREQ(kLayerFilterNames[20], "quantize");
}

// Planes for collision tests: the pixel set is the reference model.
vlBitmap* MaskFrom(int w, int h, const std::set<std::pair<int, int>>& on) {
  vlBitmap* m = NewMaskPlane(nullptr, w, h, 1, nullptr, 0);
  auto* bits = reinterpret_cast<uint8_t*>(QueryBitmap(m, 4));
  intptr_t row = QueryBitmap(m, 2);
  for (const auto& p : on) bits[p.second * row + (p.first >> 3)] |= 0x80 >> (p.first & 7);
  return m;
}

TEST(Collision, PixelMasksAgainstBruteForce) {
  std::mt19937 rng(11);
  for (int round = 0; round < 60; round++) {
    int w1 = 3 + rng() % 12, h1 = 3 + rng() % 12, w2 = 3 + rng() % 12, h2 = 3 + rng() % 12;
    std::set<std::pair<int, int>> p1, p2;
    for (int k = 0; k < 6; k++) p1.insert({static_cast<int>(rng() % w1), static_cast<int>(rng() % h1)});
    for (int k = 0; k < 6; k++) p2.insert({static_cast<int>(rng() % w2), static_cast<int>(rng() % h2)});
    vlBitmap* m1 = MaskFrom(w1, h1, p1);
    vlBitmap* a2 = NewAlphaPlane(w2, h2, 1, nullptr, 0);
    ASSERT_NE(m1, nullptr);
    ASSERT_NE(a2, nullptr);
    auto* bytes = reinterpret_cast<uint8_t*>(QueryBitmap(a2, 3));
    for (const auto& p : p2) bytes[p.second * QueryBitmap(a2, 1) + p.first] = 77;
    vlCollisionObject a{}, b{};
    a.x = rng() % 10, a.y = rng() % 10, a.width = w1, a.height = h1, a.mask = m1;
    b.x = rng() % 10, b.y = rng() % 10, b.width = w2, b.height = h2, b.alpha = a2;
    bool expect = false;
    for (const auto& p : p1)
      expect |= p2.count({p.first + a.x - b.x, p.second + a.y - b.y}) > 0;
    EXPECT_EQ(CollidePixels(a, b), expect ? 1 : 0) << round;
    // Without planes the rectangles decide.
    vlCollisionObject c{}, d{};
    c.x = a.x, c.y = a.y, c.width = a.width, c.height = a.height;
    d.x = b.x, d.y = b.y, d.width = b.width, d.height = b.height;
    EXPECT_EQ(CollidePixels(c, d), BoxesCollide(a.x, a.y, w1, h1, b.x, b.y, w2, h2) ? 1 : 0);
    DeleteMaskPlane(m1);
    DeleteAlphaPlane(a2);
  }
}

class Layers : public DisplayTest {
 protected:
  vlDisplay* Open() {
    EXPECT_EQ(OpenLayersLib(L), 0);
    EXPECT_EQ(Run(".table 0 { width = 100, height = 80, color = 8421504 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    return GetDisplayByNumber(1);
  }
  void TearDown() override {
    ShutdownLayerSystem(L);
    DisplayTest::TearDown();
  }
  // A layer showing a solid picture (a drawn box), optionally masked.
  vlLayer* Add(int x, int y, int w, int h, uint32_t color, vlLayerOptions* options, vlBitmap* mask = nullptr) {
    vlBitmap* b = NewBitmap(w, h, 0, nullptr);
    FillBitmapRect(b, 0, 0, w, h, 0xFF000000u | color);
    vlLayerGeometry* g = NewLayerGeometry();
    g->x = x, g->y = y, g->width = w, g->height = h;
    vlLayer* layer = nullptr;
    EXPECT_EQ(AddLayer(L, VL_LAYER_BOX, nullptr, x, y, w, h, nullptr, options, b, mask, nullptr, g, -1, 0, &layer),
              0);
    return layer;
  }
};

TEST_F(Layers, RedrawComposesLayersOnTheWindow) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Run(".call hidelayer 1"), ERR_NOLAYERS);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  vlLayer* red = Add(10, 10, 30, 20, 0xFF0000, nullptr);
  vlLayerOptions half{};
  half.transparency = 128;
  strcpy(half.name, "blue");
  vlLayer* blue = Add(20, 15, 30, 20, 0x0000FF, &half);
  ASSERT_NE(red, nullptr);
  ASSERT_NE(blue, nullptr);
  EXPECT_EQ(CountLayers(d->bgpic), 2);
  EXPECT_EQ(FindLayerByName(d->bgpic, "BLUE"), 2);
  // Expected: blue at opacity 127 over red or grey.
  auto mix = [](uint32_t top, uint32_t under) {
    uint32_t out = 0;
    for (int s = 0; s < 24; s += 8) {
      int t = (top >> s) & 255, u = (under >> s) & 255;
      int v = (t * 127 + u * 128) / 255;
      out |= static_cast<uint32_t>(v) << s;
    }
    return out;
  };
  auto near = [](uint32_t a, uint32_t b) {
    for (int s = 0; s < 24; s += 8)
      if (std::abs(static_cast<int>((a >> s) & 255) - static_cast<int>((b >> s) & 255)) > 2) return false;
    return true;
  };
  EXPECT_EQ(WindowPixel(d, 12, 12), 0xFF0000u);
  EXPECT_TRUE(near(WindowPixel(d, 25, 20), mix(0x0000FF, 0xFF0000))) << std::hex << WindowPixel(d, 25, 20);
  EXPECT_TRUE(near(WindowPixel(d, 45, 30), mix(0x0000FF, 0x808080))) << std::hex << WindowPixel(d, 45, 30);
  EXPECT_EQ(WindowPixel(d, 60, 60), 0x808080u);
  // Hiding the red layer uncovers the background under the blue one.
  ASSERT_EQ(Run(".call hidelayer 1"), 0);
  EXPECT_EQ(WindowPixel(d, 12, 12), 0x808080u);
  EXPECT_TRUE(near(WindowPixel(d, 25, 20), mix(0x0000FF, 0x808080)));
  ASSERT_EQ(Run(".call showlayer 1"), 0);
  EXPECT_EQ(WindowPixel(d, 12, 12), 0xFF0000u);
  // Collision of the two layers' rectangles; a box off to the side misses.
  ASSERT_EQ(Run(".call collision 22 1 2 -> hit\n.call collision 47 1 60 60 5 5 -> miss"),
            0);
  EXPECT_EQ(Num("hit"), 1);
  EXPECT_EQ(Num("miss"), 0);
  EXPECT_EQ(Run(".call collision 15 1 2"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call removelayer \"blue\""), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 1);
  EXPECT_EQ(WindowPixel(d, 45, 30), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 25, 20), 0xFF0000u);
  EXPECT_EQ(Run(".call removelayer 5"), ERR_LAYERRANGE);
}

TEST_F(Layers, MaskedLayerShowsTheLayerBelowThroughItsHoles) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  Add(0, 0, 40, 40, 0x00FF00, nullptr);
  std::set<std::pair<int, int>> on;
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 20; x++)
      if ((x + y) % 2 == 0) on.insert({x, y});
  vlLayerOptions opts{};
  opts.filters[7].active = 1;  // invert: white becomes black
  vlLayer* top = Add(5, 5, 20, 20, 0xFFFFFF, &opts, MaskFrom(20, 20, on));
  ASSERT_NE(top, nullptr);
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 20; x++)
      ASSERT_EQ(WindowPixel(d, 5 + x, 5 + y), on.count({x, y}) ? 0x000000u : 0x00FF00u) << x << "," << y;
  ASSERT_EQ(Run(".call getlayeratpos 6 6 -> pos"), 0);
  EXPECT_EQ(Num("pos"), 2);
}


std::string Order(vlBGPic* pic) {
  std::string out;
  for (int i = 1; vlLayer* l = GetLayerByPos(pic, i); i++) out += l->name ? l->name : "?";
  return out;
}

TEST_F(Layers, StackingOrderCommands) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  const char* names[] = {"A", "B", "C", "D"};
  uint32_t colors[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};
  for (int i = 0; i < 4; i++) {
    vlLayerOptions o{};
    strcpy(o.name, names[i]);
    Add(10 + 5 * i, 10, 20, 20, colors[i], &o);
  }
  EXPECT_EQ(Order(d->bgpic), "ABCD");
  EXPECT_EQ(WindowPixel(d, 22, 15), 0x0000FFu);  // C over A and B
  ASSERT_EQ(Run(".call layertoback \"c\""), 0);
  EXPECT_EQ(Order(d->bgpic), "CBAD");
  EXPECT_EQ(WindowPixel(d, 22, 15), 0xFF0000u);  // now A is above C and B
  ASSERT_EQ(Run(".call layertofront 1"), 0);
  EXPECT_EQ(Order(d->bgpic), "DBAC");
  EXPECT_EQ(Run(".call swaplayers 2 \"B\""), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call swaplayers 1 4"), 0);
  EXPECT_EQ(Order(d->bgpic), "CBAD");
  EXPECT_EQ(Run(".call setlayerzpos 2 2"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call setlayerzpos 2 9"), 0);
  EXPECT_EQ(Order(d->bgpic), "CADB");
  ASSERT_EQ(Run(".call setlayerzpos \"B\" 1"), 0);
  EXPECT_EQ(Order(d->bgpic), "BCAD");
  EXPECT_EQ(WindowPixel(d, 12, 12), 0xFF0000u);
  EXPECT_EQ(Run(".call layertoback 7"), ERR_LAYERRANGE);
  EXPECT_EQ(Run(".call layertoback \"zz\""), ERR_FINDLAYER);
  // SetLayerName: position 0 names the topmost; names are unique.
  ASSERT_EQ(Run(".call setlayername 0 \"top\""), 0);
  EXPECT_EQ(FindLayerByName(d->bgpic, "TOP"), 4);
  EXPECT_EQ(Run(".call setlayername 1 \"a\""), kErrLayerNameUsed);
  EXPECT_EQ(FindLayerByName(d->bgpic, "B"), 1) << "a refused name keeps the old one";
  ASSERT_EQ(Run(".call setlayername 1 \"b\""), 0);  // its own name in other case
  EXPECT_STREQ(GetLayerByPos(d->bgpic, 1)->name, "b");
}

// A layer swapped with one wholly off the BGPic still changes places with
// the layers between them: the window shows it at its new height.
TEST_F(Layers, SwappingWithALayerOffTheBGPicRestacksTheOneOnIt) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  Add(10, 10, 20, 20, 0xFF0000, nullptr);
  Add(15, 15, 20, 20, 0x00FF00, nullptr);
  Add(200, 200, 10, 10, 0x0000FF, nullptr);
  EXPECT_EQ(WindowPixel(d, 20, 20), 0x00FF00u);
  ASSERT_EQ(Run(".call swaplayers 1 3"), 0);
  EXPECT_EQ(WindowPixel(d, 20, 20), 0xFF0000u);
  ASSERT_EQ(Run(".call layertoback 3"), 0);
  EXPECT_EQ(WindowPixel(d, 20, 20), 0x00FF00u);
}

// Looking layers up by position steps from the last one found; after every
// change of the stack each position must still name the layer a walk from
// the bottom finds there, in any order of lookups.
TEST_F(Layers, PositionLookupsFollowEveryChangeOfTheStack) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  std::mt19937 rng(11);
  int made = 0;
  auto add = [&] {
    vlLayerOptions o{};
    snprintf(o.name, sizeof o.name, "L%d", made++);
    Add(static_cast<int>(rng() % 60), static_cast<int>(rng() % 60), 8, 8, 0xFF0000, &o);
  };
  for (int i = 0; i < 12; i++) add();
  const char* commands[] = {"layertoback", "layertofront", "removelayer"};
  for (int round = 0; round < 60; round++) {
    const int n = CountLayers(d->bgpic);
    ASSERT_GT(n, 0);
    const int a = 1 + static_cast<int>(rng() % n), b = 1 + static_cast<int>(rng() % n);
    switch (rng() % 5) {
      case 0:
      case 1:
      case 2: ASSERT_EQ(Run(std::string(".call ") + commands[rng() % 3] + " " + std::to_string(a)), 0); break;
      case 3:
        if (a != b) {
          ASSERT_EQ(Run(".call swaplayers " + std::to_string(a) + " " + std::to_string(b)), 0);
        }
        break;
      default: add(); break;
    }
    if (CountLayers(d->bgpic) < 3) add();
    std::vector<vlLayer*> walk;
    for (vlNode* node = d->bgpic->layers.head; node->succ; node = node->succ)
      walk.push_back(reinterpret_cast<vlLayer*>(node));
    const int count = static_cast<int>(walk.size());
    for (int k = 0; k < 3 * count; k++) {
      const int pos = 1 + static_cast<int>(rng() % (count + 2));
      ASSERT_EQ(GetLayerByPos(d->bgpic, pos), pos <= count ? walk[pos - 1] : nullptr)
          << "round " << round << " position " << pos;
    }
    EXPECT_EQ(GetLayerByPos(d->bgpic, 0), nullptr);
  }
}

TEST_F(Layers, TranslateBorderShadowAndFreeLayers) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  Add(20, 20, 10, 10, 0xFF0000, nullptr);
  ASSERT_EQ(Run(".call translatelayer 1 5 -3"), 0);
  EXPECT_EQ(WindowPixel(d, 22, 22), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 25, 17), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 34, 26), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 35, 26), 0x808080u);
  // A plain rectangle gets a ring of the border size around it.
  EXPECT_EQ(Run(".call setlayerborder 1 0 255 0"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call setlayerborder 1 1 255 3"), 0);
  EXPECT_EQ(WindowPixel(d, 22, 14), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 37, 29), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 38, 29), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 25, 17), 0xFF0000u);
  ASSERT_EQ(Run(".call setlayerborder 1 0"), 0);
  EXPECT_EQ(WindowPixel(d, 22, 14), 0x808080u);
  // An opaque black shadow to the right, 5 pixels away, radius 1.
  ASSERT_EQ(Run(".call setlayershadow 1 1 0 1 5 2"), 0);
  vlLayer* l = GetLayerByPos(d->bgpic, 1);
  ASSERT_TRUE(l->shadow.on);
  EXPECT_EQ(l->shadow.direction, 2u);
  int32_t x, y, w, h;
  GetLayerOuterRect(L, l, l->geometry[2], &x, &y, &w, &h);
  EXPECT_EQ(x, 25);
  EXPECT_EQ(y, 17 - 1);
  EXPECT_EQ(w, 10 + 5 + 1);
  EXPECT_EQ(h, 10 + 2);
  EXPECT_EQ(WindowPixel(d, 37, 22), 0x000000u);  // right of the body, inside the shadow
  EXPECT_EQ(WindowPixel(d, 30, 22), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 22, 22), 0x808080u);  // nothing to the left
  EXPECT_EQ(Run(".call setlayershadow 1 1 0 0.5"), ERR_WRONGUSAGE);
  // FreeLayers keeps what the layers showed on the screen.
  ASSERT_EQ(Run(".call freelayers"), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 0);
  EXPECT_EQ(WindowPixel(d, 30, 22), 0xFF0000u);
}

TEST_F(Layers, UndoRemovesTheMostRecentLayerOfATypeAndId) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  vlLayerOptions a{}, b{}, c{};
  strcpy(a.name, "a");
  strcpy(b.name, "b");
  strcpy(c.name, "c");
  Add(0, 0, 10, 10, 0xFF0000, &a);
  Add(5, 5, 10, 10, 0x00FF00, &b);
  Add(50, 50, 10, 10, 0x0000FF, &c);
  ASSERT_EQ(Run(".call undo 14 nil 2"), 0);
  EXPECT_EQ(Order(d->bgpic), "ac");
  EXPECT_EQ(WindowPixel(d, 7, 7), 0xFF0000u);
  ASSERT_EQ(Run(".call undo 14 nil 9"), 0);  // no such level: nothing changes
  ASSERT_EQ(Run(".call undo 3"), 0);          // no brush layers
  EXPECT_EQ(Order(d->bgpic), "ac");
  ASSERT_EQ(Run(".call undo 14"), 0);
  EXPECT_EQ(Order(d->bgpic), "a");
  EXPECT_EQ(WindowPixel(d, 55, 55), 0x808080u);
}


// A picture whose every pixel differs, so a misplaced sample shows.
vlBitmap* Pattern(int w, int h) {
  vlBitmap* b = NewBitmap(w, h, 0, nullptr);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) WriteBitmapPixel(b, x, y, 0xFF000000u | (x * 8) << 16 | (y * 8) << 8 | 0x40, 0);
  return b;
}

class LayerPipeline : public Layers {
 protected:
  vlLayer* AddPattern(int x, int y, int w, int h, const char* name) {
    vlLayerGeometry* g = NewLayerGeometry();
    g->x = x, g->y = y, g->width = w, g->height = h;
    vlLayerOptions o{};
    strcpy(o.name, name);
    vlLayer* layer = nullptr;
    EXPECT_EQ(AddLayer(L, VL_LAYER_BOX, nullptr, x, y, w, h, nullptr, &o, Pattern(w, h), nullptr, nullptr, g, -1, 0,
                       &layer),
              0);
    return layer;
  }
  // The window shows exactly the picture (where its mask is set) at (x, y)
  // and the grey background around it.
  void ExpectPicture(vlDisplay* d, vlBitmap* image, vlBitmap* mask, int x, int y, int w, int h) {
    int bad = 0;
    for (int yy = -2; yy < h + 2; yy++)
      for (int xx = -2; xx < w + 2; xx++) {
        bool inside = xx >= 0 && yy >= 0 && xx < w && yy < h && (!mask || ReadBitmapPixel(mask, xx, yy, 1));
        uint32_t want = inside ? (ReadBitmapPixel(image, xx, yy, 0) & 0xFFFFFF) : 0x808080u;
        uint32_t got = WindowPixel(d, x + xx, y + yy);
        if (got != want && bad++ < 5) ADD_FAILURE() << xx << "," << yy << std::hex << " got " << got << " want " << want;
      }
    EXPECT_EQ(bad, 0);
  }
};

TEST(LayerTransform, MatrixFromSizeScaleAndAngle) {
  vlLayerTransform t;
  DefaultLayerTransform(&t);
  BuildTransformMatrix(&t, 0, 0, 20, 10, 1.0, 1.0, 90);
  // 90 degrees clockwise on screen: x' = -y, y' = x.
  EXPECT_NEAR(t.a, 0, 1e-12);
  EXPECT_DOUBLE_EQ(t.b, -1);
  EXPECT_DOUBLE_EQ(t.c, 1);
  EXPECT_NEAR(t.d, 0, 1e-12);
  BuildTransformMatrix(&t, 40, 0, 20, 10, 3.0, 3.0, 0);
  EXPECT_DOUBLE_EQ(t.a, 2.0);  // target size wins over the scale
  EXPECT_DOUBLE_EQ(t.d, 1.0);
  EXPECT_EQ(t.b, 0);
  BuildTransformMatrix(&t, 20, 10, 20, 10, 1.0, 1.0, 0);
  EXPECT_TRUE(IsIdentityTransform(&t));
  // A uniform scale of 2 turned by 30 degrees is no general matrix.
  BuildTransformMatrix(&t, 0, 0, 20, 10, 2.0, 2.0, 30);
  t.generalMatrix = 0;
  AngleFromMatrix(&t);
  EXPECT_EQ(t.generalMatrix, 0u);
  EXPECT_NEAR(t.derivedScaleX, 2.0, 0.01);
  EXPECT_NEAR(t.derivedScaleY, 2.0, 0.01);
  BuildTransformMatrix(&t, 0, 0, 20, 10, 1.0, 3.0, 30);
  AngleFromMatrix(&t);
  EXPECT_EQ(t.generalMatrix, 1u);
}

TEST_F(LayerPipeline, RotatedAndScaledLayersMatchTheRenderersOutput) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  vlLayer* layer = AddPattern(30, 20, 12, 8, "p");
  ASSERT_NE(layer, nullptr);
  ASSERT_EQ(Run(".call rotatelayer \"p\" 90"), 0);
  ASSERT_NE(layer->geometry[1], layer->geometry[0]);
  // The affine renderer's own output, placed about the anchor (top left).
  vlBitmap* source = Pattern(12, 8);
  const double m[4] = {layer->transform.a, layer->transform.c, layer->transform.b, layer->transform.d};
  vlBitmap *ei = nullptr, *em = nullptr, *ea = nullptr;
  int32_t tw, th, ox, oy;
  ASSERT_EQ(TransformBitmap(source, nullptr, nullptr, 0, 0, 12, 8, m, 0, 0, &ei, &em, &ea, &tw, &th), 0);
  FitRotatedRect(30, 20, 12, 8, 0, 0, m, &ox, &oy, nullptr, nullptr);
  EXPECT_EQ(tw, 8);
  EXPECT_EQ(th, 12);
  const vlLayerGeometry* g = layer->geometry[2];
  EXPECT_EQ(g->drawnX, ox);
  EXPECT_EQ(g->drawnY, oy);
  ExpectPicture(d, ei, em, ox, oy, tw, th);
  DeleteBitmap(ei);
  if (em) DeleteMaskPlane(em);
  // Scaling to 24 x 24 goes through the scaler.
  ASSERT_EQ(Run(".call rotatelayer 1 360"), 0);
  ASSERT_EQ(Run(".call scalelayer 1 24 24"), 0);
  EXPECT_DOUBLE_EQ(layer->transform.a, 2.0);
  EXPECT_DOUBLE_EQ(layer->transform.d, 3.0);
  ASSERT_EQ(ScaleBitmap(source, nullptr, nullptr, 0, 0, nullptr, 12, 8, 24, 24, 0, 0, &ei, &em, &ea), 0);
  ExpectPicture(d, ei, nullptr, 30, 20, 24, 24);
  DeleteBitmap(ei);
  // Back to the own size: the identity, one shared record, the plain picture.
  ASSERT_EQ(Run(".call scalelayer 1 12 8"), 0);
  EXPECT_TRUE(IsIdentityTransform(&layer->transform));
  EXPECT_EQ(layer->geometry[1], layer->geometry[0]);
  EXPECT_EQ(layer->geometry[2], layer->geometry[0]);
  ExpectPicture(d, source, nullptr, 30, 20, 12, 8);
  // Anchored in the middle, a half-size layer shrinks about its centre.
  ASSERT_EQ(Run(".call setlayeranchor 1 0.5 0.5\n.call scalelayer 1 \"50%\" \"50%\""), 0);
  EXPECT_EQ(layer->transform.targetWidth, 0);
  EXPECT_DOUBLE_EQ(layer->transform.scaleX, 0.5);
  ASSERT_EQ(ScaleBitmap(source, nullptr, nullptr, 0, 0, nullptr, 12, 8, 6, 4, 0, 0, &ei, &em, &ea), 0);
  EXPECT_EQ(layer->geometry[2]->drawnWidth, 6);
  ExpectPicture(d, ei, nullptr, layer->geometry[2]->drawnX, layer->geometry[2]->drawnY, 6, 4);
  EXPECT_NEAR(layer->geometry[2]->drawnX + 3, 30, 1);
  DeleteBitmap(ei);
  DeleteBitmap(source);
  EXPECT_EQ(Run(".call scalelayer 1 0 5"), 0);  // 0: the source width
  EXPECT_EQ(Run(".call scalelayer 1 -3 5"), ERR_BADDIMENSIONS);
  EXPECT_EQ(Run(".call transformlayer 1 0 1 1 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call setlayeranchor 1 1.5 0"), ERR_WRONGUSAGE);
}

TEST_F(LayerPipeline, StyleTablesAndTheirMirror) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  vlLayer* a = AddPattern(10, 10, 12, 8, "a");
  Add(40, 40, 10, 10, 0xFF0000, nullptr);
  ASSERT_EQ(Run(".table 0 { transparency = \"50%\", x = 50, y = 5, z = 2, rotate = 450 }\n"
                ".call base=1 setlayerstyle \"a\" r0"),
            0);
  EXPECT_EQ(a->transparency, 127u);
  EXPECT_DOUBLE_EQ(a->transform.angle, 90);
  EXPECT_EQ(GetLayerIndex(a), 2);
  EXPECT_EQ(a->geometry[0]->x, 50);
  ASSERT_EQ(Run(".call getlayerstyle \"a\" -> st\n"
                "getglobal 0 \"st\"\ngetfield 1 0 \"rotate\"\nsetglobal 1 \"r\"\n"
                "getfield 1 0 \"transparency\"\nsetglobal 1 \"t\"\ngetfield 1 0 \"z\"\nsetglobal 1 \"z\"\n"
                "getfield 1 0 \"x\"\nsetglobal 1 \"x\""),
            0);
  EXPECT_EQ(Num("r"), 90);
  EXPECT_EQ(Num("t"), 127);
  EXPECT_EQ(Num("z"), 2);
  EXPECT_EQ(Num("x"), 50);
  // Hidden by table: the background shows again where the layer was.
  ASSERT_EQ(Run(".table 0 { rotate = 0, transparency = 0, hidden = 1 }\n.call base=1 setlayerstyle 2 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 51, 6), 0x808080u);
  ASSERT_EQ(Run(".table 0 { hidden = 0 }\n.call base=1 setlayerstyle 2 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 50, 5), 0x000040u);
  EXPECT_EQ(Run(".call setlayerstyle 2 5"), ERR_TABEXPECTED);
  EXPECT_EQ(Run(".table 0 { type = 50 }\n.call base=1 setlayerstyle 2 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { hidden = 1 }\n.call base=1 setlayerstyle \"nobody\" r0"), ERR_FINDLAYER);
  // A pair applied before a failing one stays, and the window shows it.
  EXPECT_EQ(Run(".table 0 { x = 20, y = 30 }\n.table 1 { type = 50 }\n.call base=2 setlayerstyle 2 r0 2 r1"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(WindowPixel(d, 20, 30), 0x000040u);
  EXPECT_EQ(WindowPixel(d, 51, 6), 0x808080u);
}

TEST_F(LayerPipeline, FiltersFromScripts) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  vlLayer* l = Add(10, 10, 10, 10, 0x00FF00, nullptr);
  ASSERT_EQ(Run(".table 0 { { name = \"INVERT\" } }\n.call base=1 setlayerfilter 1 r0"), 0);
  EXPECT_TRUE(l->filters[7].active);
  EXPECT_EQ(WindowPixel(d, 15, 15), 0xFF00FFu);
  ASSERT_EQ(Run(".call setlayerfilter 1 0"), 0);
  EXPECT_FALSE(LayerHasFilters(l->filters));
  EXPECT_EQ(WindowPixel(d, 15, 15), 0x00FF00u);
  EXPECT_EQ(Run(".call setlayerfilter 1 5"), ERR_WRONGUSAGE);
  // Defaults, percentages, priorities, disabled entries.
  ASSERT_EQ(Run(".table 0 { { name = \"blur\" }, { name = \"tint\", priority = 300, args = { 16711680, \"50%\" } },"
                " { name = \"swirl\", disable = 1 } }\n.call base=1 setlayerfilter 1 r0"),
            0);
  EXPECT_FLOAT_EQ(l->filters[0].floats[0], 5.0f);
  EXPECT_EQ(l->filters[16].ints[0], 0xFF0000);
  EXPECT_EQ(l->filters[16].ints[1], 127);
  EXPECT_EQ(l->filters[16].priority, 300 & 255);
  EXPECT_FALSE(l->filters[15].active);
  EXPECT_EQ(l->geometricFilters, 0u);
  // Errors name what failed and leave the slots as they were.
  EXPECT_EQ(Run(".table 0 { { name = \"sparkle\" } }\n.call base=1 setlayerfilter 1 r0"), kErrFilterUnknown);
  EXPECT_STREQ(GetErrorArgument(), "sparkle");
  EXPECT_EQ(Run(".table 0 { { priority = 3 } }\n.call base=1 setlayerfilter 1 r0"), kErrFilterNoName);
  EXPECT_EQ(Run(".table 0 { 5 }\n.call base=1 setlayerfilter 1 r0"), ERR_TABEXPECTED2);
  EXPECT_EQ(Run(".table 0 { { name = \"blur\", args = { \"x\" } } }\n.call base=1 setlayerfilter 1 r0"),
            ERR_NUMTABLEARG);
  EXPECT_TRUE(l->filters[0].active);
  ASSERT_EQ(Run(".table 0 { { name = \"xflip\" } }\n.call base=1 setlayerfilter 1 r0"), 0);
  EXPECT_EQ(l->geometricFilters, 1u);
}

// Layer sources the way an object library registers them: insert shows a
// solid picture of the id's colour.
int InsertSolid(vlVMState* L, vlObjectId id, int32_t x, int32_t y, int32_t position, uint32_t flags, vlLayer** out) {
  vlBitmap* b = NewBitmap(10, 10, 0, nullptr);
  FillBitmapRect(b, 0, 0, 10, 10, 0xFF000000u | static_cast<uint32_t>(id.number));
  vlLayerGeometry* g = NewLayerGeometry();
  g->x = x, g->y = y, g->width = 10, g->height = 10;
  return AddLayer(L, VL_LAYER_BRUSH, &id, x, y, 10, 10, nullptr, nullptr, b, nullptr, nullptr, g, position, flags,
                  out);
}
vlLayerSource SourceWith(decltype(vlLayerSource::insert) insert, decltype(vlLayerSource::control) control) {
  vlLayerSource s{};
  s.insert = insert;
  s.control = control;
  return s;
}
const vlLayerSource kSolidSource = SourceWith(InsertSolid, nullptr);

TEST_F(LayerPipeline, InsertLayerAndMoveLists) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  EXPECT_EQ(Run(".call insertlayer 1 3 255 0 0"), ERR_WRONGUSAGE);  // no brush library
  RegisterLayerSource(VL_LAYER_BRUSH, &kSolidSource);
  vlLayerOptions a{}, b{};
  strcpy(a.name, "A");
  strcpy(b.name, "B");
  Add(0, 0, 10, 10, 0x111111, &a);
  Add(60, 60, 10, 10, 0x222222, &b);
  EXPECT_EQ(Run(".call insertlayer -1 3 255 0 0"), ERR_INVINSERT);
  EXPECT_EQ(Run(".call insertlayer 1 15 255 0 0"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call insertlayer 0 3 255 30 30"), 0);  // in front of all
  ASSERT_EQ(Run(".call insertlayer 2 3 65280 5 5"), 0);
  ASSERT_EQ(Run(".call insertlayer 99 3 16711680 40 40 1"), 0);  // hidden, on top
  EXPECT_EQ(Order(d->bgpic), "A?B??");
  EXPECT_EQ(GetLayerByPos(d->bgpic, 2)->creationId.number, 65280);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 4)->creationId.number, 255);
  EXPECT_EQ(WindowPixel(d, 35, 35), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 7, 7), 0x00FF00u);  // inserted above A
  EXPECT_EQ(WindowPixel(d, 45, 45), 0x808080u);  // hidden
  EXPECT_TRUE(GetLayerByPos(d->bgpic, 5)->hidden);
  // A move list: a layer moved, one hidden, a brush moved; one refresh.
  ASSERT_EQ(Run(".call addmove 7 22 \"B\" 20 50\n.call addmove 7 25 1\n.call addmove 7 3 255 70 10\n"
                ".call addmove nil 26 5 -> auto"),
            0);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 3)->geometry[0]->x, 60);  // nothing moves before DoMove
  ASSERT_EQ(Run(".call domove 7"), 0);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 3)->geometry[0]->x, 20);
  EXPECT_EQ(WindowPixel(d, 25, 55), 0x222222u);
  EXPECT_EQ(WindowPixel(d, 65, 65), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 2, 2), 0x808080u);  // A hidden
  EXPECT_EQ(WindowPixel(d, 75, 15), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 35, 35), 0x808080u);
  ASSERT_EQ(Run("getglobal 1 \"auto\"\n.call base=0 domove r1"), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 4);
  // Limits and missing lists.
  std::string many;
  for (int i = 0; i < 512; i++) many += ".call addmove 8 25 1\n";
  ASSERT_EQ(Run(many), 0);
  EXPECT_EQ(Run(".call addmove 8 25 1"), ERR_INTERNAL);
  ASSERT_EQ(Run(".call clearmove 8"), 0);
  EXPECT_EQ(Run(".call clearmove 8"), 1182);
  EXPECT_EQ(Run(".call domove 9"), 1182);
  // Video control needs a video layer.
  EXPECT_EQ(Run(".call pauselayer 1"), ERR_BADLAYERTYPE);
  EXPECT_EQ(Run(".call setlayervolume 1 \"50%\""), ERR_BADLAYERTYPE);
  RegisterLayerSource(VL_LAYER_BRUSH, nullptr);
}

// Records the rectangles display 1 sends to its window.
vlDisplayClient* RecordBlits(std::vector<std::vector<int32_t>>* blits) {
  return AddDisplayClient(
      vlObjectId{1, nullptr},
      [](void*, uint32_t code, const int32_t* args, void* user) {
        if (code == 0)
          static_cast<std::vector<std::vector<int32_t>>*>(user)->push_back({args[0], args[1], args[2], args[3]});
      },
      blits, nullptr, 0);
}

// A move list shows its changes in one refresh per merged area: a brush
// inserted below the others is not drawn on its own beforehand.
TEST_F(LayerPipeline, MoveListShowsAnInsertedBrushInItsOneRefresh) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  RegisterLayerSource(VL_LAYER_BRUSH, &kSolidSource);
  vlLayerOptions a{};
  strcpy(a.name, "A");
  Add(0, 0, 10, 10, 0x111111, &a);
  std::vector<std::vector<int32_t>> blits;
  vlDisplayClient* client = RecordBlits(&blits);
  ASSERT_NE(client, nullptr);
  ASSERT_EQ(Run(".call addmove 7 24 65280 40 40 1\n.call domove 7"), 0);
  RemoveDisplayClient(client);
  EXPECT_EQ(Order(d->bgpic), "?A");
  EXPECT_EQ(WindowPixel(d, 45, 45), 0x00FF00u);
  ASSERT_EQ(blits.size(), 1u);
  EXPECT_EQ(blits[0], (std::vector<int32_t>{40, 40, 10, 10}));
  RegisterLayerSource(VL_LAYER_BRUSH, nullptr);
}

// EndSelect repaints what changed while the BGPic was selected, each
// merged group once, not the whole window; a layer added meanwhile shows
// from then on.
TEST_F(LayerPipeline, EndSelectRepaintsTheMergedChangesOnly) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  RegisterLayerSource(VL_LAYER_BRUSH, &kSolidSource);
  Add(0, 0, 10, 10, 0x111111, nullptr);
  Add(60, 0, 10, 10, 0x222222, nullptr);
  std::vector<std::vector<int32_t>> blits;
  vlDisplayClient* client = RecordBlits(&blits);
  ASSERT_NE(client, nullptr);
  ASSERT_EQ(Run(".call selectbgpic nil\n.call showlayer 1 4 0\n.call showlayer 2 60 30"), 0);
  Add(30, 50, 10, 10, 0x333333, nullptr);
  EXPECT_TRUE(blits.empty()) << "drawn before EndSelect";
  ASSERT_EQ(Run(".call endselect"), 0);
  RemoveDisplayClient(client);
  // Each move covers the layer's old and new places; the new layer is a
  // third area; nothing else of the 100 x 80 window goes out.
  std::sort(blits.begin(), blits.end());
  EXPECT_EQ(blits, (std::vector<std::vector<int32_t>>{{0, 0, 14, 10}, {30, 50, 10, 10}, {60, 0, 10, 40}}));
  EXPECT_EQ(WindowPixel(d, 12, 5), 0x111111u);
  EXPECT_EQ(WindowPixel(d, 2, 5), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 65, 35), 0x222222u);
  EXPECT_EQ(WindowPixel(d, 65, 5), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 35, 55), 0x333333u);
  RegisterLayerSource(VL_LAYER_BRUSH, nullptr);
}

// Move lists among many: each found by number or handle, freed from the
// head, middle and tail, a freed number made afresh; unknown ids keep
// their errors.
TEST_F(Layers, ManyMoveListsByIdentifier) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  Add(0, 0, 10, 10, 0xFF0000, nullptr);
  std::string make;
  for (int i = 1; i <= 200; i++) make += ".call addmove " + std::to_string(i) + " 22 1 " + std::to_string(i) + " 3\n";
  ASSERT_EQ(Run(make + ".call addmove nil 22 1 30 31 -> auto"), 0);
  auto x = [&] { return GetLayerByPos(d->bgpic, 1)->geometry[0]->x; };
  ASSERT_EQ(Run(".call clearmove 1\n.call clearmove 100\n.call clearmove 200\n.call domove 150"), 0);
  EXPECT_EQ(x(), 150);
  for (int gone : {1, 100, 200}) {
    EXPECT_EQ(Run(".call domove " + std::to_string(gone)), 1182);
    EXPECT_EQ(Run(".call clearmove " + std::to_string(gone)), 1182);
  }
  char text[kErrorTextSize];
  GetErrorText(1182, text, sizeof text);
  EXPECT_STREQ(text, "Could not find move queue 200!");
  ASSERT_EQ(Run(".call domove $auto"), 0);
  EXPECT_EQ(x(), 30);
  ASSERT_EQ(Run(".call clearmove $auto"), 0);
  EXPECT_EQ(Run(".call domove $auto"), ERR_FINDARRAY);
  EXPECT_EQ(Run(".call clearmove $auto"), ERR_FINDARRAY);
  // The number made again is a new list holding only its new entry.
  ASSERT_EQ(Run(".call addmove 100 22 1 7 8\n.call domove 100"), 0);
  EXPECT_EQ(x(), 7);
  ASSERT_EQ(Run(".call domove 199"), 0);
  EXPECT_EQ(x(), 199);
}

vlLayer* gSelected;
int32_t gSelectedWidth;
int SelectHandler(vlVMState*, vlLayer* layer, uint32_t, int32_t, int32_t, int32_t, vlBitmap* image, int32_t width,
                  int32_t) {
  gSelected = image ? layer : nullptr;
  gSelectedWidth = width;
  return 0;
}

TEST_F(LayerPipeline, SelectLayerHandsTheLayersPicturesOn) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  vlLayer* l = AddPattern(0, 0, 12, 8, "p");
  EXPECT_EQ(Run(".call selectlayer 1"), ERR_WRONGUSAGE);  // nobody draws into layers
  SetSelectLayerHandler(SelectHandler);
  EXPECT_EQ(Run(".call selectlayer 1 0 2"), ERR_NOANMLAYER);
  EXPECT_EQ(Run(".call selectlayer 4"), ERR_LAYERRANGE);
  ASSERT_EQ(Run(".call selectlayer \"p\""), 0);
  EXPECT_EQ(gSelected, l);
  EXPECT_EQ(gSelectedWidth, 12);
  SetSelectLayerHandler(nullptr);
}

TEST_F(LayerPipeline, LayerScalingGivesDisplayRecords) {
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".table 0 { width = 100, height = 80, color = 8421504, scalemode = 2, scalewidth = 200,"
                " scaleheight = 160 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1\n.call enablelayers"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(DisplayScalesLayers(d));
  vlLayerGeometry* g = NewLayerGeometry();
  g->x = 10, g->y = 5, g->width = 12, g->height = 8;
  vlLayer* layer = nullptr;
  ASSERT_EQ(AddLayer(L, VL_LAYER_BOX, nullptr, 10, 5, 12, 8, nullptr, nullptr, Pattern(12, 8), nullptr, nullptr, g,
                     -1, VL_ADDLAYER_DISPLAYSCALED, &layer),
            0);
  ASSERT_NE(layer->geometry[2], layer->geometry[0]);
  EXPECT_EQ(layer->geometry[1], layer->geometry[0]);
  const vlLayerGeometry* g2 = layer->geometry[2];
  EXPECT_EQ(g2->drawnX, 20);
  EXPECT_EQ(g2->drawnY, 10);
  EXPECT_EQ(g2->drawnWidth, 24);
  EXPECT_EQ(g2->drawnHeight, 16);
  vlBitmap* source = Pattern(12, 8);
  vlBitmap *ei = nullptr, *em = nullptr, *ea = nullptr;
  ASSERT_EQ(ScaleBitmap(source, nullptr, nullptr, 0, 0, nullptr, 12, 8, 24, 16, d->smoothScale, 0, &ei, &em, &ea), 0);
  ExpectPicture(d, ei, nullptr, 20, 10, 24, 16);
  DeleteBitmap(ei);
  DeleteBitmap(source);
  // Moving keeps the display record in step.
  ASSERT_EQ(Run(".call translatelayer 1 5 0"), 0);
  EXPECT_EQ(layer->geometry[2]->drawnX, 30);
  EXPECT_EQ(Run(".call disablelayers"), kErrLayerScaling);

  // Rebuilt for a display that is not the current one: the layer's own
  // routine is told which display and picture it draws for, the current
  // target stays where it is all along, and the display record comes out
  // as before.
  ASSERT_EQ(Run(".table 0 { width = 40, height = 30 }\n.call base=1 createdisplay 2 r0\n.call opendisplay 2"), 0);
  vlDisplay* other = GetDisplayByNumber(2);
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(CurrentDisplay(), other);
  vlBGPic* otherOutput = vlCurrentOutput;
  ASSERT_NE(otherOutput, d->bgpic);
  static struct {
    int calls;
    vlDrawingFor on, current;
  } seen;
  seen = {};
  vlLayerSource own{};
  own.rebuild = [](vlVMState*, vlLayer*, const vlDrawingFor& on, vlLayerGeometry*, const vlLayerTransform*, uint32_t,
                   vlLayerRect*) {
    seen.calls++;
    seen.on = on;
    seen.current = {CurrentDisplay(), vlCurrentOutput};
    return 0;
  };
  const vlLayerSource* boxes = FindLayerSource(VL_LAYER_BOX);
  RegisterLayerSource(VL_LAYER_BOX, &own);
  EXPECT_EQ(RebuildBGPicLayersForDisplay(L, d, d->bgpic), 0);
  RegisterLayerSource(VL_LAYER_BOX, boxes);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.on.display, d);
  EXPECT_EQ(seen.on.output, d->bgpic);
  EXPECT_EQ(seen.current.display, other);
  EXPECT_EQ(seen.current.output, otherOutput);
  EXPECT_EQ(CurrentDisplay(), other);
  EXPECT_EQ(vlCurrentOutput, otherOutput);
  ASSERT_EQ(RebuildBGPicLayersForDisplay(L, d, d->bgpic), 0);
  EXPECT_EQ(layer->geometry[2]->drawnX, 30);
  EXPECT_EQ(layer->geometry[2]->drawnY, 10);
  EXPECT_EQ(layer->geometry[2]->drawnWidth, 24);
  EXPECT_EQ(layer->geometry[2]->drawnHeight, 16);

  // A video frame for the scaled display while the unscaled one is
  // current: it reaches the scaled display's window, its shadow moved by
  // 4 x 2 display pixels there (not 4 x 1 as the current display would
  // scale it), the current display's window and every setting untouched.
  layer->shadow = {1, 0x00000000u, 4, 3, 0.0, 0.0};
  ReleaseLayerGeometryCaches(layer);
  const uint32_t typeBefore = d->outputType, layersBefore = d->layersOn;
  const uint32_t otherPixels[2] = {WindowPixel(other, 31, 11), WindowPixel(other, 36, 26)};
  auto frame = [](uint32_t argb) {
    vlBitmap* b = NewBitmap(12, 8, 0, nullptr);
    FillBitmapRect(b, 0, 0, 12, 8, argb);
    return b;
  };
  ASSERT_EQ(ReplaceLayerWithFrame(L, d, &layer, frame(0xFF0000FFu)), 0);
  auto check = [&](uint32_t body, const char* what) {
    EXPECT_EQ(WindowPixel(d, 35, 15), body) << what;
    // The layer's display record is 30, 10, 24 x 16: its shadow covers
    // 38 .. 61 by 18 .. 33, beyond the one moved by 4 (ending at 57, 29).
    EXPECT_EQ(WindowPixel(d, 60, 32), 0x000000u) << what;
    EXPECT_EQ(WindowPixel(d, 36, 32), 0x808080u) << what;
    EXPECT_EQ(WindowPixel(other, 31, 11), otherPixels[0]) << what;
    EXPECT_EQ(WindowPixel(other, 36, 26), otherPixels[1]) << what;
    EXPECT_EQ(CurrentDisplay(), other) << what;
    EXPECT_EQ(vlCurrentOutput, otherOutput) << what;
    EXPECT_EQ(d->outputType, typeBefore) << what;
    EXPECT_EQ(d->layersOn, layersBefore) << what;
  };
  check(0x0000FFu, "replaced");
  // The frame drawn into the layer's picture in place, redrawn where the
  // display shows it.
  FillBitmapRect(layer->geometry[0]->image, 0, 0, 12, 8, 0xFF00FF00u);
  RedrawLayerWhereShown(L, d, d->bgpic, layer);
  check(0x00FF00u, "redrawn");
}

struct SpriteBox {
  int calls = 0;
  int32_t lastFlags = -1;
} gSpriteBox;

void PaintSprite(vlVMState*, vlDisplay*, vlBGPic*, vlBitmap* dest, int32_t x, int32_t y, int32_t w, int32_t h,
                 int32_t flags) {
  gSpriteBox.calls++;
  gSpriteBox.lastFlags = flags;
  vlRectXYWH cut;
  if (IntersectRects({x, y, w, h}, {5, 5, 4, 4}, &cut))
    FillBitmapRect(dest, cut.x, cut.y, cut.width, cut.height, 0xFF00FFFFu);
}

TEST_F(LayerPipeline, SpritesAreDrawnAboveTheLayers) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  SetRedrawSpritesHook(PaintSprite);
  gSpriteBox = {};
  Add(0, 0, 20, 20, 0xFF0000, nullptr);
  EXPECT_GT(gSpriteBox.calls, 0);
  EXPECT_EQ(WindowPixel(d, 6, 6), 0x00FFFFu);
  EXPECT_EQ(WindowPixel(d, 12, 12), 0xFF0000u);
  // Flag 1 leaves the sprites out; flag 2 draws only them.
  int before = gSpriteBox.calls;
  RedrawLayers(L, d, d->bgpic, d->back, 0, 0, 20, 20, 1);
  EXPECT_EQ(gSpriteBox.calls, before);
  FillBitmapRect(d->back, 0, 0, 20, 20, 0xFF000000u);
  RedrawLayers(L, d, d->bgpic, d->back, 0, 0, 20, 20, 2);
  EXPECT_EQ(gSpriteBox.lastFlags, 2);
  EXPECT_EQ(ReadBitmapPixel(d->back, 12, 12, 0) & 0xFFFFFF, 0u);  // no layers, no background
  EXPECT_EQ(ReadBitmapPixel(d->back, 6, 6, 0) & 0xFFFFFF, 0x00FFFFu);
  SetRedrawSpritesHook(nullptr);
}

struct VideoCalls {
  std::vector<std::pair<int32_t, double>> ops;
  bool paused = false;
} gVideo;

int VideoControl(vlVMState*, vlLayer* layer, int32_t op, double arg) {
  if (layer->type != VL_LAYER_VIDEO) return ERR_WRONGUSAGE;
  gVideo.ops.push_back({op, arg});
  if (op == VL_LAYERVIDEO_PAUSE) {
    if (gVideo.paused) return 1451;
    gVideo.paused = true;
  }
  return 0;
}

const vlLayerSource kVideoSource = SourceWith(nullptr, VideoControl);

TEST_F(LayerPipeline, VideoLayersAreControlledThroughTheirSource) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  // A name is looked up first; then switched-off layers are the error,
  // before any position is checked.
  EXPECT_EQ(Run(".call playlayer 1"), ERR_NOLAYERS);
  EXPECT_EQ(Run(".call selectlayer \"none\""), 1369);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  RegisterLayerSource(VL_LAYER_VIDEO, &kVideoSource);
  gVideo = {};
  Add(50, 50, 10, 10, 0x00FF00, nullptr);
  vlBitmap* frame = NewBitmap(10, 10, 0, nullptr);
  FillBitmapRect(frame, 0, 0, 10, 10, 0xFFFF0000u);
  vlLayerGeometry* g = NewLayerGeometry();
  g->x = 10, g->y = 10, g->width = 10, g->height = 10;
  vlObjectId id{3, nullptr};
  vlLayer* video = nullptr;
  ASSERT_EQ(AddLayer(L, VL_LAYER_VIDEO, &id, 10, 10, 10, 10, nullptr, nullptr, frame, nullptr, nullptr, g, -1, 0,
                     &video),
            0);
  EXPECT_EQ(WindowPixel(d, 15, 15), 0xFF0000u);
  EXPECT_EQ(Run(".call pauselayer 1"), ERR_BADLAYERTYPE);  // a box layer
  ASSERT_EQ(Run(".call pauselayer 2\n.call seeklayer 2 25\n.call setlayervolume 2 \"50%\"\n"
                ".call setlayervolume 2 99"),
            0);
  EXPECT_EQ(Run(".call pauselayer 2"), 1451);
  ASSERT_EQ(gVideo.ops.size(), 5u);
  EXPECT_EQ(gVideo.ops[1], std::make_pair(int32_t{VL_LAYERVIDEO_SEEK}, 25.0));
  EXPECT_EQ(gVideo.ops[2], std::make_pair(int32_t{VL_LAYERVIDEO_VOLUME}, 32.0));
  EXPECT_EQ(gVideo.ops[3], std::make_pair(int32_t{VL_LAYERVIDEO_VOLUME}, 64.0));
  // A new frame replaces the picture in place.
  vlBitmap* next = NewBitmap(10, 10, 0, nullptr);
  FillBitmapRect(next, 0, 0, 10, 10, 0xFF0000FFu);
  ASSERT_EQ(ReplaceLayerWithFrame(L, d, &video, next), 0);
  EXPECT_EQ(WindowPixel(d, 15, 15), 0x0000FFu);
  // Rotated, the next frame is turned too.
  ASSERT_EQ(Run(".call rotatelayer 2 90"), 0);
  vlBitmap* third = NewBitmap(10, 10, 0, nullptr);
  FillBitmapRect(third, 0, 0, 10, 10, 0xFFFFFF00u);
  ASSERT_EQ(ReplaceLayerWithFrame(L, d, &video, third), 0);
  const vlLayerGeometry* g2 = video->geometry[2];
  EXPECT_EQ(WindowPixel(d, g2->drawnX + 5, g2->drawnY + 5), 0xFFFF00u);
  // Removing the layer stops its video.
  ASSERT_EQ(Run(".call removelayer 2"), 0);
  EXPECT_EQ(gVideo.ops.back().first, VL_LAYERVIDEO_STOP);
  RegisterLayerSource(VL_LAYER_VIDEO, nullptr);
}

TEST_F(LayerPipeline, GroupsShowHideAndMoveAsOne) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  const int xs[3] = {10, 30, 20}, ys[3] = {10, 20, 40};
  for (int i = 0; i < 3; i++) Add(xs[i], ys[i], 5, 5, 0x0000FF, nullptr);
  vlLayer* red = Add(0, 60, 5, 5, 0xFF0000, nullptr);
  // Scripts put layers into a group by style; a group name may not be a
  // layer's name, nor longer than the field.
  ASSERT_EQ(Run(".table 0 { group = \"g\" }\n.call base=1 setlayerstyle 1 r0 2 r0 3 r0"), 0);
  ASSERT_EQ(Run(".call setlayername 4 \"red\""), 0);
  EXPECT_EQ(Run(".table 0 { group = \"RED\" }\n.call base=1 setlayerstyle 1 r0"), kErrLayerNameUsed);
  EXPECT_EQ(Run(".table 0 { group = \"" + std::string(64, 'x') + "\" }\n.call base=1 setlayerstyle 1 r0"),
            ERR_NAMETOOLONG);
  EXPECT_EQ(Run(".call setlayername 4 \"G\""), kErrLayerNameUsed);
  ASSERT_EQ(Run(".call getlayerstyle 2 -> st\ngetglobal 0 \"st\"\ngetfield 1 0 \"group\"\nsetglobal 1 \"gr\""), 0);
  EXPECT_EQ(vltest::GlobalString(L, "gr"), "g");
  ASSERT_EQ(Run(".call hidelayer \"G\""), 0);
  for (int i = 1; i <= 3; i++) EXPECT_TRUE(GetLayerByPos(d->bgpic, i)->hidden);
  EXPECT_FALSE(GetLayerByPos(d->bgpic, 4)->hidden);
  EXPECT_EQ(WindowPixel(d, 31, 21), 0x808080u);
  ASSERT_EQ(Run(".call showlayer \"g\" 50 30"), 0);
  for (int i = 1; i <= 3; i++) {
    const vlLayerGeometry* g = GetLayerByPos(d->bgpic, i)->geometry[0];
    EXPECT_EQ(g->x, xs[i - 1] + 40);
    EXPECT_EQ(g->y, ys[i - 1] + 20);
  }
  EXPECT_EQ(WindowPixel(d, 71, 41), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 31, 21), 0x808080u);
  // A single layer takes position constants against its own size.
  ASSERT_EQ(Run(".call showlayer 4 -80000 0"), 0);  // RIGHT
  EXPECT_EQ(GetLayerByPos(d->bgpic, 4)->geometry[0]->x, 95);
  // Every member goes to the front in turn; none is passed over.
  ASSERT_EQ(Run(".table 0 { z = 0 }\n.call base=1 setlayerstyle \"g\" r0"), 0);
  EXPECT_EQ(GetLayerIndex(red), 1);
  ASSERT_EQ(Run(".table 0 { z = 1 }\n.call base=1 setlayerstyle \"g\" r0"), 0);
  EXPECT_EQ(GetLayerIndex(red), 4);
  // A group of 257 is hidden and shown whole, but too many to remove at
  // once: none goes.
  for (int i = 0; i < 257; i++) strcpy(Add(i % 90, 50, 3, 3, 0x00FF00, nullptr)->group, "many");
  ASSERT_EQ(Run(".call hidelayer \"many\""), 0);
  EXPECT_TRUE(GetLayerByPos(d->bgpic, 5)->hidden);
  EXPECT_TRUE(GetLayerByPos(d->bgpic, 261)->hidden);
  ASSERT_EQ(Run(".call showlayer \"many\""), 0);
  EXPECT_FALSE(GetLayerByPos(d->bgpic, 261)->hidden);
  EXPECT_EQ(Run(".call removelayer \"many\""), ERR_INTERNAL);
  EXPECT_EQ(CountLayers(d->bgpic), 261);
  // 256 go at once, and a group of one goes as a layer does.
  GetLayerByPos(d->bgpic, 261)->group[0] = 0;
  ASSERT_EQ(Run(".call removelayer \"many\""), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 5);
  strcpy(GetLayerByPos(d->bgpic, 5)->group, "one");
  ASSERT_EQ(Run(".call removelayer \"one\""), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 4);
}

TEST_F(LayerPipeline, CreateLayerMakesBlankPictures) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Run(".call createlayer 0 0 5 5"), ERR_NOLAYERS);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  Add(0, 0, 40, 40, 0x00FF00, nullptr);
  ASSERT_EQ(Run(".table 0 { color = 16711680 }\n.call base=1 createlayer 10 10 8 8 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 12, 12), 0xFF0000u);
  ASSERT_EQ(Run(".table 0 { color = 255, mask = 1, clear = 1 }\n.call base=1 createlayer 20 20 8 8 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 22, 22), 0x00FF00u);  // fully transparent
  ASSERT_EQ(Run(".table 0 { color = 255, alphachannel = 1 }\n.call base=1 createlayer 30 30 8 8 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 32, 32), 0x0000FFu);  // fully opaque
  EXPECT_EQ(CountLayers(d->bgpic), 4);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 3)->geometry[0]->mask != nullptr, true);
  EXPECT_EQ(Run(".table 0 { mask = 1, alphachannel = 1 }\n.call base=1 createlayer 0 0 8 8 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { frames = -1 }\n.call base=1 createlayer 0 0 8 8 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { frames = 3 }\n.call base=1 createlayer 0 0 8 8 r0"), ERR_WRONGUSAGE);  // no anims
  // A created layer can be turned like any other.
  ASSERT_EQ(Run(".call rotatelayer 2 180"), 0);
  EXPECT_EQ(WindowPixel(d, 12, 12), 0x00FF00u);  // turned about its top-left corner
  EXPECT_EQ(WindowPixel(d, 5, 5), 0xFF0000u);
}

TEST_F(LayerPipeline, MoveListsRefreshEachMergedAreaOnce) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  Add(0, 0, 10, 10, 0xFF0000, nullptr);
  Add(5, 5, 10, 10, 0x00FF00, nullptr);
  Add(80, 60, 10, 10, 0x0000FF, nullptr);
  // Every redraw passes the sprite hook once: it counts the refreshes.
  SetRedrawSpritesHook(PaintSprite);
  ASSERT_EQ(Run(".call addmove 1 22 1 20 20\n.call addmove 1 22 2 25 25"), 0);
  gSpriteBox = {};
  ASSERT_EQ(Run(".call domove 1"), 0);
  EXPECT_EQ(gSpriteBox.calls, 1);  // both moves overlap: one area
  ASSERT_EQ(Run(".call addmove 2 22 3 85 65 1\n.call addmove 2 22 1 0 0"), 0);
  gSpriteBox = {};
  ASSERT_EQ(Run(".call domove 2"), 0);
  EXPECT_EQ(gSpriteBox.calls, 2);
  EXPECT_TRUE(GetLayerByPos(d->bgpic, 3)->hidden);  // extra 1 hides
  EXPECT_EQ(WindowPixel(d, 86, 66), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 2, 2), 0xFF0000u);
  // A layer entry made before a removal addresses what then holds its place.
  ASSERT_EQ(Run(".call addmove 3 22 2 40 40 0\n.call removelayer 1\n.call domove 3"), 0);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 2)->geometry[0]->x, 40);
  EXPECT_EQ(Run(".call addmove 4 22 9 0 0\n.call domove 4"), ERR_LAYERRANGE);
  SetRedrawSpritesHook(nullptr);
}

TEST_F(LayerPipeline, PartKeysTurnABrushLayerIntoAPart) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  vlLayer* l = AddPattern(10, 10, 12, 8, "p");
  l->type = VL_LAYER_BRUSH;  // a brush layer showing its own picture
  ASSERT_EQ(Run(".table 0 { partx = 4, party = 2, partwidth = 6, partheight = 5 }\n"
                ".call base=1 setlayerstyle \"p\" r0"),
            0);
  EXPECT_EQ(l->type, static_cast<uint32_t>(VL_LAYER_BRUSHPART));
  EXPECT_EQ(l->geometry[2]->drawnWidth, 6);
  vlBitmap* source = Pattern(12, 8);
  EXPECT_EQ(WindowPixel(d, 10, 10), ReadBitmapPixel(source, 4, 2, 0) & 0xFFFFFF);
  EXPECT_EQ(WindowPixel(d, 15, 14), ReadBitmapPixel(source, 9, 6, 0) & 0xFFFFFF);
  EXPECT_EQ(WindowPixel(d, 16, 10), 0x808080u);
  DeleteBitmap(source);
  ASSERT_EQ(Run(".call getlayerstyle 1 -> st\ngetglobal 0 \"st\"\ngetfield 1 0 \"partx\"\nsetglobal 1 \"px\"\n"
                "getfield 1 0 \"type\"\nsetglobal 1 \"ty\""),
            0);
  EXPECT_EQ(Num("px"), 4);
  EXPECT_EQ(Num("ty"), VL_LAYER_BRUSHPART);
  EXPECT_EQ(Run(".table 0 { partwidth = 0 }\n.call base=1 setlayerstyle 1 r0"), ERR_WRONGUSAGE);
}

TEST_F(LayerPipeline, ClipRegionKeysCutTheLayer) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenGraphicsLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers\n.call createclipregion 5 14 0 0 20 20"), 0);
  Add(10, 10, 20, 20, 0xFF0000, nullptr);
  EXPECT_EQ(WindowPixel(d, 25, 25), 0xFF0000u);
  ASSERT_EQ(Run(".table 0 { clipregion = 5 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 15, 15), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 25, 25), 0x808080u);
  ASSERT_EQ(Run(".call getlayerstyle 1 -> st\ngetglobal 0 \"st\"\ngetfield 1 0 \"clipregion\"\nsetglobal 1 \"c\""), 0);
  EXPECT_EQ(Num("c"), 5);
  EXPECT_EQ(Run(".table 0 { clipregion = 6 }\n.call base=1 setlayerstyle 1 r0"), ERR_FINDCLIPREGION);
  ASSERT_EQ(Run(".table 0 { clipregion = -1 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 25, 25), 0xFF0000u);
  FreeGraphicsObjects(L);
}
}  // namespace
