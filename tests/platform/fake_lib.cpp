// A stand-in for one optional system library, made from the same symbol
// list the loader uses: every symbol of VL_FAKE_LIST becomes an empty
// function. A symbol is left out by defining its name to another one on the
// compiler's command line.
#include "platform/shared_lib_lists.h"

#define VL_FAKE_STUB(name, flags) \
  extern "C" __attribute__((visibility("default"))) void name() {}
VL_FAKE_LIST(VL_FAKE_STUB)
