// How a picture reaches the window: the one home of every decision to hold
// drawing back, to owe or defer a copy, to send what was drawn and to pace
// frames. See presentation.cpp for the order these settle in and the
// invariant each keeps. The layer engine, the double buffer and the paced
// engines call the verbs below and keep no presentation state of their own;
// the platform below only transports (it puts, sends and waits when told)
// and never calls back up.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlBitmap;
struct vlWindowPut;

// --- hold ---------------------------------------------------------------
// A rectangle of a back buffer, edges inclusive.
struct vlHeldBox {
  int32_t x0, y0, x1, y1;
};
// What the owner of a back buffer (a display) does with a held redraw:
// whether it still shows that back buffer when the hold settles, and the
// redraw and send of one rectangle of it.
struct vlHeldRedrawer {
  bool (*stillShown)(void* owner, const vlBitmap* back);
  void (*redraw)(void* owner, void* context, int32_t x, int32_t y, int32_t width, int32_t height);
};
// Holds the redraw of these rectangles of back (sprite and layer moves not
// yet redrawn): they are merged and redrawn once each before the back
// buffer is next locked or its store handed out, before anything else
// reaches a window, when the batch of puts leaves, and before what is held
// for another owner or back buffer, or a second move of one of `movers`
// (what moved; null entries name nothing), is held. False, with nothing
// held, when they cannot be (a display adapter takes drawing as it comes;
// too many; no memory): the caller redraws at once.
bool HoldRedraw(vlBitmap* back, void* owner, void* context, const vlHeldRedrawer* redrawer,
                const void* const* movers, int moverCount, const vlHeldBox* boxes, size_t boxCount);
// Runs the held redraw now (before something reaches a window that must
// come after it).
void SettleHeldPresentation();

// --- owe ----------------------------------------------------------------
// `to` owes `from`'s pixels in these rectangles (x, y, width, height each):
// copied when `to` is next used or `from` changes, dropped when a plain
// copy into `to` covers them all first (DropOwedCopyCoveredBy).
void OweBitmapCopy(vlBitmap* from, vlBitmap* to, const int32_t* rects, int32_t count);
void DropOwedCopyCoveredBy(const vlBitmap* to, const vlBitmap* src, int32_t x, int32_t y, int32_t w, int32_t h);
// A drawing into `from` that `to` is to take too, in one rectangle: a
// copy `to` owes `from` is carried through the drawing unpaid (it changes
// both alike) and the rectangle joins it at the end, so a frame drawn over
// the last one owes one copy, not two. Between the two calls nothing may
// read `to` but the drawing's own reads of other pictures. False, with
// nothing begun, when the slot holds another pair's debt: copy at once.
bool BeginOwedDrawing(vlBitmap* from, vlBitmap* to);
void EndOwedDrawing(vlBitmap* from, vlBitmap* to, int32_t x, int32_t y, int32_t w, int32_t h);
// A plain copy of src's rectangle into dst (same pixel format, inside
// both), made only when dst is next used or src is written, handed out or
// freed, and never when a later copy covers it first. For a back buffer
// whose window takes the pixels from the source itself. False, with
// nothing done, when it cannot wait (an adapter's pictures): copy at once.
bool DeferBitmapCopy(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                     int32_t h);

// --- settle (the pictures' own locks call these) --------------------------
// Before `b` is read, or written when `write`: the deferred copy, the held
// redraw and the owed copy that involve it are made, in that order.
void SettleBitmapUse(const vlBitmap* b, bool write);
// Before the display adapter reads `read` or writes `written` through
// their handles, past the locks (either may be null).
void SettleForAdapter(const vlBitmap* read, const vlBitmap* written);
// A picture about to be freed: nothing held, owed or deferred names it
// any more.
void ForgetPresentationOf(const vlBitmap* b);

// --- send -----------------------------------------------------------------
// What was drawn goes to the window: the held redraw first, then the batch
// of puts leaves. `force` false is the event pump's turn after a command:
// both only once the batch is due (its oldest put or hold waited 2 ms).
void SendPresentation(bool force);
// What a put into a window left unsent (the platform's answer to the put):
// a put pending on its connection joins the batch; a frame put from a
// picture's own pixels leaves at once and then waits for the frame before
// it on its connection.
void PresentWindowPut(const vlWindowPut& put);

// --- pace -----------------------------------------------------------------
// The end of one frame of an engine that paces its own frames (moves,
// transitions): the frame goes to the screen now, at the end of its own
// step rather than with the next step's pump, then the rest of the frame's
// time passes (waitMicros 0: the last frame, nothing to wait for).
void EndPacedFrame(int waitMicros);

// --- keep -------------------------------------------------------------------
// What the layer engine's kept blend (its cache of a still stack's pixels
// under moving layers) was made from: it holds while all of it is the same
// and no hook is set. `commands` is the script's command count, `epoch` the
// layers' change count and `listChanges` the lists'.
struct vlKeptBlendKey {
  const void* display;
  const void* pic;
  const vlBitmap* background;
  int32_t width, height;
  uint64_t commands;
  unsigned long long epoch, listChanges;
};
// The blend is made from `key` now.
void KeepBlendFor(const vlKeptBlendKey& key);
// Whether the blend made last still holds for what `now` names.
bool KeptBlendHolds(const vlKeptBlendKey& now);
// A command that changes no picture ran and brought the count to
// `commands`: a blend made by the command before it still holds.
void KeepBlendThrough(uint64_t commands);
// The blend holds no more (no memory, turned off, released, remade).
void DropKeptBlend();
// Whether a blend is kept at all.
bool BlendKept();

// --- flush before blocking --------------------------------------------------
// Installs SendPresentation(true) as what the drawing thread sends before
// it blocks (a sleep, a wait for the user, a program, the network), so the
// window never shows an old picture for as long as the wait lasts. Called
// on the drawing thread once the display code is up; RemovePresentation
// takes it away again at shut-down, before the platform closes.
void InstallPresentation();
void RemovePresentation();
