/* The plug-in interface, continued: display adapters, their entries and
 * the records they take. Part of abi/plugin_abi.h, which includes it
 * where these types are needed; include that header, not this one. */
#ifndef VL_RUNTIME_PLUGIN_ABI_H
#error "include abi/plugin_abi.h, not abi/plugin_display.h"
#endif
#ifndef VL_RUNTIME_PLUGIN_DISPLAY_H
#define VL_RUNTIME_PLUGIN_DISPLAY_H

/* ------------------------------------------------------------------------
 * Display adapters (PLUGINCAPS_DISPLAYADAPTER).
 *
 * A display adapter replaces the player's X11 windows: every display, its
 * pointer, its input, waits and drawing go to the entries below. It is
 * installed by graphics slot 13, SetDisplayAdapter (info, user data, tags
 * {1 refresh rate, 2 and 3 the adapter words}), only while the plug-ins
 * named at start-up (-requireplugins, or the script's plug-in
 * declarations) are opened: from the plug-in's RequirePlugin entry, or
 * from its InitPlugin when it is first loaded then (a file name starting
 * with "_" keeps it out of the start-up scan). At any other time, the
 * InitPlugin of the start-up scan included, the answer is 1518. The
 * entries are looked up by name; all 43 are mandatory (AdapterMainLoop
 * only with bit 0 of the display extension word). The display handle is
 * what OpenDisplay gave. */

/* Word 16, displayCaps. The low four bits also answer the player's
 * picture queries: 1 the adapter scales its pictures (and a video bitmap
 * it refuses may be made by the player), 2 it transforms them, 4 it
 * double-buffers displays (BeginDoubleBuffer, Flip, EndDoubleBuffer) and
 * draws into its hardware brushes (the script selects one with
 * SelectBrush), 8 it draws into their masks and alpha channels (SelectMask,
 * SelectAlphaChannel; see "Planes" below).
 * The gate: hardware brushes (word 24 bit 16), keeping pictures for any
 * display (word 24 bit 2), drawing into hardware brushes and their planes
 * (bits 4 and 8 here) and mixing (word 24 bit 32) are used only when this
 * word also has VL_DISPCAPS_DRAWCLOSED (16); without it a script's
 * hardware brushes are the player's own pictures. Scaling, transforming
 * and double-buffering (bits 1, 2 and 4) are asked for without the gate.
 * VL_DISPCAPS_SLEEP (1) thus says three things at once: the adapter has
 * Sleep, it scales pictures, and when AllocVideoBitMap refuses a hardware
 * brush or a picture of the player's, the player makes that picture
 * itself; without the bit the refusal is error 1522, unless word 24 has
 * VL_DISPCAPS2_NOBITMAP (4), which counts a refused picture of the
 * player's as one the adapter keeps. An adapter that sleeps but cannot
 * scale is still asked to scale its pictures (AllocVideoBitMap with
 * VL_VBM_ADAPTERSOURCE and words 2 and 3): it refuses, and the player
 * scales them in software. */
#define VL_DISPCAPS_SLEEP      1u   /* has Sleep */
#define VL_DISPCAPS_VWAIT      2u   /* has VWait */
#define VL_DISPCAPS_MONITORS   4u   /* GetMonitorInfo answers (and the picture query 4 above) */
#define VL_DISPCAPS_GRAB       8u   /* GrabScreenPixels answers (and the picture query 8 above) */
#define VL_DISPCAPS_DRAWCLOSED 16u  /* draws on displays that are not open but have a handle */
/* Word 17, displayFlags. */
#define VL_DISPFLAG_SCALES        8u   /* scales display blits itself */
#define VL_DISPFLAG_VIDEO_BITMAPS 16u  /* makes video bitmaps (AllocVideoBitMap) */
#define VL_DISPFLAG_OWNS_BITMAPS  32u  /* owns every picture and plane (AllocBitMap) */
/* Counts alpha inversely: 255 transparent. */
#define VL_DISPFLAG_INVERSE_ALPHA 0x80000000u
/* Word 20, displayAccel: the drawing into the pictures it owns that an
 * adapter owning every bitmap (flag 32) does itself. The bits count only
 * with flag 32, so that every handle it is given is its own; each bit
 * sends that drawing to the picture form of BltBitMap (plain, masked,
 * alpha), RectFill, WritePixel or Line with mode 2 (blits) or 1 (the
 * others); without the bit the player draws into the picture through
 * LockBitMap. Video bitmaps (flag 16) are drawn into through the picture
 * forms whatever this word holds, with the modes below. Either way the
 * adapter must draw the pixels the player's software would: a mask bit set
 * copies the pixel; an alpha byte a of 0 keeps the target, 255 copies,
 * else each channel becomes d + (((s - d) * a) >> 8), shifted
 * arithmetically; a line takes, at each step along its longer axis, the
 * pixel nearest the exact line, halves rounded away from the end with the
 * smaller coordinate. */
#define VL_ACCEL_BLIT        1u
#define VL_ACCEL_MASKED_BLIT 2u
#define VL_ACCEL_ALPHA_BLIT  4u
#define VL_ACCEL_FILL        8u
#define VL_ACCEL_PIXEL       16u
#define VL_ACCEL_LINE        32u
/* Word 24, displayCaps2. */
#define VL_DISPCAPS2_DISPLAYS 2u   /* plug-ins reach its displays; it keeps pictures for any display */
#define VL_DISPCAPS2_NOBITMAP 4u   /* a refused video bitmap is no error: the picture stays the player's */
#define VL_DISPCAPS2_HARDWARE 16u  /* hardware brushes and back buffers */
#define VL_DISPCAPS2_MIXES    32u  /* mixes display blits by a level (tags 8 and 9 of BltBitMap's display form) */

/* The picture form of BltBitMap: the rectangle, then, for the masked form
 * the mask plane's handle and for the alpha form the alpha plane's; the
 * planes are read at the source's coordinates. */
typedef struct vlAdapterBlitBlock {
  int32_t srcX, srcY, dstX, dstY, width, height;
  uint32_t reserved[3];
  void* maskHandle;
  void* alphaHandle;
} vlAdapterBlitBlock;
/* The modes the picture forms receive, per form.
 * RectFill, WritePixel, Line (handle, ..., colour, mode, 0):
 *   1 a picture of an owning adapter, for word 20 bit 8, 16 or 32;
 *   2 one of its video bitmaps (a hardware brush the script draws into),
 *     word 20 whatever it holds; the colour is 0xAARRGGBB and only the
 *     colour bytes of the picture change, its alpha bytes stay;
 *   2 | 4 the video bitmap's mask or alpha channel is the drawing target:
 *     the word is not a colour but plane << 8 | value (see "Planes");
 *   2 | 8 combo mode (see "Combo"): the drawn pixels' alpha bytes become
 *     255 as well.
 * BltBitMap's picture form (source, target, vlAdapterBlitBlock*, mode):
 *   2 pictures of an owning adapter, for word 20 bit 1, 2 or 4;
 *   4 the target is one of its video bitmaps and so is the source (or
 *     every picture is its own); a picture of the player reaches a video
 *     bitmap through LockBitMap instead;
 *   added: 1 the source is a video bitmap; 8 that source was never
 *   prepared (DoVideoBitMapMethod); 64 (every form) combo mode, reserved[0]
 *   the alpha mode, reserved[1] the plane kept (see "Combo"); 16 the
 *   target's mask or alpha channel is the drawing target:
 *   reserved[1] holds the plane, reserved[2] the value (see "Planes");
 *   32 no source: the colour in reserved[0] is laid through the alpha
 *   plane (VL_ACCEL_ALPHA_BLIT; layer shadows).
 * A source video bitmap whose alpha bytes count (made with VL_VBM_ALPHA,
 * made from such a picture, or prepared for its planes) is blended into
 * the target by its own alpha bytes, as the alpha form blends by a plane;
 * the player does the same when it reads such a picture through
 * LockBitMap or ReadVideoPixels.
 * Combo: a video bitmap selected with SelectBrush (id, SELMODE_COMBO, alpha
 * mode), or with SelectLayer (layer, SELMODE_COMBO, 0, alpha mode) on a
 * layer holding a hardware brush's picture, also while the display
 * double-buffers (never a double buffer's own back buffer), has its colours
 * and its alpha bytes (its mask or alpha channel) drawn together; selected
 * normally, only its colours change and its alpha bytes stay. In combo mode
 * the pixel forms make the drawn pixels opaque (255), and a blit's
 * reserved[1] says which plane the target keeps. A plain blit whose source
 * video bitmap's alpha bytes are a colour key or a mask, not an alpha
 * channel (loaded with a transparent colour, made with a mask, or its mask
 * drawn into), comes with reserved[2] 1 (else 0) and goes as a masked blit,
 * the mask bit set where the byte is not 0. VL_PLANE_ALPHA: a plain
 * blit copies the colours and writes 255; a masked blit does both only under
 * set mask bits, in every alpha mode (0 and 1 as 2), and leaves the pixels
 * under clear bits, colours and alpha bytes, as they were; an alpha blit
 * (the plane's byte s, or a source's own alpha bytes) goes by the alpha
 * mode: 0 copies the colours and writes s over the
 * whole rectangle; 1 does so only where s is not 0; 2 keeps pixels where s
 * is 0, copies where s is 255 and else, with t the target's alpha byte,
 * writes o = ((255 - s) * t + 255 * s + 127) / 255 and mixes each channel as
 * (src * s + dst * k + 127) / o (at most 255), k = ((255 - s) * t + 127) /
 * 255. VL_PLANE_MASK (alpha bytes 0 or 255): the colours go as without
 * combo; a plain blit writes 255, a masked blit the mask bit (255 or 0) and
 * an alpha blit 255 where s is 255, else 0, over the whole rectangle. The
 * player keeps the same rules on video bitmaps it draws into through
 * LockBitMap. */
/* The earlier names of some of these bits, kept for plug-ins that use them. */
#define VL_PICMODE_PIXELS 1u
#define VL_PICMODE_BLIT   2u
#define VL_PICMODE_VIDEO  4u
#define VL_PICMODE_COLOR  32u
#define VL_PIXMODE_ACCEL 1u
#define VL_PIXMODE_VIDEO 2u
#define VL_PIXMODE_PLANE 4u
#define VL_PIXMODE_COMBO 8u
#define VL_BLITMODE_SOURCEVIDEO 1u
#define VL_BLITMODE_ACCEL       2u
#define VL_BLITMODE_VIDEO       4u
#define VL_BLITMODE_UNPREPARED  8u
#define VL_BLITMODE_PLANE       16u
#define VL_BLITMODE_COLOR       32u
#define VL_BLITMODE_COMBO       64u
/* Planes. A hardware brush's mask and its alpha channel are both the alpha
 * bytes of its video bitmap; a mask bit is set where the byte is not 0,
 * and mask drawing writes 255 or 0. Before the first drawing into them the
 * player calls DoVideoBitMapMethod (bitmap, VL_VBM_PREPARE, {1 the plane})
 * once: from then on the picture's alpha bytes count, and a picture whose
 * alpha bytes did not count starts with every one 255 (all shown, all
 * opaque). The colour bytes never change while a plane is drawn into.
 *   VL_PLANE_MASK, value a mask mode: the pixel forms show (0, 2, 5), hide
 *   (1), toggle (3) or keep (4) every pixel they draw; a blit takes the
 *   source's coverage s at each pixel (a set mask bit, an alpha byte not 0,
 *   every pixel of a plain source) and shows where s (0), hides where s
 *   (1), sets d = s (2), d = d xor s (3), d = d and s (4), d = d or s (5).
 *   VL_PLANE_ALPHA, value the alpha byte: the pixel forms write it (255
 *   for the value 255 the player sends for "unset"); a blit writes it
 *   where the source covers; the value 0xFFFFFFFF copies the source's own
 *   coverage instead: an alpha source's bytes over the whole rectangle,
 *   255 under a set mask bit, 255 for a plain source.
 * Plane values count alpha as 255 opaque whatever VL_DISPFLAG_INVERSE_ALPHA
 * says; the adapter stores them as it keeps alpha. */
#define VL_PLANE_MASK  28u
#define VL_PLANE_ALPHA 30u
#define VL_VBM_PREPARE 1u

/* LockBitMap's record: pixels, non-zero locked, pixel format (10: ARGB
 * words; 14 alpha plane, 15 mask plane), bytes per pixel, row length
 * (pixels for a picture, bytes for a plane), width, height, and non-zero
 * when no UnLockBitMap is needed. The player zeroes the record; the
 * adapter fills pixels, row length, width and height, and the player then
 * sets locked, format and bytes per pixel itself (10 and 4 for a picture,
 * a video bitmap included: its pixels must be ARGB words; 14 or 15 and 1
 * for a plane), whatever the adapter wrote there. */
typedef struct vlAdapterLock {
  uint8_t* pixels;
  int32_t locked;
  int32_t format;
  int32_t bytesPerPixel;
  int32_t rowLength;
  int32_t width;
  int32_t height;
  int32_t direct;
} vlAdapterLock;

/* ReadVideoPixels' record: the pixels (also its result), row bytes, pixel
 * format (10-13 for 32-bit, 4 for RGB 5-6-5) and non-zero when the alpha
 * bytes count. */
typedef struct vlVideoPixels {
  void* pixels;
  int32_t rowBytes;
  int32_t format;
  int32_t hasAlpha;
} vlVideoPixels;

/* AllocVideoBitMap tags: 1 an ARGB buffer (rows of width words), or with
 * flag 2 a picture the adapter holds; 2, 3, 4 words of the picture's
 * source (with flag 2 and words 2 and 3, a size to scale that picture
 * to); 5 four doubles, a 2x2 matrix to transform it by; 6 the display. */
#define VL_VBM_SOURCE  1u
#define VL_VBM_WORD1   2u
#define VL_VBM_WORD2   3u
#define VL_VBM_WORD3   4u
#define VL_VBM_MATRIX  5u
#define VL_VBM_DISPLAY 6u
/* AllocVideoBitMap flags: 1 the ARGB alpha bytes count, 2 the source is
 * an adapter picture, 8 a video bitmap. */
#define VL_VBM_ALPHA         1u
#define VL_VBM_ADAPTERSOURCE 2u
#define VL_VBM_VIDEO         8u
/* AllocBitMap flags of a plane (else a picture of ARGB words), with the
 * tags {1 the picture a mask is for, 2 a buffer the plane borrows, 3 its
 * row bytes}; VL_ABM_CLEAR: the bytes start at 0. */
#define VL_ABM_ALPHAPLANE 0x10000u
#define VL_ABM_MASKPLANE  0x20000u
#define VL_ABM_CLEAR      0x40000u

/* The entries, in slot order, with what each does. Colours are
 * 0xAARRGGBB (alpha inverted with VL_DISPFLAG_INVERSE_ALPHA). */
/* After every script line: post input (system slot 27), run due timers;
 * an error code ends the script (1003 quits). It takes the place of the
 * player's own event step, so it must also call system slot 20,
 * ServiceEvents (state, 2), every time: that step draws the video frames
 * the video threads have queued (and polls the joysticks). An adapter
 * whose event entries never call it shows no video at all. With flag 1
 * added the step also runs the callbacks that are due; WaitEvents, when
 * it wakes, does the same as HandleEvents. */
typedef int (*vlHandleEventsFn)(vlVMState*, uint32_t context, uintptr_t zero);
/* Input an adapter posts: PostAdapterEvent (kind, words) or, from the
 * script's thread with its state, PostAdapterEventVM (state, kind, words,
 * 0) (system slots 15 and 27), any thread. words points at five
 * pointer-sized words, laid out as vlAdapterEvent (pass (const uintptr_t*)
 * &event); the player copies what it needs before the call returns,
 * except for a registered kind. The kinds, and the words each reads:
 *   VL_AEV_QUIT (0): none; the script is asked to quit.
 *   VL_AEV_CALL (1): word[0] an int (*)(vlVMState*, void*) and word[1] its
 *     argument: called on the script's thread at its next event step.
 *   VL_AEV_MOUSE (3): word[0] x, word[1] y (display pixels), word[2] the
 *     button (0 a move, 1 left, 2 right, 3 middle), word[3] non-zero down.
 *   VL_AEV_KEY (4): word[0] the key code as the script's key events
 *     report it, word[1] non-zero down, word[2] the qualifier bits (as
 *     GetQualifiers answers them).
 *   VL_AEV_CLOSE (5): the close button; VL_AEV_SIZE (6): word[0], word[1]
 *     the new inner width and height; VL_AEV_MOVE (7): word[0], word[1] the
 *     new position; VL_AEV_SHOW (8): word[0] 0 hidden, else shown;
 *     VL_AEV_ACTIVE (9): word[0] non-zero the display has the focus.
 *   A code from RegisterEventType (28 and up): the words pointer itself is
 *     the event's data word, handed to the type's fields routine; it must
 *     stay valid until then.
 * Kinds 3 to 9 name the display by its number in display (the script's
 * display number); the answer is 0, 1344 when no display has that number,
 * 1528 when the queue refuses the event, or 1000. */
typedef struct vlAdapterEvent {
  uintptr_t display;
  uintptr_t word[4];
} vlAdapterEvent;
VL_ABI_ASSERT(sizeof(vlAdapterEvent) == 5 * sizeof(uintptr_t), "vlAdapterEvent changed");
#define VL_AEV_QUIT   0u
#define VL_AEV_CALL   1u
#define VL_AEV_MOUSE  3u
#define VL_AEV_KEY    4u
#define VL_AEV_CLOSE  5u
#define VL_AEV_SIZE   6u
#define VL_AEV_MOVE   7u
#define VL_AEV_SHOW   8u
#define VL_AEV_ACTIVE 9u
/* Blocks until input comes or ForceEventLoopIteration runs. */
typedef int (*vlWaitEventsFn)(vlVMState*, uint32_t context, uintptr_t* scratch, uintptr_t zero);
typedef int (*vlForceEventLoopIterationFn)(uint32_t zero); /* wake WaitEvents; any thread */
typedef int (*vlSleepFn)(vlVMState*, int32_t millis); /* sleep, taking input (VL_DISPCAPS_SLEEP) */
typedef int (*vlVWaitFn)(void* display, const vlTagItem* tags); /* wait for the next frame; tag 1 the script's value */
typedef int (*vlDetermineBorderSizesFn)(void* display, int32_t* left, int32_t* right, int32_t* top, int32_t* bottom);
/* OpenDisplay: flags 0x1 borderless, 0x2 sizeable, 0x4 fixed, 0x8 no
 * minimise, 0x10 no close button, 0x20 auto scale, 0x40 layer scale,
 * 0x80 layers on, 0x100 double buffered, 0x200 the adapter double
 * buffers, 0x400 full screen, 0x800 no screen saver. Tags: 1 and 2 the
 * picture's width and height, 3 and 4 the addresses of two words the
 * adapter may set to 1 to mark the display (3: a double buffer's frame
 * comes whole at each Flip; 4: transition frames come whole), 5 the
 * vlVMState, 6 the monitor (0 the first); a full-screen display adds 7, 8,
 * 9 the screen's width, height and depth (depth 0: keep the screen's
 * current depth, as the player's own windows always do); a scaled one 10
 * and 11 the scaled width and height; 12 1 for smooth scaling. The result
 * is the display's handle, null refusing the display (error 1010).
 * Mark 3 concerns the player's own double buffer (flag 0x100 without
 * 0x200): at each Flip it then sends the whole back buffer in one
 * display-form BltBitMap (and the rest of a larger display from the front
 * picture) instead of the rectangles that changed. It does nothing for a
 * double buffer the adapter keeps itself (see BeginDoubleBuffer). */
typedef void* (*vlOpenDisplayFn)(const char* title, int32_t x, int32_t y, int32_t width, int32_t height,
                                 uint32_t flags, const vlTagItem* tags);
typedef int (*vlCloseDisplayFn)(void* display);
typedef int (*vlChangeBufferSizeFn)(void* display, int32_t width, int32_t height); /* new size; the player redraws */
typedef int (*vlShowHideDisplayFn)(void* display, int show);
typedef int (*vlSizeMoveDisplayFn)(void* display, int32_t x, int32_t y, int32_t width, int32_t height);
typedef int (*vlSetDisplayTitleFn)(void* display, const char* title);
typedef int (*vlActivateDisplayFn)(void* display, int activate);
typedef int (*vlSetDisplayAttributesFn)(void* display, const vlTagItem* tags); /* tag 1: the script handles the close button */
typedef void* (*vlCreatePointerFn)(const uint32_t* argb, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                                   uint32_t zero); /* a pointer from ARGB words; null is error 1321 */
typedef void (*vlFreePointerFn)(void* pointer);
typedef int (*vlSetPointerFn)(void* display, int kind, void* pointer); /* kind 0 default, 1 busy, 2 the pointer */
typedef int (*vlShowHidePointerFn)(void* display, int show); /* HidePointer, ShowPointer */
typedef int (*vlMovePointerFn)(void* display, int32_t x, int32_t y); /* MovePointer, in window pixels */
typedef int (*vlGetMousePosFn)(void* display, int32_t* x, int32_t* y); /* MouseX, MouseY */
typedef uint32_t (*vlGetQualifiersFn)(void* display); /* 0x80000000 | the held qualifier keys */
/* BltBitMap, mode 0: the display form, (display, the player's picture, a
 * tag list {1 source x, 2 source y, 3 x, 4 y, 5 width, 6 height, 7 flags},
 * 0); read the picture's pixels through graphics slot 25. With
 * VL_DISPCAPS2_MIXES a crossfade adds {8 level 0..255, 9 a second player
 * picture}: show (second x (255 - level) + picture x level) / 255 of the
 * same source rectangle of both. Mode non-zero: the picture form, (source
 * handle, destination handle, vlAdapterBlitBlock*, mode).
 * The flags of tag 7 say where the rectangle comes from; the player's own
 * windows read only 0x20 and 0x100, and an adapter may ignore the others:
 *   0x1   a frame of a transition effect, text output or a layer blit that
 *         shows at once;
 *   0x2   a redraw a plug-in asked for (graphics slot 19);
 *   0x8   the whole display is drawn anew (with 0x1: after Cls, a lost
 *         window, opening);
 *   0x20  a video frame, or a rectangle a display client drew: it goes
 *         over videos the adapter shows as overlays;
 *   0x80  the first drawing of a display just opened (sent even while the
 *         script holds refreshes back);
 *   0x100 a scaled copy: the rectangle is at the window's scale already. */
typedef int (*vlBltBitMapFn)(void* a, void* b, const void* params, uint32_t mode);
/* RectFill, WritePixel, Line: mode 0 draws on the display (the handle is
 * the display's); mode non-zero into a picture (the handle is the
 * picture's), see VL_PICMODE_*. */
typedef int (*vlRectFillFn)(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color,
                            uint32_t mode, uint32_t zero);
typedef int (*vlWritePixelFn)(void* handle, int32_t x, int32_t y, uint32_t color, uint32_t mode, uint32_t zero);
typedef int (*vlLineFn)(void* handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color, uint32_t mode,
                        uint32_t zero);
/* GetMonitorInfo (kind, monitor, out, 0): *out = kind 0 monitors {x, y,
 * width, height}..., kind 1 modes {width, height, depth}..., ended by a
 * zero width or height; the adapter's memory, handed back to
 * FreeMonitorInfo (kind, data). */
typedef int (*vlGetMonitorInfoFn)(int kind, int monitor, void* out, int zero);
typedef void (*vlFreeMonitorInfoFn)(int kind, void* data);
/* width x height ARGB words of the screen at x, y (VL_DISPCAPS_GRAB), the
 * adapter's memory until FreeGrabScreenPixels; null: error 1561. */
typedef uint32_t* (*vlGrabScreenPixelsFn)(void* display, int32_t x, int32_t y, int32_t width, int32_t height,
                                          uint32_t zero, uint32_t zero2);
typedef void (*vlFreeGrabScreenPixelsFn)(void* pixels);
/* Runs the script: calls run (state) once, its result the script's. */
typedef int (*vlAdapterMainLoopFn)(vlVMState*, int (*run)(vlVMState*));
/* BeginDoubleBuffer: 0 or an error code; the adapter double-buffers the
 * display (asked only with word 16 bit 4, and then whenever a script asks
 * for hardware double buffering). A refusal, here as from EndDoubleBuffer
 * and Flip, is one of the player's error codes (1000 or above): the
 * script sees it; a smaller non-zero number is read as the command's
 * count of results, and the script goes on as if double buffering had
 * begun (or ended). Until EndDoubleBuffer the
 * player keeps drawing as before: display-form BltBitMap, RectFill,
 * WritePixel, Line and Cls calls on this display's handle, which the
 * adapter now draws into its back buffer, holding them back from the
 * window until Flip shows the back buffer. The back buffer starts black
 * (colour 0), as the player's own back buffer does; the player sends
 * nothing to fill it, nor a whole frame at Flip. */
typedef int (*vlBeginDoubleBufferFn)(void* display, uint32_t zero);
/* EndDoubleBuffer: the window shows the back buffer as it stands (a plain
 * display ends on its last drawn frame, black when nothing was drawn) and
 * drawing reaches the window at once again. Not called for a display
 * already closed: its buffer went with CloseDisplay. */
typedef int (*vlEndDoubleBufferFn)(void* display, uint32_t zero);
/* Flip's block: {1, sync (1: wait for the vertical blank first), 0}. */
typedef int (*vlFlipFn)(void* display, const int32_t* block); /* shows the back buffer */
typedef int (*vlClsFn)(void* display, uint32_t color, uint32_t zero);
/* A video bitmap (tags VL_VBM_*, flags VL_VBM_ALPHA...); null: none. */
typedef void* (*vlAllocVideoBitMapFn)(int32_t width, int32_t height, uint32_t flags, const vlTagItem* tags);
typedef void (*vlFreeVideoBitMapFn)(void* bitmap);
/* A video bitmap's pixels into the record; the result (the pixels, the
 * adapter's memory) goes back to FreeVideoPixels. Null: error 1524. */
typedef void* (*vlReadVideoPixelsFn)(void* bitmap, vlVideoPixels* record);
typedef void (*vlFreeVideoPixelsFn)(void* pixels);
/* Method VL_VBM_PREPARE (tags {1 VL_PLANE_MASK or VL_PLANE_ALPHA}): the
 * player is about to draw into the picture's mask or alpha channel (see
 * "Planes"); asked once per picture. The result is not read. */
typedef int (*vlDoVideoBitMapMethodFn)(void* bitmap, uint32_t method, const vlTagItem* tags);
/* Pictures and planes of an adapter that owns them (VL_ABM_*). */
typedef void* (*vlAllocBitMapFn)(int32_t width, int32_t height, uint32_t flags, const vlTagItem* tags);
typedef void (*vlFreeBitMapFn)(void* bitmap);
typedef int (*vlLockBitMapFn)(void* bitmap, uint32_t flags, vlAdapterLock* lock); /* flags 1: read only; 0 fails */
typedef void (*vlUnLockBitMapFn)(void* bitmap);
/* Code 13 a picture's row bytes; 1 and 2 an alpha or mask plane's. */
typedef int32_t (*vlGetBitMapAttrFn)(void* bitmap, int32_t code);

#endif /* VL_RUNTIME_PLUGIN_DISPLAY_H */
