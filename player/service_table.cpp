// The service table: standard-library, system, file, zlib, plug-in-list and
// checksum slots as thin adapters over the player's own routines (the
// larger adapters and the graphics, sound, requester, font and FreeType
// sub-tables stand in service_*.cpp), the VM sub-table and libjpeg.
// Depends on the error system, streams, locks, hooks, the class lists and
// the OS layer.
#include "player/service_table.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>

#include <jpeglib.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "display/clients.h"
#include "display/events/event_loop.h"
#include "platform/event_pump.h"
#include "runtime/replace_file.h"
#include "player/service_freetype.h"
#include "player/service_graphics.h"
#include "player/service_adapters.h"
#include "player/startup.h"
#include "display/events/event_types.h"
#include "platform/intervals.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/stdio_file.h"
#include "runtime/threads.h"
#include "platform/x11/x11_input.h"
#include "runtime/base64.h"
#include "runtime/chunk_name.h"
#include "runtime/class_lists.h"
#include "runtime/command_hooks.h"
#include "runtime/crc32.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "display/display_services.h"
#include "runtime/file_adapter.h"
#include "runtime/file_lock.h"
#include "runtime/hooks.h"
#include "runtime/linked_files.h"
#include "runtime/md5.h"
#include "runtime/memory_name.h"
#include "runtime/object_data.h"
#include "runtime/objects.h"
#include "runtime/plugins.h"
#include "runtime/runtime_options.h"
#include "runtime/source_position.h"
#include "runtime/stream.h"
#include "vm/text.h"
#include "runtime/utf8.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/plugin_vm.h"
#include "vm/state.h"

namespace {

// ---- standard library -------------------------------------------------

char* StrToUpper(char* text) {
  for (char* p = text; p && *p; ++p) *p = static_cast<char>(FoldUpper(static_cast<unsigned char>(*p)));
  return text;
}

int ToLowerChar(int c) { return FoldLower(c); }
int ToUpperChar(int c) { return FoldUpper(c); }

void FromTm(const tm& t, vlPluginTime* out) {
  out->size = sizeof(vlPluginTime);
  out->second = t.tm_sec; out->minute = t.tm_min; out->hour = t.tm_hour; out->day = t.tm_mday;
  out->month = t.tm_mon; out->year = t.tm_year; out->weekday = t.tm_wday; out->yearDay = t.tm_yday;
  out->isDst = t.tm_isdst;
  out->utcOffset = static_cast<int32_t>(t.tm_gmtoff);
  out->zone = t.tm_zone;
}

tm ToTm(const vlPluginTime* in) {
  tm t{};
  t.tm_sec = in->second; t.tm_min = in->minute; t.tm_hour = in->hour; t.tm_mday = in->day;
  t.tm_mon = in->month; t.tm_year = in->year; t.tm_wday = in->weekday; t.tm_yday = in->yearDay;
  t.tm_isdst = in->isDst;
  t.tm_gmtoff = in->utcOffset;
  t.tm_zone = in->zone;
  return t;
}

vlPluginTime* LocalTimeRecord(const time_t* when) {
  static vlPluginTime record;
  tm t;
  if (!when || !localtime_r(when, &t)) return nullptr;
  FromTm(t, &record);
  return &record;
}

vlPluginTime* GmTimeRecord(const time_t* when) {
  static vlPluginTime record;
  tm t;
  if (!when || !gmtime_r(when, &t)) return nullptr;
  FromTm(t, &record);
  return &record;
}

char* AscTimeRecord(const vlPluginTime* record) {
  static char text[64];
  if (!record) return nullptr;
  tm t = ToTm(record);
  return asctime_r(&t, text);
}

time_t MakeTimeRecord(vlPluginTime* record) {
  if (!record) return -1;
  tm t = ToTm(record);
  time_t result = mktime(&t);
  FromTm(t, record);
  return result;
}

size_t FormatTimeRecord(char* buffer, size_t size, const char* format, const vlPluginTime* record) {
  if (!record) return 0;
  tm t = ToTm(record);
  return strftime(buffer, size, format, &t);
}

double* DiffTimeOut(time_t t1, time_t t0, double* out) {
  if (out) *out = difftime(t1, t0);
  return out;
}

void FillStat(const struct stat& st, vlPluginStat* out) {
  uint32_t flags = 0;
  if (S_ISDIR(st.st_mode)) flags |= VL_PSTAT_DIRECTORY;
  const struct { mode_t bit; uint32_t flag; } kBits[] = {
      {S_IRUSR, VL_PSTAT_OWNER_READ}, {S_IWUSR, VL_PSTAT_OWNER_WRITE}, {S_IXUSR, VL_PSTAT_OWNER_EXEC},
      {S_IRGRP, VL_PSTAT_GROUP_READ}, {S_IWGRP, VL_PSTAT_GROUP_WRITE}, {S_IXGRP, VL_PSTAT_GROUP_EXEC},
      {S_IROTH, VL_PSTAT_OTHER_READ}, {S_IWOTH, VL_PSTAT_OTHER_WRITE}, {S_IXOTH, VL_PSTAT_OTHER_EXEC}};
  for (const auto& b : kBits)
    if (st.st_mode & b.bit) flags |= b.flag;
  out->flags = flags;
  uint64_t size = static_cast<uint64_t>(st.st_size);
  out->sizeLow = static_cast<uint32_t>(size);
  out->sizeHigh = static_cast<uint32_t>(size >> 32);
  out->accessTime = static_cast<uint32_t>(st.st_atime);
  out->modifyTime = static_cast<uint32_t>(st.st_mtime);
  out->changeTime = static_cast<uint32_t>(st.st_ctime);
}

int FStatRecord(int fd, vlPluginStat* record) {
  struct stat st;
  if (!record || fstat(fd, &st) != 0) return -1;
  FillStat(st, record);
  return 0;
}

int StatRecord(const char* path, vlPluginStat* record) {
  struct stat st;
  if (!record || !path || stat(path, &st) != 0) return -1;
  FillStat(st, record);
  return 0;
}

int GetErrno() { return errno; }
int* SetErrno(int value) {
  errno = value;
  return &errno;
}

int Fseek(FILE* f, long offset, int whence) { return fseeko(f, offset, whence); }
long Ftell(FILE* f) { return static_cast<long>(ftello(f)); }
long Lrint(double d) { return lrint(d); }
int GetTimeOfDay(struct timeval* tv, void* tz) { return gettimeofday(tv, static_cast<struct timezone*>(tz)); }

constexpr vlSvcStdlib kStdlib = {
    malloc, calloc, realloc, free, strdup, fopen, fclose, Fseek, Ftell, fread, fwrite, fgetc, fputc,
    ferror, feof, vfprintf, vsnprintf, vprintf, qsort, vsscanf, strtod, strtol, strtoul,
    CompareNoCase, CompareNoCaseN, ToLowerChar, ToUpperChar, LowerCaseString, StrToUpper,
    GetTimeOfDay, time, Lrint, LocalTimeRecord, GmTimeRecord, AscTimeRecord, ctime, MakeTimeRecord,
    FormatTimeRecord, clock, DiffTimeOut, clearerr, fileno, fflush, FStatRecord, StatRecord,
    vfscanf, ungetc, rename, remove, GetErrno, SetErrno,
    nullptr, nullptr, nullptr, nullptr, nullptr};

// ---- system -------------------------------------------------------------

void* AllocPluginMemory(size_t size, uint32_t flags) { return AllocMemory(size, flags & 1); }

void* AddHookEntry(uint32_t kind, void* function, void* userData, uintptr_t callMode) {
  return AddHook(kind, function, userData, static_cast<uint32_t>(callMode));
}
void SetHookEntryWord(void* entry, void* word) {
  if (entry) static_cast<vlHook*>(entry)->userData = word;
}
void RemoveHookEntry(void* entry) { RemoveHook(static_cast<vlHook*>(entry)); }

uint32_t RegisterObjectTypeSvc(const char* name, void* handler, uint32_t flags) {
  uint32_t id = 0;
  return RegisterOwnedObjectType(name, reinterpret_cast<vlObjectTypeHandler>(handler), &id, flags) == 0 ? id : 0;
}

void FreeObjectDataListSvc(vlVMState* state, void** list) {
  if (list) FreeObjectDataList(state, reinterpret_cast<vlObjectData**>(list));
}

int AddPluginFileType(vlPluginInfo* info, uint32_t type, const char* name, const char* mime,
                      const char* extensions, uint32_t formatId, uint32_t flags) {
  if (!info) return ERR_WRONGUSAGE;
  size_t n = strlen(name ? name : "") + 1, m = mime ? strlen(mime) + 1 : 0,
         e = strlen(extensions ? extensions : "") + 1;
  auto* node = static_cast<vlPluginFileType*>(calloc(1, sizeof(vlPluginFileType) + n + m + e));
  if (!node) return ERR_MEM;
  char* at = reinterpret_cast<char*>(node + 1);
  memcpy(at, name ? name : "", n);
  node->name = at;
  at += n;
  if (mime) {
    memcpy(at, mime, m);
    node->mimeType = at;
    at += m;
  }
  memcpy(at, extensions ? extensions : "", e);
  node->extensions = at;
  node->type = type;
  node->formatId = (flags & 1) ? formatId : 0;
  node->flags = flags;
  vlPluginFileType** link = &info->fileTypes;
  while (*link) link = &(*link)->next;
  *link = node;
  return 0;
}

void* CreateMutexSvc() { return CreateMutex(); }
void FreeMutexSvc(void* m) { FreeMutex(static_cast<vlMutex*>(m)); }
void LockMutexSvc(void* m) { LockMutex(static_cast<vlMutex*>(m)); }
void UnlockMutexSvc(void* m) { UnlockMutex(static_cast<vlMutex*>(m)); }

void PrintToStdoutSvc(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintToStdout(format, args);
  va_end(args);
}

void FreeConvertedString(char* text) { free(text); }

int SetFileAdapterWord(vlPluginInfo* info, uint32_t classCode, uint32_t word) {
  if (!info || classCode != VL_CLASS_FILEADAPTER) return ERR_WRONGUSAGE;
  info->adapterWords[2] = word;
  return 0;
}

// {line, source file, command name}.
int GetSourcePosition(vlVMState* state, void** record) {
  if (!record) return 0;
  record[0] = reinterpret_cast<void*>(static_cast<intptr_t>(GetCurrentSourceLine(state)));
  record[1] = const_cast<char*>(GetCurrentSourceFile(state));
  record[2] = const_cast<char*>(GetCurrentFunctionName());
  return 0;
}

// The event services do nothing once the script is quitting.
bool Quitting(vlVMState* state) {
  return vlShuttingDown || (state && state->g->host.quitFlag && *state->g->host.quitFlag);
}

// A timer adapter's timer expired: the handle is what its RegisterTimer
// entry returned. A script that is ending runs no more callbacks.
int RunHandlerByIdSvc(vlVMState* state, void* handle) {
  if (Quitting(state)) return 0;
  return RunHandlerById(state, reinterpret_cast<uintptr_t>(handle));
}

// An ending script takes no more adapter input: nothing would run it.
int PostAdapterEventSvc(uint32_t kind, const uintptr_t* record) {
  if (Quitting(GetRunningScriptState())) return 0;
  return PostAdapterEvent(kind, record);
}

int PostAdapterEventVMSvc(vlVMState* state, uint32_t kind, const uintptr_t* record, uint32_t) {
  if (Quitting(state ? state : GetRunningScriptState())) return 0;
  return PostAdapterEventVM(state, kind, record);
}

// Event-loop steps while they run callbacks.
int RunReadyCallbacks(vlVMState* state) {
  int more = 0, r;
  do r = EventLoopStep(state, 0, 1, &more);
  while (r == 0 && !more);
  return r;
}

// One pump; with flag bit 4 also the callbacks that are ready.
int PumpEventsSvc(vlVMState* state, uint32_t flags) {
  if (Quitting(state)) return 0;
  int error = 0;
  if (PumpEvents(state, static_cast<int>(flags), 0, &error)) return error;
  return (flags & 16) ? RunReadyCallbacks(state) : 0;
}

// What a display adapter's event entry does in place of the X11 input:
// with flag bit 1 the frames the video threads queued are drawn, the
// devices are polled, and with flag bit 0 the ready callbacks run.
int ServiceEventsSvc(vlVMState* state, uint32_t flags) {
  if (Quitting(state)) return 0;
  if (flags & 2)
    if (int status = FlushPendingDisplayFrames(state)) return status;
  PollDevices(state);
  return (flags & 1) ? RunReadyCallbacks(state) : 0;
}

int WaitEventsSvc(vlVMState* state) { return Quitting(state) ? 0 : WaitForEvents(state, 0, 0, nullptr); }

const vlSvcSystem kSystem = {
    SystemTagsSvc, RegisterUserError, SetErrorArgument, SetErrorArgIndex, GetErrorText,
    GetSysTime, SubTimeVal, AddTimeVal, CompareTimeVal, SleepMillis, GetDateStringSvc,
    AllocPluginMemory, FreeMemory, AddHookEntry,
    RegisterEventTypeSimpleSvc, PostAdapterEventSvc, DisplayClientControlSvc,
    RegisterObjectTypeSvc, FreeObjectDataListSvc, AddPluginFileType,
    ServiceEventsSvc,
    AddCommandHook, RemoveCommandHook, HookCommand, SetCommandHookErrorHandler,
    GetCommandHookErrorHandler, SetCommandHookDisabled,
    PostAdapterEventVMSvc, PumpEventsSvc, WaitEventsSvc,
    CreateMutexSvc, FreeMutexSvc, LockMutexSvc, UnlockMutexSvc, SetHookEntryWord, RemoveHookEntry,
    RegisterEventType,
    PrintToStdoutSvc,
    RunHandlerByIdSvc, SetTimerAdapterSvc,
    GetDateStampSvc,
    ConvertEncoding, FreeConvertedString, AddPluginToClassList, RemovePluginFromClassList,
    SetFileAdapterWord,
    DispatchCallbackRecord,
    GetSourcePosition,
    FindEventType,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// ---- files --------------------------------------------------------------

vlStream* AsStream(void* s) { return static_cast<vlStream*>(s); }

uint32_t StreamMode(uint32_t pluginMode) {
  uint32_t mode = (pluginMode & 1) ? VL_MODE_WRITE : (pluginMode & 2) ? VL_MODE_UPDATE : VL_MODE_READ;
  if (pluginMode & 16) mode |= 16;
  if (!(pluginMode & 8)) mode |= VL_MODE_ADAPTERS;
  return mode;
}

void* OpenFileDefault(const char* name, uint32_t mode) {
  const char* substitute = GetServiceSubstituteFileName();
  return OpenFileStream(substitute ? substitute : name, StreamMode(mode), nullptr);
}
void* OpenFileTags(const char* name, uint32_t mode, const vlTagItem* tags) {
  const char* list = reinterpret_cast<const char*>(GetTagValue(tags, 1, 0));
  return OpenFileStream(name, StreamMode(mode), list);
}
void CloseStreamSvc(void* s) { CloseFileStream(AsStream(s)); }
int64_t SeekStreamSvc(void* s, int64_t pos, int mode) { return SeekFileStream(AsStream(s), pos, mode); }
int64_t ReadStreamSvc(void* s, void* b, int64_t n) { return ReadFileStream(AsStream(s), b, n); }
int64_t WriteStreamSvc(void* s, const void* b, int64_t n) { return WriteFileStream(AsStream(s), b, n); }
int ReadByteSvc(void* s) { return ReadFileStreamByte(AsStream(s)); }
int WriteByteSvc(void* s, int c) { return WriteFileStreamByte(AsStream(s), c); }
int AtEndSvc(void* s) { return IsFileStreamAtEnd(AsStream(s)); }
uint32_t StreamFlagsSvc(const void* s) { return GetFileStreamFlags(static_cast<const vlStream*>(s)); }
int FlushStreamSvc(void* s) { return FlushFileStream(AsStream(s)); }

// flags bit 2: a directory is expected; bit 0: for writing, which the
// built-in back end refuses. Adapters are asked too.
void* LockPath(const char* name, uint32_t flags) {
  if (flags & 1) return nullptr;
  return ObtainFileLock(name, VL_LOCK_READ | VL_LOCK_ADAPTERS, nullptr);
}
void FreeLockSvc(void* lock) { FreeFileLock(static_cast<vlFileLock*>(lock)); }
void LockNameSvc(void* lock, char* buffer, size_t size) {
  GetFileLockName(static_cast<vlFileLock*>(lock), buffer, size);
}
int RequireDirSvc(void* lock, uint32_t* isDirectory) {
  return RequireDirectoryLock(static_cast<vlFileLock*>(lock), isDirectory);
}

// Non-zero while entries remain: name, directory flag, size and
// modification time of the next entry.
int NextDirEntrySvc(void* lock, const char** nameOut, uint32_t* isDirectory, uint64_t* size, uint32_t* date) {
  vlFileStat status{};
  uint32_t dir = 0;
  const char* name = nullptr;
  if (!ReadFileLockEntry(static_cast<vlFileLock*>(lock), 0, &name, &dir, &status)) return 0;
  if (nameOut) *nameOut = name;
  if (isDirectory) *isDirectory = dir;
  if (size) *size = status.size;
  if (date) *date = status.modifyTime;
  return 1;
}

int GetCurrentDirName(char* buffer, size_t size) { return buffer && getcwd(buffer, size) ? 1 : 0; }

// flags bit 0: write the buffer through a file stream; otherwise copy it
// from a memory name with the file-copy routine.
int SaveBufferToFile(const char* name, const void* buffer, int64_t size, uint32_t flags) {
  if (flags & 1) {
    vlReplacement out;
    if (int status = OpenReplacement(&out, name, VL_MODE_WRITE, nullptr)) return status;
    return EndReplacement(&out, WriteFileStream(out.stream, buffer, size) == size ? 0 : ERR_WRITE);
  }
  char memory[64];
  if (size < 0 || !MakeMemoryName(memory, sizeof memory, buffer, static_cast<uint64_t>(size))) return ERR_MEM;
  int rc = CopyFileData(memory, nullptr, name, nullptr);
  ReleaseMemoryName(memory);
  return rc;
}

// A chunk name gives the file that holds it with its offset and length;
// any other name is copied, with -1 for both. 1, or 0 when it does not
// fit or is a broken chunk name.
int ResolveChunkNameSvc(const char* name, char* path, size_t size, int64_t* offset, int64_t* length) {
  if (!name || !path || size == 0) return 0;
  uint64_t at = 0, count = 0;
  int64_t outOffset = -1, outLength = -1;
  if (IsChunkName(name)) {
    vlChunkNameParts parts{&at, &count, nullptr, 0, path, size, nullptr, 0, nullptr};
    if (!ParseChunkName(name, parts)) return 0;
    outOffset = static_cast<int64_t>(at);
    outLength = static_cast<int64_t>(count);
  } else {
    size_t n = strlen(name);
    if (n >= size) return 0;
    memcpy(path, name, n + 1);
  }
  if (offset) *offset = outOffset;
  if (length) *length = outLength;
  return 1;
}

// record = {offset, length} of a chunk name; 1, else 0 with -1 in both.
int GetChunkInfoSvc(const char* name, int64_t* record) {
  uint64_t at = 0, count = 0;
  vlChunkNameParts parts{&at, &count, nullptr, 0, nullptr, 0, nullptr, 0, nullptr};
  bool ok = name && IsChunkName(name) && ParseChunkName(name, parts);
  if (record) {
    record[0] = ok ? static_cast<int64_t>(at) : -1;
    record[1] = ok ? static_cast<int64_t>(count) : -1;
  }
  return ok ? 1 : 0;
}

const vlSvcFiles kFiles = {
    OpenFileDefault, CloseStreamSvc, SeekStreamSvc, ReadStreamSvc, WriteStreamSvc, ReadByteSvc,
    WriteByteSvc, AtEndSvc, RemovePath, LockPath, FreeLockSvc, LockNameSvc,
    StatLockSvc, RequireDirSvc, ReleasePathHookSvc,
    NextDirEntrySvc, MakeDirPath, RenamePath, GetCurrentDirName, MakeTempFileName, AddPart, GetFilePart,
    GetReadableFileName, ResolveChunkNameSvc,
    ExamineLockSvc, SeekStreamSvc, StreamFlagsSvc, ExamineStreamSvc,
    SaveBufferToFile, GetChunkInfoSvc,
    FlushStreamSvc,
    MakeTempFileNameSvc,
    OpenFileTags,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// ---- zlib, plug-in list, checksums ---------------------------------------

#define ZL(fn) reinterpret_cast<void*>(fn)
const vlSvcZlib kZlib = {ZL(inflateInit_), ZL(inflate),       ZL(inflateEnd),    ZL(deflateInit_),
                         ZL(deflate),      ZL(deflateEnd),    ZL(deflateReset),  ZL(deflateParams),
                         ZL(inflateReset), ZL(inflateSync),   ZL(inflateInit2_), ZL(deflateInit2_),
                         ZL(crc32),        nullptr,           nullptr,           nullptr};
#undef ZL

vlPluginChainEntry* GetPluginChain() {
  size_t count = 0;
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) count += p->handle != nullptr;
  if (count == 0) return nullptr;
  auto* chain = static_cast<vlPluginChainEntry*>(calloc(count, sizeof(vlPluginChainEntry)));
  if (!chain) return nullptr;
  size_t i = 0;
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    if (!p->handle) continue;
    chain[i].info = p->handle->info;
    chain[i].next = i + 1 < count ? &chain[i + 1] : nullptr;
    ++i;
  }
  return chain;
}
void FreePluginChain(vlPluginChainEntry* chain) { free(chain); }
void SetPluginDisabled(vlPluginInfo* info, uint32_t flag) {
  if (info) info->disabled = flag;
}
void SetPluginUserData(vlPluginInfo* info, uintptr_t word) {
  if (info) info->userData = word;
}
uintptr_t GetPluginUserData(vlPluginInfo* info) { return info ? info->userData : 0; }

const vlSvcPlugins kPlugins = {GetPluginChain, FreePluginChain, SetPluginDisabled, SetPluginUserData,
                               GetPluginUserData};

int32_t Crc32Svc(const void* buffer, int32_t length) {
  if (length < 1 || !buffer) return -1;
  return static_cast<int32_t>(ComputeCrc32(buffer, length));
}

// dst takes Base64EncodedSize(length) + 1 bytes.
void Base64EncodeSvc(const void* src, size_t length, char* dst, size_t* outLength) {
  size_t n = EncodeBase64(src, length, dst);
  if (outLength) *outLength = n;
}
int Base64DecodeSvc(const char* src, size_t length, void* dst, size_t* outLength) {
  return DecodeBase64(src, length, dst, outLength);
}
// Nothing is written for an empty buffer.
void MD5HexSvc(const void* data, size_t length, char* hex) {
  if (length > 0 && hex) MD5ToHex(data, length, hex);
}

const vlSvcChecksums kChecksums = {Base64EncodeSvc, Base64DecodeSvc, Crc32Svc, MD5HexSvc, 1, -1, -1, 0, 0, 0};

// ---- graphics, FreeType, libjpeg -------------------------------------------

// The display and graphics services fill the graphics sub-table.
struct DisplaySlots {
  vlSvcGraphics graphics{};
  DisplaySlots() {
    FillDisplayServiceSlots(graphics.slot);
    FillGraphicsServiceSlots(graphics.slot);
  }
};
const DisplaySlots kDisplaySlots;
const vlSvcGraphics& kGraphics = kDisplaySlots.graphics;
const vlSvcFreeType kFreeType = [] {
  vlSvcFreeType t{};
  FillFreeTypeServiceSlots(t.slot);
  return t;
}();
// libjpeg as the player links it (the library's own version checks apply).
#define JP(f) vlAsSlot(&f)
const vlSvcJpeg kJpeg = {{JP(jpeg_CreateDecompress), JP(jpeg_finish_decompress), JP(jpeg_destroy_decompress),
                          JP(jpeg_std_error), JP(jpeg_read_header), JP(jpeg_read_scanlines),
                          JP(jpeg_start_decompress), JP(jpeg_resync_to_restart), JP(jpeg_CreateCompress),
                          JP(jpeg_finish_compress), JP(jpeg_destroy_compress), JP(jpeg_start_compress),
                          JP(jpeg_set_defaults), JP(jpeg_write_scanlines), JP(jpeg_set_quality),
                          JP(jpeg_set_colorspace), JP(jpeg_default_colorspace), JP(jpeg_destroy), JP(jpeg_abort),
                          JP(jpeg_suppress_tables), JP(jpeg_write_raw_data), JP(jpeg_write_tables),
                          JP(jpeg_read_raw_data), JP(jpeg_save_markers), JP(jpeg_calc_output_dimensions)}};
#undef JP

// ---- the VM sub-table's runtime slots ------------------------------------------

int RaiseErrorSvc(vlVMState* state, int code) { return vl::RaiseVmErrorFromService(state, code); }
int GetObjectIDArgSvc(vlVMState* state, int index, vlObjectId* out) {
  GetObjectIDArg(out, state, index);
  return 0;
}
int GetObjectIDArgOptSvc(vlVMState* state, int index, vlObjectId* out) {
  return GetObjectIDArgOpt(out, state, index);
}
const char* GetFileNameArgSvc(vlVMState* state, int index) {
  const char* name = vl::CheckStringArg(state, index, nullptr);
  return ResolveLinkedFile(state, name, 0, nullptr);
}

}  // namespace

const vlServiceTable* GetServiceTable() {
  static const vlServiceTable table = [] {
    InstallPluginVMServices(RaiseErrorSvc, GetObjectIDArgSvc, GetFileNameArgSvc, GetObjectIDArgOptSvc,
                            CallProtectedForPlugin);
    return vlServiceTable{kPluginProgramVersion, kPluginProgramRevision, &kStdlib, &kSystem, &kFiles,
                          &kGraphics, &kSoundServices, &kRequesterServices, &kFontServices, &kFreeType,
                          GetPluginVMTable(), &kBuiltinDataServices, &kZlib, &kJpeg, &kPlugins, &kChecksums};
  }();
  return &table;
}
