// Case folding, character classes and small text helpers over ISO 8859-1.
// The tables are built at compile time; nothing here keeps state.
#include "vm/text.h"

#include <cstdlib>
#include <cstring>

int CompareNoCase(const char* a, const char* b) {
  if (a == b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  const auto* p = reinterpret_cast<const unsigned char*>(a);
  const auto* q = reinterpret_cast<const unsigned char*>(b);
  for (;; ++p, ++q) {
    int d = vlUpperCaseTable[*p] - vlUpperCaseTable[*q];
    if (d != 0 || *p == 0) return d;
  }
}

int CompareNoCaseN(const char* a, const char* b, size_t n) {
  if (a == b || n == 0) return 0;
  if (!a) return -1;
  if (!b) return 1;
  const auto* p = reinterpret_cast<const unsigned char*>(a);
  const auto* q = reinterpret_cast<const unsigned char*>(b);
  for (; n > 0; --n, ++p, ++q) {
    int d = vlUpperCaseTable[*p] - vlUpperCaseTable[*q];
    if (d != 0 || *p == 0) return d;
  }
  return 0;
}

vlKeyedNode* FindObjectDataItem(vlKeyedNode* list, const char* key) {
  for (vlKeyedNode* n = list; n; n = n->next)
    if (n->key == key || CompareNoCase(n->key, key) == 0) return n;
  return nullptr;
}

char* LowerCaseString(char* text) {
  if (!text) return text;
  for (auto* p = reinterpret_cast<unsigned char*>(text); *p; ++p) *p = vlLowerCaseTable[*p];
  return text;
}

int IsGraphChar(int c) { return (c >= 0 && c < 256) ? vlGraphTable[c] : 0; }
int IsLetterChar(int c) { return (c >= 0 && c < 256) ? vlLetterTable[c] : 0; }
int IsAlnumChar(int c) {
  if (c >= '0' && c <= '9') return 1;
  return IsLetterChar(c);
}

char* EscapePercent(const char* text) {
  if (!text) return nullptr;
  size_t len = 0, percents = 0;
  for (const char* p = text; *p; ++p, ++len) percents += (*p == '%');
  if (percents == 0) return nullptr;
  char* out = static_cast<char*>(std::malloc(len + percents + 1));
  if (!out) return nullptr;
  char* w = out;
  for (const char* p = text; *p; ++p) {
    *w++ = *p;
    if (*p == '%') *w++ = '%';
  }
  *w = 0;
  return out;
}

bool FindLowestBit(uint32_t word, int* index) {
  if (word == 0) {
    if (index) *index = 32;
    return false;
  }
  if (index) *index = __builtin_ctz(word);
  return true;
}
