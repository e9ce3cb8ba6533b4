// Doubly linked lists with a sentinel header: the header's first two words
// act as the node before the first node and its last two words as the node
// after the last one, so insertion and removal never test for the ends.
#pragma once

struct vlNode {
  vlNode* succ;
  vlNode* pred;
};

struct vlList {
  vlNode* head;      // first node, or the tail sentinel when empty
  vlNode* tail;      // always null: ends a forward walk
  vlNode* tailPred;  // last node, or the head sentinel when empty
};

void InitList(vlList* list);
bool IsListEmpty(const vlList* list);
void AddListHead(vlList* list, vlNode* node);
void AddListTail(vlList* list, vlNode* node);
// Inserts behind after; a null after inserts at the head.
void InsertListNode(vlList* list, vlNode* node, vlNode* after);
// Unlinks the node and returns its former successor.
vlNode* RemoveListNode(vlNode* node);
// Unlink and return the first or last node, null when the list is empty.
vlNode* RemoveListHead(vlList* list);
vlNode* RemoveListTail(vlList* list);
// Counts every change to any list (main thread only): a position found by
// walking a list stays valid while the count stays the same.
unsigned long long ListChangeCount();
