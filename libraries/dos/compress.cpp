// Compressed files ("VLPK": magic, 4 zero bytes, a zlib stream at the
// default level) and patches (each source byte XORed with the patch's,
// complemented once the patch is used up). Depends on zlib, the streams,
// the shared pack reader and the event pump.
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "libraries/dos/dos_library.h"
#include "platform/event_pump.h"
#include "runtime/decompress_pack.h"
#include "runtime/replace_file.h"
#include "runtime/script_call.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/option_readers.h"
#include "runtime/runtime_options.h"
#include "runtime/stream.h"
#include "vm/argreaders.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr char kPackMagic[4] = {'V', 'L', 'P', 'K'};
constexpr size_t kBlock = 16384;

// Deflates everything of in into out; finishing is asked for once in is at
// its end. 0 or an error code; the stream is ended either way.
int DeflateStream(vlStream* in, vlStream* out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (int rc = deflateInit(&z, Z_DEFAULT_COMPRESSION); rc != Z_OK) return ZlibErrorCode(rc);
  std::vector<uint8_t> input(kBlock), output(kBlock);
  int status = 0;
  for (bool finished = false; !finished && !status;) {
    int64_t n = ReadFileStream(in, input.data(), static_cast<int64_t>(kBlock));
    if (n < 0) n = 0;
    bool atEnd = IsFileStreamAtEnd(in) != 0;
    if (static_cast<size_t>(n) < kBlock && !atEnd) {
      status = ERR_READ;
      break;
    }
    int flush = atEnd ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = input.data();
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = output.data();
      z.avail_out = static_cast<uInt>(kBlock);
      int rc = deflate(&z, flush);
      if (rc == Z_STREAM_ERROR) {
        status = ZlibErrorCode(rc);
        break;
      }
      auto have = static_cast<int64_t>(kBlock - z.avail_out);
      if (have && WriteFileStream(out, output.data(), have) != have) {
        status = ERR_WRITE;
        break;
      }
    } while (z.avail_out == 0);
    finished = flush == Z_FINISH;
  }
  deflateEnd(&z);
  return status;
}

}  // namespace

int CompressToPack(const char magic[4], const char* sourceName, const char* destName, vlStream* destStream,
                   uint64_t* compressedSize) {
  if (compressedSize) *compressedSize = 0;
  vlStream* in = OpenFileStream(sourceName, VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  if (!in) {
    SetErrorArgument(sourceName);
    return ERR_READFILE;
  }
  vlReplacement file;
  vlStream* out = destStream;
  if (!out) {
    if (int status = OpenReplacement(&file, destName, VL_MODE_WRITE | VL_MODE_ADAPTERS, nullptr)) {
      CloseFileStream(in);
      return status;
    }
    out = file.stream;
  }
  int64_t start = SeekFileStream(out, 0, VL_SEEK_CURRENT);
  static const uint8_t kZeros[4] = {0, 0, 0, 0};
  int status = 0;
  if (WriteFileStream(out, magic, 4) != 4 || WriteFileStream(out, kZeros, 4) != 4) status = ERR_WRITE;
  if (!status) status = DeflateStream(in, out);
  int64_t end = SeekFileStream(out, 0, VL_SEEK_CURRENT);
  if (!status && compressedSize && start >= 0 && end >= start) *compressedSize = static_cast<uint64_t>(end - start);
  if (!destStream) status = EndReplacement(&file, status);
  CloseFileStream(in);
  return status;
}

int CmdCompressFile(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  std::string source = GetFileNameArg(L, 1, 0, nullptr);
  std::string dest = vl::CheckStringArg(L, 2, nullptr);
  uint64_t size = 0;
  if (int status = CompressToPack(kPackMagic, source.c_str(), dest.c_str(), nullptr, &size)) return status;
  vl::PushNumber(L, static_cast<double>(size));
  return 1;
}

int CmdDecompressFile(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  std::string source = GetFileNameArg(L, 1, 0, nullptr);
  std::string dest = vl::CheckStringArg(L, 2, nullptr);
  vlStream* in = OpenFileStream(source.c_str(), VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
  if (!in) {
    SetErrorArgument(source.c_str());
    return ERR_READFILE;
  }
  uint64_t size = 0;
  int status = DecompressPack(kPackMagic, in, dest.c_str(), nullptr, 0, &size);
  CloseFileStream(in);
  if (status) return status;
  vl::PushNumber(L, static_cast<double>(size));
  return 1;
}

int PatchStreams(vlPatchFiles* files, int (*progress)(void* data, int percent), int (*step)(void* data),
                 void* data) {
  int64_t size = GetFileStreamSize(files->source);
  int64_t patchSize = GetFileStreamSize(files->patch);
  double increment = size > 0 ? static_cast<double>(100.0f / static_cast<float>(size)) : 0;
  double accumulated = 0;
  int reported = 0;
  for (int64_t i = 0, used = 0; i < size; ++i) {
    // A source or patch that ends early is an error, not bytes of -1.
    int b = ReadFileStreamByte(files->source);
    if (b < 0) return ERR_READ;
    int out;
    if (used < patchSize) {
      int q = ReadFileStreamByte(files->patch);
      if (q < 0) return ERR_READ;
      out = b ^ q;
      ++used;
    } else {
      out = ~b;
    }
    if (!WriteFileStreamByte(files->dest, out & 0xFF)) return ERR_WRITE;
    accumulated += increment;
    int percent = static_cast<int>(accumulated);
    if (percent != reported && progress) {
      reported = percent;
      if (int status = progress(data, percent)) return status;
    }
    if (step)
      if (int status = step(data)) return status;
  }
  return 0;
}

namespace {

struct PatchCall {
  vlVMState* L;
  int callback;  // stack slot, 0 when none
  vlPatchFiles files;
};

// The three files of the command's arguments, looked up (again: script
// code run in between may have closed or reopened them) and checked for
// the access the patch needs. 0 or an error code.
int FindPatchFiles(PatchCall* c) {
  vlFile* f[3];
  for (int i = 0; i < 3; ++i)
    if (int status = FindFileObject(c->L, i + 1, &f[i])) return status;
  if (f[0]->access == VL_ACCESS_WRITE || f[1]->access == VL_ACCESS_WRITE) return ERR_WRITEONLY;
  if (f[2]->access == VL_ACCESS_READ) return ERR_READONLY;
  c->files = {f[0]->stream, f[1]->stream, f[2]->stream};
  return 0;
}

int PatchProgress(void* data, int percent) {
  auto* c = static_cast<PatchCall*>(data);
  vl::PushSlotCopy(c->L, c->callback);
  vl::PushNewTable(c->L);
  SetTableInt(c->L, "progress", percent);
  SetRuntimeOption(c->L, VL_OPT_CALLBACK_NESTING, 1u, 0u);
  int status = vl::CallProtected(c->L, 1, 0, 0);
  SetRuntimeOption(c->L, VL_OPT_CALLBACK_NESTING, 0u, 0u);
  return status ? status : FindPatchFiles(c);
}

int PatchPump(void* data) {
  auto* c = static_cast<PatchCall*>(data);
  int error = 0;
  if (PumpEvents(c->L, VL_PUMP_WAIT_INPUT, 0, &error)) return error ? error : ERR_USERABORT;
  return FindPatchFiles(c);
}

}  // namespace

int CmdApplyPatch(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  bool withCallback = vl::GetTypeAt(L, 4) > VL_TNIL;
  if (withCallback) vl::CheckFunctionArg(L, 4);
  PatchCall call{L, withCallback ? 4 : 0, {}};
  if (int status = FindPatchFiles(&call)) return status;
  return PatchStreams(&call.files, withCallback ? PatchProgress : nullptr, PatchPump, &call);
}
