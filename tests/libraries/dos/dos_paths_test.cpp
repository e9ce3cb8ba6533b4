// The dos library's paths, directories, attributes, copying and deleting,
// virtual and temporary files and programs, driven by assembled scripts
// and checked on the real file system (stat, ls-style listings, cmp).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/libraries/dos/dos_test_util.h"
#include "vm/error_codes.h"

namespace {

using vltest::DosTest;

bool Exists(const std::string& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

TEST_F(DosTest, WildcardPatterns) {
  struct Case {
    const char* string;
    const char* list;
    int match;
  } cases[] = {
      {"file12.txt", "*.jpg;file##.txt", 1}, {"file1x.txt", "file##.txt", 0}, {"b", "[a-c]", 1},
      {"b", "[!a-c]", 0},                    {"", "*", 1},                     {"abc", "", 0},
      {"a-", "a[x-]", 1},                    {"]", "[]a]", 1},                 {"-", "[c-a]", 1},
      {"b", "[c-a]", 0},                     {"abXcd", "ab?cd", 1},            {"abcd", "a*?d", 1},
      {"ad", "a*?d", 0},                     {"x.tar.gz", "*.gz", 1},          {"Data.TXT", "*.txt", 0},
      {"a1.txt", "*#.txt", 1},               {"aaab", "*a*b", 1},              {"[x", "[x", 1},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run(std::string(".call matchpattern \"") + c.string + "\" \"" + c.list + "\" -> m"), 0);
    EXPECT_EQ(Num("m"), c.match) << c.string << " / " << c.list;
  }
}

TEST_F(DosTest, PathParts) {
  struct Case {
    const char* command;
    const char* in;
    const char* out;
  } cases[] = {
      {"pathpart", "dir/sub/file", "dir/sub/"}, {"pathpart", "file", ""},       {"pathpart", "/file", "/"},
      {"pathpart", "vol:file", "vol:"},         {"pathpart", "a\\\\b", "a\\"},  {"filepart", "dir/sub/file", "file"},
      {"filepart", "vol:file", "file"},         {"filepart", "x", "x"},         {"filepart", "a/b\\\\c", "c"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run(std::string(".call ") + c.command + " \"" + c.in + "\" -> p"), 0);
    EXPECT_EQ(Str("p"), c.out) << c.command << " " << c.in;
  }
  ASSERT_EQ(Run(".call fullpath \"a\" \"b\" -> p1\n.call fullpath \"a/\" \"b\" -> p2\n.call fullpath \"\" \"b\" -> p3"),
            0);
  EXPECT_EQ(Str("p1"), "a/b");
  EXPECT_EQ(Str("p2"), "a/b");
  EXPECT_EQ(Str("p3"), "b");
  EXPECT_EQ(Run(".call pathpart \":::chunk1:2*a?b\""), ERR_WRONGUSAGE);
}

TEST_F(DosTest, FileSystemCommands) {
  ASSERT_EQ(Run(".call makedirectory \"" + Path("a/b/c") + "\""), 0);
  EXPECT_TRUE(Exists(Path("a/b/c")));
  Write(Path("a/file"), "12345");
  EXPECT_EQ(Run(".call makedirectory \"" + Path("a/file/x") + "\""), ERR_CREATEDIR);
  EXPECT_EQ(Run(".call makedirectory \"\""), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call exists \"" + Path("a/file") + "\" -> e1\n.call exists \"" + Path("nope") + "\" -> e2\n"
                ".call exists \"\" -> e3\n.call filesize \"" + Path("a/file") + "\" -> s1\n"
                ".call filesize \"" + Path("a") + "\" -> s2\n.call filesize \"" + Path("nope") + "\" -> s3\n"
                ".call isdirectory \"" + Path("a") + "\" -> d1\n.call isdirectory \"" + Path("a/file") + "\" -> d2"),
            0);
  EXPECT_EQ(Num("e1"), 1);
  EXPECT_EQ(Num("e2"), 0);
  EXPECT_EQ(Num("e3"), 0);
  EXPECT_EQ(Num("s1"), 5);
  EXPECT_EQ(Num("s2"), -1);
  EXPECT_EQ(Num("s3"), -1);
  EXPECT_EQ(Num("d1"), 1);
  EXPECT_EQ(Num("d2"), 0);
  EXPECT_EQ(Run(".call isdirectory \"" + Path("nope") + "\""), ERR_STAT);
  // Only the new name's file part counts: the file stays in its directory.
  ASSERT_EQ(Run(".call rename \"" + Path("a/file") + "\" \"other/b.txt\""), 0);
  EXPECT_TRUE(Exists(Path("a/b.txt")));
  EXPECT_EQ(Run(".call rename \"" + Path("a/none") + "\" \"c\""), ERR_RENAME);
  EXPECT_EQ(Run(".call rename \"\" \"c\""), ERR_WRONGUSAGE);
  // The current directory moves and comes back.
  char before[1024];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  ASSERT_EQ(Run(".call changedirectory \"" + Path("a") + "\"\n.call getcurrentdirectory -> cwd\n"
                ".call changedirectory \"" + std::string(before) + "\""),
            0);
  EXPECT_EQ(Str("cwd"), std::filesystem::canonical(Path("a")).string());
  ASSERT_EQ(Run(".call getvolumename \"/\" -> v\n.call getvolumeinfo \"/\" 1 -> f"), 0);
  EXPECT_EQ(Str("v"), "unimplemented");
  EXPECT_EQ(Num("f"), 0);
  EXPECT_EQ(Run(".call getvolumename \"\""), ERR_WRONGUSAGE);
}

TEST_F(DosTest, AttributesAndDates) {
  Write(Path("f"), "abc");
  ASSERT_EQ(Run(".table 0 { flags = 513, time = \"05-mar-2021 13:14:15\", lastaccesstime = \"01-Jan-2020 00:00:01\" }\n"
                ".call base=1 setfileattributes \"" + Path("f") + "\" r0\n"
                ".call getfileattributes \"" + Path("f") + "\" -> t\n"
                "getglobal 0 \"t\"\ngetfield 1 0 \"time\"\nsetglobal 1 \"time\"\ngetfield 1 0 \"lastaccesstime\"\n"
                "setglobal 1 \"atime\"\ngetfield 1 0 \"flags\"\nsetglobal 1 \"flags\"\ngetfield 1 0 \"virtual\"\n"
                "setglobal 1 \"virtual\"\ngetfield 1 0 \"size\"\nsetglobal 1 \"size\""),
            0);
  EXPECT_EQ(Str("time"), "05-Mar-2021 13:14:15");
  EXPECT_EQ(Str("atime"), "01-Jan-2020 00:00:01");
  EXPECT_EQ(Num("flags"), 513);
  EXPECT_EQ(Num("virtual"), 0);
  EXPECT_EQ(Num("size"), 3);
  struct stat st;
  ASSERT_EQ(stat(Path("f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0440u);
  struct tm local{};
  time_t mtime = st.st_mtime;
  localtime_r(&mtime, &local);
  EXPECT_EQ(local.tm_year, 121);
  EXPECT_EQ(local.tm_hour, 13);
  EXPECT_EQ(Run(".table 0 { time = \"05-Mar-2021 24:00:00\" }\n.call base=1 setfileattributes \"" + Path("f") +
                "\" r0"),
            ERR_INVALIDDATE);
  EXPECT_EQ(Run(".table 0 { time = \"05-Mxx-2021 10:00:00\" }\n.call base=1 setfileattributes \"" + Path("f") +
                "\" r0"),
            ERR_INVALIDDATE);
  EXPECT_EQ(Run(".table 0 { flags = 65536 }\n.call base=1 setfileattributes \"" + Path("none") + "\" r0"), ERR_LOCK2);
  ASSERT_EQ(Run(".table 0 { flags = 65536 }\n.call base=1 setfileattributes \"" + Path("f") + "\" r0"), 0);
  ASSERT_EQ(stat(Path("f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(Run(".call getfileattributes \"" + Path("none") + "\""), ERR_READFILE);
}

TEST_F(DosTest, DirectoriesListAndWalk) {
  std::filesystem::create_directories(Path("d/zsub"));
  std::filesystem::create_directories(Path("d/asub"));
  Write(Path("d/b.txt"), "bb");
  Write(Path("d/a.txt"), "a");
  Write(Path("d/c.txt"), "ccc");
  ASSERT_EQ(Run(".table 0 { }\n.table 1 { }\nsetglobal 0 \"files\"\nsetglobal 1 \"dirs\"\n"
                ".call base=2 readdirectory \"" + Path("d") + "\" $files $dirs -> nf nd\n"
                "getglobal 0 \"files\"\ngetfield 1 0 #0\nsetglobal 1 \"f0\"\ngetfield 1 0 #2\nsetglobal 1 \"f2\"\n"
                "getfield 1 0 #3\nsetglobal 1 \"f3\"\ngetglobal 0 \"dirs\"\ngetfield 1 0 #0\nsetglobal 1 \"d0\""),
            0);
  EXPECT_EQ(Num("nf"), 3);
  EXPECT_EQ(Num("nd"), 2);
  EXPECT_EQ(Str("f0"), "a.txt");
  EXPECT_EQ(Str("f2"), "c.txt");
  EXPECT_EQ(Str("f3"), "");
  EXPECT_EQ(Str("d0"), "asub");
  EXPECT_EQ(Run(".table 0 { }\n.call base=1 readdirectory \"" + Path("none") + "\" r0 r0"), ERR_LOCK2);
  EXPECT_EQ(Run(".call base=1 readdirectory \"" + Path("d") + "\" 1 2"), ERR_TABEXPECTED);

  // Entry by entry: five entries, then nothing, and nothing again.
  std::string walk = ".call opendirectory nil \"" + Path("d") + "\" -> h\nloadk 0 #0\nsetglobal 0 \"n\"\n"
                     "loop:\n.call base=1 nextdirectoryentry $h -> e\ngetglobal 1 \"e\"\neq 1 1 nil\njump done\n"
                     "getfield 2 1 \"name\"\ngetfield 3 1 \"type\"\neq 0 2 \"b.txt\"\njump skip\n"
                     "getfield 4 1 \"size\"\nsetglobal 4 \"bsize\"\nskip:\ngetglobal 0 \"n\"\nadd 0 0 #1\n"
                     "setglobal 0 \"n\"\njump loop\ndone:\n.call base=1 nextdirectoryentry $h -> again\n"
                     ".call base=1 closedirectory $h";
  ASSERT_EQ(Run(walk), 0);
  EXPECT_EQ(Num("n"), 5);
  EXPECT_EQ(Num("bsize"), 2);
  EXPECT_TRUE(IsNil("again"));
  EXPECT_EQ(Run(".call closedirectory 4"), ERR_FINDDIR);
  EXPECT_EQ(Run(".call opendirectory 4 \"" + Path("d/a.txt") + "\""), ERR_NOTADIR);
  EXPECT_EQ(Run(".call opendirectory 4 \"" + Path("none") + "\""), ERR_LOCK2);
}

const char* const kCallbacks = R"(
.function count
  .params 1
  getglobal 1 "log"
  getfield 2 0 "action"
  concat 1 1 2
  setglobal 1 "log"
  loadk 4 #2
  return 4 2
.end
.function countud
  .params 1
  getglobal 1 "log"
  getfield 2 0 "action"
  concat 1 1 2
  setglobal 1 "log"
  getfield 3 0 "userdata"
  setglobal 3 "seen"
  loadk 4 #2
  return 4 2
.end
.function stop
  .params 1
  loadk 4 #1
  return 4 2
.end
.function refuse
  .params 1
  loadk 4 #-1
  return 4 2
.end
.function skip
  .params 1
  loadk 4 #0
  return 4 2
.end
)";

TEST_F(DosTest, CopyingFilesAndTrees) {
  std::filesystem::create_directories(Path("src/sub/deeper"));
  std::filesystem::create_directories(Path("src/other"));
  Write(Path("src/one.txt"), std::string(40000, 'o'));
  Write(Path("src/two.dat"), "two");
  Write(Path("src/sub/three.txt"), "three");
  Write(Path("src/sub/deeper/four.txt"), "four");
  Write(Path("src/other/five.txt"), "five");
  chmod(Path("src/two.dat").c_str(), 0600);
  ASSERT_EQ(Run(".call copyfile \"" + Path("src") + "\" \"" + Path("dst") + "\""), 0);
  EXPECT_EQ(Shell("diff -r '" + Path("src") + "' '" + Path("dst") + "' && echo same"), "same\n");
  struct stat a, b;
  ASSERT_EQ(stat(Path("src/one.txt").c_str(), &a), 0);
  ASSERT_EQ(stat(Path("dst/one.txt").c_str(), &b), 0);
  EXPECT_EQ(a.st_mtime, b.st_mtime);
  ASSERT_EQ(stat(Path("dst/two.dat").c_str(), &b), 0);
  EXPECT_EQ(b.st_mode & 0777, 0600u);

  // A pattern filters files and, with the recurse filter, directories.
  ASSERT_EQ(Run(".call copyfile \"" + Path("src/") + "\" \"" + Path("pat") + "\" nil nil nil \"*.txt;sub\""), 0);
  EXPECT_TRUE(Exists(Path("pat/one.txt")));
  EXPECT_FALSE(Exists(Path("pat/two.dat")));
  EXPECT_TRUE(Exists(Path("pat/sub/three.txt")));
  EXPECT_FALSE(Exists(Path("pat/other")));
  EXPECT_EQ(Run(".call copyfile \"" + Path("src/one.txt") + "\" \"" + Path("x") + "\" nil nil nil \"*\""),
            ERR_NODIRPATTERN);
  EXPECT_EQ(Run(".call copyfile \"" + Path("src") + "\" \"" + Path("x") + "\" \"new\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call copyfile \"" + Path("src") + "\" \"" + Path("src/sub/in") + "\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call copyfile \"\" \"" + Path("x") + "\""), ERR_WRONGUSAGE);

  // A single file under a new name, with status calls; the userdata rides along.
  ASSERT_EQ(Run("loadk 0 \"\"\nsetglobal 0 \"log\"\n.call copyfile \"" + Path("src/one.txt") + "\" \"" + Path("one") +
                    "\" \"renamed\" fn:countud 77",
                kCallbacks),
            0);
  EXPECT_EQ(Str("log"), "000");  // three blocks of 16384
  EXPECT_EQ(Num("seen"), 77);
  EXPECT_TRUE(Bytes(Path("one/renamed")) == std::string(40000, 'o'));
  // An existing target: the overwrite question comes first.
  ASSERT_EQ(Run("loadk 0 \"\"\nsetglobal 0 \"log\"\n.call copyfile \"" + Path("src/two.dat") + "\" \"" + Path("one") +
                    "\" \"renamed\" fn:count",
                kCallbacks),
            0);
  EXPECT_EQ(Str("log"), "10");
  EXPECT_TRUE(Bytes(Path("one/renamed")) == "two");
  // Stopping from a status call or refusing an overwrite ends without error.
  Write(Path("one/two.dat"), "old");
  EXPECT_EQ(Run(".call copyfile \"" + Path("src/two.dat") + "\" \"" + Path("one") + "\" nil fn:refuse", kCallbacks), 0);
  EXPECT_EQ(Bytes(Path("one/two.dat")), "old");
  EXPECT_EQ(Run(".call copyfile \"" + Path("src/one.txt") + "\" \"" + Path("stop") + "\" nil fn:stop", kCallbacks), 0);
  EXPECT_FALSE(Exists(Path("stop/one.txt")));  // the partial copy is removed
  // A protected target is skipped without a callback, unprotected with one.
  chmod(Path("one/two.dat").c_str(), 0444);
  ASSERT_EQ(Run(".call copyfile \"" + Path("src/two.dat") + "\" \"" + Path("one") + "\""), 0);
  EXPECT_EQ(Bytes(Path("one/two.dat")), "old");
  ASSERT_EQ(Run("loadk 0 \"\"\nsetglobal 0 \"log\"\n.call copyfile \"" + Path("src/two.dat") + "\" \"" + Path("one") +
                    "\" nil fn:count",
                kCallbacks),
            0);
  EXPECT_EQ(Str("log"), "120");
  EXPECT_EQ(Bytes(Path("one/two.dat")), "two");
  EXPECT_EQ(Run(".call copyfile \"" + Path("src/one.txt") + "\" \"" + Path("x") + "\" nil 5"), ERR_FUNCEXPECTED);

  // A file copied into its own directory, directly or through a link to
  // it, is its own copy: it must never be cut or removed.
  std::filesystem::create_directory_symlink(Path("src"), Path("srclink"));
  EXPECT_EQ(Run(".call copyfile \"" + Path("src/one.txt") + "\" \"" + Path("src") + "\""), 0);
  EXPECT_EQ(Run(".call copyfile \"" + Path("src/one.txt") + "\" \"" + Path("srclink") + "\" nil fn:count", kCallbacks),
            0);
  EXPECT_TRUE(Bytes(Path("src/one.txt")) == std::string(40000, 'o'));
  // A copy stopped half-way over an existing target leaves the target as
  // it was, and no file of its own beside it.
  Write(Path("one/one.txt"), "old");
  EXPECT_EQ(Run(".call copyfile \"" + Path("src/one.txt") + "\" \"" + Path("one") + "\" nil fn:stop", kCallbacks),
            0);
  EXPECT_EQ(Bytes(Path("one/one.txt")), "old");
  EXPECT_EQ(Shell("ls -A '" + Path("one") + "'"), "one.txt\nrenamed\ntwo.dat\n");
}

TEST_F(DosTest, DeletingFilesAndTrees) {
  auto make = [&] {
    std::filesystem::create_directories(Path("t/sub"));
    Write(Path("t/a.txt"), "a");
    Write(Path("t/b.dat"), "b");
    Write(Path("t/sub/c.txt"), "c");
  };
  make();
  // A link to a directory outside goes, what it points at stays.
  std::filesystem::create_directories(Path("outside"));
  Write(Path("outside/keep"), "k");
  std::filesystem::create_directory_symlink(Path("outside"), Path("t/link"));
  ASSERT_EQ(Run(".call deletefile \"" + Path("t/") + "\""), 0);
  EXPECT_TRUE(Exists(Path("t")));
  EXPECT_TRUE(std::filesystem::is_empty(Path("t")));
  EXPECT_TRUE(Exists(Path("outside/keep")));
  make();
  ASSERT_EQ(Run(".call deletefile \"" + Path("t") + "\" nil nil \"*.txt\""), 0);
  EXPECT_FALSE(Exists(Path("t/a.txt")));
  EXPECT_TRUE(Exists(Path("t/b.dat")));
  EXPECT_TRUE(Exists(Path("t/sub/c.txt")));  // "sub" does not match the recurse filter
  ASSERT_EQ(Run(".call deletefile \"" + Path("t") + "\" nil nil \"*.txt\" 0"), 0);
  EXPECT_FALSE(Exists(Path("t/sub/c.txt")));
  EXPECT_TRUE(Exists(Path("t/sub")));
  ASSERT_EQ(Run("loadk 0 \"\"\nsetglobal 0 \"log\"\n.call deletefile \"" + Path("t") + "\" fn:count", kCallbacks), 0);
  EXPECT_FALSE(Exists(Path("t")));
  EXPECT_EQ(Str("log"), "000");  // b.dat, sub, t
  EXPECT_EQ(Run(".call deletefile \"" + Path("none") + "\""), 0);
  Write(Path("p"), "p");
  EXPECT_EQ(Run(".call deletefile \"" + Path("p") + "\" nil nil \"*\""), ERR_NODIRPATTERN);
  chmod(Path("p").c_str(), 0444);
  ASSERT_EQ(Run(".call deletefile \"" + Path("p") + "\""), 0);
  EXPECT_TRUE(Exists(Path("p")));  // protected, no callback: skipped
  ASSERT_EQ(Run(".call deletefile \"" + Path("p") + "\" fn:skip", kCallbacks), 0);
  EXPECT_TRUE(Exists(Path("p")));  // the unprotect question answered 0
  ASSERT_EQ(Run(".call deletefile \"" + Path("p") + "\" fn:refuse", kCallbacks), 0);
  EXPECT_TRUE(Exists(Path("p")));
  ASSERT_EQ(Run("loadk 0 \"\"\nsetglobal 0 \"log\"\n.call deletefile \"" + Path("p") + "\" fn:count", kCallbacks), 0);
  EXPECT_FALSE(Exists(Path("p")));
  EXPECT_EQ(Str("log"), "10");
  EXPECT_EQ(Run(".call deletefile \":::chunk1:2*a?b\""), ERR_WRONGUSAGE);
}

TEST_F(DosTest, VirtualFiles) {
  Write(Path("big"), "0123456789abcdef");
  ASSERT_EQ(Run(".call definevirtualfile \"" + Path("big") + "\" 4 8 \"part.bin\" -> v\n"
                ".call filetostring $v -> s\n"
                ".call definevirtualfile $v 2 3 \"inner.bin\" -> w\n.call filetostring $w -> s2\n"
                ".call filepart $v -> name\n.call filesize $v -> size"),
            0);
  EXPECT_EQ(Str("v").substr(0, 14), ":::chunk4:8*pa");
  EXPECT_EQ(Str("s"), "456789ab");
  EXPECT_EQ(Str("s2"), "678");
  EXPECT_EQ(Str("name"), "part.bin");
  EXPECT_EQ(Num("size"), 8);
  EXPECT_EQ(Run(".call definevirtualfile $v 6 3 \"x\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call definevirtualfile \"" + Path("big") + "\" 0 0 \"x\""), ERR_WRONGUSAGE);

  // From strings: used in place, or copied and writable.
  ASSERT_EQ(Run(".call definevirtualfilefromstring \"hello\\nworld\" \"greeting.txt\" -> g\n"
                ".call openfile 1 $g\n.call readline 1 -> l1\n.call readline 1 -> l2\n.call closefile 1\n"
                ".call getfileattributes $g -> t\ngetglobal 0 \"t\"\ngetfield 0 0 \"virtual\"\nsetglobal 0 \"virt\"\n"
                ".call definevirtualfilefromstring \"\" \"out.bin\" 1 -> o\n"
                ".call openfile 2 $o 1006\n.call writeint 2 1684234849\n.call closefile 2\n.call filetostring $o -> back"),
            0);
  EXPECT_EQ(Str("l1"), "hello");
  EXPECT_EQ(Str("l2"), "world");
  EXPECT_EQ(Num("virt"), 1);
  EXPECT_EQ(Str("back"), "dcba");
  EXPECT_NE(Str("g").find("*greeting.txt?unused"), std::string::npos);
  ASSERT_EQ(Run(".call undefinevirtualstringfile $g"), 0);
  EXPECT_EQ(Run(".call undefinevirtualstringfile $g"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call openfile 1 $g"), ERR_READFILE);
  EXPECT_EQ(Run(".call definevirtualfilefromstring \"x\" \"\""), ERR_WRONGUSAGE);
}

TEST_F(DosTest, TemporaryFilesGoAtShutDown) {
  ASSERT_EQ(Run(".call gettempfilename -> t1\n.call gettempfilename -> t2"), 0);
  std::string t1 = Str("t1"), t2 = Str("t2");
  EXPECT_NE(t1, t2);
  EXPECT_EQ(t1.rfind("/tmp/vellamora.", 0), 0u);
  EXPECT_TRUE(Exists(t1));
  FreeDosObjects(L);
  EXPECT_FALSE(Exists(t1));
  EXPECT_FALSE(Exists(t2));
}

TEST_F(DosTest, ExecuteAndRun) {
  ASSERT_EQ(Run(".call execute \"/bin/sh -c 'echo ran > " + Path("exec.out") + "'\""), 0);
  EXPECT_EQ(Bytes(Path("exec.out")), "ran\n");
  EXPECT_EQ(Run(".call execute \"\\\"unterminated\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call execute \"   \""), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call run \"/bin/touch " + Path("run.out") + "\" 0"), 0);
  ASSERT_NE(gDos.runs, nullptr);
  EXPECT_STREQ(gDos.runs->program, "/bin/touch");
  EXPECT_EQ(FindRunRecord(gDos.runs), gDos.runs);
  for (int i = 0; i < 500 && !Exists(Path("run.out")); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Exists(Path("run.out")));
  RemoveRunRecord(L, gDos.runs);
  EXPECT_EQ(gDos.runs, nullptr);
  // A program that cannot be started is reported, and leaves no record.
  EXPECT_EQ(Run(".call run \"" + Path("no-such-program") + " x\" 0"), ERR_EXECUTE);
  EXPECT_EQ(Run(".call run \"/nonexistent/prog\" 0 fn:stop", kCallbacks), ERR_EXECUTE);
  EXPECT_EQ(gDos.runs, nullptr);
}

}  // namespace
