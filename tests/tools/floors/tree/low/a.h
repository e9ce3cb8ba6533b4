// Fixture: a low header that reaches up a floor.
#pragma once
#include "high/b.h"
