// The string builder, named metatables, metafields, callback readers, name
// lists and command registration.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "tests/vm/vm_test_util.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

using vltest::VmTest;

std::string TopString(vlVMState* L) {
  size_t n = vl::GetStringLengthAt(L, -1);
  const char* s = vl::ToStringAt(L, -1);
  return s ? std::string(s, n) : std::string();
}

class StrBuf : public VmTest {};

TEST_F(StrBuf, LongTopValueJoinsTheBlockAsOnePiece) {
  ASSERT_EQ(Protect([&] {
    vlStrBuf b;
    vl::InitStrBuf(L, &b);
    vl::AddStringToStrBuf(&b, "0123456789");
    std::string big(3000, 'x');
    vl::PushBytes(L, big.data(), big.size());
    vl::AddTopToStrBuf(&b);
    EXPECT_EQ(b.pieces, 1);  // block and value merged: the shorter piece sits below
    vl::PushStrBufResult(&b);
    EXPECT_EQ(vl::GetStackTop(L), 1);
    EXPECT_EQ(vl::GetStringLengthAt(L, -1), 3010u);
    EXPECT_EQ(TopString(L), "0123456789" + big);
  }), 0);
}

TEST_F(StrBuf, ShortTopValueIsCopiedIntoTheBlock) {
  ASSERT_EQ(Protect([&] {
    vlStrBuf b;
    vl::InitStrBuf(L, &b);
    vl::AddStringToStrBuf(&b, "ab");
    vl::PushNumber(L, 12);  // numbers are taken as their text
    vl::AddTopToStrBuf(&b);
    EXPECT_EQ(b.pieces, 0);
    EXPECT_EQ(vl::GetStackTop(L), 0);
    char* block = vl::PrepStrBuf(&b);  // flushes "ab12"
    EXPECT_EQ(b.pieces, 1);
    std::memcpy(block, "!?", 2);
    b.p = block + 2;
    vl::PushStrBufResult(&b);
    EXPECT_EQ(TopString(L), "ab12!?");
    vlStrBuf empty;
    vl::InitStrBuf(L, &empty);
    vl::PushStrBufResult(&empty);
    EXPECT_EQ(TopString(L), "");
  }), 0);
}

TEST_F(StrBuf, TenMegabytesStayInFewPieces) {
  std::mt19937 rng(5);
  std::string expected;
  expected.reserve(10 << 20);
  int maxPieces = 0;
  ASSERT_EQ(Protect([&] {
    vlStrBuf b;
    vl::InitStrBuf(L, &b);
    std::string chunk;
    while (expected.size() < (10u << 20)) {
      size_t len = rng() % 3 == 0 ? rng() % 20000 : rng() % 300;
      chunk.assign(len, static_cast<char>('a' + rng() % 26));
      if (len > 0) chunk[0] = '\0';  // bytes, not C texts
      switch (rng() % 3) {
        case 0: vl::AddBytesToStrBuf(&b, chunk.data(), chunk.size()); break;
        case 1:
          vl::PushBytes(L, chunk.data(), chunk.size());
          vl::AddTopToStrBuf(&b);
          break;
        default:
          chunk.erase(0, 1);
          vl::AddStringToStrBuf(&b, chunk.c_str());
          break;
      }
      expected += chunk;
      maxPieces = std::max(maxPieces, b.pieces);
      ASSERT_EQ(vl::GetStackTop(L), b.pieces);
    }
    vl::PushStrBufResult(&b);
    ASSERT_EQ(vl::GetStackTop(L), 1);
    EXPECT_TRUE(TopString(L) == expected);
  }), 0);
  EXPECT_LE(maxPieces, 30);
}

class AuxLib : public VmTest {};

TEST_F(AuxLib, NamedMetatables) {
  ASSERT_EQ(Protect([&] {
    EXPECT_EQ(vl::NewNamedMetatable(L, "vlBrush"), 1);
    const void* first = vl::ToPointerAt(L, -1);
    EXPECT_EQ(vl::NewNamedMetatable(L, "vlBrush"), 0);
    EXPECT_EQ(vl::ToPointerAt(L, -1), first);
    vl::PushNamedMetatable(L, "vlBrush");
    EXPECT_EQ(vl::ToPointerAt(L, -1), first);
    vl::SetStackTop(L, 0);

    void* data = vl::PushNewUserdata(L, 8);  // 1
    vl::PushNamedMetatable(L, "vlBrush");
    vl::SetMetatableAt(L, 1);
    vl::PushNewUserdata(L, 8);  // 2: no metatable
    vl::PushNewUserdata(L, 8);  // 3: another name's metatable
    vl::NewNamedMetatable(L, "vlSample");
    vl::SetMetatableAt(L, 3);
    vl::PushNewUserdata(L, 8);  // 4: an unregistered metatable
    vl::PushNewTable(L);
    vl::SetMetatableAt(L, 4);
    int top = vl::GetStackTop(L);
    EXPECT_EQ(vl::ToNamedUserdataAt(L, 1, "vlBrush"), data);
    EXPECT_EQ(vl::ToNamedUserdataAt(L, 1, "vlbrush"), nullptr);  // case-sensitive
    EXPECT_EQ(vl::ToNamedUserdataAt(L, 2, "vlBrush"), nullptr);
    EXPECT_EQ(vl::ToNamedUserdataAt(L, 3, "vlBrush"), nullptr);
    EXPECT_EQ(vl::ToNamedUserdataAt(L, 4, "vlBrush"), nullptr);
    EXPECT_EQ(vl::ToNamedUserdataAt(L, -4, "vlBrush"), data);
    EXPECT_EQ(vl::GetStackTop(L), top);
  }), 0);
}

int Length(vlVMState* L) {
  vl::PushNumber(L, 42);
  return 1;
}

TEST_F(AuxLib, MetaFields) {
  ASSERT_EQ(Protect([&] {
    vl::PushNewTable(L);  // 1: the value
    vl::PushNewTable(L);  // its metatable
    vl::PushString(L, "__len");
    vl::PushNativeClosure(L, Length, 0);
    vl::RawSetTableValue(L, -3);
    vl::SetMetatableAt(L, 1);
    EXPECT_EQ(vl::PushMetaField(L, 1, "__missing"), 0);
    EXPECT_EQ(vl::GetStackTop(L), 1);
    EXPECT_EQ(vl::PushMetaField(L, 1, "__len"), 1);
    EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TFUNCTION);
    vl::SetStackTop(L, 1);
    EXPECT_EQ(vl::CallMetaField(L, 1, "__len"), 1);
    EXPECT_EQ(vl::ToNumberAt(L, -1), 42);
    vl::SetStackTop(L, 1);
    vl::PushNumber(L, 3);
    EXPECT_EQ(vl::PushMetaField(L, 2, "__len"), 0);
    EXPECT_EQ(vl::GetStackTop(L), 2);
  }), 0);
}

TEST_F(AuxLib, CallbackResultReaders) {
  ASSERT_EQ(Protect([&] {
    vl::PushNumber(L, 0);     // 1
    vl::PushString(L, "12");  // 2
    vl::PushString(L, "x");   // 3
    vl::PushNewTable(L);      // 4
    vl::PushNil(L);           // 5
    int code = -1;
    EXPECT_EQ(vl::GetCallbackNumber(L, 1, &code), 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(vl::GetCallbackNumber(L, 2, &code), 12);
    EXPECT_EQ(code, 0);
    vl::GetCallbackNumber(L, 3, &code);
    EXPECT_EQ(code, ERR_NUMCALLBACK);
    vl::GetCallbackNumber(L, 4, &code);
    EXPECT_EQ(code, ERR_NUMCALLBACK);
    vl::GetCallbackNumber(L, 9, &code);
    EXPECT_EQ(code, ERR_NUMCALLBACK);
    size_t len = 99;
    EXPECT_STREQ(vl::GetCallbackString(L, 1, &len, &code), "0");
    EXPECT_EQ(len, 1u);
    EXPECT_EQ(code, 0);
    EXPECT_STREQ(vl::GetCallbackString(L, 5, nullptr, &code), "");
    EXPECT_EQ(vl::GetCallbackString(L, 4, &len, &code), nullptr);
    EXPECT_EQ(code, ERR_STRCALLBACK);
  }), 0);
}

TEST_F(AuxLib, FindNameInList) {
  const char* const names[] = {"linear", "Smooth", "none", nullptr};
  EXPECT_EQ(vl::FindNameInList("linear", names), 0);
  EXPECT_EQ(vl::FindNameInList("none", names), 2);
  EXPECT_EQ(vl::FindNameInList("smooth", names), -1);
  EXPECT_EQ(vl::FindNameInList("", names), -1);
  EXPECT_EQ(vl::FindNameInList(nullptr, names), -1);
}

// Reports its two upvalues and its argument.
int Probe(vlVMState* L) {
  vl::PushSlotCopy(L, vl::UpvalueIndex(1));
  vl::PushSlotCopy(L, vl::UpvalueIndex(2));
  vl::PushSlotCopy(L, 1);
  return 3;
}

TEST_F(AuxLib, RegisterCommandsLowerCasesNamesAndSharesUpvalues) {
  const vlCommand commands[] = {{"DisplayBrush", Probe}, {"Skipped", nullptr}, {"\xC4NDERN", Probe}, {nullptr, nullptr}};
  ASSERT_EQ(Protect([&] {
    vl::PushNewTable(L);  // a shared upvalue
    vl::PushNumber(L, 7);
    EXPECT_EQ(vl::RegisterCommands(L, "brushlib", commands, 2), 1);
    EXPECT_EQ(vl::GetStackTop(L), 1);  // upvalues popped, the library table stays
    const void* shared = nullptr;
    vl::PushString(L, "brushlib");
    vl::GetTableValue(L, vl::kGlobalsIndex);
    EXPECT_EQ(vl::ToPointerAt(L, -1), vl::ToPointerAt(L, 1));
    vl::SetStackTop(L, 1);
    for (const char* key : {"displaybrush", "\xE4ndern"}) {
      vl::PushString(L, key);
      vl::RawGetTableValue(L, 1);
      ASSERT_EQ(vl::GetTypeAt(L, -1), VL_TFUNCTION) << key;
      vl::PushString(L, "arg");
      vl::CallFunction(L, 1, 3);
      EXPECT_EQ(vl::GetTypeAt(L, -3), VL_TTABLE);
      if (!shared) shared = vl::ToPointerAt(L, -3);
      EXPECT_EQ(vl::ToPointerAt(L, -3), shared);
      EXPECT_EQ(vl::ToNumberAt(L, -2), 7);
      EXPECT_STREQ(vl::ToStringAt(L, -1), "arg");
      vl::SetStackTop(L, 1);
    }
    for (const char* key : {"DisplayBrush", "skipped"}) {
      vl::PushString(L, key);
      vl::RawGetTableValue(L, 1);
      EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL) << key;
      vl::SetStackTop(L, 1);
    }
    // A second library call adds to the existing table.
    const vlCommand more[] = {{"FreeBrush", Probe}, {nullptr, nullptr}};
    vl::PushNil(L);
    vl::PushNil(L);
    EXPECT_EQ(vl::RegisterCommands(L, "brushlib", more, 2), 1);
    EXPECT_EQ(vl::ToPointerAt(L, -1), vl::ToPointerAt(L, 1));
    // Without a name the target table lies below the upvalues.
    vl::SetStackTop(L, 0);
    vl::PushNewTable(L);
    EXPECT_EQ(vl::RegisterCommands(L, nullptr, more, 0), 1);
    vl::PushString(L, "freebrush");
    vl::RawGetTableValue(L, 1);
    EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TFUNCTION);
    // Nothing to register: nothing happens.
    vl::SetStackTop(L, 0);
    const vlCommand none[] = {{"A", nullptr}, {nullptr, nullptr}};
    EXPECT_EQ(vl::RegisterCommands(L, "empty", none, 0), 0);
    EXPECT_EQ(vl::RegisterCommands(L, "empty", nullptr, 0), 0);
    vl::PushString(L, "empty");
    vl::GetTableValue(L, vl::kGlobalsIndex);
    EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL);
  }), 0);
}

}  // namespace
