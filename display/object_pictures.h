// The planes of script objects that have pictures (brushes, anim and
// sprite frames), as the libraries that own them supply them.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlBitmap;

// The planes of an object that has a picture (a brush; frame is 0), or
// of one frame (1-based) of a sprite: 0 or the type's own not-found or
// range error. The libraries owning such objects install theirs.
using vlObjectPicturesFn = int (*)(vlVMState* state, vlObjectId id, int32_t frame, vlBitmap** picture,
                                   vlBitmap** mask, vlBitmap** alpha, int32_t* width, int32_t* height);
void SetObjectPicturesHandler(uint32_t type, vlObjectPicturesFn fn);
int GetObjectPictures(vlVMState* state, uint32_t type, vlObjectId id, int32_t frame, vlBitmap** picture,
                      vlBitmap** mask, vlBitmap** alpha, int32_t* width, int32_t* height);
