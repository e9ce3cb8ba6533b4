// mkapplet: writes a compiled-script container (.vla, or compressed .vlz
// form) around an assembled main chunk, from a small description file.
// Test tooling only; it knows the container's byte layout and nothing of
// the player. Usage and description lines: kUsage below (mkapplet --help).
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: mkapplet [-d description] [-o out.vla] chunk\n"
    "Wraps a chunk assembled by vlasm into an applet container the player runs\n"
    "(default output out.vla). Description lines ('#' starts a comment):\n"
    "  revision MAJOR MINOR             program version the applet is made for (6 1)\n"
    "  header N TEXT                    N: 1 title, 2 version, 3 copyright, 4 author,\n"
    "                                   5 description\n"
    "  identifier TEXT                  the applet's identifier\n"
    "  display ID WIDTH HEIGHT TITLE    a display opened before the script starts\n"
    "  constant NAME NUMBER|\"TEXT\"     a constant the script sees\n"
    "  label NAME VALUE                 a label of the main chunk\n"
    "  linkedfile NAME HOSTFILE         links HOSTFILE into the applet as NAME\n"
    "  include FIRST LAST OFFSET NAME PART\n"
    "  warning LINE TEXT                a compiler warning shown at start\n"
    "  skipoverrides                    ignore command-line display settings\n"
    "  compress                         write the compressed (.vlz) form\n"
    "See tools/README.md.\n";

using Bytes = std::vector<uint8_t>;

void U8(Bytes& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
void U16(Bytes& b, uint32_t v) {
  U8(b, v >> 8);
  U8(b, v);
}
void U32(Bytes& b, uint32_t v) {
  U16(b, v >> 16);
  U16(b, v);
}
void Text(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}
void Short(Bytes& b, const std::string& s) {
  U16(b, static_cast<uint32_t>(s.size()));
  b.insert(b.end(), s.begin(), s.end());
}
void F64(Bytes& b, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  U32(b, static_cast<uint32_t>(bits >> 32));
  U32(b, static_cast<uint32_t>(bits));
}

bool ReadFile(const std::string& path, Bytes* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

std::string Rest(std::istringstream& in) {
  std::string rest;
  std::getline(in, rest);
  size_t start = rest.find_first_not_of(" \t");
  return start == std::string::npos ? "" : rest.substr(start);
}

struct Decl {
  uint32_t subtype, id, line;
  std::string name;
  uint32_t width = 0, height = 0;
};

// A display declaration at revision 6 with the player's defaults.
void DisplayData(Bytes& b, const Decl& d) {
  U32(b, 0);
  U32(b, 0xFFFE7960);  // x: centred
  U32(b, 0xFFFE7960);  // y: centred
  U32(b, d.width);
  U32(b, d.height);
  U32(b, 0);           // colour
  U32(b, 0x400);       // flags: active
  U32(b, 0);
  U32(b, 0);
  U32(b, 0);
  U32(b, 0);  // drag regions
  U32(b, 0);  // size regions
  Short(b, d.name);
  U8(b, 1);  // fill style
  U32(b, 0);
  U16(b, 0);
  U32(b, 0);
  U32(b, 0);
  U32(b, 0);
  U8(b, 2);  // gradient: style, centre, balance, border, no stops
  U32(b, 500000);
  U32(b, 500000);
  U32(b, 500000);
  U32(b, 0);
  U8(b, 0);
  Short(b, "");
  U8(b, 0);  // orientation
  U8(b, 0);  // monitor
  U8(b, 0);  // no menu
  U32(b, 0);
  U8(b, 1);  // windowed
  U8(b, 0);
  U16(b, 0xFFFF);
  U16(b, 0xFFFF);
  U8(b, 0);
  U8(b, 0);
  U8(b, 0);  // no backfill
  Short(b, "");
  Short(b, "");
  Short(b, "");
}

}  // namespace

int main(int argc, char** argv) {
  std::string descPath, outPath = "out.vla", chunkPath;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "-d" && i + 1 < argc)
      descPath = argv[++i];
    else if (a == "-o" && i + 1 < argc)
      outPath = argv[++i];
    else
      chunkPath = a;
  }
  Bytes chunk;
  if (chunkPath.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  if (!ReadFile(chunkPath, &chunk)) {
    std::cerr << "mkapplet: cannot read chunk '" << chunkPath << "'\n";
    return 2;
  }
  Bytes records, tail;  // tail: names and linked data behind the code
  std::vector<Decl> decls;
  bool compress = false;
  std::ifstream desc;
  if (!descPath.empty()) {
    desc.open(descPath);
    if (!desc) {
      std::cerr << "mkapplet: cannot read " << descPath << "\n";
      return 2;
    }
  }
  std::string line;
  int lineNo = 0;
  while (!descPath.empty() && std::getline(desc, line)) {
    ++lineNo;
    std::istringstream in(line);
    std::string key;
    if (!(in >> key) || key[0] == '#') continue;
    if (key == "revision") {
      uint32_t major = 0, minor = 0;
      in >> major >> minor;
      U8(records, 10), U8(records, major), U8(records, minor);
    } else if (key == "header") {
      int n = 0;
      in >> n;
      if (n < 1 || n > 5) goto bad;
      U8(records, 10 + n);
      Text(records, Rest(in));
    } else if (key == "identifier") {
      U8(records, 34);
      Text(records, Rest(in));
    } else if (key == "label") {
      std::string name;
      uint32_t value = 0;
      in >> name >> value;
      U8(records, 9), U32(records, 1), U32(records, value);
      Text(records, name);
    } else if (key == "constant") {
      std::string name;
      in >> name;
      std::string value = Rest(in);
      U8(records, 31);
      Text(records, name);
      if (!value.empty() && value[0] == '"') {
        U8(records, 1);
        Text(records, value.substr(1, value.rfind('"') > 0 ? value.rfind('"') - 1 : std::string::npos));
      } else {
        U8(records, 0);
        F64(records, std::strtod(value.c_str(), nullptr));
      }
      Text(records, "");
    } else if (key == "linkedfile") {
      std::string name, host;
      in >> name >> host;
      Bytes data;
      if (!ReadFile(host, &data)) goto bad;
      U8(records, 26), U32(records, 1), U32(records, 0);
      Text(records, name);
      U32(records, static_cast<uint32_t>(data.size()));
      records.insert(records.end(), data.begin(), data.end());
    } else if (key == "include") {
      uint32_t first = 0, last = 0, offset = 0;
      std::string name, part;
      in >> first >> last >> offset >> name >> part;
      U8(records, 27), U32(records, 1), U32(records, first), U32(records, last), U32(records, offset);
      Text(records, name);
      Text(records, part);
    } else if (key == "warning") {
      Decl d{14, 0, 0, ""};
      in >> d.line;
      d.name = Rest(in);
      decls.push_back(d);
    } else if (key == "display") {
      Decl d{10, 0, 0, ""};
      in >> d.id >> d.width >> d.height;
      d.name = Rest(in);
      decls.push_back(d);
    } else if (key == "skipoverrides") {
      U8(records, 29);
    } else if (key == "compress") {
      compress = true;
    } else {
    bad:
      std::cerr << descPath << ":" << lineNo << ": cannot use '" << line << "'\n";
      return 2;
    }
  }
  Bytes out = {'V', 'L', 'A', 0};
  out.insert(out.end(), records.begin(), records.end());
  if (!decls.empty()) {
    // Warning texts lie behind the code; their offsets are only known once
    // the records' size is, so the block is laid out in two passes.
    Bytes block;
    U8(block, 2), U32(block, static_cast<uint32_t>(decls.size()));
    size_t sizeBefore = out.size();
    Bytes probe;
    for (int pass = 0; pass < 2; ++pass) {
      block.resize(5);
      uint32_t nameAt = static_cast<uint32_t>(sizeBefore + probe.size() + 5 + chunk.size());
      tail.clear();
      for (const Decl& d : decls) {
        U8(block, d.subtype), U32(block, d.id);
        bool named = d.subtype == 14;
        U32(block, named ? nameAt + static_cast<uint32_t>(tail.size()) : 0);
        U32(block, named ? static_cast<uint32_t>(d.name.size()) : 0);
        U32(block, 0), U32(block, 0), U32(block, 0), U32(block, 0), U32(block, d.line);
        Short(block, ""), Short(block, "");
        if (d.subtype == 10) DisplayData(block, d);
        if (named) tail.insert(tail.end(), d.name.begin(), d.name.end());
      }
      probe = block;
    }
    out.insert(out.end(), block.begin(), block.end());
  }
  U8(out, 1), U32(out, static_cast<uint32_t>(chunk.size()));
  out.insert(out.end(), chunk.begin(), chunk.end());
  out.insert(out.end(), tail.begin(), tail.end());
  if (compress) {
    uLongf packedSize = compressBound(out.size());
    Bytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, out.data(), out.size(), 9) != Z_OK) return 2;
    packed.resize(packedSize);
    Bytes vlz = {'V', 'L', 'Z', 0};
    U32(vlz, static_cast<uint32_t>(out.size()));
    vlz.insert(vlz.end(), packed.begin(), packed.end());
    out.swap(vlz);
  }
  std::ofstream o(outPath, std::ios::binary);
  o.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  o.close();
  if (!o) {
    std::cerr << "mkapplet: cannot write " << outPath << "\n";
    std::remove(outPath.c_str());  // no partial container left behind
    return 2;
  }
  return 0;
}
