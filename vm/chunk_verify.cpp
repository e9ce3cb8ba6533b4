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

// Walks code[0 .. lastpc) checking every instruction. With a register given,
// follows forward jumps that stay below lastpc and records which pc last
// set that register. Returns false on the first broken rule.
bool Walk(const vlFuncProto* p, int lastpc, int reg, int* setter) {
  const uint32_t maxStack = p->maxstacksize;
  const int n = p->sizecode;
  int last = -1;
  if (maxStack > static_cast<uint32_t>(kMaxRegisters)) return false;
  if (p->numparams + (p->isVararg ? 1u : 0u) > maxStack) return false;
  if (p->sizelineinfo != 0 && p->sizelineinfo != n) return false;
  if (n == 0 || GetOp(p->code[n - 1]) != OP_RETURN) return false;
  for (int pc = 0; pc < lastpc; ++pc) {
    const uint32_t i = p->code[pc];
    const uint32_t op = GetOp(i);
    if (op >= static_cast<uint32_t>(kNumOpcodes)) return false;
    const uint32_t fmt = kOpFormat[op];
    const uint32_t a = GetA(i), b = GetB(i), c = GetC(i), bx = GetBx(i);
    if (op != OP_JUMP && a >= maxStack) return false;
    if ((fmt & OPF_B_REG) && b >= maxStack) return false;
    if ((fmt & OPF_B_RK) && !ValidRK(p, b)) return false;
    if ((fmt & OPF_C_RK) && !ValidRK(p, c)) return false;
    if ((fmt & OPF_BX_CONST) && bx >= static_cast<uint32_t>(p->sizek)) return false;
    if (fmt & OPF_NEXT_JUMP) {
      if (pc + 2 >= n || GetOp(p->code[pc + 1]) != OP_JUMP) return false;
    }
    if ((fmt & OPF_SETS_A) && static_cast<int>(a) == reg) last = pc;
    switch (op) {
      case OP_LOADNUM:
        if (c != 0 && pc + 2 >= n) return false;
        break;
      case OP_LOADNIL:
        if (reg != kNoRegister && static_cast<uint32_t>(reg) >= a && static_cast<uint32_t>(reg) <= b) last = pc;
        break;
      case OP_GETUPVAL:
      case OP_SETUPVAL:
        if (b >= p->nups) return false;
        break;
      case OP_GETGLOBAL:
      case OP_SETGLOBAL:
        if (p->k[bx].tag != VL_TSTRING) return false;
        break;
      case OP_NEWTABLE: {
        const uint32_t shift = b >> 3;
        if ((b & 7) != 0 && (shift > 24 || (uint64_t{b & 7} << shift) > kMaxNewTableArray)) return false;
        if (c > kMaxNewTableHashLog) return false;
        break;
      }
      case OP_CONCAT:
        if (!(b < c && c <= static_cast<uint32_t>(kMaxRegisters) - 1)) return false;
        break;
      case OP_JUMP: {
        const int64_t target = int64_t{pc} + 1 + GetSJ(i);
        if (!InsideCode(p, target)) return false;
        // Symbolically, code skipped by a forward jump never ran.
        if (reg != kNoRegister && GetJumpFlags(i) != kJumpFlagGosub && target > pc && target <= lastpc)
          pc = static_cast<int>(target) - 1;
        break;
      }
      case OP_FORLOOP:
      case OP_ITERPREP:
        if (!InsideCode(p, int64_t{pc} + 1 + GetSBx(i))) return false;
        if (a + (op == OP_FORLOOP ? 2 : 1) >= maxStack) return false;
        break;
      case OP_ITERLOOP:
        if (a + c + 5 >= maxStack) return false;
        break;
      case OP_CALL:
      case OP_TAILCALL:
        if (b != 0 && a + b > maxStack) return false;
        if (c >= 2 && a + c - 1 > maxStack) return false;
        if (c == 0) {
          if (pc + 1 >= n) return false;
          const uint32_t next = p->code[pc + 1];
          const uint32_t nop = GetOp(next);
          const bool takesAll = ((nop == OP_CALL || nop == OP_TAILCALL || nop == OP_RETURN) && GetB(next) == 0) ||
                                nop == OP_SETLISTTOP;
          if (!takesAll) return false;
        }
        if (reg != kNoRegister && static_cast<uint32_t>(reg) >= a) last = pc;
        break;
      case OP_RETURN:
        // Every return but the gosub return (C = 1) hands back R(A) ..
        if (c != 1 && b >= 2 && a + b - 1 > maxStack) return false;
        break;
      case OP_SETLIST:
        if (a + (bx & 31) + 1 >= maxStack) return false;
        break;
      case OP_CLOSURE: {
        if (bx >= static_cast<uint32_t>(p->sizep)) return false;
        const int ups = p->p[bx]->nups;
        if (pc + ups >= n) return false;
        for (int j = 1; j <= ups; ++j) {
          const uint32_t cop = GetOp(p->code[pc + j]);
          if (cop != OP_COPY && cop != OP_GETUPVAL) return false;
        }
        break;
      }
      case OP_METHOD:
        if (a + 1 >= maxStack) return false;
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

bool VerifyCode(const vlFuncProto* p) { return Walk(p, p->sizecode, kNoRegister, nullptr); }

int LastSetterPc(const vlFuncProto* p, int lastpc, int reg) {
  if (lastpc < 0 || lastpc > p->sizecode || reg < 0) return -1;
  int setter = -1;
  return Walk(p, lastpc, reg, &setter) ? setter : -1;
}

}  // namespace vl
