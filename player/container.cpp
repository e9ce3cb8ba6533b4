// Reading the compiled-script container: the record walk, the first
// display's settings, labels and user constants into the VM, include maps
// and linked files into their tables, the main chunk's bytes, the window
// icons, and the plain or compressed file around them. Depends on the
// file streams, the VM's constants and registry, and the platform paths.
#include "player/container.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "runtime/console.h"
#include "player/container_decls.h"
#include "player/container_io.h"
#include "runtime/decompress_pack.h"
#include "runtime/errors.h"
#include "player/linked_data.h"
#include "runtime/linked_files.h"
#include "runtime/messages.h"
#include "runtime/progress_message.h"
#include "runtime/script_version.h"
#include "runtime/source_position.h"
#include "player/startup.h"
#include "player/startup_options.h"
#include "runtime/runtime_options.h"
#include "vm/constants.h"
#include "vm/stack_api.h"

vlDisplayOverrides vlContainerDisplay = {0, -1, -1, -1, -1, {}, 0};
uint32_t vlContainerRuntimeFlags = 0;

void ResetDisplayOverrides() {
  vlContainerDisplay.mode = 0;
  vlContainerDisplay.screenWidth = vlContainerDisplay.screenHeight = vlContainerDisplay.screenDepth = -1;
  vlContainerDisplay.desktop = -1;
  InitBackfillRecord(&vlContainerDisplay.backfill);
  vlContainerDisplay.backfill.type = -1;
  vlContainerDisplay.hideTitleBar = 0;
}

int HasDisplayOverrides() {
  const vlDisplayOverrides& o = vlContainerDisplay;
  return o.mode != 0 || o.screenWidth != -1 || o.screenHeight != -1 || o.screenDepth != -1 || o.desktop != -1 ||
         o.backfill.type != -1 || o.hideTitleBar != 0;
}

void FreeContainerData(vlAppletInfo* applet) {
  std::free(applet->code);
  applet->code = nullptr;
  applet->codeSize = 0;
  FreePreprocRecords(&applet->preproc);
  FreeLinkedFiles();
  FreeIncludeEntries();
}

namespace {

constexpr int kIconSizes[9] = {16, 24, 32, 48, 64, 96, 128, 256, 512};

void CopyInto(char* dst, size_t size, const std::string& text) {
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(dst, text.data(), n);
  dst[n] = 0;
}

int64_t Position(vlStream* s) { return SeekFileStream(s, 0, VL_SEEK_CURRENT); }

// Skips a length-counted block that must lie inside the file.
int SkipBlock(vlStream* s, uint32_t length) {
  int64_t left = StreamBytesLeft(s);
  if (left < 0 || length > left) return ERR_READ;
  SeekFileStream(s, length, VL_SEEK_CURRENT);
  return 0;
}

// The first legacy record appends the default display; all of them then
// change that one declaration.
vlDisplayDecl* LegacyDisplay(vlContainerContext* ctx, vlDisplayDecl** legacy, int* status) {
  if (!*legacy) {
    if ((*status = AddDefaultDisplay(&ctx->applet->preproc, nullptr))) return nullptr;
    vlPreprocRecord* r = ctx->applet->preproc;
    while (r->next) r = r->next;
    *legacy = static_cast<vlDisplayDecl*>(r->data);
  }
  return *legacy;
}

int ReadIncludeMap(vlStream* s, vlContainerContext* ctx, int type) {
  vlFieldReader r{s};
  uint32_t count = r.U32();
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t first = r.U32(), last = r.U32(), offset = r.U32();
    if (r.error) return r.error;
    std::string include, part;
    int status = ReadCString(s, &include);
    if (!status && type != 8) status = ReadCString(s, &part);
    if (status) return status;
    // Scrambled names are kept out of the map: they would name no file.
    if (type == 33) continue;
    const char* partName = type == 8 ? (ctx->scriptPath ? ctx->scriptPath : "") : part.c_str();
    if (AddIncludeEntry(first, last, offset, include.c_str(), partName)) return ERR_MEM;
  }
  return r.error;
}

int ReadLabels(vlStream* s, vlContainerContext* ctx) {
  vlFieldReader r{s};
  uint32_t count = r.U32();
  if (r.error) return r.error;
  vlVMState* L = ctx->state;
  if (L) {
    vl::PushString(L, "labels");
    vl::PushNewTable(L);
  }
  int status = 0;
  for (uint32_t i = 0; i < count && !status; ++i) {
    uint32_t value = r.U32();
    std::string name;
    if ((status = r.error) || (status = ReadCString(s, &name))) break;
    if (!L) continue;
    // Labels are looked up case-insensitively, by their lower-case form.
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    vl::PushBytes(L, name.data(), name.size());
    vl::PushNumber(L, value);
    vl::RawSetTableValue(L, -3);
  }
  if (L) vl::SetTableValue(L, vl::kRegistryIndex);
  return status;
}

int ReadUserConstants(vlStream* s, vlContainerContext* ctx) {
  vlFieldReader r{s};
  for (;;) {
    std::string name, text;
    int status = ReadCString(s, &name);
    if (status) return status;
    if (name.empty()) return 0;
    uint32_t kind = r.U8();
    double number = 0;
    if (kind == 0)
      number = r.F64();
    else if ((status = ReadCString(s, &text)))
      return status;
    if (r.error) return r.error;
    if (!ctx->state) continue;
    vlConstant rows[2] = {{name.c_str(), kind == 0 ? nullptr : text.c_str(), number}, {nullptr, nullptr, 0}};
    vl::RegisterConstants(ctx->state, rows, 1);
  }
}

int ReadLinkedFileTable(vlStream* s, vlContainerContext* ctx) {
  vlFieldReader r{s};
  uint32_t count = r.U32();
  r.U32();  // base: the entries' offsets are from the container start
  for (uint32_t i = 0; i < count; ++i) {
    if (r.error) return r.error;
    std::string name;
    int status = ReadCString(s, &name);
    if (status) return status;
    uint32_t marker = r.U32();
    if (r.error) return r.error;
    if (marker == 0xFFFFFFFEu) continue;
    uint32_t length, offset;
    if (marker == 0xFFFFFFFFu) {
      length = r.U32();
      offset = r.U32();
      if (r.error) return r.error;
    } else {
      length = marker;
      offset = static_cast<uint32_t>(Position(s) - ctx->base);
      if ((status = SkipBlock(s, length))) return status;
    }
    if (AddLinkedFile(name.c_str(), ctx->scriptPath ? ctx->scriptPath : "", offset, length)) return ERR_MEM;
  }
  return r.error;
}

// The icon directory behind the code; a missing or cut directory leaves
// the remaining slots empty.
void ReadIconDirectory(vlStream* s, const char* path) {
  vlFieldReader r{s};
  int b;
  do b = ReadFileStreamByte(s);
  while (b == 0);
  if (b != 'I') return;
  r.U8();
  r.U8();
  for (;;) {
    int32_t width = r.I16();
    if (r.error || width == 0) return;
    int32_t height = r.I16();
    uint32_t flags = r.U8();
    uint32_t length = r.U32();
    if (r.error) return;
    int64_t at = Position(s);
    if (SkipBlock(s, length)) return;
    if (width != height) continue;
    for (int i = 0; i < 9; ++i) {
      if (kIconSizes[i] != width) continue;
      int slot = (flags & 1) ? 9 + i : i;
      char name[1024 + 64];
      if (!MakeChunkName("icon.png", name, sizeof name, at, length, 0, path ? path : "")) break;
      char* copy = strdup(name);
      if (!copy) return;
      std::free(vlIconSlotNames[slot]);
      vlIconSlotNames[slot] = copy;
      vlIconSlotFlags[slot] = (flags & 2) ? 1 : 0;
      break;
    }
  }
}

int ReadCode(vlStream* s, vlContainerContext* ctx) {
  vlFieldReader r{s};
  uint32_t length = r.U32();
  if (r.error) return r.error;
  int64_t left = StreamBytesLeft(s);
  if (left < 0 || length > left) return ERR_READ;
  uint8_t* code = static_cast<uint8_t*>(std::malloc(length ? length : 1));
  if (!code) return ERR_MEM;
  if (ReadFileStream(s, code, length) != length) {
    std::free(code);
    return ERR_READ;
  }
  std::free(ctx->applet->code);
  ctx->applet->code = code;
  ctx->applet->codeSize = length;
  if (ctx->iconPosition < 0) {
    ReadIconDirectory(s, ctx->iconPath);
  } else if (vlStream* icons = OpenFileStream(ctx->iconPath, VL_MODE_READ, nullptr)) {
    SeekFileStream(icons, ctx->iconPosition, VL_SEEK_BEGIN);
    ReadIconDirectory(icons, ctx->iconPath);
    CloseFileStream(icons);
  }
  return 0;
}

}  // namespace

int ReadContainerRecords(vlStream* s, vlContainerContext* ctx) {
  vlFieldReader r{s};
  vlAppletInfo* applet = ctx->applet;
  vlDisplayDecl* legacy = nullptr;
  for (;;) {
    int type = ReadFileStreamByte(s);
    if (type < 0) return ERR_UNEXPECTEDEOF;
    if (type > 34) return ERR_UNKNOWNSEC;
    int status = 0;
    std::string text;
    vlDisplayDecl* d = nullptr;
    switch (type) {
      case 0: {
        uint32_t length = r.U32();
        if (!(status = r.error)) status = SkipBlock(s, length);
        break;
      }
      case 1: return ReadCode(s, ctx);
      case 2: {
        uint32_t count = r.U32();
        for (uint32_t i = 0; i < count && !(status = r.error); ++i) {
          auto* rec = static_cast<vlPreprocRecord*>(std::calloc(1, sizeof(vlPreprocRecord)));
          if (!rec) return ERR_MEM;
          AppendPreprocRecord(&applet->preproc, rec);
          if ((status = ReadPreprocRecord(s, ctx, rec))) break;
        }
        break;
      }
      case 3: {
        int32_t w = r.I16(), h = r.I16();
        if ((status = r.error) || !(d = LegacyDisplay(ctx, &legacy, &status))) break;
        d->width = w;
        d->height = h;
        break;
      }
      case 4: status = ReadShortString(s, &text); break;
      case 5: {
        uint32_t color = r.U32();
        if ((status = r.error) || !(d = LegacyDisplay(ctx, &legacy, &status))) break;
        d->color = color;
        d->gradient.startColor = color;
        break;
      }
      case 6: {
        int32_t x = static_cast<int32_t>(r.U32()), y = static_cast<int32_t>(r.U32());
        if ((status = r.error) || !(d = LegacyDisplay(ctx, &legacy, &status))) break;
        d->x = x;
        d->y = y;
        break;
      }
      case 7: vlContainerDisplay.desktop = 1; break;
      case 8:
      case 27:
      case 33: status = ReadIncludeMap(s, ctx, type); break;
      case 9: status = ReadLabels(s, ctx); break;
      case 10: {
        int major = static_cast<int>(r.U8()), minor = static_cast<int>(r.U8());
        if ((status = r.error)) break;
        if (major > 6 || (major == 6 && minor > 1)) {
          char arg[32];
          std::snprintf(arg, sizeof arg, "%d.%d", major, minor);
          SetErrorArgument(arg);
          return ERR_APPLETVERSION;
        }
        ctx->major = major;
        ctx->minor = minor;
        applet->versionMajor = static_cast<uint32_t>(major);
        applet->versionMinor = static_cast<uint32_t>(minor);
        SetScriptVersion(major, minor);
        break;
      }
      case 11:
      case 12:
      case 13:
      case 14:
      case 15:
        if ((status = ReadCString(s, &text))) break;
        if (type == 12 && !text.empty() && static_cast<unsigned char>(text[0]) == 255) text[0] = '$';
        CopyInto(applet->header[type - 11], kHeaderStringSize, text);
        break;
      case 16: vlContainerDisplay.mode = static_cast<int32_t>(r.U8()); break;
      case 17:
        InitBackfillRecord(&vlContainerDisplay.backfill);
        status = ReadBackfillRecord(s, &vlContainerDisplay.backfill, ctx->major, ctx->minor);
        break;
      case 18:
      case 19:
      case 20:
      case 24:
      case 25:
      case 30: {
        static constexpr uint32_t kBits[] = {0x1, 0x4, 0x2, 0, 0, 0, 0x10, 0x8, 0, 0, 0, 0, 0x20};
        uint32_t on = r.U8();
        if ((status = r.error) || !(d = LegacyDisplay(ctx, &legacy, &status))) break;
        if (on) d->flags |= kBits[type - 18];
        break;
      }
      case 21: vlContainerDisplay.hideTitleBar = static_cast<int32_t>(r.U8()); break;
      case 22:
        vlContainerDisplay.screenWidth = r.I16();
        vlContainerDisplay.screenHeight = r.I16();
        break;
      case 23: vlContainerDisplay.screenDepth = static_cast<int32_t>(r.U8()); break;
      case 26: status = ReadLinkedFileTable(s, ctx); break;
      case 28: {
        uint32_t mode = r.U8();
        int32_t sw = static_cast<int32_t>(r.U32()), sh = static_cast<int32_t>(r.U32());
        uint32_t smooth = r.U8();
        if ((status = r.error) || !(d = LegacyDisplay(ctx, &legacy, &status))) break;
        d->flags |= mode == 0 ? VL_DF_AUTOSCALE : VL_DF_LAYERSCALE;
        d->scaleWidth = sw;
        d->scaleHeight = sh;
        if (smooth) d->flags |= VL_DF_SMOOTHSCALE;
        break;
      }
      case 29: ctx->startup->skipDisplayOverrides = 1; break;
      case 31: status = ReadUserConstants(s, ctx); break;
      case 32:
        vlContainerRuntimeFlags = r.U32();
        vlStartup.runtimeFlags |= vlContainerRuntimeFlags & 1;
        if (ctx->major >= 6) {
          r.U32();
          r.U32();
          r.U8();
        }
        break;
      case 34:
        if (!(status = ReadCString(s, &text))) CopyInto(applet->identifier, kAppletIdSize, text);
        break;
      default: break;
    }
    if (!status) status = r.error;
    if (status) return status;
  }
}
