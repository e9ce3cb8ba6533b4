// Option-table readers and writers and number-or-percent arguments, on a
// real VM stack.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/errors.h"
#include "runtime/linked_files.h"
#include "runtime/option_readers.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
#include "vm/state.h"

namespace {

class OptionReaders : public testing::Test {
 protected:
  void SetUp() override {
    L = vl::OpenVmState();
    ASSERT_NE(L, nullptr);
    // the options table sits at index 1, a marker above it
    vl::PushNewTable(L);
    SetTableNumber(L, "width", 640);
    SetTableString(L, "title", "Hello");
    SetTableString(L, "size", "50%");
    SetTableString(L, "big", "150%");
    SetTableString(L, "neg", "-5%");
    SetTableString(L, "plain", "12.5");
    SetTableString(L, "junk", "abc");
    SetTableString(L, "hex", "$ff");
    SetTableString(L, "empty", "");
    SetTableInt(L, "zero", 0);
    SetTableUnsigned(L, "allbits", 0xFFFFFFFFu);
    SetTableNumber(L, "negfrac", -1.9);
    vl::PushString(L, "table");
    vl::PushNewTable(L);
    vl::RawSetTableValue(L, -3);
    vl::PushString(L, "marker");
  }
  void TearDown() override { vl::CloseVmState(L); }

  // Runs fn under protection; 0 or the raised code. The stack must be as
  // before in both cases.
  template <class F>
  int Run(F&& fn) {
    int top = vl::GetStackTop(L);
    int code = vl::RunProtectedFn(L, fn);
    EXPECT_EQ(vl::GetStackTop(L), top);
    return code;
  }

  vlVMState* L = nullptr;
};

TEST_F(OptionReaders, AbsentNilAndPresentKeys) {
  double d = -1;
  int found = 0;
  EXPECT_EQ(Run([&] { EXPECT_EQ(GetTableNumber(L, 1, "missing", &d, &found), 0); }), 0);
  EXPECT_EQ(d, -1);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(Run([&] { EXPECT_EQ(GetTableNumber(L, -2, "width", &d, &found), 1); }), 0);
  EXPECT_EQ(d, 640);
  EXPECT_EQ(found, 1);
  // a nil field leaves the output and the flag alone
  vl::PushString(L, "width");
  vl::PushNil(L);
  vl::RawSetTableValue(L, 1);
  found = 0;
  EXPECT_EQ(Run([&] { EXPECT_EQ(GetTableNumber(L, 1, "width", &d, &found), 0); }), 0);
  EXPECT_EQ(d, 640);
  EXPECT_EQ(found, 0);
  int32_t i = 0;
  EXPECT_EQ(Run([&] { GetTableInt(L, 1, "negfrac", &i, nullptr); }), 0);
  EXPECT_EQ(i, -1);
  EXPECT_EQ(Run([&] { GetTableInt(L, 1, "allbits", &i, nullptr); }), 0);
  EXPECT_EQ(i, -1);
  EXPECT_EQ(Run([&] { GetTableInt(L, 1, "hex", &i, nullptr); }), 0);
  EXPECT_EQ(i, 255);
}

TEST_F(OptionReaders, WrongTypesNameTheKey) {
  double d = 0;
  char buf[16];
  SetErrorArgument("");
  EXPECT_EQ(Run([&] { GetTableNumber(L, 1, "junk", &d, nullptr); }), ERR_NUMTABLEARG);
  EXPECT_STREQ(GetErrorArgument(), "junk");
  EXPECT_EQ(Run([&] { GetTableNumber(L, 1, "table", &d, nullptr); }), ERR_NUMTABLEARG);
  EXPECT_EQ(Run([&] { GetTableString(L, 1, "table", buf, sizeof buf, nullptr); }), ERR_STRTABLEARG);
  EXPECT_STREQ(GetErrorArgument(), "table");
}

TEST_F(OptionReaders, StringsAreCutAtTheCallersSize) {
  char buf[4] = {'x', 'x', 'x', 'x'};
  int found = 0;
  EXPECT_EQ(Run([&] { GetTableString(L, 1, "title", buf, 3, &found); }), 0);
  EXPECT_STREQ(buf, "He");
  EXPECT_EQ(buf[3], 'x');
  char num[32];
  EXPECT_EQ(Run([&] { GetTableString(L, 1, "width", num, sizeof num, nullptr); }), 0);
  EXPECT_STREQ(num, "640");
}

TEST_F(OptionReaders, BooleansFollowScriptTruth) {
  int b = -1;
  EXPECT_EQ(Run([&] { GetTableBool(L, 1, "zero", &b, nullptr); }), 0);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(Run([&] { GetTableBool(L, 1, "width", &b, nullptr); }), 0);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(Run([&] { GetTableBool(L, 1, "empty", &b, nullptr); }), 0);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(Run([&] { GetTableBool(L, 1, "title", &b, nullptr); }), 0);
  EXPECT_EQ(b, 1);
}

TEST_F(OptionReaders, Percentages) {
  int32_t v = 0;
  EXPECT_EQ(Run([&] { GetTableIntOrPercent(L, 1, "size", &v, 0, nullptr); }), 0);
  EXPECT_EQ(v, -50);
  EXPECT_EQ(Run([&] { GetTableIntOrPercent(L, 1, "big", &v, 0, nullptr); }), ERR_PERCENTFORMATSTR);
  EXPECT_STREQ(GetErrorArgument(), "big");
  EXPECT_EQ(Run([&] { GetTableIntOrPercent(L, 1, "big", &v, 1, nullptr); }), 0);
  EXPECT_EQ(v, -150);
  EXPECT_EQ(Run([&] { GetTableIntOrPercent(L, 1, "neg", &v, 1, nullptr); }), ERR_PERCENTFORMATSTR);
  EXPECT_EQ(Run([&] { GetTableIntOrPercent(L, 1, "junk", &v, 1, nullptr); }), ERR_PERCENTFORMATSTR);
  EXPECT_EQ(Run([&] { GetTableIntOrPercent(L, 1, "plain", &v, 0, nullptr); }), 0);
  EXPECT_EQ(v, 12);
  EXPECT_EQ(Run([&] { GetTableIntOrPercent(L, 1, "width", &v, 0, nullptr); }), 0);
  EXPECT_EQ(v, 640);
  double d = 0;
  int percent = 0;
  EXPECT_EQ(Run([&] { GetTableNumberOrPercent(L, 1, "size", &d, 640, 0, &percent, nullptr); }), 0);
  EXPECT_EQ(d, 320);
  EXPECT_EQ(percent, 0);
  EXPECT_EQ(Run([&] { GetTableNumberOrPercent(L, 1, "size", &d, 0, 0, &percent, nullptr); }), 0);
  EXPECT_EQ(d, 0.5);
  EXPECT_EQ(percent, 1);
}

TEST_F(OptionReaders, NumberOrPercentArguments) {
  vl::PushString(L, "25%");    // 3
  vl::PushNumber(L, 7.5);      // 4
  vl::PushNil(L);              // 5
  vl::PushString(L, "25x%");   // 6
  vl::PushNewTable(L);         // 7
  vl::PushString(L, "101%");   // 8
  int flag = 0;
  double d = 0;
  EXPECT_EQ(Run([&] { d = GetNumberOrPercentArg(L, 3, 640, 0, &flag); }), 0);
  EXPECT_EQ(d, 160);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(Run([&] { d = GetNumberOrPercentArg(L, 3, 0, 0, &flag); }), 0);
  EXPECT_EQ(d, 0.25);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(Run([&] { d = GetNumberOrPercentArg(L, 4, 640, 0, nullptr); }), 0);
  EXPECT_EQ(d, 7.5);
  EXPECT_EQ(Run([&] { d = GetNumberOrPercentArg(L, 5, 640, 0, nullptr); }), 0);
  EXPECT_EQ(d, 0);
  // "25x%" is a plain 25: only a '%' right after the number makes a percentage
  EXPECT_EQ(Run([&] { d = GetNumberOrPercentArg(L, 6, 640, 0, nullptr); }), 0);
  EXPECT_EQ(d, 25);
  EXPECT_EQ(Run([&] { GetNumberOrPercentArg(L, 7, 640, 0, nullptr); }), ERR_STRORNUM);
  EXPECT_EQ(GetErrorArgIndex(), 7);
  EXPECT_EQ(Run([&] { GetNumberOrPercentArg(L, 8, 640, 0, nullptr); }), ERR_PERCENTFORMAT);
  EXPECT_EQ(GetErrorArgIndex(), 8);
  EXPECT_EQ(Run([&] { GetNumberOrPercentArg(L, 2, 640, 0, nullptr); }), ERR_PERCENTFORMAT);
  EXPECT_EQ(Run([&] { GetNumberOrPercentArg(L, 20, 640, 0, nullptr); }), ERR_STRORNUM);
}

TEST_F(OptionReaders, ObjectIds) {
  int dummy = 0;
  vl::PushString(L, "auto");
  vl::PushPointer(L, &dummy);
  vl::RawSetTableValue(L, 1);
  vlObjectId id{-1, nullptr};
  EXPECT_EQ(Run([&] { GetTableObjectID(L, 1, "auto", &id, nullptr); }), 0);
  EXPECT_EQ(id.number, 0);
  EXPECT_EQ(id.handle, &dummy);
  EXPECT_EQ(Run([&] { GetTableObjectID(L, 1, "width", &id, nullptr); }), 0);
  EXPECT_EQ(id.number, 640);
  EXPECT_EQ(id.handle, nullptr);
  EXPECT_EQ(Run([&] { GetTableObjectID(L, 1, "title", &id, nullptr); }), ERR_NUMTABLEARG);
}

TEST_F(OptionReaders, LayerIdsFindNoNamedLayerYet) {
  int32_t layer = 0;
  EXPECT_EQ(Run([&] { GetTableLayerID(L, 1, "width", &layer, nullptr); }), 0);
  EXPECT_EQ(layer, 640);
  EXPECT_EQ(Run([&] { GetTableLayerID(L, 1, "title", &layer, nullptr); }), ERR_FINDLAYER);
  EXPECT_STREQ(GetErrorArgument(), "Hello");
  EXPECT_EQ(Run([&] { GetTableLayerID(L, 1, "table", &layer, nullptr); }), ERR_WRONGUSAGE);
}

TEST_F(OptionReaders, NumberListsStopAtTheCallersCount) {
  vl::PushString(L, "points");
  vl::PushNewTable(L);
  for (int i = 0; i < 6; ++i) {
    vl::PushNumber(L, i * 10);
    vl::RawSetTableIndex(L, -2, i);
  }
  vl::RawSetTableValue(L, 1);
  double out[5] = {0, 0, 0, 0, -7};
  int count = 0;
  EXPECT_EQ(Run([&] { GetTableNumberList(L, 1, "points", out, 4, 2, &count, nullptr); }), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(out[3], 30);
  EXPECT_EQ(out[4], -7);
  double many[10];
  EXPECT_EQ(Run([&] { GetTableNumberList(L, 1, "points", many, 10, 8, &count, nullptr); }), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run([&] { GetTableNumberList(L, 1, "width", many, 10, 0, &count, nullptr); }), ERR_TABEXPECTED2);
  vl::PushString(L, "points");
  vl::RawGetTableValue(L, 1);
  vl::PushString(L, "x");
  vl::RawSetTableIndex(L, -2, 2);
  vl::SetStackTop(L, -2);
  EXPECT_EQ(Run([&] { GetTableNumberList(L, 1, "points", many, 10, 0, &count, nullptr); }), ERR_NUMTABLEARG);
  EXPECT_STREQ(GetErrorArgument(), "points");
}

TEST_F(OptionReaders, ImageLists) {
  vlObjectId ids[4];
  int count = -1;
  EXPECT_EQ(Run([&] { EXPECT_EQ(GetTableImageList(L, 1, "brushes", ids, 4, &count), ERR_TABEXPECTED2); }), 0);
  EXPECT_STREQ(GetErrorArgument(), "brushes");
  int dummy = 0;
  vl::PushString(L, "images");
  vl::PushNewTable(L);
  vl::PushNumber(L, 3);
  vl::RawSetTableIndex(L, -2, 0);
  vl::PushPointer(L, &dummy);
  vl::RawSetTableIndex(L, -2, 1);
  vl::PushNumber(L, 9);
  vl::RawSetTableIndex(L, -2, 3);  // after the gap: not read
  vl::RawSetTableValue(L, 1);
  EXPECT_EQ(Run([&] { EXPECT_EQ(GetTableImageList(L, 1, "brushes", ids, 4, &count), 0); }), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(ids[0].number, 3);
  EXPECT_EQ(ids[1].handle, &dummy);
}

TEST_F(OptionReaders, FileNamesAreNewCopies) {
  char* name = nullptr;
  size_t len = 0;
  int found = 0;
  EXPECT_EQ(Run([&] { EXPECT_EQ(GetTableFileName(L, 1, "title", 1, nullptr, &name, &len, &found), 0); }), 0);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "Hello");
  EXPECT_EQ(len, 5u);
  EXPECT_EQ(found, 1);
  free(name);
  name = nullptr;
  found = 0;
  EXPECT_EQ(Run([&] { EXPECT_EQ(GetTableFileName(L, 1, "nofile", 1, nullptr, &name, &len, &found), 0); }), 0);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(found, 0);

  // a name of a file linked into the script becomes its chunk name
  ASSERT_EQ(AddLinkedFile("gfx/Pic.PNG", "", 100, 50), 0);
  vl::PushString(L, "pic");
  vl::PushString(L, "gfx\\pic.png");
  vl::RawSetTableValue(L, 1);
  EXPECT_EQ(Run([&] { EXPECT_EQ(GetTableFileName(L, 1, "pic", 1, nullptr, &name, &len, &found), 0); }), 0);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name).rfind(":::chunk", 0), 0u) << name;
  EXPECT_NE(std::string(name).find("*gfx/Pic.PNG?"), std::string::npos) << name;
  EXPECT_EQ(len, strlen(name));
  free(name);
  EXPECT_EQ(Run([&] { EXPECT_EQ(GetTableFileName(L, 1, "pic", 0, nullptr, &name, &len, &found), 0); }), 0);
  EXPECT_STREQ(name, "gfx\\pic.png");
  free(name);
  FreeLinkedFiles();
}

}  // namespace
