// The blend of the bottom layers kept between redraws. A script that moves a
// few layers over a stack that stays still has the stack below the moved
// ones blended again under every move; the kept blend holds that part once
// (background and layers up to a stacking level, made cell by cell as
// redraws reach them) and a redraw copies it and blends only the layers
// above. It is used only while nothing can have changed it: no command but
// the few that change no picture has run since it was made (the command
// count of the script machine), no layer at or below the level moved and
// nothing else changed in the stack (the layer index's epoch), the stack's
// list, display, BGPic, background and sizes are the same, and no plug-in
// runs code on every pump.
#pragma once

struct vlVMState;
struct vlDisplay;
struct vlBGPic;
struct vlBitmap;
struct vlRectXYWH;

// Background and layers of pic over area of dest through the kept blend;
// false, with nothing drawn, when it cannot be used (the caller draws).
bool DrawThroughKeptBlend(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* background, vlBitmap* dest,
                          const vlRectXYWH& area);

// First thing in a command that changes no picture (waits, timers) or only
// moves layers it reports (ShowLayer): the blend stays kept through it.
void KeepLayerBlendThrough(vlVMState* L);
// After a command moved layers from the script's own level: from here the
// blend below the moved layers is kept (made again if it was not).
void KeepLayerBlendAfter(vlVMState* L);

// Frees the kept picture (shut-down).
void ReleaseKeptBlend();
// Tests: false never keeps a blend.
void SetKeptBlendEnabled(bool on);
// Tests: the stacking level kept now (0 when none is kept).
int KeptBlendLevelInUse();
// Tests: redraws made through the kept blend so far.
unsigned long KeptBlendUses();
