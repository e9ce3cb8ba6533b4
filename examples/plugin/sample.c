/* A command-library plug-in written in C: the smallest complete example of
 * the plug-in interface. Built as sample.vlp (the module name must equal the
 * file name), it gives scripts
 *
 *   sample.repeat(text, [count]) -> text written count times (once when
 *                                  count is left out or nil)
 *   sample.calls()              -> how many commands of the library ran
 *
 * and the constant SAMPLE_MAXCOUNT. The player loads it from its own
 * directory, or a script asks for it by name. */
#include <stddef.h>
#include <string.h>

#include "abi/plugin_abi.h"

#define SAMPLE_EXPORT __attribute__((visibility("default")))
/* The player's error code for an argument value a command cannot use. */
#define SAMPLE_ERR_WRONGUSAGE 1055
#define SAMPLE_MAXCOUNT 1000

static const vlServiceTable* services;
static double calls;

/* Every argument is read and every result pushed through the VM table; a
 * bad argument raises the script error at once and does not return. */
static int Repeat(vlVMState* state) {
  const vlPluginVMTable* vm = services->vm;
  size_t length = 0;
  const char* text = vm->CheckStringArg(state, 1, &length);
  int32_t count = vm->GetTypeAt(state, 2) <= VL_TYPE_NIL ? 1 : vm->CheckIntArg(state, 2);
  vlStrBuf buffer;
  int32_t i;
  calls += 1;
  if (count < 0 || count > SAMPLE_MAXCOUNT) return SAMPLE_ERR_WRONGUSAGE;
  vm->InitStrBuf(state, &buffer);
  for (i = 0; i < count; ++i) vm->AddBytesToStrBuf(&buffer, text, length);
  vm->PushStrBufResult(&buffer);
  return 1;
}

static int Calls(vlVMState* state) {
  calls += 1;
  services->vm->PushNumber(state, calls);
  return 1;
}

static const vlCommand commands[] = {
    {"Repeat", Repeat},
    {"Calls", Calls},
    {NULL, NULL},
};

static const vlConstant constants[] = {
    {"SAMPLE_MAXCOUNT", NULL, SAMPLE_MAXCOUNT},
    {NULL, NULL, 0},
};

SAMPLE_EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* table, const char* path, void* handle) {
  (void)path;
  (void)handle;
  services = table;
  info->capabilities = PLUGINCAPS_LIBRARY;
  info->version = 1;
  info->revision = 0;
  info->programVersion = 6; /* runs on every 6.x player */
  info->programRevision = 0;
  info->name = "Sample";
  info->moduleName = "sample";
  info->author = "The Vellamora developers";
  info->description = "A command library written in C";
  return 1;
}

SAMPLE_EXPORT void ClosePlugin(void) { services = NULL; }

SAMPLE_EXPORT const char* GetBaseTable(void) { return "sample"; }
SAMPLE_EXPORT const vlCommand* GetCommands(void) { return commands; }
SAMPLE_EXPORT const vlConstant* GetConstants(void) { return constants; }

SAMPLE_EXPORT int InitLibrary(vlVMState* state) {
  (void)state;
  calls = 0;
  return 0;
}

SAMPLE_EXPORT void FreeLibrary(vlVMState* state) { (void)state; }

/* Each entry as the type the player calls it through: a signature that
 * drifts from the plug-in header fails to build. */
__attribute__((unused)) static void CheckEntryTypes(vlPluginInfo* info) {
  info->InitPlugin = InitPlugin;
  info->ClosePlugin = ClosePlugin;
  info->GetBaseTable = GetBaseTable;
  info->GetCommands = GetCommands;
  info->GetConstants = GetConstants;
  info->InitLibrary = InitLibrary;
  info->FreeLibrary = FreeLibrary;
}
