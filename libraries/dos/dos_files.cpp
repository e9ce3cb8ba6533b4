// The dos library's open files: opening and closing, item reads and writes
// in both byte orders, lines, strings, positions, the I/O mode, whole-file
// strings, line iterators, and the environment commands. Depends on the
// streams, the item reader and writer and the object registry.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "libraries/dos/dos_library.h"
#include "runtime/os.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/file_stat.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/progress_message.h"
#include "runtime/replace_file.h"
#include "runtime/script_call.h"
#include "runtime/serial_value.h"
#include "runtime/stream.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr char kFileLinesType[] = "vellamora.filelines";

// The open file of argument 1, refused when it was opened the wrong way.
int FindReadable(vlVMState* L, vlFile** f) {
  if (int status = FindFileObject(L, 1, f)) return status;
  return (*f)->access == VL_ACCESS_WRITE ? ERR_WRITEONLY : 0;
}
int FindWritable(vlVMState* L, vlFile** f) {
  if (int status = FindFileObject(L, 1, f)) return status;
  return (*f)->access == VL_ACCESS_READ ? ERR_READONLY : 0;
}

int64_t ArgToInt64(vlVMState* L, int index) { return vl::DoubleToInt64(vl::CheckNumberArg(L, index)); }

// A name argument of the whole-file commands, resolved against the files
// linked into the applet.
std::string NameArg(vlVMState* L, int index) { return GetFileNameArg(L, index, 0, nullptr); }

int WriteItem(vlVMState* L, const void* value, size_t size, int hostOrder) {
  vlFile* f;
  if (int status = FindWritable(L, &f)) return status;
  return WriteSerialValue(f->stream, value, 0, size, hostOrder, nullptr);
}

int ReadItem(vlVMState* L, void* value, size_t size, int hostOrder) {
  vlFile* f;
  if (int status = FindReadable(L, &f)) return status;
  return ReadSerialValue(f->stream, value, 0, size, hostOrder, nullptr);
}

// What a FileLines iterator holds: its stream, and whether the last line
// it gave was cut at the length limit.
struct LinesState {
  vlStream* stream;
  int cut;
};

// Ends the iteration: the stream closes, later calls give nothing.
void EndLines(vlVMState* L, LinesState* it) {
  if (vl::ToNumberAt(L, vl::UpvalueIndex(3)) == 0) return;
  vl::SetStackTop(L, 0);
  CloseFileStream(it->stream);
  it->stream = nullptr;
}

// One call of a FileLines iterator: the next line of at most 1024 bytes,
// or nothing at the end (the stream then closes).
int FileLinesStep(vlVMState* L) {
  auto* it = static_cast<LinesState*>(vl::ToUserdataAt(L, vl::UpvalueIndex(2)));
  if (!it || !it->stream) return 0;
  vlStream* s = it->stream;
  char line[1024];
  size_t length = 0;
  int count = 0;
  if (it->cut) {
    // A line of exactly the limit was given whole: its line feed does
    // not make an empty line of its own.
    it->cut = 0;
    int c;
    do c = ReadFileStreamByte(s);
    while (c == '\r');
    if (c >= 0 && c != '\n') {
      line[length++] = static_cast<char>(c);
      count = 1;
    }
  }
  if (!length && IsFileStreamAtEnd(s)) {
    EndLines(L, it);
    return 0;
  }
  int c = 0;
  for (; count < 1024; ++count) {
    c = ReadFileStreamByte(s);
    if (c < 0 || c == '\n') break;
    if (c != '\r') line[length++] = static_cast<char>(c);
  }
  // A read that fails before the end gives no line: the loop ends instead
  // of yielding empty lines for ever.
  if (c < 0 && count == 0 && !length) {
    EndLines(L, it);
    return 0;
  }
  it->cut = count == 1024;
  vl::PushBytes(L, line, length);
  return 1;
}

// An iterator dropped before its end still closes its file.
int FileLinesCollect(vlVMState* L) {
  auto* it = static_cast<LinesState*>(vl::ToUserdataAt(L, 1));
  if (it && it->stream) {
    CloseFileStream(it->stream);
    it->stream = nullptr;
  }
  return 0;
}

}  // namespace

int CmdOpenFile(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  vlObjectId id;
  bool automatic = GetObjectIDArgOpt(&id, L, 1) != 0;
  int32_t mode = vl::OptIntArg(L, 3, VL_DOS_MODE_READ);
  uint32_t access;
  std::string name;
  switch (mode) {
    case VL_DOS_MODE_READ:
      access = VL_ACCESS_READ;
      name = NameArg(L, 2);
      break;
    case VL_DOS_MODE_WRITE:
      access = VL_ACCESS_WRITE;
      name = vl::CheckStringArg(L, 2, nullptr);
      break;
    case VL_DOS_MODE_READWRITE:
      access = VL_ACCESS_READWRITE;
      name = vl::CheckStringArg(L, 2, nullptr);
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  if (name.empty()) return ERR_WRONGUSAGE;
  char adapter[256] = "";
  if (vl::GetStackTop(L) >= 4) {
    vl::CheckTableArg(L, 4);
    GetTableString(L, 4, "adapter", adapter, sizeof adapter, nullptr);
  }
  if (!automatic) {
    if (vlObjectNode* n = FirstDosObject(&gDos.files, {id.number, nullptr})) {
      UnlinkObject(&gDos.files, n);
      // The old file's last bytes may be lost on closing: that is this
      // command's failure, as it would be CloseFile's.
      if (int status = CloseFileObject(L, reinterpret_cast<vlFile*>(n))) return status;
    }
  }
  PrintProgressMessage("Opening file %s", name.c_str(), 1);
  // The access bits are the stream's open modes; 8 lets adapters claim it.
  vlStream* s = OpenFileStream(name.c_str(), access | VL_MODE_ADAPTERS, adapter[0] ? adapter : nullptr);
  if (!s) {
    PrintFailed();
    SetErrorArgument(name.c_str());
    return access == VL_ACCESS_READ ? ERR_READFILE : ERR_WRITEFILE;
  }
  auto* f = static_cast<vlFile*>(AllocMemory(sizeof(vlFile), 1));
  if (!f) {
    CloseFileStream(s);
    return ERR_MEM;
  }
  f->node.type = VL_OBJ_FILE;
  f->node.idNumber = automatic ? 0 : id.number;
  f->node.idHandle = automatic ? f : nullptr;
  f->mode = mode;
  f->access = access;
  f->stream = s;
  if (AppendObject(&gDos.files, &f->node)) {
    CloseFileStream(s);
    FreeMemory(f);
    return ERR_MEM;
  }
  PrintDone();
  if (!automatic) return 0;
  vl::PushPointer(L, f);
  return 1;
}

int CmdEof(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlFile* f;
  if (int status = FindFileObject(L, 1, &f)) return status;
  vl::PushNumber(L, IsFileStreamAtEnd(f->stream));
  return 1;
}

int CmdReadChr(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  uint8_t b;
  if (int status = ReadItem(L, &b, 1, 0)) return status;
  vl::PushNumber(L, b);
  return 1;
}

int CmdReadShort(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  int little = vl::OptIntArg(L, 2, 0);
  uint16_t v;
  if (int status = ReadItem(L, &v, 2, little)) return status;
  vl::PushNumber(L, v);
  return 1;
}

int CmdReadInt(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  int little = vl::OptIntArg(L, 2, 0);
  int32_t v;
  if (int status = ReadItem(L, &v, 4, little)) return status;
  vl::PushNumber(L, v);
  return 1;
}

int CmdReadFloat(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  int32_t size = vl::OptIntArg(L, 2, 8);
  int little = vl::OptIntArg(L, 3, 0);
  if (size != 4 && size != 8) return ERR_WRONGUSAGE;
  if (size == 4) {
    float v;
    if (int status = ReadItem(L, &v, 4, little)) return status;
    vl::PushNumber(L, v);
  } else {
    double v;
    if (int status = ReadItem(L, &v, 8, little)) return status;
    vl::PushNumber(L, v);
  }
  return 1;
}

int CmdWriteChr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  auto v = static_cast<uint8_t>(ArgToInt64(L, 2));
  return WriteItem(L, &v, 1, 0);
}

int CmdWriteShort(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  auto v = static_cast<uint16_t>(ArgToInt64(L, 2));
  return WriteItem(L, &v, 2, vl::OptIntArg(L, 3, 0));
}

int CmdWriteInt(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  auto v = static_cast<uint32_t>(ArgToInt64(L, 2));
  return WriteItem(L, &v, 4, vl::OptIntArg(L, 3, 0));
}

int CmdWriteFloat(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  double value = vl::CheckNumberArg(L, 2);
  int32_t size = vl::OptIntArg(L, 3, 8);
  int little = vl::OptIntArg(L, 4, 0);
  if (size == 4) {
    auto v = static_cast<float>(value);
    return WriteItem(L, &v, 4, little);
  }
  if (size == 8) return WriteItem(L, &value, 8, little);
  return ERR_WRONGUSAGE;
}

int CmdReadString(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlFile* f;
  if (int status = FindReadable(L, &f)) return status;
  int64_t length = ArgToInt64(L, 2);
  if (length <= 0 || static_cast<uint64_t>(length) > SIZE_MAX / 2) return ERR_MEM;
  auto* buffer = static_cast<char*>(AllocMemory(static_cast<size_t>(length), 0));
  if (!buffer) return ERR_MEM;
  int status = ReadSerialValue(f->stream, buffer, 1, static_cast<size_t>(length), 0, nullptr);
  if (!status) vl::PushBytes(L, buffer, static_cast<size_t>(length));
  FreeMemory(buffer);
  return status ? status : 1;
}

int CmdWriteString(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlFile* f;
  if (int status = FindWritable(L, &f)) return status;
  size_t have = 0;
  const char* text = vl::CheckStringArg(L, 2, &have);
  int64_t length = vl::DoubleToInt64(vl::OptNumberArg(L, 3, 0));
  if (length < 0) return ERR_WRONGUSAGE;
  if (static_cast<uint64_t>(length) > have) return ERR_STRTOOSHORT;
  size_t n = length ? static_cast<size_t>(length) : have;
  return WriteSerialValue(f->stream, text, 1, n, 0, nullptr);
}

int CmdWriteLine(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlFile* f;
  if (int status = FindWritable(L, &f)) return status;
  const char* text = vl::CheckStringArg(L, 2, nullptr);
  if (int status = WriteSerialValue(f->stream, text, 1, std::strlen(text), 0, nullptr)) return status;
  return WriteSerialValue(f->stream, "\n", 1, 1, 0, nullptr);
}

int CmdReadLine(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlFile* f;
  if (int status = FindReadable(L, &f)) return status;
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  char block[256];
  size_t used = 0;
  for (;;) {
    int c = ReadFileStreamByte(f->stream);
    if (c < 0) {
      if (IsFileStreamAtEnd(f->stream)) break;
      return ERR_READ;
    }
    if (c == '\n') break;
    if (c == '\r') continue;
    block[used++] = static_cast<char>(c);
    if (used == sizeof block) {
      vl::AddBytesToStrBuf(&b, block, used);
      used = 0;
    }
  }
  vl::AddBytesToStrBuf(&b, block, used);
  vl::PushStrBufResult(&b);
  return 1;
}

int CmdSeek(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlFile* f;
  if (int status = FindFileObject(L, 1, &f)) return status;
  int64_t position = ArgToInt64(L, 2);
  int32_t mode = vl::OptIntArg(L, 3, VL_SEEK_BEGIN);
  if (mode < VL_SEEK_CURRENT || mode > VL_SEEK_END) return ERR_WRONGUSAGE;
  // Seek(id, EOF) goes to the end.
  if (position == -1 && mode == VL_SEEK_BEGIN) {
    position = 0;
    mode = VL_SEEK_END;
  }
  if (SeekFileStream(f->stream, position, mode) < 0) return ERR_SEEKFILE;
  return 0;
}

int CmdFilePos(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlFile* f;
  if (int status = FindFileObject(L, 1, &f)) return status;
  vl::PushNumber(L, static_cast<double>(SeekFileStream(f->stream, 0, VL_SEEK_CURRENT)));
  return 1;
}

int CmdFileLength(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlFile* f;
  if (int status = FindFileObject(L, 1, &f)) return status;
  vl::PushNumber(L, static_cast<double>(GetFileStreamSize(f->stream)));
  return 1;
}

int CmdFlushFile(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlFile* f;
  if (int status = FindFileObject(L, 1, &f)) return status;
  return FlushFileStream(f->stream) ? 0 : ERR_WRITE;
}

int CmdSetIOMode(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int32_t mode = vl::CheckIntArg(L, 1);
  if (mode != VL_IO_BUFFERED && mode != VL_IO_UNBUFFERED) return ERR_WRONGUSAGE;
  vlSerialIOMode = static_cast<uint32_t>(mode);
  return 0;
}

int CmdFileAttributes(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlFile* f;
  if (int status = FindFileObject(L, 1, &f)) return status;
  vlFileStat st;
  std::memset(&st, 0, sizeof st);
  if (!StatFileStream(f->stream, &st)) return ERR_STAT;
  PushAttributeTable(L, st);
  if (st.name) SetTableString(L, "path", st.name);
  uint32_t flags = GetFileStreamFlags(f->stream);
  SetTableInt(L, "streaming", flags & 1);
  SetTableInt(L, "noseek", (flags >> 1) & 1);
  return 1;
}

int CmdFileToString(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  std::string name = NameArg(L, 1);
  vlStream* s = OpenFileStream(name.c_str(), VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  if (!s) {
    SetErrorArgument(name.c_str());
    return ERR_READFILE;
  }
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  constexpr int64_t kBlock = 16384;
  auto* block = static_cast<char*>(AllocMemory(kBlock, 0));
  if (!block) {
    CloseFileStream(s);
    return ERR_MEM;
  }
  double total = 0;
  for (;;) {
    int64_t n = ReadFileStream(s, block, kBlock);
    if (n > 0) {
      vl::AddBytesToStrBuf(&b, block, static_cast<size_t>(n));
      total += static_cast<double>(n);
    }
    if (n < kBlock) break;
  }
  FreeMemory(block);
  CloseFileStream(s);
  vl::PushStrBufResult(&b);
  vl::PushNumber(L, total);
  return 2;
}

int CmdStringToFile(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  size_t length = 0;
  const char* data = vl::CheckStringArg(L, 1, &length);
  const char* name = vl::CheckStringArg(L, 2, nullptr);
  vlReplacement file;
  if (int status = OpenReplacement(&file, name, VL_MODE_WRITE | VL_MODE_ADAPTERS, nullptr)) return status;
  bool written = WriteFileStream(file.stream, data, static_cast<int64_t>(length)) == static_cast<int64_t>(length);
  int status = FinishReplacement(&file, written);
  return written ? status : ERR_WRITE;
}

int CmdFileLines(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  std::string name = NameArg(L, 1);
  vlStream* s = OpenFileStream(name.c_str(), VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  if (!s) {
    SetErrorArgument(name.c_str());
    return ERR_READFILE;
  }
  vl::PushString(L, "FILE*");
  vl::RawGetTableValue(L, vl::kRegistryIndex);
  auto* it = static_cast<LinesState*>(vl::PushNewUserdata(L, sizeof(LinesState)));
  *it = {s, 0};
  if (vl::NewNamedMetatable(L, kFileLinesType)) {
    vl::PushString(L, "__gc");
    vl::PushNativeClosure(L, FileLinesCollect, 0);
    vl::RawSetTableValue(L, -3);
  }
  vl::SetMetatableAt(L, -2);
  vl::PushNumber(L, 1);
  vl::PushNativeClosure(L, FileLinesStep, 3);
  return 1;
}

int CmdGetEnv(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  char* value = GetEnvCopy(name);
  vl::PushString(L, value ? value : "");
  vl::PushNumber(L, value ? 1 : 0);
  FreeMemory(value);
  return 2;
}

int CmdSetEnv(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  const char* value = vl::CheckStringArg(L, 2, nullptr);
  return SetEnvVar(name, value);
}

int CmdUnsetEnv(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return UnsetEnvVar(vl::CheckStringArg(L, 1, nullptr));
}

int CmdGetAsset(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckStringArg(L, 1, nullptr);
  vl::PushSlotCopy(L, 1);
  return 1;
}
