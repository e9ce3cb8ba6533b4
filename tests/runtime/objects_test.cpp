// Object-type registry, library registry and the generic object scans.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/objects.h"
#include "runtime/object_index.h"
#include "vm/error_codes.h"

namespace {

struct Registered {
  vlObjectNode a{VL_OBJ_BRUSH, 5, nullptr, nullptr, nullptr};
  vlObjectNode b{VL_OBJ_BRUSH, 0, nullptr, nullptr, nullptr};
  vlObjectNode c{VL_OBJ_FILE, 5, nullptr, nullptr, nullptr};
  vlObjectNode* brushes = &a;
  vlObjectNode* files = &c;
  Registered() {
    b.idHandle = &b;  // automatic identifier
    a.next = &b;
    EXPECT_EQ(RegisterObjectList(&brushes), 0);
    EXPECT_EQ(RegisterObjectList(&files), 0);
  }
  ~Registered() { FreeObjectRegistries(); }
};

TEST(ObjectTypes, IdsFrom58ForNamedRegistrationsOnly) {
  vlObjectNode* l1 = nullptr;
  vlObjectNode* l2 = nullptr;
  vlObjectNode* l3 = nullptr;
  uint32_t id = 0;
  EXPECT_EQ(RegisterObjectList(&l1), 0);
  EXPECT_EQ(CountExtraObjectTypes(), 0);
  EXPECT_EQ(RegisterObjectType(&l2, "GADGET", nullptr, &id, 0), 0);
  EXPECT_EQ(id, 58u);
  EXPECT_EQ(RegisterObjectType(&l3, "WIDGET", nullptr, &id, 0), 0);
  EXPECT_EQ(id, 59u);
  EXPECT_EQ(CountExtraObjectTypes(), 2);
  EXPECT_STREQ(FindObjectTypeName(58), "GADGET");
  EXPECT_STREQ(GetObjectTypeName(59), "WIDGET");
  EXPECT_EQ(FindObjectTypeName(60), nullptr);
  // ids are never reused, even after the registry is freed
  FreeObjectRegistries();
  EXPECT_EQ(RegisterObjectType(&l1, "LATER", nullptr, &id, 0), 0);
  EXPECT_EQ(id, 60u);
  FreeObjectRegistries();
}

TEST(ObjectTypes, BuiltInNames) {
  EXPECT_STREQ(GetObjectTypeName(0), "");
  EXPECT_STREQ(GetObjectTypeName(1), "BGPIC");
  EXPECT_STREQ(GetObjectTypeName(22), "LAYER");
  EXPECT_STREQ(GetObjectTypeName(37), "ASYNCDRAW");
  EXPECT_STREQ(GetObjectTypeName(47), "X");
  EXPECT_STREQ(GetObjectTypeName(49), "VECTORPATH");
  EXPECT_STREQ(GetObjectTypeName(57), "MENU");
  EXPECT_EQ(GetObjectTypeName(58), nullptr);
}

TEST(ObjectScan, IdsMatchOnTypeNumberAndHandle) {
  Registered r;
  EXPECT_EQ(FindObjectByID(VL_OBJ_BRUSH, {5, nullptr}), &r.a);
  EXPECT_EQ(FindObjectByID(VL_OBJ_FILE, {5, nullptr}), &r.c);
  EXPECT_EQ(FindObjectByID(VL_OBJ_BRUSH, {0, &r.b}), &r.b);
  // a number never matches an automatic id, nor the other way round
  EXPECT_EQ(FindObjectByID(VL_OBJ_BRUSH, {0, nullptr}), nullptr);
  EXPECT_EQ(FindObjectByID(VL_OBJ_BRUSH, {5, &r.a}), nullptr);
  EXPECT_EQ(FindObjectByID(VL_OBJ_SAMPLE, {5, nullptr}), nullptr);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_BRUSH), 2);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_FILE), 1);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_SAMPLE), 0);
}

TEST(ObjectScan, HandlesAreOnlyCompared) {
  Registered r;
  EXPECT_EQ(FindObjectByHandle(&r.b), static_cast<int>(VL_OBJ_BRUSH));
  EXPECT_EQ(FindObjectByHandle(nullptr), -1);
  EXPECT_EQ(FindObjectByHandle(&r.a), -1);  // a numbered object has no handle
  // a forged handle pointing nowhere must not be followed
  EXPECT_EQ(FindObjectByHandle(reinterpret_cast<void*>(uintptr_t{0x10})), -1);
  EXPECT_EQ(FindObjectByHandle(reinterpret_cast<void*>(~uintptr_t{0} - 7)), -1);
}

int gHandlerCalls;
int AttributeHandler(vlVMState*, int attribute, void* out) {
  ++gHandlerCalls;
  *static_cast<double*>(out) = attribute * 2.0;
  return 0;
}

TEST(ObjectTypes, AttributeHandlers) {
  vlObjectNode* l1 = nullptr;
  vlObjectNode* l2 = nullptr;
  uint32_t direct = 0, framed = 0;
  ASSERT_EQ(RegisterObjectType(&l1, "DIRECT", AttributeHandler, &direct, 0), 0);
  ASSERT_EQ(RegisterObjectType(&l2, "FRAMED", AttributeHandler, &framed, 2), 0);
  double out = 0;
  EXPECT_EQ(CallObjectTypeHandler(nullptr, direct, 21, &out), 0);
  EXPECT_EQ(out, 42.0);
  EXPECT_EQ(gHandlerCalls, 1);
  EXPECT_EQ(CallObjectTypeHandler(nullptr, framed, 21, &out), 0);
  EXPECT_EQ(gHandlerCalls, 1);
  EXPECT_EQ(CallObjectTypeHandler(nullptr, 99, 21, &out), ERR_WRONGUSAGE);
  FreeObjectRegistries();
}

TEST(Libraries, KeptInOrderWithBoundedNames) {
  std::string longName(100, 'L');
  EXPECT_EQ(RegisterLibrary(nullptr, "system"), 0);
  EXPECT_EQ(RegisterLibrary(nullptr, longName.c_str()), 0);
  const vlLibraryNode* l = FirstLibrary();
  ASSERT_NE(l, nullptr);
  EXPECT_STREQ(l->name, "system");
  ASSERT_NE(l->next, nullptr);
  EXPECT_EQ(std::string(l->next->name), std::string(63, 'L'));
  EXPECT_EQ(l->next->next, nullptr);
  FreeObjectRegistries();
  EXPECT_EQ(FirstLibrary(), nullptr);
}

}  // namespace

// The index beside a list: the list stays in append order through unlinks
// at the head, middle and tail, and every record is found by its
// identifier, also after it is renamed.
TEST(ObjectIndex, KeepsTheListAndFindsEveryRecord) {
  vlObjectNode nodes[6] = {};
  vlObjectNode* head = nullptr;
  vlObjectIndex index;
  for (int i = 0; i < 5; ++i) {
    nodes[i].idNumber = i + 1;
    ASSERT_EQ(index.Append(&head, &nodes[i]), 0);
  }
  auto order = [&] {
    std::vector<int> seen;
    for (vlObjectNode* n = head; n; n = n->next) seen.push_back(n->idNumber);
    return seen;
  };
  index.Unlink(&head, &nodes[0]);
  index.Unlink(&head, &nodes[2]);
  index.Unlink(&head, &nodes[4]);
  EXPECT_EQ(order(), (std::vector<int>{2, 4}));
  nodes[5].idNumber = 6;
  ASSERT_EQ(index.Append(&head, &nodes[5]), 0);
  EXPECT_EQ(order(), (std::vector<int>{2, 4, 6}));
  EXPECT_EQ(index.Find({3, nullptr}), nullptr);
  ASSERT_NE(index.Find({4, nullptr}), nullptr);
  EXPECT_EQ(index.Find({4, nullptr})->front(), &nodes[3]);
  // Renamed to its own address, as an orphan is.
  ASSERT_EQ(index.Rekey(&nodes[3], {0, &nodes[3]}), 0);
  EXPECT_EQ(index.Find({4, nullptr}), nullptr);
  ASSERT_NE(index.Find({0, &nodes[3]}), nullptr);
  EXPECT_EQ(nodes[3].idHandle, &nodes[3]);
  index.Unlink(&head, &nodes[5]);
  index.Unlink(&head, &nodes[1]);
  EXPECT_EQ(order(), (std::vector<int>{0}));
  index.Unlink(&head, &nodes[3]);
  EXPECT_EQ(head, nullptr);
  // A list emptied behind the index's back starts afresh.
  ASSERT_EQ(index.Append(&head, &nodes[0]), 0);
  head = nullptr;
  ASSERT_EQ(index.Append(&head, &nodes[1]), 0);
  EXPECT_EQ(order(), (std::vector<int>{2}));
  EXPECT_EQ(index.Find({1, nullptr}), nullptr);
}
