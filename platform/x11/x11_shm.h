// Pictures to the X server through MIT-SHM: System V segments the server
// maps too, so a put carries a few bytes on the socket instead of the
// pixels. A segment is either the pixel store of an offscreen bitmap (the
// displays' back buffers, sent without a copy) or a window's staging ring,
// into which smaller rectangles of other pictures are copied. A server that
// lacks the extension or refuses the attach (a remote host, a container)
// gets plain XPutImage on that connection from then on.
#pragma once
#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>

struct vlX11Connection;
struct vlX11Window;

struct vlX11ShmSegment {
  unsigned long seg;  // the server's id for it (ShmSeg) once attached
  int shmid;
  uint8_t* address;
  size_t size;
  Display* attached;      // the connection whose server mapped it, or null
  unsigned long lastPut;  // serial of the last put that reads it, 0 none
  bool lastPutNotifies;   // that put asked for a completion event
  size_t head;  // staging ring: next free offset
  vlX11ShmSegment* next;
};

// A new segment of size bytes, already removed from the system's list so a
// killed player leaves nothing behind. Null when shmget or shmat fails.
vlX11ShmSegment* CreateShmSegment(size_t size);
// Detaches it from its server (when that connection is still open) and
// from this process.
void DestroyShmSegment(vlX11ShmSegment* segment);
// Waits until the server has read what the last put from it sent, so its
// pixels may change. One round trip at most, none when nothing is pending.
void WaitShmIdle(vlX11ShmSegment* segment);

// The segment that holds these pixels (an offscreen bitmap's), or null.
vlX11ShmSegment* FindShmSegment(const uint8_t* pixels);

// Whether puts on this connection may go through shared memory: the
// server offers MIT-SHM, libXext is loaded and no attach failed yet.
bool ShmUsable(vlX11Connection* connection);

// Sends a rectangle of pixels (depth, pad as XCreateImage takes them; row
// stride in bytes) to the window through shared memory: straight from the
// source's own segment when it has one on this connection, else copied
// into the window's staging ring. False when shared memory cannot be used
// (the caller falls back to XPutImage); nothing was sent then. A put from
// the source's own segment is a frame: *frameSerial gets its request
// serial, and it waits in Xlib's buffer until the caller sends it
// (SendConnectionPuts); any other put is marked pending (*frameSerial 0).
bool ShmPutRect(vlX11Window* window, vlX11ShmSegment* sourceSegment, const uint8_t* pixels, int imageWidth,
                int imageHeight, int stride, int bytesPerPixel, int depth, int srcX, int srcY, int dstX, int dstY,
                int width, int height, unsigned long* frameSerial);

// The staging ring of a window, freed when the window closes or changes
// size.
void FreeWindowStaging(vlX11Window* window);
// Detaches every segment from a connection about to close.
void ForgetShmConnection(Display* display);

// Puts wait in Xlib's buffer until the floor above has them sent; it
// decides when (graphics/presentation.cpp). MarkPutPending notes a
// connection with unsent puts; SendPendingPuts sends those of every such
// connection now.
void MarkPutPending(vlX11Connection* connection);
void SendPendingPuts();
// Sends what waits in the buffer of the connection of this id (none when
// it has closed).
void SendConnectionPuts(uint64_t connection);
// Waits until the server of the connection of this id has processed the
// frame put of this serial, taking the frame's completion event; at once
// when it has, or when the connection has closed.
void WaitFrameProcessed(uint64_t connection, unsigned long serial);
