// Fixture: a folder of the upper level of the upper floor.
#pragma once
#include "under/u.h"
