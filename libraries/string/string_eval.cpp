// Tokenizer and precedence-climbing evaluator of Eval expressions. Depends
// on the runtime's number parser and the shared double-to-integer helpers.
#include "libraries/string/string_eval.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "runtime/option_text.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

enum Token : int {
  kShiftLeft = 256,
  kShiftRight,
  kConcat,
  kNotEqual,
  kLessEqual,
  kGreaterEqual,
  kAnd,
  kOr,
  kNot,
  kNumber,
};

// Texts of the multi-character tokens, tried in this order.
constexpr const char* kTokenTexts[] = {"<<", ">>", "..", "<>", "<=", ">=", "and", "or", "not"};

constexpr int kUnaryPriority = 12;

bool IsLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
int FoldAscii(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// A number as a 32-bit bit pattern: negative values truncate as signed
// 32-bit, others through 64 bits keeping the low word.
uint32_t ToBits(double d) {
  return d < 0 ? static_cast<uint32_t>(vl::DoubleToInt32(d)) : vl::DoubleToUInt32Bits(d);
}

struct Priority {
  int left;
  int right;
};

// The binding priorities of a binary operator token; left 0 when the
// token is none.
Priority BinaryPriority(int token) {
  switch (token) {
    case '^': return {14, 13};
    case '*': case '/': case '\\': case '%': return {11, 11};
    case '+': case '-': return {10, 10};
    case kShiftLeft: case kShiftRight: return {9, 9};
    case '&': return {8, 8};
    case '~': return {7, 7};
    case '|': return {6, 6};
    case kConcat: return {5, 4};
    case '=': case kNotEqual: case '<': case kLessEqual: case '>': case kGreaterEqual: return {3, 3};
    case kAnd: return {2, 2};
    case kOr: return {1, 1};
    default: return {0, 0};
  }
}

class Evaluator {
 public:
  Evaluator(const char* text, size_t length, const vlEvalVariables* variables)
      : text_(text), length_(length), variables_(variables) {}

  int Run(double* result) {
    if (int status = Next()) return status;
    if (int status = SubExpression(-1, result)) return status;
    return pos_ == length_ + 1 ? 0 : ERR_SYNTAXERROR;
  }

 private:
  // Whether the text at the scanner starts with word (case ignored) and
  // no letter or digit follows it.
  size_t WordHere(const char* word, size_t length) const {
    const char* p = text_ + pos_;
    for (size_t i = 0; i < length; ++i)
      if (FoldAscii(static_cast<unsigned char>(p[i])) != FoldAscii(static_cast<unsigned char>(word[i])))
        return 0;
    int after = static_cast<unsigned char>(p[length]);
    return IsLetter(after) || IsDigit(after) ? 0 : length;
  }

  int Next() {
    while (pos_ < length_ && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    if (pos_ > length_) {
      token_ = 0;
      return 0;
    }
    int c = static_cast<unsigned char>(text_[pos_]);
    if (IsDigit(c) || c == '$') {
      size_t used = 0;
      int error = 0;
      number_ = ParseNumberString(text_ + pos_, &used, &error);
      if (error) return error;
      pos_ += used;
      token_ = kNumber;
      return 0;
    }
    for (size_t i = 0; i < sizeof kTokenTexts / sizeof *kTokenTexts; ++i) {
      if (size_t n = WordHere(kTokenTexts[i], std::strlen(kTokenTexts[i]))) {
        pos_ += n;
        token_ = kShiftLeft + static_cast<int>(i);
        return 0;
      }
    }
    if (variables_) {
      const char* name = variables_->names;
      for (size_t i = 0; i < variables_->count; ++i) {
        size_t length = std::strlen(name);
        if (WordHere(name, length)) {
          pos_ += length;
          number_ = variables_->values[i];
          token_ = kNumber;
          return 0;
        }
        name += length + 1;
      }
    }
    token_ = c;
    ++pos_;
    return 0;
  }

  // An operand and the binary operators whose left priority exceeds limit.
  int SubExpression(int limit, double* out) {
    if (++depth_ > kMaxEvalDepth) return ERR_STACK;
    int status = SubExpressionBody(limit, out);
    --depth_;
    return status;
  }

  int SubExpressionBody(int limit, double* out) {
    double value;
    if (token_ == '-' || token_ == kNot || token_ == '~') {
      int op = token_;
      if (int status = Next()) return status;
      if (int status = SubExpression(kUnaryPriority, &value)) return status;
      if (op == '-') value = -value;
      else if (op == kNot) value = value == 0 ? 1 : 0;
      else value = static_cast<uint32_t>(~vl::DoubleToUInt32Bits(value));
    } else if (token_ == '(') {
      if (int status = Next()) return status;
      if (int status = SubExpression(-1, &value)) return status;
      if (token_ != ')') return ERR_UNMPARENTHESES;
      if (int status = Next()) return status;
    } else if (token_ == kNumber) {
      value = number_;
      if (int status = Next()) return status;
    } else {
      return ERR_VALUEEXPECTED;
    }
    for (;;) {
      int op = token_;
      Priority priority = BinaryPriority(op);
      if (priority.left == 0 || priority.left <= limit) break;
      if (int status = Next()) return status;
      double right;
      if (int status = SubExpression(priority.right, &right)) return status;
      if (int status = Combine(op, value, right, &value)) return status;
    }
    *out = value;
    return 0;
  }

  static int Combine(int op, double a, double b, double* out) {
    switch (op) {
      case '^': *out = std::pow(a, b); return 0;
      case '*': *out = a * b; return 0;
      case '/':
        if (b == 0) return ERR_ZERODIVISION;
        *out = a / b;
        return 0;
      case '\\':
      case '%': {
        // In 64 bits, so that the lowest integer divided by -1 stays defined.
        int64_t x = vl::DoubleToInt32(a), y = vl::DoubleToInt32(b);
        if (y == 0) return ERR_ZERODIVISION;
        *out = static_cast<double>(op == '\\' ? x / y : x % y);
        return 0;
      }
      case '+': *out = a + b; return 0;
      case '-': *out = a - b; return 0;
      case kShiftLeft: *out = static_cast<uint32_t>(ToBits(a) << (ToBits(b) & 31)); return 0;
      case kShiftRight: *out = ToBits(a) >> (ToBits(b) & 31); return 0;
      case '&': *out = ToBits(a) & ToBits(b); return 0;
      case '~': *out = ToBits(a) ^ ToBits(b); return 0;
      case '|': *out = ToBits(a) | ToBits(b); return 0;
      case kConcat: return ERR_WRONGOPCST;
      case '=': *out = a == b; return 0;
      case kNotEqual: *out = a != b; return 0;
      case '<': *out = a < b; return 0;
      case kLessEqual: *out = a <= b; return 0;
      case '>': *out = a > b; return 0;
      case kGreaterEqual: *out = a >= b; return 0;
      case kAnd: *out = (a == 0 || b == 0) ? 0 : b; return 0;
      case kOr: *out = a != 0 ? a : b; return 0;
      default: return ERR_SYNTAXERROR;
    }
  }

  const char* text_;
  size_t length_;
  const vlEvalVariables* variables_;
  size_t pos_ = 0;
  int token_ = 0;
  double number_ = 0;
  int depth_ = 0;
};

}  // namespace

bool IsEvalVariableName(const char* name, size_t length) {
  if (length == 0 || length > kMaxEvalNameLength) return false;
  int first = static_cast<unsigned char>(name[0]);
  if (!IsLetter(first) && first != '_') return false;
  for (size_t i = 1; i < length; ++i) {
    int c = static_cast<unsigned char>(name[i]);
    if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != '$' && c != '!') return false;
  }
  return true;
}

int EvaluateExpression(const char* text, size_t length, const vlEvalVariables* variables, double* result) {
  Evaluator evaluator(text, length, variables);
  return evaluator.Run(result);
}
