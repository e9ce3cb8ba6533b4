// The start-up driver: builds the run's records, parses the options, finds
// and reads the compiled script, loads its main chunk, preloads what it
// declares and runs it, then leaves through ShutDown. Depends on the VM,
// the option parsers, the container reader, the libraries and the
// platform's process entry.
#include "player/startup.h"
#include "text/text_library.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "display/commands/display_library.h"
#include "display/icons.h"
#include "formats/image_cache.h"
#include "platform/end_signals.h"
#include "platform/event_pump.h"
#include "platform/hooks.h"
#include "runtime/os.h"
#include "platform/requesters.h"
#include "platform/x11/x11_connection.h"
#include "runtime/catalog.h"
#include "runtime/chunk_name.h"
#include "player/cmdline.h"
#include "player/cmdline_help.h"
#include "runtime/console.h"
#include "player/container.h"
#include "runtime/crc32.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "player/library_table.h"
#include "player/linked_data.h"
#include "runtime/messages.h"
#include "player/plugin_loader.h"
#include "player/preloads.h"
#include "runtime/progress_message.h"
#include "runtime/require_tags.h"
#include "runtime/runtime_options.h"
#include "player/startup_options.h"
#include "runtime/startup_records.h"
#include "runtime/stream.h"
#include "vm/chunk.h"
#include "vm/call.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
#include "vm/state.h"

namespace {

// Scans the linked plug-ins' directory and the program's, loads what it
// finds and registers the loaded plug-ins' formats and libraries.
int LoadStartupPlugins(vlVMState* state, vlStartupRecord* startup) {
  // Each file scanned is a step of the progress, and a break ends the scan.
  SetPluginScanTick(TimerTick);
  int status = LoadPlugins(startup->programPath, vlStartup.skipPlugins);
  return status ? status : InitPlugins(state);
}
// The plug-in gets its tags (from -REQUIRETAGS or its container record) as
// the option of its require call.
int ActivateStartupPlugin(vlVMState* state, const char* name, int minVersion, int minRevision,
                          const vlPluginTag* tags) {
  uint32_t flags = 0;
  return ActivatePlugin(state, name, minVersion, minRevision, 0, 0, tags, &flags);
}
// The file requester of a run without a script: the chosen directory and
// file joined; a cancel is 1003.
int ChooseScriptInRequester(char* path, size_t size) {
  vlFileResult chosen{};
  char here[1024];
  if (!getcwd(here, sizeof here)) here[0] = 0;
  int status = ShowFileRequester(nullptr, nullptr, GetMessage(781), "vla", 0, here, "", 0, &chosen);
  if (!status && (!chosen.success || !chosen.files || !chosen.files[0])) status = ERR_USERABORT;
  if (!status && !JoinFileResultPath(&chosen, chosen.files, path, size)) status = ERR_ARGS;
  FreeFileResult(&chosen);
  return status;
}

struct MemoryChunk {
  const uint8_t* buffer;
  size_t size;
  bool done;
};

// Hands the whole buffer to the loader once.
const char* ReadMemoryChunkOnce(vlVMState*, void* data, size_t* size) {
  auto* chunk = static_cast<MemoryChunk*>(data);
  if (chunk->done) {
    *size = 0;
    return nullptr;
  }
  chunk->done = true;
  *size = chunk->size;
  return reinterpret_cast<const char*>(chunk->buffer);
}

// Runs a start-up step that touches the VM under protection: a VM error
// inside it becomes the step's result.
template <class F>
int Protected(vlVMState* state, F&& step) {
  int result = 0;
  int raised = vl::RunProtectedFn(state, [&] { result = step(); });
  return raised ? raised : result;
}

// A file of four bytes "VLA\0" or "VLZ\0" at its start.
int CheckContainerMagic(const char* path) {
  vlStream* s = OpenFileStream(path, VL_MODE_READ, nullptr);
  if (!s) {
    SetErrorArgument(path);
    return ERR_FILEEXIST;
  }
  uint8_t magic[4];
  int64_t n = ReadFileStream(s, magic, 4);
  CloseFileStream(s);
  if (n != 4) return ERR_READ;
  if (magic[0] != 'V' || magic[1] != 'L' || (magic[2] != 'A' && magic[2] != 'Z') || magic[3] != 0) {
    SetErrorArgument(path);
    return ERR_NOAPPLET;
  }
  return 0;
}

// Applies the container's first-display settings to display 1.
int ApplyContainerDisplay(vlAppletInfo* applet) {
  if (!HasDisplayOverrides()) return 0;
  vlDisplayDecl* d;
  while (!(d = FindDisplayDecl(applet->preproc, 1)))
    if (int status = AddDefaultDisplay(&applet->preproc, nullptr)) return status;
  const vlDisplayOverrides& o = vlContainerDisplay;
  if (o.mode) d->mode = o.mode;
  if (o.screenWidth != -1) d->screenWidth = o.screenWidth;
  if (o.screenHeight != -1) d->screenHeight = o.screenHeight;
  if (o.screenDepth != -1) d->screenDepth = o.screenDepth;
  if (o.desktop != -1) d->desktop = o.desktop;
  if (o.backfill.type != -1)
    d->backfill = o.backfill;
  else if (o.hideTitleBar)
    d->backfill.hideTitleBar = o.hideTitleBar;
  return 0;
}

// The plug-ins named on the command line and by the script's declarations.
int OpenStartupPlugins(vlVMState* state, vlAppletInfo* applet) {
  int status = 0;
  vlPluginStartup = 1;
  if (const char* names = vlStartup.requirePlugins) {
    // A multi-string: names separated by zero bytes, ended by an empty one.
    for (const char* name = names; *name && !status; name += std::strlen(name) + 1) {
      vlPluginTag* tags = nullptr;
      status = BuildRequireTags(vlStartup.requireTags, name, &tags);
      if (!status) status = vlStartupPlugins.openPlugin(state, name, 0, 0, tags);
      FreePluginTags(tags);
    }
  }
  for (vlPreprocRecord* r = applet->preproc; r && !status; r = r->next) {
    if (r->subtype != VL_PP_PLUGIN) continue;
    SetCurrentErrorLine(static_cast<int32_t>(r->line));
    status = vlStartupPlugins.openPlugin(state, r->name ? r->name : "", static_cast<int>(r->wordA),
                                         static_cast<int>(r->wordB), static_cast<vlPluginTag*>(r->data));
  }
  vlPluginStartup = 0;
  return status;
}

}  // namespace

vlStartupPluginCalls vlStartupPlugins = {LoadStartupPlugins, ActivateStartupPlugin};
int (*vlChooseScript)(char* path, size_t size) = ChooseScriptInRequester;

int ParseStartupArgs(vlVMState* state, vlStartupRecord* startup, vlAppletInfo* applet, const uint8_t* marker,
                     const uint8_t* patch, int argc, char** argv) {
  // The optional libraries, the timers and the audio timer signal: sound,
  // pointers and requesters test for them from here on.
  if (int status = InitPlatform()) return status;
  CatchEndSignals();
  ResetDisplayOverrides();
  vlStartup.runtimeFlags = 0;
  OpenLocaleCatalog("Vellamora.catalog");
  InitStartupDefaults(applet, startup);
  ReadMarkerBlock(marker);
  ReadPatchArea(patch);
  GetProgramPath(startup->programPath, sizeof startup->programPath);
  vlOptionValues values{};
  bool needScript = false;
  int status = ParseStartupOptions(startup, &values, argc, argv, vlLinked != 0, &needScript);
  if (!status && values.word[VL_CLOPT_HELP]) {
    // Nothing is run: the arguments are listed and the player ends as on a
    // quit.
    PrintCmdLineHelp();
    status = ERR_USERABORT;
  }
  if (!status && needScript) {
    status = vlChooseScript(startup->scriptPath, sizeof startup->scriptPath);
    if (!status) status = ReadOptionsFile(&values, startup->scriptPath, &startup->extraArgs);
  }
  if (!status) status = ApplyStartupOptions(applet, values.word, startup);
  FreeOptionValues(&values);
  // The mistake may lie anywhere on the line, the device before or after it.
  if (status) KeepErrorOutputOfArgs(argc, argv);
  if (status) return status;
  if (vlLinked) startup->quiet = 1;
  SetRuntimeOption(state, VL_OPT_QUIET, startup->quiet, 0u);
  if (!startup->quiet)
    PrintConsole("VellamoraPlayer %d.%d [Linux]\n%s\n%s\n\n", 6, 1, vlPatchArea.banner,
                 "Command-line options: -help");
  if ((status = InitEventQueue())) return status;
  status = Protected(state, [&] {
    vl::SetRegistryPointer(state, "applet", applet);
    vl::SetRegistryPointer(state, "clargs", startup);
    vl::PushString(state, "inclevels");
    vl::PushNewTable(state);
    vl::PushString(state, "count");
    vl::PushNumber(state, 0);
    vl::RawSetTableValue(state, -3);
    vl::SetTableValue(state, vl::kRegistryIndex);
    vl::PushString(state, "_g");
    vl::PushSlotCopy(state, vl::kGlobalsIndex);
    vl::RawSetTableValue(state, vl::kGlobalsIndex);
    return OpenLibraries(state);
  });
  // Sound settings go to whichever library takes these tags: only once the
  // libraries are open is there one.
  if (!status) SetRuntimeOption(state, 2u, startup->noSound, 3u, startup->soundSetting, 0u);
  return status;
}

int StartUp(int argc, char** argv) {
  // Copies, so the reads cannot be folded into the values written at build
  // time: linking patches the program file.
  uint8_t marker[kMarkerBlockSize];
  uint8_t patch[kPatchAreaSize];
  const volatile uint8_t* m = vlMarkerBlock;
  const volatile uint8_t* p = reinterpret_cast<const volatile uint8_t*>(&vlPatchArea);
  for (size_t i = 0; i < kMarkerBlockSize; ++i) marker[i] = m[i];
  for (size_t i = 0; i < kPatchAreaSize; ++i) patch[i] = p[i];

  auto* startup = static_cast<vlStartupRecord*>(std::calloc(1, sizeof(vlStartupRecord)));
  auto* applet = static_cast<vlAppletInfo*>(std::calloc(1, sizeof(vlAppletInfo)));
  if (!startup || !applet) {
    std::free(startup);
    std::free(applet);
    std::printf("Not enough memory.\n");
    return 0;
  }
  vlCurrentApplet = applet;
  vlCurrentStartup = startup;
  applet->versionMajor = 6;
  applet->versionMinor = 1;
  vlVMState* state = vl::OpenVmState();
  if (!state) {
    std::printf("Not enough memory.\n");
    std::free(startup);
    std::free(applet);
    vlCurrentApplet = nullptr;
    vlCurrentStartup = nullptr;
    return 0;
  }
  InstallErrorSystem(state);
  InstallErrorRequester();
  int status = ParseStartupArgs(state, startup, applet, marker, patch, argc, argv);
  // A run ended by a signal ends by that signal once it has cleaned up; a
  // cancelled choice of the script ends quietly, as a quit does.
  auto stop = [&](int code) {
    // Such a run reports no error: what failed was a wait the signal cut
    // short (an open that waited for the other end of a FIFO, say).
    int exitStatus = ShutDown(QuitSignal() ? ERR_USERABORT : code, state, startup, applet);
    if (const int signal = QuitSignal()) {
      EndBySignal(signal);
      return 128 + signal;
    }
    return exitStatus;
  };
  if (status) return stop(status);
  if (vlLinked && (status = ExtractLinkedPlugins(startup->programPath, startup, applet, vlLinkedOffset)))
    return stop(status);
  if (!vlLinked && (status = CheckContainerMagic(startup->scriptPath))) return stop(status);
  if (!vlLinked && !startup->quiet) {
    // Progress set-up: the header for the notices, the plug-ins counted.
    if ((status = PreReadContainerHeader(startup->scriptPath, applet))) return stop(status);
    int count = 0;
    if ((status = ScanPluginDirectories(startup->programPath, vlStartup.skipPlugins, &count))) return stop(status);
    vlProgressStep = count > 0 ? 20.0 / count : 0;
  }
  if ((status = vlStartupPlugins.initPlugins(state, startup))) return stop(status);
  if ((status = Protected(state, [&] { return LoadCompiledScript(state, startup, applet); }))) return stop(status);
  PrintProgressMessage(GetMessage(106), nullptr, 1);

  MemoryChunk chunk{applet->code, applet->codeSize, false};
  SetRuntimeOption(state, VL_OPT_SOURCE_POSITIONS, 1u, 0u);
  status = vl::LoadChunk(state, ReadMemoryChunkOnce, &chunk, nullptr);
  if (status) return stop(status);
  SetRuntimeOption(state, VL_OPT_SOURCE_POSITIONS, 0u, 0u);
  InstallScriptLineHook(state);
  if ((status = ApplyContainerDisplay(applet))) return stop(status);
  PrintDone();
  if (TimerTick()) return stop(ERR_USERABORT);

  int32_t savedLine = GetCurrentErrorLine();
  PrintProgressMessage(GetMessage(287), startup->scriptPath, 1);
  if ((status = Protected(state, [&] { return LoadDisplayIcons(state, 0); }))) return stop(status);
  if ((status = OpenStartupPlugins(state, applet))) return stop(status);
  if ((status = InitDefaultFont())) return stop(status);
  if (!FindDisplayDecl(applet->preproc, 1) && (status = AddDefaultDisplay(&applet->preproc, nullptr)))
    return stop(status);
  if (!startup->skipDisplayOverrides) ApplyCommandLineDisplays(applet, startup);
  MarkSharedPictureFiles(applet->preproc);

  SetRuntimeOption(state, VL_OPT_RENDER_STATE, 1u, VL_OPT_SOURCE_POSITIONS, 1u, 0u);
  status = Protected(state, [&] { return RunPreloads(state, startup, applet); });
  if (!status) status = Protected(state, [&] { return RunDeclaredDisplays(state, startup, applet); });
  if (status) return stop(status);
  SetCurrentErrorLine(savedLine);
  SetRuntimeOption(state, VL_OPT_RENDER_STATE, 0u, VL_OPT_QUIET, startup->quiet, VL_OPT_SOURCE_POSITIONS, 0u, 0u);
  FreePreprocRecords(&applet->preproc);
  // The pictures shared among the preloads are not needed any more.
  FreeImageCache();
  PrintDone();
  if ((status = Protected(state, [&] { return OpenInitialDisplays(state, 0); }))) return stop(status);

  SetRuntimeOption(state, VL_OPT_SOURCE_POSITIONS, 1u, 0u);
  // -DEBUGOUTPUT traces the script's calls from its first line on, as
  // DebugOutput 1 does from where the script says it.
  if (vlStartup.debugOutput) state->g->traceFlag = 1;
  gPlatformHooks.runMainChunk = RunMainChunk;
  status = RunScriptMain(state);
  if (status) return stop(status);
  return stop(0);
}
