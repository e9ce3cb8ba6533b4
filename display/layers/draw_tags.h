// The optional table of display tags that the commands showing pictures
// take: transform keys (scale, size, rotation, matrix, anchor) and form
// keys (name, visibility, transparency, insert position, shadow, border).
#pragma once
#include <cstdint>

#include "display/layers/layers.h"

struct vlVMState;
struct vlBitmap;

// One command's parsed tags: the transform part and the form part.
struct vlDrawTags {
  vlLayerTransform transform;
  vlLayerOptions form;
  uint32_t needsLayerProcessing;  // cannot simply be blitted
};

enum : uint32_t {
  VL_TAGS_INIT = 1,          // start from the defaults, target size as given
  VL_TAGS_TABLEONLY = 2,     // a non-table value at the index is an error
  VL_TAGS_NOSIZE = 4,        // "width" and "height" are not read
  VL_TAGS_NOROTATE = 8,      // "rotate" is not read
  VL_TAGS_SMOOTHROTATE = 16, // smooth scaling only for a rotation
};

// Reads the tags at index (which must be the last argument to be read).
// form null: only the transform part.
int ParseDrawTags(vlVMState* state, int index, int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth,
                  int32_t targetHeight, int smoothDefault, vlLayerTransform* transform, vlDrawTags* form,
                  uint32_t flags);
int ParseShadowTags(vlVMState* state, int index, vlLayerShadow* shadow, int* found);
int ParseBorderTags(vlVMState* state, int index, int edgeKeys, vlLayerBorder* border, int* found);

// With layers off, the form part's filters and transparency applied to a
// freshly rendered, owned triple: transparency scales the alpha plane, or
// makes one from the mask (which is deleted) or of one level. 0 or
// ERR_ALLOCALPHA.
int ApplyDrawTagsEffects(const vlLayerOptions* form, vlBitmap* image, vlBitmap** mask, vlBitmap** alpha,
                         int32_t width, int32_t height);

// The defaults every command's tags start from: back to the built-in ones,
// or changed by a tag table (SetDrawTagsDefault; nothing changes on error).
void ResetDrawTagDefaults();
int SetDrawTagDefaults(vlVMState* state, int index);
