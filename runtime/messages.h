// The built-in message table, the code-to-message map and the scripts' ERR_
// constants, all made from vm/error_codes.def and runtime/messages.def.
#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "vm/constants.h"

// One row of the error list: code, constant name (null when scripts have
// none), message id (-1: the text is the error-argument buffer) and text.
struct vlErrorRow {
  int32_t code;
  const char* name;
  int32_t messageId;
  const char* text;
};

// One row of the built-in message table, ascending by id.
struct vlMessageRow {
  int32_t id;
  const char* text;
};

enum : int32_t {
  VL_MSG_NO_ERROR = 0,
  VL_MSG_UNKNOWN_ERROR = 91,
  VL_MSG_CURRENT_LINE = 92,
  VL_MSG_DONE = 95,
  VL_MSG_FAILED = 108,
  VL_MSG_FILE = 194,
  VL_MSG_SKIPPED = 195,
  VL_MSG_IN_FUNCTION = 280,
  VL_MSG_ERROR = 402,
};

// One message id per built-in code, indexed by code - 1000. A code that no
// row names maps to "Unknown error code!".
inline constexpr int kErrorMapSize = 581;
extern const std::array<int32_t, kErrorMapSize> vlErrorMessageMap;

std::span<const vlErrorRow> ErrorRows();          // ascending by code
std::span<const vlMessageRow> BuiltinMessages();  // ascending by id
// The scripts' error constants ("ERR_MEM" = 1000 ...), ending with a row
// whose name is null, ready for RegisterConstants.
std::span<const vlConstant> ErrorConstants();

// The row of a built-in code, null when none.
const vlErrorRow* FindErrorRow(int code);

// The built-in text of a message id, null when the table has no such id.
const char* GetBuiltinMessage(int32_t id);

// A catalog's text for an id, or null. Installed by the locale catalog.
using vlCatalogLookup = const char* (*)(int32_t id);
void SetMessageCatalog(vlCatalogLookup lookup);

// The text of a message id: the catalog's when it has one whose
// placeholders match the built-in text's, else the built-in text. An id
// the table lacks gives the empty text.
const char* GetMessage(int32_t id);
