// The sound sub-table: a sample's PCM lent to a plug-in, as a private copy
// that replaces the sample's data when handed back or as the sample's own
// block, and the audio adapter's installation. Depends on the sound
// library's sample records and the audio channels.
#include <cstring>
#include <new>

#include "media/sound/audio_adapter.h"
#include "media/sound/audio_channels.h"
#include "media/sound/sound_data.h"
#include "media/sound/sound_library.h"
#include "player/service_adapters.h"
#include "runtime/os.h"
#include "vm/error_codes.h"

namespace {

// What the player keeps behind the lock the plug-in sees.
struct SampleLock {
  vlSampleLock shown;
  vlObjectId id;
  vlSoundData* data;  // the sample's data when it was locked
  uint8_t* copy;      // the private copy, null for a direct lock
};

int LockSampleData(const vlObjectId* id, uint32_t flags, vlSampleLock** out) {
  if (!id || !out) return ERR_WRONGUSAGE;
  *out = nullptr;
  uint32_t format = 0, pitch = 0;
  vlSoundData* data = nullptr;
  if (!GetSampleInfo(*id, &format, &data, nullptr, &pitch)) {
    vlSample* missing = nullptr;  // for the look-up's own error code
    const int error = GetSampleByID(*id, &missing);
    return error ? error : ERR_WRONGUSAGE;
  }
  // The mixer reads the block while the sample plays.
  if (IsSampleInUse(data)) return kErrSamplePlaying;
  auto* lock = new (std::nothrow) SampleLock{};
  if (!lock) return ERR_MEM;
  const size_t bytes = size_t(data->frames) * data->bytesPerFrame;
  uint8_t* pcm = GetSoundDataPointer(data);
  if (!(flags & VL_SAMPLE_DIRECT)) {
    lock->copy = static_cast<uint8_t*>(AllocMemory(bytes ? bytes : 1, 0));
    if (!lock->copy) {
      delete lock;
      return ERR_MEM;
    }
    if (bytes) std::memcpy(lock->copy, pcm, bytes);
    pcm = lock->copy;
  }
  lock->id = *id;
  lock->data = data;
  lock->shown = {pcm,
                 bytes,
                 data->frames,
                 (format == 1 || format == 3 || format == 5) ? 2u : 1u,
                 (format == 4 || format == 5) ? 16u : 8u,
                 pitch,
                 (format > 1 ? uintptr_t{VL_SAMPLE_SIGNED} : 0) | (data->flags & VL_PCM_BIG_ENDIAN)};
  *out = &lock->shown;
  return 0;
}

// The copy (or the block the plug-in put in its place) becomes the
// sample's data; on any refusal it is freed and the sample stays as it was.
int Install(SampleLock* lock) {
  auto* pcm = static_cast<uint8_t*>(lock->shown.pcm);
  vlSample* sample = nullptr;
  int status = GetSampleByID(lock->id, &sample);
  // A sample freed and made again under the same id is not the one lent.
  if (!status && sample->data != lock->data) status = ERR_FINDSAMPLE;
  if (!status && IsSampleInUse(sample->data)) status = kErrSamplePlaying;
  const uint64_t frames = lock->shown.frames, rate = lock->shown.rate;
  if (!status && (!pcm || frames == 0 || frames * sample->data->bytesPerFrame > UINT32_MAX)) status = ERR_WRONGUSAGE;
  if (!status && (rate < kMinPitch || rate > UINT32_MAX)) status = kErrPitchLow;
  if (status) {
    if (pcm != lock->copy) FreeMemory(pcm);
    FreeMemory(lock->copy);
    return status;
  }
  if (pcm != lock->copy) FreeMemory(lock->copy);
  ReplaceSoundData(sample->data, pcm, uint32_t(frames), uint32_t(rate));
  sample->bytes = uint32_t(frames * sample->data->bytesPerFrame);
  sample->pitch = uint32_t(rate);
  return 0;
}

int UnlockSampleData(vlSampleLock* shown) {
  if (!shown) return ERR_WRONGUSAGE;
  auto* lock = reinterpret_cast<SampleLock*>(shown);
  int status = lock->copy ? Install(lock) : 0;
  delete lock;
  return status;
}

int SetAudioAdapter(vlPluginInfo* info, uint32_t flags, const uint32_t* tags) {
  return InstallAudioAdapter(info, flags, tags);
}

}  // namespace

const vlSvcSound kSoundServices = {LockSampleData, UnlockSampleData, SetAudioAdapter};
