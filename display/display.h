// The display record, the display list and the current display. A display
// is one output surface of the script: an X window (or a surface of a
// display-adapter plug-in), windowed or full screen, always showing one
// background picture. The platform layer reads and writes the fields of
// its window record, the base of the display record.
#pragma once
#include <cstdint>

#include "runtime/os.h"
#include "runtime/objects.h"
#include "graphics/gradient_render.h"
#include "runtime/preproc.h"
#include "platform/window_record.h"
#include "runtime/startup_records.h"

struct vlX11Window;
struct vlBitmap;
struct vlBGPic;
struct vlMutex;
struct vlVMState;
struct vlDisplayClient;
struct vlPendingFrame;
struct vlMenu;

// Output types: the object type of the current drawing target.
enum : uint32_t {
  VL_OUTPUT_DISPLAY = 21,
  VL_OUTPUT_BGPIC = 1,
  VL_OUTPUT_BRUSH = 3,
  VL_OUTPUT_ANIM = 4,
  VL_OUTPUT_MASK = 28,
  VL_OUTPUT_ALPHA = 30,
};

constexpr int kDisplayTitleMax = 255;

// How a display's own BGPic is filled: fill style 1 colour, 2 gradient,
// 3 texture brush tiled from the texture offset.
struct vlBackfillDesc {
  uint32_t fillStyle;
  uint32_t color;
  vlGradientDesc gradient;
  vlObjectId textureBrush;
  int32_t textureX, textureY;
};

// The screen-mode record: mode, screen size and depth, desktop flag and the
// backdrop decoration.
struct vlScreenModeRecord {
  int32_t mode;
  int32_t screenWidth, screenHeight, screenDepth;
  int32_t desktop;
  vlBackfillBlock backfill;
};

struct vlDirtyRects {
  int32_t* rects;  // x1, y1, x2, y2 per entry
  int32_t count;
  int32_t capacity;
  int32_t all;  // everything is dirty: the entries no longer matter
};

// The whole picture needs a refresh; kept until the list is emptied.
inline void MarkAllDirty(vlDirtyRects* list) { list->all = 1; }
inline bool IsAllDirty(const vlDirtyRects& list) { return list.all != 0; }
inline bool HasDirtyRects(const vlDirtyRects& list) { return list.all || list.count; }
inline void ClearDirtyRects(vlDirtyRects* list) { list->count = 0, list->all = 0; }

// A display is its platform window record (platform/window_record.h, the
// only base, so both share one address) and what the engine keeps beside.
struct vlDisplay : vlPlatformWindow {

  // Layers and selection.
  uint32_t layersOn;
  void* selectBitmap;         // the brush bitmap a double buffer draws into
  uint32_t selectWords[2];    // non-zero: a selected layer's image changed
  uint32_t outputType;        // VL_OUTPUT_*
  uint32_t outputHardware;    // the selected target is a video bitmap
  uint32_t selectState;
  vlBGPic* bgpic;             // shown; never null once created
  uint32_t ownBGPic;
  uint32_t doubleBuffer;
  uint32_t hardwareBackBuffer;  // a software double buffer's back buffer is the adapter's picture
  uint32_t hardwareDoubleBuffer;
  uint32_t doubleBufferWords[2];
  uint32_t nestedSelect;
  uint32_t savedHardwareDoubleBuffer;
  uint32_t isBackdrop;        // "__backfill"
  uint32_t isResourceMonitor;



  // Backfill of the display's own BGPic.
  vlBackfillDesc backfill;

  // Style and mode (the platform's part is in the window record).
  char titleText[kDisplayTitleMax + 1];


  // Bitmaps: front copy (BGPic without layers), back buffer, one further
  // bitmap and the saved double-buffer brush bitmap.
  vlBitmap* front;
  vlBitmap* back;
  vlBitmap* extraBitmap;
  vlBitmap* savedSelectBitmap;
  // The drawing target's own mask and alpha planes, kept in step by the
  // blits while a brush, its mask or its alpha channel is selected.
  vlBitmap* outputMask;
  vlBitmap* outputAlpha;


  vlDirtyRects dirty;

  vlTimeVal openedTime;
  vlTimeVal lastFrameTick;  // the frame-rate limit's last tick

  vlBGPic* savedOutput;
  int32_t cursorX, cursorY, marginLeft, marginRight;
  int32_t tabStops[32];  // ascending text tab stops
  int32_t tabCount;
  void* pointer;
  int32_t pointerHidden;
  int32_t activateOnOpen;
  vlBitmap* shapeMask;
  vlBitmap* shapeAlpha;
  // Selection save area.
  int32_t selectEntered;
  int32_t savedCursor[4];
  uint32_t savedLayersOn;
  uint32_t orientation;

  // Clients (the platform's part is in the window record) and pending frames.
  uint32_t clientModifiers;
  // Kept together: a change of attributes copies the record around them.
  vlMutex* mutex;
  vlPendingFrame* pendingFrames;
  // Set while the main thread draws frames it took from the queue with a
  // video's frame sought among them, until they are sent (a frame in hand
  // is not on the window yet); when the last such were sent (monotonic
  // seconds).
  int32_t framesInHand;
  double framesSentAt;

  // Full screen.
  int32_t restoreMonitor;  // index + 1, 0 same
  int32_t savedX, savedY;
  uint32_t savedFlags;
  int32_t savedValid;

  vlMenu* menu;
  vlScreenModeRecord screen;
  int32_t monitorRelativeX, monitorRelativeY;
  int32_t windowHasAlpha;

  // Placement from the preferences store.
  uint8_t* osData;
  uint32_t osDataLength;
  int32_t restoreWidth, restoreHeight;

  // Backdrop links.
  vlObjectId backdropId;
  vlObjectId backdropBGPic;
  vlObjectId backdropBrush;
  vlDisplay* ownerDisplay;
  char xServer[256];

  // Double buffering: the picture that Flip shows, the back buffer that
  // drawing goes into and the BGPic record that targets it.
  vlBitmap* dbPicture;
  vlBitmap* dbBack;
  vlBGPic* dbBGPic;
  // A third store, holding the frame of two Flips ago: the back buffer
  // takes it at Flip, so the next frame is drawn into pixels the server
  // read long ago while it still reads the last one. With it the
  // rectangles the last Flip changed, which that store still owes
  // (count -1: all of it).
  vlBitmap* dbSpare;
  int32_t dbLastChanged[4 * 16];
  int32_t dbLastCount;

};

// The display list (creation order) and its mutex.
extern vlDisplay* vlDisplayList;
extern vlMutex* vlDisplayListMutex;
// The current display: where commands without a display argument draw and
// what the input commands read. SelectDisplayRecord makes one current;
// code that draws for another display takes it as an argument and leaves
// the current one as it is.
vlDisplay* CurrentDisplay();
void SetCurrentDisplay(vlDisplay* display);
// A drawing target: the display drawn for and the picture drawn into.
struct vlDrawingFor {
  vlDisplay* display;
  vlBGPic* output;
};
// The current display and drawing target, for the callers that draw there.
vlDrawingFor CurrentDrawingFor();
// Set while a video of the screen is being recorded.
extern int32_t vlRecordingScreen;

// A display's drawing-target words: target picture, mask and alpha,
// output type and the target-is-hardware flag. Saving them (into out, or
// nowhere) resets them to drawing on the display itself, so code that
// draws for the display meanwhile (the frame pump) reaches its picture;
// restoring puts the script's selection back.
struct vlDisplayOutputState {
  void* bitmap;
  vlBitmap* mask;
  vlBitmap* alpha;
  uint32_t type;
  uint32_t hardware;
};
void SaveDisplayOutputState(vlDisplay* display, vlDisplayOutputState* out);
void RestoreDisplayOutputState(vlDisplay* display, const vlDisplayOutputState& saved);
// Runs draw(user) with the display current and its drawing selection put
// aside (output to the display itself); both come back afterwards.
void DrawWithDisplayCurrent(vlDisplay* display, void (*draw)(void*), void* user);

// Points title and xDisplayName at the record's own texts (after the
// record was copied).
void FixDisplayTextPointers(vlDisplay* display);

// Script command.
int CmdCreateDisplay(vlVMState* state);

// Unlinks and frees one display; with mustExist a missing one is an error.
int FreeDisplayRecord(vlVMState* state, vlObjectId id, int mustExist);
// Frees what a display owns; keepBGPic keeps its own BGPic.
void FreeDisplayResources(vlVMState* state, vlDisplay* display, int keepBGPic);
// Shut-down: closes and frees every display, the menus and the icons.
void CloseAllDisplays(vlVMState* state);

// 0, ERR_FINDDISPLAY with the number kept, or 1041 for a handle.
int GetDisplayByID(vlObjectId id, vlDisplay** out);
vlDisplay* GetDisplayByNumber(int32_t number);
vlDisplay* GetDisplayByWindow(const void* handle);
// Makes a display current (ending the old one's selection where it can).
void SelectDisplayRecord(vlVMState* state, vlDisplay* display, int noActivate);

// The rectangle of the display's dirty list that means "everything".
void MarkDisplayAllDirty(vlDisplay* display);
int AllocDirtyRects(vlDisplay* display);

// Reads a display's flag bits for the event queue.
uint32_t DisplayFlagsForEvents(const vlDisplay* display);
