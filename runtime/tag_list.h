// Reading tag lists ({tag, value} pairs ended by tag 0, laid out with the
// plug-in interface), the argument form of stream opening, adapter calls and
// plug-in services.
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"

// The value of the first item with that tag, or fallback when there is none.
inline uintptr_t GetTagValue(const vlTagItem* tags, uint32_t tag, uintptr_t fallback) {
  for (; tags && tags->tag != VL_TAG_END; ++tags)
    if (tags->tag == tag) return tags->value;
  return fallback;
}
