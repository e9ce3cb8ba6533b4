// Case folding and character classes of ISO 8859-1, the one place where
// names of commands, constants, objects and option keys are compared.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace vl::detail {

using ByteTable = std::array<unsigned char, 256>;

// Latin-1 letters fold by 32 like ASCII, except the multiplication and
// division signs (215, 247) that sit among them, and the thorn and
// y-diaeresis (222, 254, 255), which are left alone.
constexpr ByteTable MakeLowerTable() {
  ByteTable t{};
  for (int i = 0; i < 256; ++i) {
    bool fold = (i >= 65 && i <= 90) || (i >= 192 && i <= 221 && i != 215);
    t[i] = static_cast<unsigned char>(fold ? i + 32 : i);
  }
  return t;
}

constexpr ByteTable MakeUpperTable() {
  ByteTable t{};
  for (int i = 0; i < 256; ++i) {
    bool fold = (i >= 97 && i <= 122) || (i >= 224 && i <= 253 && i != 247);
    t[i] = static_cast<unsigned char>(fold ? i - 32 : i);
  }
  return t;
}

// 215 counts as a letter, 247 does not.
constexpr ByteTable MakeLetterTable() {
  ByteTable t{};
  for (int i = 0; i < 256; ++i)
    t[i] = (i >= 65 && i <= 90) || (i >= 97 && i <= 122) || (i >= 192 && i != 247);
  return t;
}

constexpr ByteTable MakeGraphTable() {
  ByteTable t{};
  for (int i = 0; i < 256; ++i) t[i] = (i >= 33 && i <= 126) || (i >= 161);
  return t;
}

}  // namespace vl::detail

// Folding and class tables, indexed by a byte value (0..255 only).
inline constexpr vl::detail::ByteTable vlLowerCaseTable = vl::detail::MakeLowerTable();
inline constexpr vl::detail::ByteTable vlUpperCaseTable = vl::detail::MakeUpperTable();
inline constexpr vl::detail::ByteTable vlLetterTable = vl::detail::MakeLetterTable();
inline constexpr vl::detail::ByteTable vlGraphTable = vl::detail::MakeGraphTable();

// Folds one character code; codes outside 0..255 fold to themselves.
constexpr int FoldLower(int c) { return (c >= 0 && c < 256) ? vlLowerCaseTable[c] : c; }
constexpr int FoldUpper(int c) { return (c >= 0 && c < 256) ? vlUpperCaseTable[c] : c; }

// 0 when equal, else the difference of the upper-folded bytes at the first
// mismatch (a's minus b's). Null sorts before any text.
int CompareNoCase(const char* a, const char* b);
// As CompareNoCase over at most n characters.
int CompareNoCaseN(const char* a, const char* b, size_t n);

// A node of any {next, key} list (per-object data and the like).
struct vlKeyedNode {
  vlKeyedNode* next;
  const char* key;
};
// The first node whose key is the same pointer or compares equal, or null.
vlKeyedNode* FindObjectDataItem(vlKeyedNode* list, const char* key);

// Lower-cases the text in place and returns it.
char* LowerCaseString(char* text);

int IsGraphChar(int c);
int IsLetterChar(int c);
int IsAlnumChar(int c);

// A new copy (malloc) with every '%' doubled; null when the text has none,
// is empty, or memory runs out.
char* EscapePercent(const char* text);

// Index of the lowest set bit; false with index 32 for a zero word.
bool FindLowestBit(uint32_t word, int* index);
