// Moved: the plug-in interface is abi/plugin_abi.h.
#include "abi/plugin_abi.h"
