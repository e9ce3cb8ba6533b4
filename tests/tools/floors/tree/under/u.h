// Fixture: a folder of the lower level of the upper floor reaching up.
#pragma once
#include "over/o.h"
