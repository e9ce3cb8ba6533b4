// Which optional X extensions are loaded. The extension calls themselves
// go through the dl_ pointers of the run-time library loader; these tests
// tell whether a whole library is there.
#pragma once
#include "platform/shared_libs.h"

bool HaveXFixes();
bool HaveXcursor();
bool HaveXF86VidMode();
bool HaveXRandRSymbols();
bool HaveXss();
