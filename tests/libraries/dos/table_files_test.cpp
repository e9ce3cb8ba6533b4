// Table and function records written and read by scripts: the exact bytes
// of binary records, text records whose Base64 python decodes to the
// binary record, round trips of nested tables and functions, and the
// refusals of bad records.
#include <gtest/gtest.h>

#include "tests/libraries/dos/dos_test_util.h"
#include "vm/error_codes.h"

namespace {

using vltest::DosTest;

const char* const kFunctions = R"(
.function twice
  .params 1
  add 1 0 0
  return 1 2
.end
)";

TEST_F(DosTest, BinaryTableRecordsHaveTheirExactBytes) {
  std::string file = Path("t.bin");
  ASSERT_EQ(Run(".call openfile 1 \"" + file + "\" 1006\n"
                ".table 0 { }\n.call base=1 writetable 1 r0\n"
                ".table 0 { x = 1 }\n.call base=1 writetable 1 r0\n.call base=1 closefile 1"),
            0);
  std::string expected = std::string("VLT0\0", 5) + "VLT0" + std::string("\x03\0\0\0\x01x\x02\x3f\xf0\0\0\0\0\0\0\0", 16);
  EXPECT_EQ(Bytes(file), expected);
  EXPECT_EQ(Bytes(file).size(), 25u);
}

TEST_F(DosTest, TextRecordsAreBase64OfTheBinaryRecord) {
  std::string file = Path("t.txt");
  // 100 bytes of items: one string value of 88 bytes under key "k".
  std::string value(88, 'v');
  ASSERT_EQ(Run(".call openfile 1 \"" + file + "\" 1006\n"
                ".table 0 { k = \"" + value + "\" }\n"
                ".call base=1 writetable 1 r0 1\n"
                ".call base=1 writetable 1 r0 1 1\n.call base=1 closefile 1"),
            0);
  std::string bytes = Bytes(file);
  ASSERT_GT(bytes.size(), 12u);
  EXPECT_EQ(bytes.substr(0, 12), "VLT10000008d");
  EXPECT_EQ(bytes[12 + 72], '\n');
  EXPECT_EQ(bytes.substr(153, 12), "VLT10000008c");
  EXPECT_EQ(bytes.find('\n', 165), std::string::npos);
  std::string decoded = Python("import base64,sys; d=open(\"" + file +
                               "\",\"rb\").read(); sys.stdout.buffer.write(base64.b64decode(d[12:153]))");
  std::string binary = std::string("VLT0\x03\0\0\0\x01k\x03\0\0\0\x58", 15) + value + std::string(1, '\0');
  EXPECT_EQ(decoded, binary);
  ASSERT_EQ(Run(".call openfile 1 \"" + file + "\"\n.call readtable 1 -> a\n.call readtable 1 -> b\n"
                "getglobal 0 \"a\"\ngetfield 0 0 \"k\"\nsetglobal 0 \"ka\"\n"
                "getglobal 0 \"b\"\ngetfield 0 0 \"k\"\nsetglobal 0 \"kb\""),
            0);
  EXPECT_EQ(Str("ka"), value);
  EXPECT_EQ(Str("kb"), value);
}

TEST_F(DosTest, TablesAndFunctionsRoundTrip) {
  std::string file = Path("rt.bin");
  ASSERT_EQ(Run(".call openfile 1 \"" + file + "\" 1006\n"
                ".table 0 { name = \"a\\x00b\", [7] = -2.5, sub = { 1, 2, { deep = \"d\" } }, f = fn:twice }\n"
                ".call base=1 writetable 1 r0\n"
                ".call base=1 writefunction 1 fn:twice\n"
                ".call base=1 writefunction 1 fn:twice 1\n"
                ".call base=1 writetable 1 r0 1\n"
                ".call base=1 closefile 1\n"
                ".call openfile 1 \"" + file + "\"\n"
                ".call readtable 1 -> t\n.call readfunction 1 -> g\n.call readfunction 1 -> h\n"
                ".call readtable 1 -> u\n"
                "getglobal 0 \"t\"\ngetfield 1 0 \"name\"\nsetglobal 1 \"name\"\ngetfield 1 0 #7\nsetglobal 1 \"seven\"\n"
                "getfield 1 0 \"sub\"\ngetfield 1 1 #2\ngetfield 1 1 \"deep\"\nsetglobal 1 \"deep\"\n"
                "getfield 1 0 \"f\"\nloadk 2 #21\ncall 1 2 2\nsetglobal 1 \"f21\"\n"
                ".call g 4 -> g4\n.call h 5 -> h5\n"
                "getglobal 0 \"u\"\ngetfield 1 0 \"sub\"\ngetfield 1 1 #1\nsetglobal 1 \"u1\"",
                kFunctions),
            0);
  EXPECT_EQ(Str("name"), std::string("a\0b", 3));
  EXPECT_EQ(Num("seven"), -2.5);
  EXPECT_EQ(Str("deep"), "d");
  EXPECT_EQ(Num("f21"), 42);
  EXPECT_EQ(Num("g4"), 8);
  EXPECT_EQ(Num("h5"), 10);
  EXPECT_EQ(Num("u1"), 2);
  std::string bytes = Bytes(file);
  EXPECT_NE(bytes.find("VLF0"), std::string::npos);
  EXPECT_NE(bytes.find("VLF1"), std::string::npos);
}

TEST_F(DosTest, BadRecordsAndBadTablesAreRefused) {
  std::string file = Path("bad.bin");
  ASSERT_EQ(Run(".call openfile 1 \"" + file + "\" 1006"), 0);
  EXPECT_EQ(Run(".table 0 { }\n.table 1 { }\nsetfield 0 1 1\n.call base=2 writetable 1 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call writetable 1 5"), ERR_TABEXPECTED);
  EXPECT_EQ(Run(".call writefunction 1 5"), ERR_FUNCEXPECTED);
  EXPECT_EQ(Run(".call writefunction 1 $openfile"), ERR_NOVLFUNC);
  // A table that holds itself has no finite record.
  EXPECT_EQ(Run(".table 0 { }\nsetfield 0 \"me\" r0\n.call base=1 writetable 1 r0"), ERR_TABLEOVERFLOW);
  ASSERT_EQ(Run(".call closefile 1"), 0);

  auto read = [&](const std::string& bytes, const char* command) {
    Write(file, bytes);
    return Run(".call openfile 2 \"" + file + "\"\n.call " + command + " 2 -> v");
  };
  EXPECT_EQ(read("VLT0", "readfunction"), ERR_READFUNC);
  EXPECT_EQ(read("VLF0", "readtable"), ERR_READTABLE);
  EXPECT_EQ(read("VLT100000000", "readtable"), ERR_MEM);
  EXPECT_EQ(read("VLT100000004Zm9", "readtable"), ERR_READ);
  EXPECT_EQ(read("VLT100000003Zm9", "readtable"), ERR_BADBASE64);
  EXPECT_EQ(read("VLT100000008VkxUMQAA", "readtable"), ERR_READTABLE);  // "VLT1" inside
  EXPECT_EQ(read("VLT0\x03\0\0\x01\x01" + std::string(257, 'k') + "\x02" + std::string(8, '\0') + '\0', "readtable"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(read(std::string("VLT0\x07", 5), "readtable"), ERR_FILEFORMAT);
  EXPECT_EQ(read(std::string("VLT0\x02\0\0", 7), "readtable"), ERR_READ);
  EXPECT_EQ(read(std::string("VLF0\0\0\0\0", 8), "readfunction"), ERR_MEM);
  EXPECT_EQ(read("VL", "readtable"), ERR_READ);
  // Userdata values come back as the number 0.
  ASSERT_EQ(Run(".call openfile 3 \"" + Path("u.bin") + "\" 1006 -> h\n.call openfile nil \"" + Path("v.bin") +
                "\" 1006 -> p\n.table 0 { p = $p }\n.call base=1 writetable 3 r0\n.call base=1 closefile 3\n"
                ".call openfile 3 \"" + Path("u.bin") + "\"\n.call readtable 3 -> t\n"
                "getglobal 0 \"t\"\ngetfield 0 0 \"p\"\nsetglobal 0 \"pv\""),
            0);
  EXPECT_EQ(Num("pv"), 0);
}

}  // namespace
