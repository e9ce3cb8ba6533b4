// The "anim" command library: loading, creating, copying, freeing, scaling,
// editing, showing and playing anims; saving is in anim_save.cpp.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "display/layers/safe_blt.h"
#include "formats/anim_source.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/picture_engines.h"
#include "graphics/position.h"
#include "objects/anims/anim.h"
#include "objects/anims/anim_layer.h"
#include "objects/brushes/brush.h"
#include "objects/sprites/sprite.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

int Finish(vlVMState* L, int automatic, void* record) {
  if (!automatic) return 0;
  vl::PushPointer(L, record);
  return 1;
}

int CmdPlayAnim(vlVMState* L) { return PlayAnimObject(L, 0); }
int CmdPlayAnimDisk(vlVMState* L) { return PlayAnimObject(L, 1); }

int CmdFreeAnim(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return FreeAnimByID(L, id, 1);
}

int CmdLoadAnim(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  return LoadAnimObject(L, VL_KIND_ANIM);
}

int CmdScaleAnim(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  if (IsActiveAnimID(id)) return kErrActiveAnim;
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, id, &a, VL_ANIM_FINDUNLOCKED)) return status;
  int32_t w = static_cast<int32_t>(GetNumberOrPercentArg(L, 2, a->width, 1, nullptr));
  int32_t h = static_cast<int32_t>(GetNumberOrPercentArg(L, 3, a->height, 1, nullptr));
  if (int status = ResolveAspectSize(a->width, a->height, &w, &h)) return status;
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  const int32_t mode = vl::OptIntArg(L, 4, 0);
  if (w == a->width && h == a->height) return 0;
  if (a->disk) {
    a->width = w, a->height = h;
    a->scaleMode = static_cast<uint32_t>(mode);
    return 0;
  }
  if (int status = ScaleFrames(a->bitmaps, a->masks, a->alphas, a->frameCount, a->width, a->height, w, h, mode))
    return status;
  a->width = a->storedWidth = w;
  a->height = a->storedHeight = h;
  return 0;
}

// The options of LoadAnimFrame and IsAnim.
struct SourceOptions {
  int32_t transparent = -1, deinterlace = 0;
  int loadAlpha = 0, loadTransparency = 0;
  char loaders[256] = "", adapter[256] = "";
};

int ReadSourceOptions(vlVMState* L, int index, SourceOptions* o) {
  if (vl::GetTypeAt(L, index) == VL_TTABLE) {
    GetTableInt(L, index, "transparency", &o->transparent, nullptr);
    GetTableBool(L, index, "loadalpha", &o->loadAlpha, nullptr);
    GetTableBool(L, index, "loadtransparency", &o->loadTransparency, nullptr);
    GetTableInt(L, index, "deinterlace", &o->deinterlace, nullptr);
    GetTableString(L, index, "loader", o->loaders, sizeof o->loaders, nullptr);
    GetTableString(L, index, "adapter", o->adapter, sizeof o->adapter, nullptr);
  } else if (vl::GetTypeAt(L, index) != VL_TNIL && vl::GetTypeAt(L, index) != -1) {
    o->transparent = vl::CheckIntArg(L, index);
  }
  if (o->loadTransparency && (o->loadAlpha || o->transparent != -1)) return ERR_WRONGUSAGE;
  return 0;
}

int CmdLoadAnimFrame(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vlObjectId id;
  const int automatic = GetObjectIDArgOpt(&id, L, 1);
  int32_t frame = vl::CheckIntArg(L, 2);
  const char* file = GetFileNameArg(L, 3, 0, nullptr);
  SourceOptions o;
  if (int status = ReadSourceOptions(L, 4, &o)) return status;
  vlAnimSource* source = nullptr;
  int32_t w = 0, h = 0, count = 0, hasAlpha = 0;
  uintptr_t ref = 0;
  if (int status = OpenAnimSource(file, o.loaders, o.adapter, o.deinterlace, o.loadTransparency, &source, &w, &h,
                                  &count, &hasAlpha, &ref))
    return status;
  auto fail = [&](int status) {
    CloseAnimSource(source);
    return status;
  };
  if (frame == -1) frame = count;
  if (frame < 1 || frame > count) return fail(ERR_ANIMFRAME);
  if (o.loadAlpha && !hasAlpha) {
    SetErrorArgument(file);
    return fail(ERR_NOALPHA);
  }
  if (!automatic)
    if (int status = FreeBrushByID(L, id, 0)) return fail(status);
  vlBitmap *b = nullptr, *m = nullptr, *a = nullptr;
  if (int status = DecodeSourceFrame(source, frame - 1, o.transparent, o.loadAlpha, o.loadTransparency, file, w, h, &b,
                                     &m, &a))
    return fail(status);
  CloseAnimSource(source);
  vlBrush* brush = nullptr;
  if (int status = AddBrush(&id, b, m, a, w, h, w, nullptr, m ? o.transparent : -1, 0, &brush)) {
    FreeFrameTriple(b, m, a);
    return status;
  }
  return Finish(L, automatic, brush);
}

int CmdIsAnim(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  const char* file = GetFileNameArg(L, 1, 0, nullptr);
  SourceOptions o;
  if (vl::GetTypeAt(L, 2) == VL_TTABLE) {
    GetTableString(L, 2, "loader", o.loaders, sizeof o.loaders, nullptr);
    GetTableString(L, 2, "adapter", o.adapter, sizeof o.adapter, nullptr);
  }
  vl::PushNumber(L, IsAnimFile(file, o.loaders, o.adapter));
  return 1;
}

int CmdCreateAnim(vlVMState* L) {
  CheckArgs(L, 6, 8, 0, 0);
  vlObjectId id, brushId;
  const int automatic = GetObjectIDArgOpt(&id, L, 1);
  GetObjectIDArg(&brushId, L, 2);
  vlAnimRequest r{};
  r.newId = &id;
  r.sourceId = &brushId;
  r.sourceKind = VL_KIND_BRUSH;
  r.targetKind = VL_KIND_ANIM;
  r.frameWidth = vl::CheckIntArg(L, 3);
  r.frameHeight = vl::CheckIntArg(L, 4);
  r.frameCount = vl::CheckIntArg(L, 5);
  r.framesPerRow = vl::CheckIntArg(L, 6);
  r.startX = vl::OptIntArg(L, 7, 0);
  r.startY = vl::OptIntArg(L, 8, 0);
  r.argCount = 7;
  r.transparentColor = -1;
  if (!automatic)
    if (int status = FreeAnimByID(L, id, 0)) return status;
  if (int status = CreateAnimObject(L, &r)) return status;
  return Finish(L, automatic, r.result);
}

int CmdCopyAnim(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlObjectId srcId, id;
  GetObjectIDArg(&srcId, L, 1);
  const int automatic = GetObjectIDArgOpt(&id, L, 2);
  if (!automatic && !srcId.handle && id.number == srcId.number) return ERR_WRONGUSAGE;
  vlAnim* src = nullptr;
  if (int status = GetAnimByID(L, srcId, &src, 0)) return status;
  if (!automatic)
    if (int status = FreeAnimByID(L, id, 0)) return status;
  vlAnim* copy = nullptr;
  if (int status = CopyAnimForLayer(L, src, &id, &copy)) return status;
  return Finish(L, automatic, copy);
}

int CmdGetAnimFrame(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  vlObjectId id, animId;
  const int automatic = GetObjectIDArgOpt(&id, L, 1);
  const int32_t frame = vl::CheckIntArg(L, 2);
  GetObjectIDArg(&animId, L, 3);
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, animId, &a, 0)) return status;
  if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
  if (!automatic)
    if (int status = FreeBrushByID(L, id, 0)) return status;
  vlBitmap *b = nullptr, *m = nullptr, *al = nullptr;
  if (int status = GetAnimFrameBitmaps(a, frame - 1, 1, 0, &b, &m, &al)) return status;
  vlBrush* brush = nullptr;
  if (int status = AddBrush(&id, b, m, al, a->width, a->height, a->width, nullptr, m ? a->transparentColor : -1, 0,
                            &brush)) {
    FreeFrameTriple(b, m, al);
    return status;
  }
  return Finish(L, automatic, brush);
}

int CmdSelectAnim(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return SelectDrawTarget(L, VL_OBJ_ANIM, id, VL_OUTPUT_BRUSH, vl::CheckIntArg(L, 2), vl::OptIntArg(L, 3, 0),
                          vl::OptIntArg(L, 4, 0));
}

// DisplayAnimFrame(id, x, y, frame [, tags]): as DisplayBrush, with every
// display tag.
int CmdDisplayAnimFrame(vlVMState* L) {
  CheckArgs(L, 4, 5, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  const int32_t frame = vl::CheckIntArg(L, 4);
  return DisplayObjectOnTarget(L, VL_LAYER_ANIM, id, frame < 1 ? -1 : frame - 1, 0, 0, vl::CheckIntArg(L, 2),
                               vl::CheckIntArg(L, 3), 1, 1, 0, 5, 0);
}

int CmdModifyAnimFrames(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return ChangeAnimFrameCount(L, id, vl::CheckIntArg(L, 2), vl::OptIntArg(L, 3, 0), 0);
}

int CmdSetAnimFrameDelay(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, id, &a, 0)) return status;
  const int32_t frame = vl::CheckIntArg(L, 2), delay = vl::CheckIntArg(L, 3);
  if (delay < 0) return ERR_WRONGUSAGE;
  if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
  a->delays[frame - 1] = delay;
  return 0;
}

const vlCommand kAnimCommands[] = {
    {"PlayAnim", CmdPlayAnim},
    {"FreeAnim", CmdFreeAnim},
    {"ScaleAnim", CmdScaleAnim},
    {"PlayAnimDisk", CmdPlayAnimDisk},
    {"LoadAnimFrame", CmdLoadAnimFrame},
    {"LoadAnim", CmdLoadAnim},
    {"IsAnim", CmdIsAnim},
    {"CreateAnim", CmdCreateAnim},
    {"CopyAnim", CmdCopyAnim},
    {"GetAnimFrame", CmdGetAnimFrame},
    {"DisplayAnimFrame", CmdDisplayAnimFrame},
    {"SelectAnim", CmdSelectAnim},
    {"ModifyAnimFrames", CmdModifyAnimFrames},
    {"SaveAnim", CmdSaveAnim},
    {"BeginAnimStream", CmdBeginAnimStream},
    {"WriteAnimFrame", CmdWriteAnimFrame},
    {"FinishAnimStream", CmdFinishAnimStream},
    {"SetAnimFrameDelay", CmdSetAnimFrameDelay},
    {nullptr, nullptr},
};

const vlConstant kAnimConstants[] = {
    {"DEINTERLACE_DEFAULT", nullptr, 0},
    {"DEINTERLACE_DOUBLE", nullptr, 1},
    {nullptr, nullptr, 0},
};

}  // namespace

void FreeAnimLibrary(vlVMState* L) {
  FreeAnimStreams(L);
  while (vlAnim* a = vlAnimList) {
    vlAnimList = a->next;
    FreeAnimRecord(L, a);
  }
  ForgetAnimIndex();
  UnregisterAnimLayerSource();
}

namespace {

// Once the screen's format is known, anim and sprite frames preloaded as
// pixels become bitmaps.
int ConvertPreloadedFrames(vlVMState*, uint32_t) {
  const int anims = ConvertAnimFrameBitmaps();
  const int sprites = ConvertSpriteFrameBitmaps();
  return anims ? anims : sprites;
}

}  // namespace

int OpenAnimLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kAnimCommands, 0);
  vl::SetStackTop(L, -2);
  vl::RegisterConstants(L, kAnimConstants, 0);
  RegisterAnimLayerSource();
  InstallAnimAttributeHandlers();
  AddScreenFormatConverter(VL_CONVERT_FRAMES, ConvertPreloadedFrames);
  if (int status = RegisterLibrary(kAnimCommands, "anim")) return status;
  if (int status = RegisterObjectList(reinterpret_cast<vlObjectNode**>(&vlAnimList), [](const vlObjectNode* n) {
        return reinterpret_cast<const vlAnim*>(n)->orphaned != 0;
      })) return status;
  return RegisterAnimStreamList();
}
