// Sentinel-header lists: order after every kind of insertion and removal,
// and the empty-list shape that other code tests directly.
#include "runtime/lists.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item {
  vlNode node;
  int value;
};

std::vector<int> Forward(vlList* list) {
  std::vector<int> v;
  for (vlNode* n = list->head; n->succ; n = n->succ) v.push_back(reinterpret_cast<Item*>(n)->value);
  return v;
}

std::vector<int> Backward(vlList* list) {
  std::vector<int> v;
  for (vlNode* n = list->tailPred; n->pred; n = n->pred) v.push_back(reinterpret_cast<Item*>(n)->value);
  return v;
}

TEST(Lists, EmptyListShape) {
  vlList list;
  InitList(&list);
  EXPECT_EQ(list.head, reinterpret_cast<vlNode*>(&list.tail));
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.tailPred, reinterpret_cast<vlNode*>(&list.head));
  EXPECT_TRUE(IsListEmpty(&list));
  EXPECT_EQ(RemoveListHead(&list), nullptr);
  EXPECT_EQ(RemoveListTail(&list), nullptr);
}

TEST(Lists, InsertAndRemoveKeepBothDirectionsInStep) {
  vlList list;
  InitList(&list);
  Item it[6];
  for (int i = 0; i < 6; ++i) it[i].value = i;
  AddListTail(&list, &it[2].node);
  AddListHead(&list, &it[1].node);
  AddListTail(&list, &it[4].node);
  InsertListNode(&list, &it[3].node, &it[2].node);  // middle
  InsertListNode(&list, &it[0].node, nullptr);      // head
  InsertListNode(&list, &it[5].node, &it[4].node);  // after the last = tail
  EXPECT_EQ(Forward(&list), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(Backward(&list), (std::vector<int>{5, 4, 3, 2, 1, 0}));

  EXPECT_EQ(RemoveListNode(&it[3].node), &it[4].node);
  EXPECT_EQ(RemoveListHead(&list), &it[0].node);
  EXPECT_EQ(RemoveListTail(&list), &it[5].node);
  EXPECT_EQ(Forward(&list), (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(Backward(&list), (std::vector<int>{4, 2, 1}));

  // Removing the last node hands back the tail sentinel, which ends walks.
  vlNode* after = RemoveListNode(&it[4].node);
  EXPECT_EQ(after->succ, nullptr);
  RemoveListNode(&it[1].node);
  RemoveListNode(&it[2].node);
  EXPECT_TRUE(IsListEmpty(&list));
  EXPECT_EQ(list.head, reinterpret_cast<vlNode*>(&list.tail));
  EXPECT_EQ(list.tailPred, reinterpret_cast<vlNode*>(&list.head));
  AddListTail(&list, &it[3].node);
  EXPECT_EQ(Forward(&list), (std::vector<int>{3}));
  EXPECT_EQ(Backward(&list), (std::vector<int>{3}));
}

}  // namespace
