#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <unistd.h>

#include "tests/vm/chunk_test_util.h"
#include "tests/vm/vm_test_util.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/gc.h"
#include "vm/func.h"
#include "vm/opcodes.h"
#include "vm/vmstring.h"

namespace {

namespace fs = std::filesystem;
using vltest::CorpusPrograms;
using vltest::DumpTop;
using vltest::LoadBytes;

class ChunkTest : public vltest::VmTest {
 protected:
  const vlFuncProto* TopProto() {
    EXPECT_TRUE(vl::IsScriptFunction(L->top - 1));
    return vl::ToClosure(L->top - 1)->s.proto;
  }
  std::string Str(const vlString* s) { return s ? std::string(vl::StringData(s), s->len) : "<none>"; }
  // Loads and expects failure with code; the stack must be as before.
  void ExpectLoadFails(const std::vector<uint8_t>& bytes, int code, const std::string& what) {
    vl::SetNumber(L->top, 1234.5);
    L->top++;
    vlValue* const top = L->top;
    EXPECT_EQ(LoadBytes(L, bytes), code) << what;
    EXPECT_EQ(L->top, top) << what;
    EXPECT_EQ(L->top[-1].tag, VL_TNUMBER) << what;
    L->top--;
  }
};

// Chunks whose re-dump differs on purpose: an absent string constant loads
// as the empty string.
bool Normalizes(const std::string& name) { return name == "consts.vlasm"; }

TEST_F(ChunkTest, WritingALoadedFunctionGivesTheChunkBack) {
  int roundTrips = 0;
  for (const auto& [name, text] : CorpusPrograms()) {
    const auto le = vlasm::Assemble(text, false);
    const auto be = vlasm::Assemble(text, true);
    ASSERT_EQ(LoadBytes(L, le), 0) << name;
    const auto dumped = DumpTop(L);
    if (!Normalizes(name)) {
      EXPECT_EQ(dumped, le) << name;
      ++roundTrips;
    }
    ASSERT_EQ(LoadBytes(L, be), 0) << name;
    EXPECT_EQ(DumpTop(L), dumped) << name << " big-endian";
    // Loading the dump and dumping again is stable.
    ASSERT_EQ(LoadBytes(L, dumped), 0) << name;
    EXPECT_EQ(DumpTop(L), dumped) << name;
    L->top -= 3;
  }
  EXPECT_GE(roundTrips, 20);
}

TEST_F(ChunkTest, BlockBoundariesDoNotMatter) {
  for (const auto& [name, text] : CorpusPrograms()) {
    const auto le = vlasm::Assemble(text, false);
    ASSERT_EQ(LoadBytes(L, le), 0) << name;
    const auto whole = DumpTop(L);
    for (size_t block : {1, 2, 3, 5, 7, 64}) {
      ASSERT_EQ(LoadBytes(L, le, block), 0) << name << " block " << block;
      EXPECT_EQ(DumpTop(L), whole) << name << " block " << block;
      L->top--;
    }
    L->top--;
  }
}

// The Python writer shares no code with the assembler or the loader; its
// big-endian twins must load to the same functions as its little-endian ones.
TEST_F(ChunkTest, PythonBigEndianTwinsLoadLikeTheirLittleEndianChunks) {
  const fs::path out = fs::temp_directory_path() / ("vl_chunkpy_" + std::to_string(::getpid()));
  const std::string cmd = "python3 '" + vltest::SourceDir() + "/tools/chunkasm/chunkcheck.py' '" + out.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  int twins = 0;
  for (const auto& e : fs::directory_iterator(out)) {
    const std::string file = e.path().filename().string();
    if (file.size() < 9 || file.substr(file.size() - 9) != ".le.chunk") continue;
    const std::string name = file.substr(0, file.size() - 9);
    const auto le = vltest::ReadBinary(e.path());
    const auto be = vltest::ReadBinary(out / (name + ".be.chunk"));
    ASSERT_NE(le, be) << name;
    ASSERT_EQ(LoadBytes(L, le), 0) << name;
    const auto dumpLe = DumpTop(L);
    ASSERT_EQ(LoadBytes(L, be), 0) << name;
    EXPECT_EQ(DumpTop(L), dumpLe) << name;
    if (!Normalizes(name + ".vlasm")) {
      EXPECT_EQ(dumpLe, le) << name;
    }
    L->top -= 2;
    ++twins;
  }
  fs::remove_all(out);
  EXPECT_EQ(twins, 6);
}

TEST_F(ChunkTest, LoadedFunctionHoldsWhatTheChunkSays) {
  const auto bytes = vlasm::Assemble(vltest::ReadText(fs::path(vltest::SourceDir()) / "tests/tools/crosscheck/nested.vlasm"));
  ASSERT_EQ(LoadBytes(L, bytes), 0);
  const vlFuncProto* main = TopProto();
  EXPECT_EQ(vl::ToClosure(L->top - 1)->s.h.nupvalues, 0);
  EXPECT_EQ(vl::ToClosure(L->top - 1)->s.globals.v.gc, L->globals.v.gc);
  EXPECT_EQ(Str(main->source), "@nested.vl");
  EXPECT_EQ(main->lineDefined, 0);
  EXPECT_EQ(main->maxstacksize, 3);
  ASSERT_EQ(main->sizek, 3);
  EXPECT_EQ(main->k[1].tag, VL_TNUMBER);
  EXPECT_EQ(main->k[1].v.n, 1.0);
  EXPECT_EQ(Str(vl::ToString(&main->k[2])), "counter");
  ASSERT_EQ(main->sizelineinfo, 8);
  EXPECT_EQ(main->lineinfo[0], 1);
  EXPECT_EQ(main->lineinfo[7], 8);
  ASSERT_EQ(main->sizelocvars, 2);
  EXPECT_EQ(Str(main->locvars[1].name), "step");
  EXPECT_EQ(main->locvars[1].startpc, 2);
  EXPECT_EQ(main->locvars[1].endpc, 8);
  ASSERT_EQ(main->sizep, 1);
  const vlFuncProto* counter = main->p[0];
  EXPECT_EQ(counter->source, main->source);  // inherited
  EXPECT_EQ(counter->nups, 2);
  EXPECT_EQ(counter->numparams, 1);
  ASSERT_EQ(counter->sizeupvalues, 2);
  EXPECT_EQ(Str(counter->upvalues[0]), "count");
  const vlFuncProto* inner = counter->p[0];
  EXPECT_EQ(Str(inner->source), "@inner.vl");
  EXPECT_EQ(inner->upvalues[0], nullptr);
  EXPECT_EQ(inner->lineDefined, 5);
  EXPECT_EQ(main->code[2], vl::MakeABx(OP_CLOSURE, 2, 0));
}

// A stored function that used variables of the function around it loads
// with variables of its own, each nil, that live as long as it does: each
// load and each variable apart, reading and writing them after a
// collection is safe.
TEST_F(ChunkTest, AMainFunctionExpectingUpvaluesGetsItsOwnEachNil) {
  const auto bytes = vlasm::Assemble(
      ".upvalues 2\n.maxstack 3\ngetupval 0 0\nloadk 1 #7\nsetupval 1 0\ngetupval 1 1\ngetupval 2 0\nreturn 0 4\n");
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(LoadBytes(L, bytes), 0);
    const vlClosure* cl = vl::ToClosure(L->top - 1);
    ASSERT_EQ(cl->s.h.nupvalues, 2);
    ASSERT_NE(cl->s.upvals[0], nullptr);
    EXPECT_NE(cl->s.upvals[0], cl->s.upvals[1]);
    vl::CollectGarbage(L);
    ASSERT_EQ(vl::CallProtected(L, 0, 3, 0), 0) << round;
    EXPECT_EQ(L->top[-3].tag, VL_TNIL) << "a fresh variable of this load";
    EXPECT_EQ(L->top[-2].tag, VL_TNIL) << "the other variable is its own";
    ASSERT_EQ(L->top[-1].tag, VL_TNUMBER);
    EXPECT_EQ(L->top[-1].v.n, 7);
    L->top -= 3;
  }
}

TEST_F(ChunkTest, AbsentNamesStayAbsentAndAbsentStringConstantsAreEmpty) {
  auto load = [&](const char* file) {
    const auto bytes = vlasm::Assemble(vltest::ReadText(fs::path(vltest::SourceDir()) / file));
    EXPECT_EQ(LoadBytes(L, bytes), 0) << file;
    return TopProto();
  };
  const vlFuncProto* u = load("tests/vm/chunks/unnamed.vlasm");
  EXPECT_EQ(u->source, nullptr);
  EXPECT_EQ(u->locvars[0].name, nullptr);
  EXPECT_EQ(Str(u->locvars[1].name), "named");
  EXPECT_EQ(u->p[0]->source, nullptr);
  EXPECT_EQ(u->p[0]->upvalues[1], nullptr);
  const vlFuncProto* c = load("tests/tools/crosscheck/consts.vlasm");
  ASSERT_EQ(c->sizek, 11);
  EXPECT_EQ(c->k[0].tag, VL_TNIL);
  EXPECT_TRUE(std::signbit(c->k[2].v.n));
  EXPECT_EQ(c->k[10].tag, VL_TSTRING);
  EXPECT_EQ(vl::ToString(&c->k[10]), vl::InternString(L, "", 0));
  EXPECT_EQ(Str(vl::ToString(&c->k[8])), std::string("with\0nul", 8));
}

// The fuzz seeds are the corpus programs as the assembler writes them today.
TEST_F(ChunkTest, FuzzSeedsAreTheAssembledCorpus) {
  const fs::path seeds = fs::path(vltest::SourceDir()) / "fuzz/corpus/chunk";
  int checked = 0;
  for (const auto& [name, text] : CorpusPrograms()) {
    const std::string stem = name.substr(0, name.size() - 6);
    EXPECT_EQ(vltest::ReadBinary(seeds / (stem + ".le")), vlasm::Assemble(text, false)) << name;
    EXPECT_EQ(vltest::ReadBinary(seeds / (stem + ".be")), vlasm::Assemble(text, true)) << name;
    checked += 2;
  }
  EXPECT_EQ(checked, std::distance(fs::directory_iterator(seeds), fs::directory_iterator()));
}

TEST_F(ChunkTest, EveryProperPrefixOfEverySeedFailsAsUnexpectedEnd) {
  int seeds = 0;
  for (const auto& e : fs::directory_iterator(fs::path(vltest::SourceDir()) / "fuzz/corpus/chunk")) {
    const auto bytes = vltest::ReadBinary(e.path());
    const std::string name = e.path().filename().string();
    vlValue* const top = L->top;
    for (size_t n = 0; n < bytes.size(); ++n) {
      const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
      ASSERT_EQ(LoadBytes(L, prefix, 5), ERR_UNEXPECTEDEOF) << name << " cut at " << n;
      ASSERT_EQ(L->top, top);
    }
    ASSERT_EQ(LoadBytes(L, bytes, 5), 0) << name;
    L->top--;
    ++seeds;
  }
  EXPECT_GE(seeds, 40);
}

TEST_F(ChunkTest, HeaderErrors) {
  const auto good = vlasm::Assemble("ret\n");
  for (size_t i = 0; i < 4; ++i) {
    auto bad = good;
    bad[i] ^= 0x20;
    ExpectLoadFails(bad, ERR_BADSIGNATURE, "signature byte " + std::to_string(i));
  }
  const std::string text = "print(\"hello\")\n";
  ExpectLoadFails(std::vector<uint8_t>(text.begin(), text.end()), ERR_BADSIGNATURE, "source text");
  for (size_t i = 5; i < 13; ++i) {
    auto bad = good;
    bad[i]++;
    ExpectLoadFails(bad, ERR_VMMISMATCH, "size byte " + std::to_string(i));
  }
  auto num = good;
  num[20] ^= 0x80;  // sign bit of the little-endian double
  ExpectLoadFails(num, ERR_UNKNUMFMT, "negated test number");
  auto wrongOrder = good;
  wrongOrder[4] = 7;  // any byte order but 1 reads big-endian
  ExpectLoadFails(wrongOrder, ERR_UNKNUMFMT, "byte order");
  auto nan = good;
  std::memset(&nan[13], 0xFF, 8);
  ExpectLoadFails(nan, ERR_UNKNUMFMT, "NaN test number");
}

TEST_F(ChunkTest, RecordErrors) {
  // Offsets in a chunk with no source, lines, locals or names: 25 line
  // defined, 33 line count, 37 local count, 41 name count, 45 constant
  // count, 49 nested count, 53 code count.
  const auto plain = vlasm::Assemble("ret\n");
  ASSERT_EQ(plain.size(), 61u);
  for (size_t at : {33, 37, 41, 45, 49, 53}) {
    auto bad = plain;
    std::memset(&bad[at], 0xFF, 4);
    ExpectLoadFails(bad, ERR_BADINTEGER, "negative count at " + std::to_string(at));
  }
  ExpectLoadFails(vlasm::Assemble(".linedefined -5\nret\n"), ERR_BADINTEGER, "line defined");
  ExpectLoadFails(vlasm::Assemble(".local \"x\" -1 1\nret\n"), ERR_BADINTEGER, "local start");
  ExpectLoadFails(vlasm::Assemble(".local \"x\" 0 -1\nret\n"), ERR_BADINTEGER, "local end");
  // Negative lines and instructions are raw words and load.
  ASSERT_EQ(LoadBytes(L, vlasm::Assemble(".lines -7\nret\n")), 0);
  L->top--;

  ExpectLoadFails(vlasm::Assemble(".upvalues 2\n.upvalue \"a\"\nret\n"), ERR_BADUPVALUES, "one name of two");
  ExpectLoadFails(vlasm::Assemble(".upvalue \"a\"\n.upvalue \"b\"\n.upvalues 1\nret\n"), ERR_BADUPVALUES,
                  "two names of one");
  for (int type : {1, 2, 5, 6, 7, 8, 9, 255}) {
    ExpectLoadFails(vlasm::Assemble(".const type " + std::to_string(type) + "\nret\n"), ERR_BADCONSTANT,
                    "constant type " + std::to_string(type));
  }
  // Errors inside a nested function surface the same way.
  ExpectLoadFails(vlasm::Assemble(".function f\n.const type 1\nret\n.end\nret\n"), ERR_BADCONSTANT, "nested");
}

// A crafted count or size fails when the bytes run out, before anything
// near the claimed size is allocated.
TEST_F(ChunkTest, HugeCountsFailAtTheEndOfInput) {
  const auto plain = vlasm::Assemble("ret\n");
  for (size_t at : {33, 37, 45, 49, 53}) {
    auto bad = plain;
    bad[at] = 0xFF;
    bad[at + 1] = 0xFF;
    bad[at + 2] = 0xFF;
    bad[at + 3] = 0x7F;
    bad.resize(at + 4);
    const uint64_t before = L->g->nblocks;
    ExpectLoadFails(bad, ERR_UNEXPECTEDEOF, "count at " + std::to_string(at));
    EXPECT_LT(static_cast<int64_t>(L->g->nblocks) - static_cast<int64_t>(before), int64_t{1} << 20);
  }
  auto hugeString = vlasm::Assemble(".source \"x\"\nret\n");
  std::memset(&hugeString[21], 0xFF, 4);
  ExpectLoadFails(hugeString, ERR_UNEXPECTEDEOF, "string size");
}

std::string NestedText(int levels) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += ".function f" + std::to_string(i) + "\n";
  for (int i = 0; i < levels; ++i) text += "ret\n.end\n";
  return text + "ret\n";
}

TEST_F(ChunkTest, NestingDeeperThan200LevelsIsRefused) {
  ASSERT_EQ(LoadBytes(L, vlasm::Assemble(NestedText(200))), 0);
  const vlFuncProto* f = TopProto();
  int depth = 0;
  while (f->sizep) {
    f = f->p[0];
    ++depth;
  }
  EXPECT_EQ(depth, 200);
  L->top--;
  ExpectLoadFails(vlasm::Assemble(NestedText(201)), ERR_BADBYTECODE, "201 levels");
}

int NativeNothing(vlVMState*) { return 0; }

TEST_F(ChunkTest, DumpingAnythingButAScriptFunctionFails) {
  std::vector<uint8_t> out;
  vl::SetClosure(L->top, vl::NewNativeClosure(L, NativeNothing, 0));
  L->top++;
  EXPECT_EQ(vl::DumpFunction(L, -1, vltest::CollectBytes, &out), ERR_NOVLFUNC);
  vl::SetNumber(L->top, 3);
  L->top++;
  EXPECT_EQ(vl::DumpFunction(L, -1, vltest::CollectBytes, &out), ERR_NOVLFUNC);
  EXPECT_EQ(vl::DumpFunction(L, 5, vltest::CollectBytes, &out), ERR_NOVLFUNC);
  EXPECT_TRUE(out.empty());
  ASSERT_EQ(LoadBytes(L, vlasm::Assemble("ret\n")), 0);
  EXPECT_EQ(vl::DumpFunction(L, 3, vltest::CollectBytes, &out), 0);
  EXPECT_EQ(out, vlasm::Assemble("ret\n"));
}

TEST_F(ChunkTest, SymbolicRunFindsTheLastSetter) {
  ASSERT_EQ(LoadBytes(L, vlasm::Assemble(R"(
  getglobal 0 "a"      ; 0
  getfield 1 0 "b"     ; 1
  loadnil 2 4          ; 2
  copy 3 1             ; 3
  jump skip            ; 4
  loadk 3 "never"      ; 5
skip:
  method 5 0 "m"       ; 6
  call 5 2 2           ; 7
  ret                  ; 8
)")),
            0);
  const vlFuncProto* p = TopProto();
  EXPECT_EQ(vl::LastSetterPc(p, 8, 0), 0);
  EXPECT_EQ(vl::LastSetterPc(p, 8, 1), 1);
  EXPECT_EQ(vl::LastSetterPc(p, 8, 2), 2);
  EXPECT_EQ(vl::LastSetterPc(p, 8, 4), 2);
  // The forward jump skips the load of 3 at pc 5.
  EXPECT_EQ(vl::LastSetterPc(p, 8, 3), 3);
  EXPECT_EQ(vl::LastSetterPc(p, 6, 3), 3);
  EXPECT_EQ(vl::LastSetterPc(p, 4, 3), 3);
  EXPECT_EQ(vl::LastSetterPc(p, 7, 6), 6);  // method sets A + 1
  EXPECT_EQ(vl::LastSetterPc(p, 8, 6), 7);  // a call sets A and above
  EXPECT_EQ(vl::LastSetterPc(p, 8, 7), 7);
  EXPECT_EQ(vl::LastSetterPc(p, 1, 1), -1);
  EXPECT_EQ(vl::LastSetterPc(p, 99, 1), -1);
}

TEST_F(ChunkTest, FailedLoadsLeaveNothingBehindAtClose) {
  const auto bytes = vlasm::Assemble(vltest::ReadText(fs::path(vltest::SourceDir()) / "tests/vm/chunks/deep.vlasm"));
  for (size_t n = 0; n < bytes.size(); n += 3) {
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
    ASSERT_NE(LoadBytes(L, prefix), 0);
  }
  ASSERT_EQ(LoadBytes(L, bytes), 0);
  vl::CloseVmState(L);
  L = nullptr;
  EXPECT_EQ(vl::LastCloseResidualBytes(), 0);
}

// The example of the assembler's README is the indented block after its
// "## Example" heading; it must assemble and load.
TEST_F(ChunkTest, AssemblerReadmeExampleLoads) {
  const std::string readme = vltest::ReadText(fs::path(vltest::SourceDir()) / "tools/chunkasm/README.md");
  size_t pos = readme.find("## Example");
  ASSERT_NE(pos, std::string::npos);
  std::string text;
  pos = readme.find('\n', pos) + 1;
  while (pos < readme.size()) {
    size_t nl = readme.find('\n', pos);
    if (nl == std::string::npos) nl = readme.size();
    const std::string line = readme.substr(pos, nl - pos);
    if (line.rfind("    ", 0) == 0) text += line.substr(4) + "\n";
    pos = nl + 1;
  }
  ASSERT_EQ(LoadBytes(L, vlasm::Assemble(text)), 0);
  const vlFuncProto* p = TopProto();
  EXPECT_EQ(Str(p->source), "@example.vl");
  EXPECT_EQ(p->sizep, 1);
}

}  // namespace
