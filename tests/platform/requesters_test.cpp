// The console requesters run in a child process whose standard input and
// output are pipes: the exact prompts, re-asking after bad answers, the
// answers they return, and end of input; the system library's requester
// commands through the same pipes; and the wrappers' translation for a
// requester-adapter plug-in's entry table.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/requesters.h"
#include "platform/end_signals.h"
#include "platform/requesters_gtk.h"
#include "runtime/error_vm.h"
#include "runtime/objects.h"
#include "abi/plugin_abi.h"
#include "runtime/runtime_options.h"
#include "player/system_library.h"
#include "runtime/tag_list.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/state.h"

namespace {

struct Session {
  std::string output;  // what the child printed on standard output
  std::string result;  // what the child reported
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
  return text;
}

// A child whose standard input and output are pipes (in: the write end,
// out: the read end) and whose result text comes through res.
struct Child {
  pid_t pid = -1;
  int in = -1, out = -1, res = -1;
};

// Runs setup and then body in a child; it ends by itself after a while.
Child StartChild(const std::function<void()>& setup, const std::function<std::string()>& body) {
  int in[2], out[2], res[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(res), 0);
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    alarm(40);  // a child that hangs ends, and so does the wait for it
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]), close(in[1]), close(out[0]), close(out[1]), close(res[0]);
    clearerr(stdin);
    if (setup) setup();
    std::string r = body();
    std::fflush(stdout);
    if (write(res[1], r.data(), r.size()) < 0) _exit(2);
    _exit(0);
  }
  close(in[0]), close(out[1]), close(res[1]);
  return {pid, in[1], out[0], res[0]};
}

// Reads what is left, closes the pipes and expects a clean exit.
Session FinishChild(Child* c, Session s) {
  if (c->in >= 0) close(c->in);
  s.output += ReadAll(c->out);
  s.result = ReadAll(c->res);
  close(c->out), close(c->res);
  int status = 0;
  waitpid(c->pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  return s;
}

// Runs body in a child with input on its standard input; the child's
// standard output and the text body returns.
Session Converse(const std::string& input, const std::function<std::string()>& body) {
  Child c = StartChild(nullptr, body);
  if (!input.empty()) {
    // A child that asks nothing may already have gone; its closed pipe must
    // not kill the test with SIGPIPE.
    struct sigaction ignore{}, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);
    ssize_t n = write(c.in, input.data(), input.size());
    int err = errno;
    sigaction(SIGPIPE, &saved, nullptr);
    if (!(n < 0 && err == EPIPE)) { EXPECT_EQ(n, ssize_t(input.size())); }
  }
  close(c.in);
  c.in = -1;
  return FinishChild(&c, {});
}

std::string SystemChoice(const std::string& input, const char* buttons) {
  return Converse(input, [=] {
           int32_t r = -7;
           int status = ConsoleSystemRequest("Save changes?", buttons, &r);
           return std::to_string(status) + ":" + std::to_string(r);
         }).result;
}

TEST(ConsoleRequesters, SystemRequesterListsButtonsAndAsksUntilValid) {
  Session s = Converse("4\n0\nx\n1\n", [] {
    int32_t r = -7;
    ConsoleSystemRequest("Save changes?", "Yes|No|Cancel", &r);
    return std::to_string(r);
  });
  EXPECT_EQ(s.result, "1");
  const char* invalid = "Invalid choice. Valid choices between 1 and 3, try again.\n";
  EXPECT_EQ(s.output, std::string("Save changes?\n(1) Yes\n(2) No\n(3) Cancel\nYour choice: ") + invalid +
                          "Your choice: " + invalid + "Your choice: " + invalid + "Your choice: ");
  EXPECT_EQ(SystemChoice("3\n", "Yes|No|Cancel"), "0:0") << "the last button is 0";
  EXPECT_EQ(SystemChoice("2\n", "Yes|No|Cancel"), "0:2");
  EXPECT_EQ(SystemChoice("", "Yes|No|Cancel"), "0:0") << "end of input cancels";
  // Without a '|' the body is shown and nothing is asked.
  Session one = Converse("1\n", [] {
    int32_t r = -7;
    ConsoleSystemRequest("Done.", "OK", &r);
    return std::to_string(r);
  });
  EXPECT_EQ(one.output, "Done.\n");
  EXPECT_EQ(one.result, "0");
}

TEST(ConsoleRequesters, StringRequesterChecksLengthAndDigits) {
  Session s = Converse("abcdef\nabc\n", [] {
    char text[64] = "unchanged";
    int status = ConsoleStringRequest("Name", 0, 4, text, sizeof text);
    return std::to_string(status) + ":" + text;
  });
  EXPECT_EQ(s.output, "Name: String too long, 4 characters max. Try again.\nName: ");
  EXPECT_EQ(s.result, "0:abc");
  Session n = Converse("12a\n\n", [] {
    char text[64] = "x";
    ConsoleStringRequest("Age", 3, 0, text, sizeof text);
    return std::string("[") + text + "]";
  });
  EXPECT_EQ(n.output, "Age: Only numbers accepted, try again.\nAge: ");
  EXPECT_EQ(n.result, "[]") << "an empty line is a number text";
  Session end = Converse("", [] {
    char text[8] = "keep";
    int status = ConsoleStringRequest("Age", 3, 0, text, sizeof text);
    return std::to_string(status) + ":" + text;
  });
  EXPECT_EQ(end.result, std::to_string(ERR_USERABORT) + ":keep");
}

TEST(ConsoleRequesters, ListRequesterIndexesFromZero) {
  static const char kChoices[] = "red\0green\0blue\0";
  auto pick = [](const std::string& input) {
    return Converse(input, [] {
      int32_t r = -7;
      ConsoleListRequest("Colour?", kChoices, &r);
      return std::to_string(r);
    });
  };
  Session s = pick("5\n2\n");
  EXPECT_EQ(s.output, "Colour?\n(1) red\n(2) green\n(3) blue\nYour choice: "
                      "Invalid choice. Valid choices between 1 and 3, try again.\nYour choice: ");
  EXPECT_EQ(s.result, "1");
  EXPECT_EQ(pick("\n").result, "-1") << "an empty line";
  EXPECT_EQ(pick("").result, "-1") << "end of input";
}

TEST(ConsoleRequesters, ColorRequesterNeedsHashAndSixDigits) {
  Session s = Converse("ff8000\n#fff\n#ff8000\n", [] {
    int32_t r = 0;
    ConsoleColorRequest(&r);
    return std::to_string(r);
  });
  const char* prompt = "Enter RGB color in a hexadecimal notation: ";
  EXPECT_EQ(s.output, std::string(prompt) + "Error. Color must be prefixed with a '#' character.\n" + prompt +
                          "Error. Color must use be 6 characters (two per red, green, blue).\n" + prompt);
  EXPECT_EQ(s.result, std::to_string(0xFF8000));
  EXPECT_EQ(Converse("\n", [] {
              int32_t r = 0;
              ConsoleColorRequest(&r);
              return std::to_string(r);
            }).result,
            "-1");
}

TEST(ConsoleRequesters, FontRequesterAsksNameThenSize) {
  Session s = Converse("DejaVu Sans\nbig\n12\n", [] {
    vlFontSpec f{};
    ConsoleFontRequest(&f);
    return std::string(f.name) + "/" + std::to_string(f.size);
  });
  EXPECT_EQ(s.output, "Enter font name: Enter font size: Error. Invalid size specified.\nEnter font size: ");
  EXPECT_EQ(s.result, "DejaVu Sans/12");
  Session empty = Converse("\n", [] {
    vlFontSpec f{};
    std::strcpy(f.name, "old");
    ConsoleFontRequest(&f);
    return std::string("[") + f.name + "]";
  });
  EXPECT_EQ(empty.output, "Enter font name: ");
  EXPECT_EQ(empty.result, "[]");
}

// Runs body in a child whose standard input stays open and empty, with
// the player's end-signal handling; once the child has printed prompt it
// gets the signal (before that, when early). Its output and result.
Session Interrupted(int signal, const std::string& prompt, bool early, const std::function<std::string()>& body) {
  Child c = StartChild(
      [&] {
        CatchEndSignals();
        if (early) raise(signal);
      },
      body);
  Session s;
  char buffer[256];
  ssize_t n;
  while (s.output.find(prompt) == std::string::npos && (n = read(c.out, buffer, sizeof buffer)) > 0)
    s.output.append(buffer, size_t(n));
  usleep(100000);  // into the wait for an answer
  kill(c.pid, signal);
  return FinishChild(&c, s);
}

// An end signal ends a console requester that waits for an answer, as the
// toolkit's dialogs are closed: the requester gives the quit code at once,
// whether the signal came during the question or before it.
TEST(ConsoleRequesters, EndSignalEndsTheQuestion) {
  auto choice = [] {
    int32_t r = -7;
    int status = BuiltinSystemRequest(nullptr, nullptr, "T", "Pick one", "Red|Green", 0, 0, &r);
    return std::to_string(status) + ":" + std::to_string(r);
  };
  for (bool early : {false, true}) {
    Session s = Interrupted(SIGTERM, "Your choice: ", early, choice);
    EXPECT_EQ(s.output, "Pick one\n(1) Red\n(2) Green\nYour choice: ") << early;
    EXPECT_EQ(s.result, std::to_string(ERR_USERABORT) + ":0") << early;
  }
  Session s = Interrupted(SIGINT, "Name: ", false, [] {
    char text[16] = "kept";
    int status = BuiltinStringRequest(nullptr, nullptr, "T", "Name", "", 0, 0, 0, 0, text, sizeof text);
    return std::to_string(status) + ":" + text;
  });
  EXPECT_EQ(s.result, std::to_string(ERR_USERABORT) + ":kept");
  s = Interrupted(SIGHUP, "Pick a file: ", false, [] {
    vlFileResult chosen{};
    int status = BuiltinFileRequest(nullptr, nullptr, "Pick a file", "", 0, "", "", 0, &chosen);
    std::string r = std::to_string(status) + ":" + std::to_string(chosen.success);
    FreeFileResult(&chosen);
    return r;
  });
  EXPECT_EQ(s.result, std::to_string(ERR_USERABORT) + ":0");
}

class ConsoleFiles : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vlreqXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    std::ofstream(dir + "/a.txt") << "x";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Ask(const std::string& input, int wantDirectory, int save, std::string* output) {
    Session s = Converse(input, [=] {
      vlFileResult r{};
      int status = ConsoleFileRequest("Pick", wantDirectory, save, &r);
      std::string text = std::to_string(status) + ":" + std::to_string(r.success) + ":" +
                         (r.directory ? r.directory : "-") + ":" + (r.files ? r.files : "-") + ":" +
                         std::to_string(r.count);
      FreeFileResult(&r);
      return text;
    });
    if (output) *output = s.output;
    return s.result;
  }
  std::string dir;
};

TEST_F(ConsoleFiles, OpenWantsAnExistingFile) {
  std::string out;
  std::string input = dir + "\n" + dir + "/none\n" + dir + "/a.txt\n";
  EXPECT_EQ(Ask(input, 0, 0, &out), "0:1:" + dir + "/:a.txt:1");
  EXPECT_EQ(out, "Pick: " + dir + " is a directory, try again.\nPick: " + dir +
                     "/none does not exist, try again.\nPick: ");
  EXPECT_EQ(Ask("\n", 0, 0, nullptr), "0:0:-:-:0") << "an empty line cancels";
}

TEST_F(ConsoleFiles, SaveAsksBeforeOverwriting) {
  std::string out;
  std::string input = dir + "/a.txt\nn\n" + dir + "/a.txt\nY\n";
  EXPECT_EQ(Ask(input, 0, 1, &out), "0:1:" + dir + "/:a.txt:1");
  std::string ask = "Pick: " + dir + "/a.txt does already exist. Overwrite? (y/n) ";
  EXPECT_EQ(out, ask + ask);
  EXPECT_EQ(Ask(dir + "/new.txt\n", 0, 1, nullptr), "0:1:" + dir + "/:new.txt:1") << "a new name is accepted";
}

TEST_F(ConsoleFiles, PathRequesterWantsADirectory) {
  std::string out;
  EXPECT_EQ(Ask(dir + "/a.txt\n" + dir + "\n", 1, 0, &out), "0:1:" + dir + "::1");
  EXPECT_EQ(out, "Pick: " + dir + "/a.txt is not a directory, try again.\nPick: ");
  Session s = Converse(dir + "\n", [] {
    char* path = nullptr;
    int status = BuiltinPathRequest(nullptr, nullptr, "Folder", 0, "", 0, &path);
    std::string text = std::to_string(status) + ":" + (path ? path : "null");
    std::free(path);
    return text;
  });
  EXPECT_EQ(s.result, "0:" + dir);
}

// The system library's requester commands, run by a script in the child.
class RequesterCommands : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    ASSERT_EQ(OpenSystemLibrary(L), 0);
  }
  void TearDown() override {
    FreeSystemLibrary(L);
    FreeObjectRegistries();
    HandlerTest::TearDown();
  }
  // Runs the script in a child; its error code and the listed globals.
  Session Script(const std::string& input, const std::string& body, std::vector<const char*> globals) {
    return Converse(input, [&] {
      int rc = vltest::RunScript(L, ".line 1\n" + body + "\nret\n");
      std::string text = std::to_string(rc);
      for (const char* g : globals) {
        text += '|';
        text += GlobalText(g);
      }
      return text;
    });
  }
  // A global as text: numbers as "%.14g".
  std::string GlobalText(const char* name) {
    double n = vltest::GlobalNumber(L, name);
    if (n == n && vltest::GetGlobal(L, name)->tag == VL_TNUMBER) {
      char text[32];
      std::snprintf(text, sizeof text, "%.14g", n);
      return text;
    }
    return vltest::GlobalString(L, name);
  }
};

TEST_F(RequesterCommands, ScriptsGetTheAnswers) {
  Session s = Script("2\n", ".call systemrequest \"T\" \"Really?\" \"Yes|No|Cancel\" -> r", {"r"});
  EXPECT_EQ(s.output, "Really?\n(1) Yes\n(2) No\n(3) Cancel\nYour choice: ");
  EXPECT_EQ(s.result, "0|2");
  s = Script("hello\n", ".call stringrequest \"T\" \"Name\" \"def\" -> t ok", {"t", "ok"});
  EXPECT_EQ(s.result, "0|hello|1");
  s = Script("", ".call stringrequest \"T\" \"Name\" -> t ok", {"t", "ok"});
  EXPECT_EQ(s.result, "0||0") << "cancelled";
  s = Script("\n#102030\n", ".call colorrequest \"T\" -> a\n.call colorrequest \"T\" -> b", {"a", "b"});
  EXPECT_EQ(s.result, "0|-1|" + std::to_string(0x102030));
  s = Script("3\n", ".table 0 { \"a\", \"b\", \"c\" }\nsetglobal 0 \"l\"\n.call listrequest \"T\" \"Pick\" $l -> i",
             {"i"});
  EXPECT_EQ(s.result, "0|2");
  s = Script("Sans\n9\n", ".call fontrequest \"T\" -> f\ngetglobal 0 \"f\"\ngetfield 1 0 \"family\"\n"
                          "setglobal 1 \"fam\"\ngetfield 1 0 \"size\"\nsetglobal 1 \"size\"",
             {"fam", "size"});
  EXPECT_EQ(s.result, "0|Sans|9");
}

TEST_F(RequesterCommands, BadArgumentsAreRefusedBeforeAsking) {
  Session s = Script("", ".call stringrequest \"T\" \"B\" \"x\" 1", {});
  EXPECT_EQ(s.result, std::to_string(ERR_WRONGUSAGE)) << "type 1";
  EXPECT_EQ(s.output, "");
  EXPECT_EQ(Script("", ".call stringrequest \"T\" \"B\" \"\" 0 1025", {}).result, std::to_string(ERR_WRONGUSAGE));
  EXPECT_EQ(Script("", ".call stringrequest \"T\" \"B\" \"12x\" 3", {}).result, std::to_string(ERR_WRONGUSAGE));
  EXPECT_EQ(Script("", ".call filerequest \"T\" \"\" 3", {}).result, std::to_string(ERR_WRONGUSAGE));
  EXPECT_EQ(Script("", ".call pathrequest \"T\" 1", {}).result, std::to_string(ERR_WRONGUSAGE));
  EXPECT_EQ(Script("", ".table 0 { }\nsetglobal 0 \"l\"\n.call listrequest \"T\" \"B\" $l", {}).result,
            std::to_string(ERR_WRONGUSAGE));
  // A long default is cut to the maximum before it is offered.
  s = Script("\n", ".call stringrequest \"T\" \"B\" \"abcdef\" 0 3 -> t", {"t"});
  EXPECT_EQ(s.result, "0|");
}

TEST_F(RequesterCommands, FileRequestReturnsPathsAndATableForMultiSelect) {
  char pattern[] = "/tmp/vlreqXXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  std::ofstream(dir + "/b.png") << "x";
  Session s = Script(dir + "/b.png\n\n",
                     ".call filerequest \"T\" \"png\" -> p\n.call filerequest \"T\" \"\" 65536 -> none", {"p", "none"});
  EXPECT_EQ(s.result, "0|" + dir + "/b.png|");
  s = Script(dir + "/b.png\n", ".call filerequest \"T\" \"\" 1 -> t\ngetglobal 0 \"t\"\ngetfield 1 0 #0\nsetglobal 1 \"first\"",
             {"first"});
  EXPECT_EQ(s.result, "0|" + dir + "/b.png");
  std::filesystem::remove_all(dir);
}

// A requester adapter's entry table, recording what it was handed.
struct AdapterCall {
  uint32_t kind = 0;
  std::string title, body, tag2;
  bool hasTag2 = false;
  uint32_t flag = 0;
};
AdapterCall gCall;
std::vector<std::pair<uint32_t, std::string>> gFreed;

int FakeSystemRequest(void*, const char* title, const char* body, uint32_t kind, int32_t* result,
                      const vlTagItem* tags) {
  gCall = {};
  gCall.kind = kind;
  gCall.title = title;
  gCall.body = body;
  gCall.flag = static_cast<uint32_t>(GetTagValue(tags, 1, 99));
  if (auto* t = reinterpret_cast<const char*>(GetTagValue(tags, 2, 0))) gCall.tag2 = t, gCall.hasTag2 = true;
  *result = 5;
  return 0;
}
int FakeFileRequest(void*, const char*, uint32_t kind, char** out, const vlTagItem* tags) {
  gCall = {};
  gCall.kind = kind;
  gCall.hasTag2 = GetTagValue(tags, 2, 0) != 0;
  static const char kMulti[] = "/x/one.png\0/x/two.png\0";
  static const char kSingle[] = "/y/z/pic.jpg";
  size_t n = kind == 1 ? sizeof kMulti : sizeof kSingle;
  *out = static_cast<char*>(std::malloc(n));
  std::memcpy(*out, kind == 1 ? kMulti : kSingle, n);
  return 0;
}
int FakeFontRequest(void*, const char*, char** text, uint32_t* style, const vlTagItem*) {
  *text = strdup("Serif|14|255");
  *style = (1u << 7) | (1u << 12) | (1u << 16);  // weight 200, italic slant, bold
  return 0;
}
int FakeStringRequest(void*, const char*, const char*, uint32_t kind, char** out, const vlTagItem*) {
  gCall = {};
  gCall.kind = kind;
  *out = nullptr;  // cancelled
  return 0;
}
void FakeFreeRequest(uint32_t kind, void* data) {
  gFreed.emplace_back(kind, static_cast<char*>(data));
  std::free(data);
}

class RequesterAdapter : public testing::Test {
 protected:
  void SetUp() override {
    info = vlPluginInfo{};
    info.requesterFlags = 2 | 4 | 16 | 64;
    info.SystemRequest = FakeSystemRequest;
    info.FileRequest = FakeFileRequest;
    info.StringRequest = FakeStringRequest;
    info.FontRequest = FakeFontRequest;
    info.FreeRequest = FakeFreeRequest;
    vlRequesterAdapter = &info;
    gFreed.clear();
  }
  void TearDown() override { vlRequesterAdapter = nullptr; }
  vlPluginInfo info;
};

TEST_F(RequesterAdapter, SystemRequesterKindsAndIcons) {
  int32_t r = 0;
  ASSERT_EQ(ShowSystemRequester(nullptr, nullptr, "T", "B", "Yes|No", 0, 3, &r), 0);
  EXPECT_EQ(r, 5);
  EXPECT_EQ(gCall.kind, 4u + 32u);
  EXPECT_FALSE(gCall.hasTag2);
  EXPECT_EQ(gCall.flag, 3u);
  ASSERT_EQ(ShowSystemRequester(nullptr, nullptr, "T", "B", "Retry|Give up", 2, 0, &r), 0);
  EXPECT_EQ(gCall.kind, 16u + 128u);
  EXPECT_EQ(gCall.tag2, "Retry|Give up");
  ASSERT_EQ(ShowSystemRequester(nullptr, nullptr, "T", "B", nullptr, 4, 0, &r), 0);
  EXPECT_EQ(gCall.kind, 1u + 512u);
  ASSERT_EQ(ShowSystemRequester(nullptr, nullptr, "T", "B", "ok|cancel", 1, 0, &r), 0);
  EXPECT_EQ(gCall.kind, 2u + 64u);
  ASSERT_EQ(ShowSystemRequester(nullptr, nullptr, "T", "B", "Yes|No|Cancel", 3, 0, &r), 0);
  EXPECT_EQ(gCall.kind, 8u + 256u);
}

TEST_F(RequesterAdapter, FileResultsAreSplitAndReleased) {
  vlFileResult r{};
  ASSERT_EQ(ShowFileRequester(nullptr, nullptr, "T", "#?", 1, "", "", 0, &r), 0);
  EXPECT_EQ(gCall.kind, 1u);
  EXPECT_FALSE(gCall.hasTag2) << "#? is no pattern";
  EXPECT_STREQ(r.directory, "/x/");
  EXPECT_EQ(std::string(r.files, 16), std::string("one.png\0two.png\0", 16));
  EXPECT_EQ(r.count, 2u);
  EXPECT_EQ(r.success, 1u);
  FreeFileResult(&r);
  ASSERT_EQ(ShowFileRequester(nullptr, nullptr, "T", "png", 2, "", "", 0, &r), 0);
  EXPECT_EQ(gCall.kind, 2u);
  EXPECT_TRUE(gCall.hasTag2);
  EXPECT_STREQ(r.directory, "/y/z/");
  EXPECT_STREQ(r.files, "pic.jpg");
  FreeFileResult(&r);
  ASSERT_EQ(gFreed.size(), 2u);
  EXPECT_EQ(gFreed[0].first, 0u);
}

TEST_F(RequesterAdapter, FontTextAndStyleWordAreDecoded) {
  vlFontSpec f{};
  ASSERT_EQ(ShowFontRequester(nullptr, nullptr, "T", "", 0, 0, &f), 0);
  EXPECT_STREQ(f.name, "Serif");
  EXPECT_EQ(f.size, 14);
  EXPECT_EQ(f.color, 255u);
  EXPECT_EQ(f.weight, 200);
  EXPECT_EQ(f.slant, 100);
  EXPECT_EQ(f.bold, 1u);
  EXPECT_EQ(f.italic, 0u);
  ASSERT_EQ(gFreed.size(), 1u);
  EXPECT_EQ(gFreed[0].first, 3u);
  EXPECT_EQ(gFreed[0].second, "Serif|14|255");
}

TEST_F(RequesterAdapter, StringCancelAndKindsWithoutTheBuiltInCode) {
  char text[16] = "old";
  EXPECT_EQ(ShowStringRequester(nullptr, nullptr, "T", "B", "d", 3, 0, 1, 0, text, sizeof text), ERR_USERABORT);
  EXPECT_EQ(gCall.kind, 4u | 16u);
  EXPECT_STREQ(text, "");
  // Plain text, the script's type 0 (also when it gives none), is kind 0.
  EXPECT_EQ(ShowStringRequester(nullptr, nullptr, "T", "B", "d", 0, 0, 0, 0, text, sizeof text), ERR_USERABORT);
  EXPECT_EQ(gCall.kind, 0u);
  // A kind the adapter does not offer goes to the built-in (console) code.
  info.requesterFlags = 0;
  Session s = Converse("#0000ff\n", [] {
    int32_t r = 0;
    ShowColorRequester(nullptr, nullptr, "T", -1, 0, &r);
    return std::to_string(r);
  });
  EXPECT_EQ(s.result, "255");
}

}  // namespace

namespace {

// The font selection's Pango answer on the engine's scale: every weight of
// the table, an unlisted one as normal, the slants, and the size as the
// number after the font text's last blank.
TEST(GtkRequesterValues, PangoFontsMapToTheEngineRecord) {
  const int pango[] = {100, 200, 300, 380, 400, 500, 600, 700, 800, 900, 1000, 350};
  const int engine[] = {0, 40, 50, 75, 80, 100, 180, 200, 205, 210, 215, 80};
  for (size_t i = 0; i < std::size(pango); ++i) {
    vlFontSpec font{};
    font.underline = font.strikeout = font.color = 7;
    FontSpecFromPango("DejaVu Sans", 0, pango[i], "DejaVu Sans Bold 13", &font);
    EXPECT_EQ(font.weight, engine[i]) << pango[i];
    EXPECT_EQ(font.bold, engine[i] == 180 || engine[i] == 200 || engine[i] == 205 ? 1u : 0u) << pango[i];
    EXPECT_STREQ(font.name, "DejaVu Sans");
    EXPECT_EQ(font.size, 13);
    EXPECT_EQ(font.underline + font.strikeout + font.color, 0u);
  }
  vlFontSpec font{};
  FontSpecFromPango("Serif", 1, 400, "Serif Oblique 9", &font);
  EXPECT_EQ(font.slant, 110);
  EXPECT_EQ(font.italic, 1u);
  FontSpecFromPango("Serif", 2, 400, "Serif Italic 9", &font);
  EXPECT_EQ(font.slant, 100);
  FontSpecFromPango("Serif", 0, 400, "Serif", &font);
  EXPECT_EQ(font.slant, 0);
  EXPECT_EQ(font.italic, 0u);
  EXPECT_EQ(font.size, 0) << "no size in the text";
}

// $RRGGBB goes out as channels times 256 and comes back as channels / 256.
TEST(GtkRequesterValues, ColoursScaleBetweenEightAndSixteenBits) {
  uint16_t r = 0, g = 0, b = 0;
  ColorToGtkChannels(0xFF8001, &r, &g, &b);
  EXPECT_EQ(r, 0xFF00);
  EXPECT_EQ(g, 0x8000);
  EXPECT_EQ(b, 0x0100);
  EXPECT_EQ(ColorFromGtkChannels(r, g, b), 0xFF8001);
  EXPECT_EQ(ColorFromGtkChannels(0xFFFF, 0x80FF, 0x00FF), 0xFF8000);
}

}  // namespace
