// The GTK forms of the requesters: one thread owns GTK after gtk_init and
// runs each dialog, while the main thread posts a request and keeps its
// windows alive until the answer is there. The request code is the only
// handshake between the two. Depends on the run-time loaded GTK set, the
// X11 connections, the display list and the event pump.
#include "platform/requesters_gtk.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/window_record.h"
#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "platform/requesters_gtk_request.h"
#include "runtime/threads.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_errors.h"
#include "platform/x11/x11_open.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_window.h"
#include "runtime/run_state.h"
#include "vm/error_codes.h"
#include "platform/display_device.h"

vlGtkRequest gGtkRequest;

namespace {

vlThreadId gThread = 0;
std::atomic<int> gStop{0};

int RunRequestedDialog(int code) {
  switch (code) {
    case VL_GTKREQ_SYSTEM: return RunSystemDialog();
    case VL_GTKREQ_FILE: return RunFileDialog();
    case VL_GTKREQ_PATH: return RunPathDialog();
    case VL_GTKREQ_STRING: return RunStringDialog();
    case VL_GTKREQ_LIST: return RunListDialog();
    case VL_GTKREQ_FONT: return RunFontDialog();
    case VL_GTKREQ_COLOR: return RunColorDialog();
    default: return -1;
  }
}

void* GtkThreadMain(void*) {
  GMainLoop* loop = dl_g_main_loop_new(nullptr, FALSE);
  (void)loop;
  while (!gStop.load()) {
    dl_g_main_context_iteration(nullptr, FALSE);
    int code = gGtkRequest.code.load();
    if (code == VL_GTKREQ_IDLE) {
      usleep(20000);
      continue;
    }
    // Out of memory while building a dialog counts as no dialog.
    try {
      gGtkRequest.reply = RunRequestedDialog(code);
    } catch (...) {
      gGtkRequest.reply = -1;
    }
    gGtkRequest.code.store(VL_GTKREQ_IDLE);
  }
  return nullptr;
}

vlPlatformWindow* FirstDisplay() { return gX11Hooks.firstDisplay ? WindowOf(gX11Hooks.firstDisplay()) : nullptr; }

// The first active display with a window, or null.
vlPlatformWindow* ActiveDisplay() {
  for (vlPlatformWindow* d = FirstDisplay(); d; d = NextWindow(d))
    if (d->active && d->window && d->window->window) return d;
  return nullptr;
}

// The display whose window holds the pointer and keyboard grab (one at
// most), or null.
vlPlatformWindow* GrabbingDisplay() {
  for (vlPlatformWindow* d = FirstDisplay(); d; d = NextWindow(d))
    if (d->window && d->window->window && d->window->pointerGrabbed) return d;
  return nullptr;
}

vlPlatformWindow* FindDisplay(const vlObjectId& id) {
  for (vlPlatformWindow* d = FirstDisplay(); d; d = NextWindow(d))
    if (d->idNumber == id.number && d->idHandle == id.handle) return d;
  return nullptr;
}

// Posts the request and waits for its answer, keeping the windows alive.
// The dialog stays in front of the active display's window. A window that
// holds the input grab gives it up meanwhile, active or not: the dialog
// could get no input otherwise.
void WaitForRequester(vlVMState* state, int code) {
  // After an end signal no dialog opens: the answer is "closed" (the open
  // one the signal closes gives the same).
  if (QuitSignal()) {
    gGtkRequest.reply = 0;
    return;
  }
  gGtkRequest.transientWindow = 0;
  bool regrab = false;
  vlObjectId grabber{};
  if (DisplayDeviceDoes(nullptr, VL_DEVICE_X_SERVER)) {
    if (vlPlatformWindow* d = ActiveDisplay()) gGtkRequest.transientWindow = d->window->window;
    if (vlPlatformWindow* d = GrabbingDisplay()) {
      XUngrabPointer(d->window->display, CurrentTime);
      XUngrabKeyboard(d->window->display, CurrentTime);
      XFlush(d->window->display);
      d->window->pointerGrabbed = 0;
      grabber = d->id();
      regrab = true;
    }
  }
  gGtkRequest.code.store(code);
  while (gGtkRequest.code.load() == code) {
    // Once shut-down has begun the displays are going: only drain.
    if (state && !vlShuttingDown) {
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
    SleepMillis(20);
  }
  // The pump may have closed the display: look it up again.
  if (regrab) {
    vlPlatformWindow* d = FindDisplay(grabber);
    if (d && d->window && d->window->window) {
      GrabX11Input(d->window);
      d->window->pointerGrabbed = 1;
    }
  }
}

// Starts the toolkit on the server of the player's first connection (the
// command line may have named one other than the default), with the
// program's arguments. Its own connection may be dropped or refused for a
// moment like any other and is tried again as long; when it cannot be
// made, false, and the console forms serve. Once started, the toolkit
// only says yes again. It puts its own X error handlers in place, which
// end the process on an error it did not expect: the platform's go back.
bool InitToolkit() {
  // Kept for the process: the toolkit may keep what it was given.
  static std::vector<std::string> texts;
  static std::vector<char*> args;
  if (args.empty()) {
    int* argc = nullptr;
    char*** argv = nullptr;
    GetProcessArgs(&argc, &argv);
    texts.emplace_back(argc && *argc > 0 && argv && *argv && (*argv)[0] ? (*argv)[0] : "vellamora-player");
    vlX11Connection* first = FirstX11Connection();
    if (first && first->name[0]) {
      texts.emplace_back("--display");
      texts.emplace_back(first->name);
    }
    for (int i = 1; argc && argv && *argv && i < *argc; i++) texts.emplace_back((*argv)[i] ? (*argv)[i] : "");
    for (std::string& t : texts) args.push_back(t.data());
    args.push_back(nullptr);
  }
  int count = static_cast<int>(args.size()) - 1;
  char** vector = args.data();
  const char* server = count > 2 && std::strcmp(vector[1], "--display") == 0 ? vector[2] : nullptr;
  if (!dl_gtk_init_check) {
    // gtk_init ends the process when it finds no display: look first.
    Display* probe = OpenXDisplay(server);
    if (!probe) return false;
    XCloseDisplay(probe);
    dl_gtk_init(&count, &vector);
  } else {
    for (int attempt = 0;; attempt++) {
      bool started;
      {
        // When it fails the dialog's text is printed instead: that is
        // the line to read, not the server's reason again.
        vlQuietStandardError quiet(true);
        vlNoBrokenPipeSignal noPipe;
        started = dl_gtk_init_check(&count, &vector);
      }
      if (started) break;
      if (!XServerMayAnswer(server) || !PauseBeforeXRetry(attempt)) return false;
    }
  }
  ReclaimX11ErrorHandlers();
  return true;
}

}  // namespace

int StartRequesterThread() {
  if (!gGtkUsable) return 0;
  if (gThread) return 1;
  if (!InitToolkit()) return 0;
  gStop.store(0);
  gThread = SpawnThread(GtkThreadMain, nullptr, 0);
  return gThread ? 1 : 0;
}

int IsRequesterThreadRunning() { return gThread ? 1 : 0; }

void StopRequesterThread() {
  if (!gThread) return;
  gStop.store(1);
  JoinThread(gThread);
  gThread = 0;
}

int GtkSystemRequest(vlVMState* state, const char* title, const char* body, const char* buttons, int icon,
                     int32_t* result) {
  vlGtkRequest& r = gGtkRequest;
  int kind = 3;
  // An empty text, or one of empty labels only, would leave the box
  // without a button: it gets the one OK button instead.
  if (buttons && std::strspn(buttons, "|") == std::strlen(buttons)) buttons = nullptr;
  ClassifyRequestButtons(&buttons, &kind);
  if (buttons) kind = 4;
  r.title = title ? title : "";
  r.body = body ? body : "";
  r.buttons = buttons ? buttons : "";
  r.buttonKind = kind;
  r.icon = icon;
  WaitForRequester(state, VL_GTKREQ_SYSTEM);
  // No dialog: the body goes to the console instead.
  if (r.reply == -1) return ConsoleSystemRequest(r.body.c_str(), nullptr, result);
  *result = r.reply;
  return 0;
}

int GtkFileRequest(vlVMState* state, const char* title, const char* pattern, int mode, const char* directory,
                   const char* file, vlFileResult* result) {
  *result = vlFileResult{};
  vlGtkRequest& r = gGtkRequest;
  r.title = title ? title : "";
  // Patterns that mean "everything" make no filter.
  r.pattern = pattern && *pattern && *pattern != '*' && std::strcmp(pattern, "#?") ? pattern : "";
  r.directory = directory ? directory : "";
  r.file = file ? file : "";
  r.multiple = mode == 1;
  r.save = mode == 2;
  r.resultDirectory.clear();
  r.resultFiles.clear();
  r.resultCount = 0;
  WaitForRequester(state, VL_GTKREQ_FILE);
  if (r.reply != 1) return 0;
  result->directory = strdup(r.resultDirectory.c_str());
  result->files = static_cast<char*>(std::calloc(r.resultFiles.size() + 1, 1));
  if (!result->directory || !result->files) {
    FreeFileResult(result);
    return ERR_MEM;
  }
  std::memcpy(result->files, r.resultFiles.data(), r.resultFiles.size());
  result->count = r.resultCount;
  result->success = 1;
  return 0;
}

int GtkPathRequest(vlVMState* state, const char* title, int mode, const char* directory, char** result) {
  *result = nullptr;
  vlGtkRequest& r = gGtkRequest;
  r.title = title ? title : "";
  r.directory = directory ? directory : "";
  r.save = mode == 2;
  r.resultText.clear();
  WaitForRequester(state, VL_GTKREQ_PATH);
  if (r.reply != 1) return 0;
  *result = strdup(r.resultText.c_str());
  return *result ? 0 : ERR_MEM;
}

int GtkStringRequest(vlVMState* state, const char* title, const char* body, const char* defaultText, int type,
                     int maximum, int password, char* destination, int destinationSize) {
  vlGtkRequest& r = gGtkRequest;
  r.title = title ? title : "";
  r.body = body ? body : "";
  r.defaultText = defaultText ? defaultText : "";
  r.type = type;
  r.maximum = maximum;
  r.password = password;
  r.resultText.clear();
  WaitForRequester(state, VL_GTKREQ_STRING);
  if (r.reply == 0) return ERR_USERABORT;
  if (r.reply == 1 && destinationSize > 0) {
    std::snprintf(destination, size_t(destinationSize), "%s", r.resultText.c_str());
  }
  return 0;
}

int GtkListRequest(vlVMState* state, const char* title, const char* body, const char* choices,
                   int32_t defaultIndex, int32_t* result) {
  vlGtkRequest& r = gGtkRequest;
  r.title = title ? title : "";
  r.body = body ? body : "";
  r.choices.clear();
  for (const char* c = choices; c && *c; c += std::strlen(c) + 1) r.choices.emplace_back(c);
  r.defaultIndex = defaultIndex;
  r.resultIndex = -1;
  WaitForRequester(state, VL_GTKREQ_LIST);
  *result = r.reply == 1 ? r.resultIndex : -1;
  return 0;
}

int GtkFontRequest(vlVMState* state, const char* title, const char* name, int32_t size, vlFontSpec* font) {
  vlGtkRequest& r = gGtkRequest;
  r.title = title ? title : "";
  r.fontName = name ? name : "";
  r.fontSize = size;
  r.font = *font;
  WaitForRequester(state, VL_GTKREQ_FONT);
  if (r.reply == 1) *font = r.font;
  return 0;
}

int GtkColorRequest(vlVMState* state, const char* title, int32_t defaultColor, int32_t* result) {
  vlGtkRequest& r = gGtkRequest;
  r.title = title ? title : "";
  r.defaultColor = defaultColor;
  r.resultColor = -1;
  WaitForRequester(state, VL_GTKREQ_COLOR);
  *result = r.reply > 0 ? r.resultColor : -1;
  return 0;
}
