// The run flags and the start-up settings. Depends on the C library only.
#include "runtime/run_state.h"

#include <cstdlib>
#include <initializer_list>

int vlShuttingDown = 0;
int vlPluginStartup = 0;
vlStartupSettings vlStartup;

const char* GetAudioDeviceName() { return vlStartup.audioDevice ? vlStartup.audioDevice : "default"; }

void FreeStartupSettings() {
  vlStartupSettings& s = vlStartup;
  for (char* text : {s.skipPlugins, s.requirePlugins, s.requireTags, s.debugDevice, s.audioDevice})
    std::free(text);
  s = vlStartupSettings{};
}
