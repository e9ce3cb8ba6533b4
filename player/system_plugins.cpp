// The system library's plug-in commands: loading a plug-in at run time with
// its options, asking for one by file name and version, switching one off
// and on, and listing the loaded ones. Depends on the plug-in loader and
// its format registration.
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/option_readers.h"
#include "runtime/plugin_formats.h"
#include "player/plugin_loader.h"
#include "runtime/preproc.h"
#include "player/system_library.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

bool EndsWithVlp(const std::string& name) {
  return name.size() >= 4 && CompareNoCase(name.c_str() + name.size() - 4, ".vlp") == 0;
}

std::string WithoutVlp(const char* name) {
  std::string s = name;
  if (EndsWithVlp(s)) s.resize(s.size() - 4);
  return s;
}

const char* FilePart(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// Appends one option as a tag; 0 or 1000.
int AppendOption(vlPluginTag*** tail, const char* key, const char* text, double number) {
  size_t keyLength = std::strlen(key);
  size_t size = sizeof(vlPluginTag) + keyLength + 1 + (text ? std::strlen(text) + 1 : 0);
  auto* tag = static_cast<vlPluginTag*>(std::calloc(1, size));
  if (!tag) return ERR_MEM;
  char* texts = reinterpret_cast<char*>(tag + 1);
  std::memcpy(texts, key, keyLength + 1);
  tag->key = texts;
  if (text) {
    tag->string = texts + keyLength + 1;
    std::strcpy(tag->string, text);
  }
  tag->number = number;
  **tail = tag;
  *tail = &tag->next;
  return 0;
}

// Every key of the option table but the three the command reads itself
// becomes a tag; keys must be strings, values strings or numbers.
int CollectOptions(vlVMState* L, int table, vlPluginTag** tags) {
  vlPluginTag** tail = tags;
  vl::PushNil(L);
  while (vl::NextTableEntry(L, table)) {
    if (vl::GetTypeAt(L, -2) != VL_TSTRING) return ERR_STRINGEXPECTED;
    const char* key = vl::ToStringAt(L, -2);
    bool own = !CompareNoCase(key, "version") || !CompareNoCase(key, "revision") ||
               !CompareNoCase(key, "skiprequire");
    if (!own) {
      int status;
      if (vl::GetTypeAt(L, -1) == VL_TNUMBER)
        status = AppendOption(&tail, key, nullptr, vl::ToNumberAt(L, -1));
      else if (vl::GetTypeAt(L, -1) == VL_TSTRING)
        status = AppendOption(&tail, key, vl::ToStringAt(L, -1), 0);
      else
        status = ERR_WRONGUSAGE;
      if (status) return status;
    }
    vl::SetStackTop(L, -2);
  }
  return 0;
}

vlPlugin* FindLoadedByName(const char* name) {
  std::string wanted = WithoutVlp(name);
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    if (!p->handle) continue;
    if (CompareNoCase(WithoutVlp(p->name).c_str(), wanted.c_str()) == 0) return p;
  }
  return nullptr;
}

int SetDisabled(vlVMState* L, uint32_t flag) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  vlPlugin* p = FindLoadedByName(name);
  if (!p || !p->handle->info) {
    SetErrorArgument(name);
    return ERR_FINDPLUGIN;
  }
  p->handle->info->disabled = flag;
  return 0;
}

void SetText(vlVMState* L, const char* key, const char* text) { SetTableString(L, key, text ? text : ""); }

}  // namespace

int CmdLoadPlugin(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  int32_t version = 0, revision = 0;
  int skipRequire = 0;
  vlPluginTag* tags = nullptr;
  if (vl::GetTypeAt(L, 2) > VL_TNIL) {
    vl::CheckTableArg(L, 2);
    GetTableInt(L, 2, "version", &version, nullptr);
    GetTableInt(L, 2, "revision", &revision, nullptr);
    GetTableBool(L, 2, "skiprequire", &skipRequire, nullptr);
    if (int status = CollectOptions(L, 2, &tags)) {
      FreePluginTags(tags);
      return status;
    }
  }
  // A bare file name means a file in the current directory, not a library
  // the dynamic loader would look for on its search path.
  std::string path = name;
  if (path.find('/') == std::string::npos) path = "./" + path;
  vlPlugin* node = nullptr;
  int status = LoadPluginFile(path.c_str(), 1, &node);
  if (status == ERR_USERABORT) {
    std::string shown = FilePart(path.c_str());
    if (!EndsWithVlp(shown)) shown += ".vlp";
    SetErrorArgument(shown.c_str());
    status = ERR_PLUGINDOUBLET;
  }
  if (!status) status = RegisterPluginFormats(L, node);
  if (!status) {
    // Skipping the require step: the flag says it has run, for this call only.
    uint32_t required = node->required;
    if (skipRequire) node->required = 1;
    uint32_t flags = 0;
    status = ActivatePlugin(L, node->handle->info->moduleName, version, revision, 0, 0, tags, &flags);
    if (skipRequire) node->required = required;
  }
  FreePluginTags(tags);
  return status;
}

int CmdHavePlugin(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  std::string name = vl::CheckStringArg(L, 1, nullptr);
  int32_t version = vl::OptIntArg(L, 2, 0);
  int32_t revision = vl::OptIntArg(L, 3, 0);
  if (!EndsWithVlp(name)) name += ".vlp";
  int found = 0;
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    if (!p->handle || CompareNoCase(p->name, name.c_str()) != 0) continue;
    const vlPluginInfo* info = p->handle->info;
    if (info && (info->version > version || (info->version == version && info->revision >= revision))) found = 1;
    break;
  }
  vl::PushNumber(L, found);
  vl::PushNumber(L, found);
  return 2;
}

int CmdEnablePlugin(vlVMState* L) { return SetDisabled(L, 0); }
int CmdDisablePlugin(vlVMState* L) { return SetDisabled(L, 1); }

void PushPluginTable(vlVMState* L) {
  vl::PushNewTable(L);
  int n = 0;
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    const vlPluginInfo* info = p->handle ? p->handle->info : nullptr;
    if (!info) continue;
    vl::PushNewTable(L);
    SetTableInt(L, "version", info->version);
    SetTableInt(L, "revision", info->revision);
    SetTableUnsigned(L, "capabilities", info->capabilities);
    SetText(L, "name", info->name);
    SetText(L, "modulename", info->moduleName);
    SetText(L, "author", info->author);
    SetText(L, "description", info->description);
    SetText(L, "copyright", info->copyright);
    SetText(L, "url", info->url);
    SetText(L, "date", info->date);
    SetText(L, "settings", info->settings);
    SetText(L, "helpfile", info->helpFile);
    SetTableUnsigned(L, "disabled", info->disabled);
    SetText(L, "path", p->path);
    vl::PushString(L, "filetypes");
    vl::PushNewTable(L);
    int k = 0;
    for (const vlPluginFileType* t = info->fileTypes; t; t = t->next) {
      vl::PushNewTable(L);
      SetTableUnsigned(L, "type", t->type);
      SetText(L, "name", t->name);
      SetText(L, "extensions", t->extensions);
      SetText(L, "mimetype", t->mimeType);
      SetTableUnsigned(L, "formatid", t->formatId);
      SetTableUnsigned(L, "flags", t->flags);
      vl::RawSetTableIndex(L, -2, k++);
    }
    vl::RawSetTableValue(L, -3);
    vl::RawSetTableIndex(L, -2, n++);
  }
}

int CmdGetPlugins(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  PushPluginTable(L);
  return 1;
}
