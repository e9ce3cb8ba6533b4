// Plug-in-facing forms of the display services.
#include "display/display_services.h"

#include "display/clients.h"
#include "display/display.h"
#include "display/icons.h"
#include "platform/x11/x11_window.h"
#include "runtime/tag_list.h"
#include "vm/error_codes.h"

namespace {

// 8: a client of the display numbered number (or with that handle).
void* AddClientSvc(int32_t number, void* handle, vlObserverFn callback, void* userData, vlTagItem* tags,
                   uint32_t callKind) {
  return AddDisplayClient({number, handle}, callback, userData, tags, callKind);
}
void RemoveClientSvc(void* client) { RemoveDisplayClient(static_cast<vlDisplayClient*>(client)); }
int RefreshClientSvc(void* client) { return RefreshForClient(nullptr, static_cast<vlDisplayClient*>(client)); }
int SizeClientSvc(void* client, int32_t width, int32_t height) {
  return ResizeForClient(nullptr, static_cast<vlDisplayClient*>(client), width, height);
}
int SetDisplayAdapterSvc(vlPluginInfo* info, uintptr_t userData, const vlTagItem* tags) {
  return InstallDisplayAdapter(info, userData, tags);
}
void* IconListSvc() { return GetWindowIconList(); }
void FreeIconListSvc(void* list) { FreeIconList(static_cast<vlIconNode*>(list)); }
int DisplayAttrsSvc(const void* window, const vlTagItem* tags) { return GetDisplayInfo(window, tags); }
int RedrawByHandleSvc(const void* window) { return RefreshDisplayByWindow(nullptr, window); }
// 20: with a handle the display's id number; else the window of display
// number (0 when there is none).
uintptr_t DisplayHandleSvc(int32_t number, const void* window) {
  if (window) {
    vlDisplay* d = GetDisplayByWindow(window);
    return d ? static_cast<uintptr_t>(d->idNumber) : 0;
  }
  vlDisplay* d = GetDisplayByNumber(number);
  if (!d) return 0;
  if (d->adapterHandle) return reinterpret_cast<uintptr_t>(d->adapterHandle);
  return d->window ? static_cast<uintptr_t>(d->window->window) : 0;
}
int SetRequesterAdapterSvc(vlPluginInfo* info, uint32_t flags) { return InstallRequesterAdapter(info, flags); }

template <class F>
vlServiceFn Slot(F f) {
  return reinterpret_cast<vlServiceFn>(f);
}

}  // namespace

void FillDisplayServiceSlots(vlServiceFn* g, vlServiceFn* r) {
  g[8] = Slot(AddClientSvc);
  g[9] = Slot(RemoveClientSvc);
  g[10] = Slot(RefreshClientSvc);
  g[11] = Slot(SizeClientSvc);
  g[13] = Slot(SetDisplayAdapterSvc);
  g[14] = Slot(IconListSvc);
  g[15] = Slot(FreeIconListSvc);
  g[18] = Slot(DisplayAttrsSvc);
  g[19] = Slot(RedrawByHandleSvc);
  g[20] = Slot(DisplayHandleSvc);
  r[3] = Slot(SetRequesterAdapterSvc);
}
