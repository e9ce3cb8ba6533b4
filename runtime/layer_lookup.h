// The look-ups of layers that the runtime core asks of the display
// subsystem, which sits above it: the calls go through hooks the display
// library installs when it opens. Without it there is no current BGPic
// and no layer is ever found.
#pragma once

struct vlVMState;
struct vlObjectData;

struct vlLayerLookupHooks {
  // Position (1-based) of the layer with that name in the current BGPic,
  // 0 when none. Default: 0.
  int (*findLayerByName)(vlVMState* state, const char* name);
  // The user-data list of the layer that argument index names in the
  // current BGPic: 0 and the address of the list, 1078 when layers are not
  // enabled, 1081 when no such layer exists. Default: 1078.
  int (*getLayerDataList)(vlVMState* state, int index, vlObjectData*** listOut);
};
extern vlLayerLookupHooks gLayerLookupHooks;

int FindLayerByName(vlVMState* state, const char* name);
int GetLayerDataList(vlVMState* state, int index, vlObjectData*** listOut);
