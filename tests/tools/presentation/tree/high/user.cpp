#include "low/puts.h"
void Draw() {
  SendPuts ();
}
