// The inline tag language of text output: "[b]", "[/i]", "[color=#RED]",
// "[shadow=colour,size,direction]", "[edge=colour,size]" and the escapes
// "[[" and "]]". Splitting a text gives its pieces of one style each.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/text_library.h"

struct vlVMState;

// A piece of text drawn in one style.
struct vlStyledSpan {
  std::string text;
  vlTextSettings style;
};

// Splits text into spans, starting with the settings in base. literal:
// brackets are text (only the doubled escapes are folded). state may be
// null; "#NAME" values then fail with 1055. Returns 0 or the error code;
// on error spans holds what was split so far.
int SplitTaggedText(vlVMState* state, const char* text, size_t length, bool literal, const vlTextSettings& base,
                    std::vector<vlStyledSpan>* spans);
