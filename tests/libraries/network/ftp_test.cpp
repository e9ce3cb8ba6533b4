// DownloadFile and UploadFile over FTP against a small python3 FTP server
// (ftp_server.py): the command sequence on the control connection, the
// passive data connection, credentials, transfer types, sizes from the 150
// reply, and servers that answer wrongly.
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "libraries/network/network_commands.h"
#include "runtime/option_readers.h"
#include "tests/libraries/network/network_test_util.h"
#include "vm/error_codes.h"

namespace {

using nettest::NetworkTest;
using nettest::PythonServer;

// The commands and stored files a server printed.
std::vector<std::string> Lines(const std::string& output, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
  return out;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}

class FtpTest : public NetworkTest {
 protected:
  void SetUp() override {
    NetworkTest::SetUp();
    ASSERT_NE(mkdtemp(root_), nullptr);
    content_.clear();
    for (int i = 0; i < 20000; ++i) content_ += static_cast<char>(i * 13 + (i >> 7));
    std::ofstream(std::string(root_) + "/file.bin", std::ios::binary) << content_;
  }
  void TearDown() override {
    std::remove((std::string(root_) + "/file.bin").c_str());
    rmdir(root_);
    NetworkTest::TearDown();
  }
  PythonServer Start(std::vector<std::string> quirks = {}, int sessions = 1) {
    std::vector<std::string> args = {nettest::ScriptPath("ftp_server.py"), root_, std::to_string(sessions)};
    args.insert(args.end(), quirks.begin(), quirks.end());
    return PythonServer(args);
  }
  std::string Url(const PythonServer& server, const std::string& path, const std::string& user = "") {
    return "ftp://" + user + "127.0.0.1:" + std::to_string(server.port()) + path;
  }
  int Transfer(vlNativeFn command, const std::string& url, std::function<void()> options = nullptr,
               vlNativeFn callback = nullptr) {
    return Cmd(command, [&] {
      vl::PushString(L, url.c_str());
      if (options || callback || command == CmdUploadFile) {
        vl::PushNewTable(L);
        if (options) options();
      }
      if (callback) vl::PushNativeClosure(L, callback, 0);
    });
  }

  char root_[32] = "/tmp/vl-net-ftp-XXXXXX";
  std::string content_;
};

double gTotal = -1;
double gLastCount = -1;
int Progress(vlVMState* L) {
  vl::PushString(L, "total");
  vl::RawGetTableValue(L, 1);
  gTotal = vl::ToNumberAt(L, -1);
  vl::PushString(L, "count");
  vl::RawGetTableValue(L, 1);
  gLastCount = vl::ToNumberAt(L, -1);
  vl::PushNumber(L, 0);
  return 1;
}

TEST_F(FtpTest, AnonymousDownloadFollowsTheCommandSequence) {
  PythonServer server = Start();
  gTotal = gLastCount = -1;
  ASSERT_EQ(Transfer(CmdDownloadFile, Url(server, "/file.bin"), nullptr, Progress), 2);
  EXPECT_EQ(NumberAt(-1), content_.size());
  EXPECT_TRUE(StringAt(-2) == content_);
  EXPECT_EQ(gTotal, content_.size());  // announced by the 150 reply
  EXPECT_EQ(gLastCount, content_.size());
  EXPECT_EQ(Lines(server.Output(), "CMD "),
            (std::vector<std::string>{"user anonymous", "pass vellamora@example.com", "pasv", "type i",
                                      "retr /file.bin", "quit"}));
  EXPECT_EQ(gConnectionList, nullptr);
}

TEST_F(FtpTest, ATypeSuffixPicksAsciiAndLeavesThePath) {
  PythonServer server = Start({"multiline", "preliminary"});
  ASSERT_EQ(Transfer(CmdDownloadFile, Url(server, "/file.bin;type=A")), 2);
  EXPECT_EQ(NumberAt(-1), content_.size());
  auto commands = Lines(server.Output(), "CMD ");
  ASSERT_GE(commands.size(), 5u);
  EXPECT_EQ(commands[3], "type a");
  EXPECT_EQ(commands[4], "retr /file.bin");
  EXPECT_EQ(Transfer(CmdDownloadFile, "ftp://127.0.0.1:1/file.bin;type=x"), 1417);
}

TEST_F(FtpTest, CredentialsFromTheUrlAndAServerThatNeedsNoPassword) {
  PythonServer server = Start({"user-ok"});
  ASSERT_EQ(Transfer(CmdDownloadFile, Url(server, "/file.bin", "bob:pw@")), 2);
  auto commands = Lines(server.Output(), "CMD ");
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[0], "user bob");
  EXPECT_EQ(commands[1], "pasv");  // USER answered 230: no PASS
}

TEST_F(FtpTest, ARefusedLogInIsAccessDenied) {
  PythonServer server = Start({"deny"});
  EXPECT_EQ(Transfer(CmdDownloadFile, Url(server, "/file.bin", "bob:bad@")), 1426);
}

TEST_F(FtpTest, MissingFilesAndForbiddenUploadsNameThePath) {
  PythonServer server = Start({}, 2);
  EXPECT_EQ(Transfer(CmdDownloadFile, Url(server, "/nope.bin")), 1425);
  EXPECT_STREQ(GetErrorArgument(), "/nope.bin");
  EXPECT_EQ(Transfer(CmdUploadFile, Url(server, "/forbidden.txt"), [&] { SetTableString(L, "data", "x"); }), 1427);
  EXPECT_STREQ(GetErrorArgument(), "/forbidden.txt");
  EXPECT_EQ(gConnectionList, nullptr);
}

TEST_F(FtpTest, PassiveRepliesNeedExactlySixNumbers) {
  PythonServer shortReply = Start({"short-pasv"});
  EXPECT_EQ(Transfer(CmdDownloadFile, Url(shortReply, "/file.bin")), 1421);
  EXPECT_EQ(GetErrorArgIndex(), 2);
  PythonServer longReply = Start({"long-pasv"});
  EXPECT_EQ(Transfer(CmdDownloadFile, Url(longReply, "/file.bin")), 1421);
  EXPECT_EQ(GetErrorArgIndex(), 2);
}

TEST_F(FtpTest, AContinuationLineWithoutTheCodeIsAnError) {
  PythonServer server = Start({"bad-continuation"});
  EXPECT_EQ(Transfer(CmdDownloadFile, Url(server, "/file.bin")), 1421);
  EXPECT_EQ(GetErrorArgIndex(), 1);
  // With "silentfail" the message names the FTP error's number.
  PythonServer again = Start({"bad-continuation"});
  ASSERT_EQ(Transfer(CmdDownloadFile, Url(again, "/file.bin"), [&] { SetTableInt(L, "silentfail", 1); }), 2);
  EXPECT_EQ(StringAt(-2), "FTP error 1 occurred!");
  EXPECT_EQ(NumberAt(-1), -1);
}

TEST_F(FtpTest, RepliesWithoutAByteCountAnnounceNothingAndReadToTheEnd) {
  for (const char* quirk : {"use125", "no-size"}) {
    PythonServer server = Start({quirk});
    gTotal = -1;
    ASSERT_EQ(Transfer(CmdDownloadFile, Url(server, "/file.bin"), nullptr, Progress), 2) << quirk;
    EXPECT_TRUE(StringAt(-2) == content_) << quirk;
    EXPECT_EQ(gTotal, 0) << quirk;
  }
}

int StopAtOnce(vlVMState* L) {
  vl::PushNumber(L, 1);
  return 1;
}

// A progress callback that asks to stop ends the download as a success
// with the bytes that arrived, as an HTTP download does.
TEST_F(FtpTest, AStoppedDownloadKeepsWhatArrived) {
  PythonServer server = Start();
  ASSERT_EQ(Transfer(CmdDownloadFile, Url(server, "/file.bin"), nullptr, StopAtOnce), 2);
  const std::string got = StringAt(-2);
  EXPECT_EQ(NumberAt(-1), got.size());
  EXPECT_GT(got.size(), 0u);
  EXPECT_LT(got.size(), content_.size());
  EXPECT_TRUE(content_.compare(0, got.size(), got) == 0);
  EXPECT_EQ(gConnectionList, nullptr);
}

TEST_F(FtpTest, UploadsSendDataOrAFile) {
  PythonServer server = Start({}, 3);
  std::string data("up\0loaded", 9);
  ASSERT_EQ(Transfer(CmdUploadFile, Url(server, "/a.txt"), [&] {
              vl::PushString(L, "data");
              vl::PushBytes(L, data.data(), data.size());
              vl::RawSetTableValue(L, -3);
            }),
            0);
  std::string file = std::string(root_) + "/file.bin";
  ASSERT_EQ(Transfer(CmdUploadFile, Url(server, "/b.bin;type=i"), [&] { SetTableString(L, "file", file.c_str()); }),
            0);
  // Neither data nor file: the server stores an empty file.
  ASSERT_EQ(Transfer(CmdUploadFile, Url(server, "/c.txt")), 0);
  std::string output = server.Output();
  auto stored = Lines(output, "STORED ");
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0], "/a.txt " + Hex(data));
  EXPECT_EQ(stored[1], "/b.bin " + Hex(content_));
  EXPECT_EQ(stored[2], "/c.txt ");
  auto commands = Lines(output, "CMD ");
  EXPECT_NE(std::find(commands.begin(), commands.end(), "stor /a.txt"), commands.end());
}

TEST_F(FtpTest, DownloadsToAFile) {
  PythonServer server = Start();
  std::string target = std::string(root_) + "/copy.bin";
  ASSERT_EQ(Transfer(CmdDownloadFile, Url(server, "/file.bin"), [&] { SetTableString(L, "file", target.c_str()); }),
            2);
  EXPECT_EQ(StringAt(-2), "");
  EXPECT_EQ(NumberAt(-1), content_.size());
  std::ifstream in(target, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_TRUE(s.str() == content_);
  std::remove(target.c_str());
}

TEST_F(FtpTest, GarbageAndHangUpsEndCleanly) {
  PythonServer garbage = Start({"garbage"});
  EXPECT_EQ(Transfer(CmdDownloadFile, Url(garbage, "/file.bin")), 1421);
  EXPECT_EQ(GetErrorArgIndex(), 0);
  PythonServer hangUp = Start({"hang-up"});
  EXPECT_EQ(Transfer(CmdDownloadFile, Url(hangUp, "/file.bin")), 1423);
  EXPECT_EQ(gConnectionList, nullptr);
}

}  // namespace
