// Gradient colours by spread mode, segment look-up and the 16-bit member.
#include "graphics/gradient_kernels.h"

#include <gtest/gtest.h>

namespace {

TEST(Gradient, SpreadModesAndBlend) {
  const vlGradientStop bw[2] = {{0, 0x000000, 0}, {0x10000, 0xFFFFFF, 0}};
  vlGradient g;
  g.stops = bw;
  g.count = 2;
  g.spread = VL_SPREAD_PAD;
  EXPECT_EQ(GradientColor32(g, 0), 0x000000u);
  EXPECT_EQ(GradientColor32(g, 0x8000), 0x7F7F7Fu);  // t = 128: 255 * 128 >> 8
  EXPECT_EQ(GradientColor32(g, 0x10000), 0xFFFFFFu);
  EXPECT_EQ(GradientColor32(g, -5), 0x000000u);
  EXPECT_EQ(GradientColor32(g, 0x20000), 0xFFFFFFu);
  g.spread = VL_SPREAD_REPEAT;
  EXPECT_EQ(GradientColor32(g, 0x18000), 0x7F7F7Fu);
  EXPECT_EQ(GradientColor32(g, -0x8000), 0x7F7F7Fu);
  g.spread = VL_SPREAD_REFLECT;
  EXPECT_EQ(GradientColor32(g, 0x14000), 0xBFBFBFu);  // mirrored: 0xC000, t = 192
  EXPECT_EQ(GradientColor32(g, 0x24000), 0x3F3F3Fu);  // even period: as is
  EXPECT_EQ(GradientColor16(g, 0x10000), 0xFFFFu);    // 0x10000 mirrors back to white
  const vlGradientStop mid[3] = {{0x4000, 0xFF0000, 0}, {0x8000, 0x00FF00, 0}, {0xC000, 0x0000FF, 0}};
  vlGradient n;
  n.stops = mid;
  n.count = 3;
  n.spread = VL_SPREAD_NONE;
  EXPECT_EQ(GradientColor32(n, 0x1000), 0u);
  EXPECT_EQ(GradientColor32(n, 0xD000), 0u);
  EXPECT_EQ(GradientColor32(n, 0x4000), 0xFF0000u);
  EXPECT_EQ(GradientColor32(n, 0x6000), 0x7F7F00u);  // red to green halfway
  EXPECT_EQ(GradientColor32(n, 0xA000), 0x007F7Fu);  // the next segment is found
  EXPECT_EQ(GradientColor32(n, 0x6000), 0x7F7F00u);  // and the first again
  EXPECT_EQ(GradientColor16(n, 0x4000), 0xF800u);
}

}  // namespace
