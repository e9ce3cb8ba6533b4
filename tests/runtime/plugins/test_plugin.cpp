// A test plug-in built on its own, in many variants chosen by compile
// definitions; it reaches the player only through the service table. Its
// InitPlugin and ClosePlugin calls are appended to the file named by
// VL_TEST_PLUGIN_LOG so tests can tell that a refused plug-in was closed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "abi/plugin_abi.h"
#include "runtime/tag_list.h"
#include "vm/auxlib.h"
#include "vm/constants.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

#ifndef PLUGIN_MODULE
#define PLUGIN_MODULE "testimage"
#endif
#ifndef PLUGIN_CAPS
#define PLUGIN_CAPS PLUGINCAPS_IMAGE
#endif
#ifndef PLUGIN_PROGVER
#define PLUGIN_PROGVER 6
#endif
#ifndef PLUGIN_PROGREV
#define PLUGIN_PROGREV 1
#endif
#ifndef PLUGIN_EXTENSION
#define PLUGIN_EXTENSION 0
#endif
#ifndef PLUGIN_EXTENSION_VALUE
#define PLUGIN_EXTENSION_VALUE 1
#endif

namespace {

const vlServiceTable* gSvc = nullptr;

void Log(const char* what) {
  const char* path = std::getenv("VL_TEST_PLUGIN_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s %s\n", what, PLUGIN_MODULE);
    std::fclose(f);
  }
}

int Add(vlVMState* L) {
  double a = gSvc->vm->CheckNumberArg(L, 1);
  double b = gSvc->vm->CheckNumberArg(L, 2);
  gSvc->vm->PushNumber(L, a + b);
  return 1;
}

// Raises through the service table: the file name read from argument 1.
int Resolve(vlVMState* L) {
  gSvc->vm->PushString(L, gSvc->vm->GetFileNameArgSvc(L, 1));
  return 1;
}

int Fail(vlVMState* L) { return gSvc->vm->RaiseErrorSvc(L, static_cast<int>(gSvc->vm->CheckNumberArg(L, 1))); }

#ifdef PLUGIN_GRAPHICS_SERVICES
// The pixel-lock services (graphics slots 16 and 17) and the display
// handles (slot 20), as a display or drawing plug-in uses them.
using LockFn = int (*)(void*, uintptr_t*, const vlTagItem*);
using UnlockFn = void (*)(void*);
using HandleFn = uintptr_t (*)(int32_t, const void*);

// LockBitmap(bitmap, readonly, x, y[, value]) -> ok, row bytes, format,
// bytes per pixel, width, height, the pixel or byte found at (x, y) before
// value (when given) is stored there.
int LockBitmap(vlVMState* L) {
  void* bitmap = gSvc->vm->ToUserdataAt(L, 1);
  const vlTagItem tags[] = {{1, static_cast<uintptr_t>(gSvc->vm->CheckNumberArg(L, 2))}, {0, 0}};
  const auto x = static_cast<uintptr_t>(gSvc->vm->CheckNumberArg(L, 3));
  const auto y = static_cast<uintptr_t>(gSvc->vm->CheckNumberArg(L, 4));
  const double value = gSvc->vm->OptNumberArg(L, 5, -1);
  uintptr_t w[6] = {1, 1, 1, 1, 1, 1};
  const int ok = vlSlotAs<LockFn>(gSvc->graphics->slot[16])(bitmap, w, tags);
  double found = -1;
  if (ok) {
    uint8_t* at = reinterpret_cast<uint8_t*>(w[0]) + y * w[1] + x * w[3];
    if (w[3] == 4) {
      uint32_t v;
      std::memcpy(&v, at, 4);
      found = v;
      if (value >= 0) {
        v = static_cast<uint32_t>(value);
        std::memcpy(at, &v, 4);
      }
    } else if (w[3] == 1) {
      found = *at;
      if (value >= 0) *at = static_cast<uint8_t>(value);
    }
    vlSlotAs<UnlockFn>(gSvc->graphics->slot[17])(bitmap);
  }
  gSvc->vm->PushNumber(L, ok);
  for (int i = 1; i < 6; ++i) gSvc->vm->PushNumber(L, static_cast<double>(w[i]));
  gSvc->vm->PushNumber(L, found);
  return 7;
}

// DisplayHandle(number) -> the display's window; DisplayOfHandle(window)
// -> the display's id.
int DisplayHandle(vlVMState* L) {
  const auto number = static_cast<int32_t>(gSvc->vm->CheckNumberArg(L, 1));
  gSvc->vm->PushNumber(L, static_cast<double>(vlSlotAs<HandleFn>(gSvc->graphics->slot[20])(number, nullptr)));
  return 1;
}
int DisplayOfHandle(vlVMState* L) {
  const auto window = static_cast<uintptr_t>(gSvc->vm->CheckNumberArg(L, 1));
  const uintptr_t id = vlSlotAs<HandleFn>(gSvc->graphics->slot[20])(0, reinterpret_cast<void*>(window));
  gSvc->vm->PushNumber(L, static_cast<double>(id));
  return 1;
}

const vlCommand kCommands[] = {{"Add", Add},
                               {"Resolve", Resolve},
                               {"Fail", Fail},
                               {"LockBitmap", LockBitmap},
                               {"DisplayHandle", DisplayHandle},
                               {"DisplayOfHandle", DisplayOfHandle},
                               {nullptr, nullptr}};
#else
const vlCommand kCommands[] = {{"Add", Add}, {"Resolve", Resolve}, {"Fail", Fail}, {nullptr, nullptr}};
#endif
const vlConstant kConstants[] = {{"TESTLIB_ANSWER", nullptr, 42}, {nullptr, nullptr, 0}};

int gSaverCalls = 0;

}  // namespace

EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* svc, const char* path, void*) {
  Log("init");
  gSvc = svc;
  gSaverCalls = 0;
#ifdef PLUGIN_INIT_FAILS
  return 0;
#endif
  if (!path || path[0] != '/') return 0;  // the player hands the full path
  info->capabilities = PLUGIN_CAPS;
  info->version = 2;
  info->revision = 3;
  if (info->programVersion != 6 || info->programRevision != 1) return 0;
  info->programVersion = PLUGIN_PROGVER;
  info->programRevision = PLUGIN_PROGREV;
  info->moduleName = PLUGIN_MODULE;
  info->name = "Test plug-in";
#ifdef PLUGIN_OPTION_TAGS
  info->author = "Tester";
  svc->system->AddPluginFileType(info, 0, "Test picture", "image/x-test", "tst|tsx", 77, 1);
#endif
  return 1;
}

#ifndef PLUGIN_NO_CLOSE
EXPORT void ClosePlugin() { Log("close"); }
#endif

EXPORT uint32_t GetExtensions(uint32_t bit, uint32_t) {
  return (bit & PLUGIN_EXTENSION) ? PLUGIN_EXTENSION_VALUE : 0;
}

// Image loader entries (never called by these tests).
EXPORT void IsImage() {}
EXPORT void LoadImage() {}
EXPORT void GetImage() {}
EXPORT void FreeImage() {}
#ifndef PLUGIN_OMIT_TRANSFORM
EXPORT void TransformImage() {}
#endif

// File adapter entries: FOpen refuses everything.
EXPORT void* FOpen(const char*, uint32_t, const vlTagItem*) { return nullptr; }
EXPORT int FClose(void*) { return 0; }
EXPORT int64_t FRead(void*, void*, int64_t) { return 0; }
EXPORT int FGetC(void*) { return -1; }
EXPORT int64_t FWrite(void*, const void*, int64_t) { return 0; }
EXPORT int FPutC(void*, int) { return -1; }
EXPORT int64_t FSeek(void*, int64_t, int) { return 0; }
EXPORT int FFlush(void*) { return 0; }
EXPORT int FEof(void*) { return 1; }
EXPORT int FStat(void*, uint32_t, vlAdapterStat*, const vlTagItem*) { return 0; }
EXPORT int Stat(const char*, uint32_t, vlAdapterStat*, const vlTagItem*) { return 0; }

// Library entries.
EXPORT const char* GetBaseTable() {
#ifdef PLUGIN_NO_BASE
  return nullptr;
#else
  return PLUGIN_MODULE;
#endif
}
EXPORT const vlCommand* GetCommands() { return kCommands; }
EXPORT const vlConstant* GetConstants() { return kConstants; }
EXPORT int InitLibrary(vlVMState* L) {
  gSvc->vm->PushString(L, "testlib_ready");
  gSvc->vm->PushNumber(L, 1);
  gSvc->vm->SetTableValue(L, -10001);
  Log("initlibrary");
  return 0;
}
EXPORT void FreeLibrary(vlVMState*) {}

// Two image saver formats, the second ending the list; one anim format.
// The endless variant never ends its list and answers longer names each
// call.
#ifdef PLUGIN_ENDLESS_SAVER
char gLongName[4096];
EXPORT void RegisterImageSaver(vlSaverFormat* record) {
  size_t n = static_cast<size_t>(gSaverCalls++ % 4000);
  std::memset(gLongName, 'x', n);
  gLongName[n] = '\0';
  record->name = gLongName;
  record->formatId = static_cast<uint32_t>(gSaverCalls);
  record->flags = 8;
}
#else
EXPORT void RegisterImageSaver(vlSaverFormat* record) {
  record->name = (gSaverCalls % 2 == 0) ? "testpng" : "testbmp";
  record->formatId = (gSaverCalls % 2 == 0) ? 0x10001u : 0xFFFFFFF0u;
  record->flags = (gSaverCalls % 2 == 0) ? 8 : 0;
  ++gSaverCalls;
}
#endif
EXPORT void SaveImage() {}
EXPORT void RegisterAnimSaver(vlSaverFormat* record) {
  record->name = "testanim";
  record->formatId = 7;
  record->flags = 0;
}
EXPORT void BeginAnimStream() {}
EXPORT void WriteAnimFrame() {}
EXPORT void FinishAnimStream() {}
// One sample format, named in mixed case.
EXPORT void RegisterSampleSaver(vlSaverFormat* record) {
  record->name = "TestWave";
  record->formatId = 9;
  record->flags = 0;
}
EXPORT void SaveSample() {}

#ifdef PLUGIN_OPTION_TAGS
// The options a script hands over: a list of key/value pairs.
struct OptionTag {
  OptionTag* next;
  char* key;
  char* string;  // null for a number
  double number;
};
#endif

// Required once: sets bit 0 of the caller's flags word and logs the option
// (a text, or with PLUGIN_OPTION_TAGS the option list as key=value pairs).
EXPORT int RequirePlugin(vlVMState*, int32_t version, int32_t revision, uint32_t, const vlTagItem* tags) {
  char line[300];
#ifdef PLUGIN_OPTION_TAGS
  std::string text;
  for (auto* t = reinterpret_cast<const OptionTag*>(GetTagValue(tags, VL_REQUIRE_OPTION, 0)); t; t = t->next) {
    char value[64];
    std::snprintf(value, sizeof value, "%g", t->number);
    text += std::string(text.empty() ? "" : ",") + t->key + "=" + (t->string ? t->string : value);
  }
  const char* option = text.empty() ? nullptr : text.c_str();
#else
  const char* option = reinterpret_cast<const char*>(GetTagValue(tags, VL_REQUIRE_OPTION, 0));
#endif
  std::snprintf(line, sizeof line, "require %d.%d %s", version, revision, option ? option : "-");
  Log(line);
  if (auto* flags = reinterpret_cast<uint32_t*>(GetTagValue(tags, VL_REQUIRE_FLAGS, 0))) *flags |= 1;
  return 0;
}
