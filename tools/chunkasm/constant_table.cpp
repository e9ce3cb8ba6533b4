// The player's constants for #NAME in the text form: the list is made at
// build time from the command reference (constants.inc), which a test
// keeps equal to what the libraries register.
#include <cctype>

#include "tools/chunkasm/chunkasm.h"
#include "tools/chunkasm/edit_distance.h"

namespace vlasm {
namespace {

struct Row {
  const char* name;  // lower case
  const char* text;  // a string constant's value, else nullptr
  double number;
};

constexpr Row kConstants[] = {
#include "constants.inc"
};

std::string Lower(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

std::optional<Constant> PlayerConstant(std::string_view name) {
  const std::string lower = Lower(name);
  for (const Row& row : kConstants) {
    if (lower != row.name) continue;
    if (row.text) return Constant{4, 0, std::string(row.text)};
    return Constant{3, row.number, std::nullopt};
  }
  return std::nullopt;
}

std::string NearestPlayerConstant(std::string_view name) {
  const std::string lower = Lower(name);
  std::string best;
  size_t bestDistance = 3;  // farther names are no hint
  for (const Row& row : kConstants) {
    size_t distance = EditDistance(lower, row.name);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = row.name;
    }
  }
  for (char& c : best) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return best;
}

}  // namespace vlasm
