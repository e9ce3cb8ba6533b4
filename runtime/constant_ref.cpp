// Constant references ("#NAME") in option texts. Depends on the constants
// tables and the character classes.
#include "runtime/constant_ref.h"

#include "vm/text.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

int ParseConstantRef(vlVMState* L, const char* text, const char** stringOut, double* numberOut,
                     int* lengthOut) {
  if (!text || text[0] != '#') return ERR_WRONGUSAGE;
  auto first = static_cast<unsigned char>(text[1]);
  if (!IsLetterChar(first) && first != '_') return ERR_SYNTAXERROR;
  char name[65];
  size_t n = 0;
  for (; n < 64; ++n) {
    auto c = static_cast<unsigned char>(text[1 + n]);
    if (!(IsAlnumChar(c) || c == '_' || c == '$' || c == '!')) break;
    name[n] = static_cast<char>(c);
  }
  name[n] = 0;
  if (stringOut) *stringOut = nullptr;
  if (!vl::FindConstant(L, name, stringOut, numberOut)) return ERR_FINDCST;
  if (lengthOut) *lengthOut = static_cast<int>(n) + 1;
  return 0;
}
