// vlasm's warnings for .call names that neither a library registers nor
// the script itself sets, each with the nearest command name, and for
// globals read but never set.
#pragma once
#include <string>
#include <vector>

#include "tools/chunkasm/chunkasm.h"

namespace vlasm {

// "FILE:LINE: warning: ..." lines, in the order of the calls.
std::vector<std::string> UnknownCallWarnings(const Chunk& chunk, const std::string& file);

// "FILE:LINE: warning: ..." lines, one for each global the code reads as a
// value ($Name, getglobal) that it never sets and no library registers, at
// its first read: it is nil when the script runs. A colour written
// $RRGGBB is the usual case.
std::vector<std::string> UnsetGlobalWarnings(const Chunk& chunk, const std::string& file);

// The registered command nearest to name (fewest single-character edits,
// case ignored).
std::string NearestCommand(const std::string& name);

}  // namespace vlasm
