// Fixture: a header of the upper floor.
#pragma once
#include "low/a.h"
