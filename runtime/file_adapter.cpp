// The adapter view of loader-class members and the loader-list tests that
// decide which adapters (and whether the built-in back end) may serve a
// request. Depends on the text folding of the runtime core.
#include "runtime/file_adapter.h"

#include <cstring>

#include "vm/text.h"

namespace {

vlFileAdapterView g_view = nullptr;

bool IsDefaultList(const char* list) {
  return list == nullptr || list[0] == 0 || CompareNoCase(list, "default") == 0;
}

bool IsReservedLoaderName(const char* name) {
  return CompareNoCase(name, "native") == 0 || CompareNoCase(name, "inbuilt") == 0 ||
         CompareNoCase(name, "plugin") == 0;
}

// True when the list has the word as one whole '|'-separated item.
bool HasWholeItem(const char* list, const char* word) {
  size_t n = std::strlen(word);
  for (const char* item = list;;) {
    const char* end = std::strchr(item, '|');
    size_t len = end ? static_cast<size_t>(end - item) : std::strlen(item);
    if (len == n && CompareNoCaseN(item, word, n) == 0) return true;
    if (!end) return false;
    item = end + 1;
  }
}

}  // namespace

void SetFileAdapterView(vlFileAdapterView view) { g_view = view; }

vlFileAdapter* GetFileAdapter(const vlClassNode* node) {
  return node && g_view ? g_view(node->plugin) : nullptr;
}

int SetFileAdapterFlags(vlFileAdapter* adapter, uint32_t tag, uint32_t value) {
  if (adapter && tag == VL_CLASS_FILEADAPTER) adapter->flags = value;
  return 0;
}

int IsLoaderSelected(const char* list, const char* name, int pluginWildcard) {
  if (!name) return 0;
  if (IsDefaultList(list)) return 1;
  if (IsReservedLoaderName(name)) return HasWholeItem(list, name) ? 1 : 0;
  // An item selects every module name that begins with it.
  for (const char* item = list;;) {
    const char* end = std::strchr(item, '|');
    size_t len = end ? static_cast<size_t>(end - item) : std::strlen(item);
    if (len > 0) {
      if (CompareNoCaseN(item, name, len) == 0) return 1;
      if (pluginWildcard && len <= 6 && CompareNoCaseN(item, "plugin", len) == 0) return 1;
    }
    if (!end) return 0;
    item = end + 1;
  }
}

int IsLoaderNamed(const char* list, const char* name) {
  if (IsDefaultList(list)) return 0;
  return IsLoaderSelected(list, name, 0);
}

bool IsAdapterSelected(const vlFileAdapter* adapter, const char* list) {
  if (!adapter || adapter->disabled) return false;
  if (adapter->namedOnly) return IsLoaderNamed(list, adapter->name) != 0;
  return IsLoaderSelected(list, adapter->name, 1) != 0;
}
