// Reads the declaration records of a container (resources, displays,
// plug-ins, menus, warnings) with the fields each format revision carries.
// Over the field readers of player/container_io.h.
#include <cstdlib>
#include <cstring>

#include "player/container.h"
#include "player/container_decls.h"
#include "player/container_io.h"

namespace {

void CopyInto(char* dst, size_t size, const std::string& text) {
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(dst, text.data(), n);
  dst[n] = 0;
}

// Revisions 4.0 to 4.6 and those before 4 lack the fill fields.
bool HasFillFields(int major, int minor) { return major > 3 && !(major == 4 && minor <= 6); }
bool AtLeast(int major, int minor, int wantMajor, int wantMinor) {
  return major > wantMajor || (major == wantMajor && minor >= wantMinor);
}

int ReadBGPic(vlStream* s, int major, int minor, vlBGPicDecl* d) {
  vlFieldReader r{s};
  InitGradientRecord(&d->gradient);
  if (!HasFillFields(major, minor)) return 0;
  d->fillStyle = r.U8();
  d->fillColor = r.U32();
  d->gradient.startColor = d->fillColor;
  d->endColor = r.U32();
  d->gradient.endColor = d->endColor;
  d->angle = r.I16();
  d->gradient.angle = d->angle;
  d->textureBrush = static_cast<int32_t>(r.U32());
  d->textureX = static_cast<int32_t>(r.U32());
  d->textureY = static_cast<int32_t>(r.U32());
  if (r.error) return r.error;
  if (major != 4) {
    int status = ReadGradientRecord(s, &d->gradient);
    if (status) return status;
    d->gradient.startColor = d->fillColor;
    d->gradient.endColor = d->endColor;
    d->gradient.angle = d->angle;
  }
  if (major >= 6 || (major == 5 && minor > 2)) {
    d->scaleWidth = static_cast<int32_t>(r.U32());
    d->scaleHeight = static_cast<int32_t>(r.U32());
    d->smoothScale = static_cast<int32_t>(r.U32());
  }
  return r.error;
}

int ReadBrush(vlStream* s, int major, int minor, vlPictureDecl* d) {
  vlFieldReader r{s};
  d->width = r.I16();
  d->height = r.I16();
  d->x = r.I16();
  d->y = r.I16();
  d->globalAlpha = r.I16();
  if (major >= 5) d->hardware = r.U8();
  if (AtLeast(major, minor, 5, 3)) {
    d->scaleWidth = static_cast<int32_t>(r.U32());
    d->scaleHeight = static_cast<int32_t>(r.U32());
    d->smoothScale = static_cast<int32_t>(r.U32());
  }
  if (major >= 6) d->display = static_cast<int32_t>(r.U32());
  return r.error;
}

// Frame size, count, frames per row and the grid's origin: the same six
// words in anim and sprite declarations.
void ReadFrameGrid(vlFieldReader& r, vlPictureDecl* d) {
  d->width = r.I16();
  d->height = r.I16();
  d->frames = r.I16();
  d->framesPerRow = r.I16();
  d->x = r.I16();
  d->y = r.I16();
}

int ReadAnim(vlStream* s, int major, int minor, vlPictureDecl* d) {
  vlFieldReader r{s};
  if (major >= 3) d->fromDisk = r.U8();
  if (!(major == 3 || (major == 4 && minor == 0))) ReadFrameGrid(r, d);
  if (AtLeast(major, minor, 5, 3)) {
    d->skipLoopFrames = r.U8();
    d->deinterlace = r.U8();
  }
  return r.error;
}

int ReadSprite(vlStream* s, vlPictureDecl* d) {
  vlFieldReader r{s};
  ReadFrameGrid(r, d);
  return r.error;
}

int ReadButton(vlStream* s, vlButtonDecl* d) {
  vlFieldReader r{s};
  d->x = r.I16();
  d->y = r.I16();
  d->width = r.I16();
  d->height = r.I16();
  return r.error;
}

int ReadDisplay(vlStream* s, int major, int minor, vlDisplayDecl* d) {
  vlFieldReader r{s};
  InitDisplayRecord(d);
  d->bgpic = static_cast<int32_t>(r.U32());
  d->x = static_cast<int32_t>(r.U32());
  d->y = static_cast<int32_t>(r.U32());
  d->width = static_cast<int32_t>(r.U32());
  d->height = static_cast<int32_t>(r.U32());
  d->color = r.U32();
  d->gradient.startColor = d->color;
  d->flags = r.U32();
  r.U32();  // not used
  d->scaleWidth = static_cast<int32_t>(r.U32());
  d->scaleHeight = static_cast<int32_t>(r.U32());
  if (r.error) return r.error;
  int status = ReadRegionList(s, d->dragRegions, &d->dragRegionCount);
  if (!status) status = ReadRegionList(s, d->sizeRegions, &d->sizeRegionCount);
  std::string text;
  if (!status) status = ReadShortString(s, &text);
  if (status) return status;
  CopyInto(d->title, sizeof d->title, text);
  if (!HasFillFields(major, minor)) return 0;
  d->fillStyle = r.U8();
  d->gradient.endColor = r.U32();
  d->gradient.angle = r.I16();
  d->textureBrush = static_cast<int32_t>(r.U32());
  d->textureX = static_cast<int32_t>(r.U32());
  d->textureY = static_cast<int32_t>(r.U32());
  if (r.error) return r.error;
  if (major != 4) {
    uint32_t start = d->gradient.startColor, end = d->gradient.endColor;
    int32_t angle = d->gradient.angle;
    if ((status = ReadGradientRecord(s, &d->gradient))) return status;
    d->gradient.startColor = start;
    d->gradient.endColor = end;
    d->gradient.angle = angle;
  }
  if (AtLeast(major, minor, 5, 2)) {
    if ((status = ReadShortString(s, &text))) return status;
    CopyInto(d->text1, sizeof d->text1, text);
  }
  if (AtLeast(major, minor, 5, 3)) d->orientation = r.U8();
  if (major < 6) return r.error;
  d->monitor = r.U8();
  uint32_t menuPresent = r.U8();
  uint32_t menu = r.U32();
  d->menu = menuPresent ? static_cast<int32_t>(menu) : -1;
  d->mode = static_cast<int32_t>(r.U8());
  d->desktop = static_cast<int32_t>(r.U8());
  d->screenWidth = r.I16();
  d->screenHeight = r.I16();
  d->screenDepth = static_cast<int32_t>(r.U8());
  int32_t hideTitleBar = static_cast<int32_t>(r.U8());
  if (r.error) return r.error;
  if ((status = ReadBackfillRecord(s, &d->backfill, major, minor))) return status;
  d->backfill.hideTitleBar = hideTitleBar;
  if ((status = ReadShortString(s, &text))) return status;
  CopyInto(d->xServer, sizeof d->xServer, text);
  if ((status = ReadShortString(s, &text))) return status;
  CopyInto(d->text2, sizeof d->text2, text);
  if ((status = ReadShortString(s, &text))) return status;
  CopyInto(d->text3, sizeof d->text3, text);
  return 0;
}

// Tags are allocated as one block with their texts; the stored text size
// is read but the block is sized from the texts themselves.
int ReadPluginTags(vlStream* s, vlPluginTag** first) {
  vlFieldReader r{s};
  uint32_t count = r.U32();
  vlPluginTag** tail = first;
  for (uint32_t i = 0; i < count; ++i) {
    r.U32();
    if (r.error) return r.error;
    std::string key, value;
    int status = ReadCString(s, &key);
    if (status) return status;
    uint32_t kind = r.U8();
    double number = 0;
    bool isNumber = kind == 0;
    if (isNumber)
      number = r.F64();
    else if ((status = ReadCString(s, &value)))
      return status;
    if (r.error) return r.error;
    size_t size = sizeof(vlPluginTag) + key.size() + 1 + (isNumber ? 0 : value.size() + 1);
    auto* tag = static_cast<vlPluginTag*>(std::calloc(1, size));
    if (!tag) return ERR_MEM;
    char* texts = reinterpret_cast<char*>(tag + 1);
    std::memcpy(texts, key.c_str(), key.size() + 1);
    tag->key = texts;
    if (!isNumber) {
      tag->string = texts + key.size() + 1;
      std::memcpy(tag->string, value.c_str(), value.size() + 1);
    }
    tag->number = number;
    *tail = tag;
    tail = &tag->next;
  }
  return 0;
}

size_t DataSize(uint32_t subtype) {
  switch (subtype) {
    case VL_PP_BGPIC: return sizeof(vlBGPicDecl);
    case VL_PP_BRUSH:
    case VL_PP_ANIM:
    case VL_PP_SPRITE: return sizeof(vlPictureDecl);
    case VL_PP_BUTTON: return sizeof(vlButtonDecl);
    case VL_PP_DISPLAY: return sizeof(vlDisplayDecl);
    default: return 0;
  }
}

}  // namespace

int ReadPreprocRecord(vlStream* s, const vlContainerContext* ctx, vlPreprocRecord* rec) {
  vlFieldReader r{s};
  rec->linked = 1;
  rec->subtype = r.U8();
  rec->id = r.U32();
  rec->nameOffset = r.U32();
  rec->nameLength = r.U32();
  rec->linkedOffset = r.U32();
  rec->linkedLength = r.U32();
  rec->wordA = r.U32();
  rec->wordB = r.U32();
  rec->line = r.U32();
  if (r.error) return r.error;
  if (rec->subtype > VL_PP_WARNING) return ERR_UNKNOWNSEC;
  int status = 0;
  if (ctx->major >= 6) {
    std::string text;
    if ((status = ReadShortString(s, &text))) return status;
    CopyInto(rec->loader, sizeof rec->loader, text);
    if ((status = ReadShortString(s, &text))) return status;
    CopyInto(rec->adapter, sizeof rec->adapter, text);
  }
  if (ctx->scriptPath) {
    rec->sourceFile = strdup(ctx->scriptPath);
    if (!rec->sourceFile) return ERR_MEM;
  }
  if (size_t size = DataSize(rec->subtype)) {
    rec->data = std::calloc(1, size);
    if (!rec->data) return ERR_MEM;
  }
  int major = ctx->major, minor = ctx->minor;
  switch (rec->subtype) {
    case VL_PP_BGPIC: status = ReadBGPic(s, major, minor, static_cast<vlBGPicDecl*>(rec->data)); break;
    case VL_PP_BRUSH: status = ReadBrush(s, major, minor, static_cast<vlPictureDecl*>(rec->data)); break;
    case VL_PP_ANIM: status = ReadAnim(s, major, minor, static_cast<vlPictureDecl*>(rec->data)); break;
    case VL_PP_SPRITE: status = ReadSprite(s, static_cast<vlPictureDecl*>(rec->data)); break;
    case VL_PP_BUTTON: status = ReadButton(s, static_cast<vlButtonDecl*>(rec->data)); break;
    case VL_PP_DISPLAY: status = ReadDisplay(s, major, minor, static_cast<vlDisplayDecl*>(rec->data)); break;
    case VL_PP_PLUGIN:
      if (major >= 6) status = ReadPluginTags(s, reinterpret_cast<vlPluginTag**>(&rec->data));
      break;
    case VL_PP_MENU: status = ReadMenuItems(s, reinterpret_cast<vlMenuItem**>(&rec->data), 0); break;
    default: break;
  }
  if (status) return status;
  if (rec->nameLength == 0) return 0;
  // The name lies elsewhere in the container; it must lie inside the file.
  int64_t back = SeekFileStream(s, 0, VL_SEEK_CURRENT);
  int64_t size = GetFileStreamSize(s);
  int64_t at = ctx->base + rec->nameOffset;
  if (back < 0 || size < 0 || at + static_cast<int64_t>(rec->nameLength) > size) return ERR_READ;
  rec->name = static_cast<char*>(std::malloc(rec->nameLength + 1));
  if (!rec->name) return ERR_MEM;
  SeekFileStream(s, at, VL_SEEK_BEGIN);
  if (ReadFileStream(s, rec->name, rec->nameLength) != rec->nameLength) return ERR_READ;
  rec->name[rec->nameLength] = 0;
  SeekFileStream(s, back, VL_SEEK_BEGIN);
  return 0;
}
