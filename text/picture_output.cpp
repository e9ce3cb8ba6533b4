// Draw-tag placement and the blit of finished pictures onto the target.
#include "text/picture_output.h"

#include <cmath>
#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/safe_blt.h"
#include "runtime/option_readers.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

int ReadDrawTagPlacement(vlVMState* L, int index, vlDrawTagPlacement* tags) {
  *tags = {{1, 0, 0, 1}, 0, 0};
  const int type = vl::GetTypeAt(L, index);
  if (type == VL_TNONE || type == VL_TNIL) return 0;
  if (type != VL_TTABLE) return ERR_TABEXPECTED;
  GetTableNumber(L, index, "anchorx", &tags->anchorX, nullptr);
  GetTableNumber(L, index, "anchory", &tags->anchorY, nullptr);
  if (!(tags->anchorX >= 0 && tags->anchorX <= 1 && tags->anchorY >= 0 && tags->anchorY <= 1)) return ERR_WRONGUSAGE;
  double m[4];
  int count = 0, found = 0;
  GetTableNumberList(L, index, "transform", m, 4, 0, &count, &found);
  if (found && count == 4) {
    // Given in rows, as the display commands read it; kept in columns.
    tags->matrix[0] = m[0];
    tags->matrix[1] = m[2];
    tags->matrix[2] = m[1];
    tags->matrix[3] = m[3];
  } else {
    // The scales count only without a matrix.
    double sx = 1, sy = 1;
    GetTableNumber(L, index, "scalex", &sx, nullptr);
    GetTableNumber(L, index, "scaley", &sy, nullptr);
    tags->matrix[0] = sx;
    tags->matrix[3] = sy;
  }
  const double det = tags->matrix[0] * tags->matrix[3] - tags->matrix[1] * tags->matrix[2];
  if (det == 0 || !std::isfinite(det)) return ERR_WRONGUSAGE;
  return 0;
}

void BlitPictureToTarget(vlVMState* L, vlBitmap* picture, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y,
                         int32_t width, int32_t height, const vlMadeSource* made) {
  BlitToDrawTarget(L, picture, 0, 0, x, y, width, height, width, height, alpha ? nullptr : mask, alpha, made);
}

bool TargetTakesLayers() {
  const vlDisplay* d = CurrentDisplay();
  return d && vlCurrentOutput && d->layersOn && d->outputType == VL_OUTPUT_DISPLAY;
}
