// File and directory adapters: the function table through which a plug-in
// serves file streams and locks in place of the built-in back end, the view
// of a loader-class member as such an adapter, and the test of a
// '|'-separated "adapter" / "loader" list.
#pragma once
#include <cstdint>
#include <type_traits>

#include "runtime/class_lists.h"
#include "runtime/file_stat.h"
#include "runtime/tag_list.h"

// FOpen's mode codes (VL_ADAPTER_*) and tags (VL_FOPEN_*), and OpenDir's
// flags, are the plug-in header's.

// Adapter flags word: bit 0, the adapter also serves chunk and memory names.
inline constexpr uint32_t VL_ADAPTER_ACCEPTS_VIRTUAL = 1;

// The entry points, in slot order.
struct vlFileAdapterSlots {
  void* (*FOpen)(const char* name, uint32_t modeCode, const vlTagItem* tags);
  int (*FClose)(void* handle);
  int64_t (*FRead)(void* handle, void* buffer, int64_t count);
  int (*FGetC)(void* handle);
  int64_t (*FWrite)(void* handle, const void* buffer, int64_t count);
  int (*FPutC)(void* handle, int byte);
  int64_t (*FSeek)(void* handle, int64_t offset, int mode);
  int (*FFlush)(void* handle);
  int (*FEof)(void* handle);
  int (*FStat)(void* handle, uint32_t flags, vlAdapterStat* status, const vlTagItem* tags);
  int (*Stat)(const char* name, uint32_t flags, vlAdapterStat* status, const vlTagItem* tags);
  void* (*OpenDir)(const char* name, uint32_t mode, const vlTagItem* tags);
  void (*CloseDir)(void* handle);
  int (*NextDirEntry)(void* handle, uint32_t mode, const char** nameOut, uint32_t* isDirectoryOut,
                      vlAdapterStat* status);
};

// One adapter plug-in as the stream layer sees it.
struct vlFileAdapter {
  const char* name;                 // module name
  const vlFileAdapterSlots* slots;
  uint32_t callKind;                // 2: calls go through the frame-call hook
  uint32_t disabled;
  uint32_t namedOnly;               // serves only when a list names it
  uint32_t flags;                   // VL_ADAPTER_ACCEPTS_VIRTUAL
};

// Calls an entry point. Adapters whose calls go through the frame-call hook
// get the hook's answer, which is nothing and 0 on this platform.
template <class R, class Fn, class... Args>
R CallFileAdapter(const vlFileAdapter* adapter, Fn fn, Args... args) {
  if (adapter->callKind == 2 || fn == nullptr) {
    if constexpr (!std::is_void_v<R>) return R{};
    else return;
  }
  return fn(args...);
}

// The members of the file-adapter (16384) and directory-adapter (32768)
// loader classes are plug-ins; the plug-in layer tells the stream layer how
// each serves as an adapter. Members it maps to null are passed over.
using vlFileAdapterView = vlFileAdapter* (*)(vlPluginInfo* plugin);
void SetFileAdapterView(vlFileAdapterView view);
// The adapter view of a class member, or null.
vlFileAdapter* GetFileAdapter(const vlClassNode* node);

// Only tag 16384 sets the adapter's flags word; other tags change nothing.
int SetFileAdapterFlags(vlFileAdapter* adapter, uint32_t tag, uint32_t value);

// Whether an adapter in a class may serve a request with this list
// (the plug-in wildcard applies unless the adapter must be named).
bool IsAdapterSelected(const vlFileAdapter* adapter, const char* list);

// Loader-list tests: a name is "inbuilt", "native", "plugin" or a module
// name; an absent, empty or "default" list selects everything.
int IsLoaderSelected(const char* list, const char* name, int pluginWildcard);
int IsLoaderNamed(const char* list, const char* name);
