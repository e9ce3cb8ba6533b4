// The linked-file table and the name resolution that lets a script open
// data linked into its compiled applet as if it were a file. Depends on
// chunk names and the text folding.
#include "runtime/linked_files.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/chunk_name.h"
#include "vm/text.h"
#include "vm/error_codes.h"

namespace {

vlLinkedFile* g_head = nullptr;
vlLinkedFile* g_tail = nullptr;
int64_t g_base = 0;
std::string g_scriptPath;
char g_resolved[8192];

constexpr size_t kFontPrefixLength = sizeof kLinkedFontPrefix - 1;

char* CopyText(const char* text) {
  size_t n = std::strlen(text ? text : "");
  auto* copy = static_cast<char*>(std::malloc(n + 1));
  if (copy) std::memcpy(copy, text ? text : "", n + 1);
  return copy;
}

bool HasSuffixNoCase(const char* name, size_t len, const char* suffix) {
  size_t n = std::strlen(suffix);
  return len >= n && CompareNoCase(name + len - n, suffix) == 0;
}

std::string WithSlashes(const char* text) {
  std::string s(text);
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

bool IsFontEntry(const vlLinkedFile* e) { return std::strncmp(e->name, kLinkedFontPrefix, kFontPrefixLength) == 0; }

}  // namespace

int AddLinkedFile(const char* name, const char* containerPath, uint32_t offset, uint32_t length) {
  auto* e = static_cast<vlLinkedFile*>(std::calloc(1, sizeof(vlLinkedFile)));
  if (!e) return ERR_MEM;
  e->name = CopyText(name);
  e->containerPath = CopyText(containerPath);
  if (!e->name || !e->containerPath) {
    std::free(e->name);
    std::free(e->containerPath);
    std::free(e);
    return ERR_MEM;
  }
  e->offset = offset;
  e->length = length;
  if (g_tail) g_tail->next = e;
  else g_head = e;
  g_tail = e;
  return 0;
}

vlLinkedFile* GetLinkedFiles() { return g_head; }

void FreeLinkedFiles() {
  while (g_head) {
    vlLinkedFile* next = g_head->next;
    std::free(g_head->name);
    std::free(g_head->containerPath);
    std::free(g_head);
    g_head = next;
  }
  g_tail = nullptr;
}

void SetContainerBase(int64_t base) { g_base = base; }
int64_t GetContainerBase() { return g_base; }
void SetRunningScriptPath(const char* path) { g_scriptPath = path ? path : ""; }

const char* ResolveLinkedFile(vlVMState*, const char* name, int fontMode, int* isFontOut) {
  if (isFontOut) *isFontOut = 0;
  if (!name) return name;
  size_t len = std::strlen(name);
  std::string fontName;
  if (fontMode) {
    if (HasSuffixNoCase(name, len, ".ttf") || HasSuffixNoCase(name, len, ".otf")) fontMode = 0;
    else if (HasSuffixNoCase(name, len, ".font")) fontName.assign(name, len - 5);
    else fontName = name;
  }
  std::string plain = fontMode ? std::string() : WithSlashes(name);
  for (const vlLinkedFile* e = g_head; e; e = e->next) {
    const char* stored;
    if (fontMode) {
      if (!IsFontEntry(e) || CompareNoCase(e->name + kFontPrefixLength, fontName.c_str()) != 0) continue;
      stored = e->name + kFontPrefixLength;
    } else {
      if (IsFontEntry(e) || CompareNoCase(WithSlashes(e->name).c_str(), plain.c_str()) != 0) continue;
      stored = e->name;
    }
    const char* path = e->containerPath[0] ? e->containerPath : g_scriptPath.c_str();
    int64_t offset = e->offset == 0xFFFFFFFFu ? -1 : static_cast<int64_t>(e->offset);
    if (!MakeChunkName(stored, g_resolved, sizeof g_resolved, offset, e->length, g_base, path)) return name;
    if (isFontOut) *isFontOut = fontMode ? 1 : 0;
    return g_resolved;
  }
  return name;
}
