// Opens the "graphics" command library: its commands, constants and the
// object lists it owns, and frees them at shut-down.
#include "display/graphics_library/graphics_library.h"

#include <vector>

#include "display/layers/draw_tags.h"
#include "display/layers/async_draw.h"
#include "display/graphics_library/graphics_state.h"
#include "formats/image_cache.h"
#include "graphics/picture_engines.h"
#include "runtime/objects.h"
#include "runtime/runtime_options.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/stack_api.h"

namespace {

const vlCommand kAsyncDrawCommands[] = {
    {"AsyncDrawFrame", CmdAsyncDrawFrame},
    {"FinishAsyncDraw", CmdFinishAsyncDraw},
    {"CancelAsyncDraw", CmdCancelAsyncDraw},
    {nullptr, nullptr},
};

// Run-time options 4 (mask mode) and 6 (alpha intensity) live here.
int SetOption(vlVMState*, uint32_t tag, uint32_t value) {
  if (tag == 4) gGraphicsState.maskMode = static_cast<int32_t>(value);
  else if (tag == 6) gGraphicsState.alphaIntensity = static_cast<int32_t>(value);
  else return 0;
  return 1;
}

int GetOption(vlVMState*, uint32_t tag, void* out) {
  if (tag == 4) *static_cast<int32_t*>(out) = gGraphicsState.maskMode;
  else if (tag == 6) *static_cast<int32_t*>(out) = gGraphicsState.alphaIntensity;
  else return 0;
  return 1;
}

const vlCommand* const kCommandGroups[] = {kGraphicsColorCommands, kGraphicsClipCommands, kGraphicsPointerCommands,
                                           kGraphicsAttributeCommands, kGraphicsSnapshotCommands, kAsyncDrawCommands};

// The groups live beside their code; the library registers them as one
// table.
const vlCommand* AllCommands() {
  static std::vector<vlCommand> all = [] {
    std::vector<vlCommand> rows;
    for (const vlCommand* group : kCommandGroups)
      for (const vlCommand* c = group; c->name; ++c) rows.push_back(*c);
    rows.push_back({nullptr, nullptr});
    return rows;
  }();
  return all.data();
}

}  // namespace

int OpenGraphicsLib(vlVMState* L) {
  gGraphicsState = {nullptr, nullptr, nullptr, 60, 0, -1, 0, 0};
  ResetDrawTagDefaults();
  if (int status = InstallAsyncDrawHooks()) return status;
  InstallPointerImageHooks();
  if (int status = AddRuntimeOptionSetHook(SetOption)) return status;
  if (int status = AddRuntimeOptionGetHook(GetOption)) return status;
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, AllCommands(), 0);
  vl::SetStackTop(L, -2);
  if (int status = RegisterLibrary(AllCommands(), "graphics")) return status;
  vl::RegisterConstants(L, kGraphicsConstants, 0);
  if (int status = RegisterObjectList(reinterpret_cast<vlObjectNode**>(&gGraphicsState.clipRegions),
                                      [](const vlObjectNode* n) {
                                        return reinterpret_cast<const vlClipRegionObject*>(n)->orphaned != 0;
                                      })) return status;
  return RegisterObjectList(reinterpret_cast<vlObjectNode**>(&gGraphicsState.pointers), [](const vlObjectNode* n) {
    return reinterpret_cast<const vlPointerImage*>(n)->orphaned != 0;
  });
}

void FreeGraphicsObjects(vlVMState* L) {
  FreeImageCache();
  FreeScaleTables();
  FreeAllClipRegions(L);
  FreeAllPointerImages(L);
}
