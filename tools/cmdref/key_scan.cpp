// Source scan for the command reference: a small C++ tokenizer that finds
// top-level function definitions, the registration rows {"Name", Function}
// and the calls and string literals of each function.
#include "tools/cmdref/key_scan.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace cmdref {
namespace {

// Folders holding the player's code (tests, tools, examples left out).
constexpr const char* kFolders[] = {"vm",      "runtime",  "platform", "graphics",    "formats", "display", "objects",
                                    "libraries", "text", "media",    "transitions", "player",  "app"};

struct Token {
  enum Kind { kIdent, kString, kPunct } kind;
  std::string text;
};

// Command lists written as X-macros, #define LIST(X) X(Name) X(Other) ...,
// give the functions CmdName, CmdOther.
void ReadMacroList(const std::string& line, std::vector<std::string>* names) {
  if (line.compare(0, 7, "#define") != 0 || line.find("(X)") == std::string::npos) return;
  for (size_t at = line.find("X(", line.find("(X)") + 3); at != std::string::npos; at = line.find("X(", at + 2)) {
    size_t end = line.find(')', at);
    if (end == std::string::npos) break;
    names->push_back(line.substr(at + 2, end - at - 2));
  }
}

std::vector<Token> Tokenize(const std::string& s, std::vector<std::string>* macroNames) {
  std::vector<Token> out;
  size_t i = 0, n = s.size();
  bool lineStart = true;
  while (i < n) {
    char c = s[i];
    if (c == '\n') {
      lineStart = true;
      ++i;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (lineStart && c == '#') {  // a preprocessor line, with its continuations
      size_t start = i;
      while (i < n && s[i] != '\n') i += (s[i] == '\\' && i + 1 < n) ? 2 : 1;
      ReadMacroList(s.substr(start, i - start), macroNames);
      continue;
    }
    lineStart = false;
    if (c == '/' && i + 1 < n && s[i + 1] == '/') {
      while (i < n && s[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      size_t end = s.find("*/", i + 2);
      i = end == std::string::npos ? n : end + 2;
    } else if (c == 'R' && i + 1 < n && s[i + 1] == '"') {  // raw string
      size_t open = s.find('(', i + 2);
      if (open == std::string::npos) break;
      std::string close(1, ')');
      close.append(s, i + 2, open - i - 2);
      close.push_back('"');
      size_t end = s.find(close, open + 1);
      if (end == std::string::npos) break;
      out.push_back({Token::kString, s.substr(open + 1, end - open - 1)});
      i = end + close.size();
    } else if (c == '"' || c == '\'') {
      std::string text;
      size_t j = i + 1;
      while (j < n && s[j] != c) {
        if (s[j] == '\\' && j + 1 < n) text += s[j++];
        text += s[j++];
      }
      if (c == '"') out.push_back({Token::kString, text});
      i = j + 1;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      size_t j = i;
      while (j < n && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
      out.push_back({Token::kIdent, s.substr(i, j - i)});
      i = j;
    } else {
      out.push_back({Token::kPunct, std::string(1, c)});
      ++i;
    }
  }
  return out;
}

bool IsKey(const std::string& text) {
  if (text.empty() || !std::islower(static_cast<unsigned char>(text[0]))) return false;
  for (char c : text)
    if (!std::islower(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c)) && c != '_')
      return false;
  return true;
}

bool IsPunct(const std::vector<Token>& t, size_t i, char c) {
  return i < t.size() && t[i].kind == Token::kPunct && t[i].text[0] == c;
}

// The name of the function whose body opens at the brace t[brace], or "";
// *open gets the place of its parameter list's "(".
std::string DefinedName(const std::vector<Token>& t, size_t brace, size_t* open) {
  size_t i = brace;
  while (i > 0 && t[i - 1].kind == Token::kIdent &&
         (t[i - 1].text == "const" || t[i - 1].text == "noexcept" || t[i - 1].text == "override" ||
          t[i - 1].text == "final"))
    --i;
  if (i == 0 || !IsPunct(t, i - 1, ')')) return "";
  int depth = 0;
  size_t j = i - 1;
  for (;; --j) {
    if (IsPunct(t, j, ')')) ++depth;
    if (IsPunct(t, j, '(') && --depth == 0) break;
    if (j == 0) return "";
  }
  if (j == 0 || t[j - 1].kind != Token::kIdent) return "";
  *open = j;
  const std::string& name = t[j - 1].text;
  static const std::set<std::string> kKeywords = {"if", "for", "while", "switch", "catch", "return", "sizeof"};
  return kKeywords.count(name) ? "" : name;
}

// The name of the variable whose initializer opens at t[brace]
// ("kKeys[] = {", "kTable = {", "kTable{"), or "".
std::string TableName(const std::vector<Token>& t, size_t brace) {
  size_t i = brace;
  if (i > 0 && IsPunct(t, i - 1, '=')) --i;
  if (i > 0 && IsPunct(t, i - 1, ']')) {
    while (i > 0 && !IsPunct(t, i - 1, '[')) --i;
    if (i == 0) return "";
    --i;
  }
  if (i == 0 || t[i - 1].kind != Token::kIdent) return "";
  static const std::set<std::string> kNotNames = {"struct", "class", "union", "enum", "namespace", "else", "do", "try"};
  if (kNotNames.count(t[i - 1].text)) return "";
  if (i >= 2 && t[i - 2].kind == Token::kIdent &&
      (t[i - 2].text == "struct" || t[i - 2].text == "class" || t[i - 2].text == "union" || t[i - 2].text == "enum"))
    return "";
  return t[i - 1].text;
}

// Whether the brace t[brace] opens the body of a class or struct
// ("struct Name {", "class Name : public Base {").
bool OpensClass(const std::vector<Token>& t, size_t brace) {
  for (size_t i = brace; i > 0; --i) {
    const Token& token = t[i - 1];
    if (token.kind == Token::kPunct && (token.text == ";" || token.text == "}" || token.text == "{" ||
                                        token.text == ")" || token.text == "=" || token.text == "("))
      return false;
    if (token.kind == Token::kIdent && (token.text == "struct" || token.text == "class"))
      return !(i >= 2 && t[i - 2].kind == Token::kIdent && t[i - 2].text == "enum");
  }
  return false;
}

// The names of the text parameters (char pointers and strings: the ones
// that can carry a key) of the list between t[open] "(" and its ")".
std::set<std::string> TextParameterNames(const std::vector<Token>& t, size_t open) {
  std::set<std::string> names;
  int depth = 0;
  bool text = false;  // the current parameter's type names char or string
  for (size_t i = open; i < t.size(); ++i) {
    if (IsPunct(t, i, '(')) ++depth;
    if (IsPunct(t, i, ')') && --depth == 0) break;
    if (depth == 1 && IsPunct(t, i, ',')) text = false;
    if (t[i].kind != Token::kIdent) continue;
    if (t[i].text == "char" || t[i].text == "string" || t[i].text == "string_view") text = true;
    if (depth == 1 && text && (IsPunct(t, i + 1, ',') || IsPunct(t, i + 1, ')') || IsPunct(t, i + 1, '=')))
      names.insert(t[i].text);
  }
  return names;
}

// The arguments of the call whose "(" is t[open], each as its tokens.
std::vector<std::vector<const Token*>> CallArguments(const std::vector<Token>& t, size_t open) {
  std::vector<std::vector<const Token*>> args(1);
  int depth = 0;
  for (size_t i = open; i < t.size(); ++i) {
    if (IsPunct(t, i, '(') || IsPunct(t, i, '{') || IsPunct(t, i, '[')) {
      if (depth++ == 0) continue;
    } else if (IsPunct(t, i, ')') || IsPunct(t, i, '}') || IsPunct(t, i, ']')) {
      if (--depth == 0) break;
    } else if (depth == 1 && IsPunct(t, i, ',')) {
      args.emplace_back();
      continue;
    }
    args.back().push_back(&t[i]);
  }
  return args;
}

const std::set<std::string> kOptionReaders = {
    "GetTableNumber",    "GetTableInt",        "GetTableString",  "GetTableBool",
    "GetTableObjectID",  "GetTableIntOrPercent", "GetTableNumberOrPercent", "GetTableLayerID",
    "GetTableNumberList", "GetTableImageList", "GetTableFileName", "CheckNumberField", "CheckIntField",
    "CheckStringField"};
const std::set<std::string> kResultWriters = {"SetTableString", "SetTableNumber", "SetTableInt",
                                              "SetTableUnsigned"};

}  // namespace

void KeyScan::ScanFile(const std::string& path, const std::string& text) {
  std::vector<std::string> macroNames;
  std::vector<Token> t = Tokenize(text, &macroNames);
  for (const std::string& name : macroNames) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    registered_[lower].insert("Cmd" + name);
  }
  // Braces that do not open a function or another block: namespaces and
  // extern "C" blocks.
  std::vector<bool> transparent;
  int opaque = 0;  // open braces that are not transparent
  Function* current = nullptr;
  std::set<std::string> params;  // of the current function
  std::string name;
  int bodyDepth = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    // Registration rows: {"Name", Function
    if (IsPunct(t, i, '{') && i + 3 < t.size() && t[i + 1].kind == Token::kString && IsPunct(t, i + 2, ',') &&
        t[i + 3].kind == Token::kIdent) {
      std::string name = t[i + 1].text;
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      registered_[name].insert(t[i + 3].text);
    }
    // Hooks: "hooks.member = Function;" makes calls of member calls of Function.
    if (t[i].kind == Token::kIdent && i >= 1 && (IsPunct(t, i - 1, '.') || IsPunct(t, i - 1, '>')) &&
        IsPunct(t, i + 1, '=') && !IsPunct(t, i + 2, '=') && i + 3 < t.size() && t[i + 2].kind == Token::kIdent &&
        (IsPunct(t, i + 3, ';') || IsPunct(t, i + 3, ',') || IsPunct(t, i + 3, '}')))
      aliases_[t[i].text].insert(t[i + 2].text);
    if (current) {
      if (t[i].kind == Token::kString && IsKey(t[i].text)) current->literals.insert(t[i].text);
      // Calls, and other names (followed only when they name a table).
      if (t[i].kind == Token::kIdent) (IsPunct(t, i + 1, '(') ? current->callees : current->names).insert(t[i].text);
      if (!current->isTable && t[i].kind == Token::kIdent && IsPunct(t, i + 1, '(')) {
        const std::string& callee = t[i].text;
        auto args = CallArguments(t, i + 1);
        Call call{callee, {}, false, {}};
        for (const auto& arg : args)
          for (const Token* token : arg) {
            if (token->kind == Token::kIdent && params.count(token->text)) call.params.insert(token->text);
          }
        // A key pushed as a literal or as an element of a table of keys.
        auto namesKey = [&](const std::vector<const Token*>& arg) {
          if (arg.size() == 1 && arg[0]->kind == Token::kString) return IsKey(arg[0]->text);
          // keys[i], or the member of a row of keys (f.name), not a call;
          // or a variable holding keys of the function's own
          // (for (const char* key : {"a", "b"})).
          if (arg.empty() || arg[0]->kind != Token::kIdent || params.count(arg[0]->text)) return false;
          if (arg.size() == 1) return !current->literals.empty();
          if (arg[1]->kind == Token::kPunct && arg[1]->text == "[") return true;
          return arg.size() == 3 && arg[1]->kind == Token::kPunct && arg[1]->text == "." &&
                 arg[2]->kind == Token::kIdent;
        };
        for (size_t n = 1; n < args.size(); ++n) call.literal |= namesKey(args[n]);  // past the state
        for (const auto& arg : args) {
          if (arg.size() == 1 && arg[0]->kind == Token::kString && IsKey(arg[0]->text)) call.keys.push_back(arg[0]->text);
        }
        if (callee == "PushString" && args.size() == 2) {
          if (namesKey(args[1])) current->pushesLiteral = true;
          if (args[1].size() == 1 && args[1][0]->kind == Token::kString && IsKey(args[1][0]->text))
            current->pushedKeys.push_back(args[1][0]->text);
          if (args[1].size() == 1 && args[1][0]->kind == Token::kIdent && params.count(args[1][0]->text))
            current->pushedParams.insert(args[1][0]->text);
        }
        // The registry and the globals are the player's own tables, not a
        // script's options or results.
        bool ownTable = false;
        for (const auto& arg : args)
          for (const Token* token : arg) ownTable |= token->text == "kRegistryIndex" || token->text == "kGlobalsIndex";
        if (!ownTable) {
          if (callee == "GetTableValue" || callee == "RawGetTableValue") current->gets = true;
          if (callee == "SetTableValue" || callee == "RawSetTableValue") current->sets = true;
          current->calls.push_back(std::move(call));
        }
      }
    }
    if (IsPunct(t, i, '{')) {
      bool isTransparent = false;
      if (opaque == 0) {
        if ((i >= 1 && t[i - 1].text == "namespace") || (i >= 2 && t[i - 2].text == "namespace") ||
            (i >= 2 && t[i - 2].text == "extern" && t[i - 1].kind == Token::kString) || OpensClass(t, i))
          isTransparent = true;  // the member functions of a class are functions too
        else if (size_t open = 0; !(name = DefinedName(t, i, &open)).empty()) {
          current = &functions_.emplace(name, Function{})->second;
          current->file = path;
          current->name = name;
          params = TextParameterNames(t, open);
          bodyDepth = 1;
        } else if (std::string table = TableName(t, i); !table.empty()) {
          // A table of keys (and of functions) read by the code naming it.
          current = &functions_.emplace(table, Function{})->second;
          current->file = path;
          current->isTable = true;
          params.clear();
          bodyDepth = 1;
        }
      } else if (current) {
        ++bodyDepth;
      }
      transparent.push_back(isTransparent);
      if (!isTransparent) ++opaque;
    } else if (IsPunct(t, i, '}') && !transparent.empty()) {
      if (!transparent.back()) --opaque;
      transparent.pop_back();
      if (current && --bodyDepth == 0) current = nullptr;
    }
  }
}

bool KeyScan::Load(const std::string& root) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const char* folder : kFolders) {
    fs::path dir = fs::path(root) / folder;
    std::error_code error;
    if (!fs::is_directory(dir, error)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir, error)) {
      if (!entry.is_regular_file() || (entry.path().extension() != ".cpp" && entry.path().extension() != ".h"))
        continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      ScanFile(entry.path().lexically_relative(root).generic_string(), text.str());
      ++files;
    }
  }
  if (!files) std::fprintf(stderr, "cmdref: no source files under %s\n", root.c_str());
  FindKeyAccessors();
  return files > 0;
}

void KeyScan::FindKeyAccessors() {
  keyReaders_ = kOptionReaders;
  keyWriters_ = kResultWriters;
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [name, f] : functions_) {
      if (f.isTable || f.file.compare(0, 3, "vm/") == 0) continue;  // the VM's registry helpers
      for (bool writes : {false, true}) {
        std::set<std::string>& accessors = writes ? keyWriters_ : keyReaders_;
        if (accessors.count(name)) continue;
        bool is = !f.pushedParams.empty() && (writes ? f.sets : f.gets);
        for (const Call& call : f.calls)
          is |= !call.params.empty() && accessors.count(call.callee);
        if (is) grew |= accessors.insert(name).second;
      }
    }
  }
}

std::vector<const KeyScan::Function*> KeyScan::Reach(const std::string& command) const {
  std::vector<const Function*> out;
  auto row = registered_.find(command);
  if (row == registered_.end()) return out;
  std::set<std::string> seen;
  std::deque<std::pair<std::string, std::string>> queue;  // name, file of the caller
  for (const std::string& name : row->second) queue.emplace_back(name, "");
  while (!queue.empty()) {
    auto [name, from] = queue.front();
    queue.pop_front();
    auto [first, last] = functions_.equal_range(name);
    // A helper defined in the caller's own file is the one it calls.
    bool local = false;
    for (auto it = first; it != last; ++it) local |= !it->second.isTable && it->second.file == from;
    for (auto it = first; it != last; ++it) {
      const Function& f = it->second;
      if (f.isTable || (local && f.file != from)) continue;
      if (!seen.insert(name + "\n" + f.file).second) continue;
      out.push_back(&f);
      for (const std::string& callee : f.callees) {
        if (functions_.count(callee)) queue.emplace_back(callee, f.file);
        // Hooks are followed from the command's own function only: deeper
        // down they reach the whole drawing and event machinery.
        if (auto hook = aliases_.find(callee); hook != aliases_.end() && row->second.count(name))
          for (const std::string& target : hook->second) queue.emplace_back(target, "");
      }
    }
  }
  return out;
}

std::set<std::pair<std::string, std::string>> KeyScan::KeyUses(const std::string& command, bool writes,
                                                               std::set<std::string>* keys) const {
  const std::set<std::string>& accessors = writes ? keyWriters_ : keyReaders_;
  std::set<std::pair<std::string, std::string>> places;
  for (const Function* f : Reach(command)) {
    bool uses = f->file.compare(0, 3, "vm/") != 0 && f->pushesLiteral && (writes ? f->sets : f->gets);
    if (uses && keys) keys->insert(f->pushedKeys.begin(), f->pushedKeys.end());
    for (const Call& call : f->calls)
      if (call.literal && accessors.count(call.callee)) {
        uses = true;
        if (keys) keys->insert(call.keys.begin(), call.keys.end());
      }
    if (uses) places.emplace(f->file, f->name);
  }
  return places;
}

std::set<std::string> KeyScan::KeysOf(const std::string& command) const {
  std::set<std::string> keys;
  for (const Function* f : Reach(command)) {
    keys.insert(f->literals.begin(), f->literals.end());
    for (const std::string& other : f->names) {
      auto [first, last] = functions_.equal_range(other);
      for (auto table = first; table != last; ++table)
        if (table->second.isTable) keys.insert(table->second.literals.begin(), table->second.literals.end());
    }
  }
  return keys;
}

std::set<std::string> NamedKeys(const std::string& text, std::set<std::string>* bad) {
  std::set<std::string> keys;
  for (const char* marker : {"opts:", "fields:"}) {
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
      size_t start = at + std::strlen(marker);
      size_t end = text.find_first_of(");", start);
      std::string list = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
      std::stringstream items(list);
      std::string item;
      while (std::getline(items, item, ',')) {
        size_t a = item.find_first_not_of(' '), b = item.find_last_not_of(' ');
        item = a == std::string::npos ? "" : item.substr(a, b - a + 1);
        if (item.size() > 4 && item.compare(item.size() - 4, 4, " ...") == 0) item.resize(item.size() - 4);
        if (item == "...") continue;
        if (IsKey(item)) keys.insert(item);
        else if (bad) bad->insert(item);
      }
    }
  }
  return keys;
}

}  // namespace cmdref
