// The dos library's checksums of whole files: CRC-32 and MD5, read in
// 64 KB blocks. Depends on the shared CRC-32 and MD5 routines and the
// streams.
#include <string>

#include "libraries/dos/dos_library.h"
#include "runtime/os.h"
#include "runtime/crc32.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/md5.h"
#include "runtime/script_call.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr int64_t kBlock = 65536;

// Feeds every byte of the file to update in blocks; 0, 1000 or 1045.
template <class Update>
int ReadBlocks(const char* name, Update update) {
  auto* buffer = static_cast<uint8_t*>(AllocMemory(kBlock, 0));
  if (!buffer) return ERR_MEM;
  vlStream* s = OpenFileStream(name, VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  if (!s) {
    FreeMemory(buffer);
    SetErrorArgument(name);
    return ERR_READFILE;
  }
  for (int64_t n; (n = ReadFileStream(s, buffer, kBlock)) > 0;) update(buffer, static_cast<size_t>(n));
  CloseFileStream(s);
  FreeMemory(buffer);
  return 0;
}

}  // namespace

int ComputeFileCrc32(const char* name, uint32_t* crc) {
  *crc = 0;
  return ReadBlocks(name, [&](const uint8_t* bytes, size_t n) { *crc = UpdateCrc32(*crc, bytes, n); });
}

int ComputeFileMD5(const char* name, uint8_t digest[16]) {
  vlMD5State md5;
  MD5Init(&md5);
  int status = ReadBlocks(name, [&](const uint8_t* bytes, size_t n) { MD5Update(&md5, bytes, static_cast<long>(n)); });
  MD5Final(&md5, digest);
  return status;
}

int CmdCRC32(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  std::string name = GetFileNameArg(L, 1, 0, nullptr);
  if (name.empty()) return ERR_WRONGUSAGE;
  uint32_t crc;
  if (int status = ComputeFileCrc32(name.c_str(), &crc)) return status;
  vl::PushNumber(L, crc);
  return 1;
}

int CmdMD5(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  std::string name = GetFileNameArg(L, 1, 0, nullptr);
  if (name.empty()) return ERR_WRONGUSAGE;
  uint8_t digest[16];
  if (int status = ComputeFileMD5(name.c_str(), digest)) return status;
  char hex[33];
  MD5DigestToHex(digest, hex);
  vl::PushString(L, hex);
  return 1;
}
