// Pictures on the clipboard travel as PNG files. The clipboard commands
// sit in the system library; turning a brush into such a file and one into
// a new brush is the brush code's part, which installs these at start-up.
// The defaults report that no brush or picture loader is there.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;

struct vlClipboardPictureHooks {
  // The brush's pixels as a PNG file (AllocMemory block). 0 or an error.
  int (*brushToPicture)(vlVMState* state, vlObjectId id, uint8_t** png, size_t* length);
  // Loads the PNG file bytes as a new brush with an automatic id and
  // pushes its handle. 0 or an error.
  int (*pictureToBrush)(vlVMState* state, const uint8_t* png, size_t length);
};
extern vlClipboardPictureHooks gClipboardPictureHooks;
