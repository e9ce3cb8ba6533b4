// The layer look-ups of the runtime core, answered from the current
// display until the layer records exist: layers off (or no display) is
// 1078, and with layers on no layer is found yet. Depends on the display
// record.
#include "runtime/layer_lookup.h"

#include "display/display.h"
#include "vm/error_codes.h"

int FindLayerByName(vlVMState*, const char*) { return 0; }

int GetLayerDataList(vlVMState*, int, vlObjectData*** listOut) {
  if (listOut) *listOut = nullptr;
  if (!vlCurrentDisplay || !vlCurrentDisplay->layersOn) return ERR_NOLAYERS;
  return ERR_LAYERRANGE;
}
