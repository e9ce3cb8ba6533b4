#include "low/puts.h"
void Draw() {
  SendPuts ();
  if (gOutput == 0) gOutput = 0;
}
