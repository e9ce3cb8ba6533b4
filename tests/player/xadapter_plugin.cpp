// A display-adapter plug-in for the player tests: each display is an ARGB
// buffer in the plug-in's own memory, shown in an X window of its own with
// XPutImage; pictures the player hands it as video bitmaps stay in its
// memory too. Mouse buttons on its window reach the script as adapter
// input for display 1; queued video frames are drawn through the event
// service. It knows the player only through the plug-in header and the
// service table.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "abi/plugin_abi.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const vlServiceTable* gSvc = nullptr;

uintptr_t GetTagValue(const vlTagItem* tags, uint32_t tag, uintptr_t otherwise) {
  for (; tags && tags->tag != VL_TAG_END; ++tags)
    if (tags->tag == tag) return tags->value;
  return otherwise;
}
Display* gX = nullptr;

struct Surface {
  int32_t x, y;  // where the window was put on the screen
  int32_t width, height;
  uint32_t* pixels;  // 0x00RRGGBB, what the window shows
  Window window;
  GC gc;
  XImage* image;  // over pixels
  int buffered;   // double buffering: pixels are the back buffer, held back until Flip
};

// Video bitmaps, and with VL_XADAPTER_OWNS every picture and plane.
struct VideoBitmap {
  int32_t width, height;
  uint32_t* pixels;  // ARGB words of a picture
  int32_t kind;      // 0 picture, 1 alpha plane, 2 mask plane
  uint8_t* bytes;    // a plane's
  int32_t rowBytes;
  int borrowed;      // the plane's bytes are the player's
  int alpha;         // a picture whose alpha bytes count
};
// Pictures and planes held now, made in all; the video thread makes and frees them too.
std::atomic<int> gOwned{0}, gMade{0};

// With VL_XADAPTER_BLOCK the adapter's WaitEvents blocks until X input
// comes or ForceEventLoopIteration (from any thread) writes to its pipe,
// and the calls of the event, sleep, refresh, pointer and qualifier
// entries are counted into the log when the plug-in closes.
bool gBlock = false;
int gWake[2] = {-1, -1};
enum { kForce, kWait, kSleep, kVWait, kQualifiers, kCreatePointer, kFreePointer, kSetPointer, kAttributes,
       kShowPointer, kHidePointer, kMovePointer, kPixel, kLine, kFill, kPictureBlit, kPictureMasked,
       kPictureAlpha, kPictureColour, kPictureFill, kPicturePixel, kPictureLine, kGrab, kCls, kReadPixels,
       kFreePixels, kPrepare, kPlaneFill, kPlanePixel, kPlaneLine, kPlaneBlit, kCheck, kCounted };
const char* const kCountNames[kCounted] = {"force",      "wait",        "sleep",       "vwait",
                                           "qualifiers", "newpointer",  "freepointer", "setpointer",
                                           "attributes", "showpointer", "hidepointer", "movepointer",
                                           "pixel",      "line",        "fill",        "picture blit",
                                           "picture masked", "picture alpha", "picture colour", "picture fill",
                                           "picture pixel", "picture line", "grab", "cls",
                                           "readpixels",    "freepixels", "prepare", "plane fill",
                                           "plane pixel",   "plane line", "plane blit", "check"};
// Where MovePointer put the pointer, for GetMousePos.
int32_t gPointerX = 0, gPointerY = 0;
std::atomic<int> gCounts[kCounted];
// The modes the pixel forms and the blits drawing into a plane came with,
// ORed, and the planes prepared (the tag's plane numbers ORed).
uint32_t gPlanePixelModes = 0, gPlaneBlitModes = 0, gPrepared = 0;
// The modes of the picture form's blits from pictures that are not video
// bitmaps, ORed.
uint32_t gPlainSourceModes = 0;

// With VL_XADAPTER_TIMERS it is the timer adapter too: its timers expire
// in HandleEvents, which runs their handlers through RunHandlerById.
struct AdapterTimer {
  bool active;
  bool oneShot;
  uint32_t period;
  long due;  // monotonic milliseconds
};
AdapterTimer gTimers[16];
int gRegistered = 0, gFreed = 0;
// What SetTimerAdapter answered without the capability and, later, outside
// the plug-ins' initialisation.
int gTimerRefusals[2] = {-1, -1};
vlPluginInfo* gInfo = nullptr;
long NowMillis() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// What the tests check was made by the adapter, to VL_XADAPTER_LOG.
void Log(const char* what, int32_t w, int32_t h) {
  const char* path = std::getenv("VL_XADAPTER_LOG");
  if (std::FILE* f = path ? std::fopen(path, "a") : nullptr) {
    std::fprintf(f, "%s %dx%d\n", what, w, h);
    std::fclose(f);
  }
}

void Present(Surface* s, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (s->buffered) return;
  if (x < 0) w += x, x = 0;
  if (y < 0) h += y, y = 0;
  if (w > s->width - x) w = s->width - x;
  if (h > s->height - y) h = s->height - y;
  if (w <= 0 || h <= 0) return;
  XPutImage(gX, s->window, s->gc, s->image, x, y, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
  XFlush(gX);
}

void Fill(Surface* s, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color) {
  for (int32_t j = y; j < y + h; ++j)
    for (int32_t i = x; i < x + w; ++i)
      if (i >= 0 && j >= 0 && i < s->width && j < s->height) s->pixels[j * s->width + i] = color & 0xFFFFFF;
  Present(s, x, y, w, h);
}

// The adapter's own scaling and transformation, nearest pixel centre:
// each result pixel takes the source pixel its centre maps back to (a 2x2
// matrix x' = x m0 + y m2, y' = x m1 + y m3 about the result's bounds, or
// a plain scale from sw x sh); outside the source it stays transparent.
void WorkOn(const VideoBitmap* src, int32_t sw, int32_t sh, const double* m, VideoBitmap* to) {
  double a = static_cast<double>(sw) / to->width, b = 0, c = 0, d = static_cast<double>(sh) / to->height;
  double ox = 0, oy = 0;
  if (m) {
    const double det = m[0] * m[3] - m[2] * m[1];
    if (det == 0) return;
    a = m[3] / det, b = -m[2] / det, c = -m[1] / det, d = m[0] / det;
    double minX = 0, minY = 0;
    const double cx[4] = {0, static_cast<double>(sw), 0, static_cast<double>(sw)};
    const double cy[4] = {0, 0, static_cast<double>(sh), static_cast<double>(sh)};
    for (int i = 0; i < 4; ++i) {
      const double px = cx[i] * m[0] + cy[i] * m[2], py = cx[i] * m[1] + cy[i] * m[3];
      if (i == 0 || px < minX) minX = px;
      if (i == 0 || py < minY) minY = py;
    }
    ox = minX, oy = minY;
  }
  for (int32_t j = 0; j < to->height; ++j)
    for (int32_t i = 0; i < to->width; ++i) {
      const double X = i + 0.5 + ox, Y = j + 0.5 + oy;
      const double fx = a * X + b * Y, fy = c * X + d * Y;
      const int32_t x = static_cast<int32_t>(std::floor(fx)), y = static_cast<int32_t>(std::floor(fy));
      if (x >= 0 && y >= 0 && x < src->width && y < src->height)
        to->pixels[j * to->width + i] = src->pixels[y * src->width + x];
    }
}

// Drawing into its own pictures (ARGB words), as the player's software
// draws: a set mask bit copies, alpha 0 keeps, 255 copies, between them
// each channel moves (s - d) * a >> 8 toward the source.
uint32_t* PictureAt(VideoBitmap* b, int32_t x, int32_t y) {
  return x >= 0 && y >= 0 && x < b->width && y < b->height ? &b->pixels[y * b->width + x] : nullptr;
}
uint32_t Blend(uint32_t d, uint32_t s, int32_t a) {
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int32_t dc = (d >> shift) & 0xFF, sc = (s >> shift) & 0xFF;
    out |= static_cast<uint32_t>((dc + (((sc - dc) * a) >> 8)) & 0xFF) << shift;
  }
  return out;
}
// A hardware brush's mask and alpha channel are its alpha bytes (a mask
// bit is set where the byte is not 0). Drawing into them changes those
// alone: the word plane << 8 | value of the pixel forms, and a blit by the
// source's coverage c (see the header's "Planes").
uint32_t PlaneByte(uint32_t plane, int32_t value, int32_t old, int32_t c, bool blit, bool alphaSource) {
  if (plane == VL_PLANE_MASK) {
    const bool s = c != 0, was = old != 0;
    bool now = was;
    switch (value) {
      case 0: case 5: now = blit ? was || s : true; break;
      case 1: now = blit ? was && !s : false; break;
      case 2: now = blit ? s : true; break;
      case 3: now = s ? !was : was; break;
      case 4: now = blit ? was && s : was; break;
      default: break;
    }
    return now ? 255 : 0;
  }
  if (value >= 0) return c ? static_cast<uint32_t>(value) : static_cast<uint32_t>(old);
  if (alphaSource) return static_cast<uint32_t>(c);
  return c ? 255 : static_cast<uint32_t>(old);
}
void SetAlphaByte(uint32_t* p, uint32_t a) { *p = (*p & 0xFFFFFF) | (a & 0xFF) << 24; }
void PlanePoint(VideoBitmap* b, int32_t x, int32_t y, uint32_t word, uint32_t mode) {
  gPlanePixelModes |= mode;
  if (uint32_t* p = PictureAt(b, x, y))
    SetAlphaByte(p, PlaneByte(word >> 8, static_cast<int32_t>(word & 0xFF), static_cast<int32_t>(*p >> 24), 255, false,
                              false));
}
// Combo mode (the header's "Combo"): the colour and the alpha byte of a
// target pixel change together by the source's coverage a; an alpha
// source's by the alpha mode. A target keeping a mask takes the coverage
// as mask bits, an alpha source's blended colours as ever.
void ComboPixel(uint32_t* to, uint32_t from, int32_t a, bool alphaSource, uint32_t alphaMode, bool keepsMask) {
  const int32_t t = static_cast<int32_t>(*to >> 24);
  const uint32_t s = from & 0xFFFFFF;
  if (keepsMask) {
    const uint32_t colour = a == 255 || (!alphaSource && a) ? s : a ? Blend(*to, from, a) : *to & 0xFFFFFF;
    *to = ((alphaSource ? a == 255 : a != 0) ? 0xFF000000u : 0u) | colour;
  } else if (!alphaSource || alphaMode == 0 || (alphaMode == 1 && a) || a == 255) {
    if (!alphaSource && !a) return;
    *to = static_cast<uint32_t>(alphaSource ? a : 255) << 24 | s;
  } else if (alphaMode == 2 && a) {
    const int32_t o = std::min(255, ((255 - a) * t + 255 * a + 127) / 255), k = ((255 - a) * t + 127) / 255;
    uint32_t out = static_cast<uint32_t>(o) << 24;
    for (int shift = 0; shift < 24; shift += 8) {
      const int32_t sc = (from >> shift) & 0xFF, dc = (*to >> shift) & 0xFF;
      out |= static_cast<uint32_t>(std::min(255, (sc * a + dc * k + 127) / o)) << shift;
    }
    *to = out;
  }
}
// The colour of the pixel forms; in combo mode the pixel becomes opaque.
void ColourPoint(VideoBitmap* b, int32_t x, int32_t y, uint32_t color, uint32_t mode) {
  if (uint32_t* p = PictureAt(b, x, y))
    *p = ((mode & VL_PIXMODE_COMBO) ? 0xFF000000u : *p & 0xFF000000u) | (color & 0xFFFFFF);
}
void PictureBlit(VideoBitmap* src, VideoBitmap* dst, const vlAdapterBlitBlock* k, uint32_t mode) {
  const auto* mask = static_cast<const VideoBitmap*>(k->maskHandle);
  const auto* alpha = static_cast<const VideoBitmap*>(k->alphaHandle);
  const bool plane = mode & VL_BLITMODE_PLANE;
  if (plane) gPlaneBlitModes |= mode;
  const bool keyed = (mode & VL_BLITMODE_COMBO) && k->reserved[2] == 1 && src && !mask && !alpha;
  for (int32_t j = 0; j < k->height; ++j)
    for (int32_t i = 0; i < k->width; ++i) {
      const int32_t sx = k->srcX + i, sy = k->srcY + j;
      // Without a source the colour goes through the alpha plane.
      uint32_t colour = k->reserved[0];
      uint32_t* from = src ? PictureAt(src, sx, sy) : &colour;
      uint32_t* to = PictureAt(dst, k->dstX + i, k->dstY + j);
      if (!from || !to) continue;
      // The coverage: the mask bit, the alpha plane's byte, or a source
      // whose alpha counts blended by its own alpha bytes.
      int32_t a = 255;
      if (mask) a = (mask->bytes[sy * mask->rowBytes + (sx >> 3)] >> (7 - (sx & 7))) & 1 ? 255 : 0;
      else if (alpha) a = alpha->bytes[sy * alpha->rowBytes + sx];
      else if (src && src->alpha) a = static_cast<int32_t>(*from >> 24);
      // In combo mode a keyed source's alpha bytes are mask bits.
      if (keyed) a = a ? 255 : 0;
      if (plane) {
        SetAlphaByte(to, PlaneByte(k->reserved[1], static_cast<int32_t>(k->reserved[2]), static_cast<int32_t>(*to >> 24),
                                   a, true, alpha || (src && src->alpha && !mask)));
        continue;
      }
      if (mode & VL_BLITMODE_COMBO) {
        ComboPixel(to, *from, a, alpha || (src && src->alpha && !mask && !keyed), k->reserved[0],
                   k->reserved[1] == VL_PLANE_MASK);
        continue;
      }
      // The colour changes; the target's alpha bytes stay.
      const uint32_t keep = *to & 0xFF000000u;
      if (a == 255) *to = keep | (*from & 0xFFFFFF);
      else if (a) *to = keep | Blend(*to, *from, a);
    }
}
// A crossfade's mix, each channel rounded: (under x (255 - level) + over x
// level) / 255.
uint32_t Mix(uint32_t under, uint32_t over, int32_t level) {
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int32_t u = (under >> shift) & 0xFF, o = (over >> shift) & 0xFF;
    out |= static_cast<uint32_t>((u * (255 - level) + o * level + 127) / 255) << shift;
  }
  return out;
}
// Each mix is logged with its level; with VL_XADAPTER_MIXHOLD=n the nth
// waits, once shown, until the test has grabbed the window: it makes the
// log's name + ".held" and waits for the log's name + ".go".
int gMixes = 0;
void HoldMix(int32_t level) {
  Log("mix level", level, ++gMixes);
  const char* hold = std::getenv("VL_XADAPTER_MIXHOLD");
  const char* log = std::getenv("VL_XADAPTER_LOG");
  if (!hold || !log || std::atoi(hold) != gMixes) return;
  const std::string held = std::string(log) + ".held", go = std::string(log) + ".go";
  if (std::FILE* f = std::fopen(held.c_str(), "w")) std::fclose(f);
  for (int i = 0; i < 3000 && access(go.c_str(), F_OK) != 0; ++i) usleep(10000);
}
// Each step along the longer axis takes the pixel nearest the exact line,
// a half rounded away from the end with the smaller coordinate.
template <typename Put>
void LinePixels(int32_t x1, int32_t y1, int32_t x2, int32_t y2, Put put) {
  const bool steep = std::abs(y2 - y1) > std::abs(x2 - x1);
  int32_t m1 = steep ? y1 : x1, n1 = steep ? x1 : y1, m2 = steep ? y2 : x2, n2 = steep ? x2 : y2;
  if (m1 > m2) std::swap(m1, m2), std::swap(n1, n2);
  const int64_t dm = m2 - m1, dn = n2 - n1;
  for (int64_t k = 0; k <= dm; ++k) {
    const int64_t along = dm ? static_cast<int64_t>(std::floor((2.0 * std::llabs(dn) * k + dm) / (2.0 * dm))) : 0;
    const int32_t m = static_cast<int32_t>(m1 + k), n = static_cast<int32_t>(n1 + (dn < 0 ? -along : along));
    put(steep ? n : m, steep ? m : n);
  }
}

}  // namespace

EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* svc, const char*, void*) {
  gSvc = svc;
  info->version = 1;
  info->moduleName = "xadapter";
  info->name = "X test adapter";
  info->capabilities = PLUGINCAPS_DISPLAYADAPTER;
  // With VL_XADAPTER_FRAMECALLS it is only a requester adapter for every
  // kind, called through the plug-in frame call.
  if (const char* frame = std::getenv("VL_XADAPTER_FRAMECALLS"); frame && *frame == '1') {
    info->capabilities = PLUGINCAPS_REQUESTERADAPTER;
    info->requesterFlags = 0xFE;
    info->callKind = 2;
    return svc->requesters->SetRequesterAdapter(info, 0) == 0;
  }
  // Monitor information, screen grabs (and so drawing into hardware
  // brushes and their planes), drawing on displays not open: the gate of
  // its hardware brushes. VL_XADAPTER_NOGATE leaves the gate shut.
  info->displayCaps = 4 | 8 | VL_DISPCAPS_DRAWCLOSED;
  if (const char* gate = std::getenv("VL_XADAPTER_NOGATE"); gate && *gate == '1')
    info->displayCaps &= ~uint32_t{VL_DISPCAPS_DRAWCLOSED};
  // Video bitmaps; with VL_XADAPTER_OWNS every bitmap and plane as well.
  const char* owns = std::getenv("VL_XADAPTER_OWNS");
  info->displayFlags = owns && *owns == '1' ? 16 | 32 : 16;
  info->displayCaps2 = 16;     // hardware brushes
  // With VL_XADAPTER_MIX it mixes pictures in hardware.
  if (const char* mix = std::getenv("VL_XADAPTER_MIX"); mix && *mix == '1') info->displayCaps2 |= VL_DISPCAPS2_MIXES;
  // With VL_XADAPTER_ENGINES it scales (bit 0) and transforms (bit 1) its
  // pictures itself.
  const char* engines = std::getenv("VL_XADAPTER_ENGINES");
  // It then also keeps brushes for any display, so copies may be its own.
  if (engines && *engines == '1') info->displayCaps |= 1 | 2, info->displayCaps2 |= 2;
  // With VL_XADAPTER_DISPLAYS it keeps brushes for any display alone.
  if (const char* displays = std::getenv("VL_XADAPTER_DISPLAYS"); displays && *displays == '1')
    info->displayCaps2 |= VL_DISPCAPS2_DISPLAYS;
  // With VL_XADAPTER_NODRAWBRUSH its hardware brushes cannot be drawn into.
  const char* noDraw = std::getenv("VL_XADAPTER_NODRAWBRUSH");
  if (noDraw && *noDraw == '1') info->displayCaps &= ~4u;
  // With VL_XADAPTER_ACCEL (bits) it draws into its pictures itself.
  if (const char* accel = std::getenv("VL_XADAPTER_ACCEL")) info->displayAccel = static_cast<uint32_t>(std::atoi(accel));
  const char* block = std::getenv("VL_XADAPTER_BLOCK");
  gBlock = block && *block == '1';
  if (gBlock && pipe(gWake) != 0) return 0;
  if (gBlock) info->displayCaps |= 1 | 2;  // its own Sleep and VWait
  const char* timers = std::getenv("VL_XADAPTER_TIMERS");
  if (timers && *timers == '1') {
    // Without the capability it is refused; with it, it is the adapter.
    vlPluginInfo plain{};
    gTimerRefusals[0] = svc->system->SetTimerAdapter(&plain, 0);
    info->capabilities |= PLUGINCAPS_TIMERADAPTER;
    // Locked, it says so in its info block, and no adapter replaces it.
    if (svc->system->SetTimerAdapter(info, 1) != 0) return 0;
    Log("timer lock word", static_cast<int32_t>(info->adapterWords[1]), svc->system->SetTimerAdapter(info, 0));
    gInfo = info;
  }
  // The blocking adapter also answers system requesters itself.
  if (gBlock) {
    info->capabilities |= PLUGINCAPS_REQUESTERADAPTER;
    info->requesterFlags = 2;
    if (svc->requesters->SetRequesterAdapter(info, 0) != 0) return 0;
  }
  using SetAdapter = int (*)(vlPluginInfo*, uintptr_t, const vlTagItem*);
  return vlSlotAs<SetAdapter>(svc->graphics->slot[13])(info, 0, nullptr) == 0;
}

EXPORT void ClosePlugin() {
  Log("made, left", gMade.load(), gOwned.load());
  if (gRegistered) Log("timers registered, freed", gRegistered, gFreed);
  if (gRegistered) Log("timer adapter refused", gTimerRefusals[0], gTimerRefusals[1]);
  const char* counts = std::getenv("VL_XADAPTER_COUNTS");  // logged at the end
  if (gBlock || (counts && *counts == '1'))
    for (int i = 0; i < kCounted; ++i) Log(kCountNames[i], gCounts[i].load(), 0);
  if (gPrepared) Log("plane modes", static_cast<int32_t>(gPlanePixelModes), static_cast<int32_t>(gPlaneBlitModes));
  if (gPrepared) Log("prepared planes", static_cast<int32_t>(gPrepared), 0);
  if (gPlainSourceModes) Log("plain source blit modes", static_cast<int32_t>(gPlainSourceModes), 0);
  if (gX) XCloseDisplay(gX);
  gX = nullptr;
}

// Button presses and releases on the adapter's windows become adapter input
// of display 1 (X buttons 1, 3, 2 are the left, right and middle ones).
EXPORT uintptr_t RegisterTimer(vlVMState*, uint32_t millis, int oneShot) {
  if (gTimerRefusals[1] == -1) gTimerRefusals[1] = gSvc->system->SetTimerAdapter(gInfo, 0);
  for (int i = 0; i < 16; ++i)
    if (!gTimers[i].active) {
      gTimers[i] = {true, oneShot != 0, millis, NowMillis() + static_cast<long>(millis)};
      ++gRegistered;
      return static_cast<uintptr_t>(i + 1);
    }
  return 0;
}
EXPORT void FreeTimer(uintptr_t handle) {
  if (handle >= 1 && handle <= 16 && gTimers[handle - 1].active) {
    gTimers[handle - 1].active = false;
    ++gFreed;
  }
}
EXPORT int HandleEvents(vlVMState* state, uint32_t context, uintptr_t) {
  if (context == 4) ++gCounts[kCheck];  // the pump of CheckEvent and CheckEvents
  // Expired timers first; a handler may free or make timers meanwhile.
  for (int i = 0; i < 16; ++i) {
    AdapterTimer& t = gTimers[i];
    if (!t.active || NowMillis() < t.due) continue;
    if (t.oneShot) {
      t.active = false;
      ++gFreed;
    } else {
      t.due += t.period;
    }
    gSvc->system->RunHandlerById(state, reinterpret_cast<void*>(static_cast<uintptr_t>(i + 1)));
  }
  // The frames the video threads queued, and the devices.
  if (int r = gSvc->system->ServiceEvents(state, 2)) return r;
  while (gX && XPending(gX)) {
    XEvent e;
    XNextEvent(gX, &e);
    if (e.type == ButtonPress || e.type == ButtonRelease) {
      const unsigned b = e.xbutton.button;
      const uintptr_t button = b == 1 ? 1 : b == 3 ? 2 : b == 2 ? 3 : 0;
      if (!button) continue;
      const vlAdapterEvent event = {1, {static_cast<uintptr_t>(e.xbutton.x), static_cast<uintptr_t>(e.xbutton.y),
                                        button, e.type == ButtonPress ? 1u : 0u}};
      if (int r = gSvc->system->PostAdapterEventVM(state, VL_AEV_MOUSE, reinterpret_cast<const uintptr_t*>(&event), 0)) return r;
    }
  }
  return 0;
}
// Waits a little for X input (or, blocking, until input or a forced
// iteration); the player pumps after each wait.
EXPORT int WaitEvents(vlVMState*, uint32_t, uintptr_t*, uintptr_t) {
  if (gBlock) {
    ++gCounts[kWait];
    pollfd p[2] = {{gWake[0], POLLIN, 0}, {gX ? ConnectionNumber(gX) : -1, POLLIN, 0}};
    if (!(gX && XPending(gX))) poll(p, 2, -1);
    char drain[64];
    if (p[0].revents & POLLIN) (void)!read(gWake[0], drain, sizeof drain);
    return 0;
  }
  if (gX && !XPending(gX)) {
    pollfd p{ConnectionNumber(gX), POLLIN, 0};
    poll(&p, 1, 20);
  }
  return 0;
}
EXPORT int ForceEventLoopIteration(uint32_t) {
  ++gCounts[kForce];
  if (gBlock) (void)!write(gWake[1], "w", 1);
  return 0;
}
// Sleeps the time, taking its X input meanwhile.
EXPORT int Sleep(vlVMState* state, int32_t millis) {
  // Its first wait asks through the service table, over the script's display.
  if (gCounts[kSleep]++ == 0 && gBlock)
    Log("service answer", gSvc->requesters->SystemRequestSvc("s", "b", "Yes|No"), 0);
  timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long spent = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (spent >= millis) return 0;
    if (int r = HandleEvents(state, 0, 0)) return r;
    usleep(static_cast<useconds_t>(std::min<long>(millis - spent, 5)) * 1000);
  }
}
EXPORT int VWait(void*, const vlTagItem*) {
  ++gCounts[kVWait];
  usleep(16000);
  return 0;
}
EXPORT uint32_t GetQualifiers(void*) {
  ++gCounts[kQualifiers];
  return 0x80000000u | 0x10000u;  // left shift held
}
EXPORT void* CreatePointer(const uint32_t*, int32_t, int32_t, int32_t, int32_t, uint32_t) {
  ++gCounts[kCreatePointer];
  return std::calloc(1, 1);
}
EXPORT void FreePointer(void* pointer) {
  ++gCounts[kFreePointer];
  std::free(pointer);
}
EXPORT int SetPointer(void*, int, void*) {
  ++gCounts[kSetPointer];
  return 0;
}
EXPORT int DetermineBorderSizes(void*, int32_t* l, int32_t* r, int32_t* t, int32_t* b) {
  *l = *r = *t = *b = 0;
  return 0;
}
EXPORT void* OpenDisplay(const char* title, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t,
                         const vlTagItem* tags) {
  if (!gX && !(gX = XOpenDisplay(nullptr))) return nullptr;
  Log("open", w, h);
  // A scaled display's scaled size and smooth flag.
  if (GetTagValue(tags, 10, 0))
    Log(GetTagValue(tags, 12, 0) ? "open smooth scaled" : "open scaled", static_cast<int32_t>(GetTagValue(tags, 10, 0)),
        static_cast<int32_t>(GetTagValue(tags, 11, 0)));
  // With VL_XADAPTER_MARK it marks the display (its second capability
  // word): the player then hands it transition frames whole.
  const char* mark = std::getenv("VL_XADAPTER_MARK");
  if (auto* caps = reinterpret_cast<uint32_t*>(GetTagValue(tags, 4, 0)); caps && mark && *mark == '1') *caps = 1;
  auto* s = static_cast<Surface*>(std::calloc(1, sizeof(Surface)));
  s->x = x;
  s->y = y;
  s->width = w;
  s->height = h;
  s->pixels = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(w) * h, 4));
  const int screen = DefaultScreen(gX);
  s->window = XCreateSimpleWindow(gX, RootWindow(gX, screen), x, y, static_cast<unsigned>(w),
                                  static_cast<unsigned>(h), 0, 0, 0);
  XStoreName(gX, s->window, title ? title : "");
  XSelectInput(gX, s->window, ButtonPressMask | ButtonReleaseMask | ExposureMask);
  s->gc = XCreateGC(gX, s->window, 0, nullptr);
  s->image = XCreateImage(gX, DefaultVisual(gX, screen), 24, ZPixmap, 0, reinterpret_cast<char*>(s->pixels),
                          static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
  XMapWindow(gX, s->window);
  XSync(gX, False);
  return s;
}
EXPORT int CloseDisplay(void* handle) {
  auto* s = static_cast<Surface*>(handle);
  s->image->data = nullptr;  // the pixels are ours
  XDestroyImage(s->image);
  XFreeGC(gX, s->gc);
  XDestroyWindow(gX, s->window);
  XFlush(gX);
  std::free(s->pixels);
  std::free(s);
  return 0;
}
// A new size starts black, as the player redraws it.
EXPORT int ChangeBufferSize(void* handle, int32_t w, int32_t h) {
  auto* s = static_cast<Surface*>(handle);
  Log("size", w, h);
  auto* pixels = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(w) * h, 4));
  if (!pixels) return 1000;
  s->image->data = nullptr;
  XDestroyImage(s->image);
  std::free(s->pixels);
  s->pixels = pixels;
  s->width = w;
  s->height = h;
  s->image = XCreateImage(gX, DefaultVisual(gX, DefaultScreen(gX)), 24, ZPixmap, 0, reinterpret_cast<char*>(pixels),
                          static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
  XResizeWindow(gX, s->window, static_cast<unsigned>(w), static_cast<unsigned>(h));
  XFlush(gX);
  return 0;
}
EXPORT int ShowHideDisplay(void*, int) { return 0; }
// The window stays where it is; the place is kept for the grabs.
EXPORT int SizeMoveDisplay(void* handle, int32_t x, int32_t y, int32_t, int32_t) {
  static_cast<Surface*>(handle)->x = x;
  static_cast<Surface*>(handle)->y = y;
  return 0;
}
EXPORT int SetDisplayTitle(void* handle, const char* title) {
  XStoreName(gX, static_cast<Surface*>(handle)->window, title ? title : "");
  XFlush(gX);
  return 0;
}
EXPORT int ActivateDisplay(void*, int) { return 0; }
// Counts the calls that say the script handles the close button.
EXPORT int SetDisplayAttributes(void*, const vlTagItem* tags) {
  if (GetTagValue(tags, 1, 0)) ++gCounts[kAttributes];
  return 0;
}
EXPORT int ShowHidePointer(void*, int show) {
  ++gCounts[show ? kShowPointer : kHidePointer];
  return 0;
}
// The pointer stays where the player last moved it.
EXPORT int MovePointer(void*, int32_t x, int32_t y) {
  ++gCounts[kMovePointer];
  gPointerX = x, gPointerY = y;
  return 0;
}
EXPORT int GetMousePos(void*, int32_t* x, int32_t* y) {
  *x = gPointerX, *y = gPointerY;
  return 0;
}

// The display form: the source is a player picture, its pixels come
// through the service table. The picture form: both are its own.
EXPORT int BltBitMap(void* handle, void* source, const void* params, uint32_t mode) {
  if (mode) {
    const auto* k = static_cast<const vlAdapterBlitBlock*>(params);
    // (source picture, target picture, block, mode)
    ++gCounts[(mode & VL_BLITMODE_PLANE) ? kPlaneBlit
              : !handle                   ? kPictureColour
              : k->maskHandle             ? kPictureMasked
              : k->alphaHandle            ? kPictureAlpha
                                          : kPictureBlit];
    if (!(mode & (VL_BLITMODE_SOURCEVIDEO | VL_BLITMODE_PLANE | VL_BLITMODE_COLOR))) gPlainSourceModes |= mode;
    PictureBlit(static_cast<VideoBitmap*>(handle), static_cast<VideoBitmap*>(source), k, mode);
    return 0;
  }
  const auto* tags = static_cast<const vlTagItem*>(params);
  auto* s = static_cast<Surface*>(handle);
  // The picture's rectangle as ARGB words (graphics slot 25).
  auto tag = [&](uint32_t t) { return static_cast<int32_t>(GetTagValue(tags, t, 0)); };
  const int32_t sx = tag(1), sy = tag(2), x = tag(3), y = tag(4), w = tag(5), h = tag(6);
  const int32_t r[4] = {x, y, w, h};
  using ReadARGB = uint32_t* (*)(void*, int32_t, int32_t, const vlTagItem*);
  const vlTagItem size[] = {{3, static_cast<uintptr_t>(w)}, {4, static_cast<uintptr_t>(h)}, {VL_TAG_END, 0}};
  // With VL_XADAPTER_MIX it mixes a crossfade's frames itself: the second
  // picture of tag 9 under the first by the level of tag 8.
  void* base = reinterpret_cast<void*>(GetTagValue(tags, 9, 0));
  const int32_t level = tag(8);
  uint32_t* under = base ? vlSlotAs<ReadARGB>(gSvc->graphics->slot[25])(base, sx, sy, size) : nullptr;
  if (uint32_t* argb = vlSlotAs<ReadARGB>(gSvc->graphics->slot[25])(source, sx, sy, size)) {
    for (int32_t j = 0; j < h; ++j)
      for (int32_t i = 0; i < w; ++i)
        if (x + i >= 0 && y + j >= 0 && x + i < s->width && y + j < s->height)
          s->pixels[(y + j) * s->width + x + i] =
              under ? Mix(under[j * w + i], argb[j * w + i], level) : argb[j * w + i] & 0xFFFFFF;
    vlSlotAs<void (*)(uint32_t*)>(gSvc->graphics->slot[7])(argb);
  }
  if (under) vlSlotAs<void (*)(uint32_t*)>(gSvc->graphics->slot[7])(under);
  // With VL_XADAPTER_BLITS the size of each rectangle it was handed.
  const char* blits = std::getenv("VL_XADAPTER_BLITS");
  if (blits && *blits == '1')
    Log("blit", static_cast<int32_t>(GetTagValue(tags, 5, 0)), static_cast<int32_t>(GetTagValue(tags, 6, 0)));
  Present(s, r[0], r[1], r[2], r[3]);
  if (base) HoldMix(level);
  return 0;
}
EXPORT int RectFill(void* handle, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, uint32_t mode,
                    uint32_t) {
  if (mode & VL_PIXMODE_PLANE) {
    ++gCounts[kPlaneFill];
    for (int32_t j = y; j < y + h; ++j)
      for (int32_t i = x; i < x + w; ++i) PlanePoint(static_cast<VideoBitmap*>(handle), i, j, color, mode);
    return 0;
  }
  if (mode) {
    ++gCounts[kPictureFill];
    for (int32_t j = y; j < y + h; ++j)
      for (int32_t i = x; i < x + w; ++i)
        ColourPoint(static_cast<VideoBitmap*>(handle), i, j, color, mode);
    return 0;
  }
  ++gCounts[kFill];
  Fill(static_cast<Surface*>(handle), x, y, w, h, color);
  return 0;
}
EXPORT int WritePixel(void* handle, int32_t x, int32_t y, uint32_t color, uint32_t mode, uint32_t) {
  if (mode & VL_PIXMODE_PLANE) {
    ++gCounts[kPlanePixel];
    PlanePoint(static_cast<VideoBitmap*>(handle), x, y, color, mode);
    return 0;
  }
  if (mode) {
    ++gCounts[kPicturePixel];
    ColourPoint(static_cast<VideoBitmap*>(handle), x, y, color, mode);
    return 0;
  }
  ++gCounts[kPixel];
  Fill(static_cast<Surface*>(handle), x, y, 1, 1, color);
  return 0;
}
EXPORT int Line(void* handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color, uint32_t mode,
                uint32_t) {
  if (mode & VL_PIXMODE_PLANE) {
    ++gCounts[kPlaneLine];
    LinePixels(x1, y1, x2, y2, [&](int32_t x, int32_t y) { PlanePoint(static_cast<VideoBitmap*>(handle), x, y, color, mode); });
    return 0;
  }
  if (mode) {
    ++gCounts[kPictureLine];
    LinePixels(x1, y1, x2, y2,
               [&](int32_t x, int32_t y) { ColourPoint(static_cast<VideoBitmap*>(handle), x, y, color, mode); });
    return 0;
  }
  ++gCounts[kLine];
  auto* s = static_cast<Surface*>(handle);
  LinePixels(x1, y1, x2, y2, [&](int32_t x, int32_t y) {
    if (x >= 0 && y >= 0 && x < s->width && y < s->height) s->pixels[y * s->width + x] = color & 0xFFFFFF;
  });
  Present(s, std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1) + 1, std::abs(y2 - y1) + 1);
  return 0;
}

EXPORT int GetMonitorInfo(int kind, int, void* out, int) {
  static int32_t monitors[] = {0, 0, 1280, 1024, 0, 0, 0, 0};
  // Modes out of order: the player sorts them.
  static int32_t modes[] = {800, 600, 24, 640, 480, 24, 800, 480, 24, 0, 0, 0};
  *static_cast<int32_t**>(out) = kind == 0 ? monitors : modes;
  return 0;
}
EXPORT void FreeMonitorInfo(int, void*) {}
// A system requester tells the size of the display it came over (0x0 for
// none), the button kind and whether the buttons came as text; the second
// button is chosen. The other requesters are refused.
EXPORT int SystemRequest(void* handle, const char*, const char*, uint32_t kind, int32_t* result,
                         const vlTagItem* tags) {
  const auto* s = static_cast<const Surface*>(handle);
  Log("request over", s ? s->width : 0, s ? s->height : 0);
  Log("request kind", static_cast<int32_t>(kind), GetTagValue(tags, 2, 0) != 0);
  *result = 2;
  return 0;
}
EXPORT int FileRequest(void*, const char*, uint32_t, char**, const vlTagItem*) { return 1; }
EXPORT int PathRequest(void*, const char*, uint32_t, char**, const vlTagItem*) { return 1; }
EXPORT int StringRequest(void*, const char*, const char*, uint32_t, char**, const vlTagItem*) { return 1; }
EXPORT int ListRequest(void*, const char*, const char*, const char*, uint32_t, int32_t*, const vlTagItem*, void*) {
  return 1;
}
EXPORT int FontRequest(void*, const char*, char**, uint32_t*, const vlTagItem*) { return 1; }
EXPORT int ColorRequest(void*, const char*, uint32_t, int32_t*, const vlTagItem*) { return 1; }
EXPORT void FreeRequest(uint32_t, void*) {}
// The screen as far as it knows it: its window's pixels where the window
// is, black elsewhere; opaque ARGB words, freed by FreeGrabScreenPixels.
EXPORT uint32_t* GrabScreenPixels(void* handle, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t, uint32_t) {
  ++gCounts[kGrab];
  const auto* s = static_cast<const Surface*>(handle);
  auto* out = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(w) * h * 4));
  if (!out) return nullptr;
  for (int32_t j = 0; j < h; ++j)
    for (int32_t i = 0; i < w; ++i) {
      const int32_t sx = x + i - s->x, sy = y + j - s->y;
      const bool in = sx >= 0 && sy >= 0 && sx < s->width && sy < s->height;
      out[j * w + i] = 0xFF000000u | (in ? s->pixels[sy * s->width + sx] : 0);
    }
  return out;
}
EXPORT void FreeGrabScreenPixels(void* pixels) { std::free(pixels); }
// Word 16 bit 4 offers the double buffering, so it is taken whenever
// asked: the window's pixels become a black back buffer, shown whole at
// Flip and at the end (the window then shows the last frame drawn, as a
// plain display's does). A refusal would have to be an error code of the
// player's: a smaller number reads as the command's result count.
EXPORT int BeginDoubleBuffer(void* handle, uint32_t) {
  auto* s = static_cast<Surface*>(handle);
  s->buffered = 1;
  std::fill(s->pixels, s->pixels + static_cast<size_t>(s->width) * s->height, 0u);
  return 0;
}
EXPORT int Flip(void* handle, const int32_t*) {
  auto* s = static_cast<Surface*>(handle);
  if (!s->buffered) return 1244;  // "Double buffering mode is not currently active!"
  s->buffered = 0;
  Present(s, 0, 0, s->width, s->height);
  s->buffered = 1;
  return 0;
}
EXPORT int EndDoubleBuffer(void* handle, uint32_t) {
  auto* s = static_cast<Surface*>(handle);
  if (!s->buffered) return 1244;
  s->buffered = 0;
  Present(s, 0, 0, s->width, s->height);
  return 0;
}
EXPORT int Cls(void* handle, uint32_t color, uint32_t) {
  ++gCounts[kCls];
  auto* s = static_cast<Surface*>(handle);
  Fill(s, 0, 0, s->width, s->height, color);
  return 0;
}

// Video bitmaps: ARGB words made from tag 1 (an ARGB buffer, or with flag 2
// another video bitmap).
EXPORT void* AllocVideoBitMap(int32_t w, int32_t h, uint32_t flags, const vlTagItem* tags) {
  // Words with one of its own pictures ask it to scale or transform that
  // picture; without words such a picture is copied.
  const bool engine = (flags & 2) && GetTagValue(tags, 2, 0);
  const bool transform = engine && GetTagValue(tags, 5, 0);
  Log(transform ? "transform" : engine ? "scale" : (flags & 2) ? "copy" : "video", w, h);
  auto* b = static_cast<VideoBitmap*>(std::calloc(1, sizeof(VideoBitmap)));
  b->width = w;
  b->height = h;
  b->rowBytes = 4 * w;
  b->pixels = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(w) * h, 4));
  // Tag 1: ARGB words, or with flag 2 one of its own pictures.
  const uintptr_t source = GetTagValue(tags, VL_VBM_SOURCE, 0);
  b->alpha = (flags & VL_VBM_ALPHA) ||
             (source && (flags & VL_VBM_ADAPTERSOURCE) && reinterpret_cast<const VideoBitmap*>(source)->alpha);
  const uint32_t* from = !source                          ? nullptr
                         : (flags & VL_VBM_ADAPTERSOURCE) ? reinterpret_cast<const VideoBitmap*>(source)->pixels
                                                          : reinterpret_cast<const uint32_t*>(source);
  if (engine && from) {
    const auto* src = reinterpret_cast<const VideoBitmap*>(GetTagValue(tags, 1, 0));
    WorkOn(src, static_cast<int32_t>(GetTagValue(tags, 2, 0)), static_cast<int32_t>(GetTagValue(tags, 3, 0)),
           transform ? reinterpret_cast<const double*>(GetTagValue(tags, 5, 0)) : nullptr, b);
  } else if (from) {
    std::memcpy(b->pixels, from, 4 * static_cast<size_t>(w) * h);
  }
  return b;
}
EXPORT void FreeVideoBitMap(void* handle) {
  auto* b = static_cast<VideoBitmap*>(handle);
  std::free(b->pixels);
  std::free(b);
}
EXPORT void* ReadVideoPixels(void* handle, vlVideoPixels* record) {
  ++gCounts[kReadPixels];
  auto* b = static_cast<VideoBitmap*>(handle);
  const size_t bytes = 4 * static_cast<size_t>(b->width) * b->height;
  void* out = std::malloc(bytes);
  std::memcpy(out, b->pixels, bytes);
  record->pixels = out;
  record->rowBytes = 4 * b->width;
  record->format = 10;
  record->hasAlpha = b->alpha;
  return out;
}
EXPORT void FreeVideoPixels(void* pixels) {
  ++gCounts[kFreePixels];
  std::free(pixels);
}
// Prepared for drawing into its mask or alpha channel: its alpha bytes
// count from now on, all 255 when they did not.
EXPORT int DoVideoBitMapMethod(void* handle, uint32_t method, const vlTagItem* tags) {
  if (method != VL_VBM_PREPARE) return 0;
  ++gCounts[kPrepare];
  gPrepared |= static_cast<uint32_t>(GetTagValue(tags, 1, 0));
  auto* b = static_cast<VideoBitmap*>(handle);
  if (!b->alpha)
    for (int32_t i = 0; i < b->width * b->height; ++i) b->pixels[i] |= 0xFF000000u;
  b->alpha = 1;
  return 0;
}
EXPORT void* AllocBitMap(int32_t w, int32_t h, uint32_t flags, const vlTagItem* tags) {
  auto* b = static_cast<VideoBitmap*>(std::calloc(1, sizeof(VideoBitmap)));
  b->width = w;
  b->height = h;
  b->kind = (flags & VL_ABM_ALPHAPLANE) ? 1 : (flags & VL_ABM_MASKPLANE) ? 2 : 0;
  if (b->kind == 0) {
    b->pixels = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(w) * h, 4));
    b->rowBytes = 4 * w;
  } else if (uintptr_t buffer = GetTagValue(tags, 2, 0)) {
    b->bytes = reinterpret_cast<uint8_t*>(buffer);
    b->rowBytes = static_cast<int32_t>(GetTagValue(tags, 3, 0));
    b->borrowed = 1;
  } else {
    b->rowBytes = b->kind == 1 ? (w + 3) & ~3 : ((w + 15) >> 3) & ~1;
    b->bytes = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(b->rowBytes) * h));
    if (flags & VL_ABM_CLEAR) std::memset(b->bytes, 0, static_cast<size_t>(b->rowBytes) * h);
  }
  ++gOwned;
  ++gMade;
  return b;
}
EXPORT void FreeBitMap(void* handle) {
  auto* b = static_cast<VideoBitmap*>(handle);
  --gOwned;
  std::free(b->pixels);
  if (!b->borrowed) std::free(b->bytes);
  std::free(b);
}
EXPORT int LockBitMap(void* handle, uint32_t, vlAdapterLock* access) {
  auto* b = static_cast<VideoBitmap*>(handle);
  access->width = b->width;
  access->height = b->height;
  if (b->kind == 0) {
    access->pixels = reinterpret_cast<uint8_t*>(b->pixels);
    access->rowLength = b->width;
    return 1;
  }
  access->pixels = b->bytes;
  access->rowLength = b->rowBytes;
  access->width = b->width;
  access->height = b->height;
  return 1;
}
EXPORT void UnLockBitMap(void*) {}
EXPORT int32_t GetBitMapAttr(void* handle, int32_t code) {
  auto* b = static_cast<VideoBitmap*>(handle);
  return code == 13 || code == b->kind ? b->rowBytes : 0;
}

// Each entry as the type the player calls it through: a signature that
// drifts from the plug-in header fails to build.
[[maybe_unused]] static void CheckEntryTypes(vlPluginInfo* info) {
  info->InitPlugin = InitPlugin;
  info->ClosePlugin = ClosePlugin;
  info->RegisterTimer = RegisterTimer;
  info->FreeTimer = FreeTimer;
  info->HandleEvents = HandleEvents;
  info->WaitEvents = WaitEvents;
  info->ForceEventLoopIteration = ForceEventLoopIteration;
  info->Sleep = Sleep;
  info->VWait = VWait;
  info->GetQualifiers = GetQualifiers;
  info->CreatePointer = CreatePointer;
  info->FreePointer = FreePointer;
  info->SetPointer = SetPointer;
  info->DetermineBorderSizes = DetermineBorderSizes;
  info->OpenDisplay = OpenDisplay;
  info->CloseDisplay = CloseDisplay;
  info->ChangeBufferSize = ChangeBufferSize;
  info->ShowHideDisplay = ShowHideDisplay;
  info->SizeMoveDisplay = SizeMoveDisplay;
  info->SetDisplayTitle = SetDisplayTitle;
  info->ActivateDisplay = ActivateDisplay;
  info->SetDisplayAttributes = SetDisplayAttributes;
  info->ShowHidePointer = ShowHidePointer;
  info->MovePointer = MovePointer;
  info->GetMousePos = GetMousePos;
  info->BltBitMap = BltBitMap;
  info->RectFill = RectFill;
  info->WritePixel = WritePixel;
  info->Line = Line;
  info->GetMonitorInfo = GetMonitorInfo;
  info->FreeMonitorInfo = FreeMonitorInfo;
  info->SystemRequest = SystemRequest;
  info->FileRequest = FileRequest;
  info->PathRequest = PathRequest;
  info->StringRequest = StringRequest;
  info->ListRequest = ListRequest;
  info->FontRequest = FontRequest;
  info->ColorRequest = ColorRequest;
  info->FreeRequest = FreeRequest;
  info->GrabScreenPixels = GrabScreenPixels;
  info->FreeGrabScreenPixels = FreeGrabScreenPixels;
  info->BeginDoubleBuffer = BeginDoubleBuffer;
  info->EndDoubleBuffer = EndDoubleBuffer;
  info->Flip = Flip;
  info->Cls = Cls;
  info->AllocVideoBitMap = AllocVideoBitMap;
  info->FreeVideoBitMap = FreeVideoBitMap;
  info->ReadVideoPixels = ReadVideoPixels;
  info->FreeVideoPixels = FreeVideoPixels;
  info->DoVideoBitMapMethod = DoVideoBitMapMethod;
  info->AllocBitMap = AllocBitMap;
  info->FreeBitMap = FreeBitMap;
  info->LockBitMap = LockBitMap;
  info->UnLockBitMap = UnLockBitMap;
  info->GetBitMapAttr = GetBitMapAttr;
}
