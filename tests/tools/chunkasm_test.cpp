#include "tools/chunkasm/chunkasm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "vm/opcodes.h"

namespace {

namespace fs = std::filesystem;

std::string SourceDir() {
  // Built in, since a test may run without the environment set.
  const char* d = std::getenv("VL_SOURCE_DIR");
  return d ? d : VL_SOURCE_ROOT;
}

std::vector<uint8_t> ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

std::string ReadText(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

// The independent Python writer and the C++ assembler must agree byte for
// byte on every program, in both byte orders.
TEST(ChunkAsmCrossCheck, PythonWriterGivesTheSameBytes) {
  const fs::path out = fs::temp_directory_path() / ("vl_chunkcheck_" + std::to_string(::getpid()));
  const std::string cmd =
      "python3 '" + SourceDir() + "/tools/chunkasm/chunkcheck.py' '" + out.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  int compared = 0;
  for (const auto& e : fs::directory_iterator(fs::path(SourceDir()) / "tests/tools/crosscheck")) {
    if (e.path().extension() != ".vlasm") continue;
    const std::string name = e.path().stem().string();
    const std::string text = ReadText(e.path());
    for (bool big : {false, true}) {
      const auto expected = ReadFile(out / (name + (big ? ".be.chunk" : ".le.chunk")));
      ASSERT_FALSE(expected.empty()) << name;
      const auto got = vlasm::Assemble(text, big);
      ASSERT_EQ(got.size(), expected.size()) << name << (big ? " big" : " little");
      for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], expected[i]) << name << (big ? " big" : " little") << " differs at byte " << i;
      ++compared;
    }
  }
  fs::remove_all(out);
  EXPECT_EQ(compared, 12);
}

TEST(ChunkAsm, HeaderInBothByteOrders) {
  const auto le = vlasm::ChunkHeader(false);
  const auto be = vlasm::ChunkHeader(true);
  ASSERT_EQ(le.size(), 21u);
  ASSERT_EQ(be.size(), 21u);
  const uint8_t common[] = {0x1B, 'V', 'L', 'B'};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(le[i], common[i]);
  EXPECT_EQ(le[4], 1);
  EXPECT_EQ(be[4], 0);
  const uint8_t sizes[] = {4, 4, 4, 6, 8, 9, 9, 8};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(le[5 + i], sizes[i]);
  // 31415926.535897933 is 0x417DF5E7689309B6 as an IEEE double.
  const uint8_t num[] = {0x41, 0x7D, 0xF5, 0xE7, 0x68, 0x93, 0x09, 0xB6};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(be[13 + i], num[i]);
    EXPECT_EQ(le[13 + i], num[7 - i]);
  }
}

TEST(ChunkAsm, OperandFieldsAndJumps) {
  const auto c = vlasm::Parse(R"(
top:
  add 3 r4 k2
  jump top
  gosub done
  jump done 1
  forloop 5 top
  iterprep 6 done
  loadnum 7 300 1
  setlist 2 0x25
  .word 0xDEADBEEF
done:
  return 9 0 0
)");
  const auto& code = c.main.code;
  ASSERT_EQ(code.size(), 10u);
  EXPECT_EQ(code[0], vl::MakeABC(OP_ADD, 3, 4, 252));
  EXPECT_EQ(vl::GetSJ(code[1]), -2);
  EXPECT_EQ(vl::GetJumpFlags(code[1]), 0u);
  EXPECT_EQ(vl::GetOp(code[2]), OP_JUMP);
  EXPECT_EQ(vl::GetSJ(code[2]), 6);
  EXPECT_EQ(code[2] >> 30, 2u);  // the gosub flag
  EXPECT_EQ(vl::GetJumpFlags(code[3]), 1u);
  EXPECT_EQ(code[4], vl::MakeAsBx(OP_FORLOOP, 5, -5));
  EXPECT_EQ(vl::GetSBx(code[5]), 3);
  EXPECT_EQ(vl::GetA(code[5]), 6u);
  EXPECT_EQ(code[6], vl::MakeABC(OP_LOADNUM, 7, 300, 1));
  EXPECT_EQ(code[7], vl::MakeABx(OP_SETLIST, 2, 0x25));
  EXPECT_EQ(code[8], 0xDEADBEEFu);
  // Computed frame: iterprep needs A+2, return with B=0 nothing extra.
  EXPECT_EQ(c.main.maxStack, 10);
}

TEST(ChunkAsm, EveryOpcodeHasAMnemonic) {
  for (int op = 0; op < vl::kNumOpcodes; ++op) {
    std::string name = vl::kOpNames[op];
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::string line = name;
    switch (vl::kOpFormat[op] & vl::OPF_FORMAT_MASK) {
      case vl::OPF_J: line += " 0"; break;
      case vl::OPF_ASBX: line += " 1 0"; break;
      case vl::OPF_ABX: line += " 1 2"; break;
      default: line += " 1 2 3"; break;
    }
    const auto c = vlasm::Parse(line + "\n");
    ASSERT_EQ(c.main.code.size(), 1u) << line;
    EXPECT_EQ(vl::GetOp(c.main.code[0]), static_cast<uint32_t>(op)) << line;
  }
}

TEST(ChunkAsm, ConstantsAreSharedAndAbsentStringsStayAbsent) {
  const auto c = vlasm::Parse(R"(
.source none
.const "a"
  loadk 0 "a"
  loadk 1 #2
  loadk 2 #2
  loadk 3 none
  eq 1 nil #2
.local none 0 1
.upvalue none
)");
  const auto& k = c.main.constants;
  ASSERT_EQ(k.size(), 4u);
  EXPECT_EQ(k[0].type, 4);
  EXPECT_EQ(vl::GetBx(c.main.code[0]), 0u);
  EXPECT_EQ(vl::GetBx(c.main.code[1]), vl::GetBx(c.main.code[2]));
  EXPECT_EQ(k[2].type, 4);
  EXPECT_FALSE(k[2].text.has_value());
  EXPECT_EQ(k[3].type, 0);
  EXPECT_EQ(vl::GetB(c.main.code[4]), 253u);
  EXPECT_EQ(vl::GetC(c.main.code[4]), 251u);
  EXPECT_FALSE(c.main.source.has_value());
  EXPECT_FALSE(c.main.locals[0].name.has_value());
  ASSERT_EQ(c.main.upvalueNames.size(), 1u);
  EXPECT_FALSE(c.main.upvalueNames[0].has_value());
  // Absent strings are written as size 0; present empty ones as size 1.
  const auto bytes = vlasm::WriteChunk(c);
  EXPECT_EQ(bytes[21], 0);
  EXPECT_EQ(bytes[22], 0);
  EXPECT_EQ(bytes[23], 0);
  EXPECT_EQ(bytes[24], 0);
}

// #NAME is the player's constant (any case), a number or a string, in
// every place a constant goes; #digits stays a number, and a name no
// library defines is refused with the run-time way to read it.
TEST(ChunkAsm, HashNamesAreThePlayersConstants) {
  const auto c = vlasm::Parse(".call debugprint #CENTER #sans #Pi #72\nloadk 0 #linear\n"
                              ".table 1 { type = #FILLGRADIENT }\n");
  const auto& k = c.main.constants;
  auto number = [&](double v) {
    return std::count_if(k.begin(), k.end(), [&](const vlasm::Constant& x) { return x.type == 3 && x.number == v; });
  };
  EXPECT_EQ(number(-100000), 1);
  EXPECT_EQ(number(3.141592653589793), 1);
  EXPECT_EQ(number(72), 1);
  EXPECT_EQ(number(2), 1);  // #LINEAR and #FILLGRADIENT are both 2: one shared constant
  EXPECT_EQ(std::count_if(k.begin(), k.end(),
                          [](const vlasm::Constant& x) { return x.type == 4 && x.text == ":::default_sans"; }),
            1);
  try {
    vlasm::Parse(".line 1\n.call box 0 0 10 10 #REDD\n");
    ADD_FAILURE() << "an unknown constant was taken";
  } catch (const vlasm::AsmError& e) {
    EXPECT_EQ(e.line, 2);
    EXPECT_NE(std::string(e.what()).find("unknown constant '#REDD'"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("the nearest is #RED)"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(".call getconstant \"#REDD\" -> Value"), std::string::npos) << e.what();
  }
  EXPECT_THROW(vlasm::Parse("loadk 0 #1x\n"), vlasm::AsmError);
  // A name far from every constant gets no hint.
  try {
    vlasm::Parse("loadk 0 #QQQQQQQQ\n");
    ADD_FAILURE() << "an unknown constant was taken";
  } catch (const vlasm::AsmError& e) {
    EXPECT_EQ(std::string(e.what()).find("nearest"), std::string::npos) << e.what();
  }
}

TEST(ChunkAsm, LineInformation) {
  const auto none = vlasm::Parse("ret\n");
  EXPECT_TRUE(none.main.lines.empty());
  const auto some = vlasm::Parse(".linedefined 4\n loadnil 0 0\n.line 7\n ret\n");
  EXPECT_EQ(some.main.lines, (std::vector<int32_t>{4, 7}));
  const auto raw = vlasm::Parse("loadnil 0 0\n ret\n.lines 1 2 3\n");
  EXPECT_EQ(raw.main.lines, (std::vector<int32_t>{1, 2, 3}));
}

TEST(ChunkAsm, UpvalueCountsAndNamesAreIndependent) {
  const auto c = vlasm::Parse(".upvalues 3\n.upvalue \"a\"\nret\n");
  EXPECT_EQ(c.main.numUpvalues, 3);
  EXPECT_EQ(c.main.upvalueNames.size(), 1u);
  const auto n = vlasm::Parse(".upvalue \"a\"\n.upvalue \"b\"\n.nonames\nret\n");
  EXPECT_EQ(n.main.numUpvalues, 2);
  EXPECT_TRUE(n.main.upvalueNames.empty());
}

TEST(ChunkAsm, ClosureCapturesFollowTheClosure) {
  const auto c = vlasm::Parse(R"(
.function f
  .upvalue "x" from r3
  .upvalue "y" from u1
  ret
.end
  closure 4 f
  ret
)");
  ASSERT_EQ(c.main.code.size(), 4u);
  EXPECT_EQ(c.main.code[0], vl::MakeABx(OP_CLOSURE, 4, 0));
  EXPECT_EQ(c.main.code[1], vl::MakeABC(OP_COPY, 0, 3, 0));
  EXPECT_EQ(c.main.code[2], vl::MakeABC(OP_GETUPVAL, 0, 1, 0));
  EXPECT_EQ(c.main.nested[0].numUpvalues, 2);
}

TEST(ChunkAsm, ManyTableItemsAreSetInBatchesOf32) {
  std::string items;
  for (int i = 0; i < 40; ++i) items += std::to_string(i) + " ";
  const auto c = vlasm::Parse(".table 0 { " + items + "}\nret\n");
  int setlists = 0;
  for (uint32_t w : c.main.code) {
    if (vl::GetOp(w) != OP_SETLIST) continue;
    EXPECT_EQ(vl::GetBx(w), setlists == 0 ? 31u : (32u | 7u));
    ++setlists;
  }
  EXPECT_EQ(setlists, 2);
  // Array size hint covers the 40 items: (B & 7) << (B >> 3) >= 40.
  const uint32_t b = vl::GetB(c.main.code[0]);
  EXPECT_GE((b & 7) << (b >> 3), 40u);
}

TEST(ChunkAsm, ErrorsNameTheLine) {
  auto lineOf = [](const char* text) {
    try {
      vlasm::Parse(text);
    } catch (const vlasm::AsmError& e) {
      return e.line;
    }
    return -1;
  };
  EXPECT_EQ(lineOf("ret\nfrobnicate 1\n"), 2);
  EXPECT_EQ(lineOf("jump nowhere\nret\n"), 1);
  EXPECT_EQ(lineOf("\n\nloadk 0 \"open\n"), 3);
  EXPECT_EQ(lineOf("add 256 0 0\n"), 1);
  EXPECT_EQ(lineOf("add 1 512 0\n"), 1);
  EXPECT_EQ(lineOf(".function f\nret\n"), 1);
  EXPECT_EQ(lineOf("ret\n.end\n"), 2);
  EXPECT_EQ(lineOf("closure 0 later\n.function later\n.end\n"), 1);
  EXPECT_EQ(lineOf("x:\nx:\n"), 2);
  EXPECT_EQ(lineOf(".upvalue \"a\" from r1\n.upvalue \"b\"\n"), 2);
}

// With returns required (as vlasm requires them) a function whose code can
// run off its end is refused at its last instruction, nested ones too.
TEST(ChunkAsm, AFunctionThatCanRunOffItsEndIsRefused) {
  vlasm::Options strict;
  strict.requireReturn = true;
  auto lineOf = [&](const char* text) {
    try {
      vlasm::Parse(text, strict);
    } catch (const vlasm::AsmError& e) {
      EXPECT_NE(std::string(e.what()).find("can run off its end"), std::string::npos) << e.what();
      return e.line;
    }
    return -1;
  };
  EXPECT_EQ(lineOf("ret\n"), -1);
  EXPECT_EQ(lineOf(".call f\n; done\n\n"), 1);
  EXPECT_EQ(lineOf("loop:\n.call f\njump loop\n"), 3) << "the player wants a return last";
  EXPECT_EQ(lineOf(".function f\n  .call g\n  retsub\n.end\n.function h\n  .call g\n.end\nret\n"), 6);
  EXPECT_EQ(lineOf(".function f\n.end\nret\n"), 2) << "an empty function at its .end";
  EXPECT_NO_THROW(vlasm::Parse(".call f\n")) << "tests may still build such chunks";
}

// "lib.name" reaches a command through its library table.
TEST(ChunkAsm, CallFormReachesALibraryTableField) {
  const auto c = vlasm::Parse(".call base=1 sample.repeat \"ab\" 3 -> r\nret\n");
  const auto& code = c.main.code;
  ASSERT_EQ(code.size(), 7u);
  const auto& k = c.main.constants;
  ASSERT_EQ(vl::GetOp(code[0]), OP_GETGLOBAL);
  EXPECT_EQ(vl::GetA(code[0]), 1u);
  EXPECT_EQ(k.at(vl::GetBx(code[0])).text, "sample");
  ASSERT_EQ(vl::GetOp(code[1]), OP_GETFIELD);
  EXPECT_EQ(vl::GetA(code[1]), 1u);
  EXPECT_EQ(vl::GetB(code[1]), 1u);
  ASSERT_GE(vl::GetC(code[1]), vl::kRKConst);
  EXPECT_EQ(k.at(vl::GetC(code[1]) - vl::kRKConst).text, "repeat");
  EXPECT_EQ(code[4], vl::MakeABC(OP_CALL, 1, 3, 2));
  EXPECT_THROW(vlasm::Parse(".call sample. 1\nret\n"), vlasm::AsmError);
  EXPECT_THROW(vlasm::Parse(".call .x 1\nret\n"), vlasm::AsmError);
}

TEST(ChunkAsm, VlasmFrontEndWritesTheFile) {
  const fs::path dir = fs::temp_directory_path() / ("vl_vlasm_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path in = dir / "x.vlasm";
  {
    std::ofstream(in) << ".source \"@x\"\n  ret\n";
  }
  const char* vlasm = VL_VLASM_PATH;
  const std::string cmd = std::string(vlasm) + " --big -o '" + (dir / "x.chunk").string() + "' '" + in.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(ReadFile(dir / "x.chunk"), vlasm::Assemble(ReadText(in), true));
  std::ofstream(in) << "bogus\n";
  EXPECT_NE(std::system((cmd + " 2>/dev/null").c_str()), 0);
  std::ofstream(in) << ".call debugprint \"x\"\n";
  fs::remove(dir / "x.chunk");
  EXPECT_NE(std::system((cmd + " 2>/dev/null").c_str()), 0) << "no return at the end";
  EXPECT_FALSE(fs::exists(dir / "x.chunk"));
  // --labels lists the main function's code labels by the index of the
  // instruction each names (a nested function's labels are its own), in
  // code order, as an applet description's label lines.
  std::ofstream(in) << ".function f\nown:\n  ret\n.end\n  jump two\none:\n  .call debugprint \"x\"\ntwo:\n  ret\n";
  const std::string listed = (dir / "labels.txt").string();
  ASSERT_EQ(std::system((std::string(vlasm) + " --labels -o '" + (dir / "x.chunk").string() + "' '" + in.string() +
                         "' >'" + listed + "'")
                            .c_str()),
            0);
  EXPECT_EQ(ReadText(listed), "label one 1\nlabel two 4\n");
  EXPECT_EQ(vlasm::Parse(ReadText(in)).main.code.size(), 5u);
  fs::remove_all(dir);
}

// Runs vlasm on text written to in, output to out (removed first), its
// messages to err; the exit status.
int RunVlasm(const std::string& text, const fs::path& in, const fs::path& out, const fs::path& err) {
  std::ofstream(in) << text;
  fs::remove(out);
  const std::string cmd =
      std::string(VL_VLASM_PATH) + " -o '" + out.string() + "' '" + in.string() + "' 2>'" + err.string() + "'";
  return std::system(cmd.c_str());
}

// vlasm's messages are "file:line: text"; a .call of a name that neither a
// library registers nor the script sets is a warning (the chunk is still
// written) naming the nearest command.
TEST(ChunkAsm, VlasmNamesTheLineAndWarnsOfUnknownCommands) {
  const fs::path dir = fs::temp_directory_path() / ("vl_vlasm_names_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path in = dir / "n.vlasm", out = dir / "n.chunk", err = dir / "err.txt";
  auto run = [&](const std::string& text) { return RunVlasm(text, in, out, err); };
  EXPECT_NE(run(".line 1\n.call debugprint hello\nret\n"), 0);
  EXPECT_EQ(ReadText(err), in.string() + ":2: bad value 'hello': write text in quotes (\"hello\"), a global as "
                                         "$hello, a register as rN, and result names after ->\n");
  EXPECT_FALSE(fs::exists(out));

  ASSERT_EQ(run(".function f\n  ret\n.end\n.defun Mine f\n.call CreateDisplay 1\n.call creatdisplay 2\n"
                ".call debugprint \"x\" -> Got\n.call Mine\n.call Got\n.call sample.repeat \"a\" 2\n"
                ".call getconstnt \"#PI\"\nret\n"),
            0);
  EXPECT_TRUE(fs::exists(out)) << "warnings do not stop the chunk";
  EXPECT_EQ(ReadText(err),
            in.string() + ":5: warning: no library registers a command 'CreateDisplay'; command names are lower "
                          "case: 'createdisplay'\n" +
                in.string() + ":6: warning: no library registers a command 'creatdisplay'; the nearest is "
                              "'createdisplay'\n" +
                in.string() + ":11: warning: no library registers a command 'getconstnt'; the nearest is "
                              "'getconstant'\n");
  fs::remove_all(dir);
}

// vlasm loads what it wrote as the player does and names the text line of
// the instruction (or function) the player's verifier would refuse.
TEST(ChunkAsm, VlasmRefusesWhatThePlayerRefusesWithTheLine) {
  const fs::path dir = fs::temp_directory_path() / ("vl_vlasm_verify_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path in = dir / "v.vlasm", out = dir / "v.chunk", err = dir / "err.txt";
  auto run = [&](const std::string& text) { return RunVlasm(text, in, out, err); };
  // A comparison with no jump after it, in the main function after a
  // nested function that is fine (the loader's count must find main).
  EXPECT_NE(run(".function ok\n  ret\n.end\nloadk 0 #1\neq 0 0 #2\nret\n"), 0);
  EXPECT_EQ(ReadText(err), in.string() + ":5: the player would refuse this code (\"Bad bytecode!\"): "
                                         "a comparison or test must be followed by a jump\n");
  EXPECT_FALSE(fs::exists(out)) << "no chunk is left behind";
  // An upvalue read in a nested function that has no upvalues.
  EXPECT_NE(run(".function f\n  .line 2\n  getupval 0 0\n  ret\n.end\nret\n"), 0);
  EXPECT_NE(ReadText(err).find(":3: the player would refuse this code (\"Bad bytecode!\"): the upvalue index"),
            std::string::npos)
      << ReadText(err);
  // A rule of the function as a whole names the function's first line.
  EXPECT_NE(run("ret\n.function g\n  .params 3\n  .maxstack 2\n  ret\n.end\n"), 0);
  EXPECT_NE(ReadText(err).find(":2: the player would refuse this code (\"Bad bytecode!\"): the parameters"),
            std::string::npos)
      << ReadText(err);
  // What the player takes passes unchanged.
  EXPECT_EQ(run(".function f\n  .upvalue \"x\"\n  getupval 0 0\n  ret\n.end\nloadk 0 #1\neq 0 0 #2\njump done\n"
                "done:\nret\n"),
            0)
      << ReadText(err);
  EXPECT_TRUE(fs::exists(out));
  fs::remove_all(dir);
}

}  // namespace
