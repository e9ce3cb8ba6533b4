// The GTK forms of the requesters: one thread owns GTK after gtk_init and
// runs each dialog, while the main thread posts a request and keeps its
// windows alive until the answer is there. The request code is the only
// handshake between the two. Depends on the run-time loaded GTK set, the
// X11 connections and the event pump.
#include "platform/requesters_gtk.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/event_pump.h"
#include "platform/os.h"
#include "platform/shared_libs.h"
#include "platform/threads.h"
#include "platform/x11/x11_connection.h"
#include "runtime/chunk_name.h"
#include "runtime/messages.h"
#include "vm/error_codes.h"

namespace {

enum : int { kIdle = 0, kFile = 2 };

// Written by the main thread before the code is set, read by the GTK
// thread; the results the other way round before the code is cleared.
struct Request {
  std::atomic<int> code{kIdle};
  int reply = 0;
  std::string title, pattern, directory, file;
  int multiple = 0, save = 0;
  std::string resultDirectory, resultFiles;  // files: each part ended by a zero byte
  uint32_t resultCount = 0;
};

Request gRequest;
vlThreadId gThread = 0;
std::atomic<int> gStop{0};

// ISO 8859-1 towards GTK's UTF-8 and back; unconverted when that fails.
std::string Convert(const std::string& text, const char* to, const char* from) {
  gsize written = 0;
  gchar* converted = dl_g_convert(text.c_str(), -1, to, from, nullptr, &written, nullptr);
  if (!converted) return text;
  std::string out(converted, written);
  dl_g_free(converted);
  return out;
}
std::string ToGtk(const std::string& text) { return Convert(text, "UTF-8", "ISO-8859-1"); }
std::string FromGtk(const std::string& text) { return Convert(text, "ISO-8859-1", "UTF-8"); }

void AddPickedPath(const char* chosen) {
  std::string path = FromGtk(chosen);
  size_t slash = path.rfind('/');
  if (gRequest.resultCount == 0) gRequest.resultDirectory = slash == std::string::npos ? "" : path.substr(0, slash);
  gRequest.resultFiles.append(GetFilePart(path.c_str()));
  gRequest.resultFiles.push_back('\0');
  gRequest.resultCount++;
}

// The file chooser: open (one or several files) or save, with an "All"
// and a "Filter" filter when a pattern is given.
int RunFileDialog() {
  GtkFileChooserAction action = gRequest.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN;
  GtkWidget* dialog = dl_gtk_file_chooser_dialog_new(ToGtk(gRequest.title).c_str(), nullptr, action, "gtk-cancel",
                                                     GTK_RESPONSE_CANCEL, gRequest.save ? "gtk-save" : "gtk-open",
                                                     GTK_RESPONSE_ACCEPT, nullptr);
  if (!dialog) return -1;
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  if (gRequest.multiple) dl_gtk_file_chooser_set_select_multiple(chooser, TRUE);
  if (gRequest.save) dl_gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
  if (!gRequest.pattern.empty()) {
    GtkFileFilter* all = dl_gtk_file_filter_new();
    dl_gtk_file_filter_set_name(all, ToGtk(GetMessage(517)).c_str());
    dl_gtk_file_filter_add_pattern(all, "*");
    dl_gtk_file_filter_add_pattern(all, "*.*");
    dl_gtk_file_chooser_add_filter(chooser, all);
    GtkFileFilter* filter = dl_gtk_file_filter_new();
    dl_gtk_file_filter_set_name(filter, ToGtk(GetMessage(518)).c_str());
    size_t start = 0;
    while (start <= gRequest.pattern.size()) {
      size_t bar = gRequest.pattern.find('|', start);
      std::string extension = gRequest.pattern.substr(start, bar == std::string::npos ? bar : bar - start);
      if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
      if (!extension.empty()) dl_gtk_file_filter_add_pattern(filter, ("*." + extension).c_str());
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    dl_gtk_file_chooser_add_filter(chooser, filter);
    dl_gtk_file_chooser_set_filter(chooser, filter);
  }
  char start[1024];
  std::snprintf(start, sizeof start, "%s", gRequest.directory.c_str());
  if (!gRequest.file.empty() && AddPart(start, sizeof start, gRequest.file.c_str()))
    dl_gtk_file_chooser_set_filename(chooser, ToGtk(start).c_str());
  else if (!gRequest.directory.empty())
    dl_gtk_file_chooser_set_current_folder(chooser, ToGtk(gRequest.directory).c_str());
  int reply = 0;
  if (dl_gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    GSList* names = dl_gtk_file_chooser_get_filenames(chooser);
    for (GSList* n = names; n; n = n->next) {
      AddPickedPath(static_cast<const char*>(n->data));
      dl_g_free(n->data);
    }
    dl_g_slist_free(names);
    reply = gRequest.resultCount ? 1 : 0;
  }
  dl_gtk_widget_destroy(dialog);
  // Let the toolkit take the window away before the answer goes back.
  while (dl_g_main_context_iteration(nullptr, FALSE)) {
  }
  return reply;
}

void* GtkThreadMain(void*) {
  GMainLoop* loop = dl_g_main_loop_new(nullptr, FALSE);
  (void)loop;
  while (!gStop.load()) {
    dl_g_main_context_iteration(nullptr, FALSE);
    int code = gRequest.code.load();
    if (code == kIdle) {
      usleep(20000);
      continue;
    }
    gRequest.reply = code == kFile ? RunFileDialog() : -1;
    gRequest.code.store(kIdle);
  }
  return nullptr;
}

// Posts the request and waits for its answer, keeping the windows alive.
void WaitForRequester(vlVMState* state, int code) {
  gRequest.code.store(code);
  while (gRequest.code.load() == code) {
    if (state) {
      int error = 0;
      PumpEvents(state, 2, 0, &error);
    } else {
      for (vlX11Connection* c = FirstX11Connection(); c; c = c->next) {
        while (XPending(c->display)) {
          XEvent event;
          XNextEvent(c->display, &event);
        }
      }
    }
    usleep(20000);
  }
}

}  // namespace

int StartRequesterThread() {
  if (!gGtkUsable) return 0;
  if (gThread) return 1;
  // gtk_init ends the process when it finds no display: look first.
  Display* probe = XOpenDisplay(nullptr);
  if (!probe) return 0;
  XCloseDisplay(probe);
  int* argc = nullptr;
  char*** argv = nullptr;
  GetProcessArgs(&argc, &argv);
  int noArgc = 0;
  char** noArgv = nullptr;
  dl_gtk_init(argc ? argc : &noArgc, argv ? argv : &noArgv);
  gStop.store(0);
  gThread = SpawnThread(GtkThreadMain, nullptr, 0);
  return gThread ? 1 : 0;
}

void StopRequesterThread() {
  if (!gThread) return;
  gStop.store(1);
  JoinThread(gThread);
  gThread = 0;
}

int GtkFileRequest(vlVMState* state, const char* title, const char* pattern, int mode, const char* directory,
                   const char* file, vlFileResult* result) {
  *result = vlFileResult{};
  gRequest.title = title ? title : "";
  // Patterns that mean "everything" make no filter.
  gRequest.pattern = pattern && *pattern && *pattern != '*' && std::strcmp(pattern, "#?") ? pattern : "";
  gRequest.directory = directory ? directory : "";
  gRequest.file = file ? file : "";
  gRequest.multiple = mode == 1;
  gRequest.save = mode == 2;
  gRequest.resultDirectory.clear();
  gRequest.resultFiles.clear();
  gRequest.resultCount = 0;
  WaitForRequester(state, kFile);
  if (gRequest.reply != 1) return 0;
  result->directory = static_cast<char*>(std::malloc(gRequest.resultDirectory.size() + 1));
  result->files = static_cast<char*>(std::calloc(gRequest.resultFiles.size() + 1, 1));
  if (!result->directory || !result->files) {
    FreeFileResult(result);
    return ERR_MEM;
  }
  std::memcpy(result->directory, gRequest.resultDirectory.c_str(), gRequest.resultDirectory.size() + 1);
  std::memcpy(result->files, gRequest.resultFiles.data(), gRequest.resultFiles.size());
  result->count = gRequest.resultCount;
  result->success = 1;
  return 0;
}
