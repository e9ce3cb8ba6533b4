// The bitmap routine of the X11 hooks: the features the display adapter
// grants. Depends on graphics/adapter_bitmap.h and the X11 hooks.
#include "graphics/x11_bitmap_glue.h"

#include "graphics/adapter_bitmap.h"
#include "platform/x11/x11_hooks.h"

void InstallX11BitmapHooks() { gX11Hooks.adapterBitmapCaps = GetAdapterBitmapCaps; }
