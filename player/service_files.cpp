// The file sub-table's adapters over locks, stream status and temporary
// files: plain records and plug-in-owned copies in place of the engine's
// own structures. Depends on the lock and stream layers and the OS layer.
#include <cstring>

#include "player/service_adapters.h"
#include "runtime/file_lock.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/stream.h"

namespace {

// The buffers name and comment point into without VL_EXAMINE_COPIES.
char gInfoName[1024];
char gInfoComment[256];

char* CopyForPlugin(const char* text) {
  size_t n = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(AllocMemory(n, 0));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

void CopyInto(char* buffer, size_t size, const char* text) {
  size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memcpy(buffer, text, n);
  buffer[n] = 0;
}

// 1 with the record filled; 0 when the copies cannot be made.
int FillInfo(const vlFileInfo& in, vlPluginFileInfo* out, uint32_t flags) {
  out->isDirectory = in.isDirectory;
  out->protection = in.protection;
  out->size = in.size;
  out->accessTime = in.accessTime;
  out->modifyTime = in.modifyTime;
  out->changeTime = in.changeTime;
  out->name = out->comment = nullptr;
  if (flags & VL_EXAMINE_COPIES) {
    char* name = CopyForPlugin(in.name);
    char* comment = name ? CopyForPlugin(in.comment) : nullptr;
    if (!comment) {
      FreeMemory(name);
      return 0;
    }
    out->name = name;
    out->comment = comment;
    return 1;
  }
  CopyInto(gInfoName, sizeof gInfoName, in.name);
  CopyInto(gInfoComment, sizeof gInfoComment, in.comment);
  out->name = gInfoName;
  out->comment = gInfoComment;
  return 1;
}

}  // namespace

// 1 with the record filled, 0 without a lock or record.
int StatLockSvc(void* lock, vlLockStatus* status) {
  if (!lock || !status) return 0;
  vlFileStat st;
  StatFileLock(static_cast<vlFileLock*>(lock), &st);
  status->isDirectory = st.isDirectory;
  status->size = static_cast<uintptr_t>(st.size);
  status->accessTime = st.accessTime;
  status->modifyTime = st.modifyTime;
  status->changeTime = st.changeTime;
  return 1;
}

// Paths are not converted on this platform, so there is nothing to release.
void ReleasePathHookSvc(const char*) {}

int ExamineLockSvc(void* lock, vlPluginFileInfo* info, uint32_t flags) {
  if (!lock || !info) return 0;
  vlFileInfo in;
  ExamineLockedFile(static_cast<vlFileLock*>(lock), &in);
  return FillInfo(in, info, flags);
}

// 0 as well when an adapter cannot tell the stream's status.
int ExamineStreamSvc(void* stream, vlPluginFileInfo* info, uint32_t flags) {
  if (!stream || !info) return 0;
  vlFileStat st;
  if (!StatFileStream(static_cast<vlStream*>(stream), &st)) return 0;
  vlFileInfo in;
  std::memset(&in, 0, sizeof in);
  FileInfoFromStat(st, &in);
  CopyInto(in.name, sizeof in.name, st.name ? st.name : "");
  return FillInfo(in, info, flags);
}

// The name of a new empty file in the temporary directory, in a block for
// FreePluginMemory; null when no file could be made.
char* MakeTempFileNameSvc() {
  char name[4096];
  if (!MakeTempFileName(name, sizeof name)) return nullptr;
  char* copy = CopyForPlugin(name);
  if (!copy) RemovePath(name);
  return copy;
}
