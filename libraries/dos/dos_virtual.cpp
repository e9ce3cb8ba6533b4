// The dos library's virtual files (slices of files and strings that every
// file command opens by name) and external programs (Execute waits, Run
// starts a watched program). Depends on chunk names, linked files, the
// streams, the platform's program launcher and the current display.
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <string>

#include "libraries/dos/dos_library.h"
#include "display/display.h"
#include "display/display_window.h"
#include "display/events/event_dispatch.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/threads.h"
#include "runtime/chunk_name.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/linked_files.h"
#include "runtime/script_call.h"
#include "runtime/stream.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr size_t kNameSize = 4096;

// The reference of a ":::chunkS" name, or -1.
int64_t MemoryNameReference(const char* name) {
  if (!IsChunkName(name) || name[kChunkNamePrefixLength] != 'S') return -1;
  const char* p = name + kChunkNamePrefixLength + 1;
  if (*p < '0' || *p > '9') return -1;
  int64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (v > (INT32_MAX - (*p - '0')) / 10) return -1;
    v = v * 10 + (*p - '0');
  }
  return *p == ':' ? v : -1;
}

// Splits a command line into the program (quoted or up to the first blank)
// and the rest. 0 or 1055.
int SplitCommandLine(const char* line, std::string* program, std::string* args, bool* hasArgs) {
  const char* p = line;
  while (*p == ' ') ++p;
  if (!*p) return ERR_WRONGUSAGE;
  if (*p == '"') {
    const char* end = std::strchr(p + 1, '"');
    if (!end) return ERR_WRONGUSAGE;
    program->assign(p + 1, static_cast<size_t>(end - p - 1));
    p = end + 1;
  } else {
    const char* end = std::strchr(p, ' ');
    if (!end) end = p + std::strlen(p);
    program->assign(p, static_cast<size_t>(end - p));
    p = end;
  }
  if (program->empty()) return ERR_WRONGUSAGE;
  while (*p == ' ') ++p;
  *hasArgs = *p != 0;
  args->assign(p);
  return 0;
}

// A linked program is written out to a temporary file first (once per
// name); *path gets what to run.
int PrepareProgram(vlVMState* L, const std::string& program, std::string* path) {
  const char* resolved = ResolveLinkedFile(L, program.c_str(), 0, nullptr);
  if (!IsChunkName(resolved)) {
    *path = program;
    return 0;
  }
  std::string chunk = resolved;
  for (vlTempFile* t = gDos.tempFiles; t; t = t->next) {
    if (t->source && program == t->source) {
      *path = t->name;
      return 0;
    }
  }
  char name[1024];
  if (!MakeTempFileName(name, sizeof name)) return TempFileNameError(errno);
  auto* t = static_cast<vlTempFile*>(std::calloc(1, sizeof(vlTempFile)));
  if (t) t->name = strdup(name);
  if (t) t->source = strdup(program.c_str());
  if (!t || !t->name || !t->source) {
    if (t) std::free(t->name), std::free(t->source);
    std::free(t);
    RemovePath(name);
    return ERR_MEM;
  }
  vlTempFile** tail = &gDos.tempFiles;
  while (*tail) tail = &(*tail)->next;
  *tail = t;
  if (int status = CopyFileData(chunk.c_str(), nullptr, name, nullptr)) return status;
  // mkstemp makes the file private and not executable; it must run.
  chmod(name, 0700);
  *path = name;
  return 0;
}

}  // namespace

int CmdDefineVirtualFile(vlVMState* L) {
  CheckArgs(L, 4, 4, 0, 0);
  std::string file = GetFileNameArg(L, 1, 0, nullptr);
  int64_t offset = vl::DoubleToInt64(vl::CheckNumberArg(L, 2));
  int64_t length = vl::DoubleToInt64(vl::CheckNumberArg(L, 3));
  const char* stored = vl::CheckStringArg(L, 4, nullptr);
  if (file.empty() || length <= 0 || offset < 0) return ERR_WRONGUSAGE;
  std::string source = file;
  if (IsChunkName(file.c_str())) {
    // A slice of a slice: only the plain form names a place in a file.
    uint64_t start = 0, have = 0;
    static char container[kNameSize];
    vlChunkNameParts parts{};
    parts.offset = &start;
    parts.length = &have;
    parts.containerPath = container;
    parts.containerPathSize = sizeof container;
    vlMemoryRecord* record = nullptr;
    parts.record = &record;
    if (!ParseChunkName(file.c_str(), parts) || record) return ERR_WRONGUSAGE;
    if (static_cast<uint64_t>(offset) > have || static_cast<uint64_t>(length) > have - static_cast<uint64_t>(offset))
      return ERR_WRONGUSAGE;
    offset += static_cast<int64_t>(start);
    source = container;
  }
  char name[kNameSize];
  if (!MakeChunkName(stored, name, sizeof name, offset, static_cast<uint64_t>(length), 0, source.c_str()))
    return ERR_WRONGUSAGE;
  vl::PushString(L, name);
  return 1;
}

int CmdDefineVirtualFileFromString(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  size_t length = 0;
  const char* data = vl::CheckStringArg(L, 1, &length);
  const char* stored = vl::CheckStringArg(L, 2, nullptr);
  bool copy = vl::OptIntArg(L, 3, 0) != 0;
  if (!*stored) return ERR_WRONGUSAGE;
  size_t nameLength = std::strlen(stored);
  // The stored name sits right behind the record.
  auto* r = static_cast<vlMemoryRecord*>(std::calloc(1, sizeof(vlMemoryRecord) + nameLength + 1));
  if (!r) return ERR_MEM;
  std::memcpy(r + 1, stored, nameLength + 1);
  r->name = reinterpret_cast<const char*>(r + 1);
  r->size = length;
  r->users = 1;  // the list's hold
  if (copy) {
    r->capacity = length ? length : 65536;
    r->data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(r->capacity)));
    if (!r->data) {
      std::free(r);
      return ERR_MEM;
    }
    if (length) std::memcpy(r->data, data, length);
    r->writable = 1;
    r->reserved[0] = static_cast<uint32_t>(-1);
  } else {
    // The script's string stays alive through its reference.
    r->data = reinterpret_cast<uint8_t*>(const_cast<char*>(data));
    r->capacity = length;
    vl::PushSlotCopy(L, 1);
    r->reserved[0] = static_cast<uint32_t>(vl::CreateRef(L, vl::kRegistryIndex));
  }
  vl::PushPointer(L, r);
  int ref = vl::CreateRef(L, vl::kRegistryIndex);
  r->reserved[1] = static_cast<uint32_t>(ref);
  vlMemoryRecord** tail = &gDos.virtualFiles;
  while (*tail) tail = &(*tail)->next;
  *tail = r;
  std::string name = std::string(kChunkNamePrefix) + "S" + std::to_string(ref) + ":0*" + stored + "?unused";
  vl::PushString(L, name.c_str());
  return 1;
}

int CmdUndefineVirtualStringFile(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  int64_t ref = MemoryNameReference(name);
  // A name whose record is gone is refused: its reference was released
  // with the record and may belong to another value by now.
  for (vlMemoryRecord** p = &gDos.virtualFiles; ref >= 0 && *p; p = &(*p)->next) {
    if (static_cast<int32_t>((*p)->reserved[1]) == ref) {
      vlMemoryRecord* r = *p;
      *p = r->next;
      FreeVirtualFile(L, r);
      return 0;
    }
  }
  return ERR_WRONGUSAGE;
}

namespace {

// Keys and buttons held while another program had the input may have been
// let go unseen: with the flag the current display forgets them.
void ResetAfterProgram(bool reset) {
  if (vlDisplay* d = CurrentDisplay(); d && reset) ResetDisplayCaches(d);
}

}  // namespace

int CmdExecute(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  const char* line = vl::CheckStringArg(L, 1, nullptr);
  const bool reset = vl::OptIntArg(L, 2, 1) != 0;
  std::string program, args, path;
  bool hasArgs = false;
  if (int status = SplitCommandLine(line, &program, &args, &hasArgs)) return status;
  if (int status = PrepareProgram(L, program, &path)) return status;
  const int status = SpawnProgram(path.c_str(), hasArgs ? args.c_str() : nullptr, 0);
  ResetAfterProgram(reset);
  return status;
}

int CmdRun(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  const char* line = vl::CheckStringArg(L, 1, nullptr);
  const bool reset = vl::OptIntArg(L, 2, 1) != 0;
  bool withCallback = vl::GetStackTop(L) == 3;
  if (withCallback) vl::CheckFunctionArg(L, 3);
  std::string program, args, path;
  bool hasArgs = false;
  if (int status = SplitCommandLine(line, &program, &args, &hasArgs)) return status;
  if (int status = PrepareProgram(L, program, &path)) return status;
  auto* r = static_cast<vlRunRecord*>(std::calloc(1, sizeof(vlRunRecord)));
  if (!r) return ERR_MEM;
  r->program = strdup(path.c_str());
  r->args = hasArgs ? strdup(args.c_str()) : nullptr;
  if (!r->program || (hasArgs && !r->args)) {
    std::free(r->program);
    std::free(r->args);
    std::free(r);
    return ERR_MEM;
  }
  r->request.program = r->program;
  r->request.args = r->args;
  r->callbackRef = -1;
  r->userdataRef = -1;
  if (withCallback) {
    vl::PushSlotCopy(L, 3);
    r->callbackRef = vl::CreateRef(L, vl::kRegistryIndex);
  }
  vlRunRecord** tail = &gDos.runs;
  while (*tail) tail = &(*tail)->next;
  *tail = r;
  // A program that cannot be started is an error, not a quiet success.
  if (int status = StartExternalProgramThread(&r->request)) {
    r->request.worker = nullptr;
    RemoveRunRecord(L, r);
    SetErrorArgument(path.c_str());
    return status;
  }
  ResetAfterProgram(reset);
  return 0;
}

vlRunRecord* FindRunRecord(const void* request) {
  for (vlRunRecord* r = gDos.runs; r; r = r->next)
    if (r == request) return r;
  return nullptr;
}

namespace {

int RunsPending() { return gDos.runs != nullptr; }

int FindRunEnd(const void* request, vlRunEnd* out) {
  vlRunRecord* r = FindRunRecord(request);
  if (!r) return 0;
  *out = {r->program, r->args, r->callbackRef, r->userdataRef};
  return 1;
}

const vlRunEnds kRunEnds = {RunsPending, FindRunEnd, RemoveRunRecord};

}  // namespace

void InstallRunEnds() { SetRunEnds(&kRunEnds); }

void RemoveRunRecord(vlVMState* L, const void* request) {
  for (vlRunRecord** p = &gDos.runs; *p; p = &(*p)->next) {
    if (*p != request) continue;
    vlRunRecord* r = *p;
    *p = r->next;
    if (r->request.worker) StopWorker(&r->request);
    ReleaseRefIfSet(L, r->callbackRef);
    ReleaseRefIfSet(L, r->userdataRef);
    std::free(r->program);
    std::free(r->args);
    std::free(r);
    return;
  }
}
