// GetAttribute of samples and music objects. The sound library answers
// them as object queries (QuerySoundObject), each attribute by its query
// code; texts come back as the second word.
#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "media/sound/audio_channels.h"
#include "media/sound/sound_library.h"
#include "media/sound/sound_types.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

struct QueryCode {
  int32_t attr;
  int code;
  enum : uint8_t { kNumber, kBoolean, kText, kPair } kind;
};

constexpr QueryCode kSampleCodes[] = {
    {VL_ATTRTYPE, 7, QueryCode::kNumber},     {VL_ATTRNUMFRAMES, 24, QueryCode::kNumber},
    {VL_ATTRDURATION, 8, QueryCode::kNumber}, {VL_ATTRPITCH, 9, QueryCode::kNumber},
    {VL_ATTRPLAYING, 30, QueryCode::kBoolean}, {VL_ATTRLOADER, 31, QueryCode::kText},
    {VL_ATTRPOSITION, 16, QueryCode::kPair},
};

constexpr QueryCode kMusicCodes[] = {
    {VL_ATTRTYPE, 21, QueryCode::kNumber},        {VL_ATTRDURATION, 14, QueryCode::kNumber},
    {VL_ATTRPITCH, 20, QueryCode::kNumber},       {VL_ATTRPOSITION, 15, QueryCode::kNumber},
    {VL_ATTRFORMAT, 17, QueryCode::kText},        {VL_ATTRBITRATE, 19, QueryCode::kNumber},
    {VL_ATTRCANSEEK, 25, QueryCode::kBoolean},    {VL_ATTRNUMSUBSONGS, 26, QueryCode::kNumber},
    {VL_ATTRCURSUBSONG, 27, QueryCode::kNumber},  {VL_ATTRPLAYING, 28, QueryCode::kBoolean},
    {VL_ATTRPAUSED, 29, QueryCode::kBoolean},     {VL_ATTRLOADER, 32, QueryCode::kText},
};

template <size_t N>
int Answer(vlVMState* L, uint32_t type, vlObjectId id, int32_t attr, const QueryCode (&codes)[N], int missing) {
  const QueryCode* q = nullptr;
  for (const QueryCode& c : codes)
    if (c.attr == attr) q = &c;
  if (!q) return ERR_UNKNOWNATTR;
  // What has finished playing is let go first, so that "playing" is true.
  if (attr == VL_ATTRPLAYING || attr == VL_ATTRPOSITION) StopExpiredChannels();
  intptr_t word1 = 0, word2 = 0;
  if (!QuerySoundObject(type, id, q->code, &word1, &word2)) {
    // Before the sound output starts nothing plays: not an unknown object.
    if (type == VL_OBJ_SAMPLE && !IsAudioStarted()) {
      if (q->kind == QueryCode::kPair) word1 = word2 = -1;
    } else {
      return missing;
    }
  }
  switch (q->kind) {
    case QueryCode::kNumber: vl::PushNumber(L, double(word1)); return 1;
    case QueryCode::kBoolean: vl::PushBoolean(L, word1 != 0); return 1;
    case QueryCode::kText: vl::PushCString(L, word2 ? reinterpret_cast<const char*>(word2) : ""); return 1;
    case QueryCode::kPair:
      vl::PushNumber(L, double(word1));
      vl::PushNumber(L, double(word2));
      return 2;
  }
  return ERR_UNKNOWNATTR;
}

int SampleAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlSample* s = nullptr;
  if (int e = GetSampleByID(id, &s)) return e;
  return Answer(L, VL_OBJ_SAMPLE, id, attr, kSampleCodes, ERR_FINDSAMPLE);
}

int MusicAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlMusic* m = nullptr;
  if (int e = GetMusicByID(id, &m)) return e;
  return Answer(L, kObjMusic, id, attr, kMusicCodes, ERR_FINDMUSIC);
}

}  // namespace

void InstallSoundAttributes() {
  SetAttributeHandler(VL_OBJ_SAMPLE, SampleAttribute);
  SetAttributeHandler(kObjMusic, MusicAttribute);
}
