// Parser of the assembler's text form: one statement per line, functions as
// nested ".function ... .end" blocks, labels resolved when a function ends,
// convenience forms expanded into plain instructions. Depends on chunkasm.h
// and the opcode table in vm/opcodes.h.
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>

#include "tools/chunkasm/chunkasm.h"
#include "vm/opcodes.h"

namespace vlasm {
namespace {

struct Token {
  enum Kind { Word, Str, Punct } kind;
  std::string text;  // decoded contents for Str
};

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '#' || c == '+' ||
         c == '-' || c == ':' || c == '$' || c == '@';
}

std::vector<Token> Tokenize(std::string_view line, int lineNo) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ';') break;
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (c == '"') {
      std::string s;
      ++i;
      for (;;) {
        if (i >= line.size()) throw AsmError(lineNo, "unterminated string");
        char d = line[i++];
        if (d == '"') break;
        if (d != '\\') {
          s += d;
          continue;
        }
        if (i >= line.size()) throw AsmError(lineNo, "unterminated string");
        d = line[i++];
        switch (d) {
          case 'n': s += '\n'; break;
          case 't': s += '\t'; break;
          case 'r': s += '\r'; break;
          case '0': s += '\0'; break;
          case '\\': s += '\\'; break;
          case '"': s += '"'; break;
          case 'x': {
            if (i + 2 > line.size() || !std::isxdigit(static_cast<unsigned char>(line[i])) ||
                !std::isxdigit(static_cast<unsigned char>(line[i + 1])))
              throw AsmError(lineNo, "\\x needs two hex digits");
            s += static_cast<char>(std::stoi(std::string(line.substr(i, 2)), nullptr, 16));
            i += 2;
            break;
          }
          default: throw AsmError(lineNo, std::string("unknown escape \\") + d);
        }
      }
      out.push_back({Token::Str, std::move(s)});
      continue;
    }
    if (c == '-' && i + 1 < line.size() && line[i + 1] == '>') {
      out.push_back({Token::Punct, "->"});
      i += 2;
      continue;
    }
    if (c == '{' || c == '}' || c == '[' || c == ']' || c == ',' || c == '=') {
      out.push_back({Token::Punct, std::string(1, c)});
      ++i;
      continue;
    }
    if (IsWordChar(c)) {
      size_t j = i;
      while (j < line.size() && IsWordChar(line[j])) ++j;
      out.push_back({Token::Word, std::string(line.substr(i, j - i))});
      i = j;
      continue;
    }
    throw AsmError(lineNo, std::string("unexpected character '") + c + "'");
  }
  return out;
}

bool IsIdent(const std::string& s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

std::optional<int64_t> ParseInt(const std::string& s) {
  if (s.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 0);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return v;
}

// "r3" / "k2" -> 3 / 2.
std::optional<int64_t> Prefixed(const std::string& s, char prefix) {
  if (s.size() < 2 || s[0] != prefix || !std::isdigit(static_cast<unsigned char>(s[1]))) return std::nullopt;
  return ParseInt(s.substr(1));
}

std::optional<double> ParseDouble(const std::string& s) {
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (*end != '\0') return std::nullopt;
  return v;
}

struct UpvalueDecl {
  MaybeString name;
  char from = 0;  // 'r' parent register, 'u' parent upvalue, 0 not given
  int index = 0;
};

enum class FixKind { SBx, Jump, LocalStart, LocalEnd };
struct Fixup {
  FixKind kind;
  size_t where;  // pc, or local index
  std::string label;
  int line;
  uint32_t flags = 0;
  uint32_t a = 0;
};

struct FuncCtx {
  Function f;
  std::string name;
  int startLine = 0;
  bool maxStackSet = false;
  std::optional<int> upvalueCount;
  bool noNames = false;
  std::vector<UpvalueDecl> upvalues;
  bool hasLines = false;
  bool rawLines = false;
  int32_t curLine = 0;
  std::map<std::string, int32_t> labels;
  std::vector<Fixup> fixups;
  std::map<std::string, size_t> nestedByName;
  std::vector<std::vector<UpvalueDecl>> nestedCaptures;
  int lastCodeLine = 0;  // text line of the last instruction
};

// Lower-case mnemonic of each opcode, plus the aliases the README lists.
int LookupOp(const std::string& word) {
  std::string w;
  for (char c : word) w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (w.rfind("OP_", 0) == 0) w = w.substr(3);
  for (int i = 0; i < vl::kNumOpcodes; ++i)
    if (w == vl::kOpNames[i]) return i;
  return -1;
}

class Parser {
 public:
  explicit Parser(Options options) : options_(options) {}
  Chunk Run(std::string_view text) {
    stack_.push_back(std::make_unique<FuncCtx>());
    stack_.back()->name = "main";
    size_t pos = 0;
    while (pos <= text.size()) {
      size_t nl = text.find('\n', pos);
      if (nl == std::string_view::npos) nl = text.size();
      ++line_;
      toks_ = Tokenize(text.substr(pos, nl - pos), line_);
      at_ = 0;
      Statement();
      pos = nl + 1;
    }
    if (stack_.size() > 1) throw AsmError(stack_.back()->startLine, "function '" + stack_.back()->name + "' has no .end");
    Finish(*stack_.back());
    chunk_.mainLabels.assign(stack_.back()->labels.begin(), stack_.back()->labels.end());
    chunk_.main = std::move(stack_.back()->f);
    return std::move(chunk_);
  }

 private:
  FuncCtx& Cur() { return *stack_.back(); }
  bool More() const { return at_ < toks_.size(); }
  const Token& Peek() const { return toks_[at_]; }
  [[noreturn]] void Fail(const std::string& why) const { throw AsmError(line_, why); }
  const Token& Next(const char* what) {
    if (!More()) Fail(std::string("missing ") + what);
    return toks_[at_++];
  }
  bool Accept(const char* punct) {
    if (More() && Peek().kind == Token::Punct && Peek().text == punct) {
      ++at_;
      return true;
    }
    return false;
  }
  void Expect(const char* punct) {
    if (!Accept(punct)) Fail(std::string("expected '") + punct + "'");
  }
  void End() {
    if (More()) Fail("unexpected '" + Peek().text + "'");
  }
  std::string Word(const char* what) {
    const Token& t = Next(what);
    if (t.kind != Token::Word) Fail(std::string("expected ") + what);
    return t.text;
  }
  int64_t Int(const char* what, int64_t lo, int64_t hi) {
    const std::string w = Word(what);
    auto v = ParseInt(w);
    if (!v) Fail(std::string("bad ") + what + " '" + w + "'");
    if (*v < lo || *v > hi) Fail(std::string(what) + " out of range: " + w);
    return *v;
  }
  MaybeString StringOrNone(const char* what) {
    const Token& t = Next(what);
    if (t.kind == Token::Str) return t.text;
    if (t.kind == Token::Word && t.text == "none") return std::nullopt;
    Fail(std::string("expected a string or none for ") + what);
  }

  void Statement() {
    while (More() && Peek().kind == Token::Word && Peek().text.size() > 1 && Peek().text.back() == ':') {
      std::string label = Peek().text.substr(0, Peek().text.size() - 1);
      if (!IsIdent(label) || Prefixed(label, 'r') || Prefixed(label, 'k'))
        Fail("bad label name '" + label + "'");
      if (!Cur().labels.emplace(label, static_cast<int32_t>(Cur().f.code.size())).second)
        Fail("label '" + label + "' defined twice");
      ++at_;
    }
    if (!More()) return;
    if (Peek().kind != Token::Word) Fail("expected a statement");
    const std::string head = Next("statement").text;
    if (head[0] == '.')
      Directive(head);
    else
      Instruction(head);
    End();
  }

  // ---- constants ----------------------------------------------------------

  // A literal constant token, or nullopt when the token is not one.
  std::optional<Constant> Literal(const Token& t) {
    if (t.kind == Token::Str) return Constant{4, 0, t.text};
    if (t.kind != Token::Word) return std::nullopt;
    if (t.text == "nil") return Constant{0, 0, std::nullopt};
    if (t.text == "none") return Constant{4, 0, std::nullopt};
    if (t.text[0] == '#') {
      const std::string body = t.text.substr(1);
      if (auto d = ParseDouble(body)) return Constant{3, *d, std::nullopt};
      if (!IsIdent(body)) Fail("bad number '" + t.text + "'");
      if (auto k = PlayerConstant(body)) return *k;
      const std::string nearest = NearestPlayerConstant(body);
      Fail("unknown constant '" + t.text + "': no library of the player defines it (docs/commands.md lists "
           "them" + (nearest.empty() ? "" : "; the nearest is #" + nearest) +
           "); read a plug-in's or the applet's own constant at run time: .call getconstant \"" + t.text +
           "\" -> Value");
    }
    return std::nullopt;
  }
  static bool SameConstant(const Constant& a, const Constant& b) {
    if (a.type != b.type) return false;
    if (a.type == 3) return std::bit_cast<uint64_t>(a.number) == std::bit_cast<uint64_t>(b.number);
    if (a.type == 4) return a.text == b.text;
    return true;
  }
  uint32_t Intern(const Constant& k) {
    auto& ks = Cur().f.constants;
    for (size_t i = 0; i < ks.size(); ++i)
      if (SameConstant(ks[i], k)) return static_cast<uint32_t>(i);
    if (ks.size() > vl::kMaxBx) Fail("too many constants");
    ks.push_back(k);
    return static_cast<uint32_t>(ks.size() - 1);
  }
  uint32_t InternString(const std::string& s) { return Intern(Constant{4, 0, s}); }

  // ---- emitting -----------------------------------------------------------

  size_t Emit(uint32_t word) {
    FuncCtx& c = Cur();
    c.f.code.push_back(word);
    c.f.textLines.push_back(line_);
    c.lastCodeLine = line_;
    if (!c.rawLines) c.f.lines.push_back(c.curLine);
    return c.f.code.size() - 1;
  }
  void EmitABC(uint32_t op, int64_t a, int64_t b, int64_t c) {
    if (a < 0 || a > 255) Fail("operand A out of range");
    if (b < 0 || b > 511 || c < 0 || c > 511) Fail("operand B or C out of range");
    // A global indexed right after it is read is a table, such as the one
    // a plug-in's library sets: not a value written wrongly.
    if ((op == OP_GETFIELD || op == OP_METHOD) && lastRead_.function == &Cur() &&
        lastRead_.pc + 1 == Cur().f.code.size() && lastRead_.reg == b && !chunk_.globalReads.empty())
      chunk_.globalReads.pop_back();
    Emit(vl::MakeABC(op, static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c)));
  }
  void EmitABx(uint32_t op, int64_t a, int64_t bx) {
    if (a < 0 || a > 255) Fail("operand A out of range");
    if (bx < 0 || bx > vl::kMaxBx) Fail("operand Bx out of range");
    Emit(vl::MakeABx(op, static_cast<uint32_t>(a), static_cast<uint32_t>(bx)));
    const std::vector<Constant>& k = Cur().f.constants;
    if (static_cast<size_t>(bx) >= k.size() || k[bx].type != 4 || !k[bx].text) return;
    if (op == OP_SETGLOBAL) chunk_.setGlobals.push_back(*k[bx].text);
    if (op == OP_GETGLOBAL && !callHead_) {
      chunk_.globalReads.emplace_back(line_, *k[bx].text);
      lastRead_ = {&Cur(), Cur().f.code.size() - 1, a};
    }
  }
  void EmitClosure(int64_t a, const std::string& fname) {
    auto it = Cur().nestedByName.find(fname);
    if (it == Cur().nestedByName.end()) Fail("no nested function '" + fname + "' defined before this point");
    EmitABx(OP_CLOSURE, a, static_cast<int64_t>(it->second));
    const auto caps = Cur().nestedCaptures[it->second];
    for (const UpvalueDecl& u : caps) EmitABC(u.from == 'r' ? OP_COPY : OP_GETUPVAL, 0, u.index, 0);
  }

  // ---- instruction operands ---------------------------------------------

  // An A/B/C operand: a number, rN, kN (RK constant), or a literal constant.
  int64_t OperandABC() {
    const Token& t = Next("operand");
    if (auto k = Literal(t)) return vl::kRKConst + Intern(*k);
    if (t.kind != Token::Word) Fail("bad operand");
    if (auto r = Prefixed(t.text, 'r')) return *r;
    if (auto k = Prefixed(t.text, 'k')) return vl::kRKConst + *k;
    if (auto v = ParseInt(t.text)) return *v;
    Fail("bad operand '" + t.text + "'");
  }
  // A Bx operand: a number, kN, a literal constant, or a nested function.
  int64_t OperandBx(bool closure) {
    const Token& t = Next("operand");
    if (auto k = Literal(t)) return Intern(*k);
    if (t.kind != Token::Word) Fail("bad operand");
    if (auto k = Prefixed(t.text, 'k')) return *k;
    if (auto v = ParseInt(t.text)) return *v;
    if (closure) {
      auto it = Cur().nestedByName.find(t.text);
      if (it == Cur().nestedByName.end()) Fail("no nested function '" + t.text + "'");
      return static_cast<int64_t>(it->second);
    }
    Fail("bad operand '" + t.text + "'");
  }
  // A jump target: a label, or a signed offset from the next instruction.
  void JumpTarget(FixKind kind, uint32_t op, uint32_t a, uint32_t flags) {
    JumpTo(Word("jump target"), kind, op, a, flags);
  }
  void JumpTo(const std::string& w, FixKind kind, uint32_t op, uint32_t a, uint32_t flags) {
    if (auto v = ParseInt(w)) {
      if (kind == FixKind::Jump) {
        if (*v < -vl::kBiasJ || *v > static_cast<int64_t>(vl::kMaxJ) - vl::kBiasJ) Fail("jump offset out of range");
        Emit(vl::MakeJump(static_cast<int32_t>(*v), flags));
      } else {
        if (*v < -vl::kBiasSBx || *v > static_cast<int64_t>(vl::kMaxBx) - vl::kBiasSBx) Fail("offset out of range");
        Emit(vl::MakeAsBx(op, a, static_cast<int32_t>(*v)));
      }
      return;
    }
    if (!IsIdent(w)) Fail("bad jump target '" + w + "'");
    const size_t pc = Emit(0);
    Cur().fixups.push_back({kind, pc, w, line_, flags, a | (op << 8)});
  }

  void Instruction(const std::string& head) {
    std::string lower;
    for (char c : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "gosub") return JumpTarget(FixKind::Jump, OP_JUMP, 0, vl::kJumpFlagGosub);
    if (lower == "ret") return EmitABC(OP_RETURN, 0, 1, 0);
    if (lower == "retsub") return EmitABC(OP_RETURN, 0, 0, 1);
    const int op = LookupOp(head);
    if (op < 0) Fail("unknown instruction '" + head + "'");
    switch (vl::kOpFormat[op] & vl::OPF_FORMAT_MASK) {
      case vl::OPF_J: {
        // jump target [flags]
        const std::string target = Word("jump target");
        uint32_t flags = 0;
        if (More()) flags = static_cast<uint32_t>(Int("jump flags", 0, 3));
        return JumpTo(target, FixKind::Jump, OP_JUMP, 0, flags);
      }
      case vl::OPF_ASBX: {
        const int64_t a = OperandABC();
        if (a < 0 || a > 255) Fail("operand A out of range");
        return JumpTarget(FixKind::SBx, static_cast<uint32_t>(op), static_cast<uint32_t>(a), 0);
      }
      case vl::OPF_ABX: {
        const int64_t a = OperandABC();
        if (op == OP_CLOSURE && More() && Peek().kind == Token::Word && IsIdent(Peek().text) &&
            Peek().text != "nil" && Peek().text != "none" && !Prefixed(Peek().text, 'k'))
          return EmitClosure(a, Next("function").text);
        const int64_t bx = OperandBx(op == OP_CLOSURE);
        return EmitABx(static_cast<uint32_t>(op), a, bx);
      }
      default: {
        int64_t v[3] = {0, 0, 0};
        for (int i = 0; i < 3 && More(); ++i) v[i] = OperandABC();
        return EmitABC(static_cast<uint32_t>(op), v[0], v[1], v[2]);
      }
    }
  }

  // ---- directives ---------------------------------------------------------

  void Directive(const std::string& d) {
    FuncCtx& c = Cur();
    if (d == ".function") {
      auto ctx = std::make_unique<FuncCtx>();
      ctx->name = Word("function name");
      if (!IsIdent(ctx->name)) Fail("bad function name");
      if (c.nestedByName.count(ctx->name)) Fail("function '" + ctx->name + "' defined twice here");
      ctx->startLine = line_;
      ctx->f.lineDefined = c.hasLines ? c.curLine : 1;
      ctx->curLine = ctx->f.lineDefined;
      if (stack_.size() > 250) Fail("functions nested too deeply");
      stack_.push_back(std::move(ctx));
    } else if (d == ".end") {
      if (stack_.size() < 2) Fail(".end without .function");
      std::unique_ptr<FuncCtx> done = std::move(stack_.back());
      stack_.pop_back();
      Finish(*done);
      FuncCtx& parent = Cur();
      parent.nestedByName[done->name] = parent.f.nested.size();
      std::vector<UpvalueDecl> caps;
      if (!done->upvalues.empty() && done->upvalues.front().from) caps = done->upvalues;
      parent.nestedCaptures.push_back(std::move(caps));
      parent.f.nested.push_back(std::move(done->f));
    } else if (d == ".endian") {
      const std::string w = Word("byte order");
      if (w == "big")
        chunk_.bigEndian = true;
      else if (w == "little")
        chunk_.bigEndian = false;
      else
        Fail("byte order is big or little");
    } else if (d == ".source") {
      c.f.source = StringOrNone("source");
    } else if (d == ".linedefined") {
      c.f.lineDefined = static_cast<int32_t>(Int("line", INT32_MIN, INT32_MAX));
      if (!c.hasLines) c.curLine = c.f.lineDefined;
    } else if (d == ".params") {
      c.f.numParams = static_cast<uint8_t>(Int("parameter count", 0, 255));
    } else if (d == ".vararg") {
      c.f.isVararg = More() ? static_cast<uint8_t>(Int("vararg flag", 0, 255)) : 1;
    } else if (d == ".maxstack") {
      c.f.maxStack = static_cast<uint8_t>(Int("maximum stack", 0, 255));
      c.maxStackSet = true;
    } else if (d == ".upvalues") {
      c.upvalueCount = static_cast<int>(Int("upvalue count", 0, 255));
    } else if (d == ".nonames") {
      c.noNames = true;
    } else if (d == ".upvalue") {
      UpvalueDecl u;
      u.name = StringOrNone("upvalue name");
      if (More()) {
        if (Word("'from'") != "from") Fail("expected 'from'");
        const std::string src = Word("capture source");
        auto r = Prefixed(src, 'r');
        auto uv = Prefixed(src, 'u');
        if (r && *r <= 511) {
          u.from = 'r';
          u.index = static_cast<int>(*r);
        } else if (uv && *uv <= 511) {
          u.from = 'u';
          u.index = static_cast<int>(*uv);
        } else {
          Fail("capture source is rN or uN");
        }
      }
      if (!c.upvalues.empty() && (c.upvalues.front().from != 0) != (u.from != 0))
        Fail("either every upvalue names its capture source or none does");
      c.upvalues.push_back(u);
    } else if (d == ".local") {
      LocalVar l;
      l.name = StringOrNone("local name");
      c.f.locals.push_back(l);
      LocalPc(FixKind::LocalStart);
      LocalPc(FixKind::LocalEnd);
    } else if (d == ".const") {
      if (More() && Peek().kind == Token::Word && Peek().text == "type") {
        ++at_;
        c.f.constants.push_back(Constant{static_cast<uint8_t>(Int("constant type", 0, 255)), 0, std::nullopt});
        return;
      }
      const Token& t = Next("constant");
      auto k = Literal(t);
      if (!k && t.kind == Token::Word) {
        if (auto num = ParseDouble(t.text)) k = Constant{3, *num, std::nullopt};
      }
      if (!k) Fail("bad constant");
      c.f.constants.push_back(*k);
    } else if (d == ".line") {
      c.curLine = static_cast<int32_t>(Int("line", INT32_MIN, INT32_MAX));
      if (!c.hasLines) {
        c.hasLines = true;
      }
    } else if (d == ".lines") {
      c.rawLines = true;
      c.f.lines.clear();
      while (More()) c.f.lines.push_back(static_cast<int32_t>(Int("line", INT32_MIN, INT32_MAX)));
    } else if (d == ".word") {
      Emit(static_cast<uint32_t>(Int("instruction word", 0, UINT32_MAX)));
    } else if (d == ".call") {
      CallForm();
    } else if (d == ".table") {
      const int64_t a = OperandABC();
      if (a < 0 || a > 254) Fail("table register out of range");
      TableForm(static_cast<uint32_t>(a));
    } else if (d == ".defun") {
      const Token& name = Next("global name");
      if (name.kind == Token::Punct) Fail("expected a global name");
      const std::string fname = Word("function");
      const int64_t base = BaseOption();
      EmitClosure(base, fname);
      EmitABx(OP_SETGLOBAL, base, InternString(name.text));
    } else {
      Fail("unknown directive '" + d + "'");
    }
  }

  void LocalPc(FixKind kind) {
    const std::string w = Word("pc");
    LocalVar& l = Cur().f.locals.back();
    int32_t& slot = kind == FixKind::LocalStart ? l.startPc : l.endPc;
    if (auto v = ParseInt(w)) {
      if (*v < INT32_MIN || *v > INT32_MAX) Fail("pc out of range");
      slot = static_cast<int32_t>(*v);
      return;
    }
    if (!IsIdent(w)) Fail("bad pc '" + w + "'");
    Cur().fixups.push_back({kind, Cur().f.locals.size() - 1, w, line_});
  }

  // Optional trailing "base=N"; 0 when absent.
  int64_t BaseOption() {
    if (!More()) return 0;
    if (Word("base=") != "base") Fail("expected base=N");
    Expect("=");
    return Int("base register", 0, 254);
  }

  // ---- convenience forms ----------------------------------------------

  // .call [base=N] Name arg... [-> result...]
  void CallForm() {
    int64_t base = 0;
    if (More() && Peek().kind == Token::Word && Peek().text == "base") base = BaseOption();
    const Token& name = Next("command name");
    if (name.kind == Token::Punct) Fail("expected a command name");
    const uint32_t b = static_cast<uint32_t>(base);
    // "lib.name" calls a command of a library table (a plug-in's): the
    // global, then each field in turn.
    size_t dot = name.text.find('.');
    if (dot == std::string::npos) chunk_.calls.emplace_back(line_, name.text);
    // The called name is checked as a command, not as a value read.
    callHead_ = true;
    EmitABx(OP_GETGLOBAL, b, InternString(name.text.substr(0, dot)));
    callHead_ = false;
    while (dot != std::string::npos) {
      const size_t next = name.text.find('.', dot + 1);
      const std::string field = name.text.substr(dot + 1, next == std::string::npos ? next : next - dot - 1);
      if (field.empty() || dot == 0) Fail("bad command name '" + name.text + "'");
      const uint32_t k = InternString(field);
      if (k + vl::kRKConst > 511) Fail("too many constants for a field name");
      EmitABC(OP_GETFIELD, b, b, k + vl::kRKConst);
      dot = next;
    }
    uint32_t nargs = 0;
    while (More() && !(Peek().kind == Token::Punct && Peek().text == "->")) {
      if (b + 1 + nargs > 249) Fail("too many arguments");
      LoadValue(b + 1 + nargs);
      ++nargs;
      Accept(",");
    }
    std::vector<std::optional<std::string>> results;
    if (Accept("->")) {
      while (More()) {
        const Token& t = Next("result");
        if (t.kind == Token::Punct) Fail("expected a global name");
        results.push_back(t.text == "_" && t.kind == Token::Word ? std::nullopt : std::optional(t.text));
        Accept(",");
      }
    }
    EmitABC(OP_CALL, b, nargs + 1, results.size() + 1);
    for (size_t i = 0; i < results.size(); ++i)
      if (results[i]) EmitABx(OP_SETGLOBAL, b + i, InternString(*results[i]));
  }

  // Loads the next value of the text into register r (r + 1 and up are free).
  void LoadValue(uint32_t r) {
    const Token& t = Next("value");
    if (t.kind == Token::Punct && t.text == "{") {
      --at_;
      return TableForm(r);
    }
    if (auto k = Literal(t)) {
      if (k->type == 0) return EmitABC(OP_LOADNIL, r, r, 0);
      return EmitABx(OP_LOADK, r, Intern(*k));
    }
    if (t.kind != Token::Word) Fail("bad value");
    if (auto reg = Prefixed(t.text, 'r')) {
      if (*reg != r) EmitABC(OP_COPY, r, *reg, 0);
      return;
    }
    if (auto k = Prefixed(t.text, 'k')) return EmitABx(OP_LOADK, r, *k);
    if (t.text.rfind("fn:", 0) == 0) return EmitClosure(r, t.text.substr(3));
    if (t.text[0] == '$' && t.text.size() > 1) return EmitABx(OP_GETGLOBAL, r, InternString(t.text.substr(1)));
    if (auto d = ParseDouble(t.text)) return EmitABx(OP_LOADK, r, Intern(Constant{3, *d, std::nullopt}));
    // The usual slips: a bare word meant as text, a global without "$",
    // a result name without "->" before it.
    Fail("bad value '" + t.text + "': write text in quotes (\"" + t.text + "\"), a global as $" + t.text +
         ", a register as rN, and result names after ->");
  }

  // The RK operand for the next value: a constant directly when it fits,
  // else the value loaded into `temp`.
  uint32_t ValueRK(uint32_t temp) {
    const Token& t = Peek();
    std::optional<Constant> k = Literal(t);
    if (!k && t.kind == Token::Word && !Prefixed(t.text, 'r') && t.text[0] != '$' && t.text.rfind("fn:", 0) != 0) {
      if (auto d = ParseDouble(t.text)) k = Constant{3, *d, std::nullopt};
    }
    if (t.kind == Token::Word) {
      if (auto reg = Prefixed(t.text, 'r')) {
        ++at_;
        if (*reg > 249) Fail("register out of range");
        return static_cast<uint32_t>(*reg);
      }
    }
    if (k) {
      const uint32_t idx = Intern(*k);
      if (idx + vl::kRKConst <= 511) {
        ++at_;
        return idx + vl::kRKConst;
      }
    }
    LoadValue(temp);
    return temp;
  }

  // .table A { key = value, [constant] = value, value, ... }
  void TableForm(uint32_t a) {
    Expect("{");
    struct Field {
      size_t keyTok, valTok;
    };
    std::vector<Field> fields;
    std::vector<size_t> items;
    // First pass: find where each entry starts, skipping nested braces.
    while (!Accept("}")) {
      if (!More()) Fail("unterminated table");
      const size_t start = at_;
      bool keyed = false;
      if (Peek().kind == Token::Word && IsIdent(Peek().text) && at_ + 1 < toks_.size() &&
          toks_[at_ + 1].kind == Token::Punct && toks_[at_ + 1].text == "=") {
        keyed = true;
        at_ += 2;
      } else if (Peek().kind == Token::Punct && Peek().text == "[") {
        keyed = true;
        ++at_;
        Next("key");
        Expect("]");
        Expect("=");
      }
      const size_t valStart = at_;
      SkipValue();
      if (keyed)
        fields.push_back({start, valStart});
      else
        items.push_back(valStart);
      Accept(",");
    }
    const size_t after = at_;
    uint32_t arrayB = 0;
    while (arrayB < 511 && (static_cast<uint64_t>(arrayB & 7) << (arrayB >> 3)) < items.size()) ++arrayB;
    uint32_t hashLog = 0;
    while ((1u << hashLog) < fields.size()) ++hashLog;
    EmitABC(OP_NEWTABLE, a, arrayB, hashLog);
    for (const Field& f : fields) {
      at_ = f.keyTok;
      uint32_t key;
      if (Peek().kind == Token::Punct) {
        ++at_;
        auto k = Literal(Peek());
        if (!k && Peek().kind == Token::Word) {
          if (auto d = ParseDouble(Peek().text)) k = Constant{3, *d, std::nullopt};
        }
        if (!k) Fail("a table key is a constant");
        const uint32_t idx = Intern(*k);
        if (idx + vl::kRKConst > 511) Fail("too many constants for a table key");
        key = idx + vl::kRKConst;
      } else {
        const uint32_t idx = InternString(Peek().text);
        if (idx + vl::kRKConst > 511) Fail("too many constants for a table key");
        key = idx + vl::kRKConst;
      }
      at_ = f.valTok;
      if (a + 1 > 249) Fail("table register out of range");
      const uint32_t val = ValueRK(a + 1);
      EmitABC(OP_SETFIELD, a, key, val);
    }
    for (size_t batch = 0; batch < items.size(); batch += 32) {
      const size_t n = std::min<size_t>(32, items.size() - batch);
      for (size_t i = 0; i < n; ++i) {
        if (a + 1 + i > 249) Fail("too many table items");
        at_ = items[batch + i];
        LoadValue(static_cast<uint32_t>(a + 1 + i));
      }
      EmitABx(OP_SETLIST, a, static_cast<int64_t>(batch | (n - 1)));
    }
    at_ = after;
  }

  void SkipValue() {
    if (Accept("{")) {
      int depth = 1;
      while (depth > 0) {
        if (!More()) Fail("unterminated table");
        if (Accept("{"))
          ++depth;
        else if (Accept("}"))
          --depth;
        else
          ++at_;
      }
      return;
    }
    Next("value");
  }

  // ---- closing a function -------------------------------------------------

  void Finish(FuncCtx& c) {
    // The player refuses a function whose code does not end in a return,
    // which is what keeps a run from falling off the end of the code.
    if (options_.requireReturn &&
        (c.f.code.empty() || vl::GetOp(c.f.code.back()) != OP_RETURN))
      throw AsmError(c.f.code.empty() ? line_ : c.lastCodeLine,
                     "function '" + c.name + "' can run off its end: its last instruction must be a return (ret)");
    for (const Fixup& fx : c.fixups) {
      auto it = c.labels.find(fx.label);
      if (it == c.labels.end()) throw AsmError(fx.line, "undefined label '" + fx.label + "'");
      const int32_t target = it->second;
      switch (fx.kind) {
        case FixKind::Jump:
          c.f.code[fx.where] = vl::MakeJump(target - static_cast<int32_t>(fx.where) - 1, fx.flags);
          break;
        case FixKind::SBx: {
          const int32_t off = target - static_cast<int32_t>(fx.where) - 1;
          if (off < -vl::kBiasSBx || off > static_cast<int32_t>(vl::kMaxBx) - vl::kBiasSBx)
            throw AsmError(fx.line, "jump too far");
          c.f.code[fx.where] = vl::MakeAsBx(fx.a >> 8, fx.a & 0xFF, off);
          break;
        }
        case FixKind::LocalStart: c.f.locals[fx.where].startPc = target; break;
        case FixKind::LocalEnd: c.f.locals[fx.where].endPc = target; break;
      }
    }
    if (!c.hasLines && !c.rawLines) c.f.lines.clear();
    c.f.textLine = c.startLine;
    c.f.numUpvalues = static_cast<uint8_t>(c.upvalueCount ? *c.upvalueCount : static_cast<int>(c.upvalues.size()));
    if (c.upvalues.size() > 255) throw AsmError(c.startLine, "too many upvalues");
    if (!c.noNames)
      for (const UpvalueDecl& u : c.upvalues) c.f.upvalueNames.push_back(u.name);
    if (!c.maxStackSet) {
      const int need = StackNeed(c.f);
      if (need > 255) throw AsmError(c.startLine, "function needs more than 255 registers");
      c.f.maxStack = static_cast<uint8_t>(need);
    }
  }

  // Enough registers for everything the code names, at least 2.
  static int StackNeed(const Function& f) {
    int need = std::max(2, f.numParams + (f.isVararg ? 1 : 0));
    auto use = [&need](int64_t top) { need = std::max<int64_t>(need, top); };
    for (uint32_t w : f.code) {
      const uint32_t op = vl::GetOp(w);
      if (op >= vl::kNumOpcodes || op == OP_JUMP) continue;
      const uint32_t fmt = vl::kOpFormat[op];
      const int64_t a = vl::GetA(w), b = vl::GetB(w), cc = vl::GetC(w);
      use(a + 1);
      if ((fmt & vl::OPF_FORMAT_MASK) == vl::OPF_ABC) {
        if ((fmt & vl::OPF_B_REG) || ((fmt & vl::OPF_B_RK) && b < vl::kRKConst)) use(b + 1);
        if ((fmt & vl::OPF_C_RK) && cc < vl::kRKConst) use(cc + 1);
      }
      switch (op) {
        case OP_CALL:
        case OP_TAILCALL:
          if (b != 0) use(a + b);
          if (cc >= 2) use(a + cc - 1);
          break;
        case OP_RETURN:
          if (cc != 1 && b >= 2) use(a + b - 1);
          break;
        case OP_FORLOOP: use(a + 3); break;
        case OP_ITERPREP: use(a + 2); break;
        case OP_ITERLOOP: use(a + cc + 3 + (cc > 3 ? cc : 3)); break;
        case OP_SETLIST: use(a + (vl::GetBx(w) & 31) + 2); break;
        case OP_METHOD: use(a + 2); break;
        default: break;
      }
    }
    return need;
  }

  Options options_;
  Chunk chunk_;
  bool callHead_ = false;  // the getglobal being emitted fetches a .call's command
  struct {
    const FuncCtx* function = nullptr;
    size_t pc = 0;
    int64_t reg = -1;
  } lastRead_;  // the last global read as a value
  std::vector<std::unique_ptr<FuncCtx>> stack_;
  std::vector<Token> toks_;
  size_t at_ = 0;
  int line_ = 0;
};

}  // namespace

Chunk Parse(std::string_view text, Options options) { return Parser(options).Run(text); }

std::vector<uint8_t> Assemble(std::string_view text, std::optional<bool> forceBigEndian, Options options) {
  Chunk c = Parse(text, options);
  if (forceBigEndian) c.bigEndian = *forceBigEndian;
  return WriteChunk(c);
}

}  // namespace vlasm
