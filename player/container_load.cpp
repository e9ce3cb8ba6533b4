// Finding and opening the compiled-script container: the script path made
// absolute, the current directory moved to the script, a compressed
// container inflated into a temporary file, then the record walk. Depends
// on the file streams, the platform paths and the container reader.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "runtime/console.h"
#include "player/container.h"
#include "runtime/decompress_pack.h"
#include "runtime/errors.h"
#include "player/linked_data.h"
#include "runtime/linked_files.h"
#include "runtime/messages.h"
#include "runtime/progress_message.h"
#include "player/startup.h"
#include "player/startup_options.h"
#include "runtime/stream.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

namespace {

int Fail(vlVMState* state, vlStream* stream, int code) {
  if (stream) CloseFileStream(stream);
  if (state) vl::SetRegistryString(state, "script", ":none:");
  return code;
}

uint32_t ReadMagic(vlStream* s) {
  uint8_t b[4];
  if (ReadFileStream(s, b, 4) != 4) return 0;
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

constexpr uint32_t kMagicVLA = 0x564C4100;
constexpr uint32_t kMagicVLZ = 0x564C5A00;

}  // namespace

int LoadCompiledScript(vlVMState* state, vlStartupRecord* startup, vlAppletInfo* applet) {
  char full[kStartupPathSize];
  if (GetFullPath(startup->scriptPath, full, sizeof full)) std::strcpy(startup->scriptPath, full);
  vlStream* s = OpenFileStream(startup->scriptPath, VL_MODE_READ, nullptr);
  if (!s) {
    SetErrorArgument(startup->scriptPath);
    return Fail(state, nullptr, ERR_FILEEXIST);
  }
  CloseFileStream(s);
  if (!vlStartup.noChdir) {
    // A picture file named on the command line is where the user was, not
    // where the script lies.
    char* file = applet->overrides.backfill.brushFile;
    char fullFile[kStartupPathSize];
    if (file[0] && GetFullPath(file, fullFile, sizeof fullFile) &&
        std::strlen(fullFile) < sizeof applet->overrides.backfill.brushFile)
      std::strcpy(file, fullFile);
    char dir[kStartupPathSize];
    std::strcpy(dir, startup->scriptPath);
    CutFilePart(dir);
    if (dir[0]) FreeMemory(ChangeCurrentDir(dir));
  }
  PrintProgressMessage(GetMessage(97), startup->scriptPath, 1);
  s = OpenFileStream(startup->scriptPath, VL_MODE_READ, nullptr);
  if (!s) {
    SetErrorArgument(startup->scriptPath);
    return Fail(state, nullptr, ERR_READFILE);
  }
  vlContainerContext ctx{};
  ctx.state = state;
  ctx.startup = startup;
  ctx.applet = applet;
  ctx.major = static_cast<int>(applet->versionMajor);
  ctx.minor = static_cast<int>(applet->versionMinor);
  ctx.iconPosition = -1;
  char firstPath[kStartupPathSize];
  std::strcpy(firstPath, startup->scriptPath);
  ctx.iconPath = firstPath;
  char readPath[kStartupPathSize];
  std::strcpy(readPath, startup->scriptPath);
  int64_t base = vlLinkedOffset;
  uint32_t magic = 0;
  int64_t size = GetFileStreamSize(s);
  if (size > base + 4) {
    SeekFileStream(s, base, VL_SEEK_BEGIN);
    magic = ReadMagic(s);
    if (magic == kMagicVLZ) {
      char temp[kStartupPathSize];
      // A folder that is missing, not a folder, not writable or too long
      // for the name is reported by the name the copy would have had.
      if (!NewTempName(temp, sizeof temp)) return Fail(state, s, TempFileNameError(errno));
      SeekFileStream(s, base, VL_SEEK_BEGIN);
      int status = DecompressPack("VLZ", s, temp, nullptr, 0, nullptr);
      if (status) return Fail(state, s, status);
      ctx.iconPosition = SeekFileStream(s, 0, VL_SEEK_CURRENT);
      CloseFileStream(s);
      // The script keeps its own path (the applet finds its directory by
      // it); only the reads go to the unpacked copy.
      std::strcpy(readPath, temp);
      s = OpenFileStream(readPath, VL_MODE_READ, nullptr);
      if (!s) {
        SetErrorArgument(readPath);
        return Fail(state, nullptr, ERR_READFILE);
      }
      magic = ReadMagic(s);
      base = 0;
      vlLinkedOffset = 0;
    }
    startup->containerFound = magic == kMagicVLA ? 1 : 0;
  }
  if (!startup->containerFound) {
    SetErrorArgument(GetReadableFileName(startup->givenName ? startup->givenName : startup->scriptPath));
    return Fail(state, s, ERR_NOAPPLET);
  }
  ctx.base = base;
  ctx.scriptPath = readPath;
  SetContainerBase(base);
  SetRunningScriptPath(readPath);
  SeekFileStream(s, base + 4, VL_SEEK_BEGIN);
  int status = ReadContainerRecords(s, &ctx);
  if (status) return Fail(state, s, status);
  applet->containerRead = 1;
  PrintDone();
  CloseFileStream(s);
  if (!vlLinked && !startup->quiet) {
    uint32_t records = 0;
    for (vlPreprocRecord* r = applet->preproc; r; r = r->next) ++records;
    vlProgressStep = 80.0 / (records + 2);
    vlProgressSum = 20.0 + vlProgressStep;
    if (TimerTick()) return Fail(state, nullptr, ERR_USERABORT);
  }
  if (state) vl::SetRegistryString(state, "script", ":none:");
  return 0;
}

void WalkContainerHeader(const uint8_t* bytes, size_t size, vlAppletInfo* applet) {
  size_t at = 0;
  // Copies a zero-terminated text; false when it runs past the bytes.
  auto text = [&](char* dst, size_t dstSize) {
    size_t start = at;
    while (at < size && bytes[at]) ++at;
    if (at >= size) return false;
    size_t n = at - start < dstSize - 1 ? at - start : dstSize - 1;
    std::memcpy(dst, bytes + start, n);
    dst[n] = 0;
    ++at;
    return true;
  };
  while (at < size) {
    uint8_t type = bytes[at++];
    if (type == 10) {
      at += 2;
    } else if (type >= 11 && type <= 15) {
      char* dst = applet->header[type - 11];
      if (!text(dst, kHeaderStringSize)) return;
      if (type == 12 && static_cast<uint8_t>(dst[0]) == 255) dst[0] = '$';
    } else if (type == 34) {
      if (!text(applet->identifier, kAppletIdSize)) return;
    } else if (type != 29) {
      return;
    }
  }
}

int PreReadContainerHeader(const char* path, vlAppletInfo* applet) {
  constexpr size_t kHeadSize = 2048;
  vlStream* s = OpenFileStream(path, VL_MODE_READ, nullptr);
  if (!s) {
    SetErrorArgument(path);
    return ERR_FILEEXIST;
  }
  auto* head = static_cast<uint8_t*>(std::malloc(kHeadSize));
  if (!head) {
    CloseFileStream(s);
    return ERR_MEM;
  }
  uint32_t magic = ReadMagic(s);
  uint64_t size = 0;
  int status = 0;
  if (magic == kMagicVLZ) {
    SeekFileStream(s, 0, VL_SEEK_BEGIN);
    status = DecompressPack("VLZ", s, nullptr, head, kHeadSize, &size);
  } else {
    SeekFileStream(s, 0, VL_SEEK_BEGIN);
    int64_t n = ReadFileStream(s, head, kHeadSize);
    size = n > 0 ? static_cast<uint64_t>(n) : 0;
  }
  CloseFileStream(s);
  if (!status && size > 4) WalkContainerHeader(head + 4, size - 4, applet);
  std::free(head);
  return status;
}
