// Capability-class lists: order, unknown classes, the script-version gate
// and removal of every node of a plug-in.
#include "runtime/class_lists.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/errors.h"
#include "runtime/script_version.h"

namespace {

// Stand-ins: only their addresses matter to the lists.
char g_a, g_b, g_c;
vlPluginInfo* A = reinterpret_cast<vlPluginInfo*>(&g_a);
vlPluginInfo* B = reinterpret_cast<vlPluginInfo*>(&g_b);
vlPluginInfo* C = reinterpret_cast<vlPluginInfo*>(&g_c);

std::vector<vlPluginInfo*> Members(uint32_t code) {
  std::vector<vlPluginInfo*> v;
  for (vlClassNode* n = GetLoaderClassList(code); n; n = n->next) v.push_back(n->plugin);
  return v;
}

class ClassLists : public ::testing::Test {
 protected:
  void TearDown() override {
    FreeClassLists();
    ClearScriptVersion();
  }
};

TEST_F(ClassLists, AppendInOrderPerClass) {
  EXPECT_EQ(AddPluginToClassList(A, VL_CLASS_IMAGE), 0);
  EXPECT_EQ(AddPluginToClassList(B, VL_CLASS_IMAGE), 0);
  EXPECT_EQ(AddPluginToClassList(B, VL_CLASS_FILEADAPTER), 0);
  EXPECT_EQ(Members(VL_CLASS_IMAGE), (std::vector<vlPluginInfo*>{A, B}));
  EXPECT_EQ(Members(VL_CLASS_FILEADAPTER), (std::vector<vlPluginInfo*>{B}));
  EXPECT_TRUE(Members(VL_CLASS_SOUND).empty());
  int known = -1;
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_DIRADAPTER, &known), nullptr);
  EXPECT_EQ(known, 1);
  EXPECT_EQ(GetLoaderClassList(32, &known), nullptr);
  EXPECT_EQ(known, 0);
}

TEST_F(ClassLists, UnknownClassAndOldScriptsAreRefused) {
  EXPECT_EQ(AddPluginToClassList(A, 32), 1055);
  EXPECT_EQ(AddPluginToClassList(A, 0), 1055);
  SetScriptVersion(5, 3);
  EXPECT_EQ(AddPluginToClassList(A, VL_CLASS_VIDEO), 1566);
  EXPECT_STREQ(GetErrorArgument(), "6.0");
  EXPECT_TRUE(Members(VL_CLASS_VIDEO).empty());
  SetScriptVersion(6, 0);
  EXPECT_EQ(AddPluginToClassList(A, VL_CLASS_VIDEO), 0);
}

TEST_F(ClassLists, RemoveTakesEveryNodeOfThePlugin) {
  for (vlPluginInfo* p : {A, B, A, C, A}) AddPluginToClassList(p, VL_CLASS_SOUND);
  AddPluginToClassList(A, VL_CLASS_ANIM);
  RemovePluginFromClassList(A, VL_CLASS_SOUND);
  EXPECT_EQ(Members(VL_CLASS_SOUND), (std::vector<vlPluginInfo*>{B, C}));
  EXPECT_EQ(Members(VL_CLASS_ANIM), (std::vector<vlPluginInfo*>{A}));
  RemovePluginFromClassList(A, 12345);  // no such class: nothing happens
  RemovePluginFromClassList(C, VL_CLASS_SOUND);
  RemovePluginFromClassList(B, VL_CLASS_SOUND);
  EXPECT_TRUE(Members(VL_CLASS_SOUND).empty());
  EXPECT_EQ(AddPluginToClassList(C, VL_CLASS_SOUND), 0);
  EXPECT_EQ(Members(VL_CLASS_SOUND), (std::vector<vlPluginInfo*>{C}));
}

}  // namespace
