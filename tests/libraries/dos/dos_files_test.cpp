// The dos library's open files driven by assembled scripts: item writes
// checked byte for byte against python's struct module, item reads of
// bytes made by python, lines, strings, positions, access modes, whole-file
// strings, line iterators, identifiers, the environment, and the library's
// registration.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/objects.h"
#include "tests/libraries/dos/dos_test_util.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

namespace {

using vltest::DosTest;

TEST_F(DosTest, RegistersCommandsConstantsAndLists) {
  for (const char* name : {"openfile", "readtable", "applypatch", "md5", "fileattributes", "getasset", "filelines"})
    EXPECT_EQ(vltest::GetGlobal(L, name)->tag, VL_TFUNCTION) << name;
  const char* text = nullptr;
  double n = 0;
  ASSERT_TRUE(vl::FindConstant(L, "MODE_READWRITE", &text, &n));
  EXPECT_EQ(n, 1004);
  ASSERT_TRUE(vl::FindConstant(L, "FILEATTR_EXECUTE_OTH", &text, &n));
  EXPECT_EQ(n, 16384);
  ASSERT_TRUE(vl::FindConstant(L, "FILEATTR_NORMAL", &text, &n));
  EXPECT_EQ(n, 65536);
  bool found = false;
  for (const vlLibraryNode* lib = FirstLibrary(); lib; lib = lib->next) found = found || !strcmp(lib->name, "dos");
  EXPECT_TRUE(found);
  // Files are reachable through the generic object scans.
  ASSERT_EQ(Run(".call openfile 7 \"" + Path("o") + "\" 1006"), 0);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_FILE), 1);
}

TEST_F(DosTest, ItemWritesMatchPythonStruct) {
  std::string file = Path("items.bin");
  ASSERT_EQ(Run(".call openfile 1 \"" + file + "\" 1006\n"
                ".call writeshort 1 70000\n"
                ".call writeshort 1 513 1\n"
                ".call writeint 1 -2\n"
                ".call writeint 1 4294967295\n"
                ".call writeint 1 305419896 1\n"
                ".call writefloat 1 1.5\n"
                ".call writefloat 1 -0.25 4\n"
                ".call writefloat 1 3.25 8 1\n"
                ".call writechr 1 321\n"
                ".call writechr 1 -1\n"
                ".call writestring 1 \"ab\\x00c\"\n"
                ".call writeline 1 \"line\"\n"
                ".call closefile 1"),
            0);
  std::string expected = Python(
      "import struct,sys; sys.stdout.buffer.write(struct.pack(\">H\",70000&0xFFFF)+struct.pack(\"<H\",513)"
      "+struct.pack(\">i\",-2)+struct.pack(\">I\",4294967295)+struct.pack(\"<I\",305419896)"
      "+struct.pack(\">d\",1.5)+struct.pack(\">f\",-0.25)+struct.pack(\"<d\",3.25)"
      "+bytes([321&255,255])+b\"ab\\x00c\"+b\"line\\n\")");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(Bytes(file), expected);
  EXPECT_EQ(Bytes(file).substr(0, 2), std::string("\x11\x70", 2));
}

TEST_F(DosTest, ItemReadsOfPythonBytes) {
  std::string file = Path("in.bin");
  Python("import struct; open(\"" + file +
         "\",\"wb\").write(bytes([0xFF,0xFE,0xFF,0xFF,0xFF,0xFE,0xFF,0xFE,0xFF,0xFF,0xFF,0xFE])"
         "+struct.pack(\">d\",-7.125)+struct.pack(\"<f\",0.5)+bytes([200]))");
  ASSERT_EQ(Run(".call openfile nil \"" + file + "\" -> h\n"
                ".call readshort $h -> a\n"
                ".call readint $h -> b\n"
                ".call readshort $h 1 -> c\n"
                ".call readint $h 1 -> d\n"
                ".call readfloat $h -> e\n"
                ".call readfloat $h 4 1 -> f\n"
                ".call readchr $h -> g\n"
                ".call eof $h -> end\n"
                ".call filepos $h -> pos\n"
                ".call filelength $h -> len"),
            0);
  EXPECT_EQ(Num("a"), 65534);
  EXPECT_EQ(Num("b"), -2);
  EXPECT_EQ(Num("c"), 65279);
  EXPECT_EQ(Num("d"), -16777217);
  EXPECT_EQ(Num("e"), -7.125);
  EXPECT_EQ(Num("f"), 0.5);
  EXPECT_EQ(Num("g"), 200);
  EXPECT_EQ(Num("end"), 1);
  EXPECT_EQ(Num("pos"), 25);
  EXPECT_EQ(Num("len"), 25);
  // Past the end every item read is short.
  EXPECT_EQ(Run(".call readchr $h"), ERR_READ);
  EXPECT_EQ(Run(".call readfloat $h 6"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call readstring $h 0"), ERR_MEM);
}

TEST_F(DosTest, LinesStringsAndSeeking) {
  std::string file = Path("lines.txt");
  Write(file, std::string("a\r\nb") + std::string(3000, 'x') + "\n\nlast");
  ASSERT_EQ(Run(".call openfile 2 \"" + file + "\"\n"
                ".call readline 2 -> l1\n"
                ".call readline 2 -> l2\n"
                ".call readline 2 -> l3\n"
                ".call readline 2 -> l4\n"
                ".call readline 2 -> l5\n"
                ".call eof 2 -> end\n"
                ".call seek 2 1\n"
                ".call readstring 2 3 -> s\n"
                ".call seek 2 -2 0\n"
                ".call readchr 2 -> back\n"
                ".call seek 2 -4 2\n"
                ".call readstring 2 4 -> tail\n"
                ".call seek 2 0\n"
                ".call seek 2 -1\n"
                ".call eof 2 -> atend"),
            0);
  EXPECT_EQ(Str("l1"), "a");
  EXPECT_EQ(Str("l2"), "b" + std::string(3000, 'x'));
  EXPECT_EQ(Str("l3"), "");
  EXPECT_EQ(Str("l4"), "last");
  EXPECT_EQ(Str("l5"), "");
  EXPECT_EQ(Num("end"), 1);
  EXPECT_EQ(Str("s"), "\r\nb");
  EXPECT_EQ(Num("back"), '\n');
  EXPECT_EQ(Str("tail"), "last");
  EXPECT_EQ(Num("atend"), 1);
  EXPECT_EQ(Run(".call seek 2 -5"), ERR_SEEKFILE);
  EXPECT_EQ(Run(".call seek 2 0 7"), ERR_WRONGUSAGE);
}

TEST_F(DosTest, OpeningModesIdentifiersAndRefusals) {
  std::string file = Path("m.txt");
  EXPECT_EQ(Run(".call openfile 1 \"" + file + "\" 1007"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call openfile 1 \"\" 1006"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call openfile 1 \"" + Path("missing") + "\""), ERR_READFILE);
  EXPECT_EQ(Run(".call openfile 1 \"" + Path("no/such/dir/x") + "\" 1006"), ERR_WRITEFILE);
  EXPECT_EQ(Run(".call openfile 1 \"" + file + "\" 1006 5"), ERR_TABEXPECTED);
  // A directory is no file: refused by its name, never read as an endless
  // empty stream.
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
  for (const char* mode : {"1005", "1004", "1006"}) {
    EXPECT_EQ(Run(".call openfile 1 \"" + Path("folder") + "\" " + mode), mode[3] == '5' ? ERR_READFILE : ERR_WRITEFILE)
        << mode;
    EXPECT_STREQ(GetErrorArgument(), Path("folder").c_str()) << mode;
  }
  EXPECT_EQ(Run(".call filetostring \"" + Path("folder") + "\""), ERR_READFILE);
  ASSERT_EQ(Run(".call openfile 1 \"" + file + "\" 1006\n.call writeline 1 \"one\""), 0);
  EXPECT_EQ(Run(".call readline 1"), ERR_WRITEONLY);
  // Opening id 1 again closes the first file 1, which flushes "one".
  ASSERT_EQ(Run(".call openfile 1 \"" + file + "\" 1005\n.call readline 1 -> l"), 0);
  EXPECT_EQ(Str("l"), "one");
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_FILE), 1);
  EXPECT_EQ(Run(".call writechr 1 65"), ERR_READONLY);
  EXPECT_EQ(Run(".call writetable 1 nil"), ERR_READONLY);
  ASSERT_EQ(Run(".call openfile nil \"" + file + "\" 1004 -> h\n.call eof $h -> e0\n.call seek $h 0 2\n"
                ".call writeline $h \"two\"\n.call eof $h -> e1\n.call seek $h 0\n.call eof $h -> e2\n"
                ".call readline $h -> a\n.call readline $h -> b\n.call eof $h -> e3\n.call closefile $h"),
            0);
  EXPECT_EQ(Str("a"), "one");
  EXPECT_EQ(Str("b"), "two");
  // An updated file is at its end only there, before and after writing.
  EXPECT_EQ(Num("e0"), 0);
  EXPECT_EQ(Num("e1"), 1);
  EXPECT_EQ(Num("e2"), 0);
  EXPECT_EQ(Num("e3"), 1);
  EXPECT_EQ(Run(".call closefile $h"), ERR_FINDARRAY);
  EXPECT_EQ(Run(".call eof 99"), ERR_FINDFILE);
  EXPECT_EQ(Run(".call writestring 1"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call eof 1 2"), ERR_TOOMANYARGS);
  ASSERT_EQ(Run(".call openfile 3 \"" + Path("w.txt") + "\" 1006"), 0);
  EXPECT_EQ(Run(".call writestring 3 \"abc\" 4"), ERR_STRTOOSHORT);
  ASSERT_EQ(Run(".call writestring 3 \"abc\" 2\n.call writestring 3 \"xyz\" 0\n.call flushfile 3"), 0);
  EXPECT_EQ(Bytes(Path("w.txt")), "abxyz");
}

TEST_F(DosTest, IoModeIsGlobalAndChecked) {
  EXPECT_EQ(Run(".call setiomode 2"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call setiomode 1\n.call openfile 1 \"" + Path("u") + "\" 1006\n.call writeint 1 258"), 0);
  EXPECT_EQ(vlSerialIOMode, 1u);
  // Unbuffered writes are on disk before the file is closed.
  EXPECT_EQ(Bytes(Path("u")), std::string("\0\0\1\2", 4));
}

TEST_F(DosTest, WholeFileStringsAndLineIterators) {
  std::string file = Path("whole.bin");
  std::string data(40000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Write(Path("src.bin"), data);
  ASSERT_EQ(Run(".call filetostring \"" + Path("src.bin") + "\" -> s n\n.call stringtofile $s \"" + file + "\""), 0);
  EXPECT_EQ(Num("n"), 40000);
  EXPECT_EQ(Shell("cmp '" + file + "' '" + Path("src.bin") + "' && echo same"), "same\n");
  EXPECT_EQ(Run(".call filetostring \"" + Path("none") + "\""), ERR_READFILE);
  EXPECT_EQ(Run(".call stringtofile \"x\" \"" + Path("none/x") + "\""), ERR_WRITEFILE);

  // Lines over 1024 bytes come back in pieces; the last line needs no
  // line feed; an empty file ends the loop at once.
  Write(Path("lines"), "a\r\n" + std::string(1030, 'y') + "\nend");
  Write(Path("empty"), "");
  const std::string loop = R"(
    loadk 0 #0
    setglobal 0 "count"
    loadk 0 ""
    setglobal 0 "all"
    .call filelines rFILE -> f
    getglobal 1 "f"
  next:
    .call base=2 f -> line
    getglobal 2 "line"
    eq 1 2 nil
    jump done
    getglobal 3 "all"
    loadk 4 "|"
    copy 5 2
    concat 3 3 5
    setglobal 3 "all"
    getglobal 3 "count"
    add 3 3 #1
    setglobal 3 "count"
    jump next
  done:
    .call base=2 f -> again
  )";
  auto run = [&](const std::string& name) {
    std::string body = loop;
    std::string quoted = "\"";
    quoted += Path(name);
    body.replace(body.find("rFILE"), 5, quoted + "\"");
    return Run(body);
  };
  ASSERT_EQ(run("lines"), 0);
  EXPECT_EQ(Num("count"), 4);
  EXPECT_EQ(Str("all"), "|a|" + std::string(1024, 'y') + "|yyyyyy|end");
  EXPECT_TRUE(IsNil("again"));
  ASSERT_EQ(run("empty"), 0);
  EXPECT_EQ(Num("count"), 0);
  // Lines of exactly the limit (or twice it) come back whole: their line
  // feed makes no empty line of its own.
  Write(Path("exact"), std::string(1024, 'y') + "\n" + std::string(2048, 'w') + "\r\nend\n" + std::string(1024, 'z') + "\n");
  ASSERT_EQ(run("exact"), 0);
  EXPECT_EQ(Str("all"), "|" + std::string(1024, 'y') + "|" + std::string(1024, 'w') + "|" + std::string(1024, 'w') +
                            "|end|" + std::string(1024, 'z'));
  EXPECT_EQ(Num("count"), 5);
  // A FIFO's lines end when its writer closes it.
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  std::system(("timeout 20 sh -c \"printf 'p\\nq' > '" + Path("fifo") + "'\" &").c_str());
  ASSERT_EQ(run("fifo"), 0);
  EXPECT_EQ(Str("all"), "|p|q");
  EXPECT_EQ(Run(".call filelines \"" + Path("none") + "\""), ERR_READFILE);
  // An iterator dropped half-way closes its file when collected.
  ASSERT_EQ(Run(".call filelines \"" + Path("lines") + "\" -> f\n.call f -> first\nloadnil 0 0\nsetglobal 0 \"f\""),
            0);
  EXPECT_EQ(Str("first"), "a");
}

// A full disk, as the file-size limit makes it for this process: every
// lost write is reported, and a whole-file save leaves the old file whole.
TEST_F(DosTest, WritesThatDoNotReachTheDiskAreReported) {
  Write(Path("keep.txt"), "old contents");
  chmod(Path("keep.txt").c_str(), 0640);
  ASSERT_EQ(Run(".call stringtofile \"new\" \"" + Path("keep.txt") + "\""), 0);
  EXPECT_EQ(Bytes(Path("keep.txt")), "new");
  struct stat st;
  ASSERT_EQ(stat(Path("keep.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // a rewritten file keeps its mode

  signal(SIGXFSZ, SIG_IGN);
  rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  std::string big = "\"" + std::string(9000, 'x') + "\"";
  int saved = Run(".call stringtofile " + big + " \"" + Path("keep.txt") + "\"");
  int closed = Run(".call openfile 1 \"" + Path("lines.txt") + "\" 1006\n.call writeline 1 " + big + "\n.call closefile 1");
  int flushed = Run(".call openfile 2 \"" + Path("flush.txt") + "\" 1006\n.call writestring 2 " + big +
                    "\n.call flushfile 2");
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(saved, ERR_WRITE);
  EXPECT_EQ(Bytes(Path("keep.txt")), "new");
  EXPECT_EQ(closed, ERR_WRITE);
  EXPECT_EQ(flushed, ERR_WRITE);
  EXPECT_EQ(Shell("ls -A '" + dir + "'"), "flush.txt\nkeep.txt\nlines.txt\n");  // no temporary file stays
  // A device is written in place, never replaced.
  EXPECT_EQ(Run(".call stringtofile \"x\" \"/dev/full\""), ERR_WRITE);
  EXPECT_EQ(Run(".call openfile 3 \"/dev/full\" 1006\n.call writeline 3 \"x\"\n.call closefile 3"), ERR_WRITE);
}

TEST_F(DosTest, FileAttributesOfOpenFiles) {
  Write(Path("attr"), "12345");
  ASSERT_EQ(Run(".call openfile 1 \"" + Path("attr") + "\"\n.call fileattributes 1 -> t\n"
                "getglobal 0 \"t\"\ngetfield 1 0 \"size\"\nsetglobal 1 \"size\"\ngetfield 1 0 \"type\"\n"
                "setglobal 1 \"type\"\ngetfield 1 0 \"noseek\"\nsetglobal 1 \"noseek\"\ngetfield 1 0 \"time\"\n"
                "setglobal 1 \"time\"\ngetfield 1 0 \"flags\"\nsetglobal 1 \"flags\""),
            0);
  EXPECT_EQ(Num("size"), 5);
  EXPECT_EQ(Num("type"), 0);
  EXPECT_EQ(Num("noseek"), 0);
  EXPECT_EQ(Str("time").size(), 20u);
  EXPECT_EQ(static_cast<int>(Num("flags")) & 3, 3);  // owner read and write
}

TEST_F(DosTest, EnvironmentCommands) {
  const char* name = "VL_DOS_TEST_VARIABLE";
  const char* before = getenv(name);
  std::string saved = before ? before : "";
  ASSERT_EQ(Run(std::string(".call setenv \"") + name + "\" \"v1\"\n.call getenv \"" + name +
                "\" -> v ok\n.call unsetenv \"" + name + "\"\n.call getenv \"" + name + "\" -> w nok"),
            0);
  EXPECT_EQ(Str("v"), "v1");
  EXPECT_EQ(Num("ok"), 1);
  EXPECT_EQ(Str("w"), "");
  EXPECT_EQ(Num("nok"), 0);
  EXPECT_EQ(Run(".call setenv \"A=B\" \"x\""), ERR_SETENV);
  EXPECT_EQ(Run(".call unsetenv \"A=B\""), ERR_UNSETENV);
  ASSERT_EQ(Run(".call getasset \"pics/a.png\" -> a"), 0);
  EXPECT_EQ(Str("a"), "pics/a.png");
  if (before) setenv(name, saved.c_str(), 1);
}

}  // namespace
