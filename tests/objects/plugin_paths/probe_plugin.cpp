// A probe plug-in built on its own: an image and anim saver (PROBE_SAVER)
// or a display adapter (PROBE_ADAPTER) that records what the player hands
// it and answers as the test tells it (ProbeState). It knows the player only
// through the service table and the records of the plug-in interface.
#include "tests/objects/plugin_paths/probe_plugin.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/objects/plugin_paths/adapter_plugin_util.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const vlServiceTable* gSvc = nullptr;
ProbeState gState;
int gRegisterCalls = 0;

void* Alloc(size_t n) { return gSvc->stdlib->calloc_(n, 1); }
void Free(void* p) { gSvc->stdlib->free_(p); }

}  // namespace

EXPORT ProbeState* GetProbeState() { return &gState; }

EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* svc, const char*, void*) {
  gSvc = svc;
  gState = {};
  gState.saveResult = gState.frameResult = gState.flipResult = 1;
  gState.readFormat = 10;
  info->version = 1;
  info->moduleName = PROBE_MODULE;
  info->name = "Probe";
#ifdef PROBE_ADAPTER
  info->capabilities = PLUGINCAPS_DISPLAYADAPTER;
  info->displayCaps = 4;   // double buffering (and monitor information)
  info->displayFlags = 16;  // video bitmaps
  info->displayCaps2 = 16;     // hardware brushes
  // Adapters are installed while the start-up plug-ins are opened.
  using SetAdapter = int (*)(vlPluginInfo*, uintptr_t, const vlTagItem*);
  if (vlSlotAs<SetAdapter>(svc->graphics->slot[13])(info, 0, nullptr) != 0) return 0;
#else
  info->capabilities = PLUGINCAPS_SAVEIMAGE | PLUGINCAPS_SAVEANIM;
#endif
  return 1;
}

EXPORT void ClosePlugin() {}

// ---- savers ------------------------------------------------------------------

EXPORT void RegisterImageSaver(vlSaverFormat* record) {
  const bool first = gRegisterCalls++ % 2 == 0;
  record->name = first ? "probeargb" : "probepal";
  record->formatId = first ? PROBE_IMG_ARGB : PROBE_IMG_PALETTE;
  record->flags = first ? (VL_SAVERFMT_ARGB | VL_SAVERFMT_ALPHA | 8) : 0;
}

// Writes "PRB1", width, height, flags, then the pixel rows and, for a
// palette picture, the palette, through the player's stream.
EXPORT int SaveImage(void* stream, const vlSaverImage* image, uint32_t format) {
  ++gState.saveCalls;
  gState.saveFormat = format;
  gState.image = *image;
  if (image->palette) std::memcpy(gState.palette, image->palette, 4 * static_cast<size_t>(image->colorCount));
  gState.image.pixels = nullptr;
  gState.image.palette = nullptr;
  if (!gState.saveResult) return 0;
  const int32_t head[4] = {0x31425250, image->width, image->height, static_cast<int32_t>(image->flags)};
  auto write = gSvc->files->WriteFileStream;
  if (write(stream, head, sizeof head) != sizeof head) return 0;
  const auto* rows = static_cast<const uint8_t*>(image->pixels);
  const int32_t bytes = image->palette ? image->width : image->width * 4;
  for (int32_t y = 0; y < image->height; ++y)
    if (write(stream, rows + static_cast<size_t>(y) * image->rowBytes, bytes) != bytes) return 0;
  if (image->palette) write(stream, image->palette, 4 * static_cast<int64_t>(image->colorCount));
  return 1;
}

EXPORT void RegisterAnimSaver(vlSaverFormat* record) {
  const bool first = gRegisterCalls++ % 2 == 0;
  record->name = first ? "probeanim32" : "probeanimpal";
  record->formatId = first ? PROBE_ANIM_ARGB : PROBE_ANIM_PALETTE;
  record->flags = first ? (VL_SAVERFMT_ARGB | VL_SAVERFMT_ALPHA | 16) : 0;
}

// The stream handle is a stdio file holding one line per frame.
EXPORT void* BeginAnimStream(const char* file, int32_t width, int32_t height, uint32_t mode, int32_t quality,
                             int32_t fps) {
  ++gState.beginCalls;
  gState.beginWidth = width;
  gState.beginHeight = height;
  gState.beginMode = mode;
  gState.beginQuality = quality;
  gState.beginFps = fps;
  if (gState.beginFails) return nullptr;
  return gSvc->stdlib->fopen_(file, "w");
}

EXPORT int WriteAnimFrame(void* handle, vlSaverAnimFrame* frame) {
  ++gState.frameCalls;
  gState.frame = *frame;
  gState.frame.pixels = nullptr;
  gState.frame.palette = nullptr;
  gState.framePixel0 = frame->palette ? static_cast<const uint8_t*>(frame->pixels)[0]
                                      : static_cast<const uint32_t*>(frame->pixels)[0];
  if (frame->palette) std::memcpy(gState.palette, frame->palette, 4 * static_cast<size_t>(frame->colorCount));
  if (!gState.frameResult) return 0;
  char line[64];
  int n = std::snprintf(line, sizeof line, "frame %d %08x\n", frame->delay, gState.framePixel0);
  return gSvc->stdlib->fwrite_(line, 1, static_cast<size_t>(n), static_cast<FILE*>(handle)) == static_cast<size_t>(n);
}

EXPORT int FinishAnimStream(void* handle) {
  ++gState.finishCalls;
  return gSvc->stdlib->fclose_(static_cast<FILE*>(handle)) == 0;
}

// ---- display adapter -------------------------------------------------------------

namespace {

ProbeSurface* NewSurface(int32_t w, int32_t h) {
  auto* s = static_cast<ProbeSurface*>(Alloc(sizeof(ProbeSurface)));
  s->width = w;
  s->height = h;
  s->front = static_cast<uint32_t*>(Alloc(4 * static_cast<size_t>(w) * h));
  s->back = static_cast<uint32_t*>(Alloc(4 * static_cast<size_t>(w) * h));
  return s;
}

// Drawing lands in the back surface while buffering, else on the front.
uint32_t* Target(ProbeSurface* s) { return s->buffering ? s->back : s->front; }

void Fill(ProbeSurface* s, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color) {
  for (int32_t j = y; j < y + h; ++j)
    for (int32_t i = x; i < x + w; ++i)
      if (i >= 0 && j >= 0 && i < s->width && j < s->height) Target(s)[j * s->width + i] = color;
}

// The four pixel layouts ReadVideoPixels can hand out, from ARGB.
uint32_t Pack(uint32_t argb, int32_t format) {
  const uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
  switch (format) {
    case 11: return b << 24 | g << 16 | r << 8 | a;
    case 12: return r << 24 | g << 16 | b << 8 | a;
    case 13: return a << 24 | b << 16 | g << 8 | r;
    case 4: return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
    default: return argb;
  }
}

}  // namespace

EXPORT int HandleEvents(vlVMState*, uint32_t, uintptr_t) { return 0; }
EXPORT int WaitEvents(vlVMState*, uint32_t, uintptr_t*, uintptr_t) { return 0; }
EXPORT int ForceEventLoopIteration(uint32_t) { return 0; }
EXPORT int Sleep(vlVMState*, int32_t) { return 0; }
EXPORT int VWait(void*, const vlTagItem*) { return 0; }
EXPORT int DetermineBorderSizes(void*, int32_t* l, int32_t* r, int32_t* t, int32_t* b) {
  *l = *r = *t = *b = 0;
  return 0;
}
EXPORT void* OpenDisplay(const char*, int32_t, int32_t, int32_t w, int32_t h, uint32_t, const vlTagItem* tags) {
  ++gState.openCalls;
  if (auto* mark = reinterpret_cast<uint32_t*>(GetTagValue(tags, 3, 0)); mark && gState.markWhole) *mark = 1;
  ProbeSurface* s = NewSurface(w, h);
  gState.lastHandle = s;
  return s;
}
EXPORT int CloseDisplay(void* handle) {
  ++gState.closeCalls;
  auto* s = static_cast<ProbeSurface*>(handle);
  Free(s->front);
  Free(s->back);
  Free(s);
  if (gState.lastHandle == handle) gState.lastHandle = nullptr;
  return 0;
}
// A new size keeps what overlaps.
EXPORT int ChangeBufferSize(void* handle, int32_t w, int32_t h) {
  ++gState.sizeChanges;
  auto* s = static_cast<ProbeSurface*>(handle);
  ProbeSurface* n = NewSurface(w, h);
  for (int32_t y = 0; y < h && y < s->height; ++y)
    for (int32_t x = 0; x < w && x < s->width; ++x) {
      n->front[y * w + x] = s->front[y * s->width + x];
      n->back[y * w + x] = s->back[y * s->width + x];
    }
  Free(s->front);
  Free(s->back);
  s->front = n->front;
  s->back = n->back;
  s->width = w;
  s->height = h;
  Free(n);
  return 0;
}
EXPORT int ShowHideDisplay(void*, int) { return 0; }
EXPORT int SizeMoveDisplay(void*, int32_t, int32_t, int32_t, int32_t) { return 0; }
EXPORT int SetDisplayTitle(void*, const char*) { return 0; }
VL_TESTADAPTER_POINTER_ENTRIES

// The source is a player picture: its pixels come through the service table.
EXPORT int BltBitMap(void* handle, void* source, const void* params, uint32_t) {
  const auto* tags = static_cast<const vlTagItem*>(params);
  ++gState.blits;
  auto* s = static_cast<ProbeSurface*>(handle);
  int32_t rect[4];
  vltestadapter::CopyPictureRect(gSvc, source, tags, s->width, s->height, rect,
                                 [&](int32_t x, int32_t y, uint32_t rgb) { Target(s)[y * s->width + x] = rgb; });
  return 0;
}
// Mode 0 draws on a display, any other into one of its video bitmaps
// (its colour bytes only).
EXPORT int RectFill(void* handle, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, uint32_t mode,
                    uint32_t) {
  if (!mode) {
    Fill(static_cast<ProbeSurface*>(handle), x, y, w, h, color & 0xFFFFFF);
    return 0;
  }
  auto* b = static_cast<ProbeVideoBitmap*>(handle);
  for (int32_t j = std::max(y, 0); j < y + h && j < b->height; ++j)
    for (int32_t i = std::max(x, 0); i < x + w && i < b->width; ++i) {
      uint32_t& p = b->pixels[j * b->width + i];
      p = (p & 0xFF000000u) | (color & 0xFFFFFF);
    }
  return 0;
}
EXPORT int WritePixel(void* handle, int32_t x, int32_t y, uint32_t color, uint32_t mode, uint32_t) {
  return RectFill(handle, x, y, 1, 1, color, mode, 0);
}
EXPORT int Line(void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, uint32_t) { return 0; }

// One monitor and two modes.
EXPORT int GetMonitorInfo(int kind, int, void* out, int) {
  static int32_t monitors[] = {0, 0, 1280, 1024, 0, 0, 0, 0};
  static int32_t modes[] = {1280, 1024, 24, 640, 480, 24, 0, 0, 0};
  *static_cast<int32_t**>(out) = kind == 0 ? monitors : modes;
  return 0;
}
EXPORT void FreeMonitorInfo(int, void*) {}
EXPORT uint32_t* GrabScreenPixels(void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t) { return nullptr; }
EXPORT void FreeGrabScreenPixels(void*) {}

EXPORT int BeginDoubleBuffer(void* handle, uint32_t) {
  ++gState.beginBufferCalls;
  gState.lastHandle = handle;
  if (gState.beginBufferResult) return gState.beginBufferResult;
  auto* s = static_cast<ProbeSurface*>(handle);
  std::memcpy(s->back, s->front, 4 * static_cast<size_t>(s->width) * s->height);
  s->buffering = 1;
  return 0;
}
EXPORT int EndDoubleBuffer(void* handle, uint32_t) {
  ++gState.endBufferCalls;
  auto* s = static_cast<ProbeSurface*>(handle);
  std::memcpy(s->front, s->back, 4 * static_cast<size_t>(s->width) * s->height);
  s->buffering = 0;
  return 0;
}
// Shows the back surface; answers as told.
EXPORT int Flip(void* handle, const int32_t* block) {
  ++gState.flipCalls;
  std::memcpy(gState.flipBlock, block, sizeof gState.flipBlock);
  auto* s = static_cast<ProbeSurface*>(handle);
  std::memcpy(s->front, s->back, 4 * static_cast<size_t>(s->width) * s->height);
  return gState.flipResult == 1 ? 0 : gState.flipResult;
}
EXPORT int Cls(void* handle, uint32_t color, uint32_t) {
  auto* s = static_cast<ProbeSurface*>(handle);
  Fill(s, 0, 0, s->width, s->height, color & 0xFFFFFF);
  return 0;
}

// Video bitmaps keep ARGB words made from tag 1 (an ARGB buffer, or with
// flag 2 another video bitmap).
EXPORT void* AllocVideoBitMap(int32_t w, int32_t h, uint32_t flags, const vlTagItem* tags) {
  ++gState.allocCalls;
  gState.allocWidth = w;
  gState.allocHeight = h;
  gState.allocFlags = flags;
  gState.allocDisplay = GetTagValue(tags, 6, 0);
  if (gState.allocFails) return nullptr;
  auto* b = static_cast<ProbeVideoBitmap*>(Alloc(sizeof(ProbeVideoBitmap)));
  b->width = w;
  b->height = h;
  b->flags = flags;
  b->pixels = static_cast<uint32_t*>(Alloc(4 * static_cast<size_t>(w) * h));
  const uint32_t* from = vltestadapter::VideoSourcePixels<ProbeVideoBitmap>(flags, tags);
  if (from) std::memcpy(b->pixels, from, 4 * static_cast<size_t>(w) * h);
  for (int i = 0; i < 64 && i < w * h; ++i) gState.allocPixels[i] = b->pixels[i];
  return b;
}
EXPORT void FreeVideoBitMap(void* handle) {
  ++gState.freeCalls;
  gState.lastFreed = handle;
  auto* b = static_cast<ProbeVideoBitmap*>(handle);
  Free(b->pixels);
  Free(b);
}
EXPORT void* ReadVideoPixels(void* handle, vlVideoPixels* record) {
  ++gState.readCalls;
  if (gState.readFails) return nullptr;
  auto* b = static_cast<ProbeVideoBitmap*>(handle);
  const int bytes = gState.readFormat == 4 ? 2 : 4;
  auto* out = static_cast<uint8_t*>(Alloc(static_cast<size_t>(bytes) * b->width * b->height));
  for (int32_t i = 0; i < b->width * b->height; ++i) {
    const uint32_t v = Pack(b->pixels[i], gState.readFormat);
    std::memcpy(out + static_cast<size_t>(i) * bytes, &v, static_cast<size_t>(bytes));  // little-endian host
  }
  record->pixels = out;
  record->rowBytes = bytes * b->width;
  record->format = gState.readFormat;
  record->hasAlpha = gState.readAlpha;
  gState.readPixels = out;
  return out;
}
EXPORT void FreeVideoPixels(void* pixels) {
  ++gState.freePixelsCalls;
  gState.freedPixels = pixels;
  Free(pixels);
}
EXPORT int DoVideoBitMapMethod(void*, uint32_t, const vlTagItem*) { return 0; }
EXPORT void* AllocBitMap(int32_t, int32_t, uint32_t, const vlTagItem*) { return nullptr; }
EXPORT void FreeBitMap(void*) {}
EXPORT int LockBitMap(void* handle, uint32_t, vlAdapterLock* access) {
  auto* b = static_cast<ProbeVideoBitmap*>(handle);
  return vltestadapter::LockARGB(b->pixels, b->width, b->height, access);
}
EXPORT void UnLockBitMap(void*) {}
EXPORT int32_t GetBitMapAttr(void*, int32_t) { return 0; }

// Each entry as the type the player calls it through: a signature that
// drifts from the plug-in header fails to build.
[[maybe_unused]] static void CheckEntryTypes(vlPluginInfo* info) {
  info->InitPlugin = InitPlugin;
  info->ClosePlugin = ClosePlugin;
  info->RegisterImageSaver = RegisterImageSaver;
  info->SaveImage = SaveImage;
  info->RegisterAnimSaver = RegisterAnimSaver;
  info->BeginAnimStream = BeginAnimStream;
  info->WriteAnimFrame = WriteAnimFrame;
  info->FinishAnimStream = FinishAnimStream;
  info->HandleEvents = HandleEvents;
  info->WaitEvents = WaitEvents;
  info->ForceEventLoopIteration = ForceEventLoopIteration;
  info->Sleep = Sleep;
  info->VWait = VWait;
  info->DetermineBorderSizes = DetermineBorderSizes;
  info->OpenDisplay = OpenDisplay;
  info->CloseDisplay = CloseDisplay;
  info->ChangeBufferSize = ChangeBufferSize;
  info->ShowHideDisplay = ShowHideDisplay;
  info->SizeMoveDisplay = SizeMoveDisplay;
  info->SetDisplayTitle = SetDisplayTitle;
  info->ActivateDisplay = ActivateDisplay;
  info->SetDisplayAttributes = SetDisplayAttributes;
  info->CreatePointer = CreatePointer;
  info->FreePointer = FreePointer;
  info->SetPointer = SetPointer;
  info->ShowHidePointer = ShowHidePointer;
  info->MovePointer = MovePointer;
  info->GetMousePos = GetMousePos;
  info->GetQualifiers = GetQualifiers;
  info->BltBitMap = BltBitMap;
  info->RectFill = RectFill;
  info->WritePixel = WritePixel;
  info->Line = Line;
  info->GetMonitorInfo = GetMonitorInfo;
  info->FreeMonitorInfo = FreeMonitorInfo;
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
