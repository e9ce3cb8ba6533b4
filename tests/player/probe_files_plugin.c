/* A file adapter, a directory adapter and a sample saver in C99 against
 * the plug-in header alone, built as probefiles.vlp. It serves names that
 * start with "probe:": the file "probe:hello" (read), "probe:out" (written,
 * kept in memory) and the folder "probe:dir" with a file "a.txt" and a
 * folder "sub". Its saver has two formats, rows handed out by a counter
 * that starts again after the last row, as the header asks. Each call it
 * gets is written, with its words and its answer, to the file named by
 * VL_PROBEFILES_LOG. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "abi/plugin_abi.h"

#define PROBE_EXPORT __attribute__((visibility("default")))

static const char kHello[] = "hello\nadapter\n";
static char written[256];
static size_t writtenSize;

static void Log(const char* format, ...) {
  const char* path = getenv("VL_PROBEFILES_LOG");
  FILE* f = path ? fopen(path, "a") : NULL;
  va_list args;
  if (!f) return;
  va_start(args, format);
  vfprintf(f, format, args);
  va_end(args);
  fputc('\n', f);
  fclose(f);
}

PROBE_EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* services, const char* path, void* handle) {
  (void)services, (void)path, (void)handle;
  info->capabilities = PLUGINCAPS_SAVESAMPLE | PLUGINCAPS_FILEADAPTER | PLUGINCAPS_DIRADAPTER;
  info->version = 1;
  info->revision = 0;
  info->moduleName = "probefiles";
  info->name = "File adapter probe";
  return 1;
}

PROBE_EXPORT void ClosePlugin(void) {}

/* ---- the sample saver ------------------------------------------------------ */

PROBE_EXPORT void RegisterSampleSaver(vlSaverFormat* row) {
  static int next;
  static const vlSaverFormat rows[2] = {{1u, 91u, "PROBEA"}, {0u, 92u, "PROBEB"}};
  *row = rows[next];
  /* The rows are asked for twice: after the last, start again. */
  next = row->flags & 1u ? next + 1 : 0;
}

PROBE_EXPORT int SaveSample(const char* file, const vlSaveSampleRecord* record) {
  FILE* f = fopen(file, "w");
  if (!f) return 0;
  fprintf(f, "format %u frames %u", (unsigned)record->formatId, (unsigned)record->frames);
  return fclose(f) == 0;
}

/* ---- the file adapter ------------------------------------------------------ */

typedef struct {
  int writing;
  int64_t position;
} File;

static int64_t Size(const File* f) { return f->writing ? (int64_t)writtenSize : (int64_t)(sizeof kHello - 1); }

PROBE_EXPORT void* FOpen(const char* name, uint32_t mode, const vlTagItem* tags) {
  File* f;
  int flagsTag = tags && tags[0].tag == VL_FOPEN_FLAGS && tags[0].value;
  if (strcmp(name, "probe:hello") != 0 && strcmp(name, "probe:out") != 0) return NULL;
  Log("fopen %s %u flags-tag %d", name, (unsigned)mode, flagsTag);
  f = (File*)calloc(1, sizeof(File));
  if (!f) return NULL;
  f->writing = strcmp(name, "probe:out") == 0;
  if (f->writing) writtenSize = 0;
  return f;
}

PROBE_EXPORT int FClose(void* handle) {
  free(handle);
  return 1;
}

PROBE_EXPORT int64_t FRead(void* handle, void* buffer, int64_t count) {
  File* f = (File*)handle;
  int64_t left = Size(f) - f->position;
  if (f->writing || left <= 0 || count <= 0) return 0;
  if (count > left) count = left;
  memcpy(buffer, kHello + f->position, (size_t)count);
  f->position += count;
  return count;
}

PROBE_EXPORT int FGetC(void* handle) {
  unsigned char c;
  return FRead(handle, &c, 1) == 1 ? c : -1;
}

PROBE_EXPORT int64_t FWrite(void* handle, const void* buffer, int64_t count) {
  File* f = (File*)handle;
  if (!f->writing || count < 0 || (size_t)f->position + (size_t)count > sizeof written) return 0;
  memcpy(written + f->position, buffer, (size_t)count);
  f->position += count;
  if ((size_t)f->position > writtenSize) writtenSize = (size_t)f->position;
  return count;
}

PROBE_EXPORT int FPutC(void* handle, int byte) {
  unsigned char c = (unsigned char)byte;
  return FWrite(handle, &c, 1) == 1 ? c : -1;
}

/* The position before the seek, -1 when it falls outside the file. */
PROBE_EXPORT int64_t FSeek(void* handle, int64_t offset, int mode) {
  File* f = (File*)handle;
  const int64_t before = f->position;
  int64_t to = mode == VL_SEEK_BEGIN ? offset : mode == VL_SEEK_END ? Size(f) + offset : before + offset;
  if (to < 0 || to > Size(f)) return -1;
  f->position = to;
  if (offset != 0 || mode != VL_SEEK_CURRENT) Log("fseek %lld %d -> %lld", (long long)offset, mode, (long long)before);
  return before;
}

PROBE_EXPORT int FFlush(void* handle) {
  (void)handle;
  return 1;
}

PROBE_EXPORT int FEof(void* handle) {
  File* f = (File*)handle;
  return f->position >= Size(f);
}

static void FillStatus(vlAdapterStat* status, int directory, uint64_t size) {
  status->isDirectory = (uint32_t)directory;
  status->size = size;
  status->protection = 1u | 2u; /* FILEATTR_READ_USR | FILEATTR_WRITE_USR */
  strcpy(status->comment, "probe");
}

PROBE_EXPORT int FStat(void* handle, uint32_t flags, vlAdapterStat* status, const vlTagItem* tags) {
  (void)tags;
  Log("fstat %u", (unsigned)flags);
  FillStatus(status, 0, (uint64_t)Size((File*)handle));
  return 1;
}

PROBE_EXPORT int Stat(const char* name, uint32_t flags, vlAdapterStat* status, const vlTagItem* tags) {
  (void)tags;
  if (strcmp(name, "probe:hello") != 0) return 0;
  Log("stat %s %u preset-year %d", name, (unsigned)flags, (int)status->modifyDate.year);
  FillStatus(status, 0, sizeof kHello - 1);
  return 1;
}

/* ---- the directory adapter ------------------------------------------------- */

typedef struct {
  int next;
} Dir;

PROBE_EXPORT void* OpenDir(const char* name, uint32_t flags, const vlTagItem* tags) {
  (void)tags;
  if (strcmp(name, "probe:dir") != 0) return NULL;
  Log("opendir %s %u", name, (unsigned)flags);
  return calloc(1, sizeof(Dir));
}

PROBE_EXPORT void CloseDir(void* handle) { free(handle); }

PROBE_EXPORT int NextDirEntry(void* handle, uint32_t mode, const char** name, uint32_t* type, vlAdapterStat* status) {
  Dir* d = (Dir*)handle;
  Log("nextdirentry %u", (unsigned)mode);
  if (d->next == 0) {
    *name = "a.txt";
    *type = 0;
    FillStatus(status, 0, 3);
  } else if (d->next == 1) {
    *name = "sub";
    *type = 1;
    FillStatus(status, 1, 0);
  } else {
    return 0;
  }
  ++d->next;
  return 1;
}

/* Each entry as the type the player calls it through. */
__attribute__((unused)) static void CheckEntryTypes(vlPluginInfo* info) {
  info->RegisterSampleSaver = RegisterSampleSaver;
  info->SaveSample = SaveSample;
  info->FOpen = FOpen;
  info->FClose = FClose;
  info->FRead = FRead;
  info->FGetC = FGetC;
  info->FWrite = FWrite;
  info->FPutC = FPutC;
  info->FSeek = FSeek;
  info->FFlush = FFlush;
  info->FEof = FEof;
  info->FStat = FStat;
  info->Stat = Stat;
  info->OpenDir = OpenDir;
  info->CloseDir = CloseDir;
  info->NextDirEntry = NextDirEntry;
}
