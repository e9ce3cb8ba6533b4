#include "low/table.h"
// Beside the installer: it may call Ask directly.
int AskHigh() {
  return gTable.ask(3);
}
