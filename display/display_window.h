// Opening and closing a display's platform window: windowed, full screen
// and fake full screen, the mode requesters, screen-mode switching, the
// backdrop window behind a full-screen display, the saved placement, and
// the screen-dependent set-up at start-up.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlDisplay;

// Mode bits of OpenDisplayWindow.
enum : uint32_t {
  VL_OPENWIN_MONITORFROMWINDOW = 1,
  VL_OPENWIN_FINISHSETUP = 2,
  VL_OPENWIN_REOPEN = 4,
  VL_OPENWIN_MONITORCHANGED = 8,
};
// Mode bits of ClosePlatformWindow.
enum : uint32_t {
  VL_CLOSEWIN_KEEPBRUSHES = 1,
  VL_CLOSEWIN_KEEPSCREENMODE = 2,
  VL_CLOSEWIN_FREEBACKDROP = 4,
};

int OpenDisplayWindow(vlVMState* state, vlDisplay* display, uint32_t mode);
int OpenPlatformWindow(vlVMState* state, vlDisplay* display, int activate, int full);
int ClosePlatformWindow(vlVMState* state, vlDisplay* display, vlDisplay* owner, uint32_t mode);
// Runs once: the screen format is known from here on.
int FinishDisplaySetup(vlVMState* state, uint32_t startupFlags, vlDisplay* display);
void FreeBackdrop(vlVMState* state, vlDisplay* display);
// The display forgets the keys and mouse buttons it holds as pressed,
// its own words and its device's.
void ResetDisplayCaches(vlDisplay* display);
uint32_t PackDisplayFlags(const vlDisplay* display);
// Resolves x and y against the display's monitor and adds its origin.
int ResolveWindowPosition(vlDisplay* display, bool onlyRelative);
// 0 when an X window of width x height can be made, else ERR_DISPLAYSIZE
// with "WxH" as the message's argument (X sizes and places are 16-bit).
int CheckDisplaySize(int32_t width, int32_t height);
// Installs the default drag and size regions when the script gave none,
// and the scaled copies.
void SetDefaultRegions(vlDisplay* display);
// Set once FinishDisplaySetup ran.
extern int32_t vlDisplaySetupDone;
