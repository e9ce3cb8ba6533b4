// Locale catalogs: IFF catalogs written byte by byte here and by an
// independent Python writer, text catalogs with escapes, hostile lengths,
// the search through "Catalogs"/"catalogs" directories on disk, and the
// message look-ups of the error system going through the catalog.
#include "runtime/catalog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "runtime/errors.h"
#include "runtime/messages.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutBE32(Bytes& b, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}
void PutText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// The same layout as tests/runtime/data/make_catalog.py.
Bytes MakeIff(const std::vector<std::pair<uint32_t, std::string>>& entries) {
  Bytes strs;
  for (const auto& [id, text] : entries) {
    PutBE32(strs, id);
    PutBE32(strs, static_cast<uint32_t>(text.size()));
    PutText(strs, text);
    while (strs.size() % 4) strs.push_back(0);
  }
  const std::string version("$VER: Vellamora.catalog 1.0\0", 28);
  Bytes body;
  PutText(body, "CTLGFVER");
  PutBE32(body, static_cast<uint32_t>(version.size()));
  PutText(body, version);
  PutText(body, "STRS");
  PutBE32(body, static_cast<uint32_t>(strs.size()));
  body.insert(body.end(), strs.begin(), strs.end());
  Bytes file;
  PutText(file, "FORM");
  PutBE32(file, static_cast<uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

struct CatalogPtr {
  vlCatalog* c;
  explicit CatalogPtr(vlCatalog* catalog) : c(catalog) {}
  ~CatalogPtr() { FreeCatalog(c); }
  const char* Find(int32_t id) const { return FindCatalogString(c, id, "<default>"); }
};

CatalogPtr Parse(const Bytes& b) { return CatalogPtr(ParseCatalog(b.data(), b.size())); }
CatalogPtr ParseText(const std::string& s) {
  return CatalogPtr(ParseCatalog(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
}

const std::vector<std::pair<uint32_t, std::string>> kGerman = {
    {13, "Nicht genug Speicher!"},
    {3, "Kann Datei %s nicht lesen!"},
    {95, "fertig"},
    {194, "Dateiname \xE4nderbar"},  // 20 characters: no padding byte of its own
    {402, "Fehler"},
    {13, "second entry of the same id"},
    {4, "%d %s"},
};

TEST(IffCatalog, FindsEveryIdAndFallsBackForMissingOnes) {
  CatalogPtr c = Parse(MakeIff(kGerman));
  ASSERT_NE(c.c, nullptr);
  EXPECT_STREQ(c.Find(13), "Nicht genug Speicher!");
  EXPECT_STREQ(c.Find(95), "fertig");
  EXPECT_STREQ(c.Find(194), "Dateiname \xE4nderbar");
  EXPECT_STREQ(c.Find(402), "Fehler");
  EXPECT_STREQ(c.Find(0), "<default>");
  EXPECT_STREQ(c.Find(-1), "<default>");
  EXPECT_STREQ(c.Find(781), "<default>");
  EXPECT_STREQ(FindCatalogString(nullptr, 13, "built-in"), "built-in");
}

TEST(IffCatalog, SameBytesAsAnIndependentWriter) {
  const char* src = std::getenv("VL_SOURCE_DIR");
  ASSERT_NE(src, nullptr);
  char dir[] = "/tmp/vl-ctlg-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string out = std::string(dir) + "/py.catalog";
  std::string cmd = "python3 '" + std::string(src) + "/tests/runtime/data/make_catalog.py' '" + out + "'";
  for (const auto& [id, text] : kGerman) cmd += " '" + std::to_string(id) + "=" + text + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(out, std::ios::binary);
  Bytes fromPython{std::istreambuf_iterator<char>(in), {}};
  std::filesystem::remove_all(dir);
  EXPECT_EQ(fromPython, MakeIff(kGerman));
  CatalogPtr c = Parse(fromPython);
  ASSERT_NE(c.c, nullptr);
  EXPECT_STREQ(c.Find(3), "Kann Datei %s nicht lesen!");
}

TEST(IffCatalog, LengthsThatRunPastTheFileEndTheList) {
  Bytes b = MakeIff({{1, "one"}, {9, std::string(60, 'p')}, {2, "two"}});
  // An entry whose length claims more than the file holds, then a real one
  // hidden behind it.
  PutBE32(b, 3);
  PutBE32(b, 0x7FFFFFF0);
  PutText(b, "xx");
  CatalogPtr c = Parse(b);
  ASSERT_NE(c.c, nullptr);
  EXPECT_STREQ(c.Find(2), "two");
  EXPECT_STREQ(c.Find(3), "<default>");

  // A text that ends exactly at the file's end, without any zero byte.
  Bytes tight = MakeIff({{1, std::string(90, 'a')}});
  PutBE32(tight, 7);
  PutBE32(tight, 4);
  PutText(tight, "abcd");
  CatalogPtr t = Parse(tight);
  ASSERT_NE(t.c, nullptr);
  EXPECT_STREQ(t.Find(7), "abcd");
  // A header cut off after its id.
  Bytes cut = MakeIff({{1, std::string(90, 'a')}});
  PutBE32(cut, 9);
  CatalogPtr u = Parse(cut);
  ASSERT_NE(u.c, nullptr);
  EXPECT_STREQ(u.Find(9), "<default>");
}

TEST(IffCatalog, EndIdStopsTheWalk) {
  CatalogPtr c = Parse(MakeIff({{5, "five"}, {0xFFFFFFFFu, "end"}, {6, std::string(80, 's')}}));
  ASSERT_NE(c.c, nullptr);
  EXPECT_STREQ(c.Find(5), "five");
  EXPECT_STREQ(c.Find(6), "<default>");
}

TEST(IffCatalog, RejectedForms) {
  Bytes noFver = MakeIff({{1, std::string(100, 'x')}});
  std::memcpy(noFver.data() + 12, "FVEX", 4);
  EXPECT_EQ(ParseCatalog(noFver.data(), noFver.size()), nullptr);
  Bytes noStrs = MakeIff({{1, std::string(100, 'x')}});
  std::memcpy(noStrs.data() + 48, "STRX", 4);
  ASSERT_EQ(std::string(reinterpret_cast<char*>(noStrs.data()) + 48, 4), "STRX");
  EXPECT_EQ(ParseCatalog(noStrs.data(), noStrs.size()), nullptr);
}

TEST(IffCatalog, ShortFormFileIsReadAsText) {
  Bytes small = MakeIff({{1, "a"}});
  ASSERT_LE(small.size(), 100u);
  CatalogPtr c = Parse(small);
  ASSERT_NE(c.c, nullptr);
  EXPECT_EQ(c.c->entries, nullptr);
  EXPECT_EQ(std::string(c.Find(0)).substr(0, 4), "FORM");
}

TEST(TextCatalog, LinesEscapesAndIds) {
  CatalogPtr c = ParseText("first\\tline\r\nsecond \\\\ back\\q\r\n\\r\\n\nlast\\");
  ASSERT_NE(c.c, nullptr);
  EXPECT_STREQ(c.Find(0), "first\tline");
  EXPECT_STREQ(c.Find(-5), "first\tline");
  EXPECT_STREQ(c.Find(1), "second \\ back\\");
  EXPECT_STREQ(c.Find(2), "\r\n");
  EXPECT_STREQ(c.Find(3), "last\\");
  EXPECT_STREQ(c.Find(4), "<default>");
}

TEST(TextCatalog, ThreeLinesHaveNoFourth) {
  CatalogPtr c = ParseText("a\nb\nc\n");
  EXPECT_STREQ(c.Find(2), "c");
  EXPECT_STREQ(c.Find(3), "<default>");
  CatalogPtr d = ParseText("a\n\nc");
  EXPECT_STREQ(d.Find(1), "");
  EXPECT_STREQ(d.Find(2), "c");
  EXPECT_STREQ(d.Find(3), "<default>");
}

TEST(TextCatalog, ZeroByteEndsTheTextAndEmptyGivesDefaults) {
  CatalogPtr c = ParseText(std::string("one\ntwo\0three\nfour\n", 20));
  EXPECT_STREQ(c.Find(1), "two");
  EXPECT_STREQ(c.Find(2), "<default>");
  CatalogPtr e = ParseText("");
  ASSERT_NE(e.c, nullptr);
  EXPECT_STREQ(e.Find(0), "<default>");
  EXPECT_STREQ(e.Find(1), "<default>");
}

TEST(LocaleCatalog, MessagesAndErrorTextsComeFromIt) {
  Bytes b = MakeIff({{13, "Nicht genug Speicher!"}, {3, "Kann %s nicht lesen!"}, {95, "fertig"},
                     {4, "%d %d %s"}, {0, std::string(60, 'z')}});
  SetLocaleCatalog(ParseCatalog(b.data(), b.size()));
  EXPECT_STREQ(GetMessage(95), "fertig");
  EXPECT_STREQ(LookupCatalogString(95, "done"), "fertig");
  char text[kErrorTextSize];
  GetErrorText(1000, text, sizeof text);
  EXPECT_STREQ(text, "Nicht genug Speicher!");
  SetErrorArgument("/data/pics/sky.png");
  GetErrorText(1045, text, sizeof text);
  EXPECT_STREQ(text, "Kann sky.png nicht lesen!");
  // A translation asking for other arguments than the built-in text is
  // not used.
  SetErrorArgument("out.txt");
  GetErrorText(1052, text, sizeof text);
  EXPECT_STREQ(text, "Cannot write to file out.txt !");
  CloseLocaleCatalog();
  EXPECT_STREQ(GetMessage(95), "done");
  EXPECT_STREQ(LookupCatalogString(95, "done"), "done");
}

// A directory tree of catalogs under a temporary directory that is also the
// current directory.
class CatalogDirs : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/vl-cat-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    root_ = templ;
    ASSERT_NE(getcwd(oldCwd_, sizeof oldCwd_), nullptr);
    std::filesystem::create_directories(root_ + "/cwd");
    std::filesystem::create_directories(root_ + "/prog");
    ASSERT_EQ(chdir((root_ + "/cwd").c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(oldCwd_), 0);
    std::filesystem::remove_all(root_);
  }
  void Write(const std::string& rel, const Bytes& bytes) {
    std::filesystem::path p(root_ + "/" + rel);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
  }
  static Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
  std::string Prog() const { return root_ + "/prog"; }
  std::string root_;
  char oldCwd_[4096];
};

TEST_F(CatalogDirs, SearchOrderNativeEnglishUpperLowerThenProgramDir) {
  Write("prog/Catalogs/deutsch/Vellamora.catalog", Text("from program dir\n"));
  CatalogPtr p(LoadCatalogFor("Vellamora.catalog", 1, Prog().c_str()));
  EXPECT_STREQ(p.Find(0), "from program dir");

  Write("cwd/catalogs/german/Vellamora.catalog", Text("fourth try\n"));
  CatalogPtr fourth(LoadCatalogFor("Vellamora.catalog", 1, Prog().c_str()));
  EXPECT_STREQ(fourth.Find(0), "fourth try");

  Write("cwd/catalogs/deutsch/Vellamora.catalog", Text("third try\n"));
  CatalogPtr third(LoadCatalogFor("Vellamora.catalog", 1, Prog().c_str()));
  EXPECT_STREQ(third.Find(0), "third try");

  Write("cwd/Catalogs/german/Vellamora.catalog", Text("second try\n"));
  CatalogPtr second(LoadCatalogFor("Vellamora.catalog", 1, Prog().c_str()));
  EXPECT_STREQ(second.Find(0), "second try");

  Write("cwd/Catalogs/deutsch/Vellamora.catalog", MakeIff({{0, "first try"}, {1, std::string(80, 'p')}}));
  CatalogPtr first(LoadCatalogFor("Vellamora.catalog", 1, Prog().c_str()));
  EXPECT_STREQ(first.Find(0), "first try");
}

TEST_F(CatalogDirs, NativeNamesAreLatin1OnDisk) {
  Write("cwd/Catalogs/fran\xE7" "ais/Vellamora.catalog", Text("bonjour\n"));
  Write("cwd/Catalogs/\xC8" "e\xB9tina/Vellamora.catalog", Text("ahoj\n"));
  CatalogPtr fr(LoadCatalogFor("Vellamora.catalog", 4, nullptr));
  EXPECT_STREQ(fr.Find(0), "bonjour");
  CatalogPtr cs(LoadCatalogFor("Vellamora.catalog", 14, nullptr));
  EXPECT_STREQ(cs.Find(0), "ahoj");
}

TEST_F(CatalogDirs, EnglishUnknownAndMissingGiveNone) {
  Write("cwd/Catalogs/english/Vellamora.catalog", Text("x\n"));
  Write("cwd/Catalogs/unknown/Vellamora.catalog", Text("x\n"));
  EXPECT_EQ(LoadCatalogFor("Vellamora.catalog", 0, nullptr), nullptr);
  EXPECT_EQ(LoadCatalogFor("Vellamora.catalog", 18, nullptr), nullptr);
  EXPECT_EQ(LoadCatalogFor("Vellamora.catalog", -1, nullptr), nullptr);
  EXPECT_EQ(LoadCatalogFor("Vellamora.catalog", 2, Prog().c_str()), nullptr);
  // Language 17 is a table row of its own and is looked for.
  CatalogPtr u(LoadCatalogFor("Vellamora.catalog", 17, nullptr));
  EXPECT_STREQ(u.Find(0), "x");
}

TEST_F(CatalogDirs, BrokenIffFileEndsTheSearch) {
  Bytes bad = MakeIff({{1, std::string(100, 'x')}});
  std::memcpy(bad.data() + 8, "CTLX", 4);
  Write("cwd/Catalogs/dansk/Vellamora.catalog", bad);
  Write("cwd/catalogs/dansk/Vellamora.catalog", Text("never reached\n"));
  EXPECT_EQ(LoadCatalogFor("Vellamora.catalog", 8, nullptr), nullptr);
}

TEST_F(CatalogDirs, LanguageComesFromLang) {
  Write("cwd/catalogs/german/Vellamora.catalog", Text("Kein Fehler!\n"));
  Write("cwd/Catalogs/unknown/Vellamora.catalog", Text("unknown\n"));
  Write("cwd/Catalogs/english/Vellamora.catalog", Text("english\n"));
  for (const char* lang : {static_cast<const char*>(nullptr), "C", "en_GB.UTF-8", "xx_YY"}) {
    if (lang) setenv("LANG", lang, 1);
    else unsetenv("LANG");
    EXPECT_EQ(LoadCatalog("Vellamora.catalog"), nullptr) << (lang ? lang : "unset");
  }
  setenv("LANG", "de_AT.UTF-8", 1);
  OpenLocaleCatalog("Vellamora.catalog");
  EXPECT_STREQ(GetMessage(0), "Kein Fehler!");
  CloseLocaleCatalog();
  EXPECT_STREQ(GetMessage(0), "No error occurred!");
  unsetenv("LANG");
}

}  // namespace
