// Fixture: one half of a circle on one floor.
#include "right/r.h"
#include "low/a.h"
