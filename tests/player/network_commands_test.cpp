// The network commands as an applet drives them against servers on
// 127.0.0.1: a receive callback that closes its own connection, downloads
// and uploads over FTP and HTTP read back by the servers themselves.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Result;

using Libraries = vlplayer::PlayerTest;

std::string Lit(const std::string& text) { return "\"" + text + "\""; }

// A Python server sends two lines and closes; the receive callback closes
// the connection it is reading.
TEST_F(Libraries, AReceiveCallbackThatClosesItsConnectionEndsTheReceive) {
  FILE* server = popen(
      "python3 -c 'import socket\n"
      "s = socket.socket(); s.bind((\"127.0.0.1\", 0)); s.listen(1)\n"
      "print(s.getsockname()[1], flush=True)\n"
      "c, _ = s.accept(); c.sendall(b\"abc\\ndef\\n\"); c.close()'",
      "r");
  ASSERT_NE(server, nullptr);
  int port = 0;
  ASSERT_EQ(fscanf(server, "%d", &port), 1);
  std::string applet = Applet("receive", R"(.function closer
  .params 1
  .line 2
  getfield 1 0 "data"
  .call base=2 debugprint r1
  .call base=2 closeconnection 1
  loadk 2 #0
  return 2 2
.end
.line 9
.call openconnection 1 "127.0.0.1" )" + std::to_string(port) + R"(
.call receivedata 1 2 fn:closer -> data n done
.call debugprint $n
.call debugprint "after")");
  Result r = Run({applet});
  pclose(server);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "a\n1\nafter\n");
}

// What a server started with popen prints until it ends; the pipe is closed.
std::string DrainServer(FILE* server) {
  std::string output;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, server)) > 0;) output.append(buffer, n);
  pclose(server);
  return output;
}

// An applet's start: DownloadFile of url with a progress callback that
// keeps the total it was told, then the data, the count and that total
// printed.
std::string DownloadWithProgress(const std::string& url) {
  return R"(.function progress
  .params 1
  .line 2
  getfield 1 0 "total"
  setglobal 1 "total"
  loadk 1 #0
  return 1 2
.end
.line 9
.call downloadfile ")" + url + R"(" { } fn:progress -> data n
.call debugprint $data
.call debugprint $n
.call debugprint $total
)";
}

// DownloadFile and UploadFile over FTP against the python3 server of the
// network tests: a download in ASCII mode with its byte count announced to
// the progress callback, an upload with the URL's credentials, and a
// missing file as the script sees it.
TEST_F(Libraries, FtpTransfersReachTheServerAndTheScript) {
  const std::string root = dir() + "/ftp";
  ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
  WriteFile("ftp/notes.txt", "plain text over ftp");
  // The server ends by itself after three sessions, or after a minute.
  FILE* server = popen(("timeout 60 python3 " + std::string(VL_SOURCE_ROOT) + "/tests/libraries/network/ftp_server.py " +
                        vlplayer::Quote(root) + " 3")
                           .c_str(),
                       "r");
  ASSERT_NE(server, nullptr);
  int port = 0;
  ASSERT_EQ(fscanf(server, "PORT %d", &port), 1);
  const std::string base = "ftp://127.0.0.1:" + std::to_string(port);
  std::string applet = Applet("ftp", DownloadWithProgress(base + "/notes.txt;type=a") + R"(
.call uploadfile "ftp://bob:pw@127.0.0.1:)" + std::to_string(port) + R"(/up.txt" { data = "sent by the player" }
.call exitonerror 0
.call downloadfile ")" + base + R"(/missing.txt"
.call getlasterror -> e
.call debugprint $e)");
  Result r = Run({applet});
  std::string output = DrainServer(server);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "plain text over ftp\n19\n19\n1425\n");
  EXPECT_NE(output.find("CMD type a\nCMD retr /notes.txt\n"), std::string::npos) << output;
  EXPECT_NE(output.find("CMD user bob\nCMD pass pw\n"), std::string::npos) << output;
  EXPECT_NE(output.find("STORED /up.txt 73656e742062792074686520706c61796572\n"), std::string::npos) << output;
}

// DownloadFile over HTTP against python3's http.server: a path with a space
// reaches the server escaped, the progress callback sees the announced
// size, a body written to a file leaves the data empty, and a missing file
// with "fail404" and "silentfail" gives the message and -1.
TEST_F(Libraries, HttpDownloadsReachTheServerAndTheScript) {
  const std::string root = dir() + "/www";
  ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
  WriteFile("www/a file.txt", "served over http");
  // The server answers three requests and ends, or gives up after a minute.
  FILE* server = popen(("timeout 60 python3 -c 'import functools, http.server, sys\n"
                        "h = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])\n"
                        "s = http.server.HTTPServer((\"127.0.0.1\", 0), h)\n"
                        "print(s.server_address[1], flush=True)\n"
                        "for _ in range(3): s.handle_request()' " +
                        vlplayer::Quote(root) + " 2>/dev/null")
                           .c_str(),
                       "r");
  ASSERT_NE(server, nullptr);
  int port = 0;
  ASSERT_EQ(fscanf(server, "%d", &port), 1);
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  const std::string saved = dir() + "/saved.txt";
  std::string applet = Applet("http", DownloadWithProgress(base + "/a file.txt") + R"(
.call downloadfile ")" + base + R"(/a%20file.txt" { encoded = 1, file = )" + Lit(saved) + R"( } -> data n
.call debugprint $data
.call debugprint $n
.call downloadfile ")" + base + R"(/none" { fail404 = 1, silentfail = 1 } -> data n
.call debugprint $data
.call debugprint $n)");
  Result r = Run({applet});
  pclose(server);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "served over http\n16\n16\n\n16\nFile /none not found on this server!\n-1\n");
  EXPECT_EQ(Tool("cat " + vlplayer::Quote(saved)), "served over http");
}

// UploadFile over HTTP: python's email parser reads the multipart form the
// player sent (a data field and a file part) and the server's answer comes
// back as the data.
TEST_F(Libraries, HttpFormUploadsParseAsMultipartForms) {
  const std::string part = WriteFile("part.bin", "file bytes\r\n--x");
  FILE* server = popen((std::string("timeout 60 python3 -c 'import email.parser, http.server, sys\n"
                        "class H(http.server.BaseHTTPRequestHandler):\n"
                        "  def do_POST(self):\n"
                        "    body = self.rfile.read(int(self.headers[\"Content-Length\"]))\n"
                        "    m = email.parser.BytesParser().parsebytes(b\"Content-Type: \" + "
                        "self.headers[\"Content-Type\"].encode() + b\"\\r\\n\\r\\n\" + body)\n"
                        "    for p in m.get_payload():\n"
                        "      print(p.get_param(\"name\", header=\"content-disposition\"), "
                        "p.get_filename(), p.get_content_type(), p.get_payload(decode=True))\n"
                        "    sys.stdout.flush()\n"
                        "    self.send_response(200); self.send_header(\"Content-Length\", \"2\"); "
                        "self.end_headers(); self.wfile.write(b\"ok\")\n"
                        "  def log_message(self, *a): pass\n"
                        "s = http.server.HTTPServer((\"127.0.0.1\", 0), H)\n"
                        "print(s.server_address[1], flush=True)\n"
                        "s.handle_request()'"))
                           .c_str(),
                       "r");
  ASSERT_NE(server, nullptr);
  int port = 0;
  ASSERT_EQ(fscanf(server, "%d", &port), 1);
  std::string applet = Applet("upload", R"(.line 1
.table 10 { formdata = { [1] = { name = "note", data = "a b" }, [2] = { name = "doc", file = )" + Lit(part) +
                                  R"(, mimetype = "text/plain" } } }
.call uploadfile "http://127.0.0.1:)" + std::to_string(port) + R"(/form" r10 -> data n
.call debugprint $data
.call debugprint $n)");
  Result r = Run({applet});
  std::string output = DrainServer(server);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ok\n2\n");
  EXPECT_EQ(output, "\nnote None text/plain b'a b'\ndoc part.bin text/plain b'file bytes\\r\\n--x'\n");
}

}  // namespace
