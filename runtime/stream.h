// File streams: one stream type over a plain file (through the built-in
// file back end), a block of memory, a file the engine holds in memory, a
// chunk of the running compiled script, or a file adapter's handle.
#pragma once
#include <cstddef>
#include <cstdint>

#include "abi/plugin_abi.h"
#include "runtime/file_stat.h"

struct vlFileAdapter;

// Open modes.
enum : uint32_t {
  VL_MODE_READ = 1,
  VL_MODE_WRITE = 2,   // create or truncate
  VL_MODE_UPDATE = 4,  // read and write
  VL_MODE_ADAPTERS = 8,  // also try file-adapter plug-ins
};

// Stream flags (set by a file adapter at open).
inline constexpr uint32_t VL_STREAM_UNSEEKABLE = VL_FOPEN_UNSEEKABLE;

// Seek modes: VL_SEEK_CURRENT, VL_SEEK_BEGIN, VL_SEEK_END, the plug-in
// interface's.

// The record behind memory streams and engine-held virtual files.
struct vlMemoryRecord {
  vlMemoryRecord* next;  // link in its owner's list
  uint32_t writable;     // 0 = read-only
  uint32_t reserved[2];
  uint32_t users;        // virtual files: holders (the list, streams, blocks)
  uint8_t* data;         // malloc'ed when the stream may grow it
  uint64_t capacity;
  uint64_t size;
  const char* name;
};

struct vlStream {
  vlFileAdapter* adapter;  // set for adapter streams
  void* handle;            // back end's or adapter's handle
  uint32_t mode;           // open mode; an adapter's mode code for adapter streams
  uint32_t flags;          // VL_STREAM_UNSEEKABLE
  vlMemoryRecord* memory;  // memory streams only
  int64_t position;        // memory streams only
  uint32_t ownsRecord;     // closing frees the memory record
  vlMemoryRecord* held;    // the virtual file this stream keeps alive
};

// Opens a stream; null on any failure (the caller reports the name).
// adapterList is the '|'-separated "adapter" option (null = default).
vlStream* OpenFileStream(const char* name, uint32_t mode, const char* adapterList);
// Only the file adapters are asked (plain names only); null when none
// takes the name.
vlStream* OpenAdapterStream(const char* name, uint32_t mode, const char* adapterList);
// A read-only stream over size bytes at data, which must outlive it.
vlStream* OpenMemoryStream(const void* data, uint64_t size);
// 0 when the file could not be closed cleanly (its last writes may be
// lost), else 1; the stream is freed either way.
int CloseFileStream(vlStream* stream);

// 0..255, or -1 at the end.
int ReadFileStreamByte(vlStream* stream);
// Unsigned values from successive byte reads; the end is not checked.
uint32_t ReadFileStreamWordLE(vlStream* stream);
uint32_t ReadFileStreamWordBE(vlStream* stream);
uint32_t ReadFileStreamShortBE(vlStream* stream);
uint32_t ReadFileStreamLongLE(vlStream* stream);
uint32_t ReadFileStreamLongBE(vlStream* stream);
int64_t ReadFileStream(vlStream* stream, void* buffer, int64_t count);

// 1 on success, 0 on failure.
int WriteFileStreamByte(vlStream* stream, int byte);
int WriteFileStreamWordLE(vlStream* stream, uint32_t value);
int WriteFileStreamWordBE(vlStream* stream, uint32_t value);
int WriteFileStreamLongLE(vlStream* stream, uint32_t value);
int WriteFileStreamLongBE(vlStream* stream, uint32_t value);
int64_t WriteFileStream(vlStream* stream, const void* buffer, int64_t count);
// Writes the text without its terminator; the bytes written.
int64_t WriteStreamString(vlStream* stream, const char* text);

// The position before the seek, -1 on failure.
int64_t SeekFileStream(vlStream* stream, int64_t offset, int mode);
int IsFileStreamAtEnd(vlStream* stream);
// 1, or 0 when buffered data could not be written.
int FlushFileStream(vlStream* stream);
// The size in bytes, -1 when it cannot be known; the position is kept.
int64_t GetFileStreamSize(vlStream* stream);
// Non-zero on success.
int StatFileStream(vlStream* stream, vlFileStat* status);

const char* GetFileStreamAdapterName(const vlStream* stream);
int IsFileStreamUnseekable(const vlStream* stream);
uint32_t GetFileStreamFlags(const vlStream* stream);

// Reads a whole file into a new malloc'ed buffer of size + extraBytes bytes
// (the extra bytes are not cleared). With openStream the name is only used
// for messages and the stream stays open. 0, 1045, 1009 or 1000.
int ReadWholeFile(const char* name, const char* adapterList, vlStream* openStream, uint8_t** bufferOut,
                  int64_t* sizeOut, int tryAdapters, int64_t extraBytes);

// Whether writing the named file would destroy what the open stream reads:
// it is the same file (device and inode, links followed), or a window of
// it. Plain files and virtual files are told; adapter streams never.
enum : int { VL_OVERLAP_NONE = 0, VL_OVERLAP_SAME = 1, VL_OVERLAP_INSIDE = 2 };
int StreamOverlapsName(vlStream* source, const char* name);

// Copies a file (or the rest of an open stream, from its start) into a new
// file. 0, 1045, 1052, 1009, 1005 or 1000.
int CopyFileData(const char* sourceName, const char* adapterList, const char* destinationName,
                 vlStream* openSource);
