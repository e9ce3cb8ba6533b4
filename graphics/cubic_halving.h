// FreeType's halving of a cubic arc, which its rasterisers and its stroker
// share: base[0..3] (end first) becomes base[0..6], the half toward the
// start on top, each coordinate rounded down as theirs are.
#pragma once

template <typename Point>
void HalveCubic(Point* base) {
  for (auto k : {&Point::x, &Point::y}) {
    base[6].*k = base[3].*k;
    auto a = base[0].*k + base[1].*k;
    const auto b = base[1].*k + base[2].*k;
    auto c = base[2].*k + base[3].*k;
    base[5].*k = c >> 1;
    c += b;
    base[4].*k = c >> 2;
    base[1].*k = a >> 1;
    a += b;
    base[2].*k = a >> 2;
    base[3].*k = (a + c) >> 3;
  }
}
