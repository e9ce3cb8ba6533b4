// Feeds hostile texts to the inline tag parser, tags interpreted and
// literal.
#include <cstdint>
#include <vector>

#include "text/text_tags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vlTextSettings base{};
  base.style = VL_STYLE_NORMAL;
  base.shadowSize = 4;
  base.edgeSize = 2;
  for (bool literal : {false, true}) {
    std::vector<vlStyledSpan> spans;
    SplitTaggedText(nullptr, reinterpret_cast<const char*>(data), size, literal, base, &spans);
  }
  return 0;
}
