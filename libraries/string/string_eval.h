// The expression evaluator behind Eval: a tokenizer and an
// operator-precedence parser that computes while it parses. Numbers are
// doubles; bitwise operators work on 32-bit unsigned integers. Knows
// nothing of the VM.
#pragma once
#include <cstddef>

inline constexpr size_t kMaxEvalNameLength = 64;
// Nesting of parentheses and unary operators; deeper expressions fail with
// 1135 instead of running the native stack out.
inline constexpr int kMaxEvalDepth = 200;

// Variables in table order: names as one buffer of NUL-terminated names,
// values in the same order.
struct vlEvalVariables {
  const char* names;
  const double* values;
  size_t count;
};

// 1 when the name may be a variable: 1 to 64 characters, a letter or "_"
// first, then letters, digits, "_", "$" or "!".
bool IsEvalVariableName(const char* name, size_t length);

// Evaluates text[0..length) (the byte at text[length] must be 0). 0 with
// *result set, or 1018, 1024, 1089, 1135, 1186 or 1187.
int EvaluateExpression(const char* text, size_t length, const vlEvalVariables* variables, double* result);
