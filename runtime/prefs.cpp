// The preferences store and its three script commands. Depends on the
// platform's preferences directory and file removal, the file streams, the
// table item writer and reader, and the published applet record.
#include "runtime/prefs.h"

#include <cstring>
#include <new>
#include <vector>

#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/replace_file.h"
#include "runtime/script_call.h"
#include "runtime/startup_records.h"
#include "runtime/stream.h"
#include "runtime/table_items.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr size_t kPathSize = 1024;

bool HasId(const char* appId) { return appId && *appId; }

int AbsoluteIndex(vlVMState* state, int index) {
  return index < 0 && index > -10000 ? vl::GetStackTop(state) + index + 1 : index;
}

const char* RunningAppId(vlVMState* state) {
  vlAppletInfo* applet = GetAppletRecord(state);
  return applet ? applet->identifier : nullptr;
}

}  // namespace

int GetPrefsFileName(const char* appId, char* buffer, size_t size) {
  GetPrefsDir(buffer, size);
  return AddPart(buffer, size, appId);
}

int SavePrefsTable(vlVMState* state, int tableIndex, const char* appId) {
  if (!HasId(appId)) return ERR_WRONGUSAGE;
  tableIndex = AbsoluteIndex(state, tableIndex);
  // The whole file is made in memory first, so a table that cannot be
  // stored does not cost the preferences already on disk.
  int64_t size = 0;
  if (int error = WriteTableItems(state, tableIndex, nullptr, nullptr, &size)) return error;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(sizeof kPrefsMagic + static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  std::memcpy(bytes.data(), kPrefsMagic, sizeof kPrefsMagic);
  vlWriteCursor cursor{bytes.data() + sizeof kPrefsMagic, bytes.data() + bytes.size()};
  if (int error = WriteTableItems(state, tableIndex, nullptr, &cursor, nullptr)) return error;
  char path[kPathSize];
  if (!GetPrefsFileName(appId, path, sizeof path)) {
    SetErrorArgument(appId);
    return ERR_WRITEFILE;
  }
  vlReplacement out;
  if (int status = OpenReplacement(&out, path, VL_MODE_WRITE, nullptr)) return status;
  auto n = static_cast<int64_t>(cursor.next - bytes.data());
  return EndReplacement(&out, WriteFileStream(out.stream, bytes.data(), n) == n ? 0 : ERR_WRITE);
}

int LoadPrefsTable(vlVMState* state, int tableIndex, const char* appId) {
  if (!HasId(appId)) return ERR_WRONGUSAGE;
  tableIndex = AbsoluteIndex(state, tableIndex);
  char path[kPathSize];
  if (!GetPrefsFileName(appId, path, sizeof path)) return 0;
  vlStream* stream = OpenFileStream(path, VL_MODE_READ, nullptr);
  if (!stream) return 0;  // nothing saved yet
  char magic[4];
  int result = 0;
  if (ReadFileStream(stream, magic, 4) != 4) {
    result = ERR_READ;
  } else if (std::memcmp(magic, kPrefsMagic, 4) != 0) {
    result = ERR_FILEFORMAT;
  } else if (!vl::EnsureStackSpace(state, 1)) {
    result = ERR_STACK;
  } else {
    vl::PushSlotCopy(state, tableIndex);
    result = ReadTableItems(state, stream, nullptr, 1);
    vl::SetStackTop(state, -2);
  }
  CloseFileStream(stream);
  return result;
}

int DeletePrefsFile(const char* appId) {
  if (!HasId(appId)) return ERR_WRONGUSAGE;
  char path[kPathSize];
  if (GetPrefsFileName(appId, path, sizeof path)) RemovePath(path);
  return 0;
}

int CmdSavePrefs(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vl::CheckTableArg(state, 1);
  return SavePrefsTable(state, 1, RunningAppId(state));
}

int CmdLoadPrefs(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vl::CheckTableArg(state, 1);
  return LoadPrefsTable(state, 1, RunningAppId(state));
}

int CmdDeletePrefs(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  return DeletePrefsFile(RunningAppId(state));
}
