// Layers that show script objects, across every BGPic.
#include "display/layers/layer_users.h"

#include "display/bgpic.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"

namespace {

bool Shows(const vlLayer* l, uint32_t type, vlObjectId id) {
  const bool kind = l->type == type || (type == VL_LAYER_BRUSH && l->type == VL_LAYER_BRUSHPART) ||
                    (type != VL_LAYER_BRUSH && l->type == VL_LAYER_NOOBJECT);
  return kind && l->source.number == id.number && l->source.handle == id.handle;
}

template <class Fn>
bool ForEachLayer(Fn fn) {
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    for (vlNode* node = pic->layers.head; node && node->succ; node = node->succ)
      if (fn(pic, reinterpret_cast<vlLayer*>(node))) return true;
  return false;
}

// The private copy a layer gets of a BGPic part it shows: an orphan, known
// only by its own address.
int CopyBGPicForLayers(vlVMState* state, void* record, vlObjectId* id, void** copy) {
  vlBGPic* made = nullptr;
  if (int status = CloneBGPic(state, static_cast<vlBGPic*>(record), id, &made)) return status;
  made->orphan = 1;
  *copy = made;
  return 0;
}

int DetachBGPicUsers(vlVMState* state, vlBGPic* pic) {
  return ForObjectLayerUser(state, VL_LAYER_BGPICPART, pic->id(), CopyBGPicForLayers, pic, nullptr);
}

int BindBGPicUsers(vlBGPic* pic) { return RebindLayersToRecord(VL_LAYER_BGPICPART, pic->id(), pic); }

}  // namespace

void InstallBGPicUserHooks() {
  gLayerHooks.detachBGPicUsers = DetachBGPicUsers;
  gLayerHooks.bindBGPicUsers = BindBGPicUsers;
}

int FindLayerShowingObject(uint32_t type, vlObjectId id, const vlLayer* skip, vlBGPic** outPic,
                           vlLayer** outLayer) {
  return ForEachLayer([&](vlBGPic* pic, vlLayer* l) {
    if (l == skip || !Shows(l, type, id)) return false;
    if (outPic) *outPic = pic;
    if (outLayer) *outLayer = l;
    return true;
  });
}

int RebindLayersToRecord(uint32_t type, vlObjectId id, void* record) {
  int changed = 0;
  ForEachLayer([&](vlBGPic*, vlLayer* l) {
    if (Shows(l, type, id)) {
      l->source = {0, record};
      changed = 1;
    }
    return false;
  });
  return changed;
}

vlBGPic* FindBGPicOfLayer(const vlLayer* layer) {
  vlBGPic* found = nullptr;
  ForEachLayer([&](vlBGPic* pic, vlLayer* l) {
    if (l != layer) return false;
    found = pic;
    return true;
  });
  return found;
}

int ForObjectLayerUser(vlVMState* state, uint32_t type, vlObjectId id, vlLayerCopyFn copy, void* record,
                       void** outCopy) {
  if (outCopy) *outCopy = nullptr;
  if (!FindLayerShowingObject(type, id, nullptr, nullptr, nullptr)) return 0;
  vlObjectId fresh{0, reinterpret_cast<void*>(1)};
  void* made = nullptr;
  if (int status = copy(state, record, &fresh, &made)) return status;
  RebindLayersToRecord(type, id, made);
  if (outCopy) *outCopy = made;
  return 0;
}
