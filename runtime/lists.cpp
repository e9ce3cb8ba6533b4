// The sentinel-header list operations. No allocation: nodes are embedded at
// the start of their owners' records.
#include "runtime/lists.h"

namespace {

unsigned long long gChanges = 0;

vlNode* HeadSentinel(vlList* list) { return reinterpret_cast<vlNode*>(&list->head); }
vlNode* TailSentinel(vlList* list) { return reinterpret_cast<vlNode*>(&list->tail); }

}  // namespace

unsigned long long ListChangeCount() { return gChanges; }

void InitList(vlList* list) {
  gChanges++;
  list->head = TailSentinel(list);
  list->tail = nullptr;
  list->tailPred = HeadSentinel(list);
}

bool IsListEmpty(const vlList* list) { return list->tailPred == reinterpret_cast<const vlNode*>(&list->head); }

void InsertListNode(vlList* list, vlNode* node, vlNode* after) {
  gChanges++;
  if (!after) after = HeadSentinel(list);
  vlNode* next = after->succ;
  node->succ = next;
  node->pred = after;
  next->pred = node;
  after->succ = node;
}

void AddListHead(vlList* list, vlNode* node) { InsertListNode(list, node, nullptr); }

void AddListTail(vlList* list, vlNode* node) { InsertListNode(list, node, list->tailPred); }

vlNode* RemoveListNode(vlNode* node) {
  gChanges++;
  vlNode* next = node->succ;
  next->pred = node->pred;
  node->pred->succ = next;
  node->succ = node->pred = nullptr;
  return next;
}

vlNode* RemoveListHead(vlList* list) {
  if (IsListEmpty(list)) return nullptr;
  vlNode* node = list->head;
  RemoveListNode(node);
  return node;
}

vlNode* RemoveListTail(vlList* list) {
  if (IsListEmpty(list)) return nullptr;
  vlNode* node = list->tailPred;
  RemoveListNode(node);
  return node;
}
