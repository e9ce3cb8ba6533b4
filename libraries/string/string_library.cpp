// Opening the string library: its command table, and the Eval and
// FormatStr commands that feed the evaluator and the formatter from the
// VM's stack. Depends on the command and library registries.
#include "libraries/string/string_library.h"

#include <cstring>
#include <string>
#include <vector>

#include "libraries/string/string_eval.h"
#include "libraries/string/string_format.h"
#include "runtime/error_vm.h"
#include "runtime/objects.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/vmstring.h"

namespace {

const vlCommand kStringCommands[] = {
    {"LowerStr", CmdLowerStr},
    {"UpperStr", CmdUpperStr},
    {"Val", CmdVal},
    {"StrStr", CmdStrStr},
    {"UnrightStr", CmdUnrightStr},
    {"UnleftStr", CmdUnleftStr},
    {"Chr", CmdChr},
    {"MidStr", CmdMidStr},
    {"RightStr", CmdRightStr},
    {"LeftStr", CmdLeftStr},
    {"FindStr", CmdFindStr},
    {"AddStr", CmdAddStr},
    {"HexStr", CmdHexStr},
    {"Asc", CmdAsc},
    {"StrLen", CmdStrLen},
    {"ReplaceStr", CmdReplaceStr},
    {"BinStr", CmdBinStr},
    {"SplitStr", CmdSplitStr},
    {"PadNum", CmdPadNum},
    {"StrToArray", CmdStrToArray},
    {"TrimStr", CmdTrimStr},
    {"ToString", CmdToString},
    {"ToNumber", CmdToNumber},
    {"UnmidStr", CmdUnmidStr},
    {"CountStr", CmdCountStr},
    {"InsertStr", CmdInsertStr},
    {"RepeatStr", CmdRepeatStr},
    {"MD5Str", CmdMD5Str},
    {"CRC32Str", CmdCRC32Str},
    {"FormatStr", CmdFormatStr},
    {"PatternFindStr", CmdPatternFindStr},
    {"PatternReplaceStr", CmdPatternReplaceStr},
    {"Eval", CmdEval},
    {"PatternFindStrDirect", CmdPatternFindStrDirect},
    {"PatternFindStrShort", CmdPatternFindStrShort},
    {"ArrayToStr", CmdArrayToStr},
    {"Base64Str", CmdBase64Str},
    {"ToUserData", CmdToUserData},
    {nullptr, nullptr}};

// Reads the "variables" list of Eval's options at stack index options into
// names (NUL-separated) and values. 0 or 1055.
int ReadEvalVariables(vlVMState* L, int options, std::string* names, std::vector<double>* values) {
  vl::PushString(L, "variables");
  vl::GetTableValue(L, options);
  int list = vl::GetStackTop(L);
  int kind = vl::GetTypeAt(L, list);
  if (kind == VL_TNIL) return 0;
  if (kind != VL_TTABLE) return ERR_WRONGUSAGE;
  for (int i = 0;; ++i) {
    vl::RawGetTableIndex(L, list, i);
    int entry = vl::GetStackTop(L);
    if (vl::GetTypeAt(L, entry) == VL_TNIL) break;
    if (vl::GetTypeAt(L, entry) != VL_TTABLE) return ERR_WRONGUSAGE;
    vl::PushString(L, "name");
    vl::GetTableValue(L, entry);
    bool named = vl::GetTypeAt(L, -1) != VL_TNIL;
    vl::SetStackTop(L, -2);
    if (!named) return ERR_WRONGUSAGE;
    size_t length;
    const char* name = vl::CheckStringField(L, entry, &length, "name");
    if (!IsEvalVariableName(name, length)) return ERR_WRONGUSAGE;
    names->append(name, length);
    names->push_back('\0');
    values->push_back(vl::CheckNumberField(L, entry, "value"));
    vl::SetStackTop(L, entry - 1);
  }
  return 0;
}

// The arguments of FormatStr, read in place. The output collects apart
// from the VM stack, whose slots above the arguments must stay empty for
// the readers to see a missing argument.
struct FormatArgs {
  vlVMState* L;
  double Number(int index) { return vl::CheckNumberArg(L, index); }
  int32_t Integer(int index) { return vl::CheckIntArg(L, index); }
  const char* String(int index, size_t* length) { return vl::CheckStringArg(L, index, length); }
};

}  // namespace

int OpenStringLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kStringCommands, 0);
  vl::SetStackTop(L, -2);
  return RegisterLibrary(kStringCommands, "string");
}

int CmdEval(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  size_t length;
  const char* text = vl::CheckStringArg(L, 1, &length);
  std::string names;
  std::vector<double> values;
  if (vl::GetTypeAt(L, 2) > VL_TNIL) {
    vl::CheckTableArg(L, 2);
    if (int status = ReadEvalVariables(L, 2, &names, &values)) return status;
  }
  vlEvalVariables variables{names.c_str(), values.data(), values.size()};
  double result = 0;
  if (int status = EvaluateExpression(text, length, &variables, &result)) return status;
  vl::PushNumber(L, result);
  return 1;
}

int CmdFormatStr(vlVMState* L) {
  CheckArgs(L, 1, 0, 0, 0);
  size_t length;
  const char* format = vl::CheckStringArg(L, 1, &length);
  vlFormatBuffer out;
  FormatArgs args{L};
  if (int status = FormatWith(format, length, args, out)) return status;
  vl::PushBytes(L, out.Data(), out.Size());
  return 1;
}
