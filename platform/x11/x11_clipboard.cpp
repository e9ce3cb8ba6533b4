// The CLIPBOARD selection: offering text (as UTF-8) or a PNG picture to
// other clients, answering their requests, and reading what another owner
// offers, incrementally when it sends INCR. Text is ISO-8859-1 inside the
// engine. Depends on the window records, the display list reached through
// the X11 hooks and the event pump.
#include <X11/Xatom.h>
#include <iconv.h>
#include <poll.h>

#include <cstdlib>
#include <cstring>

#include "runtime/blocking.h"
#include "platform/display_device.h"
#include "platform/window_record.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_input.h"
#include "platform/x11/x11_window.h"
#include "runtime/utf8.h"
#include "vm/error_codes.h"

namespace {

iconv_t gToUtf8 = reinterpret_cast<iconv_t>(-1);

// Read state outcome words of the window record.
enum : int {
  kReadAsking = 0,   // TARGETS asked
  kReadFetching = 1, // the chosen target asked
};

// A read that no owner answers must not hang the script.
constexpr int kReadTimeoutMs = 10000;

// The window a read waits on while it pumps events: script code run by
// the pump may close its display, and the window's end clears this.
vlX11Window* gReadWindow = nullptr;

vlX11Window* ClipboardWindow() {
  // Only a display shown in an X window of its own owns a selection.
  for (vlPlatformWindow* d = gX11Hooks.firstDisplay ? WindowOf(gX11Hooks.firstDisplay()) : nullptr; d; d = NextWindow(d))
    if (d->window && d->window->window && DisplayDeviceDoes(d, VL_DEVICE_X_SERVER)) return d->window;
  return nullptr;
}

// Converts with a kept converter; the output is NUL-terminated. Null when
// the text does not convert or memory runs out.
char* Convert(iconv_t* cd, const char* to, const char* from, const char* text, size_t length, size_t factor,
              size_t* outLength) {
  if (*cd == reinterpret_cast<iconv_t>(-1)) {
    *cd = iconv_open(to, from);
    if (*cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  }
  size_t capacity = length * factor + 1;
  auto* out = static_cast<char*>(AllocMemory(capacity, 0));
  if (!out) return nullptr;
  iconv(*cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(text);
  size_t inLeft = length;
  char* o = out;
  size_t outLeft = capacity - 1;
  if (iconv(*cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1) ||
      iconv(*cd, nullptr, nullptr, &o, &outLeft) == static_cast<size_t>(-1)) {
    FreeMemory(out);
    return nullptr;
  }
  *o = '\0';
  *outLength = static_cast<size_t>(o - out);
  // Room was made for the worst case; keep only what the text needs.
  if (auto* fitted = static_cast<char*>(std::realloc(out, *outLength + 1))) out = fitted;
  return out;
}

void FinishRead(vlX11Window* x, int status) {
  x->readStatus = status;
  x->readInProgress = 0;
  x->incrMode = 0;
  FreeMemory(x->incrBuffer);
  x->incrBuffer = nullptr;
  x->incrLength = 0;
}

// Turns the bytes of the chosen target into the result.
void DeliverData(vlX11Window* x, const uint8_t* data, size_t length) {
  auto* result = static_cast<vlClipboardResult*>(x->readResult);
  if (x->readTarget == x->utf8String) {
    // Characters without an ISO-8859-1 form become "?": the script gets the
    // text it can hold.
    auto* text = static_cast<char*>(AllocMemory(length + 1, 0));
    if (!text) return FinishRead(x, ERR_MEM);
    result->kind = VL_CLIP_TEXT;
    result->length = ConvertUTF8BytesToLatin1(reinterpret_cast<const char*>(data), length, text);
    result->data = text;
  } else {
    auto* copy = static_cast<char*>(AllocMemory(length + 1, 0));
    if (!copy) return FinishRead(x, ERR_MEM);
    memcpy(copy, data, length);
    copy[length] = '\0';
    result->kind = x->readTarget == x->imagePng ? VL_CLIP_PICTURE : VL_CLIP_TEXT;
    result->data = copy;
    result->length = length;
  }
  FinishRead(x, 0);
}

bool AppendIncrement(vlX11Window* x, const uint8_t* data, size_t length) {
  auto* grown = static_cast<uint8_t*>(AllocMemory(x->incrLength + length + 1, 0));
  if (!grown) return false;
  if (x->incrLength) memcpy(grown, x->incrBuffer, x->incrLength);
  memcpy(grown + x->incrLength, data, length);
  FreeMemory(x->incrBuffer);
  x->incrBuffer = grown;
  x->incrLength += length;
  return true;
}

void ChooseTarget(vlX11Window* x) {
  size_t length = 0;
  Atom type = None;
  uint8_t* data = ReadWindowProperty(x, x->xclipOut, &length, nullptr, &type);
  XDeleteProperty(x->display, x->window, x->xclipOut);
  Atom chosen = None;
  // Some owners type the list TARGETS rather than ATOM; it is the same list.
  if (data && (type == XA_ATOM || type == x->targets)) {
    const Atom* atoms = reinterpret_cast<const Atom*>(data);
    size_t count = length / sizeof(long);
    const Atom preference[3] = {x->utf8String, x->textPlain, x->imagePng};
    for (Atom wanted : preference) {
      for (size_t i = 0; i < count && chosen == None; ++i)
        if (atoms[i] == wanted) chosen = wanted;
      if (chosen != None) break;
    }
  }
  if (data) XFree(data);
  x->readTarget = chosen;
  if (chosen == None || !x->readResult) return FinishRead(x, 0);
  x->readStatus = kReadFetching;
  XConvertSelection(x->display, x->clipboard, chosen, x->xclipOut, x->window, CurrentTime);
  XFlush(x->display);
}

}  // namespace

void CloseClipboardConverters() {
  if (gToUtf8 != reinterpret_cast<iconv_t>(-1)) iconv_close(gToUtf8);
  gToUtf8 = reinterpret_cast<iconv_t>(-1);
}

void FreeClipboardOffer(vlX11Window* x) {
  FreeMemory(x->offerData);
  x->offerData = nullptr;
  x->offerLength = 0;
  x->offerKind = VL_CLIP_NONE;
  FreeMemory(x->incrBuffer);
  x->incrBuffer = nullptr;
  x->incrLength = 0;
}

int ClaimClipboard() {
  vlX11Window* x = ClipboardWindow();
  if (!x) return ERR_CLIPOPEN;
  FreeClipboardOffer(x);
  XSetSelectionOwner(x->display, x->clipboard, x->window, CurrentTime);
  XFlush(x->display);
  return XGetSelectionOwner(x->display, x->clipboard) == x->window ? 0 : ERR_CLIPOPEN;
}

int SetClipboardData(int kind, const void* data, size_t length) {
  vlX11Window* x = ClipboardWindow();
  if (!x) return ERR_CLIPOPEN;
  FreeClipboardOffer(x);
  char* offer = nullptr;
  size_t offerLength = 0;
  if (kind == VL_CLIP_TEXT) {
    offer = Convert(&gToUtf8, "UTF-8", "ISO-8859-1", static_cast<const char*>(data), length, 4, &offerLength);
  } else {
    offer = static_cast<char*>(AllocMemory(length + 1, 1));
    if (offer) memcpy(offer, data, length);
    offerLength = length;
  }
  if (!offer) return ERR_MEM;
  XSetSelectionOwner(x->display, x->clipboard, x->window, CurrentTime);
  XFlush(x->display);
  if (XGetSelectionOwner(x->display, x->clipboard) != x->window) {
    FreeMemory(offer);
    return ERR_CLIPOPEN;
  }
  x->offerKind = kind;
  x->offerData = offer;
  x->offerLength = offerLength;
  return 0;
}

void HandleSelectionRequest(vlX11Window* x, const XSelectionRequestEvent& request) {
  XEvent notify{};
  notify.xselection.type = SelectionNotify;
  notify.xselection.display = request.display;
  notify.xselection.requestor = request.requestor;
  notify.xselection.selection = request.selection;
  notify.xselection.target = request.target;
  notify.xselection.time = request.time;
  // Old clients name no property: the target's name serves.
  Atom property = request.property != None ? request.property : request.target;
  Atom offered = x->offerKind == VL_CLIP_PICTURE ? x->imagePng : x->utf8String;
  if (request.target == x->targets) {
    // Owning the clipboard with nothing offered lists no data type.
    Atom list[2] = {x->targets, offered};
    XChangeProperty(x->display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(list), x->offerKind != VL_CLIP_NONE ? 2 : 1);
  } else if (x->offerKind != VL_CLIP_NONE && x->offerData && x->offerLength > LargestSelectionPiece(x->display)) {
    // Too large for one request (the server would refuse it): in pieces.
    if (!StartIncrementalSend(x->display, request.requestor, property, offered, x->incr,
                              request.requestor == x->window, x->offerData, x->offerLength))
      property = None;
  } else if (x->offerKind != VL_CLIP_NONE && x->offerData) {
    XChangeProperty(x->display, request.requestor, property, offered, 8, PropModeReplace,
                    static_cast<unsigned char*>(x->offerData), static_cast<int>(x->offerLength));
  } else {
    // Nothing offered: refuse, so the requestor reads no stale property.
    property = None;
  }
  notify.xselection.property = property;
  XSendEvent(x->display, request.requestor, False, NoEventMask, &notify);
  XFlush(x->display);
}

void GetClipboardData(vlX11Window* x) {
  if (x->readStatus == kReadAsking && !x->incrMode) return ChooseTarget(x);
  size_t length = 0;
  int incremental = 0;
  uint8_t* data = ReadWindowProperty(x, x->xclipOut, &length, x->incrMode ? nullptr : &incremental);
  if (incremental) {
    // Deleting the property asks the owner for the first chunk.
    x->incrMode = 1;
    XDeleteProperty(x->display, x->window, x->xclipOut);
    XFlush(x->display);
    return;
  }
  if (x->incrMode) {
    if (!data) return;  // the property was deleted, or a chunk is not there yet
    XDeleteProperty(x->display, x->window, x->xclipOut);
    XFlush(x->display);
    if (length == 0) {
      XFree(data);
      uint8_t empty = 0;
      DeliverData(x, x->incrBuffer ? x->incrBuffer : &empty, x->incrLength);
      return;
    }
    bool ok = AppendIncrement(x, data, length);
    XFree(data);
    if (!ok) FinishRead(x, ERR_MEM);
    return;
  }
  if (!data) return FinishRead(x, ERR_CLIPREAD);
  XDeleteProperty(x->display, x->window, x->xclipOut);
  DeliverData(x, data, length);
  XFree(data);
}

void ForgetClipboardWindow(vlX11Window* x) {
  if (x && gReadWindow == x) gReadWindow = nullptr;
}

int RequestClipboard(vlVMState* state, vlClipboardResult* result, int* kind) {
  *kind = VL_CLIP_NONE;
  vlX11Window* x = ClipboardWindow();
  // One read at a time: a callback run while a read waits cannot start one.
  if (!x || gReadWindow) return ERR_CLIPOPEN;
  if (result) *result = vlClipboardResult{};
  FinishRead(x, kReadAsking);
  x->readTarget = None;
  x->readResult = result;
  x->readInProgress = 1;
  XDeleteProperty(x->display, x->window, x->xclipOut);
  XConvertSelection(x->display, x->clipboard, x->targets, x->xclipOut, x->window, CurrentTime);
  XFlush(x->display);
  vlTimeVal start, now;
  GetSysTime(&start);
  int status = 0;
  gReadWindow = x;
  while (x->readInProgress) {
    pollfd wait{ConnectionNumber(x->display), POLLIN, 0};
    if (!XPending(x->display)) WaitReady(&wait, 1, 50000);
    int error = 0;
    int stop = PumpEvents(state, VL_PUMP_WAIT_INPUT, 0, &error);
    if (gReadWindow != x) {
      // The window was closed meanwhile (and perhaps freed): never touch it.
      if (result && result->data) FreeMemory(result->data);
      if (result) *result = vlClipboardResult{};
      return stop && error ? error : ERR_CLIPREAD;
    }
    if (stop) {
      status = error;
      break;
    }
    GetSysTime(&now);
    SubTimeVal(&now, &start);
    if (x->readInProgress && now.seconds * 1000 + now.micros / 1000 > kReadTimeoutMs) {
      FinishRead(x, ERR_CLIPREAD);
    }
  }
  gReadWindow = nullptr;
  x->readResult = nullptr;
  if (x->readInProgress) {
    FinishRead(x, status);
    return status;
  }
  if (x->readStatus > kReadFetching || x->readStatus < 0) status = x->readStatus;
  if (status && result) {
    FreeMemory(result->data);
    *result = vlClipboardResult{};
  }
  if (x->readTarget == x->utf8String || x->readTarget == x->textPlain) *kind = VL_CLIP_TEXT;
  else if (x->readTarget == x->imagePng) *kind = VL_CLIP_PICTURE;
  return status;
}

int QueryClipboardFormat(vlVMState* state, int* kind) { return RequestClipboard(state, nullptr, kind); }

int ReadClipboard(vlVMState* state, vlClipboardResult* result, int* kind) {
  return RequestClipboard(state, result, kind);
}
