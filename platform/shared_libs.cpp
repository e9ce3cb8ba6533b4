// Run-time loading of the optional system libraries: dlopen of each file,
// dlsym of every listed symbol, the warnings for missing ones, and the
// forwarding entries through which the toolkit's cast macros reach GTK.
// Depends on the symbol lists and on libdl only.
#include "platform/shared_libs.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <span>

#define VL_DEFINE_SYMBOL(name, flags) decltype(&::name) dl_##name = nullptr;
VL_ALSA_SYMBOLS(VL_DEFINE_SYMBOL)
VL_XFIXES_SYMBOLS(VL_DEFINE_SYMBOL)
VL_XCURSOR_SYMBOLS(VL_DEFINE_SYMBOL)
VL_XVIDMODE_SYMBOLS(VL_DEFINE_SYMBOL)
VL_PANGO_SYMBOLS(VL_DEFINE_SYMBOL)
VL_XRANDR_SYMBOLS(VL_DEFINE_SYMBOL)
VL_XSS_SYMBOLS(VL_DEFINE_SYMBOL)
VL_GTK_SYMBOLS(VL_DEFINE_SYMBOL)
VL_GLIB_SYMBOLS(VL_DEFINE_SYMBOL)
VL_GOBJECT_SYMBOLS(VL_DEFINE_SYMBOL)
VL_XEXT_SYMBOLS(VL_DEFINE_SYMBOL)
#undef VL_DEFINE_SYMBOL

const char* const kSharedLibFiles[VL_LIB_COUNT] = {
    "libasound.so.2",    "libXfixes.so.3",      "libXcursor.so.1",  "libXxf86vm.so.1",
    "libpango-1.0.so.0", "libXrandr.so.2",      "libXss.so.1",      "libgtk-x11-2.0.so.0",
    "libglib-2.0.so.0",  "libgobject-2.0.so.0", "libXext.so.6",
};

void* gSharedLibs[VL_LIB_COUNT] = {};
int gGtkUsable = 0;
int gXrandrUsable = 0;

namespace {

const vlLibSymbol kAlsa[] = {VL_ALSA_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kXfixes[] = {VL_XFIXES_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kXcursor[] = {VL_XCURSOR_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kXvidmode[] = {VL_XVIDMODE_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kPango[] = {VL_PANGO_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kXrandr[] = {VL_XRANDR_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kXss[] = {VL_XSS_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kGtk[] = {VL_GTK_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kGlib[] = {VL_GLIB_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kGobject[] = {VL_GOBJECT_SYMBOLS(VL_LIB_SYMBOL)};
const vlLibSymbol kXext[] = {VL_XEXT_SYMBOLS(VL_LIB_SYMBOL)};

struct LibEntry {
  const char* warnName;  // null: missing symbols are not reported
  std::span<const vlLibSymbol> symbols;
};

// Indexed by vlSharedLib.
const LibEntry kLibs[VL_LIB_COUNT] = {
    {"alsa_base", kAlsa},         {"xfixes_base", kXfixes}, {"xcursor_base", kXcursor},
    {"xvidmode_base", kXvidmode}, {"pango_base", kPango},   {nullptr, kXrandr},
    {"xscrnsaver_base", kXss},    {"gtk_base", kGtk},       {"glib_base", kGlib},
    {"gobject_base", kGobject},   {"xext_base", kXext},
};

// The order in which the symbols are looked up.
constexpr vlSharedLib kImportOrder[] = {VL_LIB_GTK,      VL_LIB_GLIB,    VL_LIB_GOBJECT,
                                        VL_LIB_PANGO,    VL_LIB_ALSA,    VL_LIB_XFIXES,
                                        VL_LIB_XCURSOR,  VL_LIB_XVIDMODE, VL_LIB_XSS,
                                        VL_LIB_XRANDR,   VL_LIB_XEXT};

constexpr vlSharedLib kGtkSet[] = {VL_LIB_GTK, VL_LIB_GLIB, VL_LIB_GOBJECT};

bool InGtkSet(int lib) { return lib == VL_LIB_GTK || lib == VL_LIB_GLIB || lib == VL_LIB_GOBJECT; }

// Extension libraries hook into Xlib's display close; unmapping them would
// leave Xlib calling freed code.
bool StaysMapped(int lib) { return lib == VL_LIB_XVIDMODE || lib == VL_LIB_XRANDR || lib == VL_LIB_XEXT; }

// The toolkit and Pango (with what they pull in) register their types in
// GObject, which never unloads: unmapped, they would leave its type tables
// pointing at freed code, and a later load would register the same types
// again. They are forgotten at unload, never closed.
bool NeverClosed(int lib) { return lib == VL_LIB_PANGO || InGtkSet(lib); }

void CloseLib(int lib) {
  ClearSymbols(kLibs[lib].symbols.data(), kLibs[lib].symbols.size());
  if (gSharedLibs[lib]) dlclose(gSharedLibs[lib]);
  gSharedLibs[lib] = nullptr;
}

}  // namespace

void ClearSymbols(const vlLibSymbol* symbols, size_t count) {
  for (size_t i = 0; i < count; i++) {
    void* none = nullptr;
    std::memcpy(symbols[i].slot, &none, sizeof none);
  }
}

int ImportSymbols(void* handle, const char* warnName, const vlLibSymbol* symbols, size_t count) {
  int missing = 0;
  for (size_t i = 0; i < count; i++) {
    void* address = handle ? dlsym(handle, symbols[i].name) : nullptr;
    std::memcpy(symbols[i].slot, &address, sizeof address);
    if (address || (symbols[i].flags & VL_SYM_SILENT)) continue;
    missing++;
    if (warnName) {
      std::printf("WARNING: Library function %s not found in %s!\n", symbols[i].name, warnName);
    }
  }
  if (missing) ClearSymbols(symbols, count);
  std::fflush(stdout);
  return missing;
}

void LoadSharedLibsFrom(const char* const files[VL_LIB_COUNT]) {
  for (int lib = 0; lib < VL_LIB_COUNT; lib++) {
    // A library kept mapped from an earlier load is opened again: the
    // reference it holds is never given back.
    gSharedLibs[lib] = files[lib] ? dlopen(files[lib], RTLD_LAZY) : nullptr;
  }

  // GTK is used only with GLib and GObject beside it.
  gGtkUsable = gSharedLibs[VL_LIB_GTK] && gSharedLibs[VL_LIB_GLIB] && gSharedLibs[VL_LIB_GOBJECT];
  if (!gGtkUsable) {
    for (vlSharedLib lib : kGtkSet) CloseLib(lib);
  }

  bool incomplete = false;
  bool gtkComplete = true;
  for (vlSharedLib lib : kImportOrder) {
    const LibEntry& entry = kLibs[lib];
    if (!gSharedLibs[lib]) {
      ClearSymbols(entry.symbols.data(), entry.symbols.size());
      continue;
    }
    if (lib == VL_LIB_XRANDR) gXrandrUsable = 1;
    int missing = ImportSymbols(gSharedLibs[lib], entry.warnName, entry.symbols.data(),
                                entry.symbols.size());
    if (!missing) continue;
    if (lib == VL_LIB_XRANDR) {
      // Mode switching then takes the XF86VidMode path; nothing to report.
      gXrandrUsable = 0;
      continue;
    }
    incomplete = true;
    if (InGtkSet(lib)) {
      gtkComplete = false;
    } else {
      CloseLib(lib);
    }
  }
  if (gGtkUsable && !gtkComplete) {
    gGtkUsable = 0;
    for (vlSharedLib lib : kGtkSet) CloseLib(lib);
  }

  if (incomplete) {
    std::printf("WARNING: Could not import all symbols -- Vellamora might crash!\n");
    std::fflush(stdout);
  }
}

void LoadSharedLibs() { LoadSharedLibsFrom(kSharedLibFiles); }

void UnloadSharedLibs() {
  for (int lib = 0; lib < VL_LIB_COUNT; lib++) {
    if (NeverClosed(lib)) {
      ClearSymbols(kLibs[lib].symbols.data(), kLibs[lib].symbols.size());
      gSharedLibs[lib] = nullptr;
    } else if (!StaysMapped(lib)) {
      CloseLib(lib);
    }
  }
  gGtkUsable = 0;
}

// The toolkit's cast and type macros call these names; they forward to the
// library when it is loaded and answer "no type" otherwise.
#define VL_GTK_TYPE_GETTERS(X)                                                       \
  X(gtk_dialog_get_type) X(gtk_window_get_type) X(gtk_label_get_type)              \
  X(gtk_misc_get_type) X(gtk_entry_get_type) X(gtk_file_chooser_get_type)          \
  X(gtk_box_get_type) X(gtk_container_get_type) X(gtk_editable_get_type)           \
  X(gdk_drawable_get_type) X(gdk_window_object_get_type) X(gtk_widget_get_type)    \
  X(gtk_color_selection_dialog_get_type) X(gtk_color_selection_get_type)           \
  X(gtk_scrolled_window_get_type) X(gtk_tree_view_get_type)                        \
  X(gtk_tree_model_get_type) X(gtk_list_store_get_type)                            \
  X(gtk_font_selection_dialog_get_type)

extern "C" {
#define VL_FORWARD_TYPE_GETTER(name) \
  GType name(void) { return dl_##name ? dl_##name() : 0; }
VL_GTK_TYPE_GETTERS(VL_FORWARD_TYPE_GETTER)
#undef VL_FORWARD_TYPE_GETTER

GTypeInstance* g_type_check_instance_cast(GTypeInstance* instance, GType type) {
  return dl_g_type_check_instance_cast ? dl_g_type_check_instance_cast(instance, type) : instance;
}
}
