// Source positions for error reports, from the chunk name in the VM
// registry, the error system's current line and source buffer, and the
// include map of the applet. Depends on the VM registry values.
#include "runtime/source_position.h"

#include <cstdlib>
#include <cstring>

#include "runtime/errors.h"
#include "vm/text.h"
#include "vm/constants.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

vlIncludeEntry* g_head = nullptr;
vlIncludeEntry* g_tail = nullptr;

constexpr char kNoChunk[] = ":none:";

char* CopyText(const char* text) {
  size_t n = std::strlen(text ? text : "");
  auto* copy = static_cast<char*>(std::malloc(n + 1));
  if (copy) std::memcpy(copy, text ? text : "", n + 1);
  return copy;
}

// The entry of the current compiled part whose line range holds line.
const vlIncludeEntry* FindEntry(int32_t line) {
  const char* part = GetErrorSourceFile();
  if (!part || part[0] == '?') part = "";
  for (const vlIncludeEntry* e = g_head; e; e = e->next) {
    if (std::strcmp(e->partName, part) != 0) continue;
    if (line >= 0 && static_cast<uint32_t>(line) >= e->firstLine && static_cast<uint32_t>(line) <= e->lastLine)
      return e;
  }
  return nullptr;
}

const char* ChunkName(vlVMState* state) {
  const char* name = vl::GetRegistryString(state, "script");
  return name ? name : kNoChunk;
}

}  // namespace

int AddIncludeEntry(uint32_t firstLine, uint32_t lastLine, uint32_t lineOffset, const char* includeName,
                    const char* partName) {
  auto* e = static_cast<vlIncludeEntry*>(std::calloc(1, sizeof(vlIncludeEntry)));
  if (!e) return ERR_MEM;
  e->includeName = CopyText(includeName);
  e->partName = CopyText(partName);
  if (!e->includeName || !e->partName) {
    std::free(e->includeName);
    std::free(e->partName);
    std::free(e);
    return ERR_MEM;
  }
  e->firstLine = firstLine;
  e->lastLine = lastLine;
  e->lineOffset = lineOffset;
  if (g_tail) g_tail->next = e;
  else g_head = e;
  g_tail = e;
  return 0;
}

vlIncludeEntry* GetIncludeEntries() { return g_head; }

void FreeIncludeEntries() {
  while (g_head) {
    vlIncludeEntry* next = g_head->next;
    std::free(g_head->includeName);
    std::free(g_head->partName);
    std::free(g_head);
    g_head = next;
  }
  g_tail = nullptr;
}

const char* GetCurrentSourceFile(vlVMState* state) {
  const char* chunk = ChunkName(state);
  if (std::strcmp(chunk, kNoChunk) != 0) return chunk;
  const vlIncludeEntry* e = FindEntry(GetCurrentErrorLine());
  return e ? e->includeName : "";
}

int32_t GetCurrentSourceLine(vlVMState* state) {
  int32_t line = GetCurrentErrorLine();
  const char* chunk = ChunkName(state);
  if (std::strcmp(chunk, kNoChunk) == 0) {
    const vlIncludeEntry* e = FindEntry(line);
    if (!e) return -1;
    return static_cast<int32_t>(static_cast<int64_t>(line) + e->lineOffset + 1 - e->firstLine);
  }
  int64_t result = static_cast<int64_t>(line) + 1 - vl::DoubleToInt64(vl::GetRegistryNumber(state, "beginline"));
  // Every include merged into this chunk adds its lines.
  for (const vlIncludeEntry* e = g_head; e; e = e->next)
    if (CompareNoCase(e->includeName, chunk) == 0) result += static_cast<int64_t>(e->lastLine) - e->firstLine;
  return static_cast<int32_t>(result);
}
