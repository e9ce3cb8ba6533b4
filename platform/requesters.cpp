// The requester wrappers: each hands its request to the installed
// requester-adapter plug-in when that plug-in offers the kind, translating
// the arguments into the adapter's kinds and tag lists and its answer back,
// and falls back on the built-in requesters otherwise. Depends on the
// plug-in interface, the catalog messages and the console forms.
#include "platform/requesters.h"
#include "platform/requesters_gtk.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/event_pump.h"
#include "platform/window_record.h"
#include "runtime/blocking.h"
#include "runtime/errors.h"
#include "runtime/messages.h"
#include "abi/plugin_abi.h"
#include "runtime/tag_list.h"
#include "vm/text.h"
#include "vm/error_codes.h"

vlPluginInfo* vlRequesterAdapter = nullptr;

namespace {

// Capability bits of the adapter's requester byte.
enum : uint32_t {
  kCanSystem = 2,
  kCanFile = 4,
  kCanPath = 8,
  kCanString = 16,
  kCanList = 32,
  kCanFont = 64,
  kCanColor = 128,
};

// Every requester begins here. Answers the adapter when it offers this
// kind. The built-in requesters wait through the player's own waits; a
// plug-in's waits in its own code, so the user, who sees what the script
// drew, gets held drawing sent first.
vlPluginInfo* BeginRequester(uint32_t bit) {
  vlPluginInfo* a = vlRequesterAdapter;
  if (!a || a->disabled || !(a->requesterFlags & bit)) return nullptr;
  BeforeLongWork();
  return a;
}

// Calls an adapter's entry. An adapter whose calls go through the plug-in
// frame call gets nothing called: that call does nothing on this platform
// and yields 0, leaving every result as it was.
template <class Fn, class... Args>
int Call(const vlPluginInfo* a, Fn entry, Args... args) {
  if (a->callKind == 2) return 0;
  return entry(args...);
}

void Release(vlPluginInfo* a, uint32_t kind, void* data) {
  if (data && a->FreeRequest && a->callKind != 2) a->FreeRequest(kind, data);
}

// The adapter knows a display by its own handle for it; none for a
// display it has not opened.
void* Handle(void* display) { return display ? static_cast<vlPlatformWindow*>(display)->adapterHandle : nullptr; }

uintptr_t Ptr(const void* p) { return reinterpret_cast<uintptr_t>(p); }

bool Is(const char* text, const char* words) { return text && CompareNoCase(text, words) == 0; }

// The adapter's button kind for a button text; 16 (own labels) otherwise.
uint32_t ButtonKind(const char* buttons) {
  if (!buttons || !*buttons || Is(buttons, "OK")) return 1;
  std::string yes = GetMessage(338), no = GetMessage(339), cancel = GetMessage(307);
  if (Is(buttons, "OK|Cancel") || Is(buttons, GetMessage(217))) return 2;
  if (Is(buttons, "Yes|No") || Is(buttons, (yes + "|" + no).c_str())) return 4;
  if (Is(buttons, "Yes|No|Cancel") || Is(buttons, (yes + "|" + no + "|" + cancel).c_str())) return 8;
  return 16;
}

// Splits a path into the directory part (with its '/') and the file part.
void SplitPath(const char* path, std::string* directory, std::string* file) {
  const char* slash = std::strrchr(path, '/');
  *directory = slash ? std::string(path, slash + 1) : std::string();
  *file = slash ? slash + 1 : path;
}

int FillFileResult(vlFileResult* result, const std::string& directory, const std::string& files, uint32_t count) {
  result->directory = static_cast<char*>(std::malloc(directory.size() + 1));
  result->files = static_cast<char*>(std::calloc(files.size() + 2, 1));
  if (!result->directory || !result->files) {
    FreeFileResult(result);
    return ERR_MEM;
  }
  std::memcpy(result->directory, directory.c_str(), directory.size() + 1);
  std::memcpy(result->files, files.data(), files.size());
  result->count = count;
  result->success = 1;
  return 0;
}

int ParseNumberAfter(const char* text, char bar, int which) {
  const char* p = text;
  for (int i = 0; i < which && p; ++i) {
    p = std::strchr(p, bar);
    if (p) ++p;
  }
  return p ? std::atoi(p) : 0;
}

}  // namespace

int ShowSystemRequester(vlVMState* state, void* display, const char* title, const char* body,
                        const char* buttons, int icon, uint32_t flag, int32_t* result) {
  vlPluginInfo* a = BeginRequester(kCanSystem);
  if (!a) return BuiltinSystemRequest(state, display, title, body, buttons, icon, flag, result);
  uint32_t kind = ButtonKind(buttons);
  if (icon >= 0 && icon <= 4) kind += 32u << icon;
  vlTagItem tags[3] = {{1, flag}, {0, 0}, {0, 0}};
  if (kind & 16) tags[1] = {2, Ptr(buttons)};
  return Call<vlSystemRequestFn>(a, a->SystemRequest, Handle(display), title, body, kind, result, tags);
}

int ShowFileRequester(vlVMState* state, void* display, const char* title, const char* pattern, int mode,
                      const char* directory, const char* file, uint32_t flag, vlFileResult* result) {
  *result = vlFileResult{};
  vlPluginInfo* a = BeginRequester(kCanFile);
  if (!a) return BuiltinFileRequest(state, display, title, pattern, mode, directory, file, flag, result);
  uint32_t kind = mode == 1 ? 1 : mode == 2 ? 2 : 0;
  vlTagItem tags[5] = {{1, flag}};
  int n = 1;
  if (pattern && *pattern && std::strcmp(pattern, "*") && std::strcmp(pattern, "#?")) tags[n++] = {2, Ptr(pattern)};
  if (directory && *directory) tags[n++] = {3, Ptr(directory)};
  if (file && *file) tags[n++] = {4, Ptr(file)};
  char* text = nullptr;
  int status = Call<vlFileRequestFn>(a, a->FileRequest, Handle(display), title, kind, &text, tags);
  if (status || !text) {
    Release(a, 0, text);
    return status;
  }
  std::string dir, part, files;
  uint32_t count = 0;
  if (kind == 1) {
    // NUL-separated paths ended by an empty one: the first's directory and
    // every file part.
    for (const char* p = text; *p; p += std::strlen(p) + 1, ++count) {
      std::string d;
      SplitPath(p, count ? &d : &dir, &part);
      files += part;
      files += '\0';
    }
  } else {
    SplitPath(text, &dir, &part);
    files = part + '\0';
    count = 1;
  }
  Release(a, 0, text);
  return count ? FillFileResult(result, dir, files, count) : 0;
}

int ShowPathRequester(vlVMState* state, void* display, const char* title, int mode, const char* directory,
                      uint32_t flag, char** result) {
  *result = nullptr;
  vlPluginInfo* a = BeginRequester(kCanPath);
  if (!a) return BuiltinPathRequest(state, display, title, mode, directory, flag, result);
  vlTagItem tags[3] = {{1, flag}};
  if (directory && *directory) tags[1] = {2, Ptr(directory)};
  char* text = nullptr;
  int status = Call<vlPathRequestFn>(a, a->PathRequest, Handle(display), title, mode == 2 ? 1 : 0, &text, tags);
  if (!status && text && !(*result = strdup(text))) status = ERR_MEM;
  Release(a, 1, text);
  return status;
}

int ShowStringRequester(vlVMState* state, void* display, const char* title, const char* body,
                        const char* defaultText, int type, int maximum, int password, uint32_t flag,
                        char* destination, int destinationSize) {
  vlPluginInfo* a = BeginRequester(kCanString);
  if (!a)
    return BuiltinStringRequest(state, display, title, body, defaultText, type, maximum, password, flag,
                                destination, destinationSize);
  uint32_t kind = type >= 1 && type <= 4 ? 1u << (type - 1) : 0;
  if (password) kind |= 16;
  vlTagItem tags[4] = {{1, flag}};
  int n = 1;
  if (defaultText) tags[n++] = {2, Ptr(defaultText)};
  if (maximum > 0) tags[n++] = {3, static_cast<uintptr_t>(maximum)};
  char* text = nullptr;
  int status = Call<vlStringRequestFn>(a, a->StringRequest, Handle(display), title, body, kind, &text, tags);
  if (destinationSize > 0) destination[0] = 0;
  if (status) {
    Release(a, 2, text);
    return status;
  }
  if (!text) return ERR_USERABORT;
  if (destinationSize > 0) {
    std::strncpy(destination, text, size_t(destinationSize) - 1);
    destination[destinationSize - 1] = 0;
  }
  Release(a, 2, text);
  return 0;
}

int ShowListRequester(vlVMState* state, void* display, const char* title, const char* body,
                      const char* choices, int32_t defaultIndex, uint32_t flag, int32_t* result) {
  vlPluginInfo* a = BeginRequester(kCanList);
  if (!a) return BuiltinListRequest(state, display, title, body, choices, defaultIndex, flag, result);
  vlTagItem tags[3] = {{1, flag}};
  if (defaultIndex >= 0) tags[1] = {2, static_cast<uintptr_t>(defaultIndex)};
  return Call<vlListRequestFn>(a, a->ListRequest, Handle(display), title, body, choices, 0, result, tags, display);
}

int ShowFontRequester(vlVMState* state, void* display, const char* title, const char* name, int32_t size,
                      uint32_t flag, vlFontSpec* font) {
  vlPluginInfo* a = BeginRequester(kCanFont);
  if (!a) return BuiltinFontRequest(state, display, title, name, size, flag, font);
  vlTagItem tags[4] = {{1, flag}};
  int n = 1;
  if (name && *name) tags[n++] = {2, Ptr(name)};
  if (size) tags[n++] = {3, static_cast<uintptr_t>(size)};
  char* text = nullptr;
  uint32_t style = 0;
  int status = Call<vlFontRequestFn>(a, a->FontRequest, Handle(display), title, &text, &style, tags);
  if (!status && text) {
    static const int32_t kWeights[] = {0, 40, 50, 75, 80, 100, 180, 200, 205, 210, 215};
    font->weight = 80;
    for (int bit = 0; bit <= 10; ++bit)
      if (style & (1u << bit)) {
        font->weight = kWeights[bit];
        break;
      }
    font->slant = (style & 0x800) ? 0 : (style & 0x1000) ? 100 : (style & 0x2000) ? 110 : 0;
    font->underline = (style >> 14) & 1;
    font->strikeout = (style >> 15) & 1;
    font->bold = (style >> 16) & 1;
    font->italic = (style >> 17) & 1;
    const char* bar = std::strchr(text, '|');
    size_t length = bar ? size_t(bar - text) : std::strlen(text);
    if (length >= sizeof font->name) length = sizeof font->name - 1;
    std::memcpy(font->name, text, length);
    font->name[length] = 0;
    font->size = ParseNumberAfter(text, '|', 1);
    font->color = static_cast<uint32_t>(ParseNumberAfter(text, '|', 2));
  }
  Release(a, 3, text);
  return status;
}

int ShowColorRequester(vlVMState* state, void* display, const char* title, int32_t defaultColor,
                       uint32_t flag, int32_t* result) {
  vlPluginInfo* a = BeginRequester(kCanColor);
  if (!a) return BuiltinColorRequest(state, display, title, defaultColor, flag, result);
  vlTagItem tags[3] = {{1, flag}};
  if (defaultColor != -1) tags[1] = {2, static_cast<uint32_t>(defaultColor)};
  return Call<vlColorRequestFn>(a, a->ColorRequest, Handle(display), title, 0, result, tags);
}

// The built-in requesters ------------------------------------------------------

// Each uses its GTK dialog when the toolkit is there, else the console. A
// requester an end signal closed (or kept from opening) ends the script as
// a quit does.

namespace {

int UnlessEndSignal(int status) { return QuitSignal() ? ERR_USERABORT : status; }

}  // namespace

int BuiltinSystemRequest(vlVMState* state, void*, const char* title, const char* body, const char* buttons,
                         int icon, uint32_t, int32_t* result) {
  if (StartRequesterThread()) return UnlessEndSignal(GtkSystemRequest(state, title, body, buttons, icon, result));
  return UnlessEndSignal(ConsoleSystemRequest(body, buttons, result));
}

int BuiltinFileRequest(vlVMState* state, void*, const char* title, const char* pattern, int mode,
                       const char* directory, const char* file, uint32_t, vlFileResult* result) {
  int status = StartRequesterThread() ? GtkFileRequest(state, title, pattern, mode, directory, file, result)
                                      : ConsoleFileRequest(title, 0, mode == 2, result);
  if ((status = UnlessEndSignal(status))) FreeFileResult(result);
  return status;
}

int BuiltinPathRequest(vlVMState* state, void*, const char* title, int mode, const char* directory, uint32_t,
                       char** result) {
  *result = nullptr;
  int status = 0;
  if (StartRequesterThread()) {
    status = GtkPathRequest(state, title, mode, directory, result);
  } else {
    vlFileResult chosen{};
    status = ConsoleFileRequest(title, 1, mode == 2, &chosen);
    if (!status && chosen.success) {
      *result = chosen.directory;
      chosen.directory = nullptr;
    }
    FreeFileResult(&chosen);
  }
  if ((status = UnlessEndSignal(status))) {
    std::free(*result);
    *result = nullptr;
  }
  return status;
}

int BuiltinStringRequest(vlVMState* state, void*, const char* title, const char* body, const char* defaultText,
                         int type, int maximum, int password, uint32_t, char* destination, int destinationSize) {
  if (StartRequesterThread())
    return UnlessEndSignal(
        GtkStringRequest(state, title, body, defaultText, type, maximum, password, destination, destinationSize));
  return UnlessEndSignal(ConsoleStringRequest(body, type, maximum, destination, destinationSize));
}

int BuiltinListRequest(vlVMState* state, void*, const char* title, const char* body, const char* choices,
                       int32_t defaultIndex, uint32_t, int32_t* result) {
  if (StartRequesterThread()) return UnlessEndSignal(GtkListRequest(state, title, body, choices, defaultIndex, result));
  return UnlessEndSignal(ConsoleListRequest(body, choices, result));
}

int BuiltinFontRequest(vlVMState* state, void*, const char* title, const char* name, int32_t size, uint32_t,
                       vlFontSpec* font) {
  if (StartRequesterThread()) return UnlessEndSignal(GtkFontRequest(state, title, name, size, font));
  return UnlessEndSignal(ConsoleFontRequest(font));
}

int BuiltinColorRequest(vlVMState* state, void*, const char* title, int32_t defaultColor, uint32_t,
                        int32_t* result) {
  if (StartRequesterThread()) return UnlessEndSignal(GtkColorRequest(state, title, defaultColor, result));
  return UnlessEndSignal(ConsoleColorRequest(result));
}

namespace {

void ErrorRequester(vlVMState* state, const char* title, const char* body, int icon) {
  int32_t result = 0;
  ShowSystemRequester(state, nullptr, title, body, nullptr, icon, 0, &result);
}

}  // namespace

void InstallErrorRequester() { SetErrorRequester(ErrorRequester); }
