// mkapplet: writes a compiled-script container (.vla, or compressed .vlz
// form) around an assembled main chunk, from a small description file.
// With --link it writes a copy of the player with the container appended
// and the player's marker block pointing at it. It knows the container's
// byte layout and the marker block, nothing else of the player. Usage and
// description lines: kUsage below (mkapplet --help).
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: mkapplet [-d description] [-o out.vla] chunk\n"
    "       mkapplet [-d description] --link PLAYER [--plugin NAME.vlp]... -o PROGRAM chunk\n"
    "Wraps a chunk assembled by vlasm into an applet container the player runs\n"
    "(default output out.vla). With --link, writes PROGRAM instead: a copy of the\n"
    "player PLAYER with the applet linked in, which runs it when started (from any\n"
    "folder, without arguments), and with each --plugin the plug-in file, which it\n"
    "loads as if it lay beside it. Description lines ('#' starts a comment):\n"
    "  revision MAJOR MINOR             program version the applet is made for (6 1)\n"
    "  header N TEXT                    N: 1 title, 2 version, 3 copyright, 4 author,\n"
    "                                   5 description\n"
    "  identifier TEXT                  the applet's identifier\n"
    "  display ID WIDTH HEIGHT TITLE    a display opened before the script starts\n"
    "  constant NAME NUMBER|\"TEXT\"     a constant the script sees\n"
    "  label NAME VALUE                 a place an old-style event jumps to: the main\n"
    "                                   chunk goes on at instruction VALUE (counted from\n"
    "                                   0; vlasm --labels lists its code labels' indices)\n"
    "                                   when waitevent, checkevent, checkevents or\n"
    "                                   whilemouseon meets a createbutton button pressed\n"
    "                                   (NAME ONBUTTONCLICKid, right button\n"
    "                                   ONBUTTONRIGHTCLICKid), the pointer over it\n"
    "                                   (ONBUTTONOVERid) or a createkeydown key\n"
    "                                   (ONKEYDOWNid); with enableevent 11 to 14 the\n"
    "                                   ...ALL names; any case; retsub comes back\n"
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

// A declaration the player would refuse: the message names what is wrong.
struct DescError {
  std::string what;
};

// The next word of a declaration as a whole number in [min, max].
uint32_t Whole(std::istringstream& in, const char* what, long long min, long long max) {
  std::string word;
  if (!(in >> word)) throw DescError{std::string(what) + " is missing"};
  char* end = nullptr;
  long long value = std::strtoll(word.c_str(), &end, 10);
  if (*end || end == word.c_str() || value < min || value > max) {
    std::string range = max == UINT32_MAX ? "of " + std::to_string(min) + " or more"
                                          : "from " + std::to_string(min) + " to " + std::to_string(max);
    throw DescError{std::string(what) + " must be a whole number " + range + ", not '" + word + "'"};
  }
  return static_cast<uint32_t>(value);
}

std::string Word(std::istringstream& in, const char* what) {
  std::string word;
  if (!(in >> word)) throw DescError{std::string(what) + " is missing"};
  return word;
}

void NothingMore(std::istringstream& in) {
  std::string extra;
  if (in >> extra) throw DescError{"unexpected '" + extra + "' at the end"};
}

// Constant names are looked up as the script writes them: a letter or '_'
// first, then letters, digits and '_'.
bool IsName(const std::string& name) {
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

std::string Rest(std::istringstream& in) {
  std::string rest;
  std::getline(in, rest);
  size_t start = rest.find_first_not_of(" \t");
  return start == std::string::npos ? "" : rest.substr(start);
}

// The main function's instruction count, read from the chunk: the 21-byte
// header (byte 4 says the byte order), then the function record, whose
// code comes after its nested functions. -1 when the bytes do not hold a
// whole record.
class ChunkReader {
 public:
  explicit ChunkReader(const Bytes& chunk) : b_(chunk), little_(chunk.size() > 4 && chunk[4] == 1) {}
  long long MainCodeSize() {
    at_ = 21;
    return Function(0);
  }

 private:
  bool Skip(uint64_t n) {
    if (n > b_.size() - std::min(at_, b_.size())) return false;
    at_ += n;
    return true;
  }
  bool U32(uint32_t* v) {
    if (at_ > b_.size() || b_.size() - at_ < 4) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) *v |= uint32_t{b_[at_ + i]} << (little_ ? 8 * i : 24 - 8 * i);
    at_ += 4;
    return true;
  }
  bool String() {
    uint32_t n;
    return U32(&n) && Skip(n);
  }
  long long Function(int depth) {
    uint32_t n, i;
    // Source, line defined, four bytes of counts, the line list.
    if (depth > 200 || !String() || !Skip(4 + 4) || !U32(&n) || !Skip(uint64_t{n} * 4)) return -1;
    if (!U32(&n)) return -1;
    for (i = 0; i < n; ++i)
      if (!String() || !Skip(8)) return -1;  // locals: name, start and end pc
    if (!U32(&n)) return -1;
    for (i = 0; i < n; ++i)
      if (!String()) return -1;  // upvalue names
    if (!U32(&n)) return -1;
    for (i = 0; i < n; ++i) {
      if (at_ >= b_.size()) return -1;
      const uint8_t type = b_[at_++];
      if ((type == 3 && !Skip(8)) || (type == 4 && !String())) return -1;
    }
    if (!U32(&n)) return -1;
    for (i = 0; i < n; ++i)
      if (Function(depth + 1) < 0) return -1;
    if (!U32(&n) || !Skip(uint64_t{n} * 4)) return -1;
    return n;
  }

  const Bytes& b_;
  bool little_;
  size_t at_ = 0;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
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

// The player's marker block: this text, two zero bytes, the linked-data
// offset (DE AD C0 DE while nothing is linked) and a fixed tail.
constexpr char kMarkerText[] = "Zephlin Brokwend Entertainment";
constexpr uint8_t kUnlinked[4] = {0xDE, 0xAD, 0xC0, 0xDE};
constexpr uint8_t kMarkerTail[9] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A, 0x00};

// The block of linked plug-ins ahead of the container: "VLP!", the flags
// (0: entries as they are), then each entry's name (the file name without
// ".vlp", which the player adds back), size and bytes, and an empty name.
// "" or why a plug-in cannot be linked.
std::string PluginBlock(const std::vector<std::string>& paths, Bytes* block) {
  *block = {'V', 'L', 'P', '!'};
  U32(*block, 0);
  std::vector<std::string> names;
  for (const std::string& path : paths) {
    std::string name = std::filesystem::path(path).filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".vlp") == 0) name.resize(name.size() - 4);
    if (name.empty() || name.size() > 255)
      return "the plug-in '" + path + "' needs a file name of 1 to 255 characters before .vlp";
    if (std::find(names.begin(), names.end(), name) != names.end())
      return "the plug-in '" + name + "' is given twice";
    Bytes data;
    if (!ReadFile(path, &data)) return "cannot read the plug-in '" + path + "'";
    if (data.size() > UINT32_MAX) return "the plug-in '" + path + "' is too large to link";
    Text(*block, name);
    U32(*block, static_cast<uint32_t>(data.size()));
    block->insert(block->end(), data.begin(), data.end());
    names.push_back(name);
  }
  Text(*block, "");
  return "";
}

// program with the container appended and the marker's offset field set to
// where it starts; "" or why the program cannot take it.
std::string LinkIntoPlayer(Bytes* program, const Bytes& container, const std::string& playerPath) {
  Bytes head(kMarkerText, kMarkerText + sizeof kMarkerText - 1);
  head.push_back(0), head.push_back(0);
  size_t field = 0;
  int found = 0;
  for (auto at = program->begin(); (at = std::search(at, program->end(), head.begin(), head.end())) != program->end();
       ++at) {
    size_t start = static_cast<size_t>(at - program->begin());
    if (start + 45 > program->size() || !std::equal(kMarkerTail, kMarkerTail + 9, program->begin() + start + 36))
      continue;
    field = start + 32;
    ++found;
  }
  if (found != 1)
    return "'" + playerPath + "' is not the player program: it has " + (found ? "more than one" : "no") +
           " marker block to link an applet into";
  if (!std::equal(kUnlinked, kUnlinked + 4, program->begin() + static_cast<long>(field)))
    return "'" + playerPath + "' already has an applet linked into it; link into the player itself";
  if (program->size() >= 0xDEADC0DEu) return "'" + playerPath + "' is too large to link into";
  const uint32_t offset = static_cast<uint32_t>(program->size());
  for (int i = 0; i < 4; ++i) (*program)[field + i] = static_cast<uint8_t>(offset >> (24 - 8 * i));
  program->insert(program->end(), container.begin(), container.end());
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  std::string descPath, outPath, chunkPath, playerPath;
  std::vector<std::string> plugins;
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
    else if (a == "--link" && i + 1 < argc)
      playerPath = argv[++i];
    else if (a == "--plugin" && i + 1 < argc)
      plugins.push_back(argv[++i]);
    else
      chunkPath = a;
  }
  Bytes chunk;
  // A linked program needs a name of its own: out.vla would be misleading.
  if (chunkPath.empty() || (!playerPath.empty() && outPath.empty()) || (playerPath.empty() && !plugins.empty())) {
    std::cerr << kUsage;
    return 2;
  }
  if (outPath.empty()) outPath = "out.vla";
  if (!ReadFile(chunkPath, &chunk)) {
    std::cerr << "mkapplet: cannot read chunk '" << chunkPath << "'\n";
    return 2;
  }
  // The player refuses a main chunk without the signature ("Bad bytecode
  // signature!"); the usual slip is the assembler source given instead.
  static const uint8_t kSignature[4] = {0x1B, 'V', 'L', 'B'};
  if (chunk.size() < sizeof kSignature || !std::equal(kSignature, kSignature + 4, chunk.begin())) {
    std::cerr << "mkapplet: '" << chunkPath
              << "' is not an assembled chunk (it does not start with the chunk signature); assemble it with "
                 "vlasm first\n";
    return 1;
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
  int major = -1;  // no revision line yet
  int firstDisplayLine = 0;
  // The player starts a new label table at each label record: all labels
  // go into one.
  Bytes labels;
  uint32_t labelCount = 0;
  std::vector<std::pair<std::string, int>> labelNames;  // lower case, with the line
  const long long mainSize = ChunkReader(chunk).MainCodeSize();
  while (!descPath.empty() && std::getline(desc, line)) {
    ++lineNo;
    std::istringstream in(line);
    std::string key;
    if (!(in >> key) || key[0] == '#') continue;
    try {
      // The player ends every name and text at a zero byte: what follows
      // one would be read as the next record.
      if (size_t nul = line.find('\0'); nul != std::string::npos)
        throw DescError{"a zero byte at column " + std::to_string(nul + 1) +
                        " (the player ends each name and text at the first one)"};
      if (key == "revision") {
        major = static_cast<int>(Whole(in, "MAJOR", 0, 255));
        int minor = static_cast<int>(Whole(in, "MINOR", 0, 255));
        NothingMore(in);
        if (major > 6 || (major == 6 && minor > 1))
          throw DescError{"the player runs applets made for 6.1 and older, not " + std::to_string(major) + "." +
                          std::to_string(minor)};
        U8(records, 10), U8(records, major), U8(records, minor);
      } else if (key == "header") {
        uint32_t n = Whole(in, "N (1 title, 2 version, 3 copyright, 4 author, 5 description)", 1, 5);
        U8(records, 10 + n);
        Text(records, Rest(in));
      } else if (key == "identifier") {
        std::string text = Rest(in);
        if (text.empty()) throw DescError{"TEXT is missing"};
        U8(records, 34);
        Text(records, text);
      } else if (key == "label") {
        std::string name = Word(in, "NAME");
        // The player looks labels up in any case, the last of a name
        // winning; a jump outside the main chunk's code does nothing.
        for (const auto& [seen, at] : labelNames)
          if (seen == Lower(name))
            throw DescError{"NAME '" + name + "' is already a label (line " + std::to_string(at) +
                            "; names are matched in any case)"};
        if (mainSize < 0) throw DescError{"the chunk's main function cannot be read to check VALUE"};
        if (mainSize == 0) throw DescError{"the main chunk has no instruction to jump to"};
        uint32_t value = Whole(in, "VALUE (an instruction index of the main chunk)", 0, mainSize - 1);
        NothingMore(in);
        labelNames.emplace_back(Lower(name), lineNo);
        U32(labels, value);
        Text(labels, name);
        ++labelCount;
      } else if (key == "constant") {
        std::string name = Word(in, "NAME");
        if (!IsName(name)) throw DescError{"NAME '" + name + "' must start with a letter or '_' and hold only "
                                           "letters, digits and '_'"};
        std::string value = Rest(in);
        if (value.empty()) throw DescError{"NUMBER or \"TEXT\" is missing"};
        U8(records, 31);
        Text(records, name);
        if (value[0] == '"') {
          size_t close = value.rfind('"');
          if (close == 0) throw DescError{"the text " + value + " has no closing '\"'"};
          if (value.find_first_not_of(" \t", close + 1) != std::string::npos)
            throw DescError{"unexpected text after the closing '\"'"};
          U8(records, 1);
          Text(records, value.substr(1, close - 1));
        } else {
          char* end = nullptr;
          double number = std::strtod(value.c_str(), &end);
          if (end == value.c_str() || *end) throw DescError{"'" + value + "' is neither a number nor a \"TEXT\""};
          U8(records, 0);
          F64(records, number);
        }
        Text(records, "");
      } else if (key == "linkedfile") {
        std::string name = Word(in, "NAME");
        std::string host = Word(in, "HOSTFILE");
        NothingMore(in);
        Bytes data;
        if (!ReadFile(host, &data)) throw DescError{"cannot read the host file '" + host + "' to link as '" + name + "'"};
        U8(records, 26), U32(records, 1), U32(records, 0);
        Text(records, name);
        U32(records, static_cast<uint32_t>(data.size()));
        records.insert(records.end(), data.begin(), data.end());
      } else if (key == "include") {
        uint32_t first = Whole(in, "FIRST", 0, UINT32_MAX);
        uint32_t last = Whole(in, "LAST", first, UINT32_MAX);
        uint32_t offset = Whole(in, "OFFSET", 0, UINT32_MAX);
        std::string name = Word(in, "NAME"), part = Word(in, "PART");
        NothingMore(in);
        U8(records, 27), U32(records, 1), U32(records, first), U32(records, last), U32(records, offset);
        Text(records, name);
        Text(records, part);
      } else if (key == "warning") {
        Decl d{14, 0, 0, ""};
        d.line = Whole(in, "LINE", 0, UINT32_MAX);
        d.name = Rest(in);
        decls.push_back(d);
      } else if (key == "display") {
        // The player creates the display as CreateDisplay would: a size
        // below 1 is refused.
        Decl d{10, 0, 0, ""};
        d.id = Whole(in, "ID", 0, UINT32_MAX);
        d.width = Whole(in, "WIDTH", 1, UINT32_MAX);
        d.height = Whole(in, "HEIGHT", 1, UINT32_MAX);
        d.name = Rest(in);
        // The title's length is a signed 16-bit word.
        if (d.name.size() > 32767) throw DescError{"TITLE is longer than 32767 bytes"};
        decls.push_back(d);
        if (!firstDisplayLine) firstDisplayLine = lineNo;
      } else if (key == "skipoverrides") {
        NothingMore(in);
        U8(records, 29);
      } else if (key == "compress") {
        NothingMore(in);
        compress = true;
      } else {
        throw DescError{"unknown declaration (mkapplet --help lists them)"};
      }
    } catch (const DescError& e) {
      std::cerr << descPath << ":" << lineNo << ": " << key.c_str() << ": " << e.what << "\n";
      return 2;
    }
  }
  if (labelCount) {
    U8(records, 9), U32(records, labelCount);
    records.insert(records.end(), labels.begin(), labels.end());
  }
  // Display declarations are written in the 6.x layout, which the player
  // reads only from applets of that revision.
  if (firstDisplayLine && major != 6) {
    std::cerr << descPath << ":" << firstDisplayLine << ": display: needs a 'revision 6 1' line"
              << (major < 0 ? "" : " (the description says revision " + std::to_string(major) + ")") << "\n";
    return 2;
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
  if (!playerPath.empty()) {
    std::error_code same;
    if (std::filesystem::equivalent(playerPath, outPath, same)) {
      std::cerr << "mkapplet: the output would overwrite the player '" << playerPath << "'\n";
      return 2;
    }
    Bytes program;
    if (!ReadFile(playerPath, &program)) {
      std::cerr << "mkapplet: cannot read the player '" << playerPath << "'\n";
      return 2;
    }
    if (!plugins.empty()) {
      Bytes block;
      std::string why = PluginBlock(plugins, &block);
      if (!why.empty()) {
        std::cerr << "mkapplet: " << why << "\n";
        return 2;
      }
      out.insert(out.begin(), block.begin(), block.end());
    }
    std::string why = LinkIntoPlayer(&program, out, playerPath);
    if (!why.empty()) {
      std::cerr << "mkapplet: " << why << "\n";
      return 2;
    }
    out.swap(program);
  }
  std::ofstream o(outPath, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  o.close();
  // A linked program is started like any other program.
  if (!o || (!playerPath.empty() && chmod(outPath.c_str(), 0755) != 0)) {
    std::cerr << "mkapplet: cannot write " << outPath << "\n";
    std::remove(outPath.c_str());  // no partial container left behind
    return 2;
  }
  return 0;
}
