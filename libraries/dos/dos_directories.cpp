// The dos library's directories: directory objects read entry by entry,
// and whole listings into two tables. Depends on the file locks and the
// object registry.
#include <cstring>
#include <string>

#include "libraries/dos/dos_library.h"
#include "runtime/os.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/stdio_file.h"
#include "runtime/file_lock.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/table_sort.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

int FindDirectory(vlVMState* L, int index, vlDirectory** out) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  vlObjectNode* n = nullptr;
  int status = FindDosObject(&gDos.directories, id, ERR_FINDDIR, &n);
  *out = reinterpret_cast<vlDirectory*>(n);
  return status;
}

void FreeDirectory(vlVMState* L, vlDirectory* d) {
  FreeFileLock(d->lock);
  FreeObjectDataList(L, &d->node.data);
  FreeMemory(d);
}

// Locks a directory: 0, 1286 when it can't be locked, 1250 for a file.
int LockDirectory(const char* path, const char* adapter, vlFileLock** out) {
  vlFileLock* lock = ObtainFileLock(path, VL_LOCK_READ | (adapter ? VL_LOCK_ADAPTERS : 0), adapter);
  if (!lock) {
    SetErrorArgument(path);
    return ERR_LOCK2;
  }
  uint32_t isDirectory = 0;
  if (int status = RequireDirectoryLock(lock, &isDirectory)) {
    FreeFileLock(lock);
    return status;
  }
  *out = lock;
  return 0;
}

}  // namespace

int CmdOpenDirectory(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlObjectId id;
  bool automatic = GetObjectIDArgOpt(&id, L, 1) != 0;
  std::string path = vl::CheckStringArg(L, 2, nullptr);
  char adapter[256] = "";
  if (vl::GetStackTop(L) >= 3) {
    vl::CheckTableArg(L, 3);
    GetTableString(L, 3, "adapter", adapter, sizeof adapter, nullptr);
  }
  if (!automatic) {
    if (vlObjectNode* n = FirstDosObject(&gDos.directories, {id.number, nullptr})) {
      UnlinkObject(&gDos.directories, n);
      FreeDirectory(L, reinterpret_cast<vlDirectory*>(n));
    }
  }
  vlFileLock* lock;
  if (int status = LockDirectory(path.c_str(), adapter[0] ? adapter : nullptr, &lock)) return status;
  auto* d = static_cast<vlDirectory*>(AllocMemory(sizeof(vlDirectory), 1));
  if (!d) {
    FreeFileLock(lock);
    return ERR_MEM;
  }
  d->node.type = VL_OBJ_DIRECTORY;
  d->node.idNumber = automatic ? 0 : id.number;
  d->node.idHandle = automatic ? d : nullptr;
  d->lock = lock;
  if (AppendObject(&gDos.directories, &d->node)) {
    FreeDirectory(L, d);
    return ERR_MEM;
  }
  if (!automatic) return 0;
  vl::PushPointer(L, d);
  return 1;
}

int CmdNextDirectoryEntry(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlDirectory* d;
  if (int status = FindDirectory(L, 1, &d)) return status;
  if (d->done) return 0;
  const char* name = nullptr;
  uint32_t isDirectory = 0;
  vlFileStat st;
  std::memset(&st, 0, sizeof st);
  if (!ReadFileLockEntry(d->lock, 0, &name, &isDirectory, &st)) {
    d->done = 1;
    return 0;
  }
  st.isDirectory = isDirectory;
  PushAttributeTable(L, st);
  SetTableString(L, "name", name);
  return 1;
}

int CmdCloseDirectory(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlDirectory* d;
  if (int status = FindDirectory(L, 1, &d)) return status;
  UnlinkObject(&gDos.directories, &d->node);
  FreeDirectory(L, d);
  return 0;
}

int CmdReadDirectory(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  const char* path = vl::CheckStringArg(L, 1, nullptr);
  vl::CheckTableArg(L, 2);
  vl::CheckTableArg(L, 3);
  int sort = vl::OptIntArg(L, 4, 1);
  vlFileLock* lock = ObtainFileLock(path, VL_LOCK_READ, nullptr);
  if (!lock) {
    SetErrorArgument(path);
    return ERR_LOCK2;
  }
  int counts[2] = {0, 0};  // files, directories
  const char* name = nullptr;
  uint32_t isDirectory = 0;
  while (ReadFileLockEntry(lock, 0, &name, &isDirectory, nullptr)) {
    int which = isDirectory ? 1 : 0;
    vl::PushString(L, name);
    vl::RawSetTableIndex(L, 2 + which, counts[which]++);
  }
  FreeFileLock(lock);
  for (int which = 0; which < 2; ++which) {
    vl::PushString(L, "");
    vl::RawSetTableIndex(L, 2 + which, counts[which]);
    if (sort && counts[which] > 1)
      if (int status = QuickSortTable(L, 2 + which, 0, 0, counts[which] - 1)) return status;
  }
  vl::PushNumber(L, counts[0]);
  vl::PushNumber(L, counts[1]);
  return 2;
}
