// Mouse pointers: ARGB pointer images (Xcursor), realised once per
// connection, and showing, hiding and warping the pointer. Depends on the
// connections and the optional Xcursor library.
#include <cstring>
#include <new>

#include "platform/window_record.h"
#include "platform/x11/x11_window.h"
#include "vm/error_codes.h"

int CreateARGBCursor(const uint32_t* pixels, int hotX, int hotY, vlPointerRecord** out, int width,
                     int height) {
  *out = nullptr;
  if (!HaveXcursor()) return ERR_XCURSOR;
  if (width <= 0 || height <= 0) return ERR_MEM;
  auto* record = new (std::nothrow) vlPointerRecord{};
  if (!record) return ERR_MEM;
  record->image = dl_XcursorImageCreate(width, height);
  if (!record->image) {
    delete record;
    return ERR_MEM;
  }
  static_assert(sizeof(XcursorPixel) == sizeof(uint32_t));
  memcpy(record->image->pixels, pixels, static_cast<size_t>(width) * height * sizeof(uint32_t));
  record->image->xhot = hotX;
  record->image->yhot = hotY;
  *out = record;
  return 0;
}

void FreePointerRecords(vlPointerRecord* list) {
  while (list) {
    vlPointerRecord* next = list->next;
    if (list->image && HaveXcursor()) dl_XcursorImageDestroy(list->image);
    if (list->connection && list->cursor) XFreeCursor(list->connection->display, list->cursor);
    delete list;
    list = next;
  }
}

void SetPointerShape(vlPlatformWindow* display, vlPointerRecord* list, int mode) {
  vlX11Window* x = display->window;
  if (!x || !x->window) return;
  Cursor cursor = None;
  if (mode == 1) {
    cursor = x->connection->busyCursor;
  } else if (mode == 2 && list && list->image && HaveXcursor()) {
    vlPointerRecord* last = list;
    for (vlPointerRecord* r = list; r; r = r->next) {
      if (r->connection == x->connection) cursor = r->cursor;
      last = r;
    }
    if (!cursor) {
      auto* realised = new (std::nothrow) vlPointerRecord{};
      if (!realised) return;
      realised->connection = x->connection;
      realised->cursor = dl_XcursorImageLoadCursor(x->display, list->image);
      last->next = realised;
      cursor = realised->cursor;
    }
  }
  XDefineCursor(x->display, x->window, cursor);
  x->currentCursor = cursor;
  x->pointerHidden = 0;
  x->regionCursor = None;
  XFlush(x->display);
}

void HidePointer(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  if (!x || !x->window) return;
  XDefineCursor(x->display, x->window, x->connection->invisibleCursor);
  x->pointerHidden = 1;
  XFlush(x->display);
}

void ShowPointer(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  if (!x || !x->window) return;
  XDefineCursor(x->display, x->window, x->currentCursor);
  x->pointerHidden = 0;
  x->regionCursor = None;
  XFlush(x->display);
}

void MovePointer(vlPlatformWindow* display, int px, int py) {
  vlX11Window* x = display->window;
  if (!x || !x->window) return;
  XWarpPointer(x->display, None, x->window, 0, 0, 0, 0, px, py);
  XFlush(x->display);
}
