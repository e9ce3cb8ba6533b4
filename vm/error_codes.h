// The numeric error codes shared by every subsystem (1000 .. 1580; user
// errors from 1581). Generated from error_codes.def.
#pragma once

enum vlErrorCode : int {
  VL_OK = 0,
#define VL_ERROR(code, name, ...) name = code,
#include "vm/error_codes.def"
#undef VL_ERROR
  ERR_FIRST = 1000,
  ERR_LAST_BUILTIN = 1580,
  ERR_FIRST_USER = 1581,
};
