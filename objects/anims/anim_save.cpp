// Writing anims: SaveAnim (all frames at once) and anim streams fed frame by
// frame from brushes, through the GIF writer, the AVI writer or an
// anim-saver plug-in.
#include <cstdlib>
#include <utility>
#include <cstring>
#include <memory>
#include <new>

#include "formats/avi.h"
#include "formats/gif.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/position.h"
#include "graphics/quantize.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/option_readers.h"
#include "abi/plugin_abi.h"
#include "runtime/plugins.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr uint32_t kObjAnimStream = 52;

struct vlAnimStream {
  vlObjectNode node;  // type 52
  int32_t width, height;
  int32_t format;
  uint32_t palette;
  uint32_t useAlpha;
  void* writer;
  vlPluginInfo* saver;
  uint32_t saverIndex;
  int32_t failed;  // a frame did not reach the file: finishing drops it
};

vlObjectNode* gStreams = nullptr;
// Making and finding a stream must not walk every stream there is.
vlObjectIndex gStreamIndex;

vlAnimStream* AsStream(vlObjectNode* n) { return reinterpret_cast<vlAnimStream*>(n); }

// One writer of any kind.
struct Writer {
  int32_t format = 0;
  void* handle = nullptr;
  vlPluginInfo* saver = nullptr;
  uint32_t saverIndex = 0;
  uint32_t palette = 0;
  uint32_t useAlpha = 0;

  // Ends the file; a non-zero status (the save failed) drops it.
  int Close(int status = 0) {
    if (!handle) return status;
    if (format == 0) {
      status = CloseGIFWriter(static_cast<vlGIFWriter*>(handle), status);
    } else if (format == 1) {
      status = CloseAVIWriter(static_cast<vlAVIWriter*>(handle), status);
    } else if (saver && saver->FinishAnimStream) {
      const bool finished = saver->FinishAnimStream(handle) != 0;
      if (!status && !finished) status = kErrSaveAnim;
    }
    handle = nullptr;
    return status;
  }
};

struct FrameOptions {
  int32_t dither = 0, colors = 256, optimize = 1, transparency = -1;
};

// The anim-saver plug-in that registered the format, or 1488.
int FindAnimSaver(int32_t format, vlPluginInfo** out, uint32_t* flags, uint32_t* index) {
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    if (!(p->capabilities & PLUGINCAPS_SAVEANIM)) continue;
    vlPluginInfo* info = GetPluginInfo(p->handle);
    if (!info || info->disabled || !info->animSaverFormats) continue;
    for (uint32_t i = 0; info->animSaverFormats[i].formatId; ++i)
      if (info->animSaverFormats[i].formatId == static_cast<uint32_t>(format)) {
        *out = info;
        *flags = info->animSaverFormats[i].flags;
        *index = i;
        return 0;
      }
  }
  return kErrUnknownAnimFormat;
}

int OpenWriter(const char* file, int32_t format, int32_t width, int32_t height, int32_t quality, int32_t fps,
               int useAlpha, Writer* w) {
  w->format = format;
  w->useAlpha = useAlpha;
  if (format == 0) {
    w->palette = 1;
    vlGIFWriter* g = nullptr;
    if (int status = OpenGIFWriter(file, width, height, &g)) return status;
    w->handle = g;
    return 0;
  }
  if (format == 1) {
    vlAVIWriter* a = nullptr;
    if (int status = OpenAVIWriter(file, fps, 1, width, height, quality, 0, 0, file, nullptr, &a)) return status;
    w->handle = a;
    return 0;
  }
  uint32_t flags = 0;
  if (int status = FindAnimSaver(format, &w->saver, &flags, &w->saverIndex)) return status;
  if (useAlpha && !(flags & 4)) return kErrSaverNoAlpha;
  uint32_t mode = useAlpha ? 4 : 0;
  if (!(flags & 1)) {
    mode |= 1;
    w->palette = 1;
  }
  if (!w->saver->BeginAnimStream) return kErrSaveAnim;
  w->handle = w->saver->BeginAnimStream(file, width, height, mode, quality, fps);
  return w->handle ? 0 : kErrSaveAnim;
}

// Moves the key colour's entry (pen, -1 when the key was not found or not
// asked for) to the end of the palette, or appends an entry there.
void PutPenLast(uint8_t* index, size_t count, uint32_t* palette, int32_t* colors, int32_t pen, uint32_t key) {
  const int32_t last = *colors - 1;
  if (pen >= 0 && pen == last) return;
  if (pen >= 0) {
    std::swap(palette[pen], palette[last]);
    for (size_t i = 0; i < count; ++i)
      if (index[i] == pen)
        index[i] = static_cast<uint8_t>(last);
      else if (index[i] == last)
        index[i] = static_cast<uint8_t>(pen);
    return;
  }
  if (*colors < 256) palette[(*colors)++] = key;
}

int WriteFrame(Writer* w, vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height,
               int32_t delay, const FrameOptions& o) {
  if (w->format == 1) return WriteAVIFrame(static_cast<vlAVIWriter*>(w->handle), bitmap, width, height, 1, 0);
  std::unique_ptr<uint32_t[]> argb(
      ReadBitmapARGBMasked(bitmap, 0, 0, width, height, mask, alpha, o.transparency, 0, 0));
  if (!argb) return ERR_MEM;
  uint32_t palette[256] = {};
  int32_t colors = o.colors, transparentIndex = -1;
  std::unique_ptr<uint8_t[]> index;
  if (w->palette) {
    index.reset(new (std::nothrow) uint8_t[static_cast<size_t>(width) * height]);
    if (!index) return ERR_MEM;
    // The last palette entry is the frame's transparent pen: the key colour,
    // or an unused entry that the GIF writer's delta frames draw with.
    colors = o.colors - 1;
    if (!ReduceColors(reinterpret_cast<const uint8_t*>(argb.get()), 10, 4, width, height, width, index.get(), palette,
                      &colors, o.transparency, 0, o.dither, &transparentIndex))
      return ERR_MEM;
    PutPenLast(index.get(), static_cast<size_t>(width) * height, palette, &colors, transparentIndex,
               static_cast<uint32_t>(o.transparency) & 0xFFFFFF);
    transparentIndex = o.transparency != -1 ? colors - 1 : -1;
  }
  if (w->format == 0)
    return WriteGIFFrame(static_cast<vlGIFWriter*>(w->handle), index.get(), width, height, delay, palette, colors,
                         o.transparency != -1 ? colors - 1 : -1, o.optimize, 1);
  vlSaverAnimFrame f{};
  f.pixels = w->palette ? static_cast<void*>(index.get()) : static_cast<void*>(argb.get());
  f.palette = w->palette ? palette : nullptr;
  f.rowLength = w->palette ? width : width * 4;
  f.colorCount = w->palette ? colors : 0;
  f.transparentIndex = transparentIndex;
  f.delay = delay;
  f.flags = (alpha && w->useAlpha ? 1 : 0) | (w->palette && transparentIndex >= 0 ? 2 : 0);
  f.formatId = static_cast<uint32_t>(w->format);
  if (!w->saver->WriteAnimFrame) return kErrSaveAnim;
  return w->saver->WriteAnimFrame(w->handle, &f) ? 0 : kErrSaveAnim;
}

int ReadFrameOptions(vlVMState* L, int index, FrameOptions* o, int32_t* delay, int32_t* x, int32_t* y) {
  if (vl::GetTypeAt(L, index) != VL_TTABLE) return 0;
  GetTableInt(L, index, "dither", &o->dither, nullptr);
  GetTableInt(L, index, "colors", &o->colors, nullptr);
  GetTableInt(L, index, "optimize", &o->optimize, nullptr);
  GetTableInt(L, index, "transparency", &o->transparency, nullptr);
  if (delay) GetTableInt(L, index, "delay", delay, nullptr);
  if (x) GetTableInt(L, index, "x", x, nullptr);
  if (y) GetTableInt(L, index, "y", y, nullptr);
  if (o->colors < 2 || o->colors > 256) return ERR_WRONGUSAGE;
  return 0;
}

void ReadWriterOptions(vlVMState* L, int index, int32_t* quality, int32_t* fps, int* useAlpha) {
  if (vl::GetTypeAt(L, index) != VL_TTABLE) return;
  GetTableInt(L, index, "quality", quality, nullptr);
  GetTableInt(L, index, "fps", fps, nullptr);
  GetTableBool(L, index, "usealpha", useAlpha, nullptr);
}

// A handle names a stream whatever number comes with it.
vlAnimStream* FindStream(vlObjectId id) { return AsStream(gStreamIndex.First(id)); }

int MissingStream(vlObjectId id) {
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return kErrFindAnimStream;
}

int CloseStream(vlVMState* L, vlAnimStream* s) {
  gStreamIndex.Unlink(&gStreams, &s->node);
  Writer w;
  w.format = s->format;
  w.handle = s->writer;
  w.saver = s->saver;
  int status = w.Close(s->failed);
  if (s->node.data) FreeObjectDataList(L, &s->node.data);
  delete s;
  return status;
}

}  // namespace

int CmdSaveAnim(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  const char* file = GetFileNameArg(L, 2, 0, nullptr);
  const int32_t format = vl::OptIntArg(L, 3, 0);
  FrameOptions o;
  int32_t quality = 90, fps = 25;
  int useAlpha = 0;
  if (int status = ReadFrameOptions(L, 4, &o, nullptr, nullptr, nullptr)) return status;
  ReadWriterOptions(L, 4, &quality, &fps, &useAlpha);
  if (useAlpha && o.transparency != -1) return ERR_MASKNALPHA;
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, id, &a, 0)) return status;
  Writer w;
  if (int status = OpenWriter(file, format, a->width, a->height, quality, fps, useAlpha, &w)) {
    w.Close();
    return status;
  }
  int status = 0;
  for (int32_t i = 0; i < a->frameCount && !status; ++i) {
    vlBitmap *b = nullptr, *m = nullptr, *al = nullptr;
    if ((status = GetAnimFrameBitmaps(a, i, 0, 0, &b, &m, &al)) != 0) break;
    status = WriteFrame(&w, b, m, al, a->width, a->height, GetAnimFrameDelay(a, i), o);
    if (a->disk) FreeFrameTriple(b, m, al);
  }
  return w.Close(status);
}

int CmdBeginAnimStream(vlVMState* L) {
  CheckArgs(L, 4, 6, 0, 0);
  vlObjectId id;
  const int automatic = GetObjectIDArgOpt(&id, L, 1);
  const char* file = GetFileNameArg(L, 2, 0, nullptr);
  const int32_t width = vl::CheckIntArg(L, 3), height = vl::CheckIntArg(L, 4);
  const int32_t format = vl::OptIntArg(L, 5, 0);
  int32_t quality = 90, fps = 25;
  int useAlpha = 0;
  ReadWriterOptions(L, 6, &quality, &fps, &useAlpha);
  if (!file[0] || width < 1 || height < 1) return ERR_WRONGUSAGE;
  if (!automatic)
    if (vlAnimStream* old = FindStream(id)) CloseStream(L, old);
  Writer w;
  if (int status = OpenWriter(file, format, width, height, quality, fps, useAlpha, &w)) {
    w.Close();
    return status;
  }
  auto* s = new (std::nothrow) vlAnimStream{};
  if (!s) {
    w.Close(ERR_MEM);
    return ERR_MEM;
  }
  s->node.type = kObjAnimStream;
  s->node.idNumber = automatic ? 0 : id.number;
  s->node.idHandle = automatic ? s : nullptr;
  s->width = width, s->height = height;
  s->format = format;
  s->palette = w.palette;
  s->useAlpha = useAlpha;
  s->writer = w.handle;
  s->saver = w.saver;
  s->saverIndex = w.saverIndex;
  if (gStreamIndex.Append(&gStreams, &s->node)) {
    w.Close(ERR_MEM);
    delete s;
    return ERR_MEM;
  }
  if (!automatic) return 0;
  vl::PushPointer(L, s);
  return 1;
}

int CmdWriteAnimFrame(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlObjectId streamId, brushId;
  GetObjectIDArg(&streamId, L, 1);
  GetObjectIDArg(&brushId, L, 2);
  FrameOptions o;
  int32_t delay = 0, x = 0, y = 0;
  if (int status = ReadFrameOptions(L, 3, &o, &delay, &x, &y)) return status;
  vlAnimStream* s = FindStream(streamId);
  if (!s) return MissingStream(streamId);
  if (s->useAlpha && o.transparency != -1) return ERR_MASKNALPHA;
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, brushId, &b, 0)) return status;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  x = ResolvePosX(x, b->width, s->width, 0);
  y = ResolvePosY(y, b->height, s->height, 0);
  vlBitmap *bitmap = b->bitmap, *mask = b->mask, *alpha = b->alpha;
  vlBitmap *made = nullptr, *madeMask = nullptr, *madeAlpha = nullptr;
  if (b->width != s->width || b->height != s->height || x || y) {
    made = NewBitmap(s->width, s->height, 0, nullptr);
    if (!made) return ERR_BITMAP;
    if (b->alpha && !(madeAlpha = NewAlphaPlane(s->width, s->height, 1, nullptr, 0))) {
      DeleteBitmap(made);
      return ERR_ALLOCALPHA;
    }
    if (!b->alpha && b->mask && !(madeMask = NewMaskPlane(made, s->width, s->height, 1, nullptr, 0))) {
      DeleteBitmap(made);
      return ERR_ALLOCMASK;
    }
    FillBitmapRect(made, 0, 0, s->width, s->height,
                   0xFF000000u | static_cast<uint32_t>(o.transparency != -1 ? o.transparency : 0));
    int32_t sx = 0, sy = 0, dx = x, dy = y, w = b->width, h = b->height;
    ClipBlitRects(nullptr, &sx, &sy, &dx, &dy, &w, &h, b->width, b->height, s->width, s->height, 0);
    if (w > 0 && h > 0) {
      BltBitmap(b->bitmap, sx, sy, made, dx, dy, w, h);
      if (madeAlpha) CopyAlphaRect(b->alpha, sx, sy, madeAlpha, dx, dy, w, h, 0, 255);
      if (madeMask) CopyMaskRegion(b->mask, sx, sy, madeMask, dx, dy, w, h, 2, nullptr, 0);
    }
    bitmap = made, mask = madeMask, alpha = madeAlpha;
  }
  Writer w;
  w.format = s->format;
  w.handle = s->writer;
  w.saver = s->saver;
  w.saverIndex = s->saverIndex;
  w.palette = s->palette;
  w.useAlpha = s->useAlpha;
  const int status = WriteFrame(&w, bitmap, mask, alpha, s->width, s->height, delay, o);
  FreeFrameTriple(made, madeMask, madeAlpha);
  if (status == ERR_WRITE) s->failed = status;
  return status;
}

int CmdFinishAnimStream(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlAnimStream* s = FindStream(id);
  if (!s) return MissingStream(id);
  return CloseStream(L, s);
}

void FreeAnimStreams(vlVMState* L) {
  while (gStreams) CloseStream(L, AsStream(gStreams));
  gStreamIndex.Clear();
}

int RegisterAnimStreamList() { return RegisterObjectList(&gStreams); }
