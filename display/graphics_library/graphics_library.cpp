// Opens the "graphics" command library: its commands, constants and the
// object list it owns.
#include "display/graphics_library/graphics_library.h"

#include "display/graphics_library/async_draw.h"
#include "runtime/objects.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/stack_api.h"

namespace {

const vlCommand kGraphicsCommands[] = {
    {"AsyncDrawFrame", CmdAsyncDrawFrame},
    {"FinishAsyncDraw", CmdFinishAsyncDraw},
    {"CancelAsyncDraw", CmdCancelAsyncDraw},
    {nullptr, nullptr},
};

const vlConstant kGraphicsConstants[] = {
    {"ASYNCDRAW", nullptr, VL_OBJ_ASYNCDRAW},
    {nullptr, nullptr, 0},
};

}  // namespace

int OpenGraphicsLib(vlVMState* L) {
  if (int status = InstallAsyncDrawHooks()) return status;
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kGraphicsCommands, 0);
  vl::SetStackTop(L, -2);
  if (int status = RegisterLibrary(kGraphicsCommands, "graphics")) return status;
  vl::RegisterConstants(L, kGraphicsConstants, 0);
  return 0;
}
