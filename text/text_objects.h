// Text objects: text rendered once into a picture that scripts show,
// scale, rotate and copy. Shown with layers on, an object becomes a
// TEXTOBJECT layer that refers to it by id; freeing it then leaves an
// orphan that the layer owns.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/objects.h"
#include "text/text_layout.h"

struct vlVMState;
struct vlBitmap;

inline constexpr uint32_t VL_OBJ_TEXTOBJECT = 8;
inline constexpr int kErrFindTextObject = 1175;

// The layout an object renders from again, with its own text.
struct vlTextObjectLayout {
  vlTextLayout layout;
  std::string text;
};

// Scale size, rotation and the matrix built from them.
struct vlTextObjectTransform {
  int32_t scaleWidth, scaleHeight;  // 0: the creation size
  double angle;                     // degrees
  double matrix[4];                 // a, b, c, d
};

struct vlTextObject {
  vlObjectNode node;
  vlBitmap* bitmap;
  vlBitmap* mask;
  vlBitmap* alpha;
  int32_t width, height;
  int32_t createWidth, createHeight;
  int32_t offsetX, offsetY;
  uint32_t locked;
  uint32_t orphaned;
  vlTextObjectLayout* layout;
  vlTextObjectTransform transform;
};

enum : uint32_t {
  VL_TEXTOBJ_UNLOCKED = 1,  // a locked object is 1314; layers take copies first
  VL_TEXTOBJ_ORPHANS = 2,   // orphans are found too
  VL_TEXTOBJ_NOCOPY = 4,    // with 1: no copies for layers
};

int GetTextObjectByID(vlVMState* state, vlObjectId id, vlTextObject** out, uint32_t flags);
int FreeTextObjectByID(vlVMState* state, vlObjectId id, int reportMissing);
// A copy of the source's picture, layout and user data with the new id.
int CopyTextObjectForLayer(vlVMState* state, vlTextObject* source, vlObjectId id, vlTextObject** out);
void PurgeOrphanTextObjects(vlVMState* state);
void FreeAllTextObjects(vlVMState* state);
// Registers the object list, the layer source and the orphan purger.
int InitTextObjects();

int CmdCreateTextObject(vlVMState* state);
int CmdDisplayTextObject(vlVMState* state);
int CmdFreeTextObject(vlVMState* state);
int CmdCopyTextObject(vlVMState* state);
int CmdScaleTextObject(vlVMState* state);
int CmdRotateTextObject(vlVMState* state);
