// Constant references against registered constants.
#include <gtest/gtest.h>

#include "runtime/constant_ref.h"
#include "runtime/messages.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/state.h"

namespace {

TEST(ConstantRef, ReadsRegisteredConstants) {
  vlVMState* L = vl::OpenVmState();
  static const vlConstant kList[] = {
      {"MODE_READ", nullptr, 1005}, {"GREETING", "hello", 0}, {"SAY!", nullptr, 3}, {nullptr, nullptr, 0}};
  vl::RegisterConstants(L, kList, 0);
  const char* text = "x";
  double number = 0;
  int length = 0;
  EXPECT_EQ(ParseConstantRef(L, "#mode_read+1", &text, &number, &length), 0);
  EXPECT_EQ(number, 1005);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(length, 10);
  EXPECT_EQ(ParseConstantRef(L, "#Greeting", &text, &number, &length), 0);
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(ParseConstantRef(L, "#say!", &text, &number, &length), 0);
  EXPECT_EQ(number, 3);
  EXPECT_EQ(length, 5);
  EXPECT_EQ(ParseConstantRef(L, "#1abc", &text, &number, &length), ERR_SYNTAXERROR);
  EXPECT_EQ(ParseConstantRef(L, "mode_read", &text, &number, &length), ERR_WRONGUSAGE);
  EXPECT_EQ(ParseConstantRef(L, "#nothing", &text, &number, &length), ERR_FINDCST);
  // a name longer than 64 characters is cut there and not found
  std::string longName = "#" + std::string(100, 'a');
  EXPECT_EQ(ParseConstantRef(L, longName.c_str(), &text, &number, &length), ERR_FINDCST);
  vl::CloseVmState(L);
}

TEST(ConstantRef, ErrorConstantsRegisterAsScriptConstants) {
  vlVMState* L = vl::OpenVmState();
  vl::RegisterConstants(L, ErrorConstants().data(), 0);
  double number = 0;
  int length = 0;
  EXPECT_EQ(ParseConstantRef(L, "#err_readfile", nullptr, &number, &length), 0);
  EXPECT_EQ(number, ERR_READFILE);
  EXPECT_EQ(ParseConstantRef(L, "#ERR_FILEFORMAT)", nullptr, &number, &length), 0);
  EXPECT_EQ(number, ERR_FILEFORMAT);
  EXPECT_EQ(length, 15);
  vl::CloseVmState(L);
}

}  // namespace
