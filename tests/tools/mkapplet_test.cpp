// mkapplet refuses a description line the player would refuse, naming the
// line and what is wrong, and writes no container then.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

namespace {

namespace fs = std::filesystem;

// A little-endian chunk whose main function has four instructions (their
// words are not checked here) and one nested function of two, written
// field by field as the chunk layout has them.
std::string FourInstructionChunk() {
  std::string b = "\x1bVLB\x01" + std::string("\x04\x04\x04\x06\x08\x09\x09\x08", 8) + std::string(8, '\x11');
  auto u32 = [&b](uint32_t v) {
    for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> (8 * i));
  };
  auto function = [&](uint32_t code, bool nested, auto& self) -> void {
    u32(3), b += std::string("@a", 2) + '\0';  // source
    u32(0), b += std::string(4, '\0');         // line defined, counts
    u32(1), u32(7);                             // one line
    u32(1), u32(2), b += std::string("i\0", 2), u32(0), u32(1);  // one local
    u32(0);                                                      // no upvalue names
    u32(2), b += '\x03', b += std::string(8, '\0'), b += '\x04', u32(2), b += std::string("s\0", 2);
    u32(nested ? 1 : 0);
    if (nested) self(2, false, self);
    u32(code);
    for (uint32_t i = 0; i < code; ++i) u32(0x1E);
  };
  function(4, true, function);
  return b;
}

class MkApplet : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vl_mkapplet_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "x.chunk", std::ios::binary) << FourInstructionChunk();
    std::ofstream(dir_ / "pic.bin", std::ios::binary) << "picture bytes";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs mkapplet on a description; its exit status, its messages in *err.
  int Run(const std::string& description, std::string* err) {
    std::ofstream(dir_ / "x.desc") << description;
    fs::remove(dir_ / "x.vla");
    std::string cmd = "cd '" + dir_.string() + "' && '" VL_MKAPPLET_PATH "' -d x.desc -o x.vla x.chunk 2>err.txt";
    int status = std::system(cmd.c_str());
    std::ifstream in(dir_ / "err.txt");
    err->assign(std::istreambuf_iterator<char>(in), {});
    return status;
  }

  fs::path dir_;
};

TEST_F(MkApplet, RefusesArgumentsThePlayerWouldRefuseAndNamesTheLine) {
  const struct {
    const char* line;
    const char* message;
  } cases[] = {
      {"display 1 x y Z", "x.desc:2: display: WIDTH must be a whole number of 1 or more, not 'x'\n"},
      {"display 1 320 0 Z", "x.desc:2: display: HEIGHT must be a whole number of 1 or more, not '0'\n"},
      {"display one 320 200", "x.desc:2: display: ID must be a whole number of 0 or more, not 'one'\n"},
      {"display 1 320", "x.desc:2: display: HEIGHT is missing\n"},
      {"linkedfile logo.png missing.png",
       "x.desc:2: linkedfile: cannot read the host file 'missing.png' to link as 'logo.png'\n"},
      {"linkedfile logo.png", "x.desc:2: linkedfile: HOSTFILE is missing\n"},
      {"revision 7 0", "x.desc:2: revision: the player runs applets made for 6.1 and older, not 7.0\n"},
      {"header 9 x",
       "x.desc:2: header: N (1 title, 2 version, 3 copyright, 4 author, 5 description) must be a whole number "
       "from 1 to 5, not '9'\n"},
      {"constant 1abc 5",
       "x.desc:2: constant: NAME '1abc' must start with a letter or '_' and hold only letters, digits and '_'\n"},
      {"constant x \"abc", "x.desc:2: constant: the text \"abc has no closing '\"'\n"},
      {"constant x 12abc", "x.desc:2: constant: '12abc' is neither a number nor a \"TEXT\"\n"},
      {"label start", "x.desc:2: label: VALUE (an instruction index of the main chunk) is missing\n"},
      // A jump to a label past the main chunk's code would do nothing.
      {"label start 4",
       "x.desc:2: label: VALUE (an instruction index of the main chunk) must be a whole number from 0 to 3, not "
       "'4'\n"},
      {"label start 99999",
       "x.desc:2: label: VALUE (an instruction index of the main chunk) must be a whole number from 0 to 3, not "
       "'99999'\n"},
      // The player looks names up in any case: the second would hide the first.
      {"label start 1\nlabel START 2",
       "x.desc:3: label: NAME 'START' is already a label (line 2; names are matched in any case)\n"},
      {"include 5 3 0 a.vl main", "x.desc:2: include: LAST must be a whole number of 5 or more, not '3'\n"},
      {"compress now", "x.desc:2: compress: unexpected 'now' at the end\n"},
      {"displays 1 2 3", "x.desc:2: displays: unknown declaration (mkapplet --help lists them)\n"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_NE(Run(std::string("revision 6 1\n") + c.line + "\n", &err), 0) << c.line;
    EXPECT_EQ(err, c.message) << c.line;
    EXPECT_FALSE(fs::exists(dir_ / "x.vla")) << c.line;
  }
  // The player ends names and texts at a zero byte and reads a title's
  // length as a signed 16-bit word.
  const std::pair<std::string, std::string> bytes[] = {
      {std::string("label ON\0X 1", 12), "x.desc:2: label: a zero byte at column 9 (the player ends each name and text at the first one)\n"},
      {std::string("header 1 A\0B", 12), "x.desc:2: header: a zero byte at column 11 (the player ends each name and text at the first one)\n"},
      {std::string("lab\0el x 1", 10), "x.desc:2: lab: a zero byte at column 4 (the player ends each name and text at the first one)\n"},
      {"display 1 320 200 " + std::string(32768, 'T'), "x.desc:2: display: TITLE is longer than 32767 bytes\n"},
  };
  for (const auto& [line, message] : bytes) {
    std::string err;
    EXPECT_NE(Run("revision 6 1\n" + line + "\n", &err), 0) << line.size();
    EXPECT_EQ(err, message);
    EXPECT_FALSE(fs::exists(dir_ / "x.vla"));
  }
  // Display records are laid out as revision 6 writes them.
  std::string err;
  EXPECT_NE(Run("display 1 320 200 Title\n", &err), 0);
  EXPECT_EQ(err, "x.desc:1: display: needs a 'revision 6 1' line\n");
  EXPECT_NE(Run("revision 5 0\n# a comment\ndisplay 1 320 200 Title\n", &err), 0);
  EXPECT_EQ(err, "x.desc:3: display: needs a 'revision 6 1' line (the description says revision 5)\n");
}

TEST_F(MkApplet, AcceptsEveryWellFormedDeclaration) {
  std::string err;
  EXPECT_EQ(Run("revision 6 1\nheader 1 A title with blanks\nidentifier org.example.x\n"
                "display 0 320 200 My window\nconstant greeting \"hello there\"\nconstant half -0.5\n"
                "label start 3\nlinkedfile pic.png pic.bin\ninclude 1 9 0 inc.vl main\nwarning 4 careful\n"
                "skipoverrides\ncompress\n",
                &err),
            0)
      << err;
  EXPECT_EQ(err, "");
  EXPECT_TRUE(fs::exists(dir_ / "x.vla"));
}

// Assembler source (or anything else) given where the chunk belongs is
// refused, as the player would refuse it, and no container is written; a
// chunk cut short leaves a label line nothing to be checked against.
TEST_F(MkApplet, RefusesAChunkWithoutTheSignature) {
  // A chunk cut short cannot have its labels checked.
  std::string cut = FourInstructionChunk();
  std::ofstream(dir_ / "x.chunk", std::ios::binary) << cut.substr(0, cut.size() - 1);
  std::string err;
  EXPECT_NE(Run("label start 0\n", &err), 0);
  EXPECT_EQ(err, "x.desc:1: label: the chunk's main function cannot be read to check VALUE\n");
  for (const char* text : {"ret\n", "\x1bVL", ""}) {
    std::ofstream(dir_ / "x.chunk", std::ios::binary) << text;
    std::string err;
    EXPECT_EQ(Run("revision 6 1\n", &err), 256) << text;
    EXPECT_EQ(err, "mkapplet: 'x.chunk' is not an assembled chunk (it does not start with the chunk signature); "
                   "assemble it with vlasm first\n");
    EXPECT_FALSE(fs::exists(dir_ / "x.vla"));
  }
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// --link writes the player with the container appended and the marker
// block's offset field (big-endian, after the text and two zero bytes)
// pointing at it, byte for byte, executable; a program without exactly
// one unlinked marker block, or an output that is the player itself, is
// refused and nothing is written.
TEST_F(MkApplet, LinkAppendsTheContainerAndPointsTheMarkerAtIt) {
  const std::string marker = std::string("Zephlin Brokwend Entertainment") + std::string("\0\0\xDE\xAD\xC0\xDE", 6) +
                             std::string("\xC0\xDE\xCA\xFE\xC0\xCA\xC0\x1A\0", 9);
  const std::string program = std::string(1000, 'p') + marker + std::string(300, 'q');
  std::ofstream(dir_ / "player", std::ios::binary) << program;
  std::ofstream(dir_ / "x.desc") << "revision 6 1\nheader 1 Linked\n";
  auto link = [&](const std::string& player, const std::string& out) {
    fs::remove(dir_ / "err.txt");
    std::string cmd = "cd '" + dir_.string() + "' && '" VL_MKAPPLET_PATH "' -d x.desc --link " + player + " -o " + out +
                      " x.chunk 2>err.txt";
    return std::system(cmd.c_str());
  };
  std::string err;
  ASSERT_EQ(Run("revision 6 1\nheader 1 Linked\n", &err), 0) << err;
  const std::string container = ReadAll(dir_ / "x.vla");
  ASSERT_EQ(link("player", "game"), 0) << ReadAll(dir_ / "err.txt");
  std::string expected = program + container;
  const uint32_t at = static_cast<uint32_t>(program.size());
  for (int i = 0; i < 4; ++i) expected[1000 + 32 + i] = static_cast<char>(at >> (24 - 8 * i));
  EXPECT_EQ(ReadAll(dir_ / "game"), expected);
  EXPECT_EQ(fs::status(dir_ / "game").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);

  // Plug-ins ride ahead of the container in a block of their own, each
  // named without ".vlp" and ended by an empty name.
  std::ofstream(dir_ / "one.vlp", std::ios::binary) << "first plug-in";
  std::ofstream(dir_ / "two", std::ios::binary) << "2";
  fs::remove(dir_ / "err.txt");
  ASSERT_EQ(std::system(("cd '" + dir_.string() + "' && '" VL_MKAPPLET_PATH "' -d x.desc --link player --plugin one.vlp "
                         "--plugin two -o withplugins x.chunk 2>err.txt")
                            .c_str()),
            0)
      << ReadAll(dir_ / "err.txt");
  const std::string block = std::string("VLP!\0\0\0\0", 8) + std::string("one\0\0\0\0\x0D", 8) + "first plug-in" +
                            std::string("two\0\0\0\0\x01", 8) + "2" + std::string(1, '\0');
  EXPECT_EQ(ReadAll(dir_ / "withplugins"), expected.substr(0, program.size()) + block + container);
  EXPECT_NE(std::system(("cd '" + dir_.string() + "' && '" VL_MKAPPLET_PATH "' --link player --plugin one.vlp "
                         "--plugin one.vlp -o twice x.chunk 2>err.txt")
                            .c_str()),
            0);
  EXPECT_EQ(ReadAll(dir_ / "err.txt"), "mkapplet: the plug-in 'one' is given twice\n");
  EXPECT_NE(std::system(("cd '" + dir_.string() + "' && '" VL_MKAPPLET_PATH "' --plugin one.vlp -o x.vla x.chunk "
                         "2>/dev/null")
                            .c_str()),
            0)
      << "a plug-in needs --link";

  // Linked already, no marker, two markers, the player as the output.
  EXPECT_NE(link("game", "again"), 0);
  EXPECT_EQ(ReadAll(dir_ / "err.txt"),
            "mkapplet: 'game' already has an applet linked into it; link into the player itself\n");
  std::ofstream(dir_ / "plain", std::ios::binary) << std::string(2000, 'p');
  EXPECT_NE(link("plain", "again"), 0);
  EXPECT_EQ(ReadAll(dir_ / "err.txt"),
            "mkapplet: 'plain' is not the player program: it has no marker block to link an applet into\n");
  std::ofstream(dir_ / "twice", std::ios::binary) << program + marker;
  EXPECT_NE(link("twice", "again"), 0);
  EXPECT_NE(ReadAll(dir_ / "err.txt").find("more than one marker block"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "again"));
  EXPECT_NE(link("player", "./player"), 0);
  EXPECT_EQ(ReadAll(dir_ / "err.txt"), "mkapplet: the output would overwrite the player 'player'\n");
  EXPECT_EQ(ReadAll(dir_ / "player"), program);
  // Without -o a linked program has no name to take.
  EXPECT_NE(std::system(("cd '" + dir_.string() + "' && '" VL_MKAPPLET_PATH "' --link player x.chunk 2>/dev/null").c_str()),
            0);
}

}  // namespace
