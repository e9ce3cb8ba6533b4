// The layer look-ups of the runtime core, answered by the display library
// through its hooks. Depends on nothing above the error codes.
#include "runtime/layer_lookup.h"

#include "vm/error_codes.h"

namespace {

int NoLayerByName(vlVMState*, const char*) { return 0; }

int NoLayerDataList(vlVMState*, int, vlObjectData*** listOut) {
  if (listOut) *listOut = nullptr;
  return ERR_NOLAYERS;
}

}  // namespace

vlLayerLookupHooks gLayerLookupHooks = {NoLayerByName, NoLayerDataList};

int FindLayerByName(vlVMState* state, const char* name) { return gLayerLookupHooks.findLayerByName(state, name); }

int GetLayerDataList(vlVMState* state, int index, vlObjectData*** listOut) {
  return gLayerLookupHooks.getLayerDataList(state, index, listOut);
}
