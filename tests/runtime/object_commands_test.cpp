// The object commands and per-object user data, called as handlers on a
// real VM stack.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/runtime/handler_test_util.h"
#include "runtime/errors.h"
#include "player/object_commands.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
#include "vm/state.h"

namespace {

class ObjectCommands : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    one = {VL_OBJ_BRUSH, 1, nullptr, nullptr, nullptr};
    two = {VL_OBJ_BRUSH, 2, nullptr, nullptr, nullptr};
    automatic = {VL_OBJ_BRUSH, 0, &automatic, nullptr, nullptr};
    file = {VL_OBJ_FILE, 1, nullptr, nullptr, nullptr};
    one.next = &two;
    two.next = &automatic;
    brushes = &one;
    files = &file;
    ASSERT_EQ(RegisterObjectList(&brushes), 0);
    ASSERT_EQ(RegisterObjectList(&files), 0);
  }
  void TearDown() override {
    for (vlObjectNode* n : {&one, &two, &automatic, &file}) FreeObjectDataList(L, &n->data);
    FreeObjectRegistries();
    HandlerTest::TearDown();
  }

  std::vector<std::string> Keys(const vlObjectNode& n) {
    std::vector<std::string> keys;
    for (vlObjectData* d = n.data; d; d = d->next) keys.push_back(d->key);
    return keys;
  }

  std::string TopString() { return vl::ToStringAt(L, -1); }

  vlObjectNode one, two, automatic, file;
  vlObjectNode* brushes = nullptr;
  vlObjectNode* files = nullptr;
};

TEST_F(ObjectCommands, HaveObjectAndTypes) {
  auto have = [&](double type, auto pushId) {
    return Call(CmdHaveObject, [&] { vl::PushNumber(L, type); pushId(); }) == 1 ? vl::ToNumberAt(L, -1) : -99;
  };
  EXPECT_EQ(have(VL_OBJ_BRUSH, [&] { vl::PushNumber(L, 2); }), 1);
  EXPECT_EQ(have(VL_OBJ_BRUSH, [&] { vl::PushNumber(L, 5); }), 0);
  EXPECT_EQ(have(VL_OBJ_BRUSH, [&] { vl::PushPointer(L, &automatic); }), 1);
  EXPECT_EQ(have(VL_OBJ_FILE, [&] { vl::PushNumber(L, 2); }), 0);
  EXPECT_EQ(have(VL_OBJ_BRUSH, [&] { vl::PushPointer(L, &one); }), 0);  // numbered: no handle

  auto typeOf = [&](auto push) { return Call(CmdGetObjectType, push) == 1 ? vl::ToNumberAt(L, -1) : -99; };
  EXPECT_EQ(typeOf([&] { vl::PushPointer(L, &automatic); }), VL_OBJ_BRUSH);
  EXPECT_EQ(typeOf([&] { vl::PushNumber(L, 1); }), -1);
  EXPECT_EQ(typeOf([&] { vl::PushPointer(L, nullptr); }), -1);
  EXPECT_EQ(typeOf([&] { vl::PushPointer(L, reinterpret_cast<void*>(uintptr_t{0xdead0000})); }), -1);

  EXPECT_EQ(Call(CmdHaveObject, [&] { vl::PushNumber(L, 3); }), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Call(CmdGetObjectType, [&] {
              vl::PushNumber(L, 3);
              vl::PushNumber(L, 3);
            }),
            ERR_TOOMANYARGS);
}

TEST_F(ObjectCommands, GetObjectsListsIdsInRegistryOrder) {
  ASSERT_EQ(Call(CmdGetObjects, [&] { vl::PushNumber(L, VL_OBJ_BRUSH); }), 2);
  EXPECT_EQ(vl::ToNumberAt(L, -1), 3);
  vl::RawGetTableIndex(L, -2, 0);
  EXPECT_EQ(vl::ToNumberAt(L, -1), 1);
  vl::RawGetTableIndex(L, -3, 1);
  EXPECT_EQ(vl::ToNumberAt(L, -1), 2);
  vl::RawGetTableIndex(L, -4, 2);
  EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TLIGHTUSERDATA);
  EXPECT_EQ(vl::ToUserdataAt(L, -1), &automatic);
  vl::RawGetTableIndex(L, -5, 3);
  EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL);
  ASSERT_EQ(Call(CmdGetObjects, [&] { vl::PushNumber(L, VL_OBJ_SAMPLE); }), 2);
  EXPECT_EQ(vl::ToNumberAt(L, -1), 0);
}

TEST_F(ObjectCommands, KeysDifferingInCaseAreOneItem) {
  auto set = [&](const char* key, const char* value) {
    return Call(CmdSetObjectData, [&] {
      vl::PushNumber(L, VL_OBJ_BRUSH);
      vl::PushNumber(L, 1);
      vl::PushString(L, key);
      vl::PushString(L, value);
    });
  };
  EXPECT_EQ(set("Name", "first"), 0);
  EXPECT_EQ(set("NAME", "second"), 0);
  EXPECT_EQ(Keys(one), std::vector<std::string>{"Name"});
  ASSERT_EQ(Call(CmdGetObjectData, [&] {
              vl::PushNumber(L, VL_OBJ_BRUSH);
              vl::PushNumber(L, 1);
              vl::PushString(L, "name");
            }),
            1);
  EXPECT_EQ(TopString(), "second");
  ASSERT_EQ(Call(CmdHaveObjectData, [&] {
              vl::PushNumber(L, VL_OBJ_BRUSH);
              vl::PushNumber(L, 1);
              vl::PushString(L, "nAmE");
            }),
            1);
  EXPECT_EQ(vl::ToNumberAt(L, -1), 1);
}

TEST_F(ObjectCommands, ErrorsOfTheDataCommands) {
  auto get = [&](double type, double id, const char* key) {
    return Call(CmdGetObjectData, [&] {
      vl::PushNumber(L, type);
      vl::PushNumber(L, id);
      vl::PushString(L, key);
    });
  };
  EXPECT_EQ(get(VL_OBJ_BRUSH, 1, "absent"), ERR_FINDOBJECTDATA);
  EXPECT_STREQ(GetErrorArgument(), "absent");
  EXPECT_EQ(get(VL_OBJ_BRUSH, 1, ""), ERR_WRONGUSAGE);
  EXPECT_EQ(get(VL_OBJ_BRUSH, 9, "x"), ERR_FINDARRAY);
  // no display yet, so no layers
  EXPECT_EQ(get(VL_OBJ_LAYER, 1, "x"), ERR_NOLAYERS);
  EXPECT_EQ(Call(CmdClearObjectData, [&] {
              vl::PushNumber(L, VL_OBJ_BRUSH);
              vl::PushNumber(L, 1);
              vl::PushString(L, "absent");
            }),
            ERR_FINDOBJECTDATA);
  EXPECT_EQ(Call(CmdClearObjectData, [&] {
              vl::PushNumber(L, VL_OBJ_BRUSH);
              vl::PushNumber(L, 1);
              vl::PushString(L, "");
            }),
            ERR_WRONGUSAGE);
}

TEST_F(ObjectCommands, ClearAndCopyKeepOrder) {
  for (const char* key : {"a", "b", "c"}) {
    vl::SetStackTop(L, 0);
    vl::PushString(L, key);
    ASSERT_EQ(SetObjectDataItem(L, key, 1, &one.data), 0);
  }
  vl::PushString(L, "old");
  ASSERT_EQ(SetObjectDataItem(L, "B", -1, &two.data), 0);
  auto copy = [&](int overwrite) {
    return Call(CmdCopyObjectData, [&] {
      vl::PushNumber(L, VL_OBJ_BRUSH);
      vl::PushNumber(L, 1);
      vl::PushNumber(L, VL_OBJ_BRUSH);
      vl::PushNumber(L, 2);
      if (overwrite >= 0) vl::PushNumber(L, overwrite);
    });
  };
  EXPECT_EQ(copy(0), 0);
  EXPECT_EQ(Keys(two), (std::vector<std::string>{"B", "a", "c"}));
  PushObjectDataValue(L, FindObjectData(two.data, "b"));
  EXPECT_EQ(TopString(), "old");
  EXPECT_EQ(copy(-1), 0);  // overwrite defaults to on
  EXPECT_EQ(Keys(two), (std::vector<std::string>{"B", "a", "c"}));
  PushObjectDataValue(L, FindObjectData(two.data, "b"));
  EXPECT_EQ(TopString(), "b");

  // copying into an automatic object, then clearing keys one by one
  ASSERT_EQ(Call(CmdCopyObjectData, [&] {
              vl::PushNumber(L, VL_OBJ_BRUSH);
              vl::PushNumber(L, 2);
              vl::PushNumber(L, VL_OBJ_BRUSH);
              vl::PushPointer(L, &automatic);
            }),
            0);
  EXPECT_EQ(Keys(automatic), (std::vector<std::string>{"B", "a", "c"}));
  EXPECT_EQ(Call(CmdClearObjectData, [&] {
              vl::PushNumber(L, VL_OBJ_BRUSH);
              vl::PushPointer(L, &automatic);
              vl::PushString(L, "A");
            }),
            0);
  EXPECT_EQ(Keys(automatic), (std::vector<std::string>{"B", "c"}));
  EXPECT_EQ(Call(CmdClearObjectData, [&] {
              vl::PushNumber(L, VL_OBJ_BRUSH);
              vl::PushPointer(L, &automatic);
            }),
            0);
  EXPECT_EQ(automatic.data, nullptr);
}

// The references of freed items are handed out again: nothing stays pinned
// in the registry.
TEST_F(ObjectCommands, FreedItemsReleaseTheirReferences) {
  vl::SetStackTop(L, 0);
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 50; ++i) {
      vl::PushNewTable(L);
      char key[16];
      snprintf(key, sizeof key, "k%d", i);
      ASSERT_EQ(SetObjectDataItem(L, key, -1, &one.data), 0);
      vl::SetStackTop(L, -2);
    }
    vlObjectData* copy = nullptr;
    ASSERT_EQ(CopyObjectDataList(L, one.data, &copy), 0);
    FreeObjectDataList(L, &copy);
    FreeObjectDataList(L, &one.data);
  }
  // the registry's next fresh reference shows how many were ever live at once
  vl::PushNumber(L, 1);
  int ref = vl::CreateRef(L, vl::kRegistryIndex);
  EXPECT_LE(ref, 3 + 100);
}

TEST_F(ObjectCommands, StoredValuesSurviveCollection) {
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  vl::PushString(L, "payload");
  vl::RawSetTableIndex(L, -2, 0);
  ASSERT_EQ(SetObjectDataItem(L, "t", 1, &file.data), 0);
  vl::SetStackTop(L, 0);
  ASSERT_NE(L->g->collectGarbage, nullptr);
  L->g->collectGarbage(L);
  ASSERT_EQ(Call(CmdGetObjectData, [&] {
              vl::PushNumber(L, VL_OBJ_FILE);
              vl::PushNumber(L, 1);
              vl::PushString(L, "T");
            }),
            1);
  vl::RawGetTableIndex(L, -1, 0);
  EXPECT_EQ(TopString(), "payload");
}

TEST_F(ObjectCommands, IdArgumentsAndFields) {
  vl::SetStackTop(L, 0);
  vl::PushNil(L);
  vl::PushNumber(L, 4294967295.0);
  vl::PushPointer(L, &automatic);
  vl::PushString(L, "x");
  vlObjectId id{9, nullptr};
  EXPECT_EQ(GetObjectIDArgOpt(&id, L, 1), 1);
  EXPECT_TRUE(IsAutomaticIdRequest(id));
  EXPECT_EQ(id.number, 0);
  EXPECT_EQ(GetObjectIDArgOpt(&id, L, 2), 0);
  EXPECT_EQ(id.number, -1);
  EXPECT_EQ(id.handle, nullptr);
  GetObjectIDArg(&id, L, 3);
  EXPECT_EQ(id.number, 0);
  EXPECT_EQ(id.handle, &automatic);
  EXPECT_EQ(vl::RunProtectedFn(L, [&] { GetObjectIDArg(&id, L, 4); }), ERR_NUMEXPECTED);
  EXPECT_EQ(GetErrorArgIndex(), 4);

  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  SetTableObjectID(L, "num", {5, nullptr});
  SetTableObjectID(L, "auto", {0, &automatic});
  ASSERT_EQ(vl::GetStackTop(L), 1);
  vlObjectId back{};
  ASSERT_EQ(GetTableObjectID(L, 1, "num", &back, nullptr), 1);
  EXPECT_EQ(back.number, 5);
  EXPECT_EQ(back.handle, nullptr);
  ASSERT_EQ(GetTableObjectID(L, 1, "auto", &back, nullptr), 1);
  EXPECT_EQ(back.number, 0);
  EXPECT_EQ(back.handle, &automatic);
  EXPECT_EQ(FindObjectByID(VL_OBJ_BRUSH, back), &automatic);
}

}  // namespace
