// The display record: what the platform layer reads and writes of a display.
// The display subsystem owns the record and its list; only the fields the
// platform layer touches are declared here, in the order they are grouped
// there, so this header grows as more of the display code lands.
#pragma once
#include <cstdint>

#include "platform/os.h"
#include "runtime/objects.h"

struct vlX11Window;

enum : uint32_t {
  VL_DISPSTYLE_BORDERLESS = 0x1,
  VL_DISPSTYLE_SIZEABLE = 0x2,
  VL_DISPSTYLE_FIXED = 0x4,          // not movable
  VL_DISPSTYLE_NOMODESWITCH = 0x8,   // no Alt+Return
  VL_DISPSTYLE_NOMINIMIZE = 0x20,
  VL_DISPSTYLE_NOCLOSE = 0x4000,
  VL_DISPSTYLE_NOSCREENSAVER = 0x1000000,
};

enum : int32_t {
  VL_DISPSTATE_OPEN = 1,
  VL_DISPSTATE_HIDDEN = 2,
};

constexpr int kDisplayKeyCount = 300;

struct vlDisplay {
  // Identity and list.
  vlObjectId id;
  vlDisplay* next;
  vlDisplay* parent;
  int32_t openState;     // 1 open
  int32_t displayState;  // 1 open
  int32_t visibility;    // 1 shown, 2 hidden
  int32_t active;
  // Geometry.
  int32_t x, y, width, height;
  char* xDisplayName;  // null: the default display
  char* title;
  int32_t monitorIndex;
  int32_t frameLeft, frameTop, frameWidth, frameHeight;  // width/height: left+right, top+bottom
  int32_t bordersKnown;
  int32_t contentOffsetX, contentOffsetY;  // the picture's offset inside the window
  // Style and mode.
  uint32_t styleFlags;
  int32_t displayMode;  // 0 windowed, else full screen
  int32_t fullScreen;
  int32_t overrideWord;
  int32_t grabBlocking;
  // Input.
  uint8_t keyState[kDisplayKeyCount];
  int32_t leftButton, rightButton, middleButton;
  int32_t mouseMoved;
  vlTimeVal lastMoveTime;
  int32_t hasMouseMoveHandler;
  // Links.
  void* adapterHandle;  // the display adapter's handle, null when none
  vlX11Window* window;  // the platform window record
};
