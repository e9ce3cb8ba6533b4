// An index by identifier beside an object list, so that making and finding
// an object do not walk the whole list: the records of each identifier in
// list order, and the list's tail for appending. The list itself stays as
// generic code walks it; records are appended at the tail only.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "runtime/objects.h"

class vlObjectIndex {
 public:
  // Appends node to the list at *head and indexes it; 0, or 1000 with
  // nothing changed.
  int Append(vlObjectNode** head, vlObjectNode* node);
  // Unlinks node from the list and the index; the list must be the one the
  // node was appended to.
  void Unlink(vlObjectNode** head, vlObjectNode* node);
  // Gives node another identifier; 0, or 1000 with nothing changed.
  int Rekey(vlObjectNode* node, vlObjectId id);
  // The records named id, in list order; null for none.
  const std::vector<vlObjectNode*>* Find(vlObjectId id) const;
  // The first record named id; null for none.
  vlObjectNode* First(vlObjectId id) const;
  // The first record whose number and handle both equal id's (a handle
  // alone names the records of First); null for none.
  vlObjectNode* FirstExact(vlObjectId id) const;
  // The first record named id that is not an orphan kept for layers or
  // displays (T has an orphaned field); null for none.
  template <class T>
  T* FirstNamed(vlObjectId id) const {
    if (const std::vector<vlObjectNode*>* named = Find(id))
      for (vlObjectNode* node : *named)
        if (!reinterpret_cast<T*>(node)->orphaned) return reinterpret_cast<T*>(node);
    return nullptr;
  }
  // Forgets everything (the list was emptied by its owner).
  void Clear();
  // The index kept beside the list at head, or null: the generic look-ups
  // use it where there is one.
  static const vlObjectIndex* Of(vlObjectNode* const* head);

 private:
  struct Key {
    int32_t number;
    const void* handle;
    bool operator==(const Key& o) const { return number == o.number && handle == o.handle; }
  };
  struct Hash {
    size_t operator()(const Key& k) const {
      return std::hash<const void*>()(k.handle) ^ (std::hash<int32_t>()(k.number) * 0x9E3779B97F4A7C15ull);
    }
  };
  // A record with an automatic identifier is known by its handle alone.
  static Key KeyOf(vlObjectId id) { return id.handle ? Key{0, id.handle} : Key{id.number, nullptr}; }
  static Key KeyOf(const vlObjectNode* node) { return KeyOf(vlObjectId{node->idNumber, node->idHandle}); }
  void Drop(const Key& key, const vlObjectNode* node);

  std::unordered_map<Key, std::vector<vlObjectNode*>, Hash> records_;
  // Each record's predecessor in the list (null for the first): unlinking
  // does not walk the list either.
  std::unordered_map<const vlObjectNode*, vlObjectNode*> before_;
  vlObjectNode* tail_ = nullptr;
  bool known_ = false;  // recorded by Of
};
