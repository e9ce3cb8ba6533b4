// The marker block and patch area in the program's read-only data, and the
// plug-ins linked ahead of an appended container, written out as plug-in
// files into a temporary directory. Depends on the file streams, the
// packer and the platform's paths and temporary files.
#include "player/linked_data.h"

#include <dirent.h>

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/exit_removals.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "player/container.h"
#include "runtime/decompress_pack.h"
#include "runtime/errors.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

// Linking patches bytes 32 to 35 of the marker in the program file, so
// both blocks must stay in the binary exactly as written.
__attribute__((used)) const uint8_t vlMarkerBlock[kMarkerBlockSize] = {
    'Z', 'e', 'p', 'h', 'l', 'i', 'n', ' ', 'B', 'r', 'o', 'k', 'w', 'e', 'n', 'd',
    ' ', 'E', 'n', 't', 'e', 'r', 't', 'a', 'i', 'n', 'm', 'e', 'n', 't', 0,   0,
    0xDE, 0xAD, 0xC0, 0xDE, 0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A, 0};

__attribute__((used)) const vlPatchAreaBytes vlPatchArea = {
    {},
    {0xDE, 0xAD, 0xBE, 0xEF, 0xFE, 0xED, 0xF0, 0x0D, 0xBE, 0xEF, 0xF0, 0x0D},
    "Vellamora Player: runs compiled multimedia applets; this program file may carry a linked applet within."};
static_assert(sizeof(vlPatchAreaBytes) == kPatchAreaSize, "the patch area is 372 bytes");

uint32_t vlLinkedOffset = 0;
uint32_t vlLinked = 0;
char vlLinkedPluginDir[1024] = "";
char vlPatchText[256] = "";

void ReadMarkerBlock(const uint8_t* marker) {
  uint32_t offset = (uint32_t(marker[32]) << 24) | (uint32_t(marker[33]) << 16) | (uint32_t(marker[34]) << 8) |
                    marker[35];
  if (offset != kNotLinked) {
    vlLinkedOffset = offset;
    vlLinked = 1;
  } else {
    vlLinkedOffset = 0;
    vlLinked = 0;
  }
}

void ReadPatchArea(const uint8_t* patch) {
  std::memcpy(vlPatchText, patch, sizeof vlPatchText);
  vlPatchText[sizeof vlPatchText - 1] = 0;
}

namespace {

int Close(vlStream* s, int code) {
  CloseFileStream(s);
  return code;
}

int MakePluginDir() {
  char name[sizeof vlLinkedPluginDir];
  if (!MakeTempFileName(name, sizeof name)) return TempFileNameError(errno);
  RemovePath(name);
  if (int status = MakeDirPath(name)) return status;
  if (KeepForExitRemoval(name)) {
    RemovePath(name);
    return ERR_MEM;
  }
  std::strcpy(vlLinkedPluginDir, name);
  return 0;
}

// Copies size bytes from the stream into a new file.
int CopyOut(vlStream* in, const char* target, uint32_t size, std::vector<uint8_t>& buffer) {
  vlReplacement file;
  if (int status = OpenReplacement(&file, target, VL_MODE_WRITE, nullptr)) return status;
  while (size) {
    int64_t n = size < buffer.size() ? size : static_cast<int64_t>(buffer.size());
    if (ReadFileStream(in, buffer.data(), n) != n) return EndReplacement(&file, ERR_READ);
    if (WriteFileStream(file.stream, buffer.data(), n) != n) return EndReplacement(&file, ERR_WRITE);
    size -= static_cast<uint32_t>(n);
  }
  return EndReplacement(&file, 0);
}

}  // namespace

int ExtractLinkedPlugins(const char* programPath, vlStartupRecord*, vlAppletInfo*, uint32_t offset) {
  vlStream* s = OpenFileStream(programPath, VL_MODE_READ, nullptr);
  if (!s) {
    SetErrorArgument(programPath);
    return ERR_READFILE;
  }
  SeekFileStream(s, offset, VL_SEEK_BEGIN);
  uint8_t magic[4];
  if (ReadFileStream(s, magic, 4) != 4 || std::memcmp(magic, "VLP!", 4) != 0) return Close(s, 0);
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(16384);
  } catch (...) {
    return Close(s, ERR_MEM);
  }
  uint8_t word[4];
  if (ReadFileStream(s, word, 4) != 4) return Close(s, ERR_READ);
  bool compressed = word[3] & 1;
  for (;;) {
    std::string name;
    for (;;) {
      int b = ReadFileStreamByte(s);
      if (b < 0) return Close(s, ERR_READ);
      if (b == 0) break;
      name.push_back(static_cast<char>(b));
      if (name.size() > 255) return Close(s, ERR_READ);
    }
    if (name.empty()) break;
    // The name becomes a file in our directory: it must not climb out.
    if (name.find('/') != std::string::npos || name == "." || name == "..") {
      SetErrorArgument(name.c_str());
      return Close(s, ERR_WRITEFILE);
    }
    if (ReadFileStream(s, word, 4) != 4) return Close(s, ERR_READ);
    uint32_t size = (uint32_t(word[0]) << 24) | (uint32_t(word[1]) << 16) | (uint32_t(word[2]) << 8) | word[3];
    if (!vlLinkedPluginDir[0])
      if (int status = MakePluginDir()) return Close(s, status);
    std::string target = std::string(vlLinkedPluginDir) + "/" + name + ".vlp";
    int status = 0;
    if (!compressed) {
      if (vlStream* existing = OpenFileStream(target.c_str(), VL_MODE_READ, nullptr)) {
        CloseFileStream(existing);
        int64_t left = GetFileStreamSize(s) - SeekFileStream(s, 0, VL_SEEK_CURRENT);
        if (size > left) return Close(s, ERR_READ);
        SeekFileStream(s, size, VL_SEEK_CURRENT);
        continue;
      }
      status = CopyOut(s, target.c_str(), size, buffer);
    } else {
      int64_t at = SeekFileStream(s, 0, VL_SEEK_CURRENT);
      status = DecompressPack("PLPK", s, target.c_str(), nullptr, 0, nullptr);
      SeekFileStream(s, at + size, VL_SEEK_BEGIN);
    }
    if (status) return Close(s, status);
    SetPathProtection(target.c_str(), 0x5A0B);
  }
  vlLinkedOffset = static_cast<uint32_t>(SeekFileStream(s, 0, VL_SEEK_CURRENT));
  return Close(s, 0);
}

void RemoveLinkedPluginDir() {
  if (!vlLinkedPluginDir[0]) return;
  if (DIR* dir = opendir(vlLinkedPluginDir)) {
    while (dirent* entry = readdir(dir)) {
      if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
      std::string path = std::string(vlLinkedPluginDir) + "/" + entry->d_name;
      RemovePath(path.c_str());
    }
    closedir(dir);
  }
  RemovePath(vlLinkedPluginDir);
  vlLinkedPluginDir[0] = 0;
}
