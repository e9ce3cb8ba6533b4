// The display whose BGPic holds the layer that shows a video: where the
// frames of a stopped video layer go when it is sought.
#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/layer_users.h"
#include "display/layers/layers.h"

vlDisplay* GetDisplayOfVideo(vlObjectId video) {
  for (vlDisplay* d = vlDisplayList; d; d = d->next) {
    if (!d->bgpic) continue;
    for (vlNode* n = d->bgpic->layers.head; n && n->succ; n = n->succ) {
      const auto* l = reinterpret_cast<const vlLayer*>(n);
      if (l->type == VL_LAYER_VIDEO && l->source.number == video.number && l->source.handle == video.handle)
        return d;
    }
  }
  return nullptr;
}
