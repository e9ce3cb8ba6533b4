// Helpers built only on the stack interface that every command library and
// plug-in shares: a string builder, references that keep script values
// alive from native code, named metatables for typed userdata, callback
// result readers, metafield calls and command registration.
#pragma once
#include <cstddef>
#include <cstdint>

#include "abi/plugin_abi.h"
#include "vm/object.h"
#include "vm/stack_api.h"
#include "vm/vmstring.h"

inline constexpr size_t kStrBufSize = VL_STRBUF_SIZE;

namespace vl {

inline void InitStrBuf(vlVMState* state, vlStrBuf* b) {
  b->state = state;
  b->p = b->buffer;
  b->pieces = 0;
}
char* PrepStrBuf(vlStrBuf* b);
// The general ways of the two below: the block fills up, pieces wait on
// the stack.
void AddBytesToFullStrBuf(vlStrBuf* b, const char* bytes, size_t length);
void PushStrBufPieces(vlStrBuf* b);
// Most results fit the block: those take no call.
inline void AddBytesToStrBuf(vlStrBuf* b, const char* bytes, size_t length) {
  if (length > kStrBufSize - static_cast<size_t>(b->p - b->buffer)) {
    AddBytesToFullStrBuf(b, bytes, length);
    return;
  }
  CopyBytes(b->p, bytes, length);
  b->p += length;
}
inline void PushStrBufResult(vlStrBuf* b) {
  if (b->pieces != 0) {
    PushStrBufPieces(b);
    return;
  }
  PushBytes(b->state, b->buffer, static_cast<size_t>(b->p - b->buffer));
  b->p = b->buffer;
  b->pieces = 1;
}
void AddStringToStrBuf(vlStrBuf* b, const char* text);
void AddTopToStrBuf(vlStrBuf* b);

// References: CreateRef pops the top value into the table at t and returns
// its reference (3 and up; -1 for nil). ReleaseRef frees one.
int CreateRef(vlVMState* state, int t);
void ReleaseRef(vlVMState* state, int t, int ref);
// The highest reference handed out by a reference table.
int GetArraySize(vlVMState* state, int t);
void SetArraySize(vlVMState* state, int t, int n);

int NewNamedMetatable(vlVMState* state, const char* name);
void PushNamedMetatable(vlVMState* state, const char* name);
void* ToNamedUserdataAt(vlVMState* state, int index, const char* name);

// Index of name in a null-terminated list (case-sensitive), -1 when absent.
int FindNameInList(const char* name, const char* const* list);

int PushMetaField(vlVMState* state, int index, const char* field);
int CallMetaField(vlVMState* state, int index, const char* field);

double GetCallbackNumber(vlVMState* state, int index, int* code);
const char* GetCallbackString(vlVMState* state, int index, size_t* length, int* code);

// Installs the commands of a null-terminated list under lower-cased names,
// each a native closure over copies of the nup values on the stack top.
int RegisterCommands(vlVMState* state, const char* libraryName, const vlCommand* list, int nup);

// Keeps the string at index reachable until the next call, for readers
// that hand out the text of a value they pop (a converted number).
void KeepStringAlive(vlVMState* state, int index);

}  // namespace vl
