// BGPic buttons: rectangles of a background picture with their own mouse
// handlers, made by MakeButton and hit-tested by the dispatcher.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlBGPic;
struct vlDisplay;
struct vlLayer;

enum : uint32_t {
  VL_BUTTON_SIMPLE = 0,
  VL_BUTTON_LAYER = 1,
};

// Handler references of a button, in this order.
enum : int {
  VL_BH_OVER = 0,
  VL_BH_OUT = 1,
  VL_BH_DOWN = 2,
  VL_BH_UP = 3,
  VL_BH_RIGHTDOWN = 4,
  VL_BH_RIGHTUP = 5,
  VL_BH_MIDDOWN = 6,
  VL_BH_MIDUP = 7,
  VL_BH_COUNT = 8,
};
extern const char* const kButtonHandlerNames[VL_BH_COUNT];

struct vlBGPicButton {
  vlBGPicButton* next;
  vlObjectId id;
  uint32_t type;
  int32_t x1, y1, x2, y2;  // content coordinates, inclusive
  uint32_t enabled;
  uint32_t pressed[3];  // left, right, middle
  uint32_t hovered;
  int32_t handlers[VL_BH_COUNT];
  vlLayer* layer;
  uint32_t pixelExact;
  uint32_t hiddenLayersCount;
  int32_t userdataRef;
};

// Enabled, and for a layer button bound to a layer that is shown (or
// counts while hidden).
bool ButtonEligible(const vlBGPicButton* button);
// The pointer in content coordinates inside the button.
bool ButtonHit(const vlBGPicButton* button, int32_t x, int32_t y);
// The window position (x, y) of the display in content coordinates.
void ContentPosition(vlDisplay* display, int32_t x, int32_t y, int32_t* cx, int32_t* cy);

// The rectangle the button covers (a layer button: its layer's drawn one).
void GetButtonRect(const vlBGPicButton* button, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
// A layer replaced by a new one hands its buttons on.
void MoveLayerButtons(vlLayer* from, vlLayer* to);
// Deletes the buttons of every BGPic bound to the layer (it is going away).
void DeleteButtonsOfLayer(vlVMState* state, vlLayer* layer);
// Deletes the first button of the BGPic bound to the layer.
void DeleteLayerButton(vlVMState* state, vlBGPic* bgpic, vlLayer* layer);
// Frees every button of the BGPic (its own release).
void FreeBGPicButtons(vlVMState* state, vlBGPic* bgpic);

int CmdMakeButton(vlVMState* state);
int CmdDeleteButton(vlVMState* state);
int CmdEnableButton(vlVMState* state);
int CmdDisableButton(vlVMState* state);
int CmdDumpButtons(vlVMState* state);
