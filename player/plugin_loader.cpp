// Loading plug-ins: opening and checking one plug-in file against the
// service table, binding its entry points per capability, scanning the
// plug-in folders (the linked plug-ins' folder first), activating a
// plug-in by name, and the start-up and shut-down steps of the loader.
// The list itself is the registry's. Main thread only.
#include "player/plugin_loader.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/linked_data.h"
#include "player/service_table.h"
#include "runtime/class_lists.h"
#include "runtime/command_hooks.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/file_adapter.h"
#include "runtime/messages.h"
#include "runtime/plugin_formats.h"
#include "runtime/plugins.h"
#include "runtime/progress_message.h"
#include "runtime/runtime_options.h"
#include "vm/error_codes.h"
#include "vm/text.h"

namespace {

// The info block lives at the start of a larger private block that also
// holds the plug-in's view as a file adapter.
struct PluginBlock {
  vlPluginInfo info;
  vlFileAdapterSlots slots;
  vlFileAdapter adapter;
};

int (*g_scanTick)() = nullptr;

// Entry points per capability, in the order they are looked up.
#define E(name) {#name, offsetof(vlPluginInfo, name)}
struct EntryRef {
  const char* name;
  size_t offset;
};
const EntryRef kVector[] = {E(GetPathExtents), E(DrawPath), E(TranslatePath), E(GetCurrentPoint),
                            E(CreateVectorFont), E(FreeVectorFont), E(OpenFont), E(CloseFont)};
const EntryRef kVideo[] = {E(OpenVideo),       E(CloseVideo),     E(NextPacket), E(FreePacket),
                           E(DecodeVideoFrame), E(DecodeAudioFrame), E(SeekVideo),  E(FlushAudio),
                           E(FlushVideo),      E(GetVideoFrames), E(GetVideoFormat)};
const EntryRef kLibrary[] = {E(GetBaseTable), E(GetCommands), E(GetConstants), E(InitLibrary),
                             E(FreeLibrary)};
const EntryRef kLibraryMulti[] = {E(GetLibraryCount), E(SetCurrentLibrary)};
const EntryRef kConvert[] = {E(GetScript), E(FreeScript)};
const EntryRef kImage[] = {E(IsImage), E(LoadImage), E(GetImage), E(FreeImage), E(TransformImage)};
const EntryRef kAnim[] = {E(OpenAnim), E(LoadFrame), E(FreeFrame), E(GetFrameDelay), E(CloseAnim)};
const EntryRef kSound[] = {E(OpenStream), E(CloseStream), E(SeekStream), E(StreamSamples),
                           E(GetFormatName)};
const EntryRef kSaveImage[] = {E(RegisterImageSaver), E(SaveImage)};
const EntryRef kSaveAnim[] = {E(RegisterAnimSaver), E(BeginAnimStream), E(WriteAnimFrame),
                              E(FinishAnimStream)};
const EntryRef kSaveSample[] = {E(RegisterSampleSaver), E(SaveSample)};
const EntryRef kRequire[] = {E(RequirePlugin)};
const EntryRef kDisplay[] = {
    E(HandleEvents),     E(WaitEvents),       E(ForceEventLoopIteration), E(DetermineBorderSizes),
    E(OpenDisplay),      E(CloseDisplay),     E(ChangeBufferSize),        E(ShowHideDisplay),
    E(SizeMoveDisplay),  E(SetDisplayTitle),  E(ActivateDisplay),         E(SetDisplayAttributes),
    E(CreatePointer),    E(FreePointer),      E(SetPointer),              E(ShowHidePointer),
    E(MovePointer),      E(GetMousePos),      E(GetQualifiers),           E(BltBitMap),
    E(RectFill),         E(WritePixel),       E(Line),                    E(Sleep),
    E(VWait),            E(GetMonitorInfo),   E(FreeMonitorInfo),         E(GrabScreenPixels),
    E(FreeGrabScreenPixels), E(AllocVideoBitMap), E(FreeVideoBitMap),     E(ReadVideoPixels),
    E(FreeVideoPixels),  E(DoVideoBitMapMethod), E(BeginDoubleBuffer),    E(EndDoubleBuffer),
    E(Flip),             E(Cls),              E(AllocBitMap),             E(FreeBitMap),
    E(LockBitMap),       E(UnLockBitMap),     E(GetBitMapAttr)};
static_assert(sizeof(kDisplay) / sizeof(kDisplay[0]) == 43);
const EntryRef kDisplayMain[] = {E(AdapterMainLoop)};
const EntryRef kTimer[] = {E(RegisterTimer), E(FreeTimer)};
const EntryRef kRequester[] = {E(SystemRequest), E(FileRequest), E(PathRequest), E(StringRequest),
                               E(ListRequest),   E(FontRequest), E(ColorRequest), E(FreeRequest)};
const EntryRef kFileAdapter[] = {E(FOpen), E(FClose), E(FRead),  E(FGetC), E(FWrite), E(FPutC),
                                 E(FSeek), E(FFlush), E(FEof),   E(FStat), E(Stat)};
const EntryRef kDirAdapter[] = {E(OpenDir), E(CloseDir), E(NextDirEntry)};
const EntryRef kAudio[] = {E(OpenAudio), E(CloseAudio), E(AllocAudioChannel), E(FreeAudioChannel),
                           E(SetChannelAttributes)};
#undef E

int ExtensionIndex(uint32_t bit) {
  int i = 0;
  while (bit > 1) bit >>= 1, ++i;
  return i;
}

// Binds the entries of one capability; 0 or 1521 with the entry's name.
template <size_t N>
int BindEntries(void* library, vlPluginInfo* info, const EntryRef (&entries)[N]) {
  for (const EntryRef& e : entries) {
    void* address = dlsym(library, e.name);
    if (!address) {
      SetErrorArgument(e.name);
      return ERR_PLUGINSYMBOL;
    }
    std::memcpy(reinterpret_cast<char*>(info) + e.offset, &address, sizeof(address));
  }
  return 0;
}

bool EndsWithVlp(const char* name) {
  size_t n = std::strlen(name);
  return n >= 4 && CompareNoCase(name + n - 4, ".vlp") == 0;
}

const char* FilePart(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// Copies as much as fits, always terminated.
void CopyText(char* dst, size_t size, const char* src) {
  size_t n = src ? std::strlen(src) : 0;
  if (n >= size) n = size - 1;
  if (n) std::memcpy(dst, src, n);
  dst[n] = '\0';
}

bool IsReservedModuleName(const char* name) {
  static const char* const kReserved[] = {"default", "standard", "inbuilt", "vellamora", "system", "native"};
  for (const char* r : kReserved)
    if (CompareNoCase(name, r) == 0) return true;
  return false;
}

// The checks and binding after InitPlugin succeeded; 0 or an error code.
int CheckAndBind(const char* fullPath, void* library, vlPluginInfo* info) {
  // The file part of the path without its extension and leading '_'.
  char base[1024];
  CopyText(base, sizeof(base), fullPath);
  size_t len = std::strlen(base);
  base[len >= 4 ? len - 4 : 0] = '\0';
  const char* file = FilePart(base);
  if (*file == '_') ++file;
  const char* module = info->moduleName;
  if (!module || CompareNoCase(file, module) != 0 || IsReservedModuleName(module)) {
    char readable[1024];
    SetErrorArgument(ReadableFilePart(fullPath, readable, sizeof(readable)));
    return ERR_LOADPLUGIN;
  }
  if (info->programVersion > kPluginProgramVersion ||
      (info->programVersion == kPluginProgramVersion && info->programRevision > kPluginProgramRevision)) {
    char text[32];
    std::snprintf(text, sizeof(text), "%d.%d", info->programVersion, info->programRevision);
    SetErrorArgument(text);
    return ERR_NEWVLPLUGIN;
  }
  uint32_t caps = info->capabilities;
  if (caps & PLUGINCAPS_EXTENSIONS) {
    void* address = dlsym(library, "GetExtensions");
    if (!address) {
      SetErrorArgument("GetExtensions");
      return ERR_PLUGINSYMBOL;
    }
    std::memcpy(&info->GetExtensions, &address, sizeof(address));
    for (int i = 0; i < 32; ++i)
      if (i != 17 && (caps & (1u << i))) info->extensions[i] = info->GetExtensions(1u << i, 0);
  }
  auto ext = [&](uint32_t bit) { return info->extensions[ExtensionIndex(bit)]; };
  // Loaders that only serve when a list names them stay out of their class.
  auto join = [&](uint32_t bit) -> int {
    if (ext(bit) & 1) return 0;
    return AddPluginToClassList(info, bit);
  };
  int rc = 0;
  bool known = false;
#define STEP(call) \
  if ((rc = (call)) != 0) return rc;
  if (caps & PLUGINCAPS_VECTOR) { known = true; STEP(BindEntries(library, info, kVector)); }
  if (caps & PLUGINCAPS_VIDEO) {
    known = true;
    STEP(BindEntries(library, info, kVideo));
    STEP(join(PLUGINCAPS_VIDEO));
  }
  if (caps & PLUGINCAPS_LIBRARY) {
    known = true;
    STEP(BindEntries(library, info, kLibrary));
    if (ext(PLUGINCAPS_LIBRARY) & 1) STEP(BindEntries(library, info, kLibraryMulti));
  }
  if (caps & PLUGINCAPS_CONVERT) { known = true; STEP(BindEntries(library, info, kConvert)); }
  if (caps & PLUGINCAPS_IMAGE) {
    known = true;
    STEP(BindEntries(library, info, kImage));
    STEP(join(PLUGINCAPS_IMAGE));
  }
  if (caps & PLUGINCAPS_ANIM) {
    known = true;
    STEP(BindEntries(library, info, kAnim));
    STEP(join(PLUGINCAPS_ANIM));
  }
  if (caps & PLUGINCAPS_SOUND) {
    known = true;
    STEP(BindEntries(library, info, kSound));
    STEP(join(PLUGINCAPS_SOUND));
  }
  if (caps & PLUGINCAPS_SAVEIMAGE) { known = true; STEP(BindEntries(library, info, kSaveImage)); }
  if (caps & PLUGINCAPS_SAVEANIM) { known = true; STEP(BindEntries(library, info, kSaveAnim)); }
  if (caps & PLUGINCAPS_SAVESAMPLE) { known = true; STEP(BindEntries(library, info, kSaveSample)); }
  if (caps & PLUGINCAPS_REQUIRE) { known = true; STEP(BindEntries(library, info, kRequire)); }
  if (caps & PLUGINCAPS_DISPLAYADAPTER) {
    known = true;
    STEP(BindEntries(library, info, kDisplay));
    if (ext(PLUGINCAPS_DISPLAYADAPTER) & 1) STEP(BindEntries(library, info, kDisplayMain));
  }
  if (caps & PLUGINCAPS_TIMERADAPTER) { known = true; STEP(BindEntries(library, info, kTimer)); }
  if (caps & PLUGINCAPS_REQUESTERADAPTER) { known = true; STEP(BindEntries(library, info, kRequester)); }
  if (caps & PLUGINCAPS_FILEADAPTER) { known = true; STEP(BindEntries(library, info, kFileAdapter)); }
  if (caps & PLUGINCAPS_DIRADAPTER) { known = true; STEP(BindEntries(library, info, kDirAdapter)); }
  if (caps & PLUGINCAPS_AUDIOADAPTER) { known = true; STEP(BindEntries(library, info, kAudio)); }
#undef STEP
  if (!known) {
    char text[32];
    std::snprintf(text, sizeof(text), "%lx", static_cast<unsigned long>(caps));
    SetErrorArgument(text);
    return ERR_PLUGINTYPE;
  }
  return 0;
}

// A loaded plug-in as the stream layer's adapter; refreshed on every look-up
// so that disabling or naming it takes effect at once.
vlFileAdapter* AdapterView(vlPluginInfo* info) {
  if (!info) return nullptr;
  auto* block = reinterpret_cast<PluginBlock*>(info);
  vlFileAdapterSlots& s = block->slots;
  s.FOpen = info->FOpen; s.FClose = info->FClose; s.FRead = info->FRead; s.FGetC = info->FGetC;
  s.FWrite = info->FWrite; s.FPutC = info->FPutC; s.FSeek = info->FSeek; s.FFlush = info->FFlush;
  s.FEof = info->FEof; s.FStat = info->FStat; s.Stat = info->Stat;
  s.OpenDir = info->OpenDir; s.CloseDir = info->CloseDir; s.NextDirEntry = info->NextDirEntry;
  vlFileAdapter& a = block->adapter;
  a.name = info->moduleName;
  a.slots = &s;
  a.callKind = info->callKind;
  a.disabled = info->disabled;
  a.namedOnly = info->joinedOnRequest;
  a.flags = info->adapterWords[2];
  return &a;
}

void PrintLoading(const char* name) { PrintProgressMessage(GetMessage(107), name, 1); }

void PrintReason(int code) {
  if (vlOptions.quiet) return;
  char text[kErrorTextSize];
  GetErrorText(code, text, sizeof(text));
  PrintConsole(GetMessage(616), text);
  PrintConsole("\n");
}

bool CanOpen(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// Module name with a trailing ".vlp" cut.
void CutExtension(char* name) {
  size_t n = std::strlen(name);
  if (EndsWithVlp(name)) name[n - 4] = '\0';
}

}  // namespace

int LoadPluginModule(const char* path, uint32_t* capabilities, vlPluginHandle** handleOut) {
  static bool viewSet = false;
  if (!viewSet) {
    SetFileAdapterView(AdapterView);
    viewSet = true;
  }
  auto* handle = static_cast<vlPluginHandle*>(std::calloc(1, sizeof(vlPluginHandle)));
  if (!handle) return ERR_MEM;
  void* library = dlopen(path, RTLD_LAZY);
  if (!library) {
    const char* why = dlerror();
    SetErrorArgument(why ? why : path);
    std::free(handle);
    return ERR_DLOPEN;
  }
  auto* block = static_cast<PluginBlock*>(std::calloc(1, sizeof(PluginBlock)));
  if (!block) {
    dlclose(library);
    std::free(handle);
    return ERR_MEM;
  }
  vlPluginInfo* info = &block->info;
  char readable[1024];
  auto fail = [&](int code, bool closePlugin) {
    if (closePlugin && info->ClosePlugin) info->ClosePlugin();
    DropPluginFromClasses(info);
    dlclose(library);
    std::free(block);
    std::free(handle);
    return code;
  };
  void* init = dlsym(library, "InitPlugin");
  void* close = dlsym(library, "ClosePlugin");
  if (!init || !close) {
    SetErrorArgument(ReadableFilePart(path, readable, sizeof(readable)));
    return fail(ERR_LOADPLUGIN, false);
  }
  std::memcpy(&info->InitPlugin, &init, sizeof(init));
  std::memcpy(&info->ClosePlugin, &close, sizeof(close));
  char fullPath[PATH_MAX];
  if (!realpath(path, fullPath)) CopyText(fullPath, sizeof(fullPath), path);
  fullPath[1023] = '\0';
  info->programVersion = kPluginProgramVersion;
  info->programRevision = kPluginProgramRevision;
  handle->info = info;
  handle->library = library;
  if (info->InitPlugin(info, GetServiceTable(), fullPath, handle) == 0) {
    SetErrorArgument(ReadableFilePart(path, readable, sizeof(readable)));
    return fail(ERR_LOADPLUGIN, false);
  }
  int rc = CheckAndBind(fullPath, library, info);
  if (rc != 0) return fail(rc, true);
  handle->capabilities = info->capabilities;
  if (capabilities) *capabilities = info->capabilities;
  *handleOut = handle;
  return 0;
}

int LoadPluginFile(const char* givenPath, int ensureExtension, vlPlugin** nodeOut) {
  char path[1024];
  CopyText(path, sizeof(path), givenPath);
  if (ensureExtension && !EndsWithVlp(path)) std::strncat(path, ".vlp", sizeof(path) - std::strlen(path) - 1);
  const char* file = FilePart(path);
  if (*file == '_') ++file;
  vlPlugin* node = FindPluginByName(file);
  if (node && (node->handle || !ensureExtension)) {
    if (nodeOut) *nodeOut = node;
    return ERR_USERABORT;
  }
  const char* from = path;
  if (node && !CanOpen(path)) from = node->path;
  PrintLoading(file);
  uint32_t caps = 0;
  vlPluginHandle* handle = nullptr;
  int rc = LoadPluginModule(from, &caps, &handle);
  if (rc != 0) return rc;
  if (!node) {
    node = AppendPlugin(file, from);
    if (!node) {
      ClosePluginModule(handle);
      return ERR_MEM;
    }
  } else {
    CopyText(node->path, sizeof(node->path), from);
  }
  node->handle = handle;
  node->capabilities = caps;
  if (!vlOptions.quiet) PrintDone();
  if (nodeOut) *nodeOut = node;
  return 0;
}

void SetPluginScanTick(int (*tick)()) { g_scanTick = tick; }

int ScanPluginDirectory(const char* directory, const char* skipList, int* count) {
  DIR* dir = opendir(directory);
  if (!dir) return 0;
  int rc = 0;
  while (dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    char path[1024];
    std::snprintf(path, sizeof(path), "%s%s%s", directory,
                  (*directory && directory[std::strlen(directory) - 1] != '/') ? "/" : "", name);
    struct stat st;
    if (stat(path, &st) != 0 || S_ISDIR(st.st_mode) || !EndsWithVlp(name)) continue;
    if (count) {
      ++*count;
    } else {
      bool skip = name[0] == '_';
      const char* bare = skip ? name + 1 : name;
      for (const char* s = skipList; !skip && s && *s; s += std::strlen(s) + 1) {
        char item[300];
        CopyText(item, sizeof(item), s);
        if (std::strcmp(item, "*") == 0) skip = true;
        else {
          if (!EndsWithVlp(item)) std::strncat(item, ".vlp", sizeof(item) - std::strlen(item) - 1);
          if (CompareNoCase(item, name) == 0) skip = true;
        }
      }
      if (skip) {
        if (!FindPluginByName(bare) && !AppendPlugin(bare, path)) {
          rc = ERR_MEM;
          break;
        }
      } else {
        int result = LoadPluginFile(path, 0, nullptr);
        if (result != 0 && result != ERR_USERABORT) {
          if (!vlOptions.quiet) PrintFailed();
          PrintReason(result);
        }
      }
    }
    if (g_scanTick && g_scanTick() != 0) {
      rc = ERR_USERABORT;
      break;
    }
  }
  closedir(dir);
  return rc;
}

int ScanPluginDirectories(const char* startPath, const char* skipList, int* count) {
  if (vlLinkedPluginDir[0]) {
    int rc = ScanPluginDirectory(vlLinkedPluginDir, skipList, count);
    if (rc != 0) return rc;
  }
  if (!startPath) return 0;
  char dir[1024];
  CopyText(dir, sizeof(dir), startPath);
  char* slash = std::strrchr(dir, '/');
  if (!slash) return 0;
  slash[slash == dir ? 1 : 0] = '\0';
  if (!*dir) return 0;
  return ScanPluginDirectory(dir, skipList, count);
}

int ActivatePlugin(vlVMState* state, const char* moduleName, int32_t minVersion, int32_t minRevision,
                   int constantsPass, int adaptersOnly, const void* option, uint32_t* flagsOut) {
  if (flagsOut) *flagsOut = 0;
  char name[300];
  CopyText(name, sizeof(name), moduleName);
  CutExtension(name);
  vlPlugin* match = nullptr;
  for (vlPlugin* p = FirstPlugin(); p && !match; p = p->next) {
    if (!p->handle) {
      char bare[256];
      CopyText(bare, sizeof(bare), p->name);
      CutExtension(bare);
      if (CompareNoCase(bare, name) != 0) continue;
      if (!vlPluginActivationLine && !vlOptions.quiet) {
        PrintConsole("\n");
        vlPluginActivationLine = 1;
      }
      PrintLoading(p->name);
      int rc = LoadPluginModule(p->path, &p->capabilities, &p->handle);
      if (rc == 0) rc = RegisterPluginFormats(state, p);
      if (rc != 0) {
        if (!vlOptions.quiet) PrintFailed();
        return rc;
      }
      if (!vlOptions.quiet) PrintDone();
    }
    const char* module = p->handle->info->moduleName;
    if (module && CompareNoCase(module, name) == 0) match = p;
  }
  if (match) {
    const vlPluginInfo* info = match->handle->info;
    if (info->version < minVersion || (info->version == minVersion && info->revision < minRevision))
      match = nullptr;
  }
  if (!match) {
    char text[400];
    if (minVersion == 0 && minRevision == 0)
      std::snprintf(text, sizeof(text), "%s.vlp", name);
    else
      std::snprintf(text, sizeof(text), "%s.vlp %d.%d", name, minVersion, minRevision);
    SetErrorArgument(text);
    return ERR_REQUIREPLUGIN;
  }
  vlPluginInfo* info = match->handle->info;
  if ((info->capabilities & PLUGINCAPS_LIBRARY) && (info->extensions[1] & 2) && !info->librariesInitialised) {
    int rc = constantsPass ? OpenPluginLibraries(state, match, 1, 0) : OpenPluginLibraries(state, match, 0, 1);
    if (rc != 0) return rc;
  }
  if (!(info->capabilities & PLUGINCAPS_REQUIRE)) return 0;
  if (adaptersOnly && !(info->capabilities & (PLUGINCAPS_FILEADAPTER | PLUGINCAPS_DIRADAPTER))) return 0;
  if (constantsPass || match->required) return 0;
  vlTagItem tags[3] = {};
  int n = 0;
  if (flagsOut) tags[n++] = {VL_REQUIRE_FLAGS, reinterpret_cast<uintptr_t>(flagsOut)};
  if (option) tags[n++] = {VL_REQUIRE_OPTION, reinterpret_cast<uintptr_t>(option)};
  match->required = 1;
  return info->RequirePlugin(state, minVersion, minRevision, 0, tags);
}

int LoadPlugins(const char* startPath, const char* skipList) {
  return ScanPluginDirectories(startPath, skipList, nullptr);
}

int InitPlugins(vlVMState* state) {
  InstallCommandHooks(state);
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    if (!p->handle) continue;
    int rc = RegisterPluginFormats(state, p);
    if (rc != 0) return rc;
  }
  return 0;
}

void ClosePlugins() {
  FreePluginList();
  FreeCommandHooks();
}
