// The table of command libraries and their opening at start-up. Depends on
// each library's open routine and the VM's stack interface.
#include "player/library_table.h"

#include "display/commands/display_library.h"
#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "libraries/dos/dos_library.h"
#include "libraries/math/math_library.h"
#include "libraries/memblock/memblock_library.h"
#include "libraries/network/network_library.h"
#include "libraries/string/string_library.h"
#include "media/sound/sound_library.h"
#include "media/video/video_library.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/draw/draw_state.h"
#include "objects/movement/move.h"
#include "objects/sprites/sprite.h"
#include "display/events/event_library.h"
#include "player/system_library.h"
#include "text/text_library.h"
#include "text/vector/vector_library.h"
#include "transitions/transition_library.h"
#include "vm/stack_api.h"

const vlLibraryRow vlLibraryTable[] = {
    // The full opening order; a row is live once its library has landed.
    {"string", OpenStringLib},

    {"math", OpenMathLib},

    {"graphics", OpenGraphicsLib},

    {"display", OpenDisplayLib},

    {"bgpic", OpenBgPicLib},

    {"dos", OpenDosLib},

    {"layers", OpenLayersLib},

    {"system", OpenSystemLibrary},

    {"brush", OpenBrushLib},

    {"text", OpenTextLib},

    {"anim", OpenAnimLib},

    {"sprite", OpenSpriteLib},

    {"sound", OpenSoundLib},

    {"draw", OpenDrawLib},

    {"moveobject", OpenMoveObjectLib},

    {"transitionfx", OpenTransitionFxLib},

    {"event", OpenEventLibrary},

    {"memblock", OpenMemBlockLib},

    {"vectorgraphics", OpenVectorGraphicsLib},

    {"network", OpenNetworkLib},

    {"video", OpenVideoLib},

    {nullptr, nullptr},
};

int OpenLibraries(vlVMState* state) {
  for (const vlLibraryRow* row = vlLibraryTable; row->name; ++row) {
    vl::PushSlotCopy(state, vl::kGlobalsIndex);
    int status = row->open(state);
    vl::SetStackTop(state, 0);
    if (status) return status;
  }
  return 0;
}
