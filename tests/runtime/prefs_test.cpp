// The preferences store: tables saved under a temporary $HOME and read back
// into a real VM, the exact bytes of the file, damaged and foreign files,
// the three script commands and the table item reader on hostile input.
#include "runtime/prefs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/startup_records.h"
#include "runtime/table_items.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/call.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Prefs : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    char templ[] = "/tmp/vl-home-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    home_ = templ;
    const char* old = std::getenv("HOME");
    oldHome_ = old ? old : "";
    setenv("HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    setenv("HOME", oldHome_.c_str(), 1);
    std::filesystem::remove_all(home_);
    HandlerTest::TearDown();
  }
  std::string File(const char* id) const { return home_ + "/.vellamora-pix/preferences/" + id; }
  Bytes ReadFile(const char* id) const {
    std::ifstream in(File(id), std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), {}};
  }
  void WriteFile(const char* id, const Bytes& b) const {
    std::filesystem::create_directories(home_ + "/.vellamora-pix/preferences");
    std::ofstream(File(id), std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                    static_cast<std::streamsize>(b.size()));
  }
  // t[key] = number for the table on top.
  void SetNumber(const char* key, double n) {
    vl::PushString(L, key);
    vl::PushNumber(L, n);
    vl::RawSetTableValue(L, vl::GetStackTop(L) - 2);
  }
  void SetString(const char* key, const std::string& s) {
    vl::PushString(L, key);
    vl::PushBytes(L, s.data(), s.size());
    vl::RawSetTableValue(L, vl::GetStackTop(L) - 2);
  }
  double Number(int table, const char* key) {
    vl::PushString(L, key);
    vl::RawGetTableValue(L, table);
    double n = vl::GetTypeAt(L, -1) == VL_TNUMBER ? vl::ToNumberAt(L, -1) : -999;
    vl::SetStackTop(L, -2);
    return n;
  }
  std::string String(int table, const char* key) {
    vl::PushString(L, key);
    vl::RawGetTableValue(L, table);
    std::string s = vl::GetTypeAt(L, -1) == VL_TSTRING
                        ? std::string(vl::ToStringAt(L, -1), vl::GetStringLengthAt(L, -1))
                        : "<none>";
    vl::SetStackTop(L, -2);
    return s;
  }
  int Save(const char* id) { return vl::RunProtectedFn(L, [&] { result_ = SavePrefsTable(L, 1, id); }) ?: result_; }
  int Load(const char* id) { return vl::RunProtectedFn(L, [&] { result_ = LoadPrefsTable(L, 1, id); }) ?: result_; }

  std::string home_, oldHome_;
  int result_ = 0;
};

TEST_F(Prefs, ExactBytesOfASmallTable) {
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  SetNumber("x", 1.0);
  ASSERT_EQ(Save("com.example.game"), 0);
  const Bytes expected = {'P', 'R', 'F', 'S',
                          3, 0, 0, 0, 1, 'x',
                          2, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0,
                          0};
  EXPECT_EQ(ReadFile("com.example.game"), expected);
}

TEST_F(Prefs, RoundTripOfEveryKind) {
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  SetNumber("width", 1280);
  SetNumber("ratio", -0.125);
  SetString("name", std::string("Ann\0Lee", 7));
  vl::PushString(L, "nested");
  vl::PushNewTable(L);
  vl::PushNumber(L, 0);
  vl::PushString(L, "first");
  vl::RawSetTableValue(L, 3);
  vl::RawSetTableValue(L, 1);
  vl::PushString(L, "hook");
  ASSERT_EQ(vltest::PushScript(L, "loadk 0 #42\n setglobal 0 \"answer\"\n ret\n"), 0);
  vl::RawSetTableValue(L, 1);
  ASSERT_EQ(Save("rt"), 0);

  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  SetNumber("width", 640);   // replaced by the stored value
  SetNumber("keep", 3);      // not stored: stays
  ASSERT_EQ(Load("rt"), 0);
  EXPECT_EQ(Number(1, "width"), 1280);
  EXPECT_EQ(Number(1, "ratio"), -0.125);
  EXPECT_EQ(Number(1, "keep"), 3);
  EXPECT_EQ(String(1, "name"), std::string("Ann\0Lee", 7));
  vl::PushString(L, "nested");
  vl::RawGetTableValue(L, 1);
  ASSERT_EQ(vl::GetTypeAt(L, 2), VL_TTABLE);
  vl::RawGetTableIndex(L, 2, 0);
  EXPECT_STREQ(vl::ToStringAt(L, 3), "first");
  vl::SetStackTop(L, 1);
  vl::PushString(L, "hook");
  vl::RawGetTableValue(L, 1);
  ASSERT_EQ(vl::GetTypeAt(L, 2), VL_TFUNCTION);
  ASSERT_EQ(vl::RunProtectedFn(L, [&] { vl::CallFunction(L, 0, 0); }), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "answer"), 42);
}

TEST_F(Prefs, NothingStoredYetLeavesTheDefaults) {
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  SetNumber("volume", 64);
  EXPECT_EQ(Load("never.saved"), 0);
  EXPECT_EQ(Number(1, "volume"), 64);
  EXPECT_TRUE(std::filesystem::is_directory(home_ + "/.vellamora-pix/preferences"));
}

TEST_F(Prefs, ForeignShortAndDamagedFilesChangeNothing) {
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  SetNumber("volume", 64);
  WriteFile("foreign", {'P', 'N', 'G', 'S', VL_ITEM_END});
  EXPECT_EQ(Load("foreign"), ERR_FILEFORMAT);
  WriteFile("short", {'P', 'R'});
  EXPECT_EQ(Load("short"), ERR_READ);
  // A good first item, then a string whose length runs past the end.
  WriteFile("cut", {'P', 'R', 'F', 'S', VL_ITEM_STRING, 0, 0, 0, 6, 'v', 'o', 'l', 'u', 'm', 'e', VL_ITEM_NUMBER, 0,
                    0, 0, 0, 0, 0, 0, 0, VL_ITEM_STRING, 0, 0, 0, 1, 'k', VL_ITEM_STRING, 0xFF, 0xFF, 0xFF, 0xF0});
  EXPECT_EQ(Load("cut"), ERR_READ);
  WriteFile("badtag", {'P', 'R', 'F', 'S', 9, 0});
  EXPECT_EQ(Load("badtag"), ERR_FILEFORMAT);
  // A key of 257 bytes.
  std::string longKey = std::string("PRFS\x03\0\0\x01\x01", 9) + std::string(257, 'k') + std::string(9, '\x02') + '\0';
  WriteFile("longkey", Bytes(longKey.begin(), longKey.end()));
  EXPECT_EQ(Load("longkey"), ERR_WRONGUSAGE);
  EXPECT_EQ(Number(1, "volume"), 64);
  EXPECT_EQ(vl::GetStackTop(L), 1);
}

TEST_F(Prefs, TablesThatCannotBeStoredKeepTheOldFile) {
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  SetNumber("score", 10);
  ASSERT_EQ(Save("keep"), 0);
  Bytes before = ReadFile("keep");

  vl::PushString(L, "native");
  vl::PushNativeClosure(L, [](vlVMState*) { return 0; }, 0);
  vl::RawSetTableValue(L, 1);
  EXPECT_EQ(Save("keep"), ERR_NOVLFUNC);
  EXPECT_EQ(ReadFile("keep"), before);
  vl::PushString(L, "native");
  vl::PushBoolean(L, 1);
  vl::RawSetTableValue(L, 1);
  EXPECT_EQ(Save("keep"), ERR_WRONGUSAGE);
  EXPECT_EQ(ReadFile("keep"), before);

  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  vl::PushString(L, "self");
  vl::PushSlotCopy(L, 1);
  vl::RawSetTableValue(L, 1);
  EXPECT_EQ(Save("keep"), ERR_TABLEOVERFLOW);
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  SetNumber(std::string(257, 'k').c_str(), 1);
  EXPECT_EQ(Save("keep"), ERR_WRONGUSAGE);
  EXPECT_EQ(ReadFile("keep"), before);
  EXPECT_EQ(vl::GetStackTop(L), 1);
}

TEST_F(Prefs, UnwritableStoreNamesTheFile) {
  std::filesystem::create_directories(home_ + "/.vellamora-pix");
  std::ofstream(home_ + "/.vellamora-pix/preferences") << "a file, not a directory";
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  EXPECT_EQ(Save("app"), ERR_WRITEFILE);
  EXPECT_EQ(std::string(GetErrorArgument()), home_ + "/.vellamora-pix/preferences/app");
}

TEST_F(Prefs, CommandsUseTheAppletIdentifier) {
  vlAppletInfo applet{};
  vl::SetRegistryPointer(L, "applet", &applet);
  auto table = [&] { vl::PushNewTable(L); };
  EXPECT_EQ(Call(CmdSavePrefs, table), ERR_WRONGUSAGE);
  EXPECT_EQ(Call(CmdLoadPrefs, table), ERR_WRONGUSAGE);
  EXPECT_EQ(Call(CmdDeletePrefs), ERR_WRONGUSAGE);

  std::snprintf(applet.identifier, sizeof applet.identifier, "%s", "org.test.prefs");
  EXPECT_EQ(Call(CmdSavePrefs, [&] {
              table();
              SetNumber("level", 5);
            }),
            0);
  EXPECT_TRUE(std::filesystem::exists(File("org.test.prefs")));
  EXPECT_EQ(Call(CmdLoadPrefs, table), 0);
  EXPECT_EQ(Number(1, "level"), 5);
  EXPECT_EQ(Call(CmdSavePrefs, [&] { vl::PushNumber(L, 1); }), ERR_TABEXPECTED);
  EXPECT_EQ(Call(CmdDeletePrefs), 0);
  EXPECT_FALSE(std::filesystem::exists(File("org.test.prefs")));
  EXPECT_EQ(Call(CmdDeletePrefs), 0);  // already gone: fine
  EXPECT_EQ(Call(CmdDeletePrefs, [&] { vl::PushNumber(L, 1); }), ERR_TOOMANYARGS);
}

}  // namespace
