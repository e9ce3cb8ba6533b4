// Fixture: the other half of the circle.
#pragma once
#include "left/l.h"
