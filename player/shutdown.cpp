// The single exit of the player: frees every library's objects in a fixed
// order, reports a pending error, closes the VM, removes temporary files
// and directories and closes the catalog last. Depends on the libraries'
// free routines, the error system and the VM.
#include <cstdio>
#include <cstdlib>

#include "display/commands/display_library.h"
#include "display/display.h"
#include "display/commands/layers_library.h"
#include "libraries/network/network_library.h"
#include "runtime/catalog.h"
#include "runtime/console.h"
#include "player/container.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "runtime/hooks.h"
#include "player/linked_data.h"
#include "runtime/messages.h"
#include "runtime/objects.h"
#include "abi/plugin_abi.h"
#include "player/plugin_loader.h"
#include "runtime/runtime_options.h"
#include "runtime/script_version.h"
#include "player/startup.h"
#include "player/startup_options.h"
#include "runtime/startup_records.h"
#include "libraries/dos/dos_library.h"
#include "libraries/memblock/memblock_library.h"
#include "media/sound/audio_channels.h"
#include "media/sound/sound_library.h"
#include "platform/intervals.h"
#include "platform/x11/x11_connection.h"
#include "display/graphics_library/graphics_library.h"
#include "graphics/presentation.h"
#include "graphics/picture_engines.h"
#include "display/events/event_library.h"
#include "display/events/event_types.h"
#include "media/video/video_library.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/draw/draw_state.h"
#include "objects/sprites/sprite.h"
#include "player/system_library.h"
#include "text/text_library.h"
#include "text/vector/vector_library.h"
#include "vm/error_codes.h"
#include "vm/state.h"

int ShutDown(int code, vlVMState* state, vlStartupRecord* startup, vlAppletInfo* applet) {
  vlShuttingDown = 1;
  FreeIconSlots();
  if (state) SetRuntimeOption(state, VL_OPT_RENDER_STATE, 0u, VL_OPT_QUIET, startup ? startup->quiet : 0u, 0u);
  SetEventShutdown(1);
  // The libraries' objects go in this fixed order. Whatever runs on its
  // own stops first: the video players, then the sound the channels play,
  // then the displays, whose closing ends every asynchronous draw and so
  // releases the brushes, anims, sprites and layers those draws still hold
  // while they exist. The objects follow, the sound records last.
  if (state) {
    StopAllVideos(state);
    StopAllChannels(state);
    CloseAllDisplays(state);
  }
  FreeNetworkObjects(state);
  if (state) FreeGraphicsObjects(state);
  FreeDrawBuffers();
  if (state) {
    FreeBrushLib(state);
    FreeDisplayLib(state);  // every BGPic, with the layers and sprite nodes on it
    FreeVideoLib(state);
    FreeVectorLibrary(state);
    FreeSpriteLibrary(state);
    FreeSystemLibrary(state);
    FreeTextLibrary(state);
    FreeAnimLibrary(state);
    ShutdownLayerSystem(state);
    FreeDosObjects(state);
    FreeMemBlocks(state);
    FreeEventLibrary(state);
    FreeSoundLib(state);
  }
  if (startup) FreeExtraArgs(&startup->extraArgs);
  const bool debugDevice = vlStartup.debugDevice != nullptr;
  // A quiet run (a test, a batch job) has nobody to close a dialog: the
  // report goes to standard error and the run ends at once.
  const bool quietErrors = vlStartup.quietGiven != 0;
  FreeStartupSettings();

  if (code >= 1 && code != ERR_USERABORT && state) {
    const char* file = nullptr;
    int line = 0;
    char fallback[kErrorTextSize];
    char* text = startup ? startup->errorText : fallback;
    size_t size = startup ? sizeof startup->errorText : sizeof fallback;
    GetErrorInfo(state, code, text, size, &file, &line);
    // A progress notice still waiting for its "done" ends as failed.
    if (vlProgressLineOpen) PrintFailed();
    // A name starting with '?' is no file: a chunk that failed to load
    // before it ran, say. The report then gives the message alone.
    const bool fileKnown = file && *file && *file != '?';
    if (debugDevice || quietErrors) {
      char report[kErrorTextSize + kSourceFileSize + 32];
      if (fileKnown)
        std::snprintf(report, sizeof report, "%s:%d: %s\n", file, line, text);
      else
        std::snprintf(report, sizeof report, "%s: %s\n", GetMessage(VL_MSG_ERROR), text);
      if (debugDevice) {
        PrintConsole("%s", report);
      } else {
        FlushConsole();
        std::fputs(report, stderr);
        std::fflush(stderr);
      }
    } else {
      ShowErrorRequester(state, text, fileKnown ? 0 : 1, 0);
    }
  }

  if (state) FreeEventQueue(state);
  FreeEventQueueMutex();
  FreeObjectRegistries();
  FreeHookList();
  FreeRuntimeOptionHooks();
  if (applet) {
    FreeContainerData(applet);
    std::free(applet);
  }
  // Plug-in libraries free their objects while the VM still exists.
  for (vlPlugin* p = FirstPlugin(); p && state; p = p->next) {
    vlPluginInfo* info = p->handle ? p->handle->info : nullptr;
    if (info && (info->capabilities & PLUGINCAPS_LIBRARY) && info->librariesInitialised && info->callKind != 2 &&
        info->FreeLibrary)
      info->FreeLibrary(state);
  }
  if (state) {
    FreeErrorSystem(state);
    vl::CloseVmState(state);
  }
  // The timer adapter's code goes with its plug-in.
  gTimerAdapter = nullptr;
  ClosePlugins();
  RemoveLinkedPluginDir();
  RemoveTempNames();
  FreeScaleTables();
  ClearScriptVersion();
  std::free(startup ? startup->givenName : nullptr);
  std::free(startup);
  vlCurrentApplet = nullptr;
  vlCurrentStartup = nullptr;
  CloseLocaleCatalog();
  // Last: the connections and the optional libraries everything above
  // still used (the sound library shut the audio output already).
  RemovePresentation();
  FreePlatform();
  vlShuttingDown = 0;
  vlProgressLineOpen = 0;
  // A script that ends with an error makes the process fail; a normal end
  // or a quit does not.
  return code >= 1 && code != ERR_USERABORT ? 1 : 0;
}
