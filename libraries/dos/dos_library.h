// The dos command library: files, directories, paths, virtual and
// temporary files, external programs, table and function files,
// compressed files, patches and checksums. The library's open and free-all
// routines, its object records and the commands of every group.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/programs.h"
#include "runtime/objects.h"

struct vlVMState;
struct vlStream;
struct vlFileLock;
struct vlMemoryRecord;
struct vlFileStat;

// The dos library's mode constants.
enum : int32_t { VL_DOS_MODE_READWRITE = 1004, VL_DOS_MODE_READ = 1005, VL_DOS_MODE_WRITE = 1006 };
// Access of an open file: read, write, or both.
enum : uint32_t { VL_ACCESS_READ = 1, VL_ACCESS_WRITE = 2, VL_ACCESS_READWRITE = 4 };

// An open file (object type 44).
struct vlFile {
  vlObjectNode node;
  int32_t mode;
  uint32_t access;
  vlStream* stream;  // owned
};

// An open directory (object type 45); the lock holds the reading state.
struct vlDirectory {
  vlObjectNode node;
  uint32_t done;     // set once the last entry was passed
  vlFileLock* lock;  // owned
};

// A file made by GetTempFileName or for a linked program; removed at
// shut-down.
struct vlTempFile {
  vlTempFile* next;
  char* name;    // owned
  char* source;  // the linked file it was made from (owned), or null
};

// A program started by Run. The platform's part comes first so that the
// record itself identifies the run in its end event.
struct vlRunRecord {
  vlRunRequest request;
  vlRunRecord* next;
  int32_t callbackRef;  // -1 when none
  int32_t userdataRef;  // -1 when none
  char* program;        // owned
  char* args;           // owned, or null
};

// The library's lists. Virtual files are memory records: the first
// reserved word holds the string reference (-1 for a copy), the second the
// reference of the record's own handle.
struct vlDosState {
  vlObjectNode* files;
  vlObjectNode* directories;
  vlMemoryRecord* virtualFiles;
  vlTempFile* tempFiles;
  vlRunRecord* runs;
};
extern vlDosState gDos;

// Registers the commands, constants and object lists, and the virtual-file
// hooks of the chunk-name parser. 0 or an error code.
int OpenDosLib(vlVMState* state);
// Frees every object of the library in the order files, temporary files
// (removed from disk), directories, virtual files, Run records. 0.
int FreeDosObjects(vlVMState* state);

// The file named by the argument at index: 0, or 1179 (the number kept for
// the message) and 1041 for a handle.
int FindFileObject(vlVMState* state, int index, vlFile** out);
// Closes and frees a file object already unlinked from gDos.files: 0, or
// 1005 when its buffered bytes did not reach the file.
int CloseFileObject(vlVMState* state, vlFile* file);
// The object of that id in a list of the library: 0, or missing (the
// number kept for the message) for a number and 1041 for a handle.
int FindDosObject(vlObjectNode* const* list, vlObjectId id, int missing, vlObjectNode** out);
// The first object of that id in gDos.files or gDos.directories; null for none.
vlObjectNode* FirstDosObject(vlObjectNode* const* list, vlObjectId id);
// Installs GetAttribute's handlers of open files and directories.
void InstallDosAttributeHandlers();
// Releases a registry reference unless it is -1.
void ReleaseRefIfSet(vlVMState* state, int32_t ref);
// Appends to the tail of gDos.files or gDos.directories and its index; 0 or
// 1000 with nothing changed.
int AppendObject(vlObjectNode** list, vlObjectNode* node);
// Unlinks a node from that list and its index.
void UnlinkObject(vlObjectNode** list, vlObjectNode* node);

// Retires an unlinked virtual file: its references go, and it is freed
// once nothing holds it any more (streams and memory blocks may).
void FreeVirtualFile(vlVMState* state, vlMemoryRecord* record);
// 1 when the record is in the virtual-file list (the chunk-name parser
// asks through IsVirtualFileNode).
int IsListedVirtualFile(const vlMemoryRecord* record);
// A Run record by its request; null when it is not (or no longer) listed.
vlRunRecord* FindRunRecord(const void* request);
// Unlinks and frees a Run record after its end was reported: the watcher
// is stopped, the references released.
void RemoveRunRecord(vlVMState* state, const void* request);
// Lets the event dispatcher report the ends of Run's programs.
void InstallRunEnds();

// Pushes the attribute table of a status record: "type", "size" (files),
// "flags", "time", "lastaccesstime".
void PushAttributeTable(vlVMState* state, const vlFileStat& status);
// "%.2d-%s-%d %.2d:%.2d:%.2d" of a moment in local time.
void FormatFileDate(uint32_t when, char* buffer, size_t size);
// Reads "DD-Mon-YYYY hh:mm:ss" into {second, minute, hour, day, month
// (0-11), year}; 1, or 0 for any violation.
int ParseDateString(const char* text, int32_t date[6]);
// Wildcards ("?", "#", "*", sets) against a string, case-sensitive.
int MatchWildcard(const char* pattern, const char* string);
// 1 when the string matches one of the ';'-separated patterns.
int MatchPatternList(const char* list, const char* string);
// Creates every missing directory along the path; 0 or 1084.
int MakeDirectoryPath(const char* path);

// CRC-32 and MD5 of a whole file; 0, 1000 or 1045.
int ComputeFileCrc32(const char* name, uint32_t* crc);
int ComputeFileMD5(const char* name, uint8_t digest[16]);
// Packs a file ("VLPK" style magic, 4 zero bytes, a zlib stream) into a
// file or an open stream; *compressedSize gets the bytes written. 0 or an
// error code.
int CompressToPack(const char magic[4], const char* sourceName, const char* destName, vlStream* destStream,
                   uint64_t* compressedSize);

// Reads one table record ("VLT0" or "VLT1") or function record ("VLF0"
// or "VLF1") at the stream's position and pushes its table or function.
// 0 or an error code (nothing pushed).
int ReadTableRecord(vlVMState* state, vlStream* stream);
int ReadFunctionRecord(vlVMState* state, vlStream* stream);
// The streams of a patch. The callbacks may run script code, which can
// close files: they store the streams they looked up again.
struct vlPatchFiles {
  vlStream* source;
  vlStream* patch;
  vlStream* dest;
};
// Writes each source byte XORed with the next patch byte, or complemented
// once the patch is used up; progress(percent) is called whenever the
// whole percentage changes, and step() after every byte (both may stop the
// walk with a non-zero code). 0, 1009 (a short read), 1005 (a failed
// write) or that code.
int PatchStreams(vlPatchFiles* files, int (*progress)(void* data, int percent), int (*step)(void* data),
                 void* data);

// Commands: files
int CmdOpenFile(vlVMState* state);
int CmdCloseFile(vlVMState* state);
int CmdEof(vlVMState* state);
int CmdReadChr(vlVMState* state);
int CmdReadLine(vlVMState* state);
int CmdReadString(vlVMState* state);
int CmdSeek(vlVMState* state);
int CmdWriteChr(vlVMState* state);
int CmdWriteLine(vlVMState* state);
int CmdWriteString(vlVMState* state);
int CmdWriteShort(vlVMState* state);
int CmdWriteInt(vlVMState* state);
int CmdWriteFloat(vlVMState* state);
int CmdReadShort(vlVMState* state);
int CmdReadInt(vlVMState* state);
int CmdReadFloat(vlVMState* state);
int CmdFilePos(vlVMState* state);
int CmdFlushFile(vlVMState* state);
int CmdSetIOMode(vlVMState* state);
int CmdFileLength(vlVMState* state);
int CmdFileAttributes(vlVMState* state);
int CmdFileToString(vlVMState* state);
int CmdStringToFile(vlVMState* state);
int CmdFileLines(vlVMState* state);
int CmdGetEnv(vlVMState* state);
int CmdSetEnv(vlVMState* state);
int CmdUnsetEnv(vlVMState* state);
int CmdGetAsset(vlVMState* state);
// Paths and the file system
int CmdExists(vlVMState* state);
int CmdFileSize(vlVMState* state);
int CmdPathPart(vlVMState* state);
int CmdFilePart(vlVMState* state);
int CmdMakeDirectory(vlVMState* state);
int CmdGetVolumeInfo(vlVMState* state);
int CmdChangeDirectory(vlVMState* state);
int CmdGetVolumeName(vlVMState* state);
int CmdFullPath(vlVMState* state);
int CmdRename(vlVMState* state);
int CmdIsDirectory(vlVMState* state);
int CmdMatchPattern(vlVMState* state);
int CmdGetFileAttributes(vlVMState* state);
int CmdSetFileAttributes(vlVMState* state);
int CmdGetTempFileName(vlVMState* state);
int CmdGetCurrentDirectory(vlVMState* state);
// Directories
int CmdReadDirectory(vlVMState* state);
int CmdOpenDirectory(vlVMState* state);
int CmdCloseDirectory(vlVMState* state);
int CmdNextDirectoryEntry(vlVMState* state);
// Copying and deleting
int CmdCopyFile(vlVMState* state);
int CmdDeleteFile(vlVMState* state);
// Virtual files and programs
int CmdDefineVirtualFile(vlVMState* state);
int CmdDefineVirtualFileFromString(vlVMState* state);
int CmdUndefineVirtualStringFile(vlVMState* state);
int CmdExecute(vlVMState* state);
int CmdRun(vlVMState* state);
// Table and function files
int CmdWriteTable(vlVMState* state);
int CmdReadTable(vlVMState* state);
int CmdWriteFunction(vlVMState* state);
int CmdReadFunction(vlVMState* state);
// Compressed files, patches, checksums
int CmdCompressFile(vlVMState* state);
int CmdDecompressFile(vlVMState* state);
int CmdApplyPatch(vlVMState* state);
int CmdCRC32(vlVMState* state);
int CmdMD5(vlVMState* state);
