#include <gtest/gtest.h>

#include "tests/vm/chunk_test_util.h"
#include "tests/vm/vm_test_util.h"
#include "vm/error_codes.h"

namespace {

// One row per verifier rule and per rejection the loader adds: a chunk that
// loads and its twin that differs only where the rule bites.
struct Case {
  const char* rule;
  const char* good;
  const char* bad;
};

// Nested function with two upvalues, for the closure and upvalue rules.
#define TWO_UPS ".function f\n.upvalues 2\nret\n.end\n"

const Case kCases[] = {
    {"maximum stack at most 250", ".maxstack 250\nret", ".maxstack 251\nret"},
    {"line count 0 or the code count", ".lines 1 2\nloadnil 0 0\nret", ".lines 1\nloadnil 0 0\nret"},
    {"line count not above the code count", ".lines 1 2\nloadnil 0 0\nret", ".lines 1 2 3\nloadnil 0 0\nret"},
    {"last instruction is a return", "loadnil 0 0\nret", "ret\nloadnil 0 0"},
    {"A below the maximum stack", ".maxstack 5\nclose 4\nret", ".maxstack 5\nclose 5\nret"},
    {"B register below the maximum stack", ".maxstack 5\ncopy 1 4\nret", ".maxstack 5\ncopy 1 5\nret"},
    {"RK B register below the maximum stack", ".maxstack 5\nadd 0 4 0\nret", ".maxstack 5\nadd 0 5 0\nret"},
    {"RK B constant exists", ".const 1\nadd 0 250 0\nret", ".const 1\nadd 0 251 0\nret"},
    {"RK C constant exists", ".const 1\nsetfield 0 0 250\nret", ".const 1\nsetfield 0 0 251\nret"},
    {"RK operands between the stack and 250 are refused", ".maxstack 5\neq 0 0 4\njump 0\nret",
     ".maxstack 5\neq 0 0 249\njump 0\nret"},
    {"Bx constant exists", ".const 1\nloadk 0 0\nret", ".const 1\nloadk 0 1\nret"},
    {"a test is followed by a jump", "eq 0 0 0\njump 0\nret", "eq 0 0 0\nloadnil 0 0\nret"},
    {"an iterator step is followed by a jump", "iterloop 0 0 0\njump 0\nret", "iterloop 0 0 0\nclose 0\nret"},
    {"loadnum that skips has two instructions after it", "loadnum 0 1 1\nloadnil 0 0\nret", "loadnum 0 1 1\nret"},
    {"getupval names an upvalue", TWO_UPS ".function g\n.upvalues 2\ngetupval 0 1\nret\n.end\nret",
     TWO_UPS ".function g\n.upvalues 2\ngetupval 0 2\nret\n.end\nret"},
    {"setupval names an upvalue", ".function g\n.upvalues 1\nsetupval 0 0\nret\n.end\nret",
     ".function g\n.upvalues 1\nsetupval 0 1\nret\n.end\nret"},
    {"getglobal names a string", ".const \"x\"\ngetglobal 0 k0\nret", ".const 1\ngetglobal 0 k0\nret"},
    {"setglobal names a string", ".const \"x\"\nsetglobal 0 k0\nret", ".const nil\nsetglobal 0 k0\nret"},
    {"concat B below C", "concat 0 1 2\nret", "concat 0 2 2\nret"},
    {"concat C at most 249", ".const 1\n.maxstack 250\nconcat 0 1 249\nret",
     ".const 1\n.maxstack 250\nconcat 0 1 250\nret"},
    {"jump target inside the code", "jump 0\nret", "jump 1\nret"},
    {"jump target not before the code", "jump -1\nret", "jump -2\nret"},
    {"call arguments inside the frame", ".maxstack 5\ncall 2 3 1\nret", ".maxstack 5\ncall 2 4 1\nret"},
    {"call results inside the frame", ".maxstack 5\ncall 2 1 4\nret", ".maxstack 5\ncall 2 1 5\nret"},
    {"tail call arguments inside the frame", ".maxstack 5\ntailcall 2 3 1\nret",
     ".maxstack 5\ntailcall 2 4 1\nret"},
    {"all results go to a call, return or set-list", "call 0 1 0\nreturn 0 0 0", "call 0 1 0\nreturn 0 1 0"},
    {"all results into a set-list", "newtable 0 0 0\ncall 1 1 0\nsetlisttop 0 0\nret",
     "newtable 0 0 0\ncall 1 1 0\nsetlist 0 0\nret"},
    {"return values inside the frame", ".maxstack 5\nreturn 2 4 0", ".maxstack 5\nreturn 2 5 0"},
    {"set-list values inside the frame", ".maxstack 5\nsetlist 1 2\nret", ".maxstack 5\nsetlist 1 3\nret"},
    {"closure names a nested function", TWO_UPS "closure 0 0\ncopy 0 0\ncopy 0 0\nret",
     TWO_UPS "closure 0 1\ncopy 0 0\ncopy 0 0\nret"},
    {"closure is followed by its captures", TWO_UPS "closure 0 0\ncopy 0 0\ncopy 0 1\nret",
     TWO_UPS "closure 0 0\ncopy 0 0\nclose 0\nret"},
    {"method object register inside the frame", ".maxstack 5\nmethod 3 0 \"m\"\nret",
     ".maxstack 5\nmethod 4 0 \"m\"\nret"},
    // Rejections beyond the rules above.
    {"numeric loop target inside the code", "forloop 0 -1\nret", "forloop 0 1\nret"},
    {"numeric loop target not before the code", "forloop 0 -1\nret", "forloop 0 -2\nret"},
    {"iterator preparation target inside the code", "iterprep 0 0\nret", "iterprep 0 1\nret"},
    {"numeric loop registers inside the frame", ".maxstack 5\nforloop 2 -1\nret", ".maxstack 5\nforloop 3 -1\nret"},
    {"iterator preparation registers inside the frame", ".maxstack 5\niterprep 3 0\nret",
     ".maxstack 5\niterprep 4 0\nret"},
    {"iterator step registers inside the frame", ".maxstack 10\niterloop 2 0 2\njump 0\nret",
     ".maxstack 10\niterloop 2 0 3\njump 0\nret"},
    // The results are written where the call sat before they move down.
    {"iterator step results inside the frame", ".maxstack 15\niterloop 0 0 6\njump 0\nret",
     ".maxstack 14\niterloop 0 0 6\njump 0\nret"},
    {"a function has code", "ret", ""},
    {"opcodes end at 42", ".word 42\nret", ".word 43\nret"},
    {"opcode 63 is unknown", ".word 40\nret", ".word 63\nret"},
    {"every return but the gosub return checks its values", ".maxstack 5\nreturn 2 5 1",
     ".maxstack 5\nreturn 2 5 2"},
    {"table hash part at most 2^24 nodes", "newtable 0 0 24\nret", "newtable 0 0 25\nret"},
    {"table array part at most 2^24 slots", "newtable 0 193 0\nret", "newtable 0 194 0\nret"},
    {"table array size computed without overflow", "newtable 0 192 0\nret", "newtable 0 511 0\nret"},
    {"parameters fit the frame", ".params 3\n.maxstack 3\nret", ".params 4\n.maxstack 3\nret"},
    {"parameters and the vararg slot fit the frame", ".params 3\n.vararg\n.maxstack 4\nret",
     ".params 3\n.vararg\n.maxstack 3\nret"},
    {"rules hold in nested functions too", ".function f\nret\n.end\nret", ".function f\njump 1\nret\n.end\nret"},
};

class ChunkVerifyTest : public vltest::VmTest {};

TEST_F(ChunkVerifyTest, EachRuleRefusesItsChunkAndKeepsTheStack) {
  for (const Case& c : kCases) {
    const std::vector<uint8_t> good = vlasm::Assemble(std::string(c.good) + "\n");
    const std::vector<uint8_t> bad = vlasm::Assemble(std::string(c.bad) + "\n");
    vl::SetNumber(L->top, 77);
    L->top++;
    vlValue* const top = L->top;
    EXPECT_EQ(vltest::LoadBytes(L, bad), ERR_BADBYTECODE) << c.rule;
    EXPECT_EQ(L->top, top) << c.rule;
    EXPECT_EQ(L->top[-1].tag, VL_TNUMBER) << c.rule;
    EXPECT_EQ(L->top[-1].v.n, 77) << c.rule;
    ASSERT_EQ(vltest::LoadBytes(L, good), 0) << c.rule << " (the loading twin)";
    EXPECT_TRUE(vl::VerifyCode(vl::ToClosure(L->top - 1)->s.proto)) << c.rule;
    L->top -= 2;
  }
}

}  // namespace
