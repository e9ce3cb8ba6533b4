// Input translation of the X connections: keys, buttons, pointer motion and
// window changes become queued events and per-display state words; the
// user drags and sizes borderless windows; XDND drops arrive as file lists.
// Also the clipboard selection of the first display with a window.
#pragma once
#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>

struct vlDisplay;
struct vlPlatformWindow;
struct vlVMState;
struct vlX11Window;

// Calls into the display subsystem, installed by it at start-up. Each
// default does nothing (status 0), so the input code runs and is tested on
// windows that no display record manages.
struct vlX11InputHooks {
  // The pump's turn after a command: draws the frames other threads queued
  // for the displays and sends what was drawn once it is due. 0 or an
  // error.
  int (*flushPendingFrames)(vlVMState* state);
  // Redraws the whole display from its picture.
  void (*refreshDisplay)(vlVMState* state, vlDisplay* display);
  // 1 when no other open full-screen display uses the display's monitor.
  int (*isFullscreenUnique)(vlDisplay* display);
  // Reopens the display windowed (full 0) or full screen (1). 0 or an error.
  int (*switchMode)(vlVMState* state, vlDisplay* display, int full);
  // Rebuilds the display at the size the user gave its window, keeping its
  // position. 0 or an error.
  int (*resizeDisplay)(vlVMState* state, vlDisplay* display, int width, int height);
};
extern vlX11InputHooks gX11InputHooks;
void ResetX11InputHooks();

// Key codes of special keys (printable keys use their character code).
enum : int {
  VL_KEY_UP = 256,
  VL_KEY_HELP = 260,
  VL_KEY_F1 = 261,
  VL_KEY_BACKSPACE = 271,
  VL_KEY_TAB = 272,
  VL_KEY_ENTER = 273,
  VL_KEY_RETURN = 274,
  VL_KEY_ESCAPE = 275,
  VL_KEY_SPACE = 276,
  VL_KEY_DELETE = 277,
  VL_KEY_PAUSE = 286,
  VL_KEY_F16 = 290,
};

// Qualifier bits (bit 31 always set in a qualifier word).
enum : uint32_t {
  VL_QUAL_ALWAYS = 0x80000000u,
  VL_QUAL_LSHIFT = 0x10000,
  VL_QUAL_RSHIFT = 0x20000,
  VL_QUAL_LALT = 0x40000,
  VL_QUAL_RALT = 0x80000,
  VL_QUAL_LCOMMAND = 0x100000,
  VL_QUAL_RCOMMAND = 0x200000,
  VL_QUAL_LCONTROL = 0x400000,
  VL_QUAL_RCONTROL = 0x800000,
};

// Queued event types of window input.
enum : uint32_t {
  VL_XEV_LEFT = 1,
  VL_XEV_RIGHT = 2,
  VL_XEV_KEY = 3,
  VL_XEV_MOVE = 4,
  VL_XEV_SIZE = 5,
  VL_XEV_INACTIVE = 6,
  VL_XEV_CLOSE = 7,
  VL_XEV_ACTIVE = 8,
  VL_XEV_HIDE = 9,
  VL_XEV_SHOW = 10,
  VL_XEV_WHEEL_UP = 11,
  VL_XEV_WHEEL_DOWN = 12,
  VL_XEV_MODE_SWITCH = 13,
  VL_XEV_DROP = 14,
  VL_XEV_CLIPBOARD = 15,
  VL_XEV_MIDDLE = 16,
};

// The key code of a keysym: -1 for a key that posts nothing.
int KeysymToKeyCode(KeySym keysym);
// The qualifier word of the display's window: bit 31 plus held modifiers.
uint32_t GetQualifiers(vlPlatformWindow* display);

// Drains the X connections for at most 50 ms into queued events. 1 when the
// script must quit (with an error of a failed mode switch or resize in
// *error), else 0.
int HandleX11Events(vlVMState* state, int* error);

// Stops expired sound channels and reads the joysticks.
int PollDevices(vlVMState* state);

// The border zone (0-7: top-left, bottom-left, top-right, bottom-right,
// left, right, top, bottom; 8 none) of the size zone rect {id, x, y, width,
// height} at the pointer position (px, py) of a window of width w and
// height h, and the pointer's distance from the edges the zone moves.
int HitTestWindowBorder(int w, int h, int px, int py, const int32_t* zone, int* offsetX, int* offsetY);

// A text/uri-list as a dropped-file list: each line one entry with a
// leading "file://" dropped and %XX escapes decoded, NUL after each entry
// and a second NUL at the end. Empty and comment lines give no entry.
// AllocMemory block; null when memory runs out.
char* DecodeUriList(const uint8_t* data, size_t length);

// Reads whether the display's window holds the input focus now and, when
// that differs from its active flag, changes the flag and posts the event
// as a focus change would. For a window that got or lost the focus before
// it listened for focus changes.
void TakeFocusState(vlPlatformWindow* display);

// Every key, modifier and mouse button of the display counts as up until
// it is pressed again: the player did not see what happened meanwhile.
void ForgetHeldInput(vlPlatformWindow* display);

int IsLeftButtonDown(vlX11Window* window);
// The whole property (deleted only by the caller); with incremental given,
// an INCR property sets it and gives null. The data has a NUL appended;
// free with XFree. Null when absent.
uint8_t* ReadWindowProperty(vlX11Window* window, Atom property, size_t* length, int* incremental,
                            Atom* type = nullptr);

// The clipboard (CLIPBOARD selection) of the first display with a window.
enum : int {
  VL_CLIP_NONE = 0,
  VL_CLIP_TEXT = 1,
  VL_CLIP_PICTURE = 2,
};
struct vlClipboardResult {
  int kind;       // VL_CLIP_*
  char* data;     // text: ISO-8859-1 with a NUL; picture: PNG file bytes
  size_t length;  // without the NUL
};
// Owns the clipboard and offers nothing. 0 or ERR_CLIPOPEN.
int ClaimClipboard();
// Owns the clipboard and offers text (ISO-8859-1, converted to UTF-8) or
// a PNG file's bytes. 0, ERR_CLIPOPEN or ERR_MEM.
int SetClipboardData(int kind, const void* data, size_t length);
// The kind the owner offers (VL_CLIP_*). 0 or an error.
int QueryClipboardFormat(vlVMState* state, int* kind);
// Reads the owner's data into result (free result->data with FreeMemory).
int ReadClipboard(vlVMState* state, vlClipboardResult* result, int* kind);
int RequestClipboard(vlVMState* state, vlClipboardResult* result, int* kind);
void FreeClipboardOffer(vlX11Window* window);
// The window is closing: a clipboard read waiting on it ends (1365).
void ForgetClipboardWindow(vlX11Window* window);
// Closes the two text converters (platform shut-down).
void CloseClipboardConverters();

// Selection data larger than one property request goes in pieces (INCR).
// The largest piece for a connection; never more than the limit.
inline constexpr size_t kSelectionPieceLimit = 256 * 1024;
size_t LargestSelectionPiece(Display* display);
// Sets the requestor's property to INCR with the size and keeps a copy of
// the data for the pieces. 1, or 0 when memory ran out (nothing was set).
int StartIncrementalSend(Display* display, Window requestor, Atom property, Atom type, Atom incr, bool ownWindow,
                         const void* data, size_t length);
// The event loop offers every PropertyNotify and DestroyNotify here first;
// 1 when it belonged to a transfer.
int HandleIncrementalSendEvent(const XEvent& event);
// Frees every transfer (platform shut-down).
void FreeIncrementalSends();

// Called by the event handler for the clipboard's selection events.
void HandleSelectionRequest(vlX11Window* window, const XSelectionRequestEvent& request);
void GetClipboardData(vlX11Window* window);
