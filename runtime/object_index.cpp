// The index by identifier beside an object list.
#include "runtime/object_index.h"

#include <algorithm>
#include <new>

#include "vm/error_codes.h"

namespace {

// Which index is kept beside which list head. Never freed: indexes are
// static and may outlive the registries' own teardown.
std::unordered_map<vlObjectNode* const*, const vlObjectIndex*>& Known() {
  static auto* known = new std::unordered_map<vlObjectNode* const*, const vlObjectIndex*>;
  return *known;
}

}  // namespace

const vlObjectIndex* vlObjectIndex::Of(vlObjectNode* const* head) {
  auto it = Known().find(head);
  return it == Known().end() ? nullptr : it->second;
}

int vlObjectIndex::Append(vlObjectNode** head, vlObjectNode* node) {
  // A list emptied behind the index's back starts afresh.
  if (!*head) Clear();
  if (!tail_) {
    tail_ = *head;
    while (tail_ && tail_->next) tail_ = tail_->next;
  }
  const Key key = KeyOf(node);
  try {
    if (!known_) {
      Known()[head] = this;
      known_ = true;
    }
    records_[key].push_back(node);
    try {
      before_.emplace(node, tail_);
    } catch (const std::bad_alloc&) {
      Drop(key, node);
      throw;
    }
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  node->next = nullptr;
  (tail_ ? tail_->next : *head) = node;
  tail_ = node;
  return 0;
}

void vlObjectIndex::Drop(const Key& key, const vlObjectNode* node) {
  auto it = records_.find(key);
  if (it == records_.end()) return;
  auto& v = it->second;
  v.erase(std::remove(v.begin(), v.end(), node), v.end());
  if (v.empty()) records_.erase(it);
}

void vlObjectIndex::Unlink(vlObjectNode** head, vlObjectNode* node) {
  vlObjectNode* before = nullptr;
  auto it = before_.find(node);
  if (it != before_.end()) {
    before = it->second;
    before_.erase(it);
  } else {
    // Linked behind the index's back: found the slow way.
    vlObjectNode** link = head;
    while (*link && *link != node) {
      before = *link;
      link = &(*link)->next;
    }
    if (!*link) return;
  }
  (before ? before->next : *head) = node->next;
  if (node->next) {
    auto next = before_.find(node->next);
    if (next != before_.end()) next->second = before;
  }
  if (tail_ == node) tail_ = before;
  Drop(KeyOf(node), node);
}

int vlObjectIndex::Rekey(vlObjectNode* node, vlObjectId id) {
  const Key old = KeyOf(node);
  if (old == KeyOf(id)) return 0;
  try {
    // Renamed records come after their new namesakes.
    records_[KeyOf(id)].push_back(node);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  Drop(old, node);
  node->idNumber = id.number;
  node->idHandle = id.handle;
  return 0;
}

const std::vector<vlObjectNode*>* vlObjectIndex::Find(vlObjectId id) const {
  auto it = records_.find(KeyOf(id));
  return it == records_.end() ? nullptr : &it->second;
}

vlObjectNode* vlObjectIndex::First(vlObjectId id) const {
  const std::vector<vlObjectNode*>* named = Find(id);
  return named ? named->front() : nullptr;
}

vlObjectNode* vlObjectIndex::FirstExact(vlObjectId id) const {
  if (const std::vector<vlObjectNode*>* named = Find(id))
    for (vlObjectNode* node : *named)
      if (node->idNumber == id.number && node->idHandle == id.handle) return node;
  return nullptr;
}

void vlObjectIndex::Clear() {
  records_.clear();
  before_.clear();
  tail_ = nullptr;
}
