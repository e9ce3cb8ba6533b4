// String identity as scripts see it: strings that the string commands and
// concatenation make are the very strings of equal constants, find the same
// table entries after collections, and place table keys, and so order a
// table's keys, by the key hash (checked against python3).
#include <map>
#include <sstream>

#include "tests/libraries/string/string_test_util.h"
#include "vm/gc.h"

namespace {

using vltest::StringLibrary;

int Collect(vlVMState* L) {
  vl::CollectGarbage(L);
  return 0;
}

class StringIdentity : public StringLibrary {
 protected:
  void SetUp() override {
    StringLibrary::SetUp();
    vltest::SetGlobalNative(L, "collect", Collect);
    vltest::SetGlobalNative(L, "next", vltest::NativeNext);
  }
};

// Bytes of length n that are not one short pattern repeated.
std::string Text(size_t n, char salt) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + (i * 7 + i / 26 + salt) % 26);
  return s;
}

// Every length class of the string table's hash (short, word-sized, up to
// 128 bytes hashed whole, longer ones sampled), made at run time in two
// ways: as a table key and compared with the constant of the same bytes,
// before and after collections.
TEST_F(StringIdentity, MadeStringsAreTheConstantsAndFindTheirTableEntries) {
  const size_t lengths[] = {1, 3, 7, 8, 15, 16, 17, 31, 32, 33, 100, 128, 129, 200, 4999, 100000};
  std::ostringstream s;
  s << "newtable 0 0 0\nsetglobal 0 \"t\"\n";
  int i = 0;
  for (size_t n : lengths) {
    std::string text = Text(n, static_cast<char>(i));
    // Made by concatenation: the text less its last byte, then that byte.
    s << "loadk 1 " << Q(text.substr(0, n - 1)) << "\nloadk 2 " << Q(text.substr(n - 1)) << "\nconcat 1 1 2\n"
      << "setfield 0 1 #" << i << "\n";
    // Made by a command: the upper-case text lowered again.
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(c - 32);
    s << ".call base=3 lowerstr " << Q(upper) << " -> u" << i << "\n";
    ++i;
  }
  s << ".call base=3 collect\n.call base=3 collect\n";
  i = 0;
  for (size_t n : lengths) {
    std::string text = Text(n, static_cast<char>(i));
    // The entry under the constant, and under the command's string.
    s << "getfield 1 0 " << Q(text) << "\nsetglobal 1 \"k" << i << "\"\n"
      << "getglobal 2 \"u" << i << "\"\ngetfield 1 0 2\nsetglobal 1 \"m" << i << "\"\n"
      << "loadk 3 #0\neq 0 2 " << Q(text) << "\njump 1\nloadk 3 #1\nsetglobal 3 \"e" << i << "\"\n";
    ++i;
  }
  ASSERT_EQ(Run(s.str()), 0);
  for (int j = 0; j < i; ++j) {
    std::string n = std::to_string(j);
    EXPECT_EQ(Num(("k" + n).c_str()), j) << "length " << lengths[j];
    EXPECT_EQ(Num(("m" + n).c_str()), j) << "length " << lengths[j];
    EXPECT_EQ(Num(("e" + n).c_str()), 1) << "length " << lengths[j];
  }
}

// Long strings are hashed on a sample: two that differ only in a byte the
// sample skips are still two strings and two keys.
TEST_F(StringIdentity, LongStringsDifferingInOneByteStayApart) {
  std::string base = Text(5000, 3);
  std::ostringstream s;
  s << ".call repeatstr " << Q(base.substr(0, 1000)) << " 5 -> a\n"
    << ".call insertstr $a \"#\" 2501 1 -> b\n"
    << ".call insertstr $a \"#\" 2502 1 -> c\n"
    << "newtable 0 0 0\ngetglobal 1 \"a\"\nsetfield 0 1 #1\ngetglobal 1 \"b\"\nsetfield 0 1 #2\n"
    << "getglobal 1 \"c\"\nsetfield 0 1 #3\n.call base=2 collect\n"
    << ".call base=2 insertstr $a \"#\" 2501 1 -> b2\n"
    << "getglobal 1 \"b2\"\ngetfield 2 0 1\nsetglobal 2 \"vb\"\n"
    << "getglobal 1 \"c\"\ngetfield 2 0 1\nsetglobal 2 \"vc\"\n"
    << "getglobal 1 \"a\"\ngetfield 2 0 1\nsetglobal 2 \"va\"\n"
    << "getglobal 1 \"a\"\ngetglobal 2 \"b\"\nloadk 3 #0\neq 0 1 2\njump 1\nloadk 3 #1\nsetglobal 3 \"same\"\n";
  ASSERT_EQ(Run(s.str()), 0);
  EXPECT_EQ(Num("va"), 1);
  EXPECT_EQ(Num("vb"), 2);
  EXPECT_EQ(Num("vc"), 3);
  EXPECT_EQ(Num("same"), 0);
  EXPECT_EQ(Str("b").size(), 5000u);
}

// The order in which a table's string keys are visited follows the key
// hash of every byte, last first (a sample beyond 31 bytes), whether the
// key is a constant or made at run time.
TEST_F(StringIdentity, StringKeysAreVisitedInKeyHashOrder) {
  std::vector<std::string> candidates;
  for (size_t n : {1, 2, 5, 9, 20, 31, 32, 33, 64, 100, 129, 300, 1000})
    for (char salt = 0; salt < 4; ++salt) candidates.push_back(Text(n, salt));
  std::ostringstream program;
  program << "keys = [";
  for (const std::string& c : candidates) program << "'" << c << "',";
  program << "]\n"
          << "for k in keys:\n"
          << "    b = k.encode('latin-1'); n = len(b); h = n; step = (n >> 5) + 1; i = n\n"
          << "    while i >= step:\n"
          << "        h = (h ^ (((h << 5) + (h >> 2) + b[i - 1]) & 0xFFFFFFFF)) & 0xFFFFFFFF\n"
          << "        i -= step\n"
          << "    print(h & 63)\n";
  std::istringstream hashes(vltest::RunPython(program.str()));
  // Keys in distinct nodes of a 64-node hash part, so each sits where its
  // hash puts it.
  std::map<int, std::string> byNode;
  for (const std::string& c : candidates) {
    int node = -1;
    hashes >> node;
    ASSERT_GE(node, 0);
    if (!byNode.count(node) && byNode.size() < 10) byNode[node] = c;
  }
  ASSERT_EQ(byNode.size(), 10u);
  std::ostringstream s;
  s << "newtable 0 0 6\n";
  int i = 0;
  for (auto it = byNode.rbegin(); it != byNode.rend(); ++it, ++i) {
    const std::string& key = it->second;
    if (i % 2) {
      s << "setfield 0 " << Q(key) << " #1\n";
    } else {
      s << "loadk 1 " << Q(key.substr(0, key.size() / 2)) << "\nloadk 2 " << Q(key.substr(key.size() / 2))
        << "\nconcat 1 1 2\nsetfield 0 1 #1\n";
    }
  }
  // Keys joined with "|" in the order the iteration gives them.
  s << "copy 5 0\nloadk 4 \"\"\nloadnil 6 7\n"
    << "loop:\ngetglobal 8 \"next\"\ncopy 9 5\ncopy 10 6\ncall 8 3 3\ncopy 6 8\n"
    << "eq 1 6 nil\njump done\ncopy 12 4\ncopy 13 6\nloadk 14 \"|\"\nconcat 4 12 14\njump loop\n"
    << "done:\nsetglobal 4 \"order\"\n";
  ASSERT_EQ(Run(s.str()), 0);
  std::string expected;
  for (const auto& [node, key] : byNode) expected += key + "|";
  EXPECT_EQ(Str("order"), expected);
}
}  // namespace
