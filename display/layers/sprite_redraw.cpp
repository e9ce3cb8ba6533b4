// The sprite pass of the redraw engine: empty until the sprite library
// installs its drawing routine.
#include "display/layers/sprite_redraw.h"

vlSpriteRedrawFn gSpriteRedraw = nullptr;
