// Finds, in the player's sources, the table keys each command's code can
// read or write: the lower-case string literals of the function a library
// registers for the command and of every function it calls, so that the
// reference can be checked against the option keys and result fields the
// code really uses.
#pragma once
#include <map>
#include <set>
#include <string>

namespace cmdref {

class KeyScan {
 public:
  // Reads every .cpp and .h file of the source folders under root; false (with a
  // message on stderr) when none could be read.
  bool Load(const std::string& root);
  // The keys the command's code uses; empty when no registration row of
  // that name (lower-cased) was found.
  std::set<std::string> KeysOf(const std::string& command) const;
  bool Registered(const std::string& command) const { return registered_.count(command) != 0; }

 private:
  // A function, or a table of data (its literals count for the functions
  // that name it).
  struct Function {
    std::string file;
    bool isTable;
    std::set<std::string> literals, callees, names;
  };
  void ScanFile(const std::string& path, const std::string& text);
  std::multimap<std::string, Function> functions_;
  std::map<std::string, std::set<std::string>> registered_;  // command -> function names
};

// The keys a note names: the comma-separated words after "opts:" and
// "fields:" up to the closing parenthesis, ";" or the end. Items that are
// not keys ("..." and the like) are left out; *bad gets each item that is
// neither a key nor "...".
std::set<std::string> NamedKeys(const std::string& text, std::set<std::string>* bad);

}  // namespace cmdref
