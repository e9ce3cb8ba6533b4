// Preloading declared resources and opening declared displays by calling
// the script commands themselves through the VM, with option tables built
// from the declarations. Depends on the VM stack interface, the option
// table writers, chunk names and the error system.
#include "player/preloads.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <string>

#include "display/display_tags.h"
#include "runtime/chunk_name.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "player/linked_data.h"
#include "runtime/option_readers.h"
#include "runtime/prefs.h"
#include "runtime/runtime_options.h"
#include "runtime/script_call.h"
#include "player/startup.h"
#include "player/startup_options.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

const char* CommandName(uint32_t subtype) {
  switch (subtype) {
    case VL_PP_BGPIC: return "LoadBGPic";
    case VL_PP_BRUSH: return "LoadBrush";
    case VL_PP_ANIM: return "LoadAnim";
    case VL_PP_MUSIC: return "OpenMusic";
    case VL_PP_SAMPLE: return "LoadSample";
    case VL_PP_KEY: return "CreateKeyDown";
    case VL_PP_SPRITE: return "LoadSprite";
    case VL_PP_FILE: return "OpenFile";
    case VL_PP_FONT: return "OpenFont";
    case VL_PP_VIDEO: return "OpenVideo";
    case VL_PP_MENU: return "CreateMenu";
    default: return nullptr;
  }
}

std::string Lowered(const char* name) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

void PushGlobal(vlVMState* L, const char* name) {
  vl::PushString(L, Lowered(name).c_str());
  vl::GetTableValue(L, vl::kGlobalsIndex);
}

// Pushes the command's function; 1133 naming it when the script has none.
int PushCommand(vlVMState* L, const char* name) {
  PushGlobal(L, name);
  if (vl::GetTypeAt(L, -1) == VL_TFUNCTION) return 0;
  vl::SetStackTop(L, -2);
  SetErrorArgument((Lowered(name) + "()").c_str());
  return ERR_FUNCDECLA;
}

// A failed declaration is reported at its own line, in the command's name.
int DeclarationFailed(const vlPreprocRecord* r, const vlStartupRecord* startup, const char* command, int code) {
  SetCurrentErrorLine(static_cast<int32_t>(r->line));
  SetCurrentFunctionName(command);
  SetErrorSourceFile(r->sourceFile ? r->sourceFile : startup->scriptPath);
  return code;
}

void SetTableKeyToTop(vlVMState* L, const char* key) {
  // table at -2, value on top
  vl::PushString(L, key);
  vl::InsertTopAt(L, -2);
  vl::RawSetTableValue(L, -3);
}

void PushGradientKeys(vlVMState* L, const vlGradientBlock& g) {
  SetTableInt(L, "gradientstyle", static_cast<int32_t>(g.style));
  SetTableUnsigned(L, "gradientstartcolor", g.startColor);
  SetTableUnsigned(L, "gradientendcolor", g.endColor);
  SetTableInt(L, "gradientangle", g.angle);
  SetTableNumber(L, "gradientcenterx", g.centerX);
  SetTableNumber(L, "gradientcentery", g.centerY);
  SetTableNumber(L, "gradientbalance", g.balance);
  SetTableNumber(L, "gradientborder", g.border);
  if (!g.stopCount) return;
  vl::PushNewTable(L);
  for (uint32_t i = 0; i < g.stopCount; ++i) {
    vl::PushNumber(L, g.stops[i].color);
    vl::RawSetTableIndex(L, -2, static_cast<int>(2 * i));
    vl::PushNumber(L, g.stops[i].position);
    vl::RawSetTableIndex(L, -2, static_cast<int>(2 * i + 1));
  }
  SetTableKeyToTop(L, "gradientcolors");
}

void PushRegionTable(vlVMState* L, const char* key, const vlRegion* regions, uint32_t count) {
  vl::PushNewTable(L);
  for (uint32_t i = 0; i < count; ++i) {
    vl::PushNewTable(L);
    SetTableInt(L, "type", regions[i].type);
    SetTableInt(L, "x", regions[i].x);
    SetTableInt(L, "y", regions[i].y);
    SetTableInt(L, "width", regions[i].width);
    SetTableInt(L, "height", regions[i].height);
    vl::RawSetTableIndex(L, -2, static_cast<int>(i));
  }
  SetTableKeyToTop(L, key);
}

void PushMenuItems(vlVMState* L, const vlMenuItem* item) {
  vl::PushNewTable(L);
  for (int i = 0; item; item = item->next, ++i) {
    vl::PushNewTable(L);
    if (item->name) {
      vl::PushString(L, item->name);
      vl::RawSetTableIndex(L, -2, 0);
    }
    SetTableUnsigned(L, "flags", item->flags);
    if (item->id) SetTableString(L, "id", item->id);
    if (item->hotkey) SetTableString(L, "hotkey", item->hotkey);
    if (item->children) {
      PushMenuItems(L, item->children);
      vl::RawSetTableIndex(L, -2, 1);
    }
    vl::RawSetTableIndex(L, -2, i);
  }
}

void PushLoaderTable(vlVMState* L, const vlPreprocRecord* r) {
  vl::PushNewTable(L);
  if (r->loader[0]) SetTableString(L, "loader", r->loader);
  if (r->adapter[0]) SetTableString(L, "adapter", r->adapter);
}

// The option table of a BGPic, brush, anim or sprite declaration.
void PushPictureOptions(vlVMState* L, const vlPreprocRecord* r, const std::string& file) {
  vl::PushNewTable(L);
  if (r->wordA != 0xFFFFFFFFu) SetTableUnsigned(L, "transparency", r->wordA);
  if (r->wordB & 1)
    SetTableInt(L, "loadalpha", 1);
  else if (r->wordB & 2)
    SetTableInt(L, "loadtransparency", 1);
  if (r->subtype == VL_PP_BGPIC) {
    const auto* b = static_cast<const vlBGPicDecl*>(r->data);
    if (b->fillStyle) {
      SetTableInt(L, "fillstyle", static_cast<int32_t>(b->fillStyle));
      if (b->fillStyle == 2) {
        PushGradientKeys(L, b->gradient);
      } else if (b->fillStyle == 3) {
        SetTableInt(L, "texturebrush", b->textureBrush);
        SetTableInt(L, "texturex", b->textureX);
        SetTableInt(L, "texturey", b->textureY);
      } else if (b->fillStyle == 1) {
        SetTableUnsigned(L, "fillcolor", b->fillColor);
      }
    }
    SetTableInt(L, "scalewidth", b->scaleWidth);
    SetTableInt(L, "scaleheight", b->scaleHeight);
    SetTableInt(L, "smoothscale", b->smoothScale);
  } else {
    const auto* p = static_cast<const vlPictureDecl*>(r->data);
    SetTableInt(L, "width", p->width);
    SetTableInt(L, "height", p->height);
    SetTableInt(L, "x", p->x);
    SetTableInt(L, "y", p->y);
    if (r->subtype == VL_PP_BRUSH) {
      if (p->globalAlpha != -1) SetTableInt(L, "globalalpha", p->globalAlpha);
      SetTableInt(L, "hardware", static_cast<int32_t>(p->hardware));
      SetTableInt(L, "scalewidth", p->scaleWidth);
      SetTableInt(L, "scaleheight", p->scaleHeight);
      SetTableInt(L, "smoothscale", p->smoothScale);
      if (p->display) SetTableInt(L, "display", p->display);
    } else {
      SetTableInt(L, "frames", p->frames);
      SetTableInt(L, "fpr", p->framesPerRow);
      if (r->subtype == VL_PP_ANIM) {
        SetTableInt(L, "fromdisk", static_cast<int32_t>(p->fromDisk));
        SetTableInt(L, "skiploopframes", static_cast<int32_t>(p->skipLoopFrames));
        SetTableInt(L, "deinterlace", static_cast<int32_t>(p->deinterlace));
      }
    }
    if (p->cache) {
      SetTableString(L, "cache", file.c_str());
      SetTableInt(L, "cachealpha", static_cast<int32_t>(p->cacheAlpha));
    }
    if (p->cachedLoad) SetTableString(L, "cachedload", file.c_str());
  }
  if (r->loader[0]) SetTableString(L, "loader", r->loader);
  if (r->adapter[0]) SetTableString(L, "adapter", r->adapter);
}

// The file a declaration names: its linked data through a chunk name.
std::string DeclaredFile(const vlPreprocRecord* r, const vlStartupRecord* startup) {
  std::string name = r->name ? r->name : "";
  if (!r->linkedLength) return name;
  char chunk[2048];
  const char* source = r->sourceFile ? r->sourceFile : startup->scriptPath;
  if (MakeChunkName(name.c_str(), chunk, sizeof chunk, r->linkedOffset, r->linkedLength, vlLinkedOffset, source))
    return chunk;
  return name;
}

int CallPreload(vlVMState* L, const vlPreprocRecord* r, const vlStartupRecord* startup) {
  if (r->subtype == VL_PP_BUTTON) {
    const auto* b = static_cast<const vlButtonDecl*>(r->data);
    SetCurrentFunctionName("CreateButton");
    int top = vl::GetStackTop(L);
    int status = CallScriptCommand(L, "CreateButton", 0, 5, VL_CALLARG_INT, static_cast<int>(r->id), VL_CALLARG_INT,
                                   b->x, VL_CALLARG_INT, b->y, VL_CALLARG_INT, b->width, VL_CALLARG_INT, b->height);
    vl::SetStackTop(L, top);
    return status;
  }
  const char* command = CommandName(r->subtype);
  if (!command) return 0;
  SetCurrentFunctionName(command);
  std::string file = DeclaredFile(r, startup);
  int top = vl::GetStackTop(L);
  if (int status = PushCommand(L, command)) return status;
  vl::PushNumber(L, r->id);
  int nargs = 1;
  switch (r->subtype) {
    case VL_PP_BGPIC:
    case VL_PP_BRUSH:
    case VL_PP_ANIM:
    case VL_PP_SPRITE:
      vl::PushString(L, file.c_str());
      PushPictureOptions(L, r, file);
      nargs = 3;
      break;
    case VL_PP_MUSIC:
    case VL_PP_SAMPLE:
    case VL_PP_VIDEO:
      vl::PushString(L, file.c_str());
      nargs = 2;
      if (r->loader[0] || r->adapter[0]) {
        PushLoaderTable(L, r);
        nargs = 3;
      }
      break;
    case VL_PP_FILE:
      vl::PushString(L, file.c_str());
      vl::PushNumber(L, 1005);  // MODE_READ
      nargs = 3;
      if (r->adapter[0]) {
        vl::PushNewTable(L);
        SetTableString(L, "adapter", r->adapter);
        nargs = 4;
      }
      break;
    case VL_PP_FONT:
      vl::PushString(L, file.c_str());
      vl::PushNumber(L, r->wordA);
      vl::PushNewTable(L);
      if (r->wordB & 0xFFFF) SetTableInt(L, "engine", static_cast<int32_t>(r->wordB & 0xFFFF));
      if (r->wordB & 0x10000) SetTableInt(L, "cache", 0);
      nargs = 4;
      break;
    case VL_PP_MENU:
      PushMenuItems(L, static_cast<const vlMenuItem*>(r->data));
      nargs = 2;
      break;
    case VL_PP_KEY:
      vl::PushString(L, r->name ? r->name : "");
      nargs = 2;
      break;
    default: break;
  }
  int status = vl::CallProtected(L, nargs, 0, 0);
  vl::SetStackTop(L, top);
  return status;
}

struct FlagKey {
  uint32_t bit;
  const char* key;
  int value;
};
constexpr FlagKey kFlagKeys[] = {
    {0x1, "borderless", 1},        {0x2, "sizeable", 1},         {0x4, "fixed", 1},
    {0x8, "nomodeswitch", 1},      {0x10, "hidepointer", 1},     {0x20, "nohide", 1},
    {0x40, "scalemode", 1},        {0x80, "smoothscale", 1},     {0x100, "scalemode", 2},
    {0x800, "hidden", 1},          {0x1000, "layers", 1},        {0x4000, "noclose", 1},
    {0x8000, "keepproportions", 1}, {0x10000, "fitscale", 1},    {0x40000, "keepscreenon", 1},
    {0x80000, "hidefromtaskbar", 1}, {0x100000, "hideoptionsmenu", 1}, {0x200000, "nohardwarescale", 1},
    {0x1000000, "disableblanker", 1}, {0x8000000, "rememberposition", 1},
};

// The placement a display stored under "__placement" -> its id when its
// window last closed; applied only when its scaling and sizing switches
// are still those of the declaration. The placement bytes stay on the
// stack (above the caller's top) for as long as the caller needs them.
void ReadRememberedPlacement(vlVMState* L, const vlAppletInfo* applet, uint32_t id, vlDisplayDecl* d,
                             vlRememberedPlacement* out) {
  vl::PushNewTable(L);
  int prefs = vl::GetStackTop(L);
  if (LoadPrefsTable(L, prefs, applet->identifier) != 0) return;
  vl::PushString(L, "__placement");
  vl::GetTableValue(L, prefs);
  if (vl::GetTypeAt(L, -1) != VL_TTABLE) return;
  vl::RawGetTableIndex(L, -1, static_cast<int>(id));
  int entry = vl::GetStackTop(L);
  if (vl::GetTypeAt(L, entry) != VL_TTABLE) return;
  int32_t active = 0, autoScale = 0, layerScale = 0, sizeable = 0;
  GetTableInt(L, entry, "active", &active, nullptr);
  if (!active) return;
  GetTableInt(L, entry, "autoscale", &autoScale, nullptr);
  GetTableInt(L, entry, "layerscale", &layerScale, nullptr);
  GetTableInt(L, entry, "sizeable", &sizeable, nullptr);
  if ((autoScale != 0) != ((d->flags & VL_DF_AUTOSCALE) != 0) ||
      (layerScale != 0) != ((d->flags & VL_DF_LAYERSCALE) != 0) ||
      (sizeable != 0) != ((d->flags & VL_DF_SIZEABLE) != 0))
    return;
  GetTableInt(L, entry, "x", &d->x, nullptr);
  GetTableInt(L, entry, "y", &d->y, nullptr);
  GetTableInt(L, entry, "width", &out->restoreWidth, nullptr);
  GetTableInt(L, entry, "height", &out->restoreHeight, nullptr);
  GetTableInt(L, entry, "scalewidth", &d->scaleWidth, nullptr);
  GetTableInt(L, entry, "scaleheight", &d->scaleHeight, nullptr);
  vl::PushString(L, "osdata");
  vl::GetTableValue(L, entry);
  if (vl::GetTypeAt(L, -1) == VL_TSTRING && vl::GetStringLengthAt(L, -1)) {
    out->osData = vl::ToStringAt(L, -1);
    out->osDataLength = vl::GetStringLengthAt(L, -1);
  }
  d->flags &= ~(0x8000u | 0x10000u);
  d->monitor = 0;
}

}  // namespace

void PushDisplayOptions(vlVMState* L, const vlDisplayDecl* d, uint32_t id, bool bgpic1Declared,
                        const vlRememberedPlacement* placement) {
  vl::PushNewTable(L);
  SetTableString(L, "title", d->title);
  SetTableInt(L, "x", d->x);
  SetTableInt(L, "y", d->y);
  if (d->scaleWidth) SetTableInt(L, "scalewidth", d->scaleWidth);
  if (d->scaleHeight) SetTableInt(L, "scaleheight", d->scaleHeight);
  if (d->flags & VL_DF_ACTIVE) SetTableInt(L, "active", 1);
  if (d->flags & VL_DF_BGPIC) {
    SetTableInt(L, "bgpic", d->bgpic);
  } else if (id == 1 && bgpic1Declared) {
    SetTableInt(L, "bgpic", 1);
  } else {
    SetTableInt(L, "width", d->width);
    SetTableInt(L, "height", d->height);
    SetTableInt(L, "fillstyle", static_cast<int32_t>(d->fillStyle));
    if (d->fillStyle == 2) {
      PushGradientKeys(L, d->gradient);
    } else if (d->fillStyle == 3) {
      SetTableInt(L, "texturebrush", d->textureBrush);
      SetTableInt(L, "texturex", d->textureX);
      SetTableInt(L, "texturey", d->textureY);
    } else {
      SetTableUnsigned(L, "color", d->color);
    }
  }
  for (const FlagKey& f : kFlagKeys)
    if (d->flags & f.bit) SetTableInt(L, f.key, f.value);
  if (d->xServer[0]) SetTableString(L, "xserver", d->xServer);
  if (d->dragRegionCount) PushRegionTable(L, "dragregion", d->dragRegions, d->dragRegionCount);
  if (d->sizeRegionCount) PushRegionTable(L, "sizeregion", d->sizeRegions, d->sizeRegionCount);
  SetTableInt(L, "orientation", static_cast<int32_t>(d->orientation));
  SetTableInt(L, "monitor", static_cast<int32_t>(d->monitor) + 1);
  if (d->menu != -1) SetTableInt(L, "menu", d->menu);
  SetTableString(L, "mode", GetDisplayModeName(d->mode));
  SetTableInt(L, "scrwidth", d->screenWidth);
  SetTableInt(L, "scrheight", d->screenHeight);
  SetTableInt(L, "scrdepth", d->screenDepth);
  SetTableInt(L, "desktop", d->desktop);
  if (placement && placement->restoreWidth && placement->restoreHeight) {
    SetTableInt(L, "__restorewidth", placement->restoreWidth);
    SetTableInt(L, "__restoreheight", placement->restoreHeight);
  }
  if (placement && placement->osDataLength) {
    vl::PushBytes(L, placement->osData, placement->osDataLength);
    SetTableKeyToTop(L, "__placement");
  }
  vl::PushNewTable(L);
  SetTableInt(L, "hidetitlebar", d->backfill.hideTitleBar);
  if (d->backfill.type > 0) {
    SetTableString(L, "type", GetBackfillTypeName(d->backfill.type));
    SetTableInt(L, "color", d->backfill.color);
    SetTableInt(L, "startcolor", d->backfill.color);
    SetTableInt(L, "endcolor", d->backfill.endColor);
    SetTableInt(L, "x", d->backfill.x);
    SetTableInt(L, "y", d->backfill.y);
    SetTableInt(L, "brush", d->backfill.brush);
    SetTableInt(L, "scalepicture", d->backfill.scalePicture);
    SetTableInt(L, "smoothscale", d->backfill.smoothScale);
    // The picture file and colour key that only -BRUSHFILE and -PICTRANS
    // give: without them a picture backfill named by file would look for
    // brush 0.
    if (d->backfill.brushFile[0]) SetTableString(L, "__brushfile", d->backfill.brushFile);
    if (d->backfill.transColor != -1) SetTableInt(L, "__transcolor", d->backfill.transColor);
  }
  SetTableKeyToTop(L, "backfill");
}

void ApplyCommandLineDisplays(vlAppletInfo* applet, const vlStartupRecord* startup) {
  const vlDisplayCmdOverrides& o = applet->overrides;
  for (vlPreprocRecord* r = applet->preproc; r; r = r->next) {
    if (r->subtype != VL_PP_DISPLAY || !r->data) continue;
    if (r->id != 1 && !startup->applyToAllDisplays) continue;
    auto* d = static_cast<vlDisplayDecl*>(r->data);
    if (o.mode) d->mode = o.mode;
    if (o.screenWidth != -1) d->screenWidth = o.screenWidth;
    if (o.screenHeight != -1) d->screenHeight = o.screenHeight;
    if (o.screenDepth != -1) d->screenDepth = o.screenDepth;
    if (o.scaleWidth) d->scaleWidth = o.scaleWidth;
    if (o.scaleHeight) d->scaleHeight = o.scaleHeight;
    // Monitor 1 is stored as 0: whether it was given decides, or -MONITOR 1
    // could never move a display the script put on another monitor.
    if (o.monitor || o.monitorGiven) d->monitor = static_cast<uint32_t>(o.monitor);
    if (o.backfill.type)
      d->backfill = o.backfill;
    else if (o.backfill.hideTitleBar)
      d->backfill.hideTitleBar = 1;
    d->flags |= o.flagBits;
    if (o.xServer[0]) std::memcpy(d->xServer, o.xServer, sizeof d->xServer);
  }
}

void MarkSharedPictureFiles(vlPreprocRecord* list) {
  // Anims and sprites without a grid open their file as an anim source:
  // they neither keep a single picture nor can take one.
  auto isShared = [](const vlPreprocRecord* r) {
    if (!(r->subtype == VL_PP_BRUSH || r->subtype == VL_PP_ANIM || r->subtype == VL_PP_SPRITE) || !r->data ||
        !r->name || (r->wordB & 2))
      return false;
    return r->subtype == VL_PP_BRUSH || static_cast<const vlPictureDecl*>(r->data)->frames != 0;
  };
  // The cache finds an entry by its name alone: one group per file, so
  // that a later group with other scaling loads its own picture instead
  // of taking the first group's.
  auto fileKept = [&](const vlPreprocRecord* upTo) {
    for (const vlPreprocRecord* e = list; e != upTo; e = e->next)
      if (isShared(e) && static_cast<const vlPictureDecl*>(e->data)->cache && strcasecmp(e->name, upTo->name) == 0)
        return true;
    return false;
  };
  for (vlPreprocRecord* r = list; r; r = r->next) {
    if (!isShared(r)) continue;
    auto* p = static_cast<vlPictureDecl*>(r->data);
    if (p->cachedLoad || fileKept(r)) continue;
    for (vlPreprocRecord* later = r->next; later; later = later->next) {
      if (!isShared(later)) continue;
      auto* q = static_cast<vlPictureDecl*>(later->data);
      if (strcasecmp(r->name, later->name) != 0 || q->scaleWidth != p->scaleWidth ||
          q->scaleHeight != p->scaleHeight || q->smoothScale != p->smoothScale)
        continue;
      q->cachedLoad = 1;
      p->cache = 1;
      if ((later->wordB & 1) && !(r->wordB & 1)) p->cacheAlpha = 1;
    }
  }
}

int RunPreloads(vlVMState* L, vlStartupRecord* startup, vlAppletInfo* applet) {
  for (vlPreprocRecord* r = applet->preproc; r; r = r->next) {
    SetRuntimeOption(L, VL_OPT_QUIET, 1u, 0u);
    SetCurrentErrorLine(static_cast<int32_t>(r->line));
    if (int status = CallPreload(L, r, startup))
      return DeclarationFailed(r, startup, r->subtype == VL_PP_BUTTON ? "CreateButton" : CommandName(r->subtype),
                               status);
    SetCurrentFunctionName("----");
    if (TimerTick()) return ERR_USERABORT;
  }
  return 0;
}

int RunDeclaredDisplays(vlVMState* L, vlStartupRecord* startup, vlAppletInfo* applet) {
  bool bgpic1 = false;
  for (vlPreprocRecord* r = applet->preproc; r; r = r->next)
    if (r->subtype == VL_PP_BGPIC && r->id == 1) bgpic1 = true;
  PushGlobal(L, "CreateDisplay");
  bool haveDisplays = vl::GetTypeAt(L, -1) != VL_TNIL;
  vl::SetStackTop(L, -2);
  for (vlPreprocRecord* r = applet->preproc; r; r = r->next) {
    if (r->subtype == VL_PP_WARNING) {
      if (!vlStartup.noDebug) PrintConsole("*** WARNING %s ***\n", r->name ? r->name : "");
      continue;
    }
    if (r->subtype != VL_PP_DISPLAY || !r->data || !haveDisplays) continue;
    SetRuntimeOption(L, VL_OPT_QUIET, 1u, 0u);
    SetCurrentErrorLine(static_cast<int32_t>(r->line));
    SetCurrentFunctionName("CreateDisplay");
    int top = vl::GetStackTop(L);
    auto* decl = static_cast<vlDisplayDecl*>(r->data);
    vlRememberedPlacement placement{};
    if ((decl->flags & VL_DF_REMEMBERPOSITION) && !vlStartup.overridePlacement)
      ReadRememberedPlacement(L, applet, r->id, decl, &placement);
    PushGlobal(L, "CreateDisplay");
    vl::PushNumber(L, r->id);
    PushDisplayOptions(L, decl, r->id, bgpic1, &placement);
    int status = vl::CallProtected(L, 2, 0, 0);
    vl::SetStackTop(L, top);
    if (status) return DeclarationFailed(r, startup, "CreateDisplay", status);
    SetCurrentFunctionName("----");
  }
  return 0;
}
