// How a picture reaches the window, in one place. Nine mechanisms decide
// whether and when drawing reaches it; each was added for a measured fault
// or goal, and they settle in this order, the older work always first:
//
//  1. deferred copy: a plain copy into a back buffer (the frame a double
//     buffer shows, copied back) waits until the back buffer is used.
//     Invariant: it is older than any drawing held for either picture and
//     than any copy owed from its target, so it is made first; a later
//     copy that covers it drops it.
//  2. held redraw: the rectangles that sprite and layer moves of one batch
//     uncover and cover are held here, merged and redrawn together into the
//     display's back buffer by the display's redrawer. Invariant: it runs
//     before the back buffer is locked or handed out, before anything else
//     reaches any window, when the batch of puts leaves, and before a second
//     move of a mover held already, so every place a sprite takes reaches
//     the window.
//  3. owed copy: after a flip the back buffer owes the shown picture's
//     pixels in some rectangles; paid at the back buffer's next use or
//     when the shown picture changes, dropped when a copy covers it all,
//     carried unpaid through a drawing that changes both alike.
//     Invariant: whoever reads the back buffer sees it as if the copy had
//     been made at once.
//  4. send: the held redraw, then the batch of puts. The event pump sends
//     after a command once the batch's oldest put or hold waited 2 ms; a
//     frame of its own (a flip, a paced frame) and every wait send at once.
//  5. flush before blocking: the drawing thread sends before it sleeps or
//     waits for the user, a program, a file or the network.
//  6. paced frames: an engine that paces its own frames (moves,
//     transitions) sends each at the end of its step, then waits.
//  7. at most two frames in flight: a frame put from a picture's own
//     shared pixels is sent at once, then waits until the server has done
//     the frame before it on its connection, so the script runs at most one
//     frame ahead of the screen. Invariant: no frame is waited for before
//     it is sent, and at most two are unprocessed when drawing goes on.
//  8. the batch of puts: other puts wait in the transport's buffer and
//     leave together; the batch's clock starts with its oldest put or hold.
//     Invariant: nothing stays unsent past the next send, and the pump
//     never holds a put longer than the command that follows 2 ms after it.
//  9. kept blend: the layer engine's blend of a still stack under moving
//     layers (display/layers/kept_blend.cpp) is a cache of pixels; whether
//     it holds is kept here, against what it was made from (display,
//     picture, background, size, the command, layer and list counts).
//     Invariant: it changes what a redraw costs, never what reaches the
//     window.
//
// The one invariant they keep together: once nothing is held, owed or
// deferred, what the window shows equals the back buffer (and under a
// double buffer, the picture it shows).
// Depends on the bitmaps, the blits, the offscreen bitmaps, the platform's
// display wrappers (which put, send and wait when told) and the blocking
// wait's sender.
#include "graphics/presentation.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>
#include <vector>

#include "graphics/adapter.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "platform/display_adapter.h"
#include "platform/offscreen_bitmap.h"
#include "runtime/blocking.h"
#include "runtime/hooks.h"
#include "platform/display_device.h"

namespace {
vlOffscreenBitmap* Platform(const vlBitmap* b) { return static_cast<vlOffscreenBitmap*>(b->handle); }
}  // namespace

namespace {
// A picture that owes some rectangles of another's pixels (a double
// buffer's back buffer after trading pixels with the shown picture). The
// copy is made at the picture's next use, or dropped when a plain copy
// covers all of them first, as a frame drawn whole does.
constexpr int kOwedMax = 64;
struct OwedCopy {
  vlBitmap* from = nullptr;
  vlBitmap* to = nullptr;
  int32_t count = 0;
  int32_t rects[kOwedMax][4];  // x, y, width, height
};
OwedCopy gOwed;
// A debt carried through a drawing into its `from` (BeginOwedDrawing).
OwedCopy gCarried;

void SettleOwedCopy() {
  if (!gOwed.to) return;
  OwedCopy owed = gOwed;
  gOwed.to = gOwed.from = nullptr;  // the copy's own locks must not settle again
  for (int32_t i = 0; i < owed.count; i++)
    BltBitmap(owed.from, owed.rects[i][0], owed.rects[i][1], owed.to, owed.rects[i][0], owed.rects[i][1],
              owed.rects[i][2], owed.rects[i][3]);
}

// A plain copy into a picture held back until the picture is used
// (DeferBitmapCopy). It is older than any drawing held for either picture
// and than any copy owed from `to`, so it is always made first.
struct DeferredCopy {
  vlBitmap* from = nullptr;
  vlBitmap* to = nullptr;
  int32_t sx = 0, sy = 0, dx = 0, dy = 0, w = 0, h = 0;
};
DeferredCopy gDeferred;

// The deferred copy lands inside this rectangle of `to`.
bool DeferredCopyInside(const vlBitmap* to, int32_t x, int32_t y, int32_t w, int32_t h) {
  const DeferredCopy& c = gDeferred;
  return c.to && c.to == to && c.dx >= x && c.dy >= y && c.dx + c.w <= x + w && c.dy + c.h <= y + h;
}

// Made under the platform's own locks: the pictures' locks would settle,
// before the copy, what comes after it.
void SettleDeferredCopy() {
  if (!gDeferred.to) return;
  const DeferredCopy c = gDeferred;
  gDeferred.to = gDeferred.from = nullptr;
  vlOffscreenAccess s, d;
  if (!LockOffscreenBitmap(Platform(c.from), &s, 0)) return;
  if (LockOffscreenBitmap(Platform(c.to), &d, 1)) {
    const size_t rowBytes = static_cast<size_t>(c.w) * s.bytesPerPixel;
    for (int32_t j = 0; j < c.h; j++)
      std::memcpy(d.pixels + (static_cast<size_t>(c.dy + j) * d.rowLength + c.dx) * d.bytesPerPixel,
                  s.pixels + (static_cast<size_t>(c.sy + j) * s.rowLength + c.sx) * s.bytesPerPixel, rowBytes);
    UnlockOffscreenBitmap(Platform(c.to));
  }
  UnlockOffscreenBitmap(Platform(c.from));
}

// The held redraw: rectangles of one back buffer (edges inclusive), merged
// and redrawn once each when the hold settles, and what moved into them.
struct HeldRedraw {
  vlBitmap* back = nullptr;
  void* owner = nullptr;
  void* context = nullptr;
  const vlHeldRedrawer* redrawer = nullptr;
  std::vector<vlHeldBox> boxes;
  std::vector<const void*> movers;
};
HeldRedraw gHeld;

// So many rectangles in one batch redraw as they come.
constexpr size_t kMaxHeld = 1024;

int64_t Area(const vlHeldBox& b) { return int64_t{b.x1 - b.x0 + 1} * (b.y1 - b.y0 + 1); }

// Overlapping boxes become their bounding box until none overlap. Merging
// costs pixels a chain of small boxes never covered, so when the merged
// area passes the boxes' own by a quarter the boxes are drawn one by one (a
// larger box also goes out from the back buffer itself, which the next
// drawing then waits for).
std::vector<vlHeldBox> Merged(const std::vector<vlHeldBox>& boxes) {
  std::vector<vlHeldBox> out = boxes;
  bool changed = true;
  while (changed) {
    changed = false;
    for (size_t i = 0; i < out.size(); i++)
      for (size_t j = i + 1; j < out.size();) {
        const vlHeldBox& a = out[i];
        const vlHeldBox& b = out[j];
        if (b.x0 > a.x1 || a.x0 > b.x1 || b.y0 > a.y1 || a.y0 > b.y1) {
          j++;
          continue;
        }
        out[i] = {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
        out[j] = out.back();
        out.pop_back();
        changed = true;
      }
  }
  int64_t own = 0, merged = 0;
  for (const vlHeldBox& b : boxes) own += Area(b);
  for (const vlHeldBox& b : out) merged += Area(b);
  return 4 * merged > 5 * own ? boxes : out;
}

bool Moved(const void* mover) {
  return mover && std::find(gHeld.movers.begin(), gHeld.movers.end(), mover) != gHeld.movers.end();
}

// Settles a copy that reading `b`, or writing it when `write`, would see
// half done, and drawing held back for it.
void SettleIfInvolved(const vlBitmap* b, bool write) {
  if (gDeferred.to && b && (b == gDeferred.to || (write && b == gDeferred.from))) SettleDeferredCopy();
  if (gHeld.back && b == gHeld.back) SettleHeldPresentation();
  if (gOwed.to && b && (b == gOwed.to || (write && b == gOwed.from))) SettleOwedCopy();
}
}  // namespace

void SettleForAdapter(const vlBitmap* read, const vlBitmap* written) {
  if (read) SettleIfInvolved(read, false);
  if (written) SettleIfInvolved(written, true);
}

void SettleBitmapUse(const vlBitmap* b, bool write) { SettleIfInvolved(b, write); }

namespace {
// The batch of puts: puts and held drawing wait and leave together. The
// clock runs from the oldest put or hold not yet sent (-1: none), so a
// loop of small moves costs one socket write per batch, not one per move.
constexpr int64_t kBatchMicros = 2000;
int64_t gBatchSince = -1;

int64_t NowMicros() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

void StartBatchClock() {
  if (gBatchSince < 0) gBatchSince = NowMicros();
}

// Without puts to batch (a display adapter) never due.
bool BatchDue() {
  return gBatchSince >= 0 && NowMicros() - gBatchSince >= kBatchMicros &&
         DisplayDeviceDoes(nullptr, VL_DEVICE_HOLDS_PUTS);
}

// The last frame put from a picture's own pixels on each connection, which
// the next one there waits for. A name no connection has any more is
// never waited for; a few connections at most are ever open.
struct LastFrame {
  uint64_t connection;
  unsigned long serial;
};
constexpr int kFrameConnections = 8;
LastFrame gLastFrames[kFrameConnections];
int gNextFrameSlot = 0;

LastFrame& FrameSlot(uint64_t connection) {
  for (LastFrame& f : gLastFrames)
    if (f.connection == connection) return f;
  for (LastFrame& f : gLastFrames)
    if (!f.connection) return f;
  LastFrame& f = gLastFrames[gNextFrameSlot];
  gNextFrameSlot = (gNextFrameSlot + 1) % kFrameConnections;
  return f = LastFrame{};
}
}  // namespace

bool HoldRedraw(vlBitmap* back, void* owner, void* context, const vlHeldRedrawer* redrawer,
                const void* const* movers, int moverCount, const vlHeldBox* boxes, size_t boxCount) {
  if (!back || !redrawer) return false;
  bool again = false;
  for (int i = 0; i < moverCount && !again; i++) again = Moved(movers[i]);
  if (gHeld.back && (gHeld.owner != owner || gHeld.back != back || gHeld.redrawer != redrawer ||
                     gHeld.boxes.size() + boxCount > kMaxHeld || again))
    SettleHeldPresentation();
  if (boxCount > kMaxHeld) return false;
  const bool first = !gHeld.back;
  if (first && !DisplayDeviceDoes(nullptr, VL_DEVICE_HOLDS_PUTS)) return false;
  try {
    gHeld.boxes.insert(gHeld.boxes.end(), boxes, boxes + boxCount);
    for (int i = 0; i < moverCount; i++)
      if (movers[i]) gHeld.movers.push_back(movers[i]);
  } catch (const std::bad_alloc&) {
    if (first)
      gHeld = HeldRedraw{};
    else
      SettleHeldPresentation();
    return false;
  }
  gHeld.back = back;
  gHeld.owner = owner;
  gHeld.context = context;
  gHeld.redrawer = redrawer;
  // The hold leaves with the batch of puts, whose clock it starts.
  if (first) StartBatchClock();
  return true;
}

void SettleHeldPresentation() {
  if (!gHeld.back) return;
  // Taken first: the redraw draws into the back buffer and puts, which must
  // not settle it again.
  HeldRedraw held = std::move(gHeld);
  gHeld = HeldRedraw{};
  // The owner may have closed or changed its buffers since.
  if (!held.redrawer->stillShown(held.owner, held.back)) return;
  std::vector<vlHeldBox> boxes;
  try {
    boxes = Merged(held.boxes);
  } catch (const std::bad_alloc&) {
    boxes = std::move(held.boxes);
  }
  for (const vlHeldBox& b : boxes)
    held.redrawer->redraw(held.owner, held.context, b.x0, b.y0, b.x1 - b.x0 + 1, b.y1 - b.y0 + 1);
}

void ForgetPresentationOf(const vlBitmap* b) {
  if (!b) return;
  if (b == gOwed.to) gOwed.to = gOwed.from = nullptr;
  if (b == gCarried.to || b == gCarried.from) gCarried.to = gCarried.from = nullptr;
  if (b == gDeferred.to) gDeferred.to = gDeferred.from = nullptr;
  if (b == gHeld.back) gHeld = HeldRedraw{};
}

void OweBitmapCopy(vlBitmap* from, vlBitmap* to, const int32_t* rects, int32_t count) {
  SettleOwedCopy();
  // A deferred copy into `to`, or from it, comes before the debt.
  if (gDeferred.to && to && (to == gDeferred.to || to == gDeferred.from)) SettleDeferredCopy();
  if (!from || !to || from == to || count <= 0) return;
  gOwed.from = from;
  gOwed.to = to;
  gOwed.count = 0;
  int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = INT32_MIN, y1 = INT32_MIN;
  for (int32_t i = 0; i < count; i++) {
    const int32_t* r = rects + 4 * i;
    if (r[2] <= 0 || r[3] <= 0) continue;
    x0 = std::min(x0, r[0]);
    y0 = std::min(y0, r[1]);
    x1 = std::max(x1, r[0] + r[2]);
    y1 = std::max(y1, r[1] + r[3]);
    if (gOwed.count < kOwedMax) std::copy(r, r + 4, gOwed.rects[gOwed.count]);
    gOwed.count++;
  }
  if (gOwed.count > kOwedMax) {
    // Too many to keep apart: their bounding box, a copy of the same pixels and more.
    gOwed.count = 1;
    gOwed.rects[0][0] = x0;
    gOwed.rects[0][1] = y0;
    gOwed.rects[0][2] = x1 - x0;
    gOwed.rects[0][3] = y1 - y0;
  }
  if (gOwed.count == 0) gOwed.to = gOwed.from = nullptr;
}

bool BeginOwedDrawing(vlBitmap* from, vlBitmap* to) {
  gCarried.from = gCarried.to = nullptr;
  gCarried.count = 0;
  if (!from || !to || from == to) return false;
  // Drawing held back for `from` goes in first: it is not the drawing `to`
  // takes. Settling it pays any debt `from` is owed from.
  if (gHeld.back == from) SettleIfInvolved(from, true);
  if (!gOwed.to) return true;
  if (gOwed.from != from || gOwed.to != to) return false;  // another debt keeps the slot
  // The drawing changes what `to` owes as it changes `from`, so the debt
  // still holds after it; only one too full to take the drawing's
  // rectangle is paid now (a bounding box would copy pixels `to` is not
  // owed).
  if (gOwed.count >= kOwedMax) {
    SettleOwedCopy();
    return true;
  }
  gCarried = gOwed;
  gOwed.to = gOwed.from = nullptr;
  return true;
}

void EndOwedDrawing(vlBitmap* from, vlBitmap* to, int32_t x, int32_t y, int32_t w, int32_t h) {
  int32_t rects[kOwedMax][4];
  int32_t count = 0;
  if (gCarried.to == to && gCarried.from == from) {
    for (int32_t i = 0; i < gCarried.count; i++) {
      const int32_t* r = gCarried.rects[i];
      // One the new rectangle covers is owed through it.
      if (r[0] >= x && r[1] >= y && r[0] + r[2] <= x + w && r[1] + r[3] <= y + h) continue;
      std::copy(r, r + 4, rects[count++]);
    }
  }
  gCarried.from = gCarried.to = nullptr;
  gCarried.count = 0;
  if (w > 0 && h > 0) {
    rects[count][0] = x, rects[count][1] = y, rects[count][2] = w, rects[count][3] = h;
    count++;
  }
  OweBitmapCopy(from, to, &rects[0][0], count);
}

void DropOwedCopyCoveredBy(const vlBitmap* to, const vlBitmap* src, int32_t x, int32_t y, int32_t w, int32_t h) {
  // Not while another picture owes `to`'s pixels: paying that reads the
  // deferred copy's.
  if (src != to && !(gOwed.to && gOwed.from == to) && DeferredCopyInside(to, x, y, w, h))
    gDeferred.to = gDeferred.from = nullptr;
  if (!gOwed.to || to != gOwed.to || src == to) return;
  for (int32_t i = 0; i < gOwed.count; i++) {
    const int32_t* r = gOwed.rects[i];
    if (r[0] < x || r[1] < y || r[0] + r[2] > x + w || r[1] + r[3] > y + h) return;
  }
  gOwed.to = gOwed.from = nullptr;
}

bool DeferBitmapCopy(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                     int32_t h) {
  if (!src || !dst || src == dst || w <= 0 || h <= 0 || sx < 0 || sy < 0 || dx < 0 || dy < 0) return false;
  if (src->kind != VL_BITMAP_PICTURE || dst->kind != VL_BITMAP_PICTURE || src->driverOwned || dst->driverOwned ||
      GetGfxAdapter())
    return false;
  const vlOffscreenBitmap* ps = Platform(src);
  const vlOffscreenBitmap* pd = Platform(dst);
  if (!ps || !pd || !ps->pixels || !pd->pixels || ps->pixelFormat != pd->pixelFormat || w > ps->width - sx ||
      h > ps->height - sy || w > pd->width - dx || h > pd->height - dy)
    return false;
  // Drawing held for either picture is older than the copy: it goes in
  // first, and so do debts into either picture or from `dst`, whose
  // pixels the copy changes (one the copy covers is dropped).
  if (gHeld.back && (gHeld.back == dst || gHeld.back == src)) SettleIfInvolved(gHeld.back, true);
  DropOwedCopyCoveredBy(dst, src, dx, dy, w, h);
  if (gOwed.to && (gOwed.to == dst || gOwed.to == src || gOwed.from == dst)) SettleOwedCopy();
  // One this copy covers is never made: a frame drawn whole over the last
  // one costs nothing until the picture is used.
  if (DeferredCopyInside(dst, dx, dy, w, h))
    gDeferred.to = gDeferred.from = nullptr;
  else
    SettleDeferredCopy();
  gDeferred = DeferredCopy{src, dst, sx, sy, dx, dy, w, h};
  return true;
}

void SendPresentation(bool force) {
  if (!force && !BatchDue()) return;
  SettleHeldPresentation();
  gBatchSince = -1;
  FlushDisplayOutput();
}

void PresentWindowPut(const vlWindowPut& put) {
  if (put.kind == VL_PUT_WAITING) {
    StartBatchClock();
    return;
  }
  if (put.kind != VL_PUT_FRAME) return;
  // Sent at once, with what came before it, then the frame before it is
  // waited for: the server has this one to work on while the script draws
  // the next, and the script runs one frame ahead of the screen, two while
  // it sends the next. Waiting before the send instead, for the frame
  // before last, kept two frames queued whenever the server was the slower
  // side, as it is once a frame costs the script nothing. Without the
  // wait a script drawing as fast as it can would queue frames without
  // end, and the screen, with a key's answer, would trail it by as many.
  SendWindowFrame(put);
  LastFrame& last = FrameSlot(put.connection);
  if (last.serial) WaitWindowFrame(put.connection, last.serial);
  last = LastFrame{put.connection, put.serial};
}

void EndPacedFrame(int waitMicros) {
  // Only a send: the server is not waited for, so the frame costs no round
  // trip, and the bound on frames in flight stays with the puts.
  SendPresentation(true);
  if (waitMicros > 0) usleep(static_cast<useconds_t>(waitMicros));
}

namespace {
// What the kept blend was made from, while it holds.
vlKeptBlendKey gKeptFrom{};
bool gBlendKept = false;
}  // namespace

void KeepBlendFor(const vlKeptBlendKey& key) {
  gKeptFrom = key;
  gBlendKept = true;
}

bool KeptBlendHolds(const vlKeptBlendKey& now) {
  const vlKeptBlendKey& k = gKeptFrom;
  return gBlendKept && k.display == now.display && k.pic == now.pic && k.background == now.background &&
         k.width == now.width && k.height == now.height && k.commands == now.commands && k.epoch == now.epoch &&
         k.listChanges == now.listChanges && !FirstHook();
}

void KeepBlendThrough(uint64_t commands) {
  if (gBlendKept && gKeptFrom.commands + 1 == commands) gKeptFrom.commands = commands;
}

void DropKeptBlend() { gBlendKept = false; }

bool BlendKept() { return gBlendKept; }

namespace {
void SendBeforeBlocking() { SendPresentation(true); }
}  // namespace

void InstallPresentation() { SetBeforeBlocking(SendBeforeBlocking); }
void RemovePresentation() { SetBeforeBlocking(nullptr); }
