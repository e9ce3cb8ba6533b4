// Monitors and screen modes: which monitor a display is on, that
// monitor's rectangle, how many monitors there are, and the GetMonitors
// and GetDisplayModes commands.
#pragma once
#include <cstdint>

struct vlDisplay;
struct vlVMState;

// Each out pointer may be null; all are set to 0 first. 0 or 1558.
int GetDisplayMonitorRect(vlDisplay* display, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
int CountMonitors(vlDisplay* display);
// The last monitor that the window rectangle overlaps; 0 when none.
int MonitorOfWindow(vlDisplay* display);
int IsFullscreenUnique(vlDisplay* display);
bool RectsOverlapInclusive(int32_t ax1, int32_t ay1, int32_t ax2, int32_t ay2, int32_t bx1, int32_t by1, int32_t bx2,
                           int32_t by2);

int CmdGetMonitors(vlVMState* state);
int CmdGetDisplayModes(vlVMState* state);
