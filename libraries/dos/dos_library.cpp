// Opening and freeing the dos library: its command and constants tables,
// the object lists it registers, the virtual-file hooks of the chunk-name
// parser, and the free-all routine run at shut-down. Depends on the
// object and library registries and the VM's registration helpers.
#include "libraries/dos/dos_library.h"

#include <cstdlib>
#include <cstring>

#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/threads.h"
#include "runtime/chunk_name.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/file_lock.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/serial_value.h"
#include "runtime/stream.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

vlDosState gDos = {};

namespace {

// Opening and finding a file or directory must not walk every one there is.
vlObjectIndex gFileIndex;
vlObjectIndex gDirectoryIndex;

vlObjectIndex& IndexOf(vlObjectNode* const* list) { return list == &gDos.files ? gFileIndex : gDirectoryIndex; }

const vlCommand kDosCommands[] = {
    {"OpenFile", CmdOpenFile},
    {"Eof", CmdEof},
    {"ReadChr", CmdReadChr},
    {"ReadLine", CmdReadLine},
    {"ReadString", CmdReadString},
    {"Seek", CmdSeek},
    {"WriteChr", CmdWriteChr},
    {"WriteLine", CmdWriteLine},
    {"WriteString", CmdWriteString},
    {"Exists", CmdExists},
    {"FileSize", CmdFileSize},
    {"PathPart", CmdPathPart},
    {"FilePart", CmdFilePart},
    {"MakeDirectory", CmdMakeDirectory},
    {"GetVolumeInfo", CmdGetVolumeInfo},
    {"DeleteFile", CmdDeleteFile},
    {"Execute", CmdExecute},
    {"Run", CmdRun},
    {"ChangeDirectory", CmdChangeDirectory},
    {"GetVolumeName", CmdGetVolumeName},
    {"CloseFile", CmdCloseFile},
    {"ReadDirectory", CmdReadDirectory},
    {"FullPath", CmdFullPath},
    {"CopyFile", CmdCopyFile},
    {"Rename", CmdRename},
    {"IsDirectory", CmdIsDirectory},
    {"CRC32", CmdCRC32},
    {"WriteShort", CmdWriteShort},
    {"WriteInt", CmdWriteInt},
    {"WriteFloat", CmdWriteFloat},
    {"ReadShort", CmdReadShort},
    {"ReadInt", CmdReadInt},
    {"ReadFloat", CmdReadFloat},
    {"FilePos", CmdFilePos},
    {"MatchPattern", CmdMatchPattern},
    {"FlushFile", CmdFlushFile},
    {"SetIOMode", CmdSetIOMode},
    {"GetFileAttributes", CmdGetFileAttributes},
    {"SetFileAttributes", CmdSetFileAttributes},
    {"GetTempFileName", CmdGetTempFileName},
    {"FileLength", CmdFileLength},
    {"CompressFile", CmdCompressFile},
    {"DecompressFile", CmdDecompressFile},
    {"OpenDirectory", CmdOpenDirectory},
    {"CloseDirectory", CmdCloseDirectory},
    {"NextDirectoryEntry", CmdNextDirectoryEntry},
    {"WriteFunction", CmdWriteFunction},
    {"ReadFunction", CmdReadFunction},
    {"DefineVirtualFile", CmdDefineVirtualFile},
    {"ReadTable", CmdReadTable},
    {"WriteTable", CmdWriteTable},
    {"GetCurrentDirectory", CmdGetCurrentDirectory},
    {"ApplyPatch", CmdApplyPatch},
    {"DefineVirtualFileFromString", CmdDefineVirtualFileFromString},
    {"UndefineVirtualStringFile", CmdUndefineVirtualStringFile},
    {"FileToString", CmdFileToString},
    {"StringToFile", CmdStringToFile},
    {"GetEnv", CmdGetEnv},
    {"SetEnv", CmdSetEnv},
    {"UnsetEnv", CmdUnsetEnv},
    {"MD5", CmdMD5},
    {"FileLines", CmdFileLines},
    {"FileAttributes", CmdFileAttributes},
    {"GetAsset", CmdGetAsset},
    {nullptr, nullptr},
};

const vlConstant kDosConstants[] = {
    {"FREESPACE", nullptr, 1},
    {"USEDSPACE", nullptr, 0},
    {"EOF", nullptr, -1},
    {"MODE_READWRITE", nullptr, VL_DOS_MODE_READWRITE},
    {"MODE_WRITE", nullptr, VL_DOS_MODE_WRITE},
    {"MODE_READ", nullptr, VL_DOS_MODE_READ},
    {"COPYFILE_STATUS", nullptr, 0},
    {"COPYFILE_OVERWRITE", nullptr, 1},
    {"COPYFILE_UNPROTECT", nullptr, 2},
    {"DELETEFILE_STATUS", nullptr, 0},
    {"DELETEFILE_UNPROTECT", nullptr, 1},
    {"IO_BUFFERED", nullptr, VL_IO_BUFFERED},
    {"IO_UNBUFFERED", nullptr, VL_IO_UNBUFFERED},
    {"FILEATTR_NORMAL", nullptr, VL_PROT_DEFAULT},
    {"FILEATTR_READ_USR", nullptr, VL_PROT_OWNER_READ},
    {"FILEATTR_WRITE_USR", nullptr, VL_PROT_OWNER_WRITE},
    {"FILEATTR_DELETE_USR", nullptr, 4},
    {"FILEATTR_EXECUTE_USR", nullptr, VL_PROT_OWNER_EXEC},
    {"FILEATTR_READ_GRP", nullptr, VL_PROT_GROUP_READ},
    {"FILEATTR_WRITE_GRP", nullptr, VL_PROT_GROUP_WRITE},
    {"FILEATTR_EXECUTE_GRP", nullptr, VL_PROT_GROUP_EXEC},
    {"FILEATTR_READ_OTH", nullptr, VL_PROT_OTHER_READ},
    {"FILEATTR_WRITE_OTH", nullptr, VL_PROT_OTHER_WRITE},
    {"FILEATTR_EXECUTE_OTH", nullptr, VL_PROT_OTHER_EXEC},
    {"FILEATTR_PURE", nullptr, 16},
    {"FILEATTR_ARCHIVE", nullptr, 32},
    {"FILEATTR_SCRIPT", nullptr, 64},
    {"FILEATTR_HIDDEN", nullptr, 128},
    {"FILEATTR_SYSTEM", nullptr, 256},
    {"FILEATTR_READONLY", nullptr, 32768},
    {"DOSTYPE_FILE", nullptr, 0},
    {"DOSTYPE_DIRECTORY", nullptr, 1},
    {"SEEK_BEGINNING", nullptr, 1},
    {"SEEK_CURRENT", nullptr, 0},
    {"SEEK_END", nullptr, 2},
    {nullptr, nullptr, 0},
};

// The chunk-name parser's view of the virtual-file list: a reference is the
// registry reference of the record's handle.
vlMemoryRecord* FindVirtualByRef(int64_t reference) {
  for (vlMemoryRecord* r = gDos.virtualFiles; r; r = r->next)
    if (static_cast<int32_t>(r->reserved[1]) == reference) return r;
  return nullptr;
}

}  // namespace

int CloseFileObject(vlVMState* L, vlFile* f) {
  int closed = f->stream ? CloseFileStream(f->stream) : 1;
  FreeObjectDataList(L, &f->node.data);
  FreeMemory(f);
  return closed ? 0 : ERR_WRITE;
}

void ReleaseRefIfSet(vlVMState* L, int32_t ref) {
  if (ref >= 0) vl::ReleaseRef(L, vl::kRegistryIndex, ref);
}

int AppendObject(vlObjectNode** list, vlObjectNode* node) { return IndexOf(list).Append(list, node); }

void UnlinkObject(vlObjectNode** list, vlObjectNode* node) { IndexOf(list).Unlink(list, node); }

vlObjectNode* FirstDosObject(vlObjectNode* const* list, vlObjectId id) { return IndexOf(list).First(id); }

namespace {

constexpr uint32_t kNoRef = static_cast<uint32_t>(-1);

// The last holder of a virtual file let go. Runs on any thread, so it
// never touches the VM: a record that still needed the script's string was
// given its own copy when it was undefined.
void FreeVirtualRecord(vlMemoryRecord* r) {
  if (r->reserved[0] == kNoRef) std::free(r->data);
  std::free(r);
}

}  // namespace

void FreeVirtualFile(vlVMState* L, vlMemoryRecord* r) {
  ReleaseRefIfSet(L, static_cast<int32_t>(r->reserved[1]));
  r->reserved[1] = kNoRef;
  if (r->reserved[0] != kNoRef) {
    // The data are the script's string. Streams or blocks that still read
    // it get a copy of their own (read-only as before); without memory for
    // one the string stays referenced until shut-down.
    bool used = __atomic_load_n(&r->users, __ATOMIC_ACQUIRE) > 1;
    auto* copy = used ? static_cast<uint8_t*>(std::malloc(r->size ? static_cast<size_t>(r->size) : 1)) : nullptr;
    if (!used || copy) {
      if (copy && r->size) std::memcpy(copy, r->data, static_cast<size_t>(r->size));
      ReleaseRefIfSet(L, static_cast<int32_t>(r->reserved[0]));
      r->data = copy;
      r->capacity = r->size;
      r->reserved[0] = kNoRef;
    }
  }
  ReleaseVirtualFile(r);
}

int IsListedVirtualFile(const vlMemoryRecord* record) {
  for (vlMemoryRecord* r = gDos.virtualFiles; r; r = r->next)
    if (r == record) return 1;
  return 0;
}

int FindDosObject(vlObjectNode* const* list, vlObjectId id, int missing, vlObjectNode** out) {
  if (vlObjectNode* n = FirstDosObject(list, id)) {
    *out = n;
    return 0;
  }
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return missing;
}

int FindFileObject(vlVMState* L, int index, vlFile** out) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  vlObjectNode* n = nullptr;
  int status = FindDosObject(&gDos.files, id, ERR_FINDFILE, &n);
  *out = reinterpret_cast<vlFile*>(n);
  return status;
}

int CmdCloseFile(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlFile* f;
  if (int status = FindFileObject(L, 1, &f)) return status;
  UnlinkObject(&gDos.files, &f->node);
  return CloseFileObject(L, f);
}

int OpenDosLib(vlVMState* L) {
  // Commands are globals: register them into the globals table.
  int top = vl::GetStackTop(L);
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kDosCommands, 0);
  vl::SetStackTop(L, top);
  if (int status = RegisterLibrary(kDosCommands, "dos")) return status;
  vl::RegisterConstants(L, kDosConstants, 0);
  if (int status = RegisterObjectList(&gDos.files)) return status;
  if (int status = RegisterObjectList(&gDos.directories)) return status;
  SetVirtualFileHooks(FindVirtualByRef, IsListedVirtualFile);
  SetVirtualFileFree(FreeVirtualRecord);
  InstallDosAttributeHandlers();
  InstallRunEnds();
  return 0;
}

int FreeDosObjects(vlVMState* L) {
  while (gDos.files) {
    auto* f = reinterpret_cast<vlFile*>(gDos.files);
    gDos.files = f->node.next;
    CloseFileObject(L, f);
  }
  gFileIndex.Clear();
  while (gDos.tempFiles) {
    vlTempFile* t = gDos.tempFiles;
    gDos.tempFiles = t->next;
    RemovePath(t->name);
    std::free(t->name);
    std::free(t->source);
    std::free(t);
  }
  while (gDos.directories) {
    auto* d = reinterpret_cast<vlDirectory*>(gDos.directories);
    gDos.directories = d->node.next;
    FreeFileLock(d->lock);
    FreeObjectDataList(L, &d->node.data);
    FreeMemory(d);
  }
  gDirectoryIndex.Clear();
  while (gDos.virtualFiles) {
    vlMemoryRecord* r = gDos.virtualFiles;
    gDos.virtualFiles = r->next;
    FreeVirtualFile(L, r);
  }
  while (gDos.runs) RemoveRunRecord(L, gDos.runs);
  return 0;
}
