// Reserved file names that reach data linked into the compiled script
// (":::chunk<offset>:<length>*<stored name>?<container path>") and files
// the engine holds in memory (":::chunkS<reference>:<length>*<stored name>?"),
// and the small path helpers every file operation shares.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlMemoryRecord;

inline constexpr char kChunkNamePrefix[] = ":::chunk";
inline constexpr size_t kChunkNamePrefixLength = 8;

// 1 when the name begins with ":::chunk".
int IsChunkName(const char* name);

// Builds a chunk name into buffer (bufferSize bytes). An offset other than
// -1 gives the plain form with base + offset; -1 gives the memory form with
// base as the reference of the virtual file. 1, or 0 when it does not fit
// (the buffer is then emptied).
int MakeChunkName(const char* storedName, char* buffer, size_t bufferSize, int64_t offset, uint64_t length,
                  int64_t base, const char* containerPath);

// Output buffers of ParseChunkName; any pointer may be null.
struct vlChunkNameParts {
  uint64_t* offset;
  uint64_t* length;
  char* storedName;
  size_t storedNameSize;
  char* containerPath;
  size_t containerPathSize;
  char* extension;
  size_t extensionSize;
  vlMemoryRecord** record;
};

// 1 when the name is a well-formed chunk name whose parts fit the buffers
// and, for the memory form, whose virtual file is still live; else 0.
int ParseChunkName(const char* name, const vlChunkNameParts& out);

// Engine-held virtual files belong to the dos library, which resolves a
// reference to its record and answers whether the record is still live.
// Until one is installed no virtual file is live.
using vlVirtualFileFind = vlMemoryRecord* (*)(int64_t reference);
using vlVirtualFileCheck = int (*)(const vlMemoryRecord* record);
// Also clears the free routine.
void SetVirtualFileHooks(vlVirtualFileFind find, vlVirtualFileCheck isNode);
// A virtual file lives while anything holds it: its list entry, streams
// open on it, memory blocks over it. The owner's free routine runs when
// the last holder lets go (on whatever thread that is).
using vlVirtualFileFree = void (*)(vlMemoryRecord* record);
void SetVirtualFileFree(vlVirtualFileFree release);
void HoldVirtualFile(vlMemoryRecord* record);
void ReleaseVirtualFile(vlMemoryRecord* record);
// The record of a reference, or null when there is none or it is not live.
vlMemoryRecord* FindVirtualFile(int64_t reference);
// 1 when the record is a live virtual file.
int IsVirtualFileNode(const vlMemoryRecord* record);

// For messages: a chunk name shows its stored name; then the part after the
// last '/' or '\\', else after the first ':'; from a per-thread buffer
// valid until the next call.
const char* GetReadableFileName(const char* name);
// Appends the extension with its dot (a chunk name's stored name's);
// nothing when there is none. 0 when it does not fit.
int GetFileExtension(char* buffer, size_t bufferSize, const char* name);
// Joins a file to a directory in place with a '/' unless the directory is
// empty or ends in '/' or '\\'. 0 when it does not fit (directory unchanged).
int AddPart(char* directory, size_t directorySize, const char* file);
// The text after the last '/', '\\' or ':'.
const char* GetFilePart(const char* path);
