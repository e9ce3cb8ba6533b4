// Stand-in for the layer look-ups of the display subsystem: no display,
// hence no current BGPic, layers off and no layer found. No dependencies.
#include "runtime/layer_lookup.h"

#include "vm/error_codes.h"

int FindLayerByName(vlVMState*, const char*) { return 0; }

int GetLayerDataList(vlVMState*, int, vlObjectData*** listOut) {
  if (listOut) *listOut = nullptr;
  return ERR_NOLAYERS;
}
