// The argument readers, table-driven over the awkward inputs, with the
// error codes, the argument index and the field name reaching the real
// error system's message texts.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/errors.h"
#include "tests/vm/vm_test_util.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/gc.h"
#include "vm/stack_api.h"

namespace {

class ArgReaders : public vltest::VmTest {
 protected:
  void SetUp() override {
    VmTest::SetUp();
    L->g->host.setErrorArgIndex = [](vlVMState*, int32_t index) { SetErrorArgIndex(index); };
    L->g->host.setErrorArgument = [](vlVMState*, const char* text) { SetErrorArgument(text); };
    SetErrorArgIndex(0);
    SetErrorArgument("");
  }

  // The message of a code as the error requester would show it.
  std::string Message(int code) {
    char text[kErrorTextSize];
    GetErrorText(code, text, sizeof text);
    return text;
  }
};

enum class In { kMissing, kNil, kHex0x, kHexDollar, kWord, kMinus19, kU32Max, kTwo31, kNaN, kBig };

const char* Name(In in) {
  static const char* names[] = {"missing", "nil", "\"0x10\"", "\"$ff\"", "\"abc\"", "-1.9", "4294967295", "2147483648", "NaN", "1e20"};
  return names[static_cast<int>(in)];
}

// Argument 1 is a placeholder so that the index under test is 2.
void PushCase(vlVMState* L, In in) {
  vl::SetStackTop(L, 0);
  vl::PushString(L, "first");
  switch (in) {
    case In::kMissing: break;
    case In::kNil: vl::PushNil(L); break;
    case In::kHex0x: vl::PushString(L, "0x10"); break;
    case In::kHexDollar: vl::PushString(L, "$ff"); break;
    case In::kWord: vl::PushString(L, "abc"); break;
    case In::kMinus19: vl::PushNumber(L, -1.9); break;
    case In::kU32Max: vl::PushNumber(L, 4294967295.0); break;
    case In::kTwo31: vl::PushNumber(L, 2147483648.0); break;
    case In::kNaN: vl::PushNumber(L, std::numeric_limits<double>::quiet_NaN()); break;
    case In::kBig: vl::PushNumber(L, 1e20); break;
  }
}

struct NumberRow {
  In in;
  int checkCode;     // CheckNumberArg / CheckIntArg error, 0 for none
  double number;     // CheckNumberArg (NaN compared as NaN)
  double optNumber;  // OptNumberArg with default 7.5
  int32_t integer;   // CheckIntArg
  int32_t optInt;    // OptIntArg with default 7
};

TEST_F(ArgReaders, NumberAndIntegerReaders) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const NumberRow rows[] = {
      {In::kMissing, 1138, 0, 7.5, 0, 7},
      {In::kNil, 0, 0, 0, 0, 0},
      {In::kHex0x, 0, 16, 16, 16, 16},
      {In::kHexDollar, 0, 255, 255, 255, 255},
      {In::kWord, 1138, 0, 0, 0, 0},
      {In::kMinus19, 0, -1.9, -1.9, -1, -1},
      {In::kU32Max, 0, 4294967295.0, 4294967295.0, -1, -1},
      {In::kTwo31, 0, 2147483648.0, 2147483648.0, INT32_MIN, INT32_MIN},
      {In::kNaN, 0, nan, nan, 0, 0},
      {In::kBig, 0, 1e20, 1e20, 0, 0},
  };
  for (const NumberRow& row : rows) {
    SCOPED_TRACE(Name(row.in));
    double n = -99, on = -99;
    int32_t i = -99, oi = -99;
    SetErrorArgIndex(0);
    PushCase(L, row.in);
    EXPECT_EQ(Protect([&] { n = vl::CheckNumberArg(L, 2); }), row.checkCode);
    PushCase(L, row.in);
    EXPECT_EQ(Protect([&] { i = vl::CheckIntArg(L, 2); }), row.checkCode);
    if (row.checkCode) {
      EXPECT_EQ(GetErrorArgIndex(), 2);
      EXPECT_EQ(Message(row.checkCode), "Number expected in argument 2!");
    } else {
      if (std::isnan(row.number)) EXPECT_TRUE(std::isnan(n));
      else EXPECT_EQ(n, row.number);
      EXPECT_EQ(i, row.integer);
    }
    bool optFails = row.in == In::kWord;
    PushCase(L, row.in);
    EXPECT_EQ(Protect([&] { on = vl::OptNumberArg(L, 2, 7.5); }), optFails ? 1138 : 0);
    PushCase(L, row.in);
    EXPECT_EQ(Protect([&] { oi = vl::OptIntArg(L, 2, 7); }), optFails ? 1138 : 0);
    if (!optFails) {
      if (std::isnan(row.optNumber)) EXPECT_TRUE(std::isnan(on));
      else EXPECT_EQ(on, row.optNumber);
      EXPECT_EQ(oi, row.optInt);
    }
  }
}

TEST_F(ArgReaders, StringReaders) {
  struct Row {
    In in;
    int code;
    const char* text;  // null: only checked for presence
    const char* optText;
  } rows[] = {
      {In::kMissing, 1139, nullptr, "dflt"},
      {In::kNil, 0, "", ""},
      {In::kHex0x, 0, "0x10", "0x10"},
      {In::kWord, 0, "abc", "abc"},
      {In::kMinus19, 0, "-1.9", "-1.9"},
      {In::kU32Max, 0, "4294967295", "4294967295"},
      {In::kBig, 0, "1e+20", "1e+20"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Name(row.in));
    const char* s = nullptr;
    size_t len = 99;
    PushCase(L, row.in);
    EXPECT_EQ(Protect([&] { s = vl::CheckStringArg(L, 2, &len); }), row.code);
    if (row.code) {
      EXPECT_EQ(GetErrorArgIndex(), 2);
      EXPECT_EQ(Message(row.code), "String expected in argument 2!");
    } else {
      ASSERT_NE(s, nullptr);
      EXPECT_STREQ(s, row.text);
      EXPECT_EQ(len, std::strlen(row.text));
      // A number or nil argument is left converted in its slot.
      EXPECT_EQ(vl::GetTypeAt(L, 2), VL_TSTRING);
    }
    PushCase(L, row.in);
    len = 99;
    EXPECT_EQ(Protect([&] { s = vl::OptStringArg(L, 2, "dflt", &len); }), 0);
    EXPECT_STREQ(s, row.optText);
    EXPECT_EQ(len, std::strlen(row.optText));
  }
  PushCase(L, In::kMissing);
  size_t len = 99;
  EXPECT_EQ(Protect([&] { EXPECT_EQ(vl::OptStringArg(L, 2, nullptr, &len), nullptr); }), 0);
  EXPECT_EQ(len, 0u);
  // A table has no text.
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  EXPECT_EQ(Protect([&] { vl::CheckStringArg(L, 1, nullptr); }), 1139);
  EXPECT_EQ(GetErrorArgIndex(), 1);
}

int Handler(vlVMState*) { return 0; }

TEST_F(ArgReaders, TypeCheckersAndPointers) {
  int block = 0;
  vl::SetStackTop(L, 0);
  vl::PushNil(L);               // 1
  vl::PushNumber(L, 5);         // 2
  vl::PushString(L, "7");       // 3
  vl::PushNewTable(L);          // 4
  vl::PushNativeClosure(L, Handler, 0);  // 5
  vl::PushPointer(L, &block);   // 6
  void* full = vl::PushNewUserdata(L, 16);  // 7
  vl::PushPointer(L, nullptr);  // 8

  EXPECT_EQ(Protect([&] { vl::CheckArgType(L, 2, VL_TNUMBER); }), 0);
  EXPECT_EQ(Protect([&] { vl::CheckArgType(L, 1, VL_TNUMBER); }), 1138);  // nil is no number here
  EXPECT_EQ(GetErrorArgIndex(), 1);
  EXPECT_EQ(Protect([&] { vl::CheckArgType(L, 3, VL_TNUMBER); }), 1138);  // nor a numeric string
  EXPECT_EQ(Protect([&] { vl::CheckArgType(L, 2, VL_TSTRING); }), 1139);
  EXPECT_EQ(Protect([&] { vl::CheckArgType(L, 2, VL_TTABLE); }), 1140);
  EXPECT_EQ(Message(1140), "Table expected in argument 2!");
  EXPECT_EQ(Protect([&] { vl::CheckArgType(L, 4, VL_TFUNCTION); }), 1185);
  EXPECT_EQ(Protect([&] { vl::CheckArgType(L, 2, VL_TUSERDATA); }), 1492);
  EXPECT_EQ(Protect([&] { vl::CheckArgType(L, 9, VL_TBOOLEAN); }), 1492);
  EXPECT_EQ(GetErrorArgIndex(), 9);
  EXPECT_EQ(Protect([&] { vl::CheckTableArg(L, 4); }), 0);
  EXPECT_EQ(Protect([&] { vl::CheckTableArg(L, 5); }), 1140);
  EXPECT_EQ(Protect([&] { vl::CheckFunctionArg(L, 5); }), 0);
  EXPECT_EQ(Protect([&] { vl::CheckFunctionArg(L, 4); }), 1185);
  EXPECT_EQ(GetErrorArgIndex(), 4);

  void* p = nullptr;
  EXPECT_EQ(Protect([&] { p = vl::CheckPointerArg(L, 6); }), 0);
  EXPECT_EQ(p, &block);
  EXPECT_EQ(Protect([&] { p = vl::CheckPointerArg(L, 7); }), 0);
  EXPECT_EQ(p, full);
  for (int bad : {1, 2, 3, 4, 8, 12}) {
    EXPECT_EQ(Protect([&] { vl::CheckPointerArg(L, bad); }), 1492) << bad;
    EXPECT_EQ(GetErrorArgIndex(), bad);
  }
  EXPECT_EQ(Message(1492), "Userdata expected in argument 12!");
}

TEST_F(ArgReaders, FieldReadersNameTheField) {
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  auto set = [&](const char* key, auto push) {
    vl::PushString(L, key);
    push();
    vl::RawSetTableValue(L, 1);
  };
  set("width", [&] { vl::PushNumber(L, 4294967295.0); });
  set("height", [&] { vl::PushString(L, "$10"); });
  set("title", [&] { vl::PushString(L, "Main"); });
  set("count", [&] { vl::PushNumber(L, 12); });
  set("flag", [&] { vl::PushBoolean(L, 1); });

  double d = 0;
  int32_t i = 0;
  const char* s = nullptr;
  size_t len = 0;
  EXPECT_EQ(Protect([&] { d = vl::CheckNumberField(L, 1, "height"); }), 0);
  EXPECT_EQ(d, 16);
  EXPECT_EQ(Protect([&] { i = vl::CheckIntField(L, -1, "width"); }), 0);
  EXPECT_EQ(i, -1);
  EXPECT_EQ(Protect([&] { s = vl::CheckStringField(L, 1, &len, "title"); }), 0);
  EXPECT_STREQ(s, "Main");
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(Protect([&] { s = vl::CheckStringField(L, 1, &len, "count"); }), 0);
  EXPECT_STREQ(s, "12");
  EXPECT_EQ(vl::GetStackTop(L), 1);  // every value read is popped again

  EXPECT_EQ(Protect([&] { vl::CheckNumberField(L, 1, "title"); }), 1189);
  EXPECT_STREQ(GetErrorArgument(), "title");
  EXPECT_EQ(Message(1189), "Number expected in table argument \"title\"!");
  // A missing field reads as nil does: 0 and the empty text.
  EXPECT_EQ(Protect([&] { i = vl::CheckIntField(L, 1, "missing"); }), 0);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(Protect([&] { s = vl::CheckStringField(L, 1, &len, "missing"); }), 0);
  EXPECT_STREQ(s, "");
  EXPECT_EQ(Protect([&] { vl::CheckIntField(L, 1, "flag"); }), 1189);
  EXPECT_STREQ(GetErrorArgument(), "flag");
  EXPECT_EQ(Protect([&] { vl::CheckStringField(L, 1, nullptr, "flag"); }), 1247);
  EXPECT_EQ(Message(1247), "String expected in table argument \"flag\"!");
}

TEST_F(ArgReaders, ConvertedFieldTextSurvivesACollection) {
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  vl::PushString(L, "n");
  vl::PushNumber(L, 123456.5);
  vl::RawSetTableValue(L, 1);
  const char* s = nullptr;
  ASSERT_EQ(Protect([&] { s = vl::CheckStringField(L, 1, nullptr, "n"); }), 0);
  // The table holds only the number; the text must not go with the next
  // collection while the caller still uses it.
  vl::CollectGarbage(L);
  EXPECT_STREQ(s, "123456.5");
}

}  // namespace
