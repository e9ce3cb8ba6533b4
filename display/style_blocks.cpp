// The current style blocks and the copies objects take of them. Depends on
// nothing but the C library.
#include "display/style_blocks.h"

#include <cstring>

namespace {

vlDrawStyleBlock DefaultDrawStyle() {
  vlDrawStyleBlock block{};
  const double one = 1.0;
  for (int i = 0; i < 4; ++i) std::memcpy(&block.words[i * 2], &one, sizeof one);
  return block;
}

}  // namespace

vlDrawStyleBlock vlCurrentDrawStyle = DefaultDrawStyle();
vlFormStyleBlock vlCurrentFormStyle{};

void CopyDrawStyleBlock(vlDrawStyleBlock* destination) {
  if (destination) *destination = vlCurrentDrawStyle;
}

void CopyFormStyleBlock(vlFormStyleBlock* destination) {
  if (destination) *destination = vlCurrentFormStyle;
}

void InitObjectStyle(vlObjectStyle* object, vlFormStyleBlock* formDestination, int32_t sizeA, int32_t sizeB,
                     uint32_t value, uint32_t flags) {
  CopyDrawStyleBlock(&object->draw);
  CopyFormStyleBlock(formDestination);
  object->sizeA = sizeA;
  object->sizeB = sizeB;
  if (!(flags & kKeepStyleValue)) object->value = value;
}
