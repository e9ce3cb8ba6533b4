// Finds, in the player's sources, the table keys each command's code can
// read or write: the lower-case string literals of the function a library
// registers for the command and of every function it calls, so that the
// reference can be checked against the option keys and result fields the
// code really uses.
#pragma once
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

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
  // The places (file, function) where the command's code reads named keys of a
  // table (an option table), or sets them (a result table): it, or a
  // function it calls, calls a key reader or writer with a key literal or
  // an element of a table of keys, or pushes such a key and then reads or
  // sets a table. Key readers and writers are the option readers and
  // result writers and every function that passes a parameter of its own
  // on to one, or pushes it and reads or sets a table. The registry and
  // the globals do not count.
  // With keys, the key literals found there are added to *keys.
  std::set<std::pair<std::string, std::string>> KeyUses(const std::string& command, bool writes,
                                                        std::set<std::string>* keys = nullptr) const;

 private:
  // A function, or a table of data (its literals count for the functions
  // that name it).
  struct Call {
    std::string callee;
    std::set<std::string> params;  // the function's own parameters among the arguments
    bool literal;                  // a key (a literal, or an element of a table of keys) among them
    std::vector<std::string> keys;  // the key literals among them
  };
  struct Function {
    std::string file, name;
    bool isTable;
    std::set<std::string> literals, callees, names;
    std::vector<Call> calls;
    // Pushes a key literal / one of its parameters, and then gets or sets
    // a table entry.
    bool pushesLiteral = false, gets = false, sets = false;
    std::set<std::string> pushedParams;
    std::vector<std::string> pushedKeys;  // the key literals pushed
  };
  void ScanFile(const std::string& path, const std::string& text);
  void FindKeyAccessors();
  // The functions the command's code can run: its own and those they call.
  std::vector<const Function*> Reach(const std::string& command) const;
  std::set<std::string> keyReaders_, keyWriters_;
  std::map<std::string, std::set<std::string>> aliases_;  // hook member -> functions assigned to it
  std::multimap<std::string, Function> functions_;
  std::map<std::string, std::set<std::string>> registered_;  // command -> function names
};

// The keys a note names: the comma-separated words after "opts:" and
// "fields:" up to the closing parenthesis, ";" or the end. Items that are
// not keys ("..." and the like) are left out; *bad gets each item that is
// neither a key nor "...".
std::set<std::string> NamedKeys(const std::string& text, std::set<std::string>* bad);

}  // namespace cmdref
