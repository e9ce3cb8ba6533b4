// Plug-in-facing forms of the sound services.
#include "media/sound/sound_services.h"

#include "media/sound/audio_adapter.h"

namespace {

// 2: an audio-adapter plug-in installs itself ({u32 tag, u32 value} pairs).
int SetAudioAdapterSvc(vlPluginInfo* info, uint32_t flags, const uint32_t* tags) {
  return InstallAudioAdapter(info, flags, tags);
}

}  // namespace

void FillSoundServiceSlots(vlServiceFn* sound) { sound[2] = vlAsSlot(SetAudioAdapterSvc); }
