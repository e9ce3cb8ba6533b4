// The clipboard's picture hooks and their defaults. Depends on the error
// argument buffer only.
#include "runtime/clipboard_hooks.h"

#include "runtime/errors.h"
#include "vm/error_codes.h"

namespace {

int NoBrushPicture(vlVMState*, vlObjectId id, uint8_t**, size_t*) {
  SetErrorArgIndex(id.number);
  return ERR_FINDBRUSH;
}

int NoPictureLoader(vlVMState*, const uint8_t*, size_t) {
  SetErrorArgument("clipboard");
  return ERR_LOADPICTURE2;
}

}  // namespace

vlClipboardPictureHooks gClipboardPictureHooks = {NoBrushPicture, NoPictureLoader};
