// Selection data sent in pieces (ICCCM INCR) when one property could not
// hold it: the requestor's property gets type INCR and the size, then a
// piece each time the requestor deletes the property, and an empty piece
// at the end. Each transfer keeps its own copy of the data, so a new offer
// does not disturb it. Depends on Xlib and the clock.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>

#include "runtime/os.h"
#include "platform/x11/x11_input.h"

namespace {

// A transfer whose requestor has not asked for the next piece for this
// long is given up (the requestor is gone or stuck).
constexpr double kStaleSeconds = 60;

struct IncrementalSend {
  IncrementalSend* next;
  Display* display;
  Window requestor;
  Atom property;
  Atom type;
  bool ownWindow;  // the requestor is one of ours: its event mask stays
  uint8_t* data;
  size_t length;
  size_t offset;
  size_t piece;
  double lastStep;
};

IncrementalSend* gSends = nullptr;

void Drop(IncrementalSend** link) {
  IncrementalSend* t = *link;
  *link = t->next;
  // The requestor's window is not reset to no events: its owner may end
  // (or have ended, at a DestroyNotify) as soon as it has the last piece,
  // and the request would then be a BadWindow. The mask goes with the
  // window; events for it meanwhile match no send and are passed over.
  std::free(t->data);
  std::free(t);
}

void DropStale() {
  double now = GetTimeSeconds();
  for (IncrementalSend** link = &gSends; *link;) {
    if (now - (*link)->lastStep > kStaleSeconds) Drop(link);
    else link = &(*link)->next;
  }
}

}  // namespace

size_t LargestSelectionPiece(Display* display) {
  // The request header and the property call's own words take some room.
  long words = XExtendedMaxRequestSize(display);
  if (words <= 0) words = XMaxRequestSize(display);
  size_t bytes = static_cast<size_t>(words) * 4;
  size_t piece = bytes > 4096 ? bytes - 1024 : 3072;
  return piece < kSelectionPieceLimit ? piece : kSelectionPieceLimit;
}

int StartIncrementalSend(Display* display, Window requestor, Atom property, Atom type, Atom incr,
                         bool ownWindow, const void* data, size_t length) {
  DropStale();
  auto* t = static_cast<IncrementalSend*>(std::calloc(1, sizeof(IncrementalSend)));
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(length ? length : 1));
  if (!t || !copy) {
    std::free(t);
    std::free(copy);
    return 0;
  }
  std::memcpy(copy, data, length);
  *t = IncrementalSend{gSends, display, requestor, property, type, ownWindow, copy, length, 0,
                       LargestSelectionPiece(display), GetTimeSeconds()};
  gSends = t;
  // Watch the requestor's property deletions (and its end) before the
  // INCR property is set, so no deletion is missed.
  if (!ownWindow) XSelectInput(display, requestor, PropertyChangeMask | StructureNotifyMask);
  long size = static_cast<long>(length);
  XChangeProperty(display, requestor, property, incr, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&size),
                  1);
  return 1;
}

int HandleIncrementalSendEvent(const XEvent& ev) {
  for (IncrementalSend** link = &gSends; *link; link = &(*link)->next) {
    IncrementalSend* t = *link;
    if (t->display != ev.xany.display || t->requestor != ev.xany.window) continue;
    if (ev.type == DestroyNotify) {
      Drop(link);
      return 1;
    }
    if (ev.type != PropertyNotify || ev.xproperty.state != PropertyDelete || ev.xproperty.atom != t->property)
      continue;
    size_t n = t->length - t->offset;
    if (n > t->piece) n = t->piece;
    XChangeProperty(t->display, t->requestor, t->property, t->type, 8, PropModeReplace, t->data + t->offset,
                    static_cast<int>(n));
    XFlush(t->display);
    t->lastStep = GetTimeSeconds();
    if (n == 0) Drop(link);  // the empty piece ends the transfer
    else t->offset += n;
    return 1;
  }
  return 0;
}

void FreeIncrementalSends() {
  while (gSends) {
    IncrementalSend* t = gSends;
    gSends = t->next;
    std::free(t->data);
    std::free(t);
  }
}
