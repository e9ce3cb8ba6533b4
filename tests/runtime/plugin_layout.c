/* The plug-in records as a C99 compiler lays them out. */
#include "tests/runtime/plugin_layout.h"

static const vlLayoutRow kRows[] = {VL_LAYOUT_ROWS};

const vlLayoutRow* PluginLayoutFromC(size_t* count) {
  *count = sizeof kRows / sizeof kRows[0];
  return kRows;
}
