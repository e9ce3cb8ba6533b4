// Optional system libraries opened at run time: ALSA, XFixes, Xcursor,
// XF86VidMode, Pango, XRandR, XScreenSaver, the GTK 2 set and Xext (MIT-SHM). Callers reach
// them only through the dl_<symbol> pointers declared here from the lists in
// shared_lib_lists.h, and test the library's handle (or the GTK / XRandR
// usable flag) first: a library that lacks a required symbol is left closed
// with every pointer null, so a feature is either whole or absent.
#pragma once
#include <cstddef>
#include <cstdint>

#include <X11/Xlib.h>
#include <X11/Xcursor/Xcursor.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/extensions/xf86vmode.h>
#include <alsa/asoundlib.h>
#include <gdk/gdkx.h>
#include <glib-object.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <pango/pango.h>

#include "platform/shared_lib_lists.h"

// The libraries in the order they are opened.
enum vlSharedLib : int {
  VL_LIB_ALSA,
  VL_LIB_XFIXES,
  VL_LIB_XCURSOR,
  VL_LIB_XVIDMODE,
  VL_LIB_PANGO,
  VL_LIB_XRANDR,
  VL_LIB_XSS,
  VL_LIB_GTK,
  VL_LIB_GLIB,
  VL_LIB_GOBJECT,
  VL_LIB_XEXT,
  VL_LIB_COUNT
};

// The system's file names, indexed by vlSharedLib.
extern const char* const kSharedLibFiles[VL_LIB_COUNT];

// Handles (null = absent or disabled) and the two usable flags.
extern void* gSharedLibs[VL_LIB_COUNT];
extern int gGtkUsable;
extern int gXrandrUsable;

#define VL_DECLARE_SYMBOL(name, flags) extern decltype(&::name) dl_##name;
VL_ALSA_SYMBOLS(VL_DECLARE_SYMBOL)
VL_XFIXES_SYMBOLS(VL_DECLARE_SYMBOL)
VL_XCURSOR_SYMBOLS(VL_DECLARE_SYMBOL)
VL_XVIDMODE_SYMBOLS(VL_DECLARE_SYMBOL)
VL_PANGO_SYMBOLS(VL_DECLARE_SYMBOL)
VL_XRANDR_SYMBOLS(VL_DECLARE_SYMBOL)
VL_XSS_SYMBOLS(VL_DECLARE_SYMBOL)
VL_GTK_SYMBOLS(VL_DECLARE_SYMBOL)
VL_GLIB_SYMBOLS(VL_DECLARE_SYMBOL)
VL_GOBJECT_SYMBOLS(VL_DECLARE_SYMBOL)
VL_XEXT_SYMBOLS(VL_DECLARE_SYMBOL)
#undef VL_DECLARE_SYMBOL

// One symbol of a list: its name, the pointer it fills and its flags.
struct vlLibSymbol {
  const char* name;
  void* slot;  // address of the function pointer
  uint32_t flags;
};
#define VL_LIB_SYMBOL(name, flags) vlLibSymbol{#name, &dl_##name, flags},

// Looks up every symbol of a list in handle. A missing required symbol is
// reported with the library's warning name (unless warnName is null); a
// missing silent one leaves its pointer null. Returns the number of
// required symbols missing; when it is not 0 every pointer of the list is
// cleared, so no half-loaded library can be called.
int ImportSymbols(void* handle, const char* warnName, const vlLibSymbol* symbols, size_t count);
void ClearSymbols(const vlLibSymbol* symbols, size_t count);

// Opens the libraries and fills the pointers; never fails. The second form
// opens the given files instead of kSharedLibFiles (null entries are
// absent), so a library set can be replaced.
void LoadSharedLibs();
void LoadSharedLibsFrom(const char* const files[VL_LIB_COUNT]);
// Closes what LoadSharedLibs opened, except XF86VidMode and XRandR, which
// register extension hooks in Xlib and so stay mapped until the process ends.
void UnloadSharedLibs();
