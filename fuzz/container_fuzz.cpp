// Feeds hostile container bytes to the record walk with a live VM (labels
// and user constants land in it) and to the header pre-read: no read may
// leave the data, every allocation must be bounded by the input, and the
// result must be a code the start-up knows.
#include <cstdint>
#include <cstdlib>

#include "player/container.h"
#include "runtime/error_vm.h"
#include "runtime/script_version.h"
#include "runtime/startup_records.h"
#include "runtime/stream.h"
#include "vm/protect.h"
#include "vm/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vlVMState* L = [] {
    vlVMState* state = vl::OpenVmState();
    InstallErrorSystem(state);
    return state;
  }();
  vlAppletInfo applet{};
  vlStartupRecord startup{};
  InitStartupDefaults(&applet, &startup);
  ResetDisplayOverrides();
  // The progress pre-read walks the head of the same bytes on its own.
  vlAppletInfo head{};
  if (size > 4) WalkContainerHeader(data + 4, size - 4, &head);
  vlStream* s = OpenMemoryStream(data, size);
  if (!s) return 0;
  SeekFileStream(s, size >= 4 ? 4 : 0, VL_SEEK_BEGIN);
  vlContainerContext ctx{};
  ctx.state = L;
  ctx.startup = &startup;
  ctx.applet = &applet;
  ctx.scriptPath = "fuzz.vla";
  ctx.iconPath = "fuzz.vla";
  ctx.iconPosition = -1;
  ctx.major = 6;
  ctx.minor = 1;
  int status = 0;
  int raised = vl::RunProtectedFn(L, [&] { status = ReadContainerRecords(s, &ctx); });
  CloseFileStream(s);
  if (!raised && status != 0 && status != 1000 && status != 1009 && status != 1198 && status != 1209 &&
      status != 1210)
    abort();
  if (!status && applet.codeSize > size) abort();
  FreeContainerData(&applet);
  FreeIconSlots();
  ClearScriptVersion();
  return 0;
}
