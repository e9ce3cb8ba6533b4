// The Protracker replayer: module parsing, the tick and row engine with the
// Protracker effects, and the four-voice mixer with its output filter.
// Depends on nothing but the C library.
#include "media/sound/protracker.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int16_t kPeriods[16][36] = {
    {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320,
     302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113},
    {850, 802, 757, 715, 674, 637, 601, 567, 535, 505, 477, 450, 425, 401, 379, 357, 337, 318,
     300, 284, 268, 253, 239, 225, 213, 201, 189, 179, 169, 159, 150, 142, 134, 126, 119, 113},
    {844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447, 422, 398, 376, 355, 335, 316,
     298, 282, 266, 251, 237, 224, 211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118, 112},
    {838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444, 419, 395, 373, 352, 332, 314,
     296, 280, 264, 249, 235, 222, 209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118, 111},
    {832, 785, 741, 699, 660, 623, 588, 555, 524, 495, 467, 441, 416, 392, 370, 350, 330, 312,
     294, 278, 262, 247, 233, 220, 208, 196, 185, 175, 165, 156, 147, 139, 131, 124, 117, 110},
    {826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437, 413, 390, 368, 347, 328, 309,
     292, 276, 260, 245, 232, 219, 206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116, 109},
    {820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434, 410, 387, 365, 345, 325, 307,
     290, 274, 258, 244, 230, 217, 205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115, 109},
    {814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431, 407, 384, 363, 342, 323, 305,
     288, 272, 256, 242, 228, 216, 204, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114, 108},
    {907, 856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339,
     320, 302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120},
    {900, 850, 802, 757, 715, 675, 636, 601, 567, 535, 505, 477, 450, 425, 401, 379, 357, 337,
     318, 300, 284, 268, 253, 238, 225, 212, 200, 189, 179, 169, 159, 150, 142, 134, 126, 119},
    {894, 844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447, 422, 398, 376, 355, 335,
     316, 298, 282, 266, 251, 237, 223, 211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118},
    {887, 838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444, 419, 395, 373, 352, 332,
     314, 296, 280, 264, 249, 235, 222, 209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118},
    {881, 832, 785, 741, 699, 660, 623, 588, 555, 524, 494, 467, 441, 416, 392, 370, 350, 330,
     312, 294, 278, 262, 247, 233, 220, 208, 196, 185, 175, 165, 156, 147, 139, 131, 123, 117},
    {875, 826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437, 413, 390, 368, 347, 328,
     309, 292, 276, 260, 245, 232, 219, 206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116},
    {868, 820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434, 410, 387, 365, 345, 325,
     307, 290, 274, 258, 244, 230, 217, 205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115},
    {862, 814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431, 407, 384, 363, 342, 323,
     305, 288, 272, 256, 242, 228, 216, 203, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114},
};

constexpr uint8_t kSine[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212,
                               224, 235, 244, 250, 253, 255, 253, 250, 244, 235, 224,
                               212, 197, 180, 161, 141, 120, 97,  74,  49,  24};

constexpr uint8_t kInvertSpeeds[16] = {0, 5, 6, 7, 8, 10, 11, 13, 16, 19, 22, 26, 32, 43, 64, 128};

constexpr int32_t kMinPeriod = 113, kMaxPeriod = 856;

// The PAL Amiga's Paula clock (3546895 Hz) x 2^14 / 50: the periods of
// Protracker songs are counted in its ticks.
constexpr uint64_t kStepClock = 1162246554;

uint32_t U16BE(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }

int NoteIndex(int32_t period) {
  for (int i = 0; i < 36; i++) {
    if (kPeriods[0][i] <= period) return i;
  }
  return 35;
}

int NoteIndexIn(int finetune, int32_t period) {
  for (int i = 0; i < 36; i++) {
    if (kPeriods[finetune & 15][i] <= period) return i;
  }
  return 35;
}

int32_t ClampPeriod(int32_t period) { return std::clamp(period, kMinPeriod, kMaxPeriod); }

void SetStep(const vlModuleState* s, vlModVoice* v, int32_t period) {
  period = ClampPeriod(period);
  uint64_t divisor = (uint64_t(period) * s->internalRate) / 50;
  v->step = divisor ? static_cast<uint32_t>(kStepClock / divisor) : 0;
}

int32_t Wave(int32_t waveform, int32_t position) {
  position &= 63;
  switch (waveform & 3) {
    case 1: return position < 32 ? position * 8 : position * 8 - 512;
    case 2: return position < 32 ? 255 : -255;
    default: return position < 32 ? kSine[position] : -kSine[position - 32];
  }
}

const uint8_t* Cell(const vlModuleState* s, int pattern, int row, int voice) {
  return s->cells + ((size_t(pattern) * 64 + row) * s->voiceCount + voice) * kModuleCellBytes;
}

// The bytes of an instrument's sample: in the file image, or unpacked in
// the state (an offset, since the state is copied whole for the output).
uint8_t* SampleBytes(vlModuleState* s, const vlModInstrument* ins) {
  return ins->decoded ? reinterpret_cast<uint8_t*>(s) + s->decodedOffset + ins->data : s->image + ins->data;
}

uint32_t CellPeriod(const uint8_t* c) {
  uint32_t p;
  std::memcpy(&p, c, 4);
  return p;
}

uint32_t CellInstrument(const uint8_t* c) {
  uint32_t p;
  std::memcpy(&p, c + 4, 4);
  return p;
}

void StartNote(vlModuleState* s, vlModVoice* v, int32_t period) {
  v->period = ClampPeriod(period);
  v->notePeriod = v->period;
  const vlModInstrument* ins = v->instrument ? &s->instruments[v->instrument - 1] : nullptr;
  if (!ins || ins->length == 0) {
    v->position = -1;
  } else {
    int64_t start = 0;
    if (v->effect == 9) {
      if (v->param) v->sampleOffset = uint32_t(v->param) * 256;
      start = int64_t(v->sampleOffset) << 14;
    }
    if (start >= ins->length) start = ins->loopLength > (2u << 14) ? ins->loopStart : -1;
    v->position = start;
  }
  if (v->vibratoWave < 4) v->vibratoPosition = 0;
  if (v->tremoloWave < 4) v->tremoloPosition = 0;
  SetStep(s, v, v->period);
}

// A new pass begins: no row counts as played.
void SongEnded(vlModuleState* s) {
  s->flags |= VL_MOD_SONG_ENDED;
  s->songEnds++;
  s->endPending = 0;
  std::memset(s->visited, 0, sizeof s->visited);
}

void InvertLoop(vlModuleState* s, vlModVoice* v) {
  int speed = (v->glissando >> 4) & 15;
  if (!speed || !v->instrument) return;
  vlModInstrument* ins = &s->instruments[v->instrument - 1];
  if (ins->loopLength <= (2u << 14)) return;
  v->invertCounter += kInvertSpeeds[speed];
  if (v->invertCounter < 128) return;
  v->invertCounter = 0;
  uint32_t start = ins->loopStart >> 14, length = ins->loopLength >> 14;
  v->invertOffset = (v->invertOffset + 1) % length;
  uint8_t* byte = SampleBytes(s, ins) + start + v->invertOffset;
  *byte = static_cast<uint8_t>(~*byte);
}

void RowEffect(vlModuleState* s, vlModVoice* v, bool hasNote, int32_t notePeriod) {
  int x = v->paramHigh, y = v->paramLow, p = v->param;
  switch (v->effect) {
    case 0: v->arpeggio = p; break;
    case 1: v->portaSlide = -p; break;
    case 2: v->portaSlide = p; break;
    case 3:
      if (p) v->portaSpeed = p;
      break;
    case 4:
      if (x) v->vibratoSpeed = x;
      if (y) v->vibratoDepth = y;
      break;
    case 5:
    case 6:
    case 10: v->volumeSlide = x ? x : -y; break;
    case 7:
      if (x) v->tremoloSpeed = x;
      if (y) v->tremoloDepth = y * 2;
      break;
    case 11:
      s->jumpPosition = p;
      if (s->breakRow < 0) s->breakRow = 0;
      break;
    case 12: v->volume = std::min(p, 63); break;
    case 13: {
      int row = x * 10 + y;
      s->breakRow = row >= 64 ? 0 : row;
      break;
    }
    case 14:
      switch (x) {
        case 0:
          if (s->flags & VL_MOD_FILTER_SWITCH) s->filterOn = (y & 1) == 0;
          break;
        case 1: v->period = ClampPeriod(v->period - y); v->notePeriod = v->period; break;
        case 2: v->period = ClampPeriod(v->period + y); v->notePeriod = v->period; break;
        case 3: v->glissando = (v->glissando & ~1) | (y ? 1 : 0); break;
        case 4: v->vibratoWave = y; break;
        case 5:
          v->finetune = y;
          if (hasNote) {
            int32_t period = kPeriods[y][NoteIndex(notePeriod)];
            v->period = v->notePeriod = period;
          }
          break;
        case 6:
          if (y == 0) {
            v->loopRow = s->row;
          } else if (v->loopCount == 0 || --v->loopCount > 0) {
            if (v->loopCount == 0) v->loopCount = y;
            s->breakRow = v->loopRow;
            s->jumpPosition = s->position;  // stays on this position
            // The rows a loop repeats are no sign of the song's end.
            if (v->loopRow <= s->row) {
              uint64_t upTo = s->row >= 63 ? ~0ull : (2ull << s->row) - 1;
              s->visited[s->position & 127] &= ~(upTo & ~((1ull << v->loopRow) - 1));
            }
          }
          break;
        case 7: v->tremoloWave = y; break;
        case 9:
          v->retrigger = y;
          v->retriggerCount = y + 1;
          break;
        case 10: v->volume = std::min(v->volume + y, 63); break;
        case 11: v->volume = std::max(v->volume - y, 0); break;
        case 12:
          v->noteCut = y;
          if (y == 0) v->volume = 0;
          break;
        case 14: s->patternDelay = y; break;
        case 15: v->glissando = (v->glissando & 15) | (y << 4); break;
        default: break;
      }
      break;
    case 15:
      if (p == 0) {
        SongEnded(s);
      } else if (p < 32) {
        s->speed = p;
      } else {
        s->tempo = p;
        s->samplesPerTick = s->internalRate * 60 / (uint32_t(p) * 24);
      }
      break;
    default: break;
  }
}

void NewRow(vlModuleState* s) {
  int pattern = s->orders[s->position & 127];
  if (pattern >= s->patterns) pattern = 0;
  s->breakRow = -1;
  s->jumpPosition = -1;
  for (uint32_t i = 0; i < s->voiceCount; i++) {
    vlModVoice* v = &s->voices[i];
    const uint8_t* c = Cell(s, pattern, s->row, i);
    uint32_t period = CellPeriod(c), instrument = CellInstrument(c);
    v->effect = c[8];
    v->paramHigh = c[9];
    v->paramLow = c[10];
    v->param = c[11];
    v->effectFlags = 1;
    v->volumeSlide = 0;
    v->portaSlide = 0;
    v->arpeggio = 0;
    v->retrigger = 0;
    v->noteCut = -1;
    v->delayTick = -1;
    if (v->period) v->period = v->notePeriod;  // vibrato and arpeggio end with the row
    if (instrument >= 1 && instrument <= 31) {
      const vlModInstrument* ins = &s->instruments[instrument - 1];
      v->volume = std::min<int32_t>(ins->volume, 63);
      v->finetune = ins->finetune;
      if (period || v->position < 0) v->instrument = instrument;
      else if (instrument != v->instrument) v->pendingInstrument = instrument;
    }
    bool porta = v->effect == 3 || v->effect == 5;
    int32_t notePeriod = 0;
    if (period) {
      notePeriod = kPeriods[v->finetune & 15][NoteIndex(period)];
      if (v->effect == 14 && v->paramHigh == 5) notePeriod = kPeriods[v->paramLow][NoteIndex(period)];
    }
    if (porta) v->effectFlags |= 2;
    if (period && porta) {
      v->targetPeriod = notePeriod;
      v->portaDirection = notePeriod > v->period ? 1 : -1;
    } else if (period && v->effect == 14 && v->paramHigh == 13 && v->paramLow > 0) {
      v->delayedPeriod = notePeriod;
      v->delayTick = v->paramLow;
    } else if (period) {
      StartNote(s, v, notePeriod);
    }
    RowEffect(s, v, period != 0 && !porta, notePeriod);
    v->effectiveVolume = v->volume;
    if (v->period) SetStep(s, v, v->period);
  }
}

// Moves to the next row; whether the song ends there is decided when that
// row is about to be played.
void AdvanceRow(vlModuleState* s) {
  if (s->breakRow >= 0 || s->jumpPosition >= 0) {
    int32_t next = s->jumpPosition >= 0 ? s->jumpPosition : s->position + 1;
    s->row = std::max(s->breakRow, 0);
    s->position = next;
  } else if (++s->row >= 64) {
    s->row = 0;
    s->position++;
  }
  if (s->position >= s->songLength || s->position < 0) {
    s->position = 0;
    s->endPending = 1;
  }
}

// Starts the current row unless it was played before in this pass: then
// the song has ended, and with the stop bit the row is not played.
void BeginRow(vlModuleState* s) {
  uint64_t bit = 1ull << (s->row & 63);
  if (s->endPending || (s->visited[s->position & 127] & bit)) {
    SongEnded(s);
    if (s->flags & VL_MOD_STOP_AT_END) return;
  }
  s->visited[s->position & 127] |= bit;
  s->playingPosition = s->position;
  s->playingRow = s->row;
  NewRow(s);
  AdvanceRow(s);
}

void LaterTick(vlModuleState* s, vlModVoice* v, int tick) {
  int32_t period = v->period;
  switch (v->effect) {
    case 0:
      if (v->arpeggio) {
        int semis = tick % 3 == 1 ? v->arpeggio >> 4 : tick % 3 == 2 ? v->arpeggio & 15 : 0;
        int index = std::min(NoteIndexIn(v->finetune, v->notePeriod) + semis, 35);
        period = kPeriods[v->finetune & 15][index];
      }
      break;
    case 1:
    case 2:
      v->period = v->notePeriod = ClampPeriod(v->period + v->portaSlide);
      period = v->period;
      break;
    case 5:
    case 3:
      if (v->targetPeriod && v->portaSpeed) {
        if (v->period < v->targetPeriod) v->period = std::min(v->period + v->portaSpeed, v->targetPeriod);
        else v->period = std::max(v->period - v->portaSpeed, v->targetPeriod);
        v->notePeriod = v->period;
      }
      period = v->period;
      if (v->glissando & 1) period = kPeriods[v->finetune & 15][NoteIndexIn(v->finetune, period)];
      break;
    default: break;
  }
  if (v->effect == 4 || v->effect == 6) {
    v->vibratoPosition = (v->vibratoPosition + v->vibratoSpeed) & 63;
    period = v->notePeriod + ((Wave(v->vibratoWave, v->vibratoPosition) * v->vibratoDepth) >> 7);
  }
  if (v->effect == 5 || v->effect == 6 || v->effect == 10) {
    v->volume = std::clamp(v->volume + v->volumeSlide, 0, 63);
  }
  v->effectiveVolume = v->volume;
  if (v->effect == 7) {
    v->tremoloPosition = (v->tremoloPosition + v->tremoloSpeed) & 63;
    v->effectiveVolume =
        std::clamp(v->volume + ((Wave(v->tremoloWave, v->tremoloPosition) * v->tremoloDepth) >> 8), 0, 63);
  }
  if (v->effect == 14) {
    if (v->paramHigh == 9 && v->retrigger > 0 && --v->retriggerCount <= 0) {
      v->retriggerCount = v->retrigger;
      if (v->instrument) v->position = 0;
    }
    if (v->paramHigh == 12 && tick == v->noteCut) {
      v->volume = 0;
      v->effectiveVolume = 0;
    }
  }
  if (v->delayTick == tick && v->delayedPeriod) {
    v->delayTick = -1;
    StartNote(s, v, v->delayedPeriod);
    period = v->period;
  }
  SetStep(s, v, period);
}

void Tick(vlModuleState* s) {
  if (s->tick <= 0) {
    if (s->patternDelay > 0) {
      s->patternDelay--;
    } else {
      BeginRow(s);
    }
    s->tick = s->speed;
  } else {
    int tickIndex = s->speed - s->tick;
      for (uint32_t i = 0; i < s->voiceCount; i++) LaterTick(s, &s->voices[i], tickIndex);
  }
  for (uint32_t i = 0; i < s->voiceCount; i++) InvertLoop(s, &s->voices[i]);
  s->tick--;
}

// Adds count internal samples of the voice to the sums: left and right by
// its panning (0 is left, 255 right), or the plain values into left for
// mono. Between two ticks only the position changes, so the voice runs in
// stretches up to its next loop or end point with no check in between.
void MixVoice(vlModuleState* s, vlModVoice* v, int32_t* left, int32_t* right, uint32_t count, bool mono) {
  if (!v->instrument) return;
  const int32_t volume = v->effectiveVolume, leftPan = 255 - v->panning, rightPan = v->panning;
  for (uint32_t done = 0; done < count;) {
    if (v->position < 0) return;
    const vlModInstrument* ins = &s->instruments[v->instrument - 1];
    bool looped = ins->loopLength > (2u << 14);
    if (!looped && v->position >= int64_t(ins->length)) {
      v->position = -1;
      return;
    }
    while (looped && v->position >= int64_t(ins->loopEnd)) {
      v->position -= ins->loopLength;
      if (v->pendingInstrument) {
        v->instrument = v->pendingInstrument;
        v->pendingInstrument = 0;
        ins = &s->instruments[v->instrument - 1];
        if (ins->length == 0 || ins->loopLength <= (2u << 14)) {
          v->position = -1;
          return;
        }
        v->position = ins->loopStart;
      }
    }
    const int64_t end = looped ? int64_t(ins->loopEnd) : int64_t(ins->length);
    const uint32_t step = v->step;
    uint32_t n = count - done;
    if (step > 0) n = uint32_t(std::min<int64_t>(n, (end - v->position + step - 1) / step));
    const auto* data = reinterpret_cast<const int8_t*>(SampleBytes(s, ins));
    int64_t position = v->position;
    int32_t* l = left + done;
    int32_t* r = right + done;
    if (mono) {
      for (uint32_t i = 0; i < n; i++, position += step) l[i] += data[position >> 14] * volume;
    } else {
      for (uint32_t i = 0; i < n; i++, position += step) {
        const int32_t value = data[position >> 14] * volume;
        l[i] += value * leftPan;
        r[i] += value * rightPan;
      }
    }
    v->position = position;
    done += n;
  }
}

float Filter(vlModuleState* s, int channel, float x) {
  for (int stage = 0; stage < 2; stage++) {
    float* h = s->history[channel][stage];
    float y = (x + h[0]) * s->filterIn + h[1] * s->filterFeedback;
    h[0] = x;
    h[1] = y;
    x = y;
  }
  return x;
}

int32_t Clamp16(int32_t v) { return std::clamp(v, -32768, 32767); }

bool Stopped(const vlModuleState* s) {
  return ((s->flags & VL_MOD_SONG_ENDED) && (s->flags & VL_MOD_STOP_AT_END)) ||
         (s->endAfter && s->songEnds >= s->endAfter);
}

// count internal samples into left and right (for mono the plain sum into
// both): the voices are mixed from one tick to the next, then each sample
// is scaled, filtered and clamped. After a stop at the song end: silence.
// Gives the samples mixed before the stop.
uint32_t InternalSamples(vlModuleState* s, bool mono, int32_t* left, int32_t* right, uint32_t count) {
  std::fill(left, left + count, 0);
  std::fill(right, right + count, 0);
  uint32_t mixed = 0;
  while (mixed < count && !Stopped(s)) {
    if (++s->tickSamples >= s->samplesPerTick) {
      s->tickSamples -= s->samplesPerTick;
      Tick(s);
      if (Stopped(s)) break;
    }
    // This sample and those before the next tick.
    uint32_t run = s->samplesPerTick > s->tickSamples ? s->samplesPerTick - s->tickSamples : 1;
    run = std::min(run, count - mixed);
    s->tickSamples += run - 1;
    for (uint32_t i = 0; i < s->voiceCount; i++) MixVoice(s, &s->voices[i], left + mixed, right + mixed, run, mono);
    mixed += run;
  }
  // Eight voices get one more bit of headroom than four.
  const int shift = s->voiceCount > 4 ? 8 : 7;
  for (uint32_t i = 0; i < mixed; i++) {
    int32_t a = mono ? left[i] : left[i] >> shift;
    int32_t b = mono ? a : right[i] >> shift;
    if (s->filterOn) {
      a = static_cast<int32_t>(Filter(s, 0, float(a)));
      b = mono ? a : static_cast<int32_t>(Filter(s, 1, float(b)));
    }
    left[i] = Clamp16(a);
    right[i] = Clamp16(b);
  }
  return mixed;
}

}  // namespace

size_t ModuleStateSize(const vlModuleState* s) { return size_t(s->decodedOffset) + s->decodedBytes; }

namespace {

// How a file lays out its patterns and samples.
struct ModuleLayout {
  uint32_t patterns, voices;
  uint32_t decodedBytes;  // samples packed as ADPCM, unpacked
  size_t stateSize;
};

constexpr char kAdpcmMagic[5] = {'A', 'D', 'P', 'C', 'M'};
constexpr size_t kAdpcmHeader = 5 + 16;  // the magic and the delta table

bool IsPackedSample(const uint8_t* image, size_t size, size_t offset) {
  return offset + kAdpcmHeader <= size && std::memcmp(image + offset, kAdpcmMagic, 5) == 0;
}

// The file bytes a sample of length bytes takes at offset, and the length
// that is really there.
size_t SampleFileBytes(const uint8_t* image, size_t size, size_t offset, uint32_t* length) {
  size_t left = offset < size ? size - offset : 0;
  if (IsPackedSample(image, size, offset)) {
    size_t packed = std::min<size_t>((size_t(*length) + 1) / 2, left - kAdpcmHeader);
    *length = static_cast<uint32_t>(std::min<size_t>(*length, packed * 2));
    return kAdpcmHeader + packed;
  }
  *length = static_cast<uint32_t>(std::min<size_t>(*length, left));
  return *length;
}

// The pattern count follows from the order table. A "M.K." file with a
// restart byte of 0 whose size is exactly that of 8-channel patterns plus
// its samples holds 8 channels: 669 songs converted by Mod's Grave.
bool ReadLayout(const uint8_t* image, size_t size, ModuleLayout* layout) {
  if (!image || size < kModuleHeaderSize) return false;
  uint32_t patterns = 0;
  for (int i = 0; i < 128; i++) patterns = std::max<uint32_t>(patterns, image[952 + i]);
  patterns++;
  if (size < kModuleHeaderSize + size_t(patterns) * kModulePatternBytes) return false;
  size_t samples = 0;
  for (int i = 0; i < 31; i++) samples += size_t(U16BE(image + 20 + i * 30 + 22)) * 2;
  uint32_t voices = 4;
  if (std::memcmp(image + 1080, "M.K.", 4) == 0 && image[951] == 0 &&
      kModuleHeaderSize + size_t(patterns) * kModulePatternBytes * 2 + samples == size) {
    voices = 8;
  }
  size_t offset = kModuleHeaderSize + size_t(patterns) * (kModulePatternBytes / 4) * voices;
  uint32_t decoded = 0;
  for (int i = 0; i < 31; i++) {
    uint32_t length = U16BE(image + 20 + i * 30 + 22) * 2;
    bool packed = IsPackedSample(image, size, offset);
    offset += SampleFileBytes(image, size, offset, &length);
    if (packed) decoded += length;
  }
  layout->patterns = patterns;
  layout->voices = voices;
  layout->decodedBytes = decoded;
  layout->stateSize = sizeof(vlModuleState) + size_t(patterns) * 64 * voices * kModuleCellBytes + decoded;
  return true;
}

// ModPlug's 4-bit ADPCM: a table of 16 deltas, then two deltas per byte,
// the low nibble first.
void UnpackAdpcm(const uint8_t* packed, uint32_t length, uint8_t* out) {
  const uint8_t* table = packed + 5;
  const uint8_t* nibbles = packed + kAdpcmHeader;
  uint8_t value = 0;
  for (uint32_t i = 0; i < length; i++) {
    uint8_t byte = nibbles[i / 2];
    value = static_cast<uint8_t>(value + table[i & 1 ? byte >> 4 : byte & 15]);
    out[i] = value;
  }
}

}  // namespace

size_t ParseProtrackerModule(vlModuleState* s, uint8_t* image, size_t size, uint32_t outputRate) {
  ModuleLayout layout;
  if (!ReadLayout(image, size, &layout)) return 0;
  if (!s) return layout.stateSize;
  uint32_t patterns = layout.patterns, voiceCount = layout.voices;
  std::memset(s, 0, layout.stateSize);
  s->patterns = static_cast<uint16_t>(patterns);
  s->voiceCount = voiceCount;
  s->decodedOffset = static_cast<uint32_t>(layout.stateSize - layout.decodedBytes);
  s->decodedBytes = layout.decodedBytes;
  for (auto& v : s->voices) {
    v.position = -1;
    v.noteCut = -1;
    v.delayTick = -1;
  }
  // Left, right, right, left, and again for eight.
  for (uint32_t i = 0; i < voiceCount; i++) s->voices[i].panning = (i & 3) == 1 || (i & 3) == 2 ? 255 : 0;
  s->masterVolume = 256;
  s->internalRate = outputRate * 2;
  s->flags = VL_MOD_FILTER_SWITCH;
  double a = std::atan(12566.370614359172 / outputRate);
  double c = (1.0 - a) / (1.0 + a);
  s->filterFeedback = static_cast<float>(c);
  s->filterIn = static_cast<float>((1.0 - c) * 0.5);
  std::memcpy(s->title, image, 20);
  size_t patternBytes = size_t(kModulePatternBytes / 4) * voiceCount;
  size_t offset = kModuleHeaderSize + size_t(patterns) * patternBytes;
  uint32_t decoded = 0;
  for (int i = 0; i < 31; i++) {
    const uint8_t* p = image + 20 + i * 30;
    vlModInstrument* ins = &s->instruments[i];
    std::memcpy(ins->name, p, 22);
    uint32_t length = U16BE(p + 22) * 2;
    ins->finetune = p[24] & 15;
    ins->volume = std::min<uint32_t>(p[25], 64);
    uint32_t loopStart = U16BE(p + 26) * 2, loopLength = U16BE(p + 28) * 2;
    bool packed = IsPackedSample(image, size, offset);
    size_t bytes = SampleFileBytes(image, size, offset, &length);
    if (packed) {
      UnpackAdpcm(image + offset, length, reinterpret_cast<uint8_t*>(s) + s->decodedOffset + decoded);
      ins->decoded = 1;
      ins->data = decoded;
      decoded += length;
    } else {
      ins->data = static_cast<uint32_t>(offset);
    }
    offset += bytes;
    // A loop outside the sample is cut to it.
    if (loopStart >= length) {
      loopStart = 0;
      loopLength = 0;
    } else if (loopStart + loopLength > length) {
      loopLength = length - loopStart;
    }
    ins->length = length << 14;
    ins->loopStart = loopStart << 14;
    ins->loopLength = loopLength << 14;
    ins->loopEnd = ins->loopStart + ins->loopLength;
  }
  s->songLength = image[950];
  if (s->songLength > 128) s->songLength = 128;
  if (s->songLength == 0) s->songLength = 1;
  std::memcpy(s->orders, image + 952, 128);
  uint32_t cells = 64 * voiceCount;
  for (uint32_t p = 0; p < patterns; p++) {
    for (uint32_t cell = 0; cell < cells; cell++) {
      const uint8_t* b = image + kModuleHeaderSize + p * patternBytes + cell * 4;
      uint8_t* out = s->cells + (size_t(p) * cells + cell) * kModuleCellBytes;
      uint32_t period = uint32_t(b[0] & 15) << 8 | b[1];
      uint32_t instrument = (b[0] & 0xF0u) | (b[2] >> 4);
      std::memcpy(out, &period, 4);
      std::memcpy(out + 4, &instrument, 4);
      out[8] = b[2] & 15;
      out[9] = b[3] >> 4;
      out[10] = b[3] & 15;
      out[11] = b[3];
    }
  }
  s->speed = 6;
  s->tempo = 125;
  s->samplesPerTick = s->internalRate / 50;
  // The first row starts with the first sample.
  s->tickSamples = s->samplesPerTick ? s->samplesPerTick - 1 : 0;
  s->image = image;
  s->imageSize = static_cast<uint32_t>(size);
  return layout.stateSize;
}

uint32_t ReplayProtrackerModule(vlModuleState* s, void* leftOut, void* rightOut, size_t stride,
                                uint32_t frames, uint32_t bits, uint32_t channels) {
  auto* left = static_cast<uint8_t*>(leftOut);
  auto* right = static_cast<uint8_t*>(rightOut);
  bool mono = channels == 1;
  int64_t volume = s->masterVolume;
  constexpr uint32_t kBlock = 512;  // frames mixed at a time
  int32_t sumLeft[kBlock * 2], sumRight[kBlock * 2];
  uint32_t sounding = frames;  // frames before the stop
  for (uint32_t f = 0; f < frames; f++) {
    uint32_t k = f % kBlock;
    if (k == 0) {
      const uint32_t count = std::min(kBlock, frames - f) * 2;
      const uint32_t mixed = InternalSamples(s, mono, sumLeft, sumRight, count);
      if (mixed < count && sounding == frames) sounding = f + (mixed + 1) / 2;
    }
    int64_t l = int64_t(sumLeft[k * 2]) + sumLeft[k * 2 + 1], r = int64_t(sumRight[k * 2]) + sumRight[k * 2 + 1];
    if (bits == 16) {
      int16_t a, b;
      if (mono) {
        a = b = static_cast<int16_t>(Clamp16(static_cast<int32_t>(((l + r) * volume) >> 10)));
      } else {
        a = static_cast<int16_t>(Clamp16(static_cast<int32_t>((l * volume) >> 9)));
        b = static_cast<int16_t>(Clamp16(static_cast<int32_t>((r * volume) >> 9)));
      }
      std::memcpy(left, &a, 2);
      if (!mono && right) std::memcpy(right, &b, 2);
    } else {
      if (mono) {
        *left = static_cast<uint8_t>(static_cast<int8_t>(std::clamp<int64_t>(((l + r) * volume) >> 18, -128, 127)));
      } else {
        *left = static_cast<uint8_t>(static_cast<int8_t>(std::clamp<int64_t>((l * volume) >> 17, -128, 127)));
        if (right) *right = static_cast<uint8_t>(static_cast<int8_t>(std::clamp<int64_t>((r * volume) >> 17, -128, 127)));
      }
    }
    left += stride;
    if (right) right += stride;
  }
  return sounding;
}

uint32_t RenderModuleAudio(vlModuleState* s, int16_t* buffer, uint32_t frames) {
  if (s->pendingPosition) {
    s->position = s->pendingSong >= 0 && s->pendingSong < s->songLength ? s->pendingSong : 0;
    s->row = 0;
    s->playingPosition = s->position;
    s->playingRow = 0;
    s->tick = 0;
    s->patternDelay = 0;
    s->pendingPosition = 0;
    s->endPending = 0;
    std::memset(s->visited, 0, sizeof s->visited);
  }
  if (buffer) return ReplayProtrackerModule(s, buffer, buffer + 1, 4, frames, 16, 2);
  int16_t scratch[2048];
  uint32_t done = 0;
  while (done < frames) {
    const uint32_t n = std::min<uint32_t>(frames - done, 1024);
    const uint32_t sounding = ReplayProtrackerModule(s, scratch, scratch + 1, 4, n, 16, 2);
    if (sounding < n) return done + sounding;
    done += n;
  }
  return frames;
}
