// MIT-SHM puts: segments, the attach with its error trap, the staging
// ring of a window, and the sends and waits the floor above asks for.
// Depends on Xlib, the loaded libXext, the connections and the window
// records.
#include "platform/x11/x11_shm.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/shared_libs.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_window.h"

namespace {

enum : int { kShmUnknown = 0, kShmOn = 1, kShmOff = 2 };

vlX11ShmSegment* gSegments = nullptr;

// Serials grow and wrap; the server has read a put once its serial is
// no longer ahead of the last one it answered.
bool Processed(Display* d, unsigned long serial) {
  return static_cast<long>(LastKnownRequestProcessed(d) - serial) >= 0;
}

int gTrappedErrors = 0;
int TrapError(Display*, XErrorEvent*) {
  gTrappedErrors++;
  return 0;
}

// A forced refusal for tests: the attach names a segment the server
// cannot map, as a server on another host would fail to.
bool RefusalForced() {
  const char* v = std::getenv("VL_TEST_SHM_REFUSE");
  return v && *v && std::strcmp(v, "0") != 0;
}

// The MIT-SHM completion event's type on this server, 0 when unknown.
int CompletionEventType(Display* d) {
  static Display* known = nullptr;
  static int type = 0;
  if (d != known) {
    int opcode = 0, event = 0, error = 0;
    type = XQueryExtension(d, "MIT-SHM", &opcode, &event, &error) ? event : 0;
    known = d;
  }
  return type;
}

vlX11Connection* ConnectionOf(Display* d) {
  for (vlX11Connection* c = FirstX11Connection(); c; c = c->next)
    if (c->display == d) return c;
  return nullptr;
}

// Maps the segment into the connection's server; a failure turns shared
// memory off for the whole connection.
bool Attach(vlX11Connection* c, vlX11ShmSegment* s) {
  if (s->attached) return s->attached == c->display;
  XShmSegmentInfo info{};
  info.shmid = RefusalForced() ? -1 : s->shmid;
  info.shmaddr = reinterpret_cast<char*>(s->address);
  info.readOnly = True;
  XSync(c->display, False);
  gTrappedErrors = 0;
  XErrorHandler previous = XSetErrorHandler(TrapError);
  Status ok = dl_XShmAttach(c->display, &info);
  XSync(c->display, False);
  XSetErrorHandler(previous);
  if (!ok || gTrappedErrors) {
    // The id was allocated for a segment the server never mapped.
    c->shmState = kShmOff;
    return false;
  }
  s->attached = c->display;
  s->seg = info.shmseg;
  return true;
}

void Unlink(vlX11ShmSegment* s) {
  for (vlX11ShmSegment** link = &gSegments; *link; link = &(*link)->next)
    if (*link == s) {
      *link = s->next;
      return;
    }
}

void Detach(vlX11ShmSegment* s) {
  if (!s->attached) return;
  if (ConnectionOf(s->attached) && dl_XShmDetach) {
    XShmSegmentInfo info{};
    info.shmseg = s->seg;
    info.shmid = s->shmid;
    info.shmaddr = reinterpret_cast<char*>(s->address);
    dl_XShmDetach(s->attached, &info);
  }
  s->attached = nullptr;
  s->lastPut = 0;
}

}  // namespace

vlX11ShmSegment* CreateShmSegment(size_t size) {
  if (size == 0) return nullptr;
  int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (id < 0) return nullptr;
  void* address = shmat(id, nullptr, 0);
  // Marked for removal at once: the kernel frees it when the last mapping
  // goes, this process's or the server's, however the player ends. Linux
  // still lets the server map a segment so marked.
  shmctl(id, IPC_RMID, nullptr);
  if (address == reinterpret_cast<void*>(-1)) return nullptr;
  auto* s = new (std::nothrow) vlX11ShmSegment{};
  if (!s) {
    shmdt(address);
    return nullptr;
  }
  s->shmid = id;
  s->address = static_cast<uint8_t*>(address);
  s->size = size;
  s->next = gSegments;
  gSegments = s;
  return s;
}

void DestroyShmSegment(vlX11ShmSegment* s) {
  if (!s) return;
  Unlink(s);
  Detach(s);
  shmdt(s->address);
  delete s;
}

namespace {

// Waits until the server has processed the request of this serial.
// Puts from a picture's own pixels ask for a completion event; waiting for
// that one alone lets the puts sent since, from other pixels, go on. Events
// are taken as they come (each read moves the last processed serial); a
// put the server refused sends none, so a round trip ends the wait after a
// while. Other puts (the staging ring's) send no event: a round trip it is.
void WaitProcessed(Display* d, unsigned long serial, bool notifies) {
  if (Processed(d, serial)) return;
  const int completion = notifies ? CompletionEventType(d) : 0;
  XEvent ev;
  for (int round = 0; completion && round < 200 && !Processed(d, serial); round++) {
    if (XCheckTypedEvent(d, completion, &ev)) continue;
    if (Processed(d, serial)) break;
    pollfd socket{ConnectionNumber(d), POLLIN, 0};
    poll(&socket, 1, 5);
  }
  if (!Processed(d, serial)) XSync(d, False);
}

}  // namespace

void WaitShmIdle(vlX11ShmSegment* s) {
  if (!s || !s->attached || !s->lastPut) return;
  WaitProcessed(s->attached, s->lastPut, s->lastPutNotifies);
  s->lastPut = 0;
}

vlX11ShmSegment* FindShmSegment(const uint8_t* pixels) {
  for (vlX11ShmSegment* s = gSegments; s; s = s->next)
    if (s->address == pixels) return s;
  return nullptr;
}

bool ShmUsable(vlX11Connection* c) {
  if (!c || !c->display) return false;
  if (c->shmState == kShmUnknown) {
    c->shmState = dl_XShmQueryExtension && dl_XShmQueryExtension(c->display) ? kShmOn : kShmOff;
  }
  return c->shmState == kShmOn;
}

bool ShmPutRect(vlX11Window* x, vlX11ShmSegment* source, const uint8_t* pixels, int imageWidth, int imageHeight,
                int stride, int bytesPerPixel, int depth, int srcX, int srcY, int dstX, int dstY, int width,
                int height, unsigned long* frameSerial) {
  *frameSerial = 0;
  vlX11Connection* c = x->connection;
  if (!ShmUsable(c) || width <= 0 || height <= 0 || srcX < 0 || srcY < 0 || bytesPerPixel <= 0) return false;
  // The server refuses a rectangle outside the image; XPutImage clips it.
  if (srcX + width > stride / bytesPerPixel || srcY + height > imageHeight) return false;
  Display* d = x->display;
  const size_t rectBytes = static_cast<size_t>(width) * height * bytesPerPixel;
  const size_t imageBytes = static_cast<size_t>(imageWidth) * imageHeight * bytesPerPixel;
  vlX11ShmSegment* segment = nullptr;
  XImage image{};
  // Large rectangles of a shared picture go out from its own pixels; small
  // ones are copied aside, so drawing the next one need not wait for the
  // server to have read the picture.
  if (source && rectBytes * 4 >= imageBytes && Attach(c, source)) {
    segment = source;
    // The server takes the row length from the image width.
    image.width = stride / bytesPerPixel;
    image.height = imageHeight;
    image.bytes_per_line = stride;
    image.data = reinterpret_cast<char*>(const_cast<uint8_t*>(pixels));
  } else {
    const int rowBytes = (width * bytesPerPixel + 3) & ~3;
    const size_t need = (static_cast<size_t>(rowBytes) * height + 63) & ~size_t{63};
    vlX11ShmSegment* ring = x->staging;
    if (ring && ring->size < need) {
      FreeWindowStaging(x);
      ring = nullptr;
    }
    if (!ring) {
      // Twice the window: a lap holds about two frames of changes.
      size_t windowBytes = static_cast<size_t>(imageWidth) * imageHeight * bytesPerPixel;
      ring = CreateShmSegment(std::max(need * 2, windowBytes * 2));
      if (!ring) return false;
      x->staging = ring;
    }
    if (!Attach(c, ring)) {
      FreeWindowStaging(x);
      return false;
    }
    if (ring->head + need > ring->size) {
      // A new lap overwrites the last one: the server must be done with it.
      WaitShmIdle(ring);
      ring->head = 0;
    }
    uint8_t* to = ring->address + ring->head;
    const uint8_t* from = pixels + static_cast<size_t>(srcY) * stride + static_cast<size_t>(srcX) * bytesPerPixel;
    for (int j = 0; j < height; j++)
      std::memcpy(to + static_cast<size_t>(j) * rowBytes, from + static_cast<size_t>(j) * stride,
                  static_cast<size_t>(width) * bytesPerPixel);
    ring->head += need;
    segment = ring;
    image.width = width;
    image.height = height;
    image.bytes_per_line = rowBytes;
    image.data = reinterpret_cast<char*>(to);
    srcX = srcY = 0;
  }
  XShmSegmentInfo info{};
  info.shmseg = segment->seg;
  info.shmid = segment->shmid;
  info.shmaddr = reinterpret_cast<char*>(segment->address);
  info.readOnly = True;
  image.format = ZPixmap;
  image.byte_order = LSBFirst;
  image.bitmap_unit = 32;
  image.bitmap_bit_order = LSBFirst;
  image.bitmap_pad = depth == 16 ? 16 : 32;
  image.depth = depth;
  image.bits_per_pixel = bytesPerPixel * 8;
  image.obdata = reinterpret_cast<char*>(&info);
  // Only puts from a picture's own pixels ask to be told when the server is
  // done with them: they are frames (a window's worth, or a large part),
  // which the caller sends and paces one by one.
  const Bool completion = segment == source ? True : False;
  const unsigned long serial = NextRequest(d);
  if (!dl_XShmPutImage(d, x->window, x->gc, &image, srcX, srcY, dstX, dstY, width, height, completion))
    return false;
  segment->lastPut = serial;
  segment->lastPutNotifies = completion == True;
  if (completion)
    *frameSerial = serial;
  else
    MarkPutPending(c);
  return true;
}

void FreeWindowStaging(vlX11Window* x) {
  if (!x || !x->staging) return;
  DestroyShmSegment(x->staging);
  x->staging = nullptr;
}

void ForgetShmConnection(Display* d) {
  for (vlX11ShmSegment* s = gSegments; s; s = s->next)
    if (s->attached == d) Detach(s);
}

void MarkPutPending(vlX11Connection* c) {
  if (c) c->putsPending = 1;
}

void SendPendingPuts() {
  for (vlX11Connection* c = FirstX11Connection(); c; c = c->next) {
    if (!c->putsPending) continue;
    c->putsPending = 0;
    XFlush(c->display);
  }
}

void SendConnectionPuts(uint64_t connection) {
  for (vlX11Connection* c = FirstX11Connection(); c; c = c->next)
    if (c->id == connection) XFlush(c->display);
}

void WaitFrameProcessed(uint64_t connection, unsigned long serial) {
  if (!serial) return;
  for (vlX11Connection* c = FirstX11Connection(); c; c = c->next)
    if (c->id == connection) WaitProcessed(c->display, serial, true);
}
