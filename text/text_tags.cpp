// The inline tag language of text output.
#include "text/text_tags.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/constant_ref.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

constexpr int kErrBracket = 1108;
constexpr int kErrUnknownTag = 1251;
constexpr int kErrSyntax = 1252;
constexpr int kErrTagArgs = 1253;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

struct TagReader {
  vlVMState* state;
  const char* text;
  size_t length;
  size_t pos;

  char Peek() const { return pos < length ? text[pos] : '\0'; }
  void SkipBlanks() {
    while (pos < length && IsBlank(text[pos])) ++pos;
  }

  // A number, or "#NAME" of a number constant.
  int ReadValue(double* out) {
    SkipBlanks();
    if (pos >= length) return kErrBracket;
    if (text[pos] == '"') return ERR_VALUEEXPECTED;
    if (text[pos] == '#') {
      if (!state) return ERR_WRONGUSAGE;
      // The constant reader wants a terminated name: copy what may be one.
      char name[72];
      size_t n = 0;
      while (pos + n < length && n < sizeof name - 1 && text[pos + n] != ']' && text[pos + n] != ',') {
        name[n] = text[pos + n];
        ++n;
      }
      name[n] = '\0';
      const char* str = nullptr;
      int used = 0;
      if (int status = ParseConstantRef(state, name, &str, out, &used)) return status;
      if (str) return ERR_VALUEEXPECTED;
      pos += static_cast<size_t>(used);
      return 0;
    }
    if (text[pos] == '$') {  // hexadecimal, as in scripts
      size_t n = 1;
      double value = 0;
      while (pos + n < length && std::isxdigit(static_cast<unsigned char>(text[pos + n]))) {
        char h = text[pos + n];
        value = value * 16 + (std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (std::tolower(h) - 'a' + 10));
        ++n;
      }
      if (n == 1) return ERR_VALUEEXPECTED;
      pos += n;
      *out = value;
      return 0;
    }
    // strtod needs a terminated copy of the number's characters.
    size_t n = 0;
    while (pos + n < length && (std::isalnum(static_cast<unsigned char>(text[pos + n])) ||
                                text[pos + n] == '.' || text[pos + n] == '-' || text[pos + n] == '+'))
      ++n;
    std::string number(text + pos, n);
    char* end = nullptr;
    double value = n ? std::strtod(number.c_str(), &end) : 0.0;
    if (!n || end == number.c_str()) return ERR_VALUEEXPECTED;
    pos += static_cast<size_t>(end - number.c_str());
    *out = value;
    return 0;
  }

  // Up to max comma-separated values after '='.
  int ReadValues(double* values, int max, int* count) {
    *count = 0;
    for (;;) {
      if (int status = ReadValue(&values[*count])) return status;
      ++*count;
      SkipBlanks();
      if (Peek() != ',' || *count == max) return 0;
      ++pos;
    }
  }
};

bool MatchWord(const char* text, size_t length, size_t pos, const char* word, size_t* end) {
  size_t n = std::strlen(word);
  if (pos + n > length) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(text[pos + i])) != word[i]) return false;
  *end = pos + n;
  return true;
}

// Parses the tag at r.pos (just after '['); r.pos ends after ']'.
int ParseTag(TagReader& r, vlTextSettings* s, std::vector<uint32_t>* colors) {
  r.SkipBlanks();
  bool closing = false;
  if (r.Peek() == '/') {
    closing = true;
    ++r.pos;
    r.SkipBlanks();
  }
  if (r.pos >= r.length) return kErrBracket;
  size_t end;
  static const struct {
    char letter;
    uint32_t bit;
  } kLetters[] = {{'b', VL_STYLE_BOLD}, {'i', VL_STYLE_ITALIC}, {'u', VL_STYLE_UNDERLINED}};
  for (const auto& l : kLetters) {
    if (std::tolower(static_cast<unsigned char>(r.Peek())) != l.letter) continue;
    char next = r.pos + 1 < r.length ? r.text[r.pos + 1] : '\0';
    if (next != ']' && !IsBlank(next)) {
      if (std::isalpha(static_cast<unsigned char>(next))) break;  // a longer word
      if (next == '\0') return kErrBracket;
      return kErrUnknownTag;
    }
    ++r.pos;
    if (closing)
      s->style &= ~l.bit;
    else
      s->style |= l.bit;
    goto close;
  }
  if (MatchWord(r.text, r.length, r.pos, "color", &end)) {
    r.pos = end;
    r.SkipBlanks();
    if (closing) {
      if (colors->empty()) return kErrSyntax;
      s->color = colors->back();
      colors->pop_back();
    } else {
      if (r.Peek() != '=') return r.pos >= r.length ? kErrBracket : kErrTagArgs;
      ++r.pos;
      double v;
      if (int status = r.ReadValue(&v)) return status;
      colors->push_back(s->color);
      s->color = vl::DoubleToUInt32Bits(v);
    }
  } else if (MatchWord(r.text, r.length, r.pos, "shadow", &end)) {
    r.pos = end;
    r.SkipBlanks();
    if (closing) {
      s->style &= ~VL_STYLE_SHADOW;
    } else {
      if (r.Peek() == '=') {
        ++r.pos;
        double v[3];
        int n;
        if (int status = r.ReadValues(v, 3, &n)) return status;
        uint32_t color = s->shadowColor;
        int64_t size = s->shadowSize, direction = s->shadowDirection;
        if (n > 0) color = vl::DoubleToUInt32Bits(v[0]);
        if (n > 1) size = vl::DoubleToInt64(v[1]);
        if (n > 2) direction = vl::DoubleToInt64(v[2]);
        if (size < 1 || size > 64) return ERR_WRONGUSAGE;
        s->shadowColor = color;
        s->shadowSize = static_cast<int32_t>(size & 0xFF);
        s->shadowDirection = static_cast<int32_t>(direction & 0xFF);
      }
      s->style |= VL_STYLE_SHADOW;
    }
  } else if (MatchWord(r.text, r.length, r.pos, "edge", &end)) {
    r.pos = end;
    r.SkipBlanks();
    if (closing) {
      s->style &= ~VL_STYLE_EDGE;
    } else {
      if (r.Peek() == '=') {
        ++r.pos;
        double v[2];
        int n;
        if (int status = r.ReadValues(v, 2, &n)) return status;
        uint32_t color = s->edgeColor;
        int64_t size = s->edgeSize;
        if (n > 0) color = vl::DoubleToUInt32Bits(v[0]);
        if (n > 1) size = vl::DoubleToInt64(v[1]);
        if (size < 1 || size > 8) return ERR_WRONGUSAGE;
        s->edgeColor = color;
        s->edgeSize = static_cast<int32_t>(size);
      }
      s->style |= VL_STYLE_EDGE;
    }
  } else {
    return r.pos >= r.length ? kErrBracket : kErrUnknownTag;
  }
close:
  r.SkipBlanks();
  if (r.Peek() != ']') return r.pos >= r.length ? kErrBracket : kErrSyntax;
  ++r.pos;
  return 0;
}

bool SameStyle(const vlTextSettings& a, const vlTextSettings& b) {
  return a.style == b.style && a.color == b.color && a.shadowColor == b.shadowColor &&
         a.edgeColor == b.edgeColor && a.shadowSize == b.shadowSize && a.shadowDirection == b.shadowDirection &&
         a.edgeSize == b.edgeSize && a.font == b.font;
}

}  // namespace

int SplitTaggedText(vlVMState* state, const char* text, size_t length, bool literal, const vlTextSettings& base,
                    std::vector<vlStyledSpan>* spans) {
  vlTextSettings style = base;
  // The colour stack is sized once: every colour tag opens with a bracket.
  std::vector<uint32_t> colors;
  colors.reserve(literal ? 0 : static_cast<size_t>(std::count(text, text + length, '[')));
  std::string pending;
  auto flush = [&] {
    if (!pending.empty()) spans->push_back({std::move(pending), style});
    pending.clear();
  };
  TagReader r{state, text, length, 0};
  while (r.pos < length) {
    char c = text[r.pos];
    // Literal text (what a user typed) shows every bracket as it is, so
    // the finished input looks as it did while it was typed.
    if (literal) {
      pending += c;
      ++r.pos;
      continue;
    }
    if ((c == '[' || c == ']') && r.pos + 1 < length && text[r.pos + 1] == c) {
      pending += c;
      r.pos += 2;
      continue;
    }
    if (c == ']') return kErrSyntax;
    if (c == '[') {
      ++r.pos;
      vlTextSettings next = style;
      if (int status = ParseTag(r, &next, &colors)) {
        flush();
        return status;
      }
      if (!SameStyle(next, style)) {
        flush();
        style = next;
      }
      continue;
    }
    pending += c;
    ++r.pos;
  }
  flush();
  return 0;
}
