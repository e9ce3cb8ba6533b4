// The current draw-style and form-style blocks that the graphics library's
// style commands change, and the copies every object that draws with the
// current style takes when it is made, so later style changes leave it as
// it was.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr size_t kDrawStyleWords = 35;
inline constexpr size_t kFormStyleWords = 268;

struct vlDrawStyleBlock {
  uint32_t words[kDrawStyleWords];  // begins with four doubles, 1.0 by default
};

struct vlFormStyleBlock {
  uint32_t words[kFormStyleWords];
};

// The style part of an object record: its copy of the draw-style block,
// its two size words and its style value word.
struct vlObjectStyle {
  vlDrawStyleBlock draw;
  int32_t sizeA;
  int32_t sizeB;
  uint32_t value;
};

// Leaves the style value word alone in InitObjectStyle.
inline constexpr uint32_t kKeepStyleValue = 16;

// The current blocks; the graphics library sets their defaults at open and
// its style commands write them.
extern vlDrawStyleBlock vlCurrentDrawStyle;
extern vlFormStyleBlock vlCurrentFormStyle;

void CopyDrawStyleBlock(vlDrawStyleBlock* destination);
void CopyFormStyleBlock(vlFormStyleBlock* destination);

// Copies the draw-style block into the object, the form-style block into
// formDestination when given, stores both sizes, and the value unless
// flags has kKeepStyleValue.
void InitObjectStyle(vlObjectStyle* object, vlFormStyleBlock* formDestination, int32_t sizeA, int32_t sizeB,
                     uint32_t value, uint32_t flags);
