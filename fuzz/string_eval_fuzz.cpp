// Feeds hostile expressions to the Eval tokenizer and parser, with two
// variables whose names overlap. Nesting is bounded by the evaluator
// itself; any result must be a known code.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "libraries/string/string_eval.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  static const char kNames[] = "x\0xy\0a_b$!";
  static const double kValues[] = {2, 3, -1};
  vlEvalVariables variables{kNames, kValues, 3};
  double result = 0;
  int status = EvaluateExpression(text.c_str(), text.size(), &variables, &result);
  switch (status) {
    case 0: case 1018: case 1024: case 1089: case 1135: case 1186: case 1187: break;
    default: abort();
  }
  return 0;
}
