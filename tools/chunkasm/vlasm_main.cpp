// vlasm: assembles the chunk text form into a compiled chunk file.
// Usage: vlasm [--big|--little] [-o output] input   ("-" reads standard input)
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "tools/chunkasm/chunkasm.h"

int main(int argc, char** argv) {
  std::optional<bool> big;
  const char* out = nullptr;
  const char* in = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--big")) {
      big = true;
    } else if (!std::strcmp(argv[i], "--little")) {
      big = false;
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
    std::fprintf(stderr, "usage: vlasm [--big|--little] [-o output] input\n");
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
  try {
    vlasm::Options options;
    options.requireReturn = true;
    bytes = vlasm::Assemble(text, big, options);
  } catch (const vlasm::AsmError& e) {
    std::fprintf(stderr, "%s:%s\n", in, e.what() + 4);  // "line N: ..." -> "file:N: ..."
    return 1;
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
