// Run-time loading against the real system libraries and against stand-in
// libraries built from the same symbol lists, complete or with one symbol
// missing: handles, usable flags, the exact warnings, and that a library
// with a required symbol missing is left with no pointer set.
// GoogleTest first: the X headers define None and Bool as macros.
#include <gtest/gtest.h>

#include "platform/shared_libs.h"

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using Files = std::array<const char*, VL_LIB_COUNT>;

std::string LoadCapturing(const Files& files) {
  testing::internal::CaptureStdout();
  LoadSharedLibsFrom(files.data());
  return testing::internal::GetCapturedStdout();
}

Files Only(vlSharedLib lib, const char* file) {
  Files files{};
  files[lib] = file;
  return files;
}

// The toolkit libraries keep what their constructors allocate in their own
// data; once unmapped, the leak checker would report it as ours. Pinned
// libraries stay mapped whatever the loader closes.
void PinSystemLibraries() {
  static bool pinned = false;
  if (pinned) return;
  pinned = true;
  for (const char* file : kSharedLibFiles) dlopen(file, RTLD_LAZY | RTLD_NODELETE);
}

Files SystemFiles() {
  PinSystemLibraries();
  Files files;
  for (int i = 0; i < VL_LIB_COUNT; i++) files[i] = kSharedLibFiles[i];
  return files;
}

const std::string kFinalWarning = "WARNING: Could not import all symbols -- Vellamora might crash!\n";

TEST(SharedLibs, SystemLibrariesLoadWholeAndWork) {
  std::string printed = LoadCapturing(SystemFiles());
  EXPECT_EQ(printed, "");
  for (int lib = 0; lib < VL_LIB_COUNT; lib++) {
    EXPECT_NE(gSharedLibs[lib], nullptr) << kSharedLibFiles[lib];
  }
  EXPECT_EQ(gGtkUsable, 1);
  EXPECT_EQ(gXrandrUsable, 1);

  // Calls through the pointers reach the real code.
  PangoFontDescription* font = dl_pango_font_description_from_string("Sans Bold Italic 12");
  ASSERT_NE(font, nullptr);
  EXPECT_STREQ(dl_pango_font_description_get_family(font), "Sans");
  EXPECT_EQ(dl_pango_font_description_get_weight(font), PANGO_WEIGHT_BOLD);
  EXPECT_EQ(dl_pango_font_description_get_style(font), PANGO_STYLE_ITALIC);
  dl_pango_font_description_free(font);

  gchar* escaped = dl_g_markup_escape_text("a<b&c", -1);
  EXPECT_STREQ(escaped, "a&lt;b&amp;c");
  dl_g_free(escaped);
  gsize written = 0;
  gchar* utf8 = dl_g_convert("caf\xe9", -1, "UTF-8", "ISO-8859-1", nullptr, &written, nullptr);
  ASSERT_NE(utf8, nullptr);
  EXPECT_STREQ(utf8, "caf\xc3\xa9");
  dl_g_free(utf8);

  EXPECT_GT(dl_snd_pcm_status_sizeof(), 0u);
  EXPECT_NE(dl_snd_pcm_avail, nullptr);

  // The type getters under their own names forward to the toolkit.
  GType widget = gtk_widget_get_type();
  EXPECT_NE(widget, GType(0));
  EXPECT_EQ(widget, dl_gtk_widget_get_type());
  GType window = gtk_window_get_type();
  EXPECT_NE(window, GType(0));
  EXPECT_NE(window, widget);

  UnloadSharedLibs();
  for (int lib : {VL_LIB_ALSA, VL_LIB_XFIXES, VL_LIB_XCURSOR, VL_LIB_PANGO, VL_LIB_XSS,
                  VL_LIB_GTK, VL_LIB_GLIB, VL_LIB_GOBJECT}) {
    EXPECT_EQ(gSharedLibs[lib], nullptr) << kSharedLibFiles[lib];
  }
  EXPECT_EQ(gGtkUsable, 0);
  EXPECT_EQ(dl_snd_pcm_open, nullptr);
  EXPECT_EQ(dl_gtk_init, nullptr);
  EXPECT_EQ(dl_g_free, nullptr);
  // No toolkit: "no type" (called through a pointer, since the toolkit
  // declares its getters pure and the first answer could be reused).
  GType (*volatile getter)() = &gtk_widget_get_type;
  EXPECT_EQ(getter(), GType(0));
  // The extension libraries stay mapped with their pointers.
  EXPECT_NE(gSharedLibs[VL_LIB_XRANDR], nullptr);
  EXPECT_NE(gSharedLibs[VL_LIB_XVIDMODE], nullptr);
  EXPECT_NE(dl_XRRQueryVersion, nullptr);
  EXPECT_NE(dl_XF86VidModeQueryExtension, nullptr);
}

TEST(SharedLibs, CompleteStandInFillsEveryPointerFromItsOwnSymbols) {
  EXPECT_EQ(LoadCapturing(Only(VL_LIB_XFIXES, VL_FAKE_XFIXES_FULL)), "");
  void* handle = gSharedLibs[VL_LIB_XFIXES];
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(dl_XFixesCreateRegion), dlsym(handle, "XFixesCreateRegion"));
  EXPECT_EQ(reinterpret_cast<void*>(dl_XFixesSelectSelectionInput),
            dlsym(handle, "XFixesSelectSelectionInput"));
  EXPECT_EQ(gSharedLibs[VL_LIB_ALSA], nullptr);
  EXPECT_EQ(dl_snd_pcm_open, nullptr);
  UnloadSharedLibs();
  EXPECT_EQ(dl_XFixesCreateRegion, nullptr);
}

TEST(SharedLibs, MissingRequiredSymbolWarnsAndDisablesTheLibrary) {
  std::string printed = LoadCapturing(Only(VL_LIB_XFIXES, VL_FAKE_XFIXES_PARTIAL));
  EXPECT_EQ(printed, "WARNING: Library function XFixesUnionRegion not found in xfixes_base!\n" +
                         kFinalWarning);
  // No half-loaded library: the feature is simply absent.
  EXPECT_EQ(gSharedLibs[VL_LIB_XFIXES], nullptr);
  EXPECT_EQ(dl_XFixesQueryVersion, nullptr);
  EXPECT_EQ(dl_XFixesCreateRegion, nullptr);
  EXPECT_EQ(dl_XFixesUnionRegion, nullptr);
  UnloadSharedLibs();
}

TEST(SharedLibs, OtherLibrariesSurviveOneIncompleteLibrary) {
  Files files = SystemFiles();
  files[VL_LIB_XFIXES] = VL_FAKE_XFIXES_PARTIAL;
  std::string printed = LoadCapturing(files);
  EXPECT_EQ(printed, "WARNING: Library function XFixesUnionRegion not found in xfixes_base!\n" +
                         kFinalWarning);
  EXPECT_EQ(gSharedLibs[VL_LIB_XFIXES], nullptr);
  EXPECT_NE(gSharedLibs[VL_LIB_ALSA], nullptr);
  EXPECT_NE(dl_snd_pcm_open, nullptr);
  EXPECT_EQ(gGtkUsable, 1);
  UnloadSharedLibs();
}

TEST(SharedLibs, XrandrWithoutASymbolIsSilentlyUnusable) {
  EXPECT_EQ(LoadCapturing(Only(VL_LIB_XRANDR, VL_FAKE_XRANDR_PARTIAL)), "");
  EXPECT_EQ(gXrandrUsable, 0);
  EXPECT_NE(gSharedLibs[VL_LIB_XRANDR], nullptr);
  EXPECT_EQ(dl_XRRGetScreenResourcesCurrent, nullptr);
  EXPECT_EQ(dl_XRRQueryVersion, nullptr);
}

TEST(SharedLibs, SilentSymbolsMayBeMissing) {
  EXPECT_EQ(LoadCapturing(Only(VL_LIB_ALSA, VL_FAKE_ASOUND_PARTIAL)), "");
  EXPECT_NE(gSharedLibs[VL_LIB_ALSA], nullptr);
  EXPECT_EQ(dl_snd_pcm_avail, nullptr);
  EXPECT_NE(dl_snd_pcm_open, nullptr);
  EXPECT_NE(dl_snd_pcm_resume, nullptr);
  UnloadSharedLibs();

  Files files = SystemFiles();
  files[VL_LIB_GTK] = VL_FAKE_GTK_NO_SILENT;
  EXPECT_EQ(LoadCapturing(files), "");
  EXPECT_EQ(gGtkUsable, 1);
  EXPECT_EQ(dl_gtk_dialog_get_action_area, nullptr);
  EXPECT_EQ(dl_gtk_dialog_get_content_area, nullptr);
  EXPECT_NE(dl_gtk_dialog_new, nullptr);
  UnloadSharedLibs();
}

TEST(SharedLibs, GtkWithoutGobjectIsNotUsedAtAll) {
  Files files = SystemFiles();
  files[VL_LIB_GOBJECT] = "libvl-no-such-library.so.0";
  EXPECT_EQ(LoadCapturing(files), "");
  EXPECT_EQ(gGtkUsable, 0);
  EXPECT_EQ(gSharedLibs[VL_LIB_GTK], nullptr);
  EXPECT_EQ(gSharedLibs[VL_LIB_GLIB], nullptr);
  EXPECT_EQ(gSharedLibs[VL_LIB_GOBJECT], nullptr);
  EXPECT_EQ(dl_gtk_init, nullptr);
  EXPECT_EQ(dl_g_free, nullptr);
  EXPECT_NE(gSharedLibs[VL_LIB_PANGO], nullptr);
  UnloadSharedLibs();
}

TEST(SharedLibs, IncompleteGobjectDisablesTheWholeToolkitSet) {
  Files files = SystemFiles();
  files[VL_LIB_GOBJECT] = VL_FAKE_GOBJECT_PARTIAL;
  std::string printed = LoadCapturing(files);
  EXPECT_EQ(printed, "WARNING: Library function g_signal_connect_data not found in gobject_base!\n" +
                         kFinalWarning);
  EXPECT_EQ(gGtkUsable, 0);
  for (int lib : {VL_LIB_GTK, VL_LIB_GLIB, VL_LIB_GOBJECT}) EXPECT_EQ(gSharedLibs[lib], nullptr);
  EXPECT_EQ(dl_gtk_init, nullptr);
  EXPECT_EQ(dl_g_markup_escape_text, nullptr);
  EXPECT_EQ(dl_g_object_unref, nullptr);
  EXPECT_NE(gSharedLibs[VL_LIB_ALSA], nullptr);
  UnloadSharedLibs();
}

TEST(SharedLibs, WarningsFollowTheLookupOrderAndTheFinalOneComesOnce) {
  // A library file whose symbols belong to another list misses them all.
  Files files{};
  files[VL_LIB_XCURSOR] = VL_FAKE_XFIXES_FULL;
  files[VL_LIB_PANGO] = VL_FAKE_XFIXES_FULL;
  std::string printed = LoadCapturing(files);
  std::string expected =
      "WARNING: Library function pango_font_description_from_string not found in pango_base!\n"
      "WARNING: Library function pango_font_description_get_family not found in pango_base!\n"
      "WARNING: Library function pango_font_description_free not found in pango_base!\n"
      "WARNING: Library function pango_font_description_get_style not found in pango_base!\n"
      "WARNING: Library function pango_font_description_get_weight not found in pango_base!\n"
      "WARNING: Library function XcursorImageCreate not found in xcursor_base!\n"
      "WARNING: Library function XcursorImageDestroy not found in xcursor_base!\n"
      "WARNING: Library function XcursorImageLoadCursor not found in xcursor_base!\n" +
      kFinalWarning;
  EXPECT_EQ(printed, expected);
  EXPECT_EQ(gSharedLibs[VL_LIB_XCURSOR], nullptr);
  EXPECT_EQ(gSharedLibs[VL_LIB_PANGO], nullptr);
  UnloadSharedLibs();
}

// A list of this test's own: the mechanism works for any library.
#define VL_TEST_SYMBOLS(X) X(strlen, VL_SYM_REQUIRED) X(vl_no_such_function, VL_SYM_SILENT)
extern "C" int vl_no_such_function(int);
decltype(&::strlen) dl_strlen = nullptr;
decltype(&::vl_no_such_function) dl_vl_no_such_function = nullptr;

TEST(SharedLibs, ImportSymbolsServesAnyList) {
  const vlLibSymbol list[] = {VL_TEST_SYMBOLS(VL_LIB_SYMBOL)};
  void* libc = dlopen("libc.so.6", RTLD_LAZY);
  ASSERT_NE(libc, nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ImportSymbols(libc, "libc_base", list, 2), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_NE(dl_strlen, nullptr);
  EXPECT_EQ(dl_strlen("four"), 4u);
  EXPECT_EQ(dl_vl_no_such_function, nullptr);

  // Made required, the missing one empties the whole list.
  const vlLibSymbol strict[] = {list[0], {list[1].name, list[1].slot, VL_SYM_REQUIRED}};
  testing::internal::CaptureStdout();
  EXPECT_EQ(ImportSymbols(libc, "libc_base", strict, 2), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "WARNING: Library function vl_no_such_function not found in libc_base!\n");
  EXPECT_EQ(dl_strlen, nullptr);
  // Without a warning name nothing is printed.
  testing::internal::CaptureStdout();
  EXPECT_EQ(ImportSymbols(libc, nullptr, strict, 2), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  dlclose(libc);
}

}  // namespace
