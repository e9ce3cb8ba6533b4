// File-name arguments, the published start-up records and calls of script
// commands by name. Depends on the VM's stack interface, argument readers
// and registry values, and on the linked-file table.
#include "runtime/script_call.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "runtime/linked_files.h"
#include "runtime/object_data.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

const char* GetFileNameArg(vlVMState* state, int index, int fontMode, int* isFontOut) {
  const char* name = vl::CheckStringArg(state, index, nullptr);
  return ResolveLinkedFile(state, name, fontMode, isFontOut);
}

vlAppletInfo* GetAppletRecord(vlVMState* state) {
  return state ? static_cast<vlAppletInfo*>(vl::GetRegistryPointer(state, "applet")) : nullptr;
}

vlStartupRecord* GetCmdArgsRecord(vlVMState* state) {
  return state ? static_cast<vlStartupRecord*>(vl::GetRegistryPointer(state, "clargs")) : nullptr;
}

int CallScriptCommand(vlVMState* state, const char* commandName, int results, int argCount, ...) {
  // Commands are registered in lower case.
  std::string name(commandName ? commandName : "");
  LowerCaseString(name.data());
  if (argCount < 0 || !vl::EnsureStackSpace(state, argCount + 1)) return ERR_STACK;
  vl::PushString(state, name.c_str());
  vl::GetTableValue(state, vl::kGlobalsIndex);
  va_list ap;
  va_start(ap, argCount);
  for (int i = 0; i < argCount; ++i) {
    switch (va_arg(ap, int)) {
      case VL_CALLARG_INT: vl::PushNumber(state, va_arg(ap, int)); break;
      case VL_CALLARG_UNSIGNED: vl::PushNumber(state, va_arg(ap, unsigned int)); break;
      case VL_CALLARG_TEXT: vl::PushString(state, va_arg(ap, const char*)); break;
      case VL_CALLARG_POINTER: vl::PushPointer(state, va_arg(ap, void*)); break;
      case VL_CALLARG_OBJECTID: {
        const vlObjectId* id = va_arg(ap, const vlObjectId*);
        if (id) PushObjectID(state, *id);
        else vl::PushNil(state);
        break;
      }
      default:
        va_arg(ap, void*);
        vl::PushNil(state);
        break;
    }
  }
  va_end(ap);
  vl::CallFunction(state, argCount, results);
  return 0;
}

int JoinArgsAsText(vlVMState* L, int n) {
  vl::PushString(L, "tostring");
  vl::GetTableValue(L, vl::kGlobalsIndex);  // at n + 1
  bool haveToString = vl::GetTypeAt(L, n + 1) == VL_TFUNCTION;
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  for (int i = 1; i <= n; ++i) {
    if (i > 1) vl::AddStringToStrBuf(&b, " ");
    if (haveToString) {
      vl::PushSlotCopy(L, n + 1);
      vl::PushSlotCopy(L, i);
      vl::CallFunction(L, 1, 1);
    } else if (vl::IsStringAt(L, i) || vl::GetTypeAt(L, i) == VL_TNIL) {
      // Without a "tostring" numbers and strings print as their text.
      vl::PushSlotCopy(L, i);
      if (vl::GetTypeAt(L, -1) == VL_TNIL) {
        vl::SetStackTop(L, -2);
        vl::PushString(L, "Nil");
      }
    } else {
      char text[64];
      std::snprintf(text, sizeof text, "%s: %p", vl::GetTypeName(L, vl::GetTypeAt(L, i)),
                    vl::ToPointerAt(L, i));
      vl::PushString(L, text);
    }
    if (!vl::IsStringAt(L, -1)) return ERR_STRINGEXPECTED;
    vl::AddTopToStrBuf(&b);
  }
  vl::PushStrBufResult(&b);
  return 0;
}
