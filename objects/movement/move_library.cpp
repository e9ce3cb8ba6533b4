// The "moveobject" command library: MoveBrush, MoveAnim, MoveLayer and
// MoveSprite hand a job to the move engine.
#include <memory>
#include <new>

#include "display/bgpic.h"
#include "display/layers/layers.h"
#include "objects/anims/anim.h"
#include "objects/movement/move.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// Arguments: object, x1, y1, x2, y2, then a table or the speed, and for
// objects with frames the anim speed before the fx.
int MoveObject(vlVMState* L, int32_t kind, bool frames) {
  CheckArgs(L, 5, frames ? 8 : 7, 0, 0);
  // Held until the move takes it: an argument of the wrong type stops the
  // script from inside the reading below.
  std::unique_ptr<vlMoveJob> j(new (std::nothrow) vlMoveJob{});
  if (!j) return ERR_MEM;
  j->vm = L;
  j->kind = kind;
  if (kind == VL_OBJ_LAYER) {
    int32_t pos = 0;
    if (vl::GetTypeAt(L, 1) == VL_TSTRING) {
      const char* name = vl::ToStringAt(L, 1);
      pos = FindLayerByName(vlCurrentOutput, name);
      if (!pos) {
        SetErrorArgument(name);
        return ERR_FINDLAYER;
      }
    } else {
      pos = vl::CheckIntArg(L, 1);
    }
    j->id = {pos, nullptr};
  } else {
    GetObjectIDArg(&j->id, L, 1);
  }
  j->x = vl::CheckIntArg(L, 2);
  j->y = vl::CheckIntArg(L, 3);
  j->endX = vl::CheckIntArg(L, 4);
  j->endY = vl::CheckIntArg(L, 5);
  int32_t speed = -1, animSpeed = -1, fx = 0;
  int async = 0;
  if (vl::GetTypeAt(L, 6) == VL_TTABLE) {
    GetTableInt(L, 6, "fx", &fx, nullptr);
    GetTableInt(L, 6, "speed", &speed, nullptr);
    GetTableInt(L, 6, "animspeed", &animSpeed, nullptr);
    GetTableBool(L, 6, "async", &async, nullptr);
  } else {
    speed = vl::OptIntArg(L, 6, -1);
    if (frames) {
      animSpeed = vl::OptIntArg(L, 7, -1);
      fx = vl::OptIntArg(L, 8, 0);
    } else {
      fx = vl::OptIntArg(L, 7, 0);
    }
  }
  j->xStep = speed;
  j->animSpeed = animSpeed;
  j->fx = fx;
  j->async = async;
  return RunObjectMove(j.release());
}

int CmdMoveBrush(vlVMState* L) { return MoveObject(L, VL_KIND_BRUSH, false); }
int CmdMoveAnim(vlVMState* L) { return MoveObject(L, VL_KIND_ANIM, true); }
int CmdMoveTextObject(vlVMState* L) { return MoveObject(L, VL_KIND_TEXTOBJECT, false); }
int CmdMoveLayer(vlVMState* L) { return MoveObject(L, VL_OBJ_LAYER, false); }
int CmdMoveSprite(vlVMState* L) { return MoveObject(L, VL_KIND_SPRITE, true); }

const vlCommand kMoveCommands[] = {
    {"MoveBrush", CmdMoveBrush},
    {"MoveAnim", CmdMoveAnim},
    {"MoveTextObject", CmdMoveTextObject},
    {"MoveLayer", CmdMoveLayer},
    {"MoveSprite", CmdMoveSprite},
    {nullptr, nullptr},
};

const vlConstant kMoveConstants[] = {
    {"BOUNCE", nullptr, VL_MOVEFX_BOUNCE},         {"SMOOTHOUT", nullptr, VL_MOVEFX_SMOOTHOUT},
    {"DAMPED", nullptr, VL_MOVEFX_DAMPED},         {"SINE", nullptr, VL_MOVEFX_SINE},
    {"BIGSINE", nullptr, VL_MOVEFX_BIGSINE},       {"LOWERCURVE", nullptr, VL_MOVEFX_LOWERCURVE},
    {"UPPERCURVE", nullptr, VL_MOVEFX_UPPERCURVE}, {nullptr, nullptr, 0},
};

}  // namespace

int OpenMoveObjectLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kMoveCommands, 0);
  vl::SetStackTop(L, -2);
  vl::RegisterConstants(L, kMoveConstants, 0);
  return RegisterLibrary(kMoveCommands, "moveobject");
}
