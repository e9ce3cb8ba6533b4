// Tag lists: arrays of {tag, value} pairs ended by tag 0, the argument form
// of stream opening, adapter calls and the plug-in interface. A value may
// carry a pointer, so it is pointer-sized.
#pragma once
#include <cstdint>

struct vlTagItem {
  uint32_t tag;
  uintptr_t value;
};

inline constexpr uint32_t VL_TAG_END = 0;

// The value of the first item with that tag, or fallback when there is none.
inline uintptr_t GetTagValue(const vlTagItem* tags, uint32_t tag, uintptr_t fallback) {
  for (; tags && tags->tag != VL_TAG_END; ++tags)
    if (tags->tag == tag) return tags->value;
  return fallback;
}
