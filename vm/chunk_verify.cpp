// The code verifier: the one guard between an untrusted chunk and an
// interpreter that indexes registers, constants and upvalues unchecked. Run
// symbolically it also finds the instruction that last set a register.
// Depends on the prototype record and the opcode table.
#include <cstdint>

#include "vm/chunk.h"
#include "vm/opcodes.h"

namespace vl {
namespace {

constexpr int kNoRegister = -1;
// Largest array and hash sizes a table constructor may ask for.
constexpr uint64_t kMaxNewTableArray = uint64_t{1} << 24;
constexpr uint32_t kMaxNewTableHashLog = 24;

bool ValidRK(const vlFuncProto* p, uint32_t operand) {
  if (operand < p->maxstacksize) return true;
  return operand >= kRKConst && operand - kRKConst < static_cast<uint32_t>(p->sizek);
}

bool InsideCode(const vlFuncProto* p, int64_t target) { return target >= 0 && target < p->sizecode; }

// Records where and why the code was refused (for tools that name the
// line); always false.
bool Broken(vlCodeFault* fault, int pc, const char* rule) {
  if (fault) {
    fault->pc = pc;
    fault->rule = rule;
  }
  return false;
}

// Walks code[0 .. lastpc) checking every instruction. With a register given,
// follows forward jumps that stay below lastpc and records which pc last
// set that register. Returns false on the first broken rule, described in
// *fault when given.
bool Walk(const vlFuncProto* p, int lastpc, int reg, int* setter, vlCodeFault* fault) {
  const uint32_t maxStack = p->maxstacksize;
  const int n = p->sizecode;
  int last = -1;
  if (maxStack > static_cast<uint32_t>(kMaxRegisters)) return Broken(fault, -1, "the stack size is above the register limit");
  if (p->numparams + (p->isVararg ? 1u : 0u) > maxStack) return Broken(fault, -1, "the parameters do not fit in the stack size");
  if (p->sizelineinfo != 0 && p->sizelineinfo != n) return Broken(fault, -1, "the line table does not have one entry per instruction");
  if (n == 0 || GetOp(p->code[n - 1]) != OP_RETURN) return Broken(fault, -1, "the code does not end with a return");
  for (int pc = 0; pc < lastpc; ++pc) {
    const uint32_t i = p->code[pc];
    const uint32_t op = GetOp(i);
    if (op >= static_cast<uint32_t>(kNumOpcodes)) return Broken(fault, pc, "unknown opcode");
    const uint32_t fmt = kOpFormat[op];
    const uint32_t a = GetA(i), b = GetB(i), c = GetC(i), bx = GetBx(i);
    if (op != OP_JUMP && a >= maxStack) return Broken(fault, pc, "register A is beyond the stack size");
    if ((fmt & OPF_B_REG) && b >= maxStack) return Broken(fault, pc, "register B is beyond the stack size");
    if ((fmt & OPF_B_RK) && !ValidRK(p, b)) return Broken(fault, pc, "operand B names no register or constant");
    if ((fmt & OPF_C_RK) && !ValidRK(p, c)) return Broken(fault, pc, "operand C names no register or constant");
    if ((fmt & OPF_BX_CONST) && bx >= static_cast<uint32_t>(p->sizek)) return Broken(fault, pc, "the constant index is beyond the constants");
    if (fmt & OPF_NEXT_JUMP) {
      if (pc + 2 >= n || GetOp(p->code[pc + 1]) != OP_JUMP) return Broken(fault, pc, "a comparison or test must be followed by a jump");
    }
    if ((fmt & OPF_SETS_A) && static_cast<int>(a) == reg) last = pc;
    switch (op) {
      case OP_LOADNUM:
        if (c != 0 && pc + 2 >= n) return Broken(fault, pc, "the skipped instruction lies past the end of the code");
        break;
      case OP_LOADNIL:
        if (reg != kNoRegister && static_cast<uint32_t>(reg) >= a && static_cast<uint32_t>(reg) <= b) last = pc;
        break;
      case OP_GETUPVAL:
      case OP_SETUPVAL:
        if (b >= p->nups) return Broken(fault, pc, "the upvalue index is beyond the function's upvalues");
        break;
      case OP_GETGLOBAL:
      case OP_SETGLOBAL:
        if (p->k[bx].tag != VL_TSTRING) return Broken(fault, pc, "a global's name must be a string constant");
        break;
      case OP_NEWTABLE: {
        const uint32_t shift = b >> 3;
        if ((b & 7) != 0 && (shift > 24 || (uint64_t{b & 7} << shift) > kMaxNewTableArray)) return Broken(fault, pc, "the table's array size is too large");
        if (c > kMaxNewTableHashLog) return Broken(fault, pc, "the table's hash size is too large");
        break;
      }
      case OP_CONCAT:
        if (!(b < c && c <= static_cast<uint32_t>(kMaxRegisters) - 1)) return Broken(fault, pc, "the concatenated registers are out of order or range");
        break;
      case OP_JUMP: {
        const int64_t target = int64_t{pc} + 1 + GetSJ(i);
        if (!InsideCode(p, target)) return Broken(fault, pc, "the jump target lies outside the code");
        // Symbolically, code skipped by a forward jump never ran.
        if (reg != kNoRegister && GetJumpFlags(i) != kJumpFlagGosub && target > pc && target <= lastpc)
          pc = static_cast<int>(target) - 1;
        break;
      }
      case OP_FORLOOP:
      case OP_ITERPREP:
        if (!InsideCode(p, int64_t{pc} + 1 + GetSBx(i))) return Broken(fault, pc, "the loop target lies outside the code");
        if (a + (op == OP_FORLOOP ? 2 : 1) >= maxStack) return Broken(fault, pc, "the loop registers are beyond the stack size");
        break;
      case OP_ITERLOOP:
        // The call sits at R(A+C+3) .. R(A+C+5) and its C results land
        // from R(A+C+3) on before they are moved down: both in the frame.
        if (a + c + 3 + (c > 3 ? c : 3) > maxStack) return Broken(fault, pc, "the iterator registers are beyond the stack size");
        break;
      case OP_CALL:
      case OP_TAILCALL:
        if (b != 0 && a + b > maxStack) return Broken(fault, pc, "the call's arguments are beyond the stack size");
        if (c >= 2 && a + c - 1 > maxStack) return Broken(fault, pc, "the call's results are beyond the stack size");
        if (c == 0) {
          if (pc + 1 >= n) return Broken(fault, pc, "a call keeping every result must be followed by an instruction taking them");
          const uint32_t next = p->code[pc + 1];
          const uint32_t nop = GetOp(next);
          const bool takesAll = ((nop == OP_CALL || nop == OP_TAILCALL || nop == OP_RETURN) && GetB(next) == 0) ||
                                nop == OP_SETLISTTOP;
          if (!takesAll) return Broken(fault, pc, "a call keeping every result must be followed by a call, return or setlisttop taking them");
        }
        if (reg != kNoRegister && static_cast<uint32_t>(reg) >= a) last = pc;
        break;
      case OP_RETURN:
        // Every return but the gosub return (C = 1) hands back R(A) ..
        if (c != 1 && b >= 2 && a + b - 1 > maxStack) return Broken(fault, pc, "the returned registers are beyond the stack size");
        break;
      case OP_SETLIST:
        if (a + (bx & 31) + 1 >= maxStack) return Broken(fault, pc, "the list registers are beyond the stack size");
        break;
      case OP_CLOSURE: {
        if (bx >= static_cast<uint32_t>(p->sizep)) return Broken(fault, pc, "the closure names no nested function");
        const int ups = p->p[bx]->nups;
        if (pc + ups >= n) return Broken(fault, pc, "the closure's capture instructions run past the end of the code");
        for (int j = 1; j <= ups; ++j) {
          const uint32_t cop = GetOp(p->code[pc + j]);
          if (cop != OP_COPY && cop != OP_GETUPVAL) return Broken(fault, pc, "a closure must be followed by one copy or getupval per upvalue");
        }
        break;
      }
      case OP_METHOD:
        if (a + 1 >= maxStack) return Broken(fault, pc, "the method registers are beyond the stack size");
        if (reg != kNoRegister && static_cast<uint32_t>(reg) == a + 1) last = pc;
        break;
      default:
        break;
    }
  }
  if (setter) *setter = last;
  return true;
}

}  // namespace

bool VerifyCode(const vlFuncProto* p, vlCodeFault* fault) { return Walk(p, p->sizecode, kNoRegister, nullptr, fault); }

int LastSetterPc(const vlFuncProto* p, int lastpc, int reg) {
  if (lastpc < 0 || lastpc > p->sizecode || reg < 0) return -1;
  int setter = -1;
  return Walk(p, lastpc, reg, &setter, nullptr) ? setter : -1;
}

}  // namespace vl
