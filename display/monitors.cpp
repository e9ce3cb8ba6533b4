// Monitor arithmetic over the platform's monitor list and the two commands
// that report monitors and screen modes.
#include "display/monitors.h"

#include "display/display.h"
#include "platform/display_adapter.h"
#include "platform/x11/x11_window.h"
#include "runtime/error_vm.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

bool RectsOverlapInclusive(int32_t ax1, int32_t ay1, int32_t ax2, int32_t ay2, int32_t bx1, int32_t by1, int32_t bx2,
                           int32_t by2) {
  return ax1 <= bx2 && bx1 <= ax2 && ay1 <= by2 && by1 <= ay2;
}

int GetDisplayMonitorRect(vlDisplay* d, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  for (int32_t* p : {x, y, width, height})
    if (p) *p = 0;
  vlMonitorNode* list = GetDisplayMonitorList(d);
  int index = d ? d->monitorIndex : 0;
  vlMonitorNode* m = list;
  for (int i = 0; m && i < index; ++i) m = m->next;
  int status = ERR_GETMONITORINFO;
  if (m) {
    if (x) *x = m->x;
    if (y) *y = m->y;
    if (width) *width = m->width;
    if (height) *height = m->height;
    status = 0;
  }
  FreeMonitorList(list);
  return status;
}

int CountMonitors(vlDisplay* d) {
  vlMonitorNode* list = GetDisplayMonitorList(d);
  int n = 0;
  for (vlMonitorNode* m = list; m; m = m->next) ++n;
  FreeMonitorList(list);
  return n;
}

int MonitorOfWindow(vlDisplay* d) {
  vlMonitorNode* list = GetDisplayMonitorList(d);
  int found = 0, i = 0;
  for (vlMonitorNode* m = list; m; m = m->next, ++i)
    if (RectsOverlapInclusive(d->x, d->y, d->x + d->width - 1, d->y + d->height - 1, m->x, m->y,
                              m->x + m->width - 1, m->y + m->height - 1))
      found = i;
  FreeMonitorList(list);
  return found;
}

int IsFullscreenUnique(vlDisplay* d) {
  if (d->isBackdrop || d->isResourceMonitor) return 0;
  if (d->fullScreen) return 1;
  int monitor = MonitorOfWindow(d);
  for (vlDisplay* o = vlDisplayList; o; o = o->next)
    if (o != d && o->fullScreen && !o->isBackdrop && o->monitorIndex == monitor) return 0;
  return 1;
}

int CmdGetMonitors(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlMonitorNode* list = GetDisplayMonitorList(CurrentDisplay());
  if (!list) return ERR_MEM;
  vl::PushNewTable(L);
  int i = 0;
  for (vlMonitorNode* m = list; m; m = m->next, ++i) {
    vl::PushNewTable(L);
    SetTableInt(L, "x", m->x);
    SetTableInt(L, "y", m->y);
    SetTableInt(L, "width", m->width);
    SetTableInt(L, "height", m->height);
    vl::RawSetTableIndex(L, -2, i);
  }
  FreeMonitorList(list);
  return 1;
}

int CmdGetDisplayModes(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  int32_t monitor = vl::OptIntArg(L, 1, 1);
  vlDisplay* d = CurrentDisplay();
  vlDisplay scratch{};
  if (!d) d = &scratch;
  if (monitor < 1 || monitor > CountMonitors(d)) return ERR_MONITORRANGE;
  int32_t saved = d->monitorIndex;
  d->monitorIndex = monitor - 1;
  vlModeEntry* modes = nullptr;
  int32_t count = 0;
  int status = GetDisplayModeList(d, &modes, &count);
  d->monitorIndex = saved;
  if (status) return status;
  vl::PushNewTable(L);
  for (int32_t i = 0; i < count; ++i) {
    vl::PushNewTable(L);
    SetTableInt(L, "width", modes[i].width);
    SetTableInt(L, "height", modes[i].height);
    vl::RawSetTableIndex(L, -2, i);
  }
  delete[] modes;
  return 1;
}
