// vlasm: assembles the chunk text form into a compiled chunk file, and
// refuses one the player would refuse, naming the line that breaks a rule.
// Usage: vlasm [--big|--little] [--labels] [-o output] input   ("-" reads
// standard input)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "tools/chunkasm/call_check.h"
#include "tools/chunkasm/chunkasm.h"
#include "vm/chunk.h"

namespace {

// The function the loader counts as number `index`: nested functions end
// before the one holding them.
const vlasm::Function* FindFinished(const vlasm::Function& f, int index, int* counter) {
  for (const vlasm::Function& nested : f.nested)
    if (const vlasm::Function* found = FindFinished(nested, index, counter)) return found;
  return (*counter)++ == index ? &f : nullptr;
}

struct ByteSource {
  const std::vector<uint8_t>* bytes;
  bool given = false;
};

const char* ReadOnce(vlVMState*, void* data, size_t* size) {
  auto* source = static_cast<ByteSource*>(data);
  if (source->given) {
    *size = 0;
    return nullptr;
  }
  source->given = true;
  *size = source->bytes->size();
  return reinterpret_cast<const char*>(source->bytes->data());
}

// Loads the chunk as the player does; 0, or 1 after printing why the player
// would refuse it.
int CheckAsPlayer(const char* in, const vlasm::Chunk& chunk, const std::vector<uint8_t>& bytes) {
  vlVMState* L = vl::OpenVmState();
  if (!L) {
    std::fprintf(stderr, "vlasm: out of memory\n");
    return 1;
  }
  ByteSource source{&bytes};
  vl::vlCodeFault fault;
  int status = vl::LoadChunk(L, ReadOnce, &source, "vlasm", &fault);
  vl::CloseVmState(L);
  if (!status) return 0;
  int counter = 0;
  const vlasm::Function* f = fault.rule ? FindFinished(chunk.main, fault.function, &counter) : nullptr;
  if (!f) {
    std::fprintf(stderr, "%s: the player would refuse this chunk (error %d)\n", in, status);
    return 1;
  }
  int line = fault.pc >= 0 && static_cast<size_t>(fault.pc) < f->textLines.size() ? f->textLines[fault.pc]
                                                                                     : f->textLine;
  std::fprintf(stderr, "%s:%d: the player would refuse this code (\"Bad bytecode!\"): %s\n", in,
               line > 0 ? line : 1, fault.rule);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<bool> big;
  bool listLabels = false;
  const char* out = nullptr;
  const char* in = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--big")) {
      big = true;
    } else if (!std::strcmp(argv[i], "--little")) {
      big = false;
    } else if (!std::strcmp(argv[i], "--labels")) {
      listLabels = true;
    } else if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
      out = argv[++i];
    } else if (!in && (argv[i][0] != '-' || !std::strcmp(argv[i], "-"))) {
      in = argv[i];
    } else {
      in = nullptr;
      break;
    }
  }
  if (!in) {
    std::fprintf(stderr, "usage: vlasm [--big|--little] [--labels] [-o output] input\n");
    return 2;
  }
  std::string text;
  if (!std::strcmp(in, "-")) {
    text.assign(std::istreambuf_iterator<char>(std::cin), {});
  } else {
    std::ifstream f(in, std::ios::binary);
    if (!f) {
      std::fprintf(stderr, "vlasm: cannot read %s\n", in);
      return 1;
    }
    text.assign(std::istreambuf_iterator<char>(f), {});
  }
  std::vector<uint8_t> bytes;
  vlasm::Chunk chunk;
  try {
    vlasm::Options options;
    options.requireReturn = true;
    chunk = vlasm::Parse(text, options);
    if (big) chunk.bigEndian = *big;
    bytes = vlasm::WriteChunk(chunk);
  } catch (const vlasm::AsmError& e) {
    // "line N: text" -> "file:N: text", the form editors jump to.
    const char* text = std::strstr(e.what(), ": ");
    std::fprintf(stderr, "%s:%d: %s\n", in, e.line, text ? text + 2 : e.what());
    return 1;
  }
  if (CheckAsPlayer(in, chunk, bytes)) return 1;
  for (const std::string& warning : vlasm::UnknownCallWarnings(chunk, in))
    std::fprintf(stderr, "%s\n", warning.c_str());
  for (const std::string& warning : vlasm::UnsetGlobalWarnings(chunk, in))
    std::fprintf(stderr, "%s\n", warning.c_str());
  // The main function's code labels and their instruction indices, the
  // VALUE of an applet description's label line, in order of the code;
  // on standard error when the chunk goes to standard output.
  if (listLabels) {
    FILE* to = out ? stdout : stderr;
    std::vector<std::pair<std::string, int32_t>> labels = chunk.mainLabels;
    std::stable_sort(labels.begin(), labels.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    for (const auto& [name, index] : labels) std::fprintf(to, "label %s %d\n", name.c_str(), index);
  }
  FILE* f = out ? std::fopen(out, "wb") : stdout;
  bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f) written = (out ? std::fclose(f) : std::fflush(f)) == 0 && written;
  if (!written) {
    std::fprintf(stderr, "vlasm: cannot write %s\n", out ? out : "standard output");
    if (f && out) std::remove(out);  // no partial chunk left behind
    return 1;
  }
  return 0;
}
