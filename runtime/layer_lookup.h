// The look-ups of layers that the runtime core asks of the display
// subsystem. Until layers exist there is no current BGPic and no layer is
// ever found.
#pragma once

struct vlVMState;
struct vlObjectData;

// Position (1-based) of the layer with that name in the current BGPic, 0
// when none.
int FindLayerByName(vlVMState* state, const char* name);

// The user-data list of the layer that argument index names in the current
// BGPic: 0 and the address of the list, 1078 when layers are not enabled,
// 1081 when no such layer exists.
int GetLayerDataList(vlVMState* state, int index, vlObjectData*** listOut);
