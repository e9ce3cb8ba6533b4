// Feature tests of the optional X extensions: a library is usable when the
// loader kept its handle (it keeps none with a symbol missing).
// Depends on the run-time library loader.
#include "platform/x11/x11_ext.h"

bool HaveXFixes() { return gSharedLibs[VL_LIB_XFIXES] != nullptr; }
bool HaveXcursor() { return gSharedLibs[VL_LIB_XCURSOR] != nullptr; }
bool HaveXF86VidMode() { return gSharedLibs[VL_LIB_XVIDMODE] != nullptr; }
bool HaveXRandRSymbols() { return gXrandrUsable != 0; }
bool HaveXss() { return gSharedLibs[VL_LIB_XSS] != nullptr; }
