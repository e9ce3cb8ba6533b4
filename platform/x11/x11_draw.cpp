// Drawing into a display's X window and the window attributes of the
// graphics code. Pictures arrive as plain records of their pixels, locked
// by the floor that owns them, and reach the server through shared memory
// when it takes it (x11_shm.cpp), else as X images laid straight over those
// pixels (no copy); on displays with alpha the pixels are first
// premultiplied into the window-sized output bitmap. Puts wait in Xlib's
// buffer: the floor above decides when they are sent, and says what each
// put left for it to send.
// Depends on the window records (with the video overlays the floor above
// sets in them), the offscreen bitmaps and Xlib.
#include "platform/x11/x11_draw.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "abi/plugin_abi.h"
#include "platform/display_adapter.h"
#include "platform/window_record.h"
#include "platform/pixel_layout.h"
#include "platform/offscreen_bitmap.h"
#include "runtime/os.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_shm.h"
#include "platform/x11/x11_window.h"

namespace {

bool IsDrawable(const vlPlatformWindow* display) {
  return display && display->displayState == VL_DISPSTATE_OPEN && display->window &&
         display->window->window && display->window->gc;
}

unsigned long ForegroundFor(vlPlatformWindow* display, uint32_t colour) {
  int format = display->window->connection ? display->window->connection->pixelFormat : 10;
  if (format == 10) return colour & 0xFFFFFF;
  return ColorToPixel(colour & 0xFFFFFF, format, 0);
}

// Shape calls: shift, colour, clip, draw, unclip, flush.
template <typename Draw>
void DrawShape(vlPlatformWindow* display, uint32_t colour, Draw draw) {
  if (!IsDrawable(display)) return;
  vlX11Window* x = display->window;
  XSetForeground(x->display, x->gc, ForegroundFor(display, colour));
  Region clip = nullptr;
  BuildVideoClipRegion(display, &clip, 0);
  draw(x->display, x->window, x->gc, display->contentOffsetX, display->contentOffsetY);
  if (clip) {
    XSetClipMask(x->display, x->gc, None);
    XDestroyRegion(clip);
  }
  XFlush(x->display);
}

// Premultiplies the rectangle into the output bitmap at the destination
// position. False when the output bitmap cannot be locked.
bool PremultiplyIntoOutput(vlX11Window* x, const vlPixelRecord& src, int sx, int sy, int dx, int dy, int width,
                           int height) {
  vlOffscreenAccess out;
  if (!LockOffscreenBitmap(x->outputBitmap, &out, 1)) return false;
  const size_t alphaRow = (static_cast<size_t>(out.width) + 3) & ~size_t{3};
  const bool rgbFirst = out.pixelFormat == 10;
  for (int j = 0; j < height; j++) {
    const uint8_t* in = src.pixels + static_cast<size_t>(sy + j) * src.rowBytes + static_cast<size_t>(sx) * 4;
    uint8_t* to = out.pixels + (static_cast<size_t>(dy + j) * out.rowLength + dx) * 4;
    const uint8_t* alpha = x->alphaPlane + static_cast<size_t>(dy + j) * alphaRow + dx;
    for (int i = 0; i < width; i++, in += 4, to += 4) {
      unsigned a = alpha[i];
      // Format 10 keeps its colour in bytes 0-2; the others in bytes 1-3.
      int first = rgbFirst ? 0 : 1;
      for (int k = 0; k < 3; k++) to[first + k] = static_cast<uint8_t>(in[first + k] * a / 255);
      to[rgbFirst ? 3 : 0] = static_cast<uint8_t>(a);
    }
  }
  UnlockOffscreenBitmap(x->outputBitmap);
  return true;
}

}  // namespace

intptr_t GetWindowAttr(void* handle, int code) {
  switch (code) {
    case 5: return 32;
    case 6:
    case 7: {
      auto* display = static_cast<vlPlatformWindow*>(handle);
      if (!display || !display->window || !display->window->window) return 0;
      vlX11Window* x = display->window;
      Window root, child;
      int rootX = 0, rootY = 0, winX = 0, winY = 0;
      unsigned mask = 0;
      XQueryPointer(x->display, x->window, &root, &child, &rootX, &rootY, &winX, &winY, &mask);
      return code == 6 ? winX : winY;
    }
    case 8: return GetPlatformOption(VL_PLATOPT_CTRLC_QUIT);
    case 9: return GetPlatformOption(VL_PLATOPT_LMB_QUIT);
    case 10: return GetPlatformOption(VL_PLATOPT_ESCAPE_QUIT);
    case 11:
    case 12: return 16;
    case 16: return 1;
    case 17: return 0;
    default: break;
  }
  // Any other code asks an offscreen bitmap header.
  const auto* header = static_cast<const vlOffscreenBitmap*>(handle);
  if (!header) return 0;
  switch (code) {
    case 21: return header->pixelFormat;
    case 23: return reinterpret_cast<intptr_t>(header->pixels);
    case 13: return header->bytesPerPixel ? header->bytesPerRow / header->bytesPerPixel : 0;
    default: return 0;
  }
}

void BuildVideoClipRegion(vlPlatformWindow* display, Region* out, int flags) {
  *out = nullptr;
  if ((flags & kClipNoVideos) || !display || !display->window) return;
  // The overlays as the video code last set them, clipped to the display
  // as it is now.
  vlVideoOverlay videos[kVideoOverlayMax];
  int count = 0;
  for (int i = 0; i < std::min<int32_t>(display->videoOverlayCount, kVideoOverlayMax); i++)
    if (ClipVideoOverlay(display->videoOverlays[i], display->width, display->height, &videos[count])) count++;
  if (count <= 0) return;
  Region region = XCreateRegion();
  XRectangle whole{0, 0, static_cast<unsigned short>(display->width),
                   static_cast<unsigned short>(display->height)};
  XUnionRectWithRegion(&whole, region, region);
  int cut = 0;
  for (int i = 0; i < count; i++) {
    Region video = XCreateRegion();
    XRectangle rect{static_cast<short>(display->contentOffsetX + videos[i].x),
                    static_cast<short>(display->contentOffsetY + videos[i].y),
                    static_cast<unsigned short>(videos[i].width),
                    static_cast<unsigned short>(videos[i].height)};
    XUnionRectWithRegion(&rect, video, video);
    // Subtracted, not toggled: two overlapping videos must both stay clear.
    XSubtractRegion(region, video, region);
    XDestroyRegion(video);
    cut++;
  }
  if (!cut) {
    XDestroyRegion(region);
    return;
  }
  XSetRegion(display->window->display, display->window->gc, region);
  *out = region;
}

bool WindowTakesPictures(const vlPlatformWindow* display) {
  return IsDrawable(display) && !display->window->moving && !display->window->resizing;
}

bool PutImageToWindow(const vlPixelRecord& src, int sx, int sy, vlPlatformWindow* display, int dx, int dy,
                      int width, int height, int flags, vlWindowPut* put) {
  if (put) *put = vlWindowPut{};
  if (!WindowTakesPictures(display) || !src.pixels || src.bytesPerPixel <= 0) return false;
  vlX11Window* x = display->window;
  dx += display->contentOffsetX;
  dy += display->contentOffsetY;

  vlPixelRecord view = src;
  int depth = src.bytesPerPixel == 2 ? 16 : 24;
  int pad = src.bytesPerPixel == 2 ? 16 : 32;
  int putX = sx, putY = sy;
  if (x->alphaPlane && x->outputBitmap) {
    // Only what lies inside both pictures can be premultiplied.
    int x0 = std::max({0, -sx, -dx}), y0 = std::max({0, -sy, -dy});
    int x1 = std::min({width, src.width - sx, display->width - dx});
    int y1 = std::min({height, src.height - sy, display->height - dy});
    bool ok = src.bytesPerPixel == 4 && x1 > x0 && y1 > y0 &&
              PremultiplyIntoOutput(x, src, sx + x0, sy + y0, dx + x0, dy + y0, x1 - x0, y1 - y0);
    vlOffscreenAccess out;
    if (!ok || !LockOffscreenBitmap(x->outputBitmap, &out, 0)) return false;
    view = vlPixelRecord{out.pixels, out.rowLength * out.bytesPerPixel, out.pixelFormat, out.bytesPerPixel,
                         out.width, out.height};
    depth = 32;
    pad = 32;
    sx += x0;
    sy += y0;
    dx += x0;
    dy += y0;
    width = x1 - x0;
    height = y1 - y0;
    // The output bitmap holds the pixels at the destination position.
    putX = dx;
    putY = dy;
  }

  Region clip = nullptr;
  BuildVideoClipRegion(display, &clip, flags);
  const int stride = view.rowBytes;
  // Shared memory when the server takes it; the socket otherwise.
  unsigned long frame = 0;
  bool sent = ShmPutRect(x, FindShmSegment(view.pixels), view.pixels, view.width, view.height, stride,
                         view.bytesPerPixel, depth, putX, putY, dx, dy, width, height, &frame);
  if (sent && put)
    *put = frame ? vlWindowPut{VL_PUT_FRAME, x->connection->id, frame} : vlWindowPut{VL_PUT_WAITING, 0, 0};
  if (!sent) {
    XImage* image = XCreateImage(x->display, x->visual, depth, ZPixmap, 0, reinterpret_cast<char*>(view.pixels),
                                 view.width, view.height, pad, stride);
    if (image) {
      // The pixels are in this machine's byte order; Xlib swaps for the server.
      image->byte_order = LSBFirst;
      XPutImage(x->display, x->window, x->gc, image, putX, putY, dx, dy, width, height);
      MarkPutPending(x->connection);
      if (put) *put = vlWindowPut{VL_PUT_WAITING, 0, 0};
      image->data = nullptr;  // the picture keeps its pixels
      XDestroyImage(image);
    }
  }
  if (clip) {
    XSetClipMask(x->display, x->gc, None);
    XDestroyRegion(clip);
  }
  if (x->alphaPlane && x->outputBitmap) UnlockOffscreenBitmap(x->outputBitmap);
  return true;
}

void DrawLineToWindow(vlPlatformWindow* display, int x1, int y1, int x2, int y2, uint32_t colour) {
  DrawShape(display, colour, [&](Display* d, Window w, GC gc, int ox, int oy) {
    XDrawLine(d, w, gc, x1 + ox, y1 + oy, x2 + ox, y2 + oy);
  });
}

void WritePixelToWindow(vlPlatformWindow* display, int px, int py, uint32_t colour) {
  DrawShape(display, colour, [&](Display* d, Window w, GC gc, int ox, int oy) {
    XDrawPoint(d, w, gc, px + ox, py + oy);
  });
}

bool FillRectsInWindow(vlPlatformWindow* display, const int32_t* rects, int32_t count, uint32_t colour,
                       vlWindowPut* put) {
  *put = vlWindowPut{};
  if (!WindowTakesPictures(display) || display->window->alphaPlane || count < 0) return false;
  // The protocol's rectangles are 16-bit.
  std::vector<XRectangle> out;
  out.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; i++) {
    const int64_t x = int64_t{rects[4 * i]} + display->contentOffsetX, y = int64_t{rects[4 * i + 1]} + display->contentOffsetY;
    const int32_t w = rects[4 * i + 2], h = rects[4 * i + 3];
    if (w <= 0 || h <= 0) continue;
    if (x < SHRT_MIN || y < SHRT_MIN || x + w > SHRT_MAX || y + h > SHRT_MAX || w > USHRT_MAX || h > USHRT_MAX)
      return false;
    out.push_back(XRectangle{static_cast<short>(x), static_cast<short>(y), static_cast<unsigned short>(w),
                             static_cast<unsigned short>(h)});
  }
  vlX11Window* x = display->window;
  XSetForeground(x->display, x->gc, ForegroundFor(display, colour));
  Region clip = nullptr;
  BuildVideoClipRegion(display, &clip, 0);
  // Xlib splits a list longer than a request may be.
  if (!out.empty()) XFillRectangles(x->display, x->window, x->gc, out.data(), static_cast<int>(out.size()));
  if (clip) {
    XSetClipMask(x->display, x->gc, None);
    XDestroyRegion(clip);
  }
  MarkPutPending(x->connection);
  *put = vlWindowPut{VL_PUT_WAITING, 0, 0};
  return true;
}

void FillRectInWindow(vlPlatformWindow* display, int rx, int ry, int width, int height, uint32_t colour) {
  if (width <= 0 || height <= 0) return;
  DrawShape(display, colour, [&](Display* d, Window w, GC gc, int ox, int oy) {
    XFillRectangle(d, w, gc, rx + ox, ry + oy, width, height);
  });
}
