// GetAttribute: the one query every object type answers. The types the
// display subsystem owns are answered here; libraries of later subsystems
// (brushes, anims, sprites, fonts, files, memory blocks, sound, video)
// install a handler for theirs when they open.
#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/async_draw.h"
#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "display/layers/layers.h"
#include "display/monitors.h"
#include "graphics/bitmap.h"
#include "platform/display_adapter.h"
#include "platform/display_device.h"
#include "display/events/event_dispatch.h"
#include "platform/intervals.h"
#include "platform/x11/x11_window.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/plugin_formats.h"
#include "runtime/plugins.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

vlAttributeFn gHandlers[kFirstExtraObjectType];
vlFontAttributeFn gCurrentFontHandler;

int Num(vlVMState* L, double v) {
  vl::PushNumber(L, v);
  return 1;
}
int Str(vlVMState* L, const char* s) {
  vl::PushCString(L, s ? s : "");
  return 1;
}
int Id(vlVMState* L, vlObjectId id) {
  PushObjectID(L, id);
  return 1;
}

int BGPicAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlBGPic* pic = nullptr;
  if (int s = GetBGPicByID(L, id, &pic, 0)) return s;
  switch (attr) {
    case VL_ATTRWIDTH: return Num(L, pic->width);
    case VL_ATTRHEIGHT: return Num(L, pic->height);
    case VL_ATTRTRANSPARENTCOLOR: return Num(L, pic->transparentColor < 0 ? 4294967295.0 : pic->transparentColor);
    case VL_ATTRLAYERS: return Num(L, CountLayers(pic));
    case VL_ATTRTYPE: return Num(L, pic->scalable ? 1 : 0);
    case VL_ATTRHASMASK: return Num(L, pic->curMask != nullptr);
    case VL_ATTRHASALPHA: return Num(L, pic->curAlpha != nullptr);
    case VL_ATTRCLIPREGION: {
      if (vlCurrentOutput && vlCurrentOutput->clipRegion)
        for (vlClipRegionObject* r = gGraphicsState.clipRegions; r;
             r = reinterpret_cast<vlClipRegionObject*>(r->node.next))
          if (&r->region == vlCurrentOutput->clipRegion) return Id(L, {r->node.idNumber, r->node.idHandle});
      return Num(L, -1);
    }
    case VL_ATTRLOADER: return Str(L, GetLoaderName(pic->loaderWord));
    default: return ERR_UNKNOWNATTR;
  }
}

int32_t OutputState(const vlDisplay* d) {
  return d->outputType == VL_OUTPUT_DISPLAY || d->outputType == VL_OUTPUT_BGPIC ? 0 : static_cast<int32_t>(d->outputType);
}

int DisplayAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlDisplay* d = CurrentDisplay();
  if (vl::GetTypeAt(L, 2) != VL_TNIL) {
    if (int s = GetDisplayByID(id, &d)) return s;
  }
  if (!d) return ERR_FINDDISPLAY;
  int32_t mx = 0, my = 0, mw = 0, mh = 0;
  switch (attr) {
    case VL_ATTRWIDTH: return Num(L, d->bgpic ? d->bgpic->width : d->width);
    case VL_ATTRHEIGHT: return Num(L, d->bgpic ? d->bgpic->height : d->height);
    case VL_ATTRMAXWIDTH:
      GetDisplayMonitorRect(d, &mx, &my, &mw, &mh);
      return Num(L, mw - d->frameWidth);
    case VL_ATTRMAXHEIGHT:
      GetDisplayMonitorRect(d, &mx, &my, &mw, &mh);
      return Num(L, mh - d->frameHeight);
    case VL_ATTRHOSTWIDTH:
      GetDisplayMonitorRect(d, &mx, &my, &mw, &mh);
      return Num(L, mw);
    case VL_ATTRHOSTHEIGHT:
      GetDisplayMonitorRect(d, &mx, &my, &mw, &mh);
      return Num(L, mh);
    case VL_ATTRBGPIC: return Id(L, d->bgpic ? d->bgpic->id() : vlObjectId{-1, nullptr});
    case VL_ATTRLAYERS: return Num(L, d->bgpic ? CountLayers(d->bgpic) : 0);
    case VL_ATTRXPOS: return Num(L, d->x);
    case VL_ATTRYPOS: return Num(L, d->y);
    case VL_ATTRCURSORX: return Num(L, d->cursorX);
    case VL_ATTRCURSORY: return Num(L, d->cursorY);
    case VL_ATTRBORDERLEFT: return Num(L, d->borderLeft);
    case VL_ATTRBORDERTOP: return Num(L, d->borderTop);
    case VL_ATTRBORDERRIGHT: return Num(L, d->borderRight);
    case VL_ATTRBORDERBOTTOM: return Num(L, d->borderBottom);
    case VL_ATTRPOINTER: {
      auto* p = static_cast<vlPointerImage*>(d->pointer);
      return p ? Id(L, {p->node.idNumber, p->node.idHandle}) : Num(L, -1);
    }
    case VL_ATTRSTATE: return Num(L, d->displayState);
    case VL_ATTRACTIVE: return Num(L, d->active);
    case VL_ATTRMODE: return Num(L, d->displayMode ? 2 : 1);
    case VL_ATTRSCALEMODE: return Num(L, d->autoScale ? 1 : d->layerScale ? 2 : 0);
    case VL_ATTRSCALEWIDTH: return Num(L, d->scaleWidth > 0 ? d->scaleWidth : d->width);
    case VL_ATTRSCALEHEIGHT: return Num(L, d->scaleHeight > 0 ? d->scaleHeight : d->height);
    case VL_ATTRBORDERLESS: return Num(L, (d->styleFlags & 0x1) != 0);
    case VL_ATTRFIXED: return Num(L, (d->styleFlags & 0x4) != 0);
    case VL_ATTRSIZEABLE: return Num(L, (d->styleFlags & 0x2) != 0);
    case VL_ATTRNOHIDE: return Num(L, (d->styleFlags & 0x20) != 0);
    case VL_ATTRNOMODESWITCH: return Num(L, (d->styleFlags & 0x8) != 0);
    case VL_ATTRNOCLOSE: return Num(L, (d->styleFlags & 0x4000) != 0);
    case VL_ATTRTITLE: return Str(L, d->titleText);
    case VL_ATTRMARGINLEFT: return Num(L, d->marginLeft);
    case VL_ATTRMARGINRIGHT: return Num(L, d->marginRight);
    case VL_ATTROUTPUTDEVICE:
      if (d->doubleBuffer) {
        Num(L, 38);
        Num(L, 0);
        return Num(L, 0) + 2;
      }
      Num(L, d->outputType);
      if (d->outputType == VL_OUTPUT_DISPLAY) Id(L, d->id());
      else if (vlCurrentOutput && vlCurrentOutput->kind == 0) Id(L, vlCurrentOutput->id());
      else if (vlCurrentOutput && vlCurrentOutput->selectObject)
        Id(L, {static_cast<vlObjectNode*>(vlCurrentOutput->selectObject)->idNumber,
               static_cast<vlObjectNode*>(vlCurrentOutput->selectObject)->idHandle});
      else Num(L, -1);
      return Num(L, OutputState(d)) + 2;
    case VL_ATTRDOUBLEBUFFER: return Num(L, d->doubleBuffer != 0);
    case VL_ATTRHOSTDEPTH: {
      const int format = DisplayDevice(d)->screenFormat(d);
      return Num(L, format < 0 ? 24 : format <= 3 ? 15 : format <= 7 ? 16 : format <= 9 ? 24 : 32);
    }
    case VL_ATTRMASKMODE: return Num(L, gGraphicsState.maskMode);
    case VL_ATTRALPHAINTENSITY: return Num(L, gGraphicsState.alphaIntensity);
    case VL_ATTRLAYERSON: return Num(L, d->layersOn != 0);
    case VL_ATTRORIENTATION: return Num(L, d->orientation);
    case VL_ATTRKEYBOARD: return Num(L, 0);
    case VL_ATTRDENSITY: return Num(L, 0);
    case VL_ATTRXDPI:
    case VL_ATTRYDPI: return Num(L, 96);
    case VL_ATTRMONITOR: return Num(L, d->monitorIndex + 1);
    case VL_ATTRADAPTER:
      return Str(L, DisplayDevice(d)->name);
    case VL_ATTRMENU:
      return d->menu ? Id(L, {reinterpret_cast<vlObjectNode*>(d->menu)->idNumber,
                              reinterpret_cast<vlObjectNode*>(d->menu)->idHandle})
                     : Num(L, -1);
    case VL_ATTRHOSTMONITORS: return Num(L, CountMonitors(d));
    case VL_ATTRXSERVER: return Str(L, d->xServer);
    case VL_ATTRFONTASCENDER:
    case VL_ATTRFONTDESCENDER:
    case VL_ATTRFONTNAME:
    case VL_ATTRFONTSIZE:
    case VL_ATTRFONTSCALABLE:
    case VL_ATTRFONTAA:
      return gCurrentFontHandler ? gCurrentFontHandler(L, attr) : ERR_UNKNOWNATTR;
    default: return ERR_UNKNOWNATTR;
  }
}

vlLayerAttributeFn gLayerHandlers[64];

int AskOwner(vlVMState* L, vlLayer* layer, int32_t attr, int missing) {
  vlLayerAttributeFn fn = layer->type < 64 ? gLayerHandlers[layer->type] : nullptr;
  return fn ? fn(L, layer, attr) : missing;
}

vlLayer* FindLayer(vlVMState* L, int index, int* status) {
  vlDisplay* d = CurrentDisplay();
  if (!d || !d->layersOn || !vlCurrentOutput) {
    *status = ERR_NOLAYERS;
    return nullptr;
  }
  vlLayer* layer = nullptr;
  if (vl::GetTypeAt(L, index) == VL_TSTRING) {
    layer = GetLayerByPos(vlCurrentOutput, FindLayerByName(vlCurrentOutput, vl::ToStringAt(L, index)));
  } else if (vl::GetTypeAt(L, index) == VL_TLIGHTUSERDATA) {
    void* handle = vl::CheckPointerArg(L, index);
    for (vlNode* n = vlCurrentOutput->layers.head; n->succ; n = n->succ)
      if (reinterpret_cast<vlLayer*>(n)->creationId.handle == handle) layer = reinterpret_cast<vlLayer*>(n);
  } else {
    layer = GetLayerByPos(vlCurrentOutput, vl::CheckIntArg(L, index));
  }
  *status = layer ? 0 : ERR_LAYERRANGE;
  return layer;
}

int LayerAttribute(vlVMState* L, vlObjectId, int32_t attr) {
  int status;
  vlLayer* layer = FindLayer(L, 2, &status);
  if (!layer) return status;
  vlLayerGeometry* g = layer->geometry[0];
  bool videoLayer = layer->type == VL_LAYER_VIDEO;
  bool animLayer = layer->type == VL_LAYER_ANIM;
  switch (attr) {
    case VL_ATTRWIDTH: return Num(L, g ? g->drawnWidth : 0);
    case VL_ATTRHEIGHT: return Num(L, g ? g->drawnHeight : 0);
    case VL_ATTRLAYERS: return Num(L, CountLayers(vlCurrentOutput));
    case VL_ATTRXPOS: return Num(L, g ? g->drawnX : 0);
    case VL_ATTRYPOS: return Num(L, g ? g->drawnY : 0);
    case VL_ATTRRAWXPOS: return Num(L, g ? g->x : 0);
    case VL_ATTRRAWYPOS: return Num(L, g ? g->y : 0);
    case VL_ATTRRAWWIDTH: return Num(L, g ? g->width : 0);
    case VL_ATTRRAWHEIGHT: return Num(L, g ? g->height : 0);
    case VL_ATTRTYPE: return Num(L, layer->type);
    case VL_ATTRVISIBLE: return Num(L, !layer->hidden);
    case VL_ATTRLAYERID: return Id(L, layer->creationId);
    case VL_ATTRZPOS: return Num(L, GetLayerIndex(layer));
    case VL_ATTRGROUP: return Str(L, layer->group);
    case VL_ATTRID:
      switch (layer->type) {
        case VL_LAYER_BRUSH:
        case VL_LAYER_ANIM:
        case VL_LAYER_TEXTOBJECT:
        case VL_LAYER_VIDEO:
        case VL_LAYER_BGPICPART:
        case VL_LAYER_BRUSHPART:
        case 49:
          return Id(L, layer->source);
        default:
          return ERR_BADLAYERTYPE;
      }
    case VL_ATTRFRAMEDELAY:
      if (!animLayer) return ERR_NOANMLAYER;
      return AskOwner(L, layer, attr, ERR_NOANMLAYER);
    case VL_ATTRNUMFRAMES:
    case VL_ATTRCURFRAME:
      return AskOwner(L, layer, attr, animLayer || videoLayer ? ERR_UNKNOWNATTR : ERR_BADLAYERTYPE);
    case VL_ATTRDURATION:
    case VL_ATTRPOSITION:
    case VL_ATTRFORMAT:
    case VL_ATTRCANSEEK:
    case VL_ATTRPLAYING:
    case VL_ATTRPAUSED:
      if (!videoLayer) return ERR_BADLAYERTYPE;
      return AskOwner(L, layer, attr, ERR_BADLAYERTYPE);
    default:
      if (attr >= VL_ATTRFONTASCENDER && attr <= VL_ATTRTEXT) {
        if (layer->type != VL_LAYER_TEXTOBJECT && layer->type != VL_LAYER_TEXTOUT && layer->type != VL_LAYER_PRINT)
          return ERR_NOTXTLAYER;
        return AskOwner(L, layer, attr, ERR_NOTXTLAYER);
      }
      return ERR_UNKNOWNATTR;
  }
}

int ClipRegionAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlClipRegionObject* r = nullptr;
  if (int s = GetClipRegionByID(id, &r)) return s;
  switch (attr) {
    case VL_ATTRWIDTH: return Num(L, r->region.width);
    case VL_ATTRHEIGHT: return Num(L, r->region.height);
    case VL_ATTRXPOS: return Num(L, r->region.x);
    case VL_ATTRYPOS: return Num(L, r->region.y);
    default: return ERR_UNKNOWNATTR;
  }
}

int PointerAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlPointerImage* p = nullptr;
  if (int s = GetPointerImageByID(id, &p)) return s;
  switch (attr) {
    case VL_ATTRWIDTH: return Num(L, p->width);
    case VL_ATTRHEIGHT: return Num(L, p->height);
    case VL_ATTRTYPE: return Num(L, p->kind);
    default: return ERR_UNKNOWNATTR;
  }
}

int AsyncDrawAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlAsyncDraw* a = nullptr;
  if (int s = GetAsyncDrawByID(id, &a)) return s;
  switch (attr) {
    case VL_ATTRTYPE: return Num(L, a->kind);
    case VL_ATTRNUMFRAMES:
    case VL_ATTRCURFRAME:
      if (!a->notify) return Num(L, -1);
      return Num(L, static_cast<double>(
                        a->notify(attr == VL_ATTRNUMFRAMES ? ADN_FRAMECOUNT : ADN_CURRENTFRAME, nullptr, a->userData, 0)));
    default: return ERR_UNKNOWNATTR;
  }
}

int PushRef(vlVMState* L, int ref) {
  if (ref < 0) return Num(L, 0);
  vl::RawGetTableIndex(L, vl::kRegistryIndex, ref);
  return 1;
}

int TimerAttribute(vlVMState* L, vlObjectId id, int32_t attr, bool interval) {
  vlTimerObject* t = nullptr;
  if (int s = interval ? FindInterval(id, &t) : FindTimeout(id, &t)) return s;
  switch (attr) {
    case VL_ATTRFUNCTION: return PushRef(L, t->functionRef);
    case VL_ATTRUSERDATA: return PushRef(L, t->userdataRef);
    case VL_ATTRDURATION: return Num(L, t->period);
    default: return ERR_UNKNOWNATTR;
  }
}

int IntervalAttribute(vlVMState* L, vlObjectId id, int32_t attr) { return TimerAttribute(L, id, attr, true); }
int TimeoutAttribute(vlVMState* L, vlObjectId id, int32_t attr) { return TimerAttribute(L, id, attr, false); }

int EventHandlerAttribute(vlVMState* L, vlObjectId, int32_t attr) {
  const char* name = vl::CheckStringArg(L, 2, nullptr);
  vlHandlerSlot* slot = nullptr;
  for (int i = 0; i < kDisplayHandlerCount && !slot; ++i)
    if (!CompareNoCase(name, kDisplayHandlerNames[i]))
      slot = CurrentDisplay() ? DisplayHandler(CurrentDisplay(), i) : nullptr;
  for (int i = 0; i < kGlobalHandlerCount && !slot; ++i)
    if (!CompareNoCase(name, kGlobalHandlerNames[i])) slot = &gGlobalHandlers[i];
  if (!slot) {
    bool known = false;
    for (int i = 0; i < kDisplayHandlerCount; ++i) known |= !CompareNoCase(name, kDisplayHandlerNames[i]);
    if (!known) {
      SetErrorArgument(name);
      return ERR_UNKNOWNTAG;
    }
    return attr == VL_ATTRFUNCTION || attr == VL_ATTRUSERDATA ? Num(L, 0) : ERR_UNKNOWNATTR;
  }
  switch (attr) {
    case VL_ATTRFUNCTION: return PushRef(L, slot->functionRef);
    case VL_ATTRUSERDATA: return PushRef(L, slot->userdataRef);
    default: return ERR_UNKNOWNATTR;
  }
}

int CmdGetAttribute(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  int32_t type = vl::CheckIntArg(L, 1);
  int32_t attr = vl::CheckIntArg(L, 3);
  if (attr == VL_ATTRCOUNT) {
    if (type >= 0 && (type < static_cast<int32_t>(kFirstExtraObjectType) ||
                      type < static_cast<int32_t>(kFirstExtraObjectType) + CountExtraObjectTypes()))
      return Num(L, CountObjectsOfType(static_cast<uint32_t>(type)));
  }
  if (type >= static_cast<int32_t>(kFirstExtraObjectType)) {
    intptr_t out = 0;
    if (int s = CallObjectTypeHandler(L, static_cast<uint32_t>(type), attr, &out)) return s;
    return Num(L, static_cast<double>(out));
  }
  vlObjectId id{};
  int idType = vl::GetTypeAt(L, 2);
  if (type != VL_OBJ_LAYER && type != 40 && idType != VL_TNIL) GetObjectIDArg(&id, L, 2);
  if (type < 0 || type >= static_cast<int32_t>(kFirstExtraObjectType)) return ERR_WRONGUSAGE;
  switch (type) {
    case VL_OBJ_BGPIC: return BGPicAttribute(L, id, attr);
    case VL_OBJ_DISPLAY: return DisplayAttribute(L, id, attr);
    case VL_OBJ_LAYER: return LayerAttribute(L, id, attr);
    case VL_OBJ_CLIPREGION: return ClipRegionAttribute(L, id, attr);
    case 36: return PointerAttribute(L, id, attr);
    case VL_OBJ_ASYNCDRAW: return AsyncDrawAttribute(L, id, attr);
    case 40: return EventHandlerAttribute(L, id, attr);
    case VL_OBJ_INTERVAL: return IntervalAttribute(L, id, attr);
    case VL_OBJ_TIMEOUT: return TimeoutAttribute(L, id, attr);
    default: break;
  }
  if (vlAttributeFn fn = gHandlers[type]) return fn(L, id, attr);
  return ERR_UNKNOWNATTR;
}

}  // namespace

void SetAttributeHandler(uint32_t type, vlAttributeFn fn) {
  if (type < kFirstExtraObjectType) gHandlers[type] = fn;
}

void SetLayerAttributeHandler(uint32_t layerType, vlLayerAttributeFn fn) {
  if (layerType < 64) gLayerHandlers[layerType] = fn;
}

void SetCurrentFontAttributeHandler(vlFontAttributeFn fn) { gCurrentFontHandler = fn; }

const vlCommand kGraphicsAttributeCommands[] = {
    {"GetAttribute", CmdGetAttribute},
    {nullptr, nullptr},
};
