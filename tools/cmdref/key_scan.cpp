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

// The name of the function whose body opens at the brace t[brace], or "".
std::string DefinedName(const std::vector<Token>& t, size_t brace) {
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
  int bodyDepth = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    // Registration rows: {"Name", Function
    if (IsPunct(t, i, '{') && i + 3 < t.size() && t[i + 1].kind == Token::kString && IsPunct(t, i + 2, ',') &&
        t[i + 3].kind == Token::kIdent) {
      std::string name = t[i + 1].text;
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      registered_[name].insert(t[i + 3].text);
    }
    if (current) {
      if (t[i].kind == Token::kString && IsKey(t[i].text)) current->literals.insert(t[i].text);
      // Calls, and other names (followed only when they name a table).
      if (t[i].kind == Token::kIdent) (IsPunct(t, i + 1, '(') ? current->callees : current->names).insert(t[i].text);
    }
    if (IsPunct(t, i, '{')) {
      bool isTransparent = false;
      if (opaque == 0) {
        if ((i >= 1 && t[i - 1].text == "namespace") || (i >= 2 && t[i - 2].text == "namespace") ||
            (i >= 2 && t[i - 2].text == "extern" && t[i - 1].kind == Token::kString))
          isTransparent = true;
        else if (std::string name = DefinedName(t, i); !name.empty()) {
          current = &functions_.emplace(name, Function{path, false, {}, {}, {}})->second;
          bodyDepth = 1;
        } else if (std::string table = TableName(t, i); !table.empty()) {
          // A table of keys (and of functions) read by the code naming it.
          current = &functions_.emplace(table, Function{path, true, {}, {}, {}})->second;
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
      ScanFile(entry.path().string(), text.str());
      ++files;
    }
  }
  if (!files) std::fprintf(stderr, "cmdref: no source files under %s\n", root.c_str());
  return files > 0;
}

std::set<std::string> KeyScan::KeysOf(const std::string& command) const {
  std::set<std::string> keys;
  auto row = registered_.find(command);
  if (row == registered_.end()) return keys;
  std::set<std::string> seen;
  std::deque<std::string> queue(row->second.begin(), row->second.end());
  while (!queue.empty()) {
    std::string name = queue.front();
    queue.pop_front();
    if (!seen.insert(name).second) continue;
    auto [first, last] = functions_.equal_range(name);
    for (auto it = first; it != last; ++it) {
      keys.insert(it->second.literals.begin(), it->second.literals.end());
      for (const std::string& callee : it->second.callees)
        if (!seen.count(callee) && functions_.count(callee)) queue.push_back(callee);
      for (const std::string& other : it->second.names) {
        if (seen.count(other)) continue;
        auto [tfirst, tlast] = functions_.equal_range(other);
        for (auto table = tfirst; table != tlast; ++table)
          if (table->second.isTable) keys.insert(table->second.literals.begin(), table->second.literals.end());
      }
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
