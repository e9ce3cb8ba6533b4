// The .call name check: the command names come from the reference's notes
// (command_names.inc, made at build time).
#include "tools/chunkasm/call_check.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "tools/chunkasm/edit_distance.h"

namespace vlasm {
namespace {

constexpr const char* kCommands[] = {
#include "command_names.inc"
};

std::string Lower(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string NearestCommand(const std::string& name) {
  const std::string lower = Lower(name);
  std::string best;
  size_t bestDistance = SIZE_MAX;
  for (const char* command : kCommands) {
    size_t distance = EditDistance(lower, command);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = command;
    }
  }
  return best;
}

std::vector<std::string> UnknownCallWarnings(const Chunk& chunk, const std::string& file) {
  std::set<std::string> known(std::begin(kCommands), std::end(kCommands));
  known.insert(chunk.setGlobals.begin(), chunk.setGlobals.end());
  std::vector<std::string> warnings;
  for (const auto& [line, name] : chunk.calls) {
    if (known.count(name)) continue;
    std::string nearest = NearestCommand(name);
    std::string text = file + ":" + std::to_string(line) + ": warning: no library registers a command '" + name + "'";
    if (Lower(name) == nearest)
      text += "; command names are lower case: '" + nearest + "'";
    else if (!nearest.empty())
      text += "; the nearest is '" + nearest + "'";
    warnings.push_back(text);
  }
  return warnings;
}

std::vector<std::string> UnsetGlobalWarnings(const Chunk& chunk, const std::string& file) {
  std::set<std::string> known(std::begin(kCommands), std::end(kCommands));
  known.insert(chunk.setGlobals.begin(), chunk.setGlobals.end());
  std::vector<std::string> warnings;
  for (const auto& [line, name] : chunk.globalReads) {
    if (!known.insert(name).second) continue;  // set, a command, or warned of already
    std::string text = file + ":" + std::to_string(line) + ": warning: the script reads the global '" + name +
                       "' but never sets it, so it is nil unless a plug-in sets it";
    const bool hex = (name.size() == 6 || name.size() == 8) &&
                     std::all_of(name.begin(), name.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    if (hex)
      text += "; a colour is a number, written 0x" + name + " ($" + name + " reads a global)";
    warnings.push_back(text);
  }
  return warnings;
}

}  // namespace vlasm
