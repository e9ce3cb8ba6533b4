// Chunk assembler: turns the readable text form (see README.md beside this
// file) into compiled chunk bytes. Test tooling only; it writes the bytes
// itself and needs nothing from the VM but the opcode table.
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vlasm {

// A string field of a chunk: nullopt is written as size 0 ("no string").
using MaybeString = std::optional<std::string>;

struct Constant {
  // 0 nil, 3 number, 4 string; any other byte is written alone (for chunks
  // that must be refused).
  uint8_t type = 0;
  double number = 0;
  MaybeString text;
};

struct LocalVar {
  MaybeString name;
  int32_t startPc = 0;
  int32_t endPc = 0;
};

// One function record, written field by field in chunk order. Nothing here
// is checked against anything else, so tests can build malformed records.
struct Function {
  MaybeString source;
  int32_t lineDefined = 0;
  uint8_t numUpvalues = 0;
  uint8_t numParams = 0;
  uint8_t isVararg = 0;
  uint8_t maxStack = 0;
  std::vector<int32_t> lines;
  std::vector<LocalVar> locals;
  std::vector<MaybeString> upvalueNames;
  std::vector<Constant> constants;
  std::vector<Function> nested;
  std::vector<uint32_t> code;
  // Where the text form put them (not written): the line of each
  // instruction and of the function's start, for messages.
  std::vector<int> textLines;
  int textLine = 0;
};

struct Chunk {
  bool bigEndian = false;
  Function main;
  // Not written: the text line and global name of each ".call" of a plain
  // global (not "lib.name"), and every global name the code sets, so the
  // front end can warn of calls of names nothing defines.
  std::vector<std::pair<int, std::string>> calls;
  std::vector<std::string> setGlobals;
  // Not written: the text line and name of each global the code reads as
  // a value ($Name, getglobal), so the front end can warn of one that
  // nothing sets.
  std::vector<std::pair<int, std::string>> globalReads;
  // Not written: the main function's code labels with the index of the
  // instruction each names (what an applet description's label lines
  // give).
  std::vector<std::pair<std::string, int32_t>> mainLabels;
};

// The player's constant of that name (without the '#', any case), as the
// libraries register it; nullopt when none does (a plug-in's constants and
// an applet's own are only known at run time).
std::optional<Constant> PlayerConstant(std::string_view name);

// The player constant nearest to name (upper case, at most two edits
// away), or "" when none is that near.
std::string NearestPlayerConstant(std::string_view name);

// Chunk bytes of a model, in its byte order.
std::vector<uint8_t> WriteChunk(const Chunk& chunk);

struct AsmError : std::runtime_error {
  AsmError(int line, const std::string& what)
      : std::runtime_error("line " + std::to_string(line) + ": " + what), line(line) {}
  int line;
};

struct Options {
  // Refuse a function whose last instruction is not a return (the player
  // would refuse the chunk). Off for tests that build such chunks on purpose;
  // the vlasm front end turns it on.
  bool requireReturn = false;
};

// Parses the text form into a model; throws AsmError.
Chunk Parse(std::string_view text, Options options = {});

// Parse + WriteChunk. `forceBigEndian` overrides the text's own ".endian".
std::vector<uint8_t> Assemble(std::string_view text, std::optional<bool> forceBigEndian = std::nullopt,
                              Options options = {});

// The 21-byte chunk header in the given byte order.
std::vector<uint8_t> ChunkHeader(bool bigEndian);

}  // namespace vlasm
