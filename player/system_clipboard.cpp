// The system library's clipboard commands over the platform's CLIPBOARD
// selection. Pictures travel as PNG files; turning a brush into one and
// one into a new brush is the picture code's part, reached through hooks.
#include <cstring>

#include "objects/brushes/brush.h"
#include "runtime/os.h"
#include "platform/x11/x11_input.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "player/system_library.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

enum : int {
  kClipboardEmpty = 0,
  kClipboardText = 1,
  kClipboardImage = 2,
};

}  // namespace

int CmdClearClipboard(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  return ClaimClipboard();
}

int CmdPeekClipboard(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  int kind = VL_CLIP_NONE;
  if (int status = QueryClipboardFormat(L, &kind)) return status;
  vl::PushNumber(L, kind == VL_CLIP_TEXT ? kClipboardText : kind == VL_CLIP_PICTURE ? kClipboardImage : kClipboardEmpty);
  return 1;
}

int CmdGetClipboard(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlClipboardResult result{};
  int kind = VL_CLIP_NONE;
  if (int status = ReadClipboard(L, &result, &kind)) return status;
  if (result.kind == VL_CLIP_TEXT) {
    vl::PushNumber(L, kClipboardText);
    vl::PushBytes(L, result.data, result.length);
    FreeMemory(result.data);
    return 2;
  }
  if (result.kind == VL_CLIP_PICTURE) {
    int status = BrushFromClipboardPNG(L, reinterpret_cast<const uint8_t*>(result.data), result.length);
    FreeMemory(result.data);
    if (status) return status;
    // The new brush's handle is pushed.
    vl::PushNumber(L, kClipboardImage);
    vl::InsertTopAt(L, -2);
    return 2;
  }
  vl::PushNumber(L, kClipboardEmpty);
  return 1;
}

int CmdSetClipboard(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t type = vl::CheckIntArg(L, 1);
  if (type == kClipboardText) {
    size_t length = 0;
    const char* text = vl::CheckStringArg(L, 2, &length);
    return SetClipboardData(VL_CLIP_TEXT, text, length);
  }
  if (type == kClipboardImage) {
    vlObjectId id;
    GetObjectIDArg(&id, L, 2);
    uint8_t* png = nullptr;
    size_t length = 0;
    if (int status = BrushToClipboardPNG(L, id, &png, &length)) return status;
    int status = SetClipboardData(VL_CLIP_PICTURE, png, length);
    FreeMemory(png);
    return status;
  }
  return ERR_WRONGUSAGE;
}
