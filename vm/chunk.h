// Compiled chunks: loading them through a reader callback, verifying the
// code of every loaded function, and writing a script function back out.
#pragma once
#include <cstddef>

#include "vm/state.h"

// Hands the loader its next block of input: null or a size of 0 ends the
// input. The state argument is always null.
typedef const char* (*vlChunkReader)(vlVMState* L, void* data, size_t* size);
// Receives the bytes of a written chunk; its result is ignored.
typedef int (*vlChunkWriter)(vlVMState* L, const void* bytes, size_t size, void* data);

namespace vl {

inline constexpr size_t kChunkHeaderSize = 21;
// Deepest nesting of function records a chunk may have.
inline constexpr int kMaxChunkNesting = 200;

// Why the code of a function was refused: the function (counted from 0 in
// the order their records end in the chunk: nested ones before the one
// holding them), the instruction (-1 for the function as a whole) and the
// rule it breaks.
struct vlCodeFault {
  int function = -1;
  int pc = -1;
  const char* rule = nullptr;
};

// Loads one chunk; on success pushes a script closure (the thread's
// globals; a main function that expects upvalues gets its own, each nil)
// and returns 0. Every failure is returned as its error
// code with the stack as it was; refused code is described in *fault when
// given. The name only identifies the load.
int LoadChunk(vlVMState* L, vlChunkReader reader, void* data, const char* chunkName, vlCodeFault* fault = nullptr);

// Writes the script function at stack index idx as a little-endian chunk;
// 1324 when the value there is not a script function.
int DumpFunction(vlVMState* L, int idx, vlChunkWriter writer, void* data);

// True when the code of p may run: registers, constants, upvalues, nested
// functions and jump targets it names all exist. Otherwise the pc and rule
// go to *fault when given.
bool VerifyCode(const vlFuncProto* p, vlCodeFault* fault = nullptr);

// The same walk run symbolically up to (not including) lastpc: the pc of
// the instruction that last set register reg, or -1 when none did or the
// code is invalid.
int LastSetterPc(const vlFuncProto* p, int lastpc, int reg);

}  // namespace vl
