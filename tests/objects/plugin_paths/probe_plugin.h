// What the probe plug-ins record of the player's calls and what they are
// told to answer; the tests reach it through the plug-in's exported
// ProbeState().
#pragma once
#include <cstdint>

#include "graphics/adapter_bitmap.h"
#include "graphics/pixel_access.h"
#include "abi/plugin_abi.h"
#include "runtime/tag_list.h"

// Saver formats of the probe saver.
enum : uint32_t {
  PROBE_IMG_ARGB = 0x5001,  // ARGB with alpha
  PROBE_IMG_PALETTE = 0x5002,
  PROBE_ANIM_ARGB = 0x6001,  // ARGB with alpha
  PROBE_ANIM_PALETTE = 0x6002,
};

// A surface of the probe adapter: what the display shows (front) and,
// while the adapter buffers, what was drawn since (back).
struct ProbeSurface {
  int32_t width, height;
  uint32_t* front;
  uint32_t* back;
  int buffering;
};

struct ProbeVideoBitmap {
  int32_t width, height;
  uint32_t flags;
  uint32_t* pixels;  // ARGB
};

struct ProbeState {
  // Image saver.
  int saveCalls;
  uint32_t saveFormat;
  vlSaverImage image;  // as handed over (pointers are not kept)
  uint32_t palette[256];
  int saveResult;      // what SaveImage answers
  // Anim saver.
  int beginCalls, frameCalls, finishCalls;
  int32_t beginWidth, beginHeight, beginQuality, beginFps;
  uint32_t beginMode;
  vlSaverAnimFrame frame;  // the last frame, pointers cleared
  uint32_t framePixel0;    // first pixel (or index) of the last frame
  int frameResult;         // what WriteAnimFrame answers
  int beginFails;          // BeginAnimStream answers null
  // Display adapter.
  int openCalls, closeCalls, beginBufferCalls, endBufferCalls, flipCalls, blits, sizeChanges;
  int32_t flipBlock[3];
  int flipResult, beginBufferResult;
  int markWhole;  // OpenDisplay marks the display: a double buffer's frames come whole
  void* lastHandle;
  // Video bitmaps.
  int allocCalls, freeCalls;
  int32_t allocWidth, allocHeight;
  uint32_t allocFlags;
  uintptr_t allocDisplay;     // tag 6
  uint32_t allocPixels[64];   // the first ARGB words of tag 1
  int allocFails;             // AllocVideoBitMap answers null
  void* lastFreed;
  int readFails;              // ReadVideoPixels answers null
  int32_t readFormat;         // format ReadVideoPixels hands out (10 to 13, or 4)
  int readAlpha;
  void* readPixels;           // what ReadVideoPixels handed out
  void* freedPixels;          // what FreeVideoPixels got back
  int readCalls, freePixelsCalls;
};

using ProbeStateFn = ProbeState* (*)();
