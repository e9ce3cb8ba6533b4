// Another folder of the same floor: it may use any part of pkg.
#pragma once
#include "pkg/top/t.h"
