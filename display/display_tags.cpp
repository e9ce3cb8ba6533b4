// Display attribute tables: the flag keys, regions, position, scaling,
// menu, monitor, BGPic, size, fill keys, title and X server name, and the
// screen-mode keys with their backfill sub-table.
#include "display/display_tags.h"

#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/gradient_args.h"
#include "display/menus.h"
#include "display/monitors.h"
#include "graphics/position.h"
#include "platform/display_adapter.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/script_version.h"
#include "vm/text.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "platform/display_device.h"

namespace {

struct FlagKey {
  const char* key;
  uint32_t bit;
};
constexpr FlagKey kFlagKeys[] = {
    {"borderless", VL_DISPSTYLE_BORDERLESS},   {"sizeable", VL_DISPSTYLE_SIZEABLE},
    {"fixed", VL_DISPSTYLE_FIXED},             {"nohide", VL_DISPSTYLE_NOMINIMIZE},
    {"nomodeswitch", VL_DISPSTYLE_NOMODESWITCH}, {"smoothscale", VL_DISPSTYLE_SMOOTHSCALE},
    {"active", VL_DISPSTYLE_ACTIVE},           {"hidepointer", VL_DISPSTYLE_HIDEPOINTER},
    {"usequartz", VL_DISPSTYLE_USEQUARTZ},     {"noclose", VL_DISPSTYLE_NOCLOSE},
    {"keepproportions", VL_DISPSTYLE_KEEPPROPORTIONS}, {"fitscale", VL_DISPSTYLE_FITSCALE},
    {"keepscreenon", VL_DISPSTYLE_KEEPSCREENON}, {"hidefromtaskbar", VL_DISPSTYLE_HIDEFROMTASKBAR},
    {"hideoptionsmenu", VL_DISPSTYLE_HIDEOPTIONSMENU}, {"nohardwarescale", VL_DISPSTYLE_NOHARDWARESCALE},
    {"disableblanker", VL_DISPSTYLE_NOSCREENSAVER}, {"rememberposition", VL_DISPSTYLE_REMEMBERPOSITION},
};

struct NameValue {
  const char* name;
  int32_t value;
};
constexpr NameValue kModeNames[] = {
    {"windowed", 1}, {"fullscreen", 2}, {"ask", 3}, {"fakefullscreen", 6}, {"moderequester", 4}, {nullptr, 0}};
constexpr NameValue kBackfillNames[] = {
    {"color", 1}, {"gradient", 2}, {"texture", 3}, {"picture", 4}, {nullptr, 0}};

int32_t Lookup(const NameValue* table, const char* name) {
  for (; table->name; ++table)
    if (!CompareNoCase(table->name, name)) return table->value;
  return -1;
}
const char* NameOf(const NameValue* table, int32_t value) {
  for (; table->name; ++table)
    if (table->value == value) return table->name;
  return "(not found)";
}

int Absolute(vlVMState* L, int index) { return index < 0 ? vl::GetStackTop(L) + index + 1 : index; }

// Pushes table[key]; the caller pops it.
int PushField(vlVMState* L, int table, const char* key) {
  vl::PushString(L, key);
  vl::GetTableValue(L, table);
  return vl::GetTypeAt(L, -1);
}

// One region {"type", "x", "y", "width", "height"} of the table on top.
int ReadRegion(vlVMState* L, vlRegion* out) {
  int t = vl::GetStackTop(L);
  int32_t type = 14;
  GetTableInt(L, t, "type", &type, nullptr);
  if (type != 14) return ERR_WRONGUSAGE;
  int32_t v[4];
  const char* keys[4] = {"x", "y", "width", "height"};
  for (int i = 0; i < 4; ++i)
    if (!GetTableInt(L, t, keys[i], &v[i], nullptr)) return ERR_MISSINGPARAMTR;
  if (v[0] < 0 || v[1] < 0 || v[2] < 1 || v[3] < 1) return ERR_WRONGUSAGE;
  *out = {type, v[0], v[1], v[2], v[3]};
  return 0;
}

int ReadRegionList(vlVMState* L, int table, const char* key, vlRegion* regions, vlRegion* scaled, int32_t* count,
                   int32_t* given) {
  int type = PushField(L, table, key);
  if (type == VL_TNIL) {
    vl::SetStackTop(L, -2);
    return 0;
  }
  int status = 0;
  if (type != VL_TTABLE) status = ERR_TABLEORNIL;
  int n = 0;
  for (; !status; ++n) {
    vl::RawGetTableIndex(L, -1, n);
    int entry = vl::GetTypeAt(L, -1);
    if (entry == VL_TNIL) {
      vl::SetStackTop(L, -2);
      break;
    }
    if (n >= kDisplayRegionMax)
      status = ERR_INTERNAL;
    else if (entry != VL_TTABLE)
      status = ERR_TABLEORNIL;
    else
      status = ReadRegion(L, &regions[n]);
    vl::SetStackTop(L, -2);
  }
  vl::SetStackTop(L, -2);
  if (status) return status;
  *count = n;
  *given = 1;
  std::memcpy(scaled, regions, sizeof(vlRegion) * kDisplayRegionMax);
  return 0;
}

int ReadFillKeys(vlVMState* L, int table, vlBackfillDesc* fill) {
  int32_t style = static_cast<int32_t>(fill->fillStyle);
  if (GetTableInt(L, table, "fillstyle", &style, nullptr)) {
    if (style < 1 || style > 3) return ERR_WRONGUSAGE;
    fill->fillStyle = static_cast<uint32_t>(style);
  }
  switch (fill->fillStyle) {
    case 2: return ReadGradientTable(L, table, &fill->gradient, 1);
    case 3: {
      GetTableObjectID(L, table, "texturebrush", &fill->textureBrush, nullptr);
      GetTableInt(L, table, "texturex", &fill->textureX, nullptr);
      GetTableInt(L, table, "texturey", &fill->textureY, nullptr);
      return 0;
    }
    default: {
      int32_t color = static_cast<int32_t>(fill->color);
      if (GetTableInt(L, table, "color", &color, nullptr)) fill->color = static_cast<uint32_t>(color);
      return 0;
    }
  }
}

int ReadTextKey(vlVMState* L, int table, const char* key, char* out) {
  if (PushField(L, table, key) == VL_TNIL) {
    vl::SetStackTop(L, -2);
    return 0;
  }
  vl::SetStackTop(L, -2);
  char buffer[1024];
  GetTableString(L, table, key, buffer, sizeof buffer, nullptr);
  if (std::strlen(buffer) > kDisplayTitleMax) return ERR_WRONGUSAGE;
  std::strcpy(out, buffer);
  return 0;
}

}  // namespace

int32_t DisplayModeFromName(const char* name) { return Lookup(kModeNames, name); }
int32_t BackfillTypeFromName(const char* name) { return Lookup(kBackfillNames, name); }
const char* GetDisplayModeName(int32_t mode) { return NameOf(kModeNames, mode); }
const char* GetBackfillTypeName(int32_t type) { return NameOf(kBackfillNames, type); }

int ReadBackfillTable(vlVMState* L, int table, vlBackfillBlock* b) {
  table = Absolute(L, table);
  int type = PushField(L, table, "backfill");
  if (type == VL_TNIL) {
    vl::SetStackTop(L, -2);
    return 0;
  }
  if (type != VL_TTABLE) {
    vl::SetStackTop(L, -2);
    return ERR_TABLEORNIL;
  }
  int t = vl::GetStackTop(L);
  InitBackfillRecord(b);
  int status = 0;
  char name[256];
  if (GetTableString(L, t, "type", name, sizeof name, nullptr)) {
    b->type = BackfillTypeFromName(name);
    if (b->type < 0) status = ERR_WRONGUSAGE;
  }
  if (!status) {
    GetTableInt(L, t, "color", &b->color, nullptr);
    GetTableInt(L, t, "startcolor", &b->color, nullptr);
    GetTableInt(L, t, "endcolor", &b->endColor, nullptr);
    GetTableInt(L, t, "x", &b->x, nullptr);
    GetTableInt(L, t, "y", &b->y, nullptr);
    GetTableInt(L, t, "brush", &b->brush, nullptr);
    GetTableInt(L, t, "scalepicture", &b->scalePicture, nullptr);
    GetTableInt(L, t, "hidetitlebar", &b->hideTitleBar, nullptr);
    GetTableInt(L, t, "smoothscale", &b->smoothScale, nullptr);
    // Given by the command line's backfill options only.
    GetTableString(L, t, "__brushfile", b->brushFile, sizeof b->brushFile, nullptr);
    GetTableInt(L, t, "__transcolor", &b->transColor, nullptr);
  }
  vl::SetStackTop(L, t - 1);
  return status;
}

int ReadScreenModeKeys(vlVMState* L, int table, vlScreenModeRecord* r) {
  table = Absolute(L, table);
  char name[256];
  if (GetTableString(L, table, "mode", name, sizeof name, nullptr)) {
    int32_t mode = DisplayModeFromName(name);
    if (mode < 0) return ERR_WRONGUSAGE;
    r->mode = mode;
  }
  GetTableInt(L, table, "scrwidth", &r->screenWidth, nullptr);
  GetTableInt(L, table, "scrheight", &r->screenHeight, nullptr);
  GetTableInt(L, table, "scrdepth", &r->screenDepth, nullptr);
  GetTableInt(L, table, "desktop", &r->desktop, nullptr);
  return ReadBackfillTable(L, table, &r->backfill);
}

int ParseDisplayTags(vlVMState* L, int table, vlDisplay* d, int creation, int* scaleSizeGiven,
                     int* orientationGiven) {
  table = Absolute(L, table);
  if (scaleSizeGiven) *scaleSizeGiven = 0;
  if (orientationGiven) *orientationGiven = 0;
  const bool recordingOnly = vlRecordingScreen && !creation;
  int status = 0;
  int xGiven = 0, yGiven = 0;
  if (!recordingOnly) {
    if ((status = ReadRegionList(L, table, "dragregion", d->dragRegions, d->dragRegionsScaled, &d->dragRegionCount,
                                 &d->dragRegionsGiven)))
      return status;
    if ((status = ReadRegionList(L, table, "sizeregion", d->sizeRegions, d->sizeRegionsScaled, &d->sizeRegionCount,
                                 &d->sizeRegionsGiven)))
      return status;
    for (const FlagKey& f : kFlagKeys) {
      int32_t v = 0;
      if (GetTableInt(L, table, f.key, &v, nullptr)) {
        if (v)
          d->styleFlags |= f.bit;
        else
          d->styleFlags &= ~f.bit;
      }
    }
    GetTableInt(L, table, "x", &d->x, &xGiven);
    GetTableInt(L, table, "y", &d->y, &yGiven);
    int found = 0;
    int32_t v;
    found = 0;
    if (GetTableIntOrPercent(L, table, "scalewidth", &v, 1, &found)) {
      if (v == 0) return ERR_WRONGUSAGE;
      d->scaleWidth = v;
      if (scaleSizeGiven) *scaleSizeGiven = 1;
    }
    if (GetTableIntOrPercent(L, table, "scaleheight", &v, 1, &found)) {
      if (v == 0) return ERR_WRONGUSAGE;
      d->scaleHeight = v;
      if (scaleSizeGiven) *scaleSizeGiven = 1;
    }
    if (GetTableInt(L, table, "scalemode", &v, nullptr)) {
      if (v < 0 || v > 2) return ERR_WRONGUSAGE;
      if ((d->styleFlags & VL_DISPSTYLE_AUTOSCALE) && d->scaleWidth && d->scaleHeight &&
          (d->selectWords[0] || d->selectWords[1]))
        MarkDisplayAllDirty(d);
      d->styleFlags &= ~(VL_DISPSTYLE_AUTOSCALE | VL_DISPSTYLE_LAYERSCALE);
      if (v == 1) d->styleFlags |= VL_DISPSTYLE_AUTOSCALE;
      if (v == 2) d->styleFlags |= VL_DISPSTYLE_LAYERSCALE;
      if (v == 0) {
        d->scaleWidth = d->scaleHeight = 0;
        d->borderLeft = d->borderTop = d->borderRight = d->borderBottom = 0;
      }
    }
    if (GetTableInt(L, table, "orientation", &v, nullptr)) {
      d->orientation = static_cast<uint32_t>(v);
      if (orientationGiven) *orientationGiven = 1;
    }
    int menuType = PushField(L, table, "menu");
    vl::SetStackTop(L, -2);
    if (menuType != VL_TNIL && menuType != -1) {
      if (!DisplayDeviceDoes(d, VL_DEVICE_MENUS)) return ERR_DISPLAYADAPTERSUPPORT;
      vlObjectId id{};
      GetTableObjectID(L, table, "menu", &id, nullptr);
      vlMenu* menu = nullptr;
      if ((status = GetMenuByID(id, &menu))) return status;
      d->menu = menu;
    }
    if (GetTableInt(L, table, "monitor", &v, nullptr)) {
      if (v < 1) return ERR_MONITORRANGE;
      if (v > 1 && !CheckScriptVersion(6, 0)) return ERR_OLDAPPLET;
      d->monitorIndex = v - 1;
      if (creation) {
        if (!xGiven) {
          d->x = VL_POS_CENTER;
          d->monitorRelativeX = 1;
        }
        if (!yGiven) {
          d->y = VL_POS_CENTER;
          d->monitorRelativeY = 1;
        }
      }
    }
  }

  // The BGPic, the size and the fill.
  int bgpicType = PushField(L, table, "bgpic");
  vl::SetStackTop(L, -2);
  bool jumpToTitle = false;
  if (bgpicType != VL_TNIL && bgpicType != -1) {
    vlObjectId id{};
    GetTableObjectID(L, table, "bgpic", &id, nullptr);
    vlBGPic* pic = nullptr;
    if ((status = GetBGPicByID(L, id, &pic, 0))) return status;
    for (vlDisplay* other = vlDisplayList; other; other = other->next) {
      if (other->bgpic != pic) continue;
      if (creation || (other != CurrentDisplay() && other != d)) return ERR_MULTIBGPIC;
    }
    d->bgpic = pic;
    d->width = pic->width;
    d->height = pic->height;
    if (pic->backfill.present) d->backfill = pic->backfill.desc;
    if (creation) {
      jumpToTitle = true;
    } else {
      GetTableInt(L, table, "width", &d->width, nullptr);
      GetTableInt(L, table, "height", &d->height, nullptr);
      if (pic->backfill.present && (status = ReadFillKeys(L, table, &d->backfill))) return status;
    }
  } else {
    GetTableInt(L, table, "width", &d->width, nullptr);
    GetTableInt(L, table, "height", &d->height, nullptr);
    if (creation) {
      if (!d->backfill.fillStyle) d->backfill.fillStyle = 1;
      if ((status = ReadFillKeys(L, table, &d->backfill))) return status;
    } else if (d->bgpic && d->bgpic->backfill.present) {
      if ((status = ReadFillKeys(L, table, &d->backfill))) return status;
    }
  }
  if (!jumpToTitle) {
    if (d->width < 1 || d->height < 1) return ERR_WRONGUSAGE;
    if (recordingOnly) return 0;
  }

  if ((status = ReadTextKey(L, table, "title", d->titleText))) return status;
  if (PushField(L, table, "xserver") != VL_TNIL) {
    vl::SetStackTop(L, -2);
    if (!CheckScriptVersion(6, 0)) return ERR_OLDAPPLET;
    if ((status = ReadTextKey(L, table, "xserver", d->xServer))) return status;
  } else {
    vl::SetStackTop(L, -2);
  }
  FixDisplayTextPointers(d);
  if (d->scaleWidth < 0) d->scaleWidth = static_cast<int32_t>(static_cast<int64_t>(-d->scaleWidth) * d->width / 100);
  if (d->scaleHeight < 0)
    d->scaleHeight = static_cast<int32_t>(static_cast<int64_t>(-d->scaleHeight) * d->height / 100);
  d->autoScale = (d->styleFlags & VL_DISPSTYLE_AUTOSCALE) ? 1 : 0;
  d->layerScale = (d->styleFlags & VL_DISPSTYLE_LAYERSCALE) ? 1 : 0;
  d->smoothScale = (d->styleFlags & VL_DISPSTYLE_SMOOTHSCALE) ? 1 : 0;
  if (d->monitorIndex > 0 && d->monitorIndex + 1 > CountMonitors(d)) return ERR_MONITORRANGE;
  return 0;
}

void ClampDisplayRegions(vlDisplay* d) {
  auto clamp = [d](vlRegion* regions, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
      vlRegion& r = regions[i];
      if (r.x > d->width - 1) r.x = d->width - 1;
      if (r.y > d->height - 1) r.y = d->height - 1;
      if (r.x + r.width > d->width) r.width = d->width - r.x;
      if (r.y + r.height > d->height) r.height = d->height - r.y;
      if (r.width < 1) r.width = 1;
      if (r.height < 1) r.height = 1;
    }
  };
  clamp(d->dragRegionsScaled, d->dragRegionCount);
  clamp(d->sizeRegionsScaled, d->sizeRegionCount);
}
