// Pictures for the player-level effect tests: 24-bit BMP files written and
// read back, and reference steppings of some effect families written from
// their rules, drawn onto a canvas that starts as the screen before the
// effect.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fxref {

struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, rows top down
  Picture() = default;
  Picture(int w, int h, uint32_t fill = 0) : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {}
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  uint32_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Pseudo-random colours from a seed, so a misplaced strip shows.
Picture Noise(int width, int height, uint32_t seed);
bool WriteBmp(const std::string& path, const Picture& picture);
// 24- and 32-bit files, bottom-up or top-down; false on anything else.
bool ReadBmp(const std::string& path, Picture* picture);
// Every pixel repeated factor times in both directions.
Picture Enlarged(const Picture& picture, int factor);
// top pasted onto a copy of base at (x, y), clipped.
Picture Pasted(const Picture& base, const Picture& top, int x, int y);
// "" when equal, else the number of differing pixels and the first one.
std::string Difference(const Picture& got, const Picture& want);

// The screen while an effect runs: the effect rectangle (x, y, w, h) of
// canvas receives strips of the new and the old picture, both of the
// effect's size.
struct EffectCanvas {
  Picture canvas;
  const Picture* fresh;
  const Picture* old;
  int x, y, w, h;
  bool hiding = false;  // the canvas starts as the layer being hidden
};

// The family frames of effect id after `frames` frames at the given
// speed (-1, -2, -3 or pixels per frame), drawn from the family's rules;
// *count receives the frames the family takes. false for an id this
// stepping does not cover.
bool StepReference(int id, int speed, int frames, EffectCanvas* c, int* count);

}  // namespace fxref
