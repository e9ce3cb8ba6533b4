// Text as layers: the layout a TEXTOUT or PRINT layer keeps to render its
// text again, the rendering of a layout through a transformation (scalable
// fonts at the scaled size, the rest of the matrix applied to the
// picture), and the layer sources of the text layer types.
#pragma once
#include <cstdint>
#include <string>

#include "display/layers/layers.h"
#include "text/text_layout.h"

struct vlVMState;

// A TEXTOUT or PRINT layer's record: the common head and the layout it was
// rendered from, with its own text and the line breaks it made.
struct vlTextLayerGeometry : vlLayerGeometry {
  vlTextLayout layout;
  std::string text;
  int32_t mode = VL_TEXTMODE_TEXTOUT;
  bool literal = false;
};

// A new record for a layer of the rendered layout (its text copied, its
// line breaks kept for later renders); null when memory runs out.
vlTextLayerGeometry* NewTextLayerGeometry(const vlTextLayout& layout, int32_t mode, bool literal);

// Renders the layout (mode 8 or the layer's mode) with the column-order
// matrix {x' = m0 x + m2 y, y' = m1 x + m3 y}: a scalable font renders at
// the matrix's scale and only the rest turns the picture. replay: break
// lines where the layout broke them before; smooth: the picture's turn
// interpolates.
int RenderTextTransformed(vlVMState* state, const vlTextLayout& layout, int32_t mode, bool literal,
                          const double matrix[4], bool replay, int smooth, vlTextPicture* out);

// Where a re-rendered picture of pw x ph goes: centred on record [0]'s
// width x height box at the target's position turned by the column-order
// matrix about the layer's anchor. Sets the target's anchored position.
void PlaceRenderedBox(vlLayerGeometry* target, int32_t width, int32_t height, const vlLayerTransform* t,
                      const double matrix[4], int32_t pw, int32_t ph, int32_t* x, int32_t* y);

// Clears a copied record's pictures, caches and clip region.
void ClearGeometryPictures(vlLayerGeometry* g);

// The column-order matrix of a layer transform block.
void LayerMatrixColumns(const vlLayerTransform* t, double out[4]);

// Registers the TEXTOUT and PRINT layer sources.
void InstallTextLayerSources();
