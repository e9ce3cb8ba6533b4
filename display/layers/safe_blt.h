// The blit through which pictures reach the current display: clipping,
// on-screen sprites kept intact, mask, alpha and clip-region masks, the
// drawing target's own planes kept in step, and the changed rectangle
// handed to the window.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlBitmap;
struct vlDisplay;
struct vlClipRegion;

enum : uint32_t {
  VL_SAFEBLT_NOCLIP = 0x1,       // the clip region is ignored
  VL_SAFEBLT_NOSPRITES = 0x2,    // no on-screen sprite check
  VL_SAFEBLT_FIRSTBUFFER = 0x4,  // draw into the back buffer (and show it)
  VL_SAFEBLT_FROMLAYERS = 0x8,   // rebuild from the layers instead of copying
  VL_SAFEBLT_OFFSCREEN = 0x10,   // may run without a display; output planes untouched
  VL_SAFEBLT_NOSHOW = 0x20,      // not copied back or shown after sprites
  VL_SAFEBLT_BACKANDSHOW = 0x40, // into the back buffer, then shown
  VL_SAFEBLT_DIRECT = 0x80,      // straight to a direct output (none on this platform)
  VL_SAFEBLT_KEEP = 0x100,       // a drawing that stays: the front copy takes it too
};

// A source whose pixels are computed rather than held (a mix of two
// pictures, say): where the blit only copies the source into a picture,
// put writes the rectangle (srcX, srcY, width, height) of the source
// straight there, at (dstX, dstY), in one pass; false when it cannot, and
// wherever the source's pixels must be read, make first computes that
// rectangle into the source picture itself.
struct vlMadeSource {
  bool (*put)(void* context, vlBitmap* destination, int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
              int32_t width, int32_t height);
  void (*make)(void* context, int32_t srcX, int32_t srcY, int32_t width, int32_t height);
  void* context;
  // The source through an alpha plane (at source coordinates) into the
  // destination, as BltBitmapAlpha blits it; false: not drawn.
  bool (*putAlpha)(void* context, vlBitmap* destination, int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                   int32_t width, int32_t height, vlBitmap* alpha) = nullptr;
};

// While a hardware picture's mask or alpha channel is the display's
// drawing target: the picture takes drawing into that channel by the mask
// mode or alpha intensity of now. Anything else stops it.
void UpdatePlaneTarget(vlVMState* state, const vlDisplay* display, vlBitmap* picture);
// destination null: the current display. mask and alpha: the source's
// planes. srcWidth/srcHeight and dstWidth/dstHeight limit the copy. made:
// the source's pixels are made on demand (see vlMadeSource), or null.
void SafeBlt(vlVMState* state, vlBitmap* source, int32_t srcX, int32_t srcY, vlBitmap* destination, int32_t dstX,
             int32_t dstY, int32_t width, int32_t height, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
             int32_t dstHeight, uint32_t flags, vlBitmap* mask, vlBitmap* alpha, const vlClipRegion* clip,
             const vlMadeSource* made = nullptr);

// A picture drawn into the current drawing target as the drawing commands
// draw without layers: onto the display, into its software double buffer
// (the area then goes out with the next Flip), or into a selected BGPic,
// brush or anim frame; clipped to the target and its clip region.
// srcWidth/srcHeight limit the source.
void BlitToDrawTarget(vlVMState* state, vlBitmap* source, int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                      int32_t width, int32_t height, int32_t srcWidth, int32_t srcHeight, vlBitmap* mask,
                      vlBitmap* alpha, const vlMadeSource* made = nullptr);

// For the transition effects: shows a rectangle of source on the display;
// a source other than the back buffer goes there first under a sprite,
// which is drawn over it.
void BlitEffectRect(vlVMState* state, vlBitmap* source, int32_t srcX, int32_t srcY, vlDisplay* display,
                    int32_t dstX, int32_t dstY, int32_t width, int32_t height);

// The drawing-target words that selecting a brush, mask or alpha channel
// sets: the select mode and the alpha mode (0 copy, 1 blend, 2 blend and
// keep the target's alpha plane).
extern int32_t vlSelectMode;
extern int32_t vlSelectAlphaMode;
// A display record that lets off-screen blits run before any display is
// open (set by the graphics library).
extern vlDisplay* vlSpareDisplay;
