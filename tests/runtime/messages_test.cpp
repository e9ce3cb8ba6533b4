// The error list, message table and placeholder substituter.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "runtime/error_format.h"
#include "runtime/messages.h"
#include "vm/error_codes.h"

namespace {

std::string Format(const char* text, const char* arg, long number, size_t size = 1024) {
  std::string buf(size, '\x7f');
  size_t n = FormatMessageText(buf.data(), size, text, arg, number);
  EXPECT_LT(n, size);
  EXPECT_EQ(buf[n], '\0');
  return std::string(buf.data(), n);
}

TEST(ErrorTable, EnumKeepsItsValues) {
  EXPECT_EQ(ERR_MEM, 1000);
  EXPECT_EQ(ERR_USERABORT, 1003);
  EXPECT_EQ(ERR_WRONGUSAGE, 1055);
  EXPECT_EQ(ERR_ERRORCALLED, 1239);
  EXPECT_EQ(ERR_OLDAPPLET, 1566);
  EXPECT_EQ(ERR_FILEFORMAT, 1577);
  EXPECT_EQ(ERR_FINDFILE, 1179);
}

TEST(ErrorTable, MapGivesMessagesOfTheCodes) {
  EXPECT_EQ(vlErrorMessageMap[ERR_READFILE - 1000], 3);
  EXPECT_STREQ(GetMessage(vlErrorMessageMap[ERR_READFILE - 1000]), "Cannot read file %s !");
  EXPECT_STREQ(GetMessage(vlErrorMessageMap[ERR_WRONGUSAGE - 1000]),
               "Wrong usage/parameters for this command!\nRead the documentation!");
  EXPECT_STREQ(GetMessage(vlErrorMessageMap[ERR_NOALPHA - 1000]), "Image \"%s\" does not have an alpha channel!");
  EXPECT_EQ(vlErrorMessageMap[ERR_ERRORCALLED - 1000], -1);
  EXPECT_EQ(vlErrorMessageMap[ERR_OPENFONT - 1000], -1);
  // a code no subsystem raises
  EXPECT_STREQ(GetMessage(vlErrorMessageMap[1002 - 1000]), "Unknown error code!");
  EXPECT_STREQ(GetMessage(VL_MSG_NO_ERROR), "No error occurred!");
  EXPECT_STREQ(GetMessage(VL_MSG_FILE), "File");
  EXPECT_STREQ(GetMessage(VL_MSG_CURRENT_LINE), "current line");
  EXPECT_STREQ(GetMessage(VL_MSG_IN_FUNCTION), "In function");
  EXPECT_STREQ(GetMessage(795), "");
  EXPECT_STREQ(GetMessage(-1), "");
}

TEST(ErrorTable, RowsAreWellFormed) {
  std::set<std::string> names;
  for (const vlErrorRow& r : ErrorRows()) {
    SCOPED_TRACE(r.code);
    const vlErrorRow* found = FindErrorRow(r.code);
    ASSERT_EQ(found, &r);
    if (r.messageId < 0) continue;
    // every code that reports something has its own text
    EXPECT_GT(strlen(r.text), 3u);
    EXPECT_STREQ(GetBuiltinMessage(r.messageId), r.text);
    // only placeholders the substituter understands
    const char* p = r.text;
    while ((p = strchr(p, '%'))) {
      ++p;
      EXPECT_TRUE(*p == 's' || *p == 'd' || *p == '%' || (p[0] == 'l' && p[1] == 'd')) << r.text;
      if (*p == '%') ++p;
    }
    if (r.name) {
      EXPECT_TRUE(names.insert(r.name).second) << r.name;
    }
  }
  EXPECT_EQ(FindErrorRow(1001), nullptr);
  EXPECT_EQ(FindErrorRow(999), nullptr);
}

TEST(ErrorTable, ConstantsAreTheNamedRows) {
  size_t named = 0;
  for (const vlErrorRow& r : ErrorRows()) named += r.name != nullptr;
  auto constants = ErrorConstants();
  ASSERT_EQ(constants.size(), named + 1);
  EXPECT_EQ(constants.back().name, nullptr);
  bool sawMem = false, sawCalled = false;
  for (const vlConstant& c : constants.first(named)) {
    EXPECT_EQ(strncmp(c.name, "ERR_", 4), 0);
    EXPECT_EQ(c.stringValue, nullptr);
    sawMem |= !strcmp(c.name, "ERR_MEM") && c.number == 1000;
    sawCalled |= !strcmp(c.name, "ERR_ERRORCALLED") && c.number == 1239;
  }
  EXPECT_TRUE(sawMem);
  EXPECT_TRUE(sawCalled);
}

TEST(Substituter, FillsOnlyItsPlaceholders) {
  EXPECT_EQ(Format("Cannot read file %s !", "pic.png", 0), "Cannot read file pic.png !");
  EXPECT_EQ(Format("Could not find timer %ld!", "x", -7), "Could not find timer -7!");
  EXPECT_EQ(Format("%d%%", "", 50), "50%");
  EXPECT_EQ(Format("%n %x %5s %", "A", 1), "%n %x %5s %");
  EXPECT_EQ(Format("%s%s", "ab", 0), "abab");
  EXPECT_EQ(Format("%s", "100% sure %s", 0), "100% sure %s");  // the argument is never formatted
  EXPECT_EQ(Format(nullptr, nullptr, 0), "");
}

TEST(Substituter, NeverWritesPastTheDestination) {
  std::string arg(1023, 'a');
  EXPECT_EQ(Format("Cannot read file %s !", arg.c_str(), 0, 1024).size(), 1023u);
  EXPECT_EQ(Format("Cannot read file %s !", arg.c_str(), 0, 20), "Cannot read file aa");
  EXPECT_EQ(Format("Number %ld!", "", -2147483647L - 1, 10), "Number -2");
  EXPECT_EQ(Format("abc", "", 0, 1), "");
  char guard[4] = {'x', 'y', 'z', 'w'};
  EXPECT_EQ(FormatMessageText(guard, 0, "abc", "", 0), 0u);
  EXPECT_EQ(guard[0], 'x');
  char small[3];
  EXPECT_EQ(CopyText(small, sizeof small, "hello"), 2u);
  EXPECT_STREQ(small, "he");
}

TEST(Substituter, ComparesPlaceholders) {
  EXPECT_TRUE(SamePlaceholders("Datei %s kann nicht gelesen werden!", "Cannot read file %s !"));
  EXPECT_TRUE(SamePlaceholders("Zeitgeber %d fehlt", "Could not find timer %ld!"));
  EXPECT_TRUE(SamePlaceholders("100%% kaputt", "Out of memory!"));
  EXPECT_FALSE(SamePlaceholders("%s %s", "Cannot read file %s !"));
  EXPECT_FALSE(SamePlaceholders("%n", "Out of memory!"));
  EXPECT_FALSE(SamePlaceholders("%d %s", "%s %d"));
  EXPECT_FALSE(SamePlaceholders("trailing %", "trailing"));
  EXPECT_TRUE(HasStringPlaceholder("a %s"));
  EXPECT_FALSE(HasStringPlaceholder("a %%s"));
  EXPECT_TRUE(HasNumberPlaceholder("a %ld"));
}

const char* HostileCatalog(int32_t id) {
  switch (id) {
    case 3: return "Datei %s %s %n nicht lesbar";  // extra placeholders: ignored
    case 13: return "Kein Speicher!";
    case 215: return "Zeitgeber %ld fehlt!";
    case 5000: return "%s";
    default: return nullptr;
  }
}

TEST(Catalog, TranslationsWithOtherPlaceholdersAreIgnored) {
  SetMessageCatalog(HostileCatalog);
  EXPECT_STREQ(GetMessage(3), "Cannot read file %s !");
  EXPECT_STREQ(GetMessage(13), "Kein Speicher!");
  EXPECT_STREQ(GetMessage(215), "Zeitgeber %ld fehlt!");
  EXPECT_STREQ(GetMessage(5000), "");
  SetMessageCatalog(nullptr);
  EXPECT_STREQ(GetMessage(13), "Out of memory!");
}

}  // namespace
