// The base sub-floor reaching up: refused.
#pragma once
#include "pkg/top/t.h"
