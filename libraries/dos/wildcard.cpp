// Wildcard patterns of the file commands: "?" any character, "#" a digit,
// "*" any run, "[...]" and "[!...]" sets with ranges; lists of patterns
// separated by ';'. No dependencies.
#include <cstring>
#include <string>

#include "libraries/dos/dos_library.h"

namespace {

// Tests c against the set whose text starts at p (just behind the '[');
// *end gets the position behind the closing ']'. False with *end null when
// the set is not closed.
bool MatchSet(const char* p, unsigned char c, const char** end) {
  bool negate = *p == '!';
  if (negate) ++p;
  const char* first = p;
  bool hit = false;
  while (*p && (*p != ']' || p == first)) {
    auto lo = static_cast<unsigned char>(*p);
    // A range needs a bound below the next character and no closing ']'
    // right behind the '-'.
    if (p[1] == '-' && p[2] && p[2] != ']' && lo < static_cast<unsigned char>(p[2])) {
      auto hi = static_cast<unsigned char>(p[2]);
      if (c >= lo && c <= hi) hit = true;
      p += 3;
      continue;
    }
    if (c == lo) hit = true;
    ++p;
  }
  if (*p != ']') {
    *end = nullptr;
    return false;
  }
  *end = p + 1;
  return hit != negate;
}

// Whether the pattern element at *p matches c; *p moves behind it.
bool MatchOne(const char** p, unsigned char c) {
  const char* q = *p;
  switch (*q) {
    case '?':
      *p = q + 1;
      return true;
    case '#':
      *p = q + 1;
      return c >= '0' && c <= '9';
    case '[': {
      const char* end;
      bool hit = MatchSet(q + 1, c, &end);
      if (end) {
        *p = end;
        return hit;
      }
      // An unclosed set is a plain '['.
      *p = q + 1;
      return c == '[';
    }
    default:
      *p = q + 1;
      return static_cast<unsigned char>(*q) == c;
  }
}

}  // namespace

int MatchWildcard(const char* pattern, const char* string) {
  // Greedy matching with one backtracking point: the last '*' seen is
  // retried one character further on each mismatch. Every position is
  // tried, so "*" works in front of "#" and sets as in front of letters.
  const char* p = pattern;
  const char* s = string;
  const char* starP = nullptr;
  const char* starS = nullptr;
  while (*s) {
    if (*p == '*') {
      while (*p == '*') ++p;
      starP = p;
      starS = s;
      continue;
    }
    const char* next = p;
    if (*p && MatchOne(&next, static_cast<unsigned char>(*s))) {
      p = next;
      ++s;
      continue;
    }
    if (!starP) return 0;
    p = starP;
    s = ++starS;
  }
  while (*p == '*') ++p;
  return *p == 0 ? 1 : 0;
}

int MatchPatternList(const char* list, const char* string) {
  if (!list || !*list) return 0;
  std::string patterns(list);
  size_t start = 0;
  for (;;) {
    size_t end = patterns.find(';', start);
    std::string one = patterns.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (MatchWildcard(one.c_str(), string)) return 1;
    if (end == std::string::npos) return 0;
    start = end + 1;
  }
}
