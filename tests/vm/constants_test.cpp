// Constants found in any case (built-in first, then user constants),
// labels, and named registry values.
#include <string>

#include "tests/vm/vm_test_util.h"
#include "vm/constants.h"
#include "vm/gc.h"
#include "vm/stack_api.h"

namespace {

class Constants : public vltest::VmTest {};

TEST_F(Constants, FoundInAnyCaseBuiltInFirstLaterWins) {
  const vlConstant builtIn[] = {{"MODE_READ", nullptr, 0},
                                {"MODE_WRITE", nullptr, 1},
                                {"SHARED", nullptr, 10},
                                {"#VERSION", "6.1", 0},
                                {nullptr, nullptr, 0}};
  const vlConstant user[] = {{"MyConst", nullptr, 99}, {"SHARED", nullptr, 20}, {nullptr, nullptr, 0}};
  ASSERT_EQ(Protect([&] {
    vl::RegisterConstants(L, builtIn, 0);
    vl::RegisterConstants(L, user, 1);
    EXPECT_EQ(vl::GetStackTop(L), 0);
    for (const char* name : {"MODE_READ", "mode_read", "Mode_Read", "mODE_rEAD"}) {
      const char* text = "unset";
      double number = -1;
      EXPECT_EQ(vl::FindConstant(L, name, &text, &number), 1) << name;
      EXPECT_EQ(text, nullptr);
      EXPECT_EQ(number, 0);
    }
    double number = 0;
    EXPECT_EQ(vl::FindConstant(L, "myconst", nullptr, &number), 1);
    EXPECT_EQ(number, 99);
    EXPECT_EQ(vl::FindConstant(L, "shared", nullptr, &number), 1);
    EXPECT_EQ(number, 10);  // the built-in table is searched first
    EXPECT_EQ(vl::FindConstantIn(L, "SHARED", nullptr, &number, "userconstants"), 1);
    EXPECT_EQ(number, 20);
    const char* text = nullptr;
    EXPECT_EQ(vl::FindConstant(L, "#version", &text, nullptr), 1);
    EXPECT_STREQ(text, "6.1");
    EXPECT_EQ(vl::FindConstant(L, "MODE_APPEND", &text, &number), 0);
    EXPECT_EQ(vl::FindConstantIn(L, "MODE_READ", &text, &number, "nosuchtable"), 0);
    EXPECT_EQ(vl::FindConstant(L, nullptr, &text, &number), 0);

    const vlConstant again[] = {{"mode_read", nullptr, 5}, {nullptr, nullptr, 0}};
    vl::RegisterConstants(L, again, 0);
    EXPECT_EQ(vl::FindConstant(L, "MODE_READ", nullptr, &number), 1);
    EXPECT_EQ(number, 5);
    EXPECT_EQ(vl::GetStackTop(L), 0);
  }), 0);
}

TEST_F(Constants, UserConstantsAloneAreFound) {
  const vlConstant user[] = {{"ONLY_USER", nullptr, 3}, {nullptr, nullptr, 0}};
  ASSERT_EQ(Protect([&] {
    double number = 0;
    EXPECT_EQ(vl::FindConstant(L, "only_user", nullptr, &number), 0);
    vl::RegisterConstants(L, user, 1);
    EXPECT_EQ(vl::FindConstant(L, "only_user", nullptr, &number), 1);
    EXPECT_EQ(number, 3);
  }), 0);
}

TEST_F(Constants, LabelsByLowerCasedName) {
  ASSERT_EQ(Protect([&] {
    EXPECT_EQ(vl::FindLabel(L, "START"), -1);  // no label table yet
    vl::PushString(L, "labels");
    vl::PushNewTable(L);
    vl::PushString(L, "start");
    vl::PushNumber(L, 17.9);
    vl::RawSetTableValue(L, -3);
    vl::PushString(L, "broken");
    vl::PushString(L, "x");
    vl::RawSetTableValue(L, -3);
    vl::RawSetTableValue(L, vl::kRegistryIndex);
    EXPECT_EQ(vl::FindLabel(L, "START"), 17);
    EXPECT_EQ(vl::FindLabel(L, "Start"), 17);
    EXPECT_EQ(vl::FindLabel(L, "finish"), -1);
    EXPECT_EQ(vl::FindLabel(L, "broken"), -1);
    EXPECT_EQ(vl::FindLabel(L, nullptr), -1);
    EXPECT_EQ(vl::GetStackTop(L), 0);
  }), 0);
}

TEST_F(Constants, RegistryValuesRoundTrip) {
  int object = 0;
  ASSERT_EQ(Protect([&] {
    vl::SetRegistryNumber(L, "beginline", 120);
    vl::SetRegistryString(L, "script", "main.vls");
    vl::SetRegistryPointer(L, "applet", &object);
    EXPECT_EQ(vl::GetRegistryNumber(L, "beginline"), 120);
    EXPECT_STREQ(vl::GetRegistryString(L, "script"), "main.vls");
    EXPECT_EQ(vl::GetRegistryPointer(L, "applet"), &object);
    // Conversions and absent entries.
    EXPECT_EQ(vl::GetRegistryNumber(L, "script"), 0);
    EXPECT_EQ(vl::GetRegistryNumber(L, "absent"), 0);
    EXPECT_EQ(vl::GetRegistryString(L, "absent"), nullptr);
    EXPECT_EQ(vl::GetRegistryString(L, "applet"), nullptr);
    EXPECT_EQ(vl::GetRegistryPointer(L, "script"), nullptr);
    EXPECT_EQ(vl::GetRegistryPointer(L, "absent"), nullptr);
    void* block = vl::PushNewUserdata(L, 4);
    vl::PushString(L, "full");
    vl::InsertTopAt(L, -2);
    vl::SetTableValue(L, vl::kRegistryIndex);
    EXPECT_EQ(vl::GetRegistryPointer(L, "full"), block);
    // A number read as text stays readable across a collection.
    const char* text = vl::GetRegistryString(L, "beginline");
    vl::CollectGarbage(L);
    EXPECT_STREQ(text, "120");
    EXPECT_EQ(vl::GetStackTop(L), 0);
  }), 0);
}

}  // namespace
