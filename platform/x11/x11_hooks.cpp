// Default routines of the X11 hooks: the answers of an engine with no
// displays. Depends on nothing else.
#include "platform/x11/x11_hooks.h"

#include "platform/x11/x11_window.h"

namespace {
vlDisplay* NoDisplays() { return nullptr; }
const unsigned long* BuiltinIcons(long* items) {
  *items = kBuiltinIconItems;
  return GetBuiltinIconData();
}
void KeepIcons(const unsigned long*) {}

constexpr vlX11Hooks kDefaults = {
    .firstDisplay = NoDisplays,
    .windowIconData = BuiltinIcons,
    .releaseIconData = KeepIcons,
};
}  // namespace

vlX11Hooks gX11Hooks = kDefaults;

void ResetX11Hooks() { gX11Hooks = kDefaults; }
