// Pointer images: mouse pointers made from brushes or sprite frames, or the
// system and busy pointers, and showing, hiding and moving the pointer.
#include <new>

#include "display/display.h"
#include "display/graphics_library/graphics_state.h"
#include "display/layer_hooks.h"
#include "graphics/bitmap.h"
#include "graphics/picture_engines.h"
#include "graphics/position.h"
#include "platform/display_adapter.h"
#include "platform/x11/x11_window.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// Making and finding a pointer must not walk every pointer there is.
vlObjectIndex gPointerIndex;

vlObjectNode** ListHead() { return reinterpret_cast<vlObjectNode**>(&gGraphicsState.pointers); }

bool DisplayUses(const vlPointerImage* p) {
  for (vlDisplay* d = vlDisplayList; d; d = d->next)
    if (d->pointer == p) return true;
  return false;
}

void Unlink(vlPointerImage* p) { gPointerIndex.Unlink(ListHead(), &p->node); }

void Destroy(vlVMState* L, vlPointerImage* p) {
  Unlink(p);
  if (p->cursor) FreeMousePointer(p->cursor);
  if (p->picture) DeleteBitmap(p->picture);
  if (p->alpha) DeleteAlphaPlane(p->alpha);
  if (p->mask) DeleteMaskPlane(p->mask);
  FreeObjectDataList(L, &p->node.data);
  delete p;
}

// A pointer still shown by a display is kept, unnamed, until the next
// SetPointer replaces it everywhere. 0 or 1000 (nothing changed).
int Release(vlVMState* L, vlPointerImage* p) {
  if (DisplayUses(p)) {
    if (int status = gPointerIndex.Rekey(&p->node, {0, p})) return status;
    p->orphaned = 1;
    return 0;
  }
  Destroy(L, p);
  return 0;
}

int32_t HotSpot(int32_t value, int32_t size) {
  if (value == -1) return size / 2;
  if (value >= size) return size - 1;
  return value < 0 ? 0 : value;
}

int CmdCreatePointer(vlVMState* L) {
  CheckArgs(L, 3, 6, 0, 0);
  vlObjectId id;
  int automatic = GetObjectIDArgOpt(&id, L, 1);
  if (!automatic) {
    vlPointerImage* old = nullptr;
    if (!GetPointerImageByID(id, &old))
      if (int status = Release(L, old)) return status;
  }
  int32_t type = vl::CheckIntArg(L, 2);
  int32_t kind = 2, width = 0, height = 0, hotX = -1, hotY = -1;
  vlBitmap *picture = nullptr, *mask = nullptr, *alpha = nullptr;
  if (type == 32 || type == VL_OBJ_BRUSH) {
    vlObjectId object;
    GetObjectIDArg(&object, L, 3);
    int32_t frame = 0;
    int hotIndex = 4;
    if (type == 32) {
      frame = vl::OptIntArg(L, 4, 1);
      hotIndex = 5;
    }
    hotX = vl::OptIntArg(L, hotIndex, -1);
    hotY = vl::OptIntArg(L, hotIndex + 1, -1);
    if (int s = GetObjectPictures(L, static_cast<uint32_t>(type), object, frame, &picture, &mask, &alpha, &width,
                                  &height))
      return s;
  } else if (type == 36) {
    kind = vl::CheckIntArg(L, 3);
    if (kind < 0 || kind >= 2) return ERR_WRONGUSAGE;
  } else {
    return ERR_WRONGUSAGE;
  }
  vlPointerRecord* cursor = nullptr;
  // While the screen is recorded the recording draws the pointer itself:
  // the record keeps its own copy of the picture and planes, which the
  // object they came from may change or free meanwhile.
  vlBitmap *kept = nullptr, *keptMask = nullptr, *keptAlpha = nullptr;
  auto dropKept = [&] {
    if (kept) DeleteBitmap(kept);
    if (keptMask) DeleteMaskPlane(keptMask);
    if (keptAlpha) DeleteAlphaPlane(keptAlpha);
  };
  if (kind == 2) {
    if (vlRecordingScreen)
      if (int s = CopyBitmapRegion(picture, mask, alpha, 0, 0, width, height, 0, 0, 0, &kept,
                                   mask ? &keptMask : nullptr, alpha ? &keptAlpha : nullptr)) {
        dropKept();
        return s;
      }
    hotX = HotSpot(hotX, width);
    hotY = HotSpot(hotY, height);
    uint32_t* argb = ReadBitmapARGBMasked(picture, 0, 0, width, height, mask, alpha, -1, 1, 0);
    int s = argb ? CreateMousePointer(argb, width, height, &cursor, hotX, hotY) : ERR_MEM;
    delete[] argb;
    if (!s && !cursor) s = ERR_POINTERIMG;
    if (s) {
      dropKept();
      return s;
    }
  }
  auto* p = new (std::nothrow) vlPointerImage{};
  if (!p) {
    if (cursor) FreeMousePointer(cursor);
    dropKept();
    return ERR_MEM;
  }
  p->picture = kept;
  p->mask = keptMask;
  p->alpha = keptAlpha;
  p->node.type = 36;
  p->node.idNumber = automatic ? 0 : id.number;
  p->node.idHandle = automatic ? p : nullptr;
  p->width = width;
  p->height = height;
  p->cursor = cursor;
  p->kind = kind;
  p->hotX = hotX;
  p->hotY = hotY;
  if (gPointerIndex.Append(ListHead(), &p->node)) {
    Destroy(L, p);
    return ERR_MEM;
  }
  if (!automatic) return 0;
  vl::PushPointer(L, p);
  return 1;
}

void FreeOrphans(vlVMState* L) {
  for (vlPointerImage* p = gGraphicsState.pointers; p;) {
    auto* next = reinterpret_cast<vlPointerImage*>(p->node.next);
    if (p->orphaned && !DisplayUses(p)) Destroy(L, p);
    p = next;
  }
}

// A new window of the display shows the display's pointer.
void ShowDisplayPointer(vlDisplay* d) {
  if (auto* p = static_cast<vlPointerImage*>(d->pointer)) SetMousePointer(d, p->cursor, p->kind);
}

int CmdSetPointer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlPointerImage* p = nullptr;
  if (int s = GetPointerImageByID(id, &p)) return s;
  if (vlDisplay* d = CurrentDisplay()) {
    d->pointerHidden = 0;
    d->pointer = p;
    if (d->openState == 1 && DisplayHasWindow(d)) SetMousePointer(d, p->cursor, p->kind);
  }
  FreeOrphans(L);
  return 0;
}

int CmdFreePointer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlPointerImage* p = nullptr;
  if (int s = GetPointerImageByID(id, &p)) return s;
  return Release(L, p);
}

int ShowHide(vlVMState* L, int show) {
  CheckArgs(L, 0, 0, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d) return 0;
  d->pointerHidden = !show;
  if (d->openState == 1 && DisplayHasWindow(d)) ShowHideMousePointer(d, show);
  return 0;
}

int CmdShowPointer(vlVMState* L) { return ShowHide(L, 1); }
int CmdHidePointer(vlVMState* L) { return ShowHide(L, 0); }

int CmdMovePointer(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d || vlRecordingScreen) return 0;
  auto* p = static_cast<vlPointerImage*>(d->pointer);
  int32_t pw = p ? p->width : 0, ph = p ? p->height : 0;
  int32_t x = ResolvePosX(vl::CheckIntArg(L, 1), pw, d->width, 0);
  int32_t y = ResolvePosY(vl::CheckIntArg(L, 2), ph, d->height, 0);
  double sx = d->scaleX > 0 ? d->scaleX : 1.0, sy = d->scaleY > 0 ? d->scaleY : 1.0;
  if (d->openState == 1 && DisplayHasWindow(d))
    MoveMousePointer(d, vl::NumberToArgInt(x * sx), vl::NumberToArgInt(y * sy));
  return 0;
}

}  // namespace

int GetPointerImageByID(vlObjectId id, vlPointerImage** out) {
  if ((*out = gPointerIndex.FirstNamed<vlPointerImage>(id))) return 0;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDPOINTER;
}

void InstallPointerImageHooks() { gLayerHooks.showDisplayPointer = ShowDisplayPointer; }

void FreeAllPointerImages(vlVMState* L) {
  for (vlDisplay* d = vlDisplayList; d; d = d->next) d->pointer = nullptr;
  while (gGraphicsState.pointers) Destroy(L, gGraphicsState.pointers);
  gPointerIndex.Clear();
}

const vlCommand kGraphicsPointerCommands[] = {
    {"CreatePointer", CmdCreatePointer},
    {"SetPointer", CmdSetPointer},
    {"FreePointer", CmdFreePointer},
    {"ShowPointer", CmdShowPointer},
    {"HidePointer", CmdHidePointer},
    {"MovePointer", CmdMovePointer},
    {nullptr, nullptr},
};
