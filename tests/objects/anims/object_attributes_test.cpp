// GetAttribute through the script command for every object type the
// graphics, brush, anim, sprite and layer libraries own: each attribute the
// type lists answers (none gives "Unknown attribute"), and the answers of
// anims, sprites and anim layers are their real sizes, frames and delays.
#include "tests/display/core/display_fixture.h"

#include <string>
#include <utility>
#include <vector>

#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/sprites/sprite.h"
#include "vm/error_codes.h"

namespace {

class ObjectAttributeTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenGraphicsLib(L), 0);
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenAnimLib(L), 0);
    ASSERT_EQ(OpenSpriteLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(Run(".table 0 { width = 80, height = 60, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    // Brush 1: a red, green and blue 4x4 tile; anim 1 and sprite 1 cut
    // from it, three frames each.
    ASSERT_EQ(Run(".call createbrush 1 12 4 16711680\n.call setbrushtransparency 1 0\n"
                  ".call createanim 1 1 4 4 3 3\n.call createsprite 1 3 1 4 4 3 3"),
              0);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeSpriteLibrary(L);
      FreeAnimLibrary(L);
      FreeGraphicsObjects(L);
      FreeBrushLib(L);
    }
    DisplayTest::TearDown();
  }
  // GetAttribute(type, id, attr) into global r; its status.
  int Ask(int type, const std::string& id, int attr, const std::string& extra = "") {
    return Run(".call getattribute " + std::to_string(type) + " " + id + " " + std::to_string(attr) +
               (extra.empty() ? "" : " " + extra) + " -> r");
  }
  double Answer(int type, const std::string& id, int attr, const std::string& extra = "") {
    return Ask(type, id, attr, extra) == 0 ? Num("r") : -12345;
  }
};

TEST_F(ObjectAttributeTest, AnimsAnswerSizeFramesDelaysAndPlanes) {
  ASSERT_EQ(Run(".call setanimframedelay 1 2 70"), 0);
  EXPECT_EQ(Answer(4, "1", 0), 4);
  EXPECT_EQ(Answer(4, "1", 1), 4);
  EXPECT_EQ(Answer(4, "1", 11), 3);
  EXPECT_EQ(Answer(4, "1", 37, "2"), 70);
  EXPECT_EQ(Answer(4, "1", 16), 1);  // the brush's colour-key mask came along
  EXPECT_EQ(Answer(4, "1", 17), 0);
  EXPECT_EQ(Ask(4, "1", 37, "4"), ERR_ANIMFRAME);
  EXPECT_EQ(Ask(4, "1", 91), 0);
  EXPECT_EQ(vltest::GlobalString(L, "r"), "inbuilt");
  EXPECT_EQ(Ask(4, "9", 0), 1176);
  EXPECT_EQ(Ask(4, "1", 23), ERR_UNKNOWNATTR);
  EXPECT_EQ(Answer(4, "0", 60), 1);
}

TEST_F(ObjectAttributeTest, SpritesAnswerWhereAndWhichFrameTheyShow) {
  EXPECT_EQ(Answer(32, "1", 23), 0);
  ASSERT_EQ(Run(".call displaysprite 1 20 10 2"), 0);
  EXPECT_EQ(Answer(32, "1", 0), 4);
  EXPECT_EQ(Answer(32, "1", 11), 3);
  EXPECT_EQ(Answer(32, "1", 7), 20);
  EXPECT_EQ(Answer(32, "1", 8), 10);
  EXPECT_EQ(Answer(32, "1", 12), 2);
  EXPECT_EQ(Answer(32, "1", 23), 1);
  EXPECT_EQ(Answer(32, "1", 16), 1);
  EXPECT_EQ(Answer(32, "1", 17), 0);
  EXPECT_EQ(Ask(32, "7", 0), ERR_FINDSPRITE);
}

TEST_F(ObjectAttributeTest, AnimLayersAnswerTheirFrame) {
  ASSERT_EQ(Run(".call enablelayers\n.call setanimframedelay 1 3 40\n.call displayanimframe 1 5 5 3"), 0);
  EXPECT_EQ(Answer(22, "1", 11), 3);
  EXPECT_EQ(Answer(22, "1", 12), 3);
  EXPECT_EQ(Answer(22, "1", 37), 40);
  ASSERT_EQ(Run(".call createbrush 2 4 4 255\n.call displaybrush 2 30 5"), 0);
  EXPECT_EQ(Ask(22, "2", 37), ERR_NOANMLAYER);
}

// Every attribute the table lists for these types answers.
TEST_F(ObjectAttributeTest, EveryListedAttributeAnswers) {
  auto check = [&](const std::vector<std::pair<int, std::vector<int>>>& table) {
    for (const auto& [type, attrs] : table)
      for (int attr : attrs) EXPECT_EQ(Ask(type, "1", attr), 0) << "type " << type << " attribute " << attr;
  };
  // Sprites show while layers are off.
  ASSERT_EQ(Run(".call displaysprite 1 40 10 1"), 0);
  check({{32, {0, 1, 5, 7, 8, 11, 12, 16, 17, 23}}});
  ASSERT_EQ(Run(".call removesprite 1\n.call enablelayers\n.call displayanimframe 1 5 5 1\n"
                ".call createclipregion 1 14 0 0 10 10\n.call createpointer 1 3 1\n.call createbgpic 1 20 20"),
            0);
  check({
      {1, {0, 1, 5, 6, 9, 16, 17, 39, 91}},
      {3, {0, 1, 5, 9, 16, 17, 73, 85, 91}},
      {4, {0, 1, 5, 11, 16, 17, 37, 91}},
      // Display font attributes come from the text library (tested there).
      {21, {0,  1,  2,  3,  28, 29, 4,  6,  7,  8,  21, 22, 24, 25, 26, 27, 38, 40, 41, 42,
            43, 44, 45, 46, 47, 48, 49, 50, 61, 51, 52, 53, 54, 55, 56, 63, 64, 69, 70, 71, 77, 78, 79, 86, 87, 88,
            89, 90}},
      {22, {0, 1, 6, 7, 8, 9, 10, 11, 12, 37, 13, 74, 62, 65, 66, 67, 68, 82}},
      {35, {0, 1, 7, 8}},
      {36, {0, 1, 9}},
  });
}

}  // namespace
