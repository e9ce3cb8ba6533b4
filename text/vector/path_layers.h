// Path layers: a VECTORPATH layer keeps its own copy of the path and of the
// styles it was drawn with, so a new display scale or layer transform
// draws the path again instead of scaling its picture.
#pragma once
#include <cstdint>
#include <vector>

#include "display/layers/layers.h"
#include "text/vector/path_draw.h"

struct vlPathLayerGeometry : vlLayerGeometry {
  vlPathShape shape{};                  // commands and dashes point into the vectors below
  std::vector<uint8_t> commands;
  std::vector<double> dashes;
  double matrix[4] = {1, 0, 0, 1};      // the draw tags' matrix the picture was made with (columns)
};

// A record owning copies of the shape's path and dashes, drawn with the
// column-order matrix; null when memory runs out.
vlPathLayerGeometry* NewPathLayerGeometry(const vlPathShape& shape, const double matrix[4]);

// Registers the VECTORPATH layer source.
void InstallPathLayerSource();
