// The planes of script objects that have pictures, looked up through the
// handler the owning library installed.
#include "display/object_pictures.h"

#include "vm/error_codes.h"

namespace {

vlObjectPicturesFn gPictureHandlers[kFirstExtraObjectType];

}  // namespace

void SetObjectPicturesHandler(uint32_t type, vlObjectPicturesFn fn) {
  if (type < kFirstExtraObjectType) gPictureHandlers[type] = fn;
}

int GetObjectPictures(vlVMState* state, uint32_t type, vlObjectId id, int32_t frame, vlBitmap** picture,
                      vlBitmap** mask, vlBitmap** alpha, int32_t* width, int32_t* height) {
  *picture = *mask = *alpha = nullptr;
  *width = *height = 0;
  if (type >= kFirstExtraObjectType || !gPictureHandlers[type]) return ERR_WRONGUSAGE;
  return gPictureHandlers[type](state, id, frame, picture, mask, alpha, width, height);
}
