// The "graphics" command library.
#pragma once

struct vlVMState;
struct vlConstant;

int OpenGraphicsLib(vlVMState* state);
// Shut-down: the image cache, the scaler's kept tables, the clip regions,
// pointer images and their buffers.
void FreeGraphicsObjects(vlVMState* state);

extern const vlConstant kGraphicsConstants[];
