// The instruction word of the script VM: opcode numbers, operand fields and
// the per-opcode format byte that the verifier and the chunk tools read.
// Header only (no code to link), so test tools can use it without the VM.
#pragma once
#include <cstdint>

enum vlOpcode : uint8_t {
  OP_COPY = 0,
  OP_LOADK,
  OP_LOADNUM,
  OP_LOADNIL,
  OP_GETUPVAL,
  OP_GETGLOBAL,
  OP_GETFIELD,
  OP_SETGLOBAL,
  OP_SETUPVAL,
  OP_SETFIELD,
  OP_NEWTABLE,  // 10
  OP_ADD,
  OP_SUB,
  OP_MUL,
  OP_DIV,
  OP_DIVINT,
  OP_MOD,
  OP_SHL,
  OP_SHR,
  OP_OR,
  OP_AND,  // 20
  OP_XOR,
  OP_POW,
  OP_NEG,
  OP_NOT,
  OP_BNOT,
  OP_CONCAT,
  OP_JUMP,
  OP_EQ,
  OP_LT,
  OP_LE,  // 30
  OP_TEST,
  OP_CALL,
  OP_TAILCALL,
  OP_RETURN,
  OP_FORLOOP,
  OP_ITERLOOP,
  OP_ITERPREP,
  OP_SETLIST,
  OP_SETLISTTOP,
  OP_CLOSE,  // 40
  OP_CLOSURE,
  OP_METHOD,
};

namespace vl {

inline constexpr int kNumOpcodes = 43;

// Operand layout: OP bits 0-5, C 6-14, B 15-23, A 24-31; Bx and sBx share
// 6-23; a jump's J fills 6-29 and bits 30-31 carry its flags.
inline constexpr int kOpBits = 6, kCBits = 9, kBBits = 9, kABits = 8;
inline constexpr int kCPos = 6, kBPos = 15, kAPos = 24;
inline constexpr uint32_t kMaxBx = (1u << 18) - 1;
inline constexpr int32_t kBiasSBx = 0x1FFFF;
inline constexpr uint32_t kMaxJ = (1u << 24) - 1;
inline constexpr int32_t kBiasJ = 0x7FFFFF;
inline constexpr uint32_t kJumpFlagGosub = 2;

// An RK operand of this value or more names constant (operand - kRKConst);
// a function has at most this many registers.
inline constexpr uint32_t kRKConst = 250;
inline constexpr int kMaxRegisters = 250;

constexpr uint32_t GetOp(uint32_t i) { return i & 0x3F; }
constexpr uint32_t GetA(uint32_t i) { return i >> kAPos; }
constexpr uint32_t GetB(uint32_t i) { return (i >> kBPos) & 0x1FF; }
constexpr uint32_t GetC(uint32_t i) { return (i >> kCPos) & 0x1FF; }
constexpr uint32_t GetBx(uint32_t i) { return (i >> kCPos) & kMaxBx; }
constexpr int32_t GetSBx(uint32_t i) { return static_cast<int32_t>(GetBx(i)) - kBiasSBx; }
constexpr uint32_t GetJ(uint32_t i) { return (i >> kCPos) & kMaxJ; }
constexpr int32_t GetSJ(uint32_t i) { return static_cast<int32_t>(GetJ(i)) - kBiasJ; }
constexpr uint32_t GetJumpFlags(uint32_t i) { return i >> 30; }

constexpr uint32_t MakeABC(uint32_t op, uint32_t a, uint32_t b, uint32_t c) {
  return (op & 0x3F) | ((c & 0x1FF) << kCPos) | ((b & 0x1FF) << kBPos) | ((a & 0xFF) << kAPos);
}
constexpr uint32_t MakeABx(uint32_t op, uint32_t a, uint32_t bx) {
  return (op & 0x3F) | ((bx & kMaxBx) << kCPos) | ((a & 0xFF) << kAPos);
}
constexpr uint32_t MakeAsBx(uint32_t op, uint32_t a, int32_t sbx) {
  return MakeABx(op, a, static_cast<uint32_t>(sbx + kBiasSBx));
}
constexpr uint32_t MakeJump(int32_t offset, uint32_t flags) {
  return OP_JUMP | ((static_cast<uint32_t>(offset + kBiasJ) & kMaxJ) << kCPos) | ((flags & 3) << 30);
}

// Format byte: bits 0-1 operand format, then what the operands mean.
enum vlOpFormatBits : uint8_t {
  OPF_ABC = 0,
  OPF_ABX = 1,
  OPF_ASBX = 2,
  OPF_J = 3,
  OPF_FORMAT_MASK = 3,
  OPF_B_REG = 1 << 2,
  OPF_B_RK = 1 << 3,
  OPF_C_RK = 1 << 4,
  OPF_SETS_A = 1 << 5,
  OPF_BX_CONST = 1 << 6,
  OPF_NEXT_JUMP = 1 << 7,
};

inline constexpr uint8_t kOpFormat[kNumOpcodes] = {
    0x24, 0x61, 0x20, 0x24, 0x20, 0x61, 0x34, 0x41, 0x00, 0x18,  // 0-9
    0x20, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38, 0x38,  // 10-19
    0x38, 0x38, 0x38, 0x24, 0x24, 0x24, 0x34, 0x03, 0x98, 0x98,  // 20-29
    0x98, 0xA4, 0x00, 0x00, 0x00, 0x02, 0x80, 0x02, 0x01, 0x01,  // 30-39
    0x00, 0x21, 0x34,                                            // 40-42
};

inline constexpr const char* kOpNames[kNumOpcodes] = {
    "COPY",     "LOADK",  "LOADNUM",  "LOADNIL",  "GETUPVAL", "GETGLOBAL",  "GETFIELD", "SETGLOBAL",
    "SETUPVAL", "SETFIELD", "NEWTABLE", "ADD",    "SUB",      "MUL",        "DIV",      "DIVINT",
    "MOD",      "SHL",    "SHR",      "OR",       "AND",      "XOR",        "POW",      "NEG",
    "NOT",      "BNOT",   "CONCAT",   "JUMP",     "EQ",       "LT",         "LE",       "TEST",
    "CALL",     "TAILCALL", "RETURN", "FORLOOP",  "ITERLOOP", "ITERPREP",   "SETLIST",  "SETLISTTOP",
    "CLOSE",    "CLOSURE", "METHOD",
};

}  // namespace vl
