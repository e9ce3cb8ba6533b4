// The string command library: byte-string cutting, searching and
// conversion, patterns, the expression evaluator, the formatter and the
// checksum and Base64 commands.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/argreaders.h"
#include "vm/convert.h"

// Registers the commands under the library name "string"; 0 or 1000.
int OpenStringLib(vlVMState* state);

// First occurrence of needle in buffer, comparing through the lower-case
// table; null when there is none or the needle is empty.
const char* FindMemNoCase(const char* buffer, const char* needle, size_t bufferLength,
                          size_t needleLength);

// Numeric arguments of the string commands truncate toward zero.
inline int32_t StringIntArg(vlVMState* state, int index) { return vl::DoubleToInt32(vl::CheckNumberArg(state, index)); }
// A missing argument gives def.
int32_t ReadOptStringIntArg(vlVMState* state, int index, int32_t def);
inline int32_t OptStringIntArg(vlVMState* state, int index, int32_t def) {
  if (vl::HasArg(state, index)) {
    const vlValue* o = state->base + (index - 1);
    if (o->tag == VL_TNUMBER) return vl::DoubleToInt32(o->v.n);
  } else if (index > 0 && index - 1 <= state->stackLast - state->base) {
    return def;
  }
  return ReadOptStringIntArg(state, index, def);
}

// Cutting and searching
int CmdLowerStr(vlVMState* state);
int CmdUpperStr(vlVMState* state);
int CmdUnrightStr(vlVMState* state);
int CmdUnleftStr(vlVMState* state);
int CmdChr(vlVMState* state);
int CmdMidStr(vlVMState* state);
int CmdRightStr(vlVMState* state);
int CmdLeftStr(vlVMState* state);
int CmdFindStr(vlVMState* state);
int CmdAddStr(vlVMState* state);
int CmdAsc(vlVMState* state);
int CmdStrLen(vlVMState* state);
int CmdReplaceStr(vlVMState* state);
int CmdTrimStr(vlVMState* state);
int CmdUnmidStr(vlVMState* state);
int CmdCountStr(vlVMState* state);
int CmdInsertStr(vlVMState* state);
int CmdRepeatStr(vlVMState* state);

// Conversions between strings, numbers, tables and other values
int CmdVal(vlVMState* state);
int CmdStrStr(vlVMState* state);
int CmdHexStr(vlVMState* state);
int CmdBinStr(vlVMState* state);
int CmdSplitStr(vlVMState* state);
int CmdPadNum(vlVMState* state);
int CmdStrToArray(vlVMState* state);
int CmdArrayToStr(vlVMState* state);
int CmdToString(vlVMState* state);
int CmdToNumber(vlVMState* state);
int CmdToUserData(vlVMState* state);

// Checksums and Base64 over strings
int CmdMD5Str(vlVMState* state);
int CmdCRC32Str(vlVMState* state);
int CmdBase64Str(vlVMState* state);

// Patterns, expressions and formatting
int CmdPatternFindStr(vlVMState* state);
int CmdPatternReplaceStr(vlVMState* state);
int CmdPatternFindStrDirect(vlVMState* state);
int CmdPatternFindStrShort(vlVMState* state);
int CmdEval(vlVMState* state);
int CmdFormatStr(vlVMState* state);
