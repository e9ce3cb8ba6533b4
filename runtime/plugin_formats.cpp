// Loader lists and the script side of loaded plug-ins: class membership on
// request, command libraries and saver-format constants. Depends on the
// plug-in list, the class lists, the VM's command and constant
// registration and the library registry.
#include "runtime/plugin_formats.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/class_lists.h"
#include "runtime/file_adapter.h"
#include "runtime/objects.h"
#include "runtime/plugins.h"
#include "vm/text.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

bool IsReservedLoaderWord(const char* item, size_t len) {
  for (const char* w : {"plugin", "native", "inbuilt"})
    if (std::strlen(w) == len && CompareNoCaseN(item, w, len) == 0) return true;
  return false;
}

bool InClass(const vlPluginInfo* info, uint32_t classCode) {
  for (vlClassNode* n = GetLoaderClassList(classCode); n; n = n->next)
    if (n->plugin == info) return true;
  return false;
}

}  // namespace

int IsBuiltinLoaderName(const char* name) {
  if (!name || !*name) return 1;
  return CompareNoCase(name, "default") == 0 || CompareNoCase(name, "inbuilt") == 0 ||
         CompareNoCase(name, "native") == 0;
}

void BuildLoaderList(const char* list, uint32_t classCode) {
  int known = 0;
  GetLoaderClassList(classCode, &known);
  if (!known || !list || !*list || CompareNoCase(list, "default") == 0) return;
  for (const char* item = list; item;) {
    const char* bar = std::strchr(item, '|');
    size_t len = bar ? static_cast<size_t>(bar - item) : std::strlen(item);
    if (len > 0 && !IsReservedLoaderWord(item, len)) {
      std::string name(item, len);
      for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
        if (!p->handle) continue;
        vlPluginInfo* info = p->handle->info;
        if (!info->moduleName || info->disabled || CompareNoCase(info->moduleName, name.c_str()) != 0) continue;
        if ((info->capabilities & classCode) && !InClass(info, classCode) &&
            AddPluginToClassList(info, classCode) == 0)
          info->joinedOnRequest = 1;
        break;
      }
    }
    item = bar ? bar + 1 : nullptr;
  }
}

int IsLoaderAsked(const vlPluginInfo* info, const char* list) {
  if (!info || info->disabled || !IsLoaderSelected(list, info->moduleName, 1)) return 0;
  return !info->joinedOnRequest || IsLoaderNamed(list, info->moduleName);
}

const char* GetLoaderName(const vlPluginInfo* loader) {
  if (loader == nullptr) return "inbuilt";
  if (reinterpret_cast<uintptr_t>(loader) == 1) return "native";
  return loader->moduleName ? loader->moduleName : "";
}

int RegisterSaverFormats(vlVMState* state, const char* prefix, void (*registerEntry)(vlSaverFormat*),
                         vlSaverFormat** tableOut, uint32_t moreBit) {
  // A plug-in that never clears the more-bit would keep the player here
  // for ever; no plug-in has anywhere near this many formats.
  constexpr size_t kMaxFormats = 1024;
  size_t prefixLength = std::strlen(prefix);
  size_t count = 0, pool = 0;
  vlSaverFormat record;
  do {
    record = {};
    registerEntry(&record);
    ++count;
    pool += prefixLength + std::strlen(record.name ? record.name : "") + 1;
  } while ((record.flags & moreBit) && count < kMaxFormats);
  auto* table = static_cast<vlSaverFormat*>(std::calloc(count + 2, sizeof(vlSaverFormat)));
  auto* constants = static_cast<vlConstant*>(std::calloc(count + 2, sizeof(vlConstant)));
  auto* names = static_cast<char*>(std::malloc(pool));
  if (!table || !constants || !names) {
    std::free(table);
    std::free(constants);
    std::free(names);
    return ERR_MEM;
  }
  // The second pass may answer differently: constant names are cut to the
  // room the first pass counted, and get none once it is used up.
  char* at = names;
  size_t left = pool;
  size_t named = 0;
  for (size_t i = 0; i < count; ++i) {
    record = {};
    registerEntry(&record);
    table[i] = record;
    if (left == 0) continue;
    int written = std::snprintf(at, left, "%s%s", prefix, record.name ? record.name : "");
    size_t used = std::min(static_cast<size_t>(written < 0 ? 0 : written) + 1, left);
    constants[named++] = {at, nullptr, static_cast<double>(record.formatId)};
    at += used;
    left -= used;
  }
  vl::RegisterConstants(state, constants, 0);
  std::free(constants);
  std::free(names);
  *tableOut = table;
  return 0;
}

int OpenPluginLibraries(vlVMState* state, vlPlugin* node, int constants, int commands) {
  vlPluginInfo* info = node->handle->info;
  int count = info->GetLibraryCount ? info->GetLibraryCount() : 1;
  for (int i = 0; i < count; ++i) {
    if (info->SetCurrentLibrary) info->SetCurrentLibrary(i);
    const char* base = info->GetBaseTable();
    const vlCommand* list = info->GetCommands();
    const vlConstant* values = info->GetConstants();
    if (commands && list) {
      int top = vl::GetStackTop(state);
      // Without a base-table name the commands become globals.
      if (!base) vl::PushSlotCopy(state, vl::kGlobalsIndex);
      int registered = vl::RegisterCommands(state, base, list, 0);
      vl::SetStackTop(state, top);
      if (registered) {
        int rc = RegisterLibrary(list, base ? base : "plugin", info);
        if (rc != 0) return rc;
      }
    }
    if (constants && values) vl::RegisterConstants(state, values, 0);
  }
  if (!commands) return 0;
  info->librariesInitialised = 1;
  return info->InitLibrary(state);
}

int RegisterPluginFormats(vlVMState* state, vlPlugin* node) {
  if (!node->handle) return 0;
  vlPluginInfo* info = node->handle->info;
  int rc = 0;
  if ((info->capabilities & PLUGINCAPS_LIBRARY) && !(info->extensions[1] & 2) && !info->librariesInitialised) {
    rc = OpenPluginLibraries(state, node, 1, 1);
    if (rc != 0) return rc;
  }
  if ((info->capabilities & PLUGINCAPS_SAVEIMAGE) && !info->imageSaverFormats) {
    rc = RegisterSaverFormats(state, "imgfmt_", info->RegisterImageSaver, &info->imageSaverFormats, 8);
    if (rc != 0) return rc;
  }
  if ((info->capabilities & PLUGINCAPS_SAVEANIM) && !info->animSaverFormats) {
    rc = RegisterSaverFormats(state, "anmfmt_", info->RegisterAnimSaver, &info->animSaverFormats, 16);
    if (rc != 0) return rc;
  }
  if ((info->capabilities & PLUGINCAPS_SAVESAMPLE) && !info->sampleSaverFormats)
    rc = RegisterSaverFormats(state, "smpfmt_", info->RegisterSampleSaver, &info->sampleSaverFormats, 1);
  return rc;
}

void FreePluginFormats(vlPluginInfo* info) {
  while (vlPluginFileType* t = info->fileTypes) {
    info->fileTypes = t->next;
    std::free(t);
  }
  std::free(info->imageSaverFormats);
  std::free(info->animSaverFormats);
  std::free(info->sampleSaverFormats);
  info->imageSaverFormats = info->animSaverFormats = info->sampleSaverFormats = nullptr;
}
