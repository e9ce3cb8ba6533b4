// The plug-in registry: the list of known plug-ins (loaded or only found),
// its look-ups, closing one plug-in module and freeing the list. Loading
// plug-ins is the driver's part. Main thread only.
#include "runtime/plugins.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/class_lists.h"
#include "runtime/objects.h"
#include "runtime/plugin_formats.h"
#include "vm/text.h"

namespace {

vlPlugin* g_head = nullptr;
const char* g_substituteName = nullptr;

}  // namespace

int vlPluginActivationLine = 0;

void DropPluginFromClasses(vlPluginInfo* info) {
  for (uint32_t c : {VL_CLASS_IMAGE, VL_CLASS_ANIM, VL_CLASS_SOUND, VL_CLASS_VIDEO, VL_CLASS_FILEADAPTER,
                     VL_CLASS_DIRADAPTER})
    RemovePluginFromClassList(info, c);
}

void ClosePluginModule(vlPluginHandle* handle) {
  if (!handle) return;
  vlPluginInfo* info = handle->info;
  if (info) {
    if (info->ClosePlugin) info->ClosePlugin();
    DropPluginFromClasses(info);
  }
  if (handle->library) dlclose(handle->library);
  // The info block starts the block the loader allocated for the plug-in.
  std::free(info);
  std::free(handle);
}

vlPluginInfo* GetPluginInfo(vlPluginHandle* handle) { return handle ? handle->info : nullptr; }

void* GetPluginSymbol(void* library, const char* name) { return dlsym(library, name); }

vlPlugin* FirstPlugin() { return g_head; }

vlPlugin* FindPluginByInfo(const vlPluginInfo* info) {
  for (vlPlugin* p = g_head; p; p = p->next)
    if (p->handle && p->handle->info == info) return p;
  return nullptr;
}

vlPlugin* FindPluginByName(const char* name) {
  for (vlPlugin* p = g_head; p; p = p->next)
    if (CompareNoCase(p->name, name) == 0) return p;
  return nullptr;
}

vlPlugin* AppendPlugin(const char* name, const char* path) {
  auto* node = static_cast<vlPlugin*>(std::calloc(1, sizeof(vlPlugin)));
  if (!node) return nullptr;
  std::snprintf(node->name, sizeof(node->name), "%s", name);
  std::snprintf(node->path, sizeof(node->path), "%s", path);
  vlPlugin** link = &g_head;
  while (*link) link = &(*link)->next;
  *link = node;
  return node;
}

void FreePluginList() {
  while (g_head) {
    vlPlugin* next = g_head->next;
    if (g_head->handle) {
      // Error reports read the command tables: none may outlive the module.
      ForgetLibrariesOf(g_head->handle->info);
      FreePluginFormats(g_head->handle->info);
      ClosePluginModule(g_head->handle);
    }
    std::free(g_head);
    g_head = next;
  }
  vlPluginActivationLine = 0;
}

void SetServiceSubstituteFileName(const char* name) { g_substituteName = name; }
const char* GetServiceSubstituteFileName() { return g_substituteName; }
