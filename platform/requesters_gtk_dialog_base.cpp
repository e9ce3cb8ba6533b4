// What every GTK requester dialog shares: text conversion towards the
// toolkit, the title and transient-for hint, running and destroying.
// GTK thread only. Depends on the run-time loaded GTK set and Xlib.
#include <X11/Xutil.h>

#include "platform/event_pump.h"
#include "platform/requesters_gtk_request.h"

namespace {

std::string Convert(const std::string& text, const char* to, const char* from) {
  gsize written = 0;
  gchar* converted = dl_g_convert(text.c_str(), -1, to, from, nullptr, &written, nullptr);
  if (!converted) return text;
  std::string out(converted, written);
  dl_g_free(converted);
  return out;
}

}  // namespace

std::string ToGtk(const std::string& text) { return Convert(text, "UTF-8", "ISO-8859-1"); }
std::string FromGtk(const std::string& text) { return Convert(text, "ISO-8859-1", "UTF-8"); }

namespace {

// Called by GTK from C: nothing here may throw. The hint goes through the
// toolkit's own connection, which only this thread uses; the player's
// connections belong to the main thread. It is set once the dialog's
// window exists and before it is mapped: a window manager places and
// stacks a window when it is mapped, and a hint set after that may be
// read too late.
void OnDialogRealized(GtkWidget* widget, gpointer) {
  Window target = gGtkRequest.transientWindow;
  if (!target || !widget->window || !dl_gdk_x11_drawable_get_xdisplay) return;
  GdkDrawable* drawable = GDK_DRAWABLE(widget->window);
  Display* display = dl_gdk_x11_drawable_get_xdisplay(drawable);
  if (display) XSetTransientForHint(display, dl_gdk_x11_drawable_get_xid(drawable), target);
}

}  // namespace

GtkWidget* PrepareDialog(GtkWidget* dialog) {
  if (!dialog) return nullptr;
  dl_gtk_window_set_title(GTK_WINDOW(dialog), ToGtk(gGtkRequest.title).c_str());
  // After the default handler, which makes the window.
  dl_g_signal_connect_data(dialog, "realize", G_CALLBACK(OnDialogRealized), nullptr, nullptr, G_CONNECT_AFTER);
  if (dialog->window) OnDialogRealized(dialog, nullptr);  // made already
  return dialog;
}

namespace {

struct SignalWatch {
  GtkWidget* dialog;
  bool fired;
};

// An end signal closes the dialog as its close box would; the main thread
// is waiting for the answer and then shuts down.
gboolean CloseOnEndSignal(gpointer data) {
  auto* watch = static_cast<SignalWatch*>(data);
  if (!QuitSignal()) return TRUE;
  watch->fired = true;
  dl_gtk_dialog_response(GTK_DIALOG(watch->dialog), GTK_RESPONSE_DELETE_EVENT);
  return FALSE;
}

}  // namespace

int RunDialog(GtkWidget* dialog) {
  SignalWatch watch{dialog, false};
  const guint source = dl_g_timeout_add(20, CloseOnEndSignal, &watch);
  int response = dl_gtk_dialog_run(GTK_DIALOG(dialog));
  if (!watch.fired) dl_g_source_remove(source);
  return response == GTK_RESPONSE_NONE || response == GTK_RESPONSE_DELETE_EVENT ? 0 : response;
}

void DestroyDialog(GtkWidget* dialog) {
  dl_gtk_widget_destroy(dialog);
  while (dl_g_main_context_iteration(nullptr, FALSE)) {
  }
}
