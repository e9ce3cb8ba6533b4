// The command libraries as a user's applet drives them, where the script's
// own actions used to destroy data or free what a command still used: a
// file copied onto itself, a poke into a block borrowed from a string,
// callbacks that close the file or connection their command works on, a
// malformed pattern, sprites that collide only where their pixels do, and
// a video layer sought while it plays, shapes past 32 bits. The sanitizer
// build runs the same applets under ASan.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/player/library_fixtures.h"

namespace {

using vlplayer::Libraries;
using vlplayer::Lit;
using vlplayer::Result;
using vlplayer::RunOptions;
using vlplayer::WaitForVideoEnd;

TEST_F(Libraries, ACopyIntoItsOwnDirectoryKeepsTheFile) {
  std::string file = WriteFile("data.bin", std::string(40000, 'd'));
  std::string applet = Applet("copy", ".line 1\n.call copyfile " + Lit(file) + " " + Lit(dir()) +
                                          "\n.call filesize " + Lit(file) + " -> n\n.call debugprint $n");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "40000\n");
}

// Poking into a block over a string used in place would change the
// script's string, and with it every equal string of the script.
TEST_F(Libraries, APokeIntoABlockBorrowedFromAStringIsRefused) {
  std::string applet = Applet("poke", R"(.line 1
.call exitonerror 0
.call definevirtualfilefromstring "virtual bytes" "s.bin" -> name
.call allocmemfromvirtualfile 1 $name
.call poke 1 0 65 7
.call getlasterror -> e
.call debugprint $e
.call leftstr "virtual bytes" 3 -> l
.call debugprint $l)");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1055\nvir\n");
}

// A read that comes up short fails and leaves the block's bytes alone; the
// dump shows them on the console. A block over an empty virtual file is
// range-checked and sees what is written to the file.
TEST_F(Libraries, AShortReadLeavesTheBlockAsItWas) {
  std::string file = WriteFile("six.bin", "ABCDEF");
  std::string applet = Applet("shortread", R"(.line 1
.call exitonerror 0
.call allocmem 1 8
.call fillmem 1 46 8
.call openfile 1 )" + Lit(file) + R"(
.call readmem 1 1 8
.call getlasterror -> e
.call debugprint $e
.call dumpmem 1
.call definevirtualfilefromstring "" "e.bin" 1 -> name
.call allocmemfromvirtualfile 2 $name
.call peek 2 0 7
.call getlasterror -> e
.call debugprint $e
.call openfile 2 $name 1006
.call writestring 2 "filled"
.call closefile 2
.call peek 2 0 3 -> s
.call debugprint $s)");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1009\n00000000: 2e 2e 2e 2e 2e 2e 2e 2e " + std::string(8 * 3, ' ') + "........\n1146\nfilled\n");
}

TEST_F(Libraries, APatchCallbackThatClosesAFileEndsThePatch) {
  std::string src = WriteFile("src", std::string(300, 's'));
  std::string patch = WriteFile("patch", std::string(300, 'p'));
  std::string applet = Applet("patch", R"(.function closer
  .params 1
  .line 2
  .call base=1 closefile 3
  ret
.end
.line 6
.call exitonerror 0
.call openfile 1 )" + Lit(src) + R"(
.call openfile 2 )" + Lit(patch) + R"(
.call openfile 3 )" + Lit(dir() + "/dst") + R"( 1006
.call applypatch 1 2 3 fn:closer
.call getlasterror -> e
.call debugprint $e)");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1179\n");
}

// A table holding a function that used two variables of the function
// around it is written in both forms and read back: the function comes
// back with variables of its own, each nil (their values were never
// written), and calling it sets one without touching the other.
TEST_F(Libraries, ATableHoldingAFunctionThatUsedOuterVariablesReadsBack) {
  const std::string file = dir() + "/table.bin";
  std::string applet = Applet("tablefn", R"(.line 1
.function f
  .upvalue "a" from r0
  .upvalue "b" from r1
  .params 1
  .line 2
  setupval 0 0
  getupval 1 1
  getupval 2 0
  return 1 3
.end
.line 5
loadk 0 #11
loadk 1 #22
closure 2 f
setglobal 2 "F"
.call base=4 F 5 -> x y
.call base=4 debugprint $x $y
.call base=4 openfile 1 )" + Lit(file) + R"( 1006
.table 3 { h = $F }
.call base=4 writetable 1 r3
.call base=4 writetable 1 r3 1
.call base=4 closefile 1
.call base=4 openfile 1 )" + Lit(file) + R"(
.call base=4 readtable 1 -> t
.call base=4 readtable 1 -> u
.call base=4 closefile 1
getglobal 4 "t"
getfield 4 4 "h"
setglobal 4 "G"
.call base=4 G 6 -> p q
.call base=4 debugprint $p $q
.call base=4 G 8 -> p q
.call base=4 debugprint $p $q
getglobal 4 "u"
getfield 4 4 "h"
setglobal 4 "U"
.call base=4 U 7 -> p q
.call base=4 debugprint $p $q)");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "22 5\nNil 6\nNil 8\nNil 7\n");
}

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
// back as the data. A top-level "file" beside the form is refused before
// anything is sent (the server answers one request only), and the file,
// given to be read, keeps its bytes: the reply is not written over it.
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
  const std::string url = "\"http://127.0.0.1:" + std::to_string(port) + "/form\"";
  const std::string form = "formdata = { [1] = { name = \"note\", data = \"a b\" }, [2] = { name = \"doc\", file = " +
                           Lit(part) + ", mimetype = \"text/plain\" } }";
  std::string applet = Applet("upload", ".line 1\n.table 10 { file = " + Lit(part) + ", silentfail = 1, " + form +
                                            " }\n.call uploadfile " + url + " r10 -> data n\n"
                                            ".call debugprint $data $n\n"
                                            ".table 10 { " + form + " }\n.call uploadfile " + url +
                                            " r10 -> data n\n.call debugprint $data\n.call debugprint $n");
  Result r = Run({applet});
  std::string output = DrainServer(server);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Wrong usage/parameters for this command!\nRead the documentation! -1\nok\n2\n");
  std::ifstream kept(part, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "file bytes\r\n--x");
  EXPECT_EQ(output, "\nnote None text/plain b'a b'\ndoc part.bin text/plain b'file bytes\\r\\n--x'\n");
}

// A program started by Run reports its end to the callback given to Run,
// else to the "runfinished" handler (with the userdata it was installed
// with): the table names the program and its arguments.
TEST_F(Libraries, RunReportsTheProgramsEndToItsCallback) {
  std::string applet = Applet("run", R"(.function ended
  .params 1
  .line 2
  getfield 1 0 "action"
  .call base=2 debugprint r1
  getfield 1 0 "program"
  .call base=2 debugprint r1
  getfield 1 0 "args"
  .call base=2 debugprint r1
  .call base=1 tableitems r0 -> n
  .call base=1 debugprint $n
  .call base=1 rawget r0 "userdata" -> u
  .call base=1 debugprint $u
  ret
.end
.defun Ended ended
.line 10
.call run "/bin/true one two" 0 $Ended
.call waitevent
.table 0 { runfinished = $Ended }
.call base=1 installeventhandler r0 "ud"
.call run "/bin/true" 0
.call waitevent -> t
getglobal 0 "t"
getfield 1 0 "action"
.call base=2 debugprint r1)");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "RunFinished\n/bin/true\none two\n3\nNil\nRunFinished\n/bin/true\n\n4\nud\nRunFinished\n");
}

// Pattern errors are found before matching and print one "%".
TEST_F(Libraries, AMalformedPatternIsAnErrorWithItsOwnText) {
  std::string applet =
      Applet("pattern", ".line 3\n.call patternfindstrshort \"abc\" \"x%\" -> r\n.call debugprint \"after\"");
  Result r = Run({"-debugdevice", "console", applet});
  EXPECT_NE(r.status, 0);
  std::string all = r.out + r.err;
  EXPECT_NE(all.find("Malformed pattern! (ends with \"%\")"), std::string::npos) << all;
  EXPECT_EQ(all.find("after"), std::string::npos) << all;
}

// Clauses of the command rows read back through the player: a layer of an
// anim read from disk cannot be drawn into (what is drawn would be lost),
// frames of anim layers are checked before a brush is made of them,
// pointers are made of sprite frames, colour pairs chain, and button
// position constants resolve against the BGPic's size.
TEST_F(Libraries, CommandsCheckAndKeepEveryClauseOfTheirRows) {
  const std::string gif = dir() + "/rgb.gif";
  int status = 0;
  Tool("convert -size 16x16 xc:red xc:lime xc:blue " + vlplayer::Quote(gif), &status);
  ASSERT_EQ(status, 0);
  const std::string five = dir() + "/five.gif";
  Tool("convert -size 16x16 xc:red xc:lime xc:blue xc:white xc:gray " + vlplayer::Quote(five), &status);
  ASSERT_EQ(status, 0);
  // Three frames, each black (transparent below) in its left half.
  const std::string half = dir() + "/half.gif";
  Tool("convert -size 8x8 xc:black -fill red -draw 'rectangle 4,0 7,7' \\( -size 8x8 xc:black -fill lime -draw "
       "'rectangle 4,0 7,7' \\) \\( -size 8x8 xc:black -fill blue -draw 'rectangle 4,0 7,7' \\) " +
           vlplayer::Quote(half),
       &status);
  ASSERT_EQ(status, 0);
  const std::pair<const char*, int> calls[] = {
      // Layer names are looked up before the display state, positions after.
      {"selectbrush 6", 0}, {"selectlayer 99", 1082}, {"playlayer 9", 1082}, {"endselect", 0},
      {"selectlayer 1 0 1", 1338}, {"selectlayer 1 0 0", 1014}, {"selectlayer 1 0 9", 1338},
      {"selectlayer 2 0 4", 1094}, {"selectlayer 2 0 2", 0},    {"endselect", 0},
      // A layer's mask or alpha channel: the same checks, by position.
      {"selectmask 1 22 1", 1338}, {"selectalphachannel 2 22", 1014}, {"selectmask 2 22 4", 1094},
      {"selectmask 9 22", 1081},   {"selectalphachannel 2 22 2", 0}, {"endselect", 0},
      {"converttobrush 22 2 nil 0", 1094}, {"converttobrush 22 2 nil 4", 1094}, {"getbrushlink nil 22 1 5", 1094},
      {"converttobrush 22 1 7 3", 0},      {"getbrushlink 8 22 2 2", 0},
      {"createpointer 1 32 3 0", 1094},    {"createpointer 1 32 3 3", 1094},  {"createpointer 1 32 3 2 1 1", 0},
      {"createpointer 2 32 3", 0},         {"setpointer 1", 0},
      // A sprite from a text object takes its picture as the only frame; a
      // copy of a disk anim opens the file again through its loader.
      {"createsprite 9 8 9", 0},           {"createsprite 10 8 9 1", 1193},   {"createsprite 10 8 8", 1175},
      {"copyanim 1 11", 0},
      // An effect refused with the code of what is selected: an anim's
      // frame, a brush, its mask, its alpha channel, the BGPic on show.
      // BeginRefresh tells an anim's frame from a brush the same way.
      {"createanim 12 6 8 8 2 2", 0},      {"selectanim 12 2", 0},            {"displaybrushfx 6 0 0 1", 1339},
      {"beginrefresh 1", 1339},            {"selectbrush 7", 0},              {"beginrefresh 1", 1082},
      {"selectbrush 7", 0},                {"displaybrushfx 6 0 0 1", 1082},  {"selectmask 7", 0},
      {"displaybrushfx 6 0 0 1", 1147},    {"selectalphachannel 7", 0},       {"displaybrushfx 6 0 0 1", 1167},
      {"selectbgpic nil", 0},              {"displaybrushfx 6 0 0 1", 1056},  {"endselect", 0},
  };
  std::string script = R"(.function onb
  .params 1
  ret
.end
.defun OnB onb
.line 1
.table 0 { width = 320, height = 200, color = 0, title = "rows" }
.call base=1 createdisplay 2 r0
.call opendisplay 2
.call exitonerror 0
.table 0 { fromdisk = 1 }
.call base=1 loadanim 1 )" + Lit(gif) + R"( r0
.call loadanim 2 )" + Lit(gif) + R"(
.call createbrush 6 16 8 0xFF0000
.call createsprite 3 3 6 8 8 2 2
.call createtextobject 9 "ab"
.call enablelayers
.call displayanimframe 1 0 0 1
.call displayanimframe 2 20 0 1
)";
  std::string want;
  for (const auto& [call, code] : calls) {
    script += std::string(".call ") + call + "\n.call getlasterror -> e\n.call debugprint \"" + call + "\" $e\n";
    want += std::string(call) + " " + std::to_string(code) + "\n";
  }
  script += R"(.call readbrushpixel 7 0 0 -> c
.call debugprint $c
.call readbrushpixel 8 0 0 -> c
.call debugprint $c
.call getattribute 36 1 0 -> w
.call getattribute 36 2 1 -> h
.call debugprint $w $h
.call createbrush 9 2 1 0x0000FF
.call writebrushpixel 9 1 0 0x00FF00
.table 0 { [0] = 255, [1] = 65280, [2] = 65280, [3] = 16711680 }
.call base=1 replacecolors 9 r0
.call readbrushpixel 9 0 0 -> c
.call readbrushpixel 9 1 0 -> d
.call debugprint $c $d
.table 0 { onmousedown = $OnB }
.call base=1 makebutton 1 0 -100000 -100000 100 50 r0
.call base=1 makebutton 2 0 -80000 -60000 100 50 r0
.call dumpbuttons
.call selectbrush 6
.call nextframe "nosuch"
.call getlasterror -> e
.call swaplayers 1 "nosuch"
.call getlasterror -> f
.call setlayerzpos 1 "nosuch"
.call getlasterror -> g
.call endselect
.call debugprint "names" $e $f $g
.call loadanim 4 )" + Lit(five) + R"(
.call displaybrush 6 40 0
.table 0 { id = 99 }
.call base=1 setlayerstyle 3 r0
.call getlasterror -> e
.call getlayerstyle 3 -> st
getglobal 0 "st"
getfield 1 0 "id"
setglobal 1 "i"
.call debugprint "bad id" $e $i
.table 0 { id = 4, frame = 5 }
.call base=1 setlayerstyle 2 r0
.call getlasterror -> e
.call getlayerstyle 2 -> st
getglobal 0 "st"
getfield 1 0 "frame"
setglobal 1 "f"
.call debugprint "new anim" $e $f
.table 0 { shadowcolor = 255, shadowsize = 7 }
.call base=1 setlayerstyle 3 r0
.table 0 { shadow = 1 }
.call base=1 setlayerstyle 3 r0
.call getlayerstyle 3 -> st
getglobal 0 "st"
getfield 1 0 "shadowcolor"
setglobal 1 "c"
getfield 1 0 "shadowsize"
setglobal 1 "z"
.call debugprint "shadow" $c $z
.table 0 { transparency = 0 }
.call base=1 loadanim 5 )" + Lit(half) + R"( r0
.call displayanimframe 5 100 100 3
.call setlayername 0 "half"
.call collision 47 "half" 102 100 2 8 -> a
.call collision 47 "half" 104 100 1 8 -> b
.call debugprint "frame 3 collides" $a $b
.table 0 { type = 4, id = 4, frame = -1, transparency = 10000000000 }
.call base=1 setlayerstyle 3 r0
.call getlasterror -> e
.call getlayerstyle 3 -> st
getglobal 0 "st"
getfield 1 0 "frame"
setglobal 1 "f"
getfield 1 0 "type"
setglobal 1 "t"
getfield 1 0 "transparency"
setglobal 1 "a"
.call debugprint "brush to anim" $e $t $f $a
.table 0 { frame = 1, x = -100000, y = -60000 }
.call base=1 setlayerstyle 3 r0
.call getlayerstyle 3 -> st
getglobal 0 "st"
getfield 1 0 "x"
setglobal 1 "x"
getfield 1 0 "y"
setglobal 1 "y"
.call debugprint "centred" $x $y)";
  want += "255\n65280\n8 8\n16711680 16711680\n";
  Result r = Run({Applet("rows", script)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.substr(0, want.size()), want) << r.out;
  // Centred in 320 x 200, and at the right and bottom edges.
  EXPECT_NE(r.out.find("Type: 0 - X1: 110 - Y1: 75 - X2: 209 - Y2: 124\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Type: 0 - X1: 220 - Y1: 150 - X2: 319 - Y2: 199\n"), std::string::npos) << r.out;
  // A refused source leaves the layer showing what it showed; a frame is
  // counted in the anim the same table names; shadow settings given while
  // the shadow is off are kept for when it comes on.
  EXPECT_NE(r.out.find("names 1369 1369 1369\nbad id 1174 6\nnew anim 0 5\nshadow 255 7\nframe 3 collides 0 1\nbrush to anim 0 4 5 255\ncentred 152 184\n"), std::string::npos) << r.out;
}

// A select command that fails ends the selection before it all the same:
// a wrong object type for a mask or an alpha channel, a missing BGPic's
// mask, a missing BGPic and an anim's plane without a frame leave brush 11 as it was and the display
// drawing to itself, so the next full-display box is on the display and
// EndSelect finds nothing to end (1055).
TEST_F(Libraries, AFailingSelectionLeavesTheDisplayDrawingToItself) {
  std::string script = R"(.line 1
.call exitonerror 0
.call createbrush 11 4 4 0xFFFFFF
.call setfillstyle 1
)";
  const std::pair<const char*, int> calls[] = {{"selectmask 11 99", 1055},
                                               {"selectalphachannel 11 7", 1055},
                                               {"selectmask 77 1", 1177},
                                               {"selectalphachannel 77 1", 1177},
                                               {"selectbgpic 77", 1177},
                                               {"selectbgpic 77 28", 1177},
                                               {"selectalphachannel 11 4", 1014},
                                               {"selectbrush 78", 1174}};
  std::string want;
  int color = 0x10;
  for (const auto& [call, code] : calls) {
    const std::string c = std::to_string(color);
    script += std::string(".call selectbrush 11\n.call ") + call + "\n.call getlasterror -> e\n.call box 0 0 640 480 " +
              c + "\n.call endselect\n.call getlasterror -> f\n.call readpixel 5 5 -> d\n"
              ".call readbrushpixel 11 0 0 -> b\n.call debugprint \"" + call + "\" $e $f $d $b\n";
    want += std::string(call) + " " + std::to_string(code) + " 1055 " + c + " 16777215\n";
    color += 0x10;
  }
  Result r = Run({Applet("failedselect", script)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, want);
}

// A brush the script freed while a layer shows it stays for that layer,
// but it is no longer the script's: HaveObject, GetObjectType, GetObjects
// and the object count pass it by, whether it had a number or a handle.
// Freeing the BGPic takes its layers; CollectGarbage then frees the brush.
TEST_F(Libraries, ObjectsFreedWhileLayersShowThemAreGoneForTheScript) {
  Result r = Run({Applet("orphans", R"(.line 1
.call createbrush nil 8 8 0xFF0000 -> h
.call createbrush 5 8 8 0x0000FF
.call createbgpic 2 32 32
.call displaybgpic 2
.call enablelayers
.call displaybrush $h 0 0
.call displaybrush 5 10 0
.call freebrush $h
.call freebrush 5
.call haveobject 3 $h -> a
.call haveobject 3 5 -> b
.call getobjecttype $h -> t
.call getobjects 3 -> l n
.call getattribute 3 nil 60 -> c
.call debugprint $a $b $t $n $c
.call createbrush 5 4 4 0x00FF00
.call getobjects 3 -> l n
.call debugprint $n
.call createbgpic 3 32 32
.call displaybgpic 3
.call freebgpic 2
.call collectgarbage
.call getattribute 3 nil 60 -> c
.call haveobject 3 5 -> b
.call debugprint $c $b)")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0 0 -1 0 0\n1\n1 1\n");
}

// Two sprites of a disc whose boxes overlap at their corners do not
// collide; moved closer, they do. The window shows both where they are.
TEST_F(Libraries, SpritesCollideWhereTheirPixelsMeetNotTheirBoxes) {
  const std::string disc = dir() + "/disc.bmp";
  int status = 0;
  Tool("convert -size 20x20 xc:black +antialias -fill white -draw 'circle 9.5,9.5 9.5,1' -type truecolor " +
           vlplayer::Quote(disc),
       &status);
  ASSERT_EQ(status, 0);
  std::string applet = Applet(
      "sprites", ".line 1\n.table 0 { transparency = 0 }\n.call base=1 loadbrush 1 " + Lit(disc) +
                     " r0\n.call createsprite 1 3 1\n.call createsprite 2 3 1\n"
                     ".call displaysprite 1 0 0\n.call displaysprite 2 16 16\n.call collision 32 1 2 -> apart\n"
                     ".call debugprint $apart\n.call collision 48 2 34 34 4 4 -> box\n.call debugprint $box\n"
                     ".call displaysprite 2 6 6\n.call collision 32 1 2 -> near\n.call debugprint $near\n"
                     ".call wait 5\n.call savesnapshot " + Lit(dir() + "/near.bmp") + " 0\n");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0\n0\n1\n");
  // Sprite 1's disc centre, and sprite 2's centre over black between them.
  EXPECT_EQ(Tool("convert " + vlplayer::Quote(dir() + "/near.bmp") + " -format '%[pixel:p{9,9}] %[pixel:p{16,16}] "
                 "%[pixel:p{1,18}]' info:"),
            "srgb(255,255,255) srgb(255,255,255) srgb(0,0,0)");
}

// A video playing on a layer, sought to 3 s: 100 ms later its position is
// past 3 s and the window shows the frame of that time (an MJPEG AVI whose
// frame n has red 4n, 10 frames a second).
TEST_F(Libraries, AVideoLayerSoughtWhilePlayingShowsAndAnswersTheNewPlace) {
  const std::string video = dir() + "/count.avi";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i color=c=black:s=64x48:r=10:d=6 -vf \"geq=r='N*4':g=128:b=64\" -c:v mjpeg "
       "-q:v 2 " + vlplayer::Quote(video),
       &status);
  ASSERT_EQ(status, 0);
  std::string applet =
      Applet("seek", ".line 1\n.call enablelayers\n.call openvideo 1 " + Lit(video) +
                         "\n.table 0 { uselayer = 1 }\n.call base=1 playvideo 1 0 0 r0\n.call wait 15\n"
                         ".call seeklayer 1 3000\n.call wait 5\n.call getattribute 22 1 18 -> before\n"
                         // Above 100 % a layer's volume is clamped to 64, as every volume is.
                         ".call exitonerror 0\n.call setlayervolume 1 \"150%\"\n.call getlasterror -> v\n"
                         ".call savesnapshot " + Lit(dir() + "/seek.bmp") + " 0\n"
                         ".call getattribute 22 1 18 -> after\n.call debugprint $before $after $v\n");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  int before = 0, after = 0, volume = -1;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %d %d", &before, &after, &volume), 3) << r.out;
  EXPECT_EQ(volume, 0);
  EXPECT_GE(before, 3000);
  EXPECT_LT(before, 3400);
  EXPECT_GE(after, before);
  const int red = std::atoi(Tool("convert " + vlplayer::Quote(dir() + "/seek.bmp") +
                                 " -format '%[fx:int(255*p{20,20}.r+0.5)]' info:")
                                .c_str());
  const int shown = (red + 2) / 4;
  EXPECT_GE(shown, before / 100 - 1) << "red " << red;
  EXPECT_LE(shown, after / 100 + 1) << "red " << red;
}

// A video paused at its start, sought into its last frames and resumed
// ends, round after round, with and without sound: the end reached while
// the resume waited for the player's threads used to be overwritten by
// "playing", and a clip whose packets were all read before the pause lost
// the sound read after the seek, so the end never came and the next
// PlayVideo failed with 1501. The clips are short enough to be read whole
// at once. Each round prints the position and IsVideoPlaying once it
// reports 0 (or after 3 s). Last, the clip with sound plays from its start
// to its end: the file sink, which takes sound at once, records as much
// sound as the clip has (ffmpeg's reading of it), not sound written ahead.
// So does a clip whose sound, one packet, goes on a second after its
// last picture: the video ends once its sound has played, not once its
// last picture has and its last packet is taken (that cut the sound, and
// under load even the sound of the clip of equal lengths).
TEST_F(Libraries, VideosSoughtIntoTheirLastFrameWhilePausedEndOnResume) {
  const std::string quiet = dir() + "/quiet.avi", sound = dir() + "/sound.avi", tail = dir() + "/tail.avi";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -t 1.5 -c:v mjpeg -q:v 5 " +
           vlplayer::Quote(quiet),
       &status);
  ASSERT_EQ(status, 0);
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=22050 "
       "-t 1.5 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 1 " + vlplayer::Quote(sound),
       &status);
  ASSERT_EQ(status, 0);
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=0.5 -f lavfi -i "
       "sine=frequency=440:sample_rate=22050:samples_per_frame=33075:duration=1.5 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 1 " +
           vlplayer::Quote(tail),
       &status);
  ASSERT_EQ(status, 0);
  // Positions 1440 to 1497: the last two frames (1440-1479, 1480-1499).
  auto rounds = [](int id) {
    const std::string v = std::to_string(id), l = "v" + v;
    return "loadk 1 #1437\nloadk 2 #1497\nloadk 3 #3\njump " + l + "next\n" + l + "body:\n"
           ".call base=8 playvideo " + v + "\n.call base=8 pausevideo " + v + "\n.call base=8 seekvideo " + v +
           " r1\n.call base=8 resumevideo " + v + "\n" + WaitForVideoEnd(l + "poll", id, 150) +
           ".call base=8 isvideoplaying " + v + " -> p\n.call base=8 debugprint r1 $p\n" + l + "next:\nforloop 1 " +
           l + "body\n";
  };
  const std::string applet =
      Applet("lastframe", ".line 1\n.table 0 { width = 320, height = 240, color = 0, title = \"lastframe\" }\n"
                          ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(quiet) +
                              "\n.call openvideo 2 " + Lit(sound) + "\n" + rounds(1) + rounds(2) +
                          ".call base=8 playvideo 2\n" + WaitForVideoEnd("full", 2, 250) + ".call base=8 stopvideo 2\n"
                          ".call base=8 debugprint \"whole\" $p\n.call openvideo 3 " + Lit(tail) +
                          "\n.call base=8 playvideo 3\n" + WaitForVideoEnd("tail", 3, 250) +
                          ".call base=8 stopvideo 3\n.call base=8 debugprint \"tail\" $p\n");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string want;
  for (int round = 0; round < 2; ++round)
    for (int p = 1440; p <= 1497; p += 3) want += std::to_string(p) + " 0\n";
  EXPECT_EQ(r.out, want + "whole 0\ntail 0\n");
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_GE(sink.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const std::string& clip = i ? tail : sound;
    Tool("ffmpeg -v error -y -i " + vlplayer::Quote(clip) + " -vn " + vlplayer::Quote(dir() + "/track.wav"), &status);
    ASSERT_EQ(status, 0);
    const double track = vlplayer::SoxStat(dir() + "/track.wav", "Length (seconds)");
    EXPECT_NEAR(track, 1.5, 0.05) << clip;
    const std::string& recorded = sink[sink.size() - 2 + i];
    EXPECT_NEAR(vlplayer::SoxStat(recorded, "Length (seconds)"), track, 0.2) << recorded;
  }
}

// A video whose first two seconds of sound come in one packet, a tone,
// and whose sound after that is silence: paused 0.2 s after its start
// for a second, sought to 2.5 s and resumed, it plays the tone only until
// the pause. The rest of the packet decoded before the pause neither
// sounds while paused nor after the resume, so the file sink records a
// few tenths of a second of tone, not one and a half or two (the tone
// heard is measured by sox against the clip's own sound, which ffmpeg
// reads out of it).
TEST_F(Libraries, SoundFromBeforeAPausedSeekIsNotHeardAfterTheResume) {
  const std::string clip = dir() + "/tone.avi", track = dir() + "/track.wav";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
       "sine=frequency=440:sample_rate=22050:samples_per_frame=44100:duration=2,apad -t 3.5 -c:v mjpeg -q:v 5 "
       "-c:a pcm_s16le -ac 1 " + vlplayer::Quote(clip),
       &status);
  ASSERT_EQ(status, 0);
  Tool("ffmpeg -v error -y -i " + vlplayer::Quote(clip) + " -vn -t 2 " + vlplayer::Quote(track), &status);
  ASSERT_EQ(status, 0);
  const std::string applet =
      Applet("pausedseek", ".line 1\n.table 0 { width = 320, height = 240, color = 0, title = \"pausedseek\" }\n"
                           ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(clip) +
                           "\n.call playvideo 1\n.call wait 10\n.call pausevideo 1\n.call wait 50\n"
                           ".call seekvideo 1 2500\n.call resumevideo 1\n" + WaitForVideoEnd("poll", 1, 250) +
                           ".call stopvideo 1\n"
                           ".call debugprint \"ended\" $p\n");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ended 0\n");
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 1u);
  // Seconds of tone: the recording's power over the tone's power.
  const double rms = vlplayer::SoxStat(sink[0], "RMS     amplitude"),
               length = vlplayer::SoxStat(sink[0], "Length (seconds)"),
               toneRms = vlplayer::SoxStat(track, "RMS     amplitude");
  ASSERT_GT(toneRms, 0.05);
  const double toneSeconds = rms * rms * length / (toneRms * toneRms);
  EXPECT_GT(toneSeconds, 0.02) << "the tone before the pause is missing";
  EXPECT_LT(toneSeconds, 0.9) << "sound from before the pause played on";
}

// A video with sound paused half a second in, and the same video once it
// has played to its end, both still open, rest: over a second no thread
// of the player is woken more than 150 times (the X pointer watch wakes
// about 100 times, the sound output 50), all of them together at most 400
// times (a paused video's refresh thread alone was woken about 1,000 times
// a second, and an ended one's threads went round without pause once the
// packets had run out). What they cost in CPU time is measured in
// bench/sound_pacing_bench.cpp.
TEST_F(Libraries, PausedAndEndedVideosRestUntilTheyAreResumedOrStopped) {
  const std::string clip = dir() + "/clip.avi";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=22050 "
       "-t 2 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 1 " + vlplayer::Quote(clip),
       &status);
  ASSERT_EQ(status, 0);
  auto rest = [&](const std::string& name) {
    return ".call stringtofile \"1\" " + Lit(dir() + "/" + name) + "\n" +
           vlplayer::WaitUntilFileExists(dir() + "/" + name + ".done", name);
  };
  const std::string applet =
      Applet("resting", ".line 1\n.table 0 { width = 160, height = 120, color = 0, title = \"resting\" }\n"
                        ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(clip) +
                            "\n.call playvideo 1\n.call wait 25\n.call pausevideo 1\n" + rest("paused") +
                            ".call resumevideo 1\n" + WaitForVideoEnd("poll", 1, 500) + rest("ended") +
                            ".call debugprint \"ended\" $p\n.call stopvideo 1\n");
  std::map<std::string, std::pair<long long, long long>> most;  // case: busiest thread, all threads
  // Voluntary context switches (a thread that slept and was woken), by thread.
  auto wakeUps = [&](pid_t player) {
    std::map<std::string, long long> counts;
    std::istringstream lines(Tool("cd /proc/" + std::to_string(player) +
                                  "/task && grep -H '^voluntary_ctxt_switches' */status"));
    for (std::string line; std::getline(lines, line);)
      counts[line.substr(0, line.find('/'))] = std::atoll(line.c_str() + line.rfind(':') + 1);
    return counts;
  };
  RunOptions options;
  options.whileRunning = [&](pid_t player, const std::string&) {
    for (const char* name : {"paused", "ended"}) {
      const std::string marker = dir() + "/" + name;
      for (int i = 0; i < 300 && access(marker.c_str(), F_OK) != 0; ++i) usleep(50000);
      if (access(marker.c_str(), F_OK) != 0) return;
      usleep(300000);  // settled
      const std::map<std::string, long long> before = wakeUps(player);
      usleep(1000000);
      long long busiest = 0, all = 0;
      for (const auto& [thread, count] : wakeUps(player)) {
        const auto was = before.find(thread);
        const long long woken = count - (was == before.end() ? 0 : was->second);
        busiest = std::max(busiest, woken);
        all += woken;
      }
      most[name] = {busiest, all};
      WriteFile(std::string(name) + ".done", "");
    }
  };
  Result r = Run({applet}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ended 0\n");
  for (const char* name : {"paused", "ended"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(most.count(name), 1u) << "not measured";
    std::printf("%s video: busiest thread woken %lld times, all %lld\n", name, most[name].first, most[name].second);
    EXPECT_LE(most[name].first, 150);
    EXPECT_LE(most[name].second, 400);
  }
}

// Writes little-endian values over the sound stream's format of an AVI
// file: {offset from "strf", value, bytes}.
struct FormatEdit {
  size_t offset;
  uint32_t value, bytes;
};
bool EditSoundFormat(const std::string& path, const std::vector<FormatEdit>& edits) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) return false;
  std::string bytes(1 << 16, '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  const size_t format = bytes.find("strf", bytes.find("auds"));
  bool done = format != std::string::npos && format != 0;
  for (const FormatEdit& e : edits) {
    const unsigned char le[4] = {uint8_t(e.value), uint8_t(e.value >> 8), uint8_t(e.value >> 16),
                                 uint8_t(e.value >> 24)};
    done = done && std::fseek(f, long(format + e.offset), SEEK_SET) == 0 && std::fwrite(le, 1, e.bytes, f) == e.bytes;
  }
  return std::fclose(f) == 0 && done;
}

// A video whose sound stream declares 1 sample a second is refused when
// it is opened (its sound filled the packet queue until no picture could
// be read, and PauseVideo then waited for ever for a picture to pause on),
// and so is one declaring more than any output plays; so, the same way,
// is every other sound the player cannot play, which opened and played
// silent as if all were well: rate 0 or 2^31, 0 or 255 channels, 0, 7 or
// 32 bits, a format other than PCM (ADPCM's tag 2; the extensible header
// of another sub-format). One at the lowest pitch, whose sound outlasts
// its pictures as far, the clip as it was made and one at 96 kHz under
// the extensible header pause at once. An end signal while the last one
// is paused ends the player by that signal.
TEST_F(Libraries, AVideoPausesAtOnceOrIsRefusedWhateverRateItsSoundDeclares) {
  const std::string marker = dir() + "/paused";
  std::string body = ".line 1\n.table 0 { width = 160, height = 120, color = 0, title = \"rates\" }\n"
                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call exitonerror 0\n";
  // Offsets from "strf": tag 8, channels 10, rate 12, block 20, bits 22,
  // and in the extensible form the sub-format's first byte at 32.
  const std::vector<std::pair<std::string, std::vector<FormatEdit>>> cases = {
      {"1", {{12, 1, 4}}},
      {"1000000000", {{12, 1000000000, 4}}},
      {"0", {{12, 0, 4}}},
      {"2147483648", {{12, 2147483648u, 4}}},
      {"nochannel", {{10, 0, 2}, {20, 0, 2}}},
      {"channels255", {{10, 255, 2}, {20, 510, 2}}},
      {"bits0", {{22, 0, 2}, {20, 0, 2}}},
      {"bits7", {{22, 7, 2}, {20, 2, 2}}},
      {"bits32", {{22, 32, 2}, {20, 8, 2}}},
      {"adpcm", {{8, 2, 2}}},
      {"float96k", {{32, 3, 1}}},
      {"256", {{12, 256, 4}}},
      {"44100", {}},
      {"96000", {}},
  };
  int id = 0;
  for (const auto& [name, edits] : cases) {
    const std::string clip = dir() + "/rate" + name + ".avi", v = std::to_string(++id);
    const std::string rate = name.find("96") != std::string::npos ? "96000" : "44100";
    int status = 0;
    Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=" +
             rate + " -t 1 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 2 " + vlplayer::Quote(clip),
         &status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(EditSoundFormat(clip, edits));
    body += ".call openvideo " + v + " " + Lit(clip) + "\n.call getlasterror -> e\n.call debugprint " + Lit(name) +
            " $e\n.call playvideo " + v + "\n.call wait 10\n.call pausevideo " + v + "\n.call getlasterror -> e\n"
            ".call debugprint \"paused\" $e\n";
  }
  RunOptions options;
  options.timeoutSeconds = 30;
  bool signalled = false;
  options.whileRunning = [&](pid_t player, const std::string&) {
    for (int i = 0; i < 1000 && access(marker.c_str(), F_OK) != 0; ++i) usleep(20000);
    signalled = access(marker.c_str(), F_OK) == 0 && kill(player, SIGTERM) == 0;
  };
  Result r = Run({Applet("rates", body + ".call stringtofile \"1\" " + Lit(marker) + "\n.call wait 1000\n")}, options);
  EXPECT_TRUE(signalled);
  EXPECT_EQ(r.status, -SIGTERM) << r.out << r.err;
  std::string expected;
  for (const auto& c : cases) {
    const bool plays = c.first == "256" || c.first == "44100" || c.first == "96000";
    expected += c.first + (plays ? " 0\npaused 0\n" : " 1450\npaused 1449\n");
  }
  EXPECT_EQ(r.out, expected);
}

// Every export writes the frames and sound it is asked for, whatever came
// before it: an export, then SeekVideo 0, then another wrote no picture
// and a WAV of its header alone, answering 0; after SeekVideo 1000 the
// export starts there. Each export's pictures are ffmpeg's decoding of the
// frames, its WAV the clip's sound (sample i holds i + 1) from the place
// sought to the end: from the sound chunk at or before it, which the AVI
// holds in chunks of at most a tenth of a second here. A position of -2^31
// is no overflow (nothing shown, every frame written); a prefix of 1,200
// characters is used in full (it was cut at 1,100 into one file without
// an extension), and one longer than any path is refused with 1052, as is
// one in no folder; the export after those starts at the place sought
// before them.
TEST_F(Libraries, AnExportAfterAnExportAndASeekWritesTheSpanSought) {
  const std::string clip = dir() + "/clip.avi";
  std::string ramp;
  for (int i = 0; i < 24000; ++i) ramp += std::string{char((i + 1) & 0xff), char((i + 1) >> 8)};
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=10 -f s16le -ar 8000 -ac 1 -i " +
           vlplayer::Quote(WriteFile("ramp.raw", ramp)) + " -t 3 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " +
           vlplayer::Quote(clip),
       &status);
  ASSERT_EQ(status, 0);
  const std::string frames = Tool("ffmpeg -v error -i " + vlplayer::Quote(clip) + " -f rawvideo -pix_fmt rgb24 -");
  const std::string sound = Tool("ffmpeg -v error -i " + vlplayer::Quote(clip) + " -f s16le -");
  constexpr size_t kFrameBytes = 32 * 24 * 3;
  ASSERT_EQ(frames.size(), 30 * kFrameBytes);
  ASSERT_EQ(sound, ramp);
  std::string dots;
  for (int i = 0; i < 600; ++i) dots += "./";
  const std::string longPrefix = dir() + "/" + dots + "e", tooLong = dir() + "/" + dots + dots + dots + dots + "t";
  auto dump = [&](const std::string& args, const std::string& label) {
    return ".call dumpvideo 1 " + args + "\n.call getlasterror -> e\n.call debugprint " + Lit(label) + " $e\n";
  };
  Result r = Run({Applet("export", ".line 1\n.table 0 { width = 64, height = 48, color = 0, title = \"export\" }\n"
                                   ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call exitonerror 0\n"
                                   ".call openvideo 1 " + Lit(clip) + "\n" +
                                   dump("0 0 " + Lit(dir() + "/a") + " 0", "a") + ".call seekvideo 1 0\n" +
                                   dump("0 0 " + Lit(dir() + "/b") + " 0", "b") + ".call seekvideo 1 1000\n" +
                                   dump("0 0 " + Lit(dir() + "/c") + " 0", "c") +
                                   dump("-2147483648 -2147483648 " + Lit(dir() + "/d") + " 0", "d") +
                                   dump("0 0 " + Lit(longPrefix) + " 0", "long") + ".call seekvideo 1 2000\n" +
                                   dump("0 0 " + Lit(tooLong) + " 0", "too long") +
                                   dump("0 0 " + Lit(dir() + "/none/f") + " 0", "no folder") +
                                   dump("0 0 " + Lit(dir() + "/g") + " 0", "g") +
                                   // The same from a video that played on a layer and stopped.
                                   ".call enablelayers\n.table 0 { uselayer = 1 }\n.call base=1 playvideo 1 0 0 r0\n"
                                   ".call getlasterror -> e\n.call debugprint \"played\" $e\n.call wait 25\n.call stopvideo 1\n"
                                   ".call seekvideo 1 1000\n" +
                                   dump("0 0 " + Lit(dir() + "/h") + " 0", "h"))});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "a 0\nb 0\nc 0\nd 0\nlong 0\ntoo long 1052\nno folder 1052\ng 0\nplayed 0\nh 0\n");
  auto check = [&](const std::string& prefix, int first) {
    SCOPED_TRACE(prefix);
    const std::string got =
        Tool("ffmpeg -v error -i " + vlplayer::Quote(prefix + "%d.bmp") + " -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(got.size(), (30 - first) * kFrameBytes);
    EXPECT_TRUE(got == frames.substr(first * kFrameBytes)) << "the frames from " << first;
    std::ifstream in(prefix + ".wav", std::ios::binary);
    const std::string wav{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GE(wav.size(), 46u);
    const size_t bytes = uint8_t(wav[40]) | uint8_t(wav[41]) << 8 | uint8_t(wav[42]) << 16;
    ASSERT_EQ(wav.size(), 44 + ((bytes + 3) & ~size_t(3)));
    const int start = (uint8_t(wav[44]) | uint8_t(wav[45]) << 8) - 1;
    EXPECT_LE(start, first * 800);
    EXPECT_GE(start, first * 800 - 800);
    EXPECT_TRUE(wav.substr(44, bytes) == ramp.substr(size_t(std::max(start, 0)) * 2)) << "the sound from " << start;
  };
  check(dir() + "/a", 0);
  check(dir() + "/b", 0);
  check(dir() + "/c", 10);
  check(dir() + "/d", 0);
  // Exports that could not start leave the place sought for the next.
  check(dir() + "/g", 20);
  check(dir() + "/h", 10);
  EXPECT_TRUE(access((dir() + "/e.wav").c_str(), F_OK) == 0 && access((dir() + "/e29.bmp").c_str(), F_OK) == 0);
  EXPECT_NE(access((dir() + "/t.wav").c_str(), F_OK), 0);
}

// Paths without length used to end the player inside the stroker: a
// stroked curve whose points coincide, a circle of radius 0, and an arc
// moved so far that its points meet. Each fails as an empty path, or
// measures as nothing, and the applet goes on to its end.
TEST_F(Libraries, PathsWithoutLengthFailAsEmptyAndTheAppletGoesOn) {
  std::string applet = Applet("degenerate", R"(.line 1
.call exitonerror 0
.call setfillstyle 0 3
.call startpath 1
.call moveto 1 10 10
.call curveto 1 10 10 10 10 10 10
.call drawpath 1 0 0 16777215
.call getlasterror -> a
.call setfillstyle 1
.call startpath 2
.call addcircletopath 2 20 20 0
.call drawpath 2 0 0 16777215
.call getlasterror -> b
.call startpath 3
.call addarctopath 3 20 20 10 10 0 90
.call translatepath 3 1e308 1e308
.call getpathextents 3 -> x1 y1 x2 y2
.call debugprint $a $b $x1 $y1 $x2 $y2
.call debugprint "end")");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1394 1394 0 0 0 0\nend\n");
}

// Shapes and frames placed or sized past 32 bits (a NaN, an infinity or a
// huge number arrives as the smallest integer) used to overflow the shape
// and blit arithmetic, or ask for petabytes of working memory. A shape no
// picture can hold fails with 1522, one far off the display draws nothing
// (and, as a layer, fails with 1217), a path layer larger than any picture
// is out of memory without asking for it, a brush layer scaled past any
// picture fails with 1522 (its size no longer wraps to one pixel), and the
// display still draws.
TEST_F(Libraries, ShapesAndFramesPastThirtyTwoBitsFailCleanlyAndDrawingGoesOn) {
  std::string applet = Applet("farshapes", R"(.line 1
.call exitonerror 0
.call box 2147483647 2147483647 2147483647 2147483647 255
.call getlasterror -> a
.call box 2147483647 -2147483648 10 10 255
.call getlasterror -> b
.call circle 0 0 100000000 255
.call getlasterror -> c
.call ellipse 2147483647 -2147483648 2147483647 2147483647 255
.call getlasterror -> d
.call polygon 0 0 {2147483647,2147483647,-2147483648,0,0,-2147483648} 3 255
.call getlasterror -> e
.call debugprint $a $b $c $d $e
.call setlinewidth 1000000000
.call box 0 0 10 10 255
.call getlasterror -> a
.call setlinewidth 1
.call createbrush 1 64 64 255
.call createanim 2 1 32 32 4 2
.call displayanimframe 2 1e300 -1e300 1
.call getlasterror -> b
.call beginanimstream 3 "s.gif" 10 10
.call writeanimframe 3 1 { x = 2147483647, y = 2147483647 }
.call getlasterror -> c
.call finishanimstream 3
.call setfillstyle 1
.call box 0 0 10 10 16711680
.call readpixel 5 5 -> p
.call debugprint $a $b $c $p
.call enablelayers
.call circle 2147483647 2147483647 10 255
.call getlasterror -> a
.call box -2147483648 0 5 5 255
.call getlasterror -> b
.call startpath 4
.call moveto 4 0 0
.call lineto 4 300 200
.call lineto 4 0 200
.call drawpath 4 0 0 255 { scalex = 1e6, scaley = 1e6 }
.call getlasterror -> c
.call displaybrush 1 0 0 { scalex = 1e9, scaley = 1e9 }
.call getlasterror -> d
.call debugprint $a $b $c $d)");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1522 0 1522 1522 1522\n1522 0 0 16711680\n1217 1217 1000 1522\n");
}

// Sprites and layers sent past 32 bits used to overflow the redraw of the
// rectangle they left and entered; they are held far off the display
// instead, and come back when placed again. Buttons reaching past 32 bits
// (placed by a position constant too) end at the last place a pointer can be.
TEST_F(Libraries, SpritesAndLayersSentPastThirtyTwoBitsStayFarOffAndComeBack) {
  std::string applet = Applet("farobjects", R"(.function onup
  .params 1
  ret
.end
.defun OnUp onup
.line 1
.call exitonerror 0
.call createbrush 1 16 16 255
.call createsprite 1 3 1
.call displaysprite 1 2147483647 2147483647
.call getlasterror -> a
.call displaysprite 1 -1e300 1e300
.call getlasterror -> b
.call displaysprite 1 10 10
.call getlasterror -> c
.call removesprites
.call debugprint $a $b $c
.call makebutton 2 0 2147483647 2147483647 2147483647 2147483647 { onmouseup = $OnUp }
.call getlasterror -> a
.call makebutton 3 0 -80000 -60000 2147483647 2147483647 { onmouseup = $OnUp }
.call getlasterror -> b
.call movepointer 100 100
.call checkevents
.call debugprint $a $b
.call enablelayers
.call displaybrush 1 2147483647 2147483647
.call getlasterror -> a
.call translatelayer 1 -1e300 -1e300
.call getlasterror -> b
.call translatelayer 1 2147483647 0
.call getlasterror -> c
.call showlayer 1 20 30
.call getlayerstyle 1 -> s
getglobal 0 "s"
getfield 1 0 "x"
getfield 2 0 "y"
.call base=3 debugprint $a $b $c r1 r2)");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0 0 0\n0 0\n0 0 0 20 30\n");
}

// Moves and transitions with ends or places past 32 bits, or a speed near
// the largest integer, used to overflow their step and clipping
// arithmetic; they run (far off the display) and the applet goes on.
TEST_F(Libraries, MovesAndEffectsPastThirtyTwoBitsRunAndTheAppletGoesOn) {
  std::string applet = Applet("farmoves", R"(.line 1
.call exitonerror 0
.call createbrush 1 16 16 255
.call createbgpic 3 1 1 255
.call movebrush 1 -2147483648 -2147483648 2147483647 2147483647 { speed = 1000000000 }
.call getlasterror -> a
.call movebrush 1 0 0 2147483647 0 { speed = 2147483647 }
.call getlasterror -> b
.call displaybrushfx 1 2147483647 2147483647 115
.call getlasterror -> c
.call displaybgpicpartfx 3 0 0 1 1 115 1 0 2147483647 2147483647
.call getlasterror -> d
.call debugprint $a $b $c $d
.call enablelayers
.call displaybrush 1 0 0
.call movelayer 1 -2147483648 -2147483648 2147483647 2147483647 { speed = 1000000000 }
.call getlasterror -> a
.call debugprint $a "end")");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0 0 0 0\n0 end\n");
}

// A playing video moved past 32 bits used to overflow the clipping of the
// frames its refresh thread draws; it is held far off and comes back.
TEST_F(Libraries, AVideoMovedPastThirtyTwoBitsPlaysOnFarOffAndComesBack) {
  const std::string video = dir() + "/v.avi";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=10 -t 1 -c:v mjpeg " + vlplayer::Quote(video), &status);
  ASSERT_EQ(status, 0);
  std::string applet = Applet("farvideo", R"(.line 1
.call exitonerror 0
.call openvideo 1 )" + Lit(video) + R"(
.call playvideo 1 0 0
.call setvideoposition 1 -2147483648 -2147483648
.call getlasterror -> a
.call wait 10
.call setvideoposition 1 1e300 2147483647
.call getlasterror -> b
.call wait 10
.call setvideoposition 1 10 10
.call getlasterror -> c
.call wait 5
.call stopvideo 1
.call debugprint $a $b $c)");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0 0 0\n");
}

// Contrast passes repeated a billion times used to run for hours; the
// passes stop once one changes nothing, which leaves the picture exactly
// as the full count would: equal to a few hundred passes.
TEST_F(Libraries, AContrastRepeatedABillionTimesEndsAtThePictureItSettlesOn) {
  std::string applet = Applet("contrast", R"(.line 1
.call setfillstyle 1
.call createbrush 1 32 32 255
.call selectbrush 1
.call box 0 0 16 32 12345678
.call box 16 0 16 32 8421504
.call endselect
.call copybrush 1 2
.call contrastbrush 1 1 400
.call contrastbrush 2 1 1000000000
.call readbrushpixel 1 4 4 -> a
.call readbrushpixel 2 4 4 -> b
.call readbrushpixel 1 20 4 -> c
.call readbrushpixel 2 20 4 -> d
.call debugprint $a $b $c $d)");
  RunOptions options;
  options.timeoutSeconds = 20;
  Result r = Run({applet}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  int a = -1, b = -2, c = -3, d = -4;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %d %d %d", &a, &b, &c, &d), 4) << r.out;
  EXPECT_EQ(a, b);
  EXPECT_EQ(c, d);
  EXPECT_NE(a, 12345678);  // the passes did change the picture
}

// An argument of the wrong type stops the script from inside a command
// that had already made something: the sprites gathered for a joined
// sprite, a move's job, a mix's buffers, the menu items read so far, a new
// display's record and the copies of a changed one. Each goes with the
// error (the sanitizer build's leak check sees it).
TEST_F(Libraries, ArgumentsOfTheWrongTypeStopTheScriptWithoutALeak) {
  const struct {
    const char* call;
    const char* message;
  } cases[] = {
      {"createsprite 2 32 1 { 1 }", "Number expected in argument 4!"},
      {"movebrush 1 0 0 9 9 { speed = \"fast\" }", "Number expected in table argument \"speed\"!"},
      {"mixsample nil 100 8000 1 1 { pitch = \"high\" }", "Number expected in table argument \"pitch\"!"},
      {"createmenu 1 { { \"File\", { { \"Open\", flags = \"x\" } } } }",
       "Number expected in table argument \"flags\"!"},
      {"createdisplay 5 { width = \"wide\" }", "Number expected in table argument \"width\"!"},
      {"setdisplayattributes { title = {} }", "String expected in table argument \"title\"!"},
  };
  for (const auto& c : cases) {
    std::string applet = Applet("wrongtype", std::string(R"(.line 1
.call createbrush 1 16 16 255
.call createsprite 1 3 1
.call createsample 1 {0, 1, 2, 3} 8000
.line 2
.call )") + c.call + R"(
.call debugprint "not reached")");
    Result r = Run({applet, "-DEBUGDEVICE", "console"});
    EXPECT_EQ(r.status, 1) << c.call << r.out << r.err;
    EXPECT_NE(r.out.find(std::string("@wrongtype.vls:2: ") + c.message), std::string::npos) << c.call << r.out;
    EXPECT_EQ(r.err.find("LeakSanitizer"), std::string::npos) << c.call << r.err;
  }
}

}  // namespace

// Layers named in draw options and layers given to the user-data commands
// are found in the current BGPic by position or name, and a layer's data
// goes with it.
TEST_F(Libraries, LayersAreFoundByNameForInsertPositionsAndUserData) {
  std::string applet = Applet("layerdata", R"(.line 1
.call enablelayers
.table 0 { name = "a" }
.call base=2 box 10 10 20 20 $ff0000 r0
.table 1 { name = "b", insertpos = "a" }
.call base=2 box 15 15 20 20 $0000ff r1
.call setobjectdata 22 "a" "k" 42
.call getobjectdata 22 2 "k" -> v
.call debugprint $v
.call haveobjectdata 22 "b" "k" -> h
.call debugprint $h
.call removelayer "a"
.call exitonerror 0
.call getobjectdata 22 "a" "k"
.call getlasterror -> e
.call debugprint $e)");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "42\n0\n1081\n");
}

// Layer positions past the int range are past the last layer, not negative:
// InsertLayer at 2^31, 2^32 - 1 or 1e300 adds on top, as does an insertpos
// of 2^31, and SetLayerZPos to 2^31 brings a layer to the front (naming
// the frontmost place again is then refused with 1055); a negative or
// not-a-number insert position is refused with 1370, a command's layer at
// 2^31 with 1081.
TEST_F(Libraries, LayerPositionsPastTheIntRangeArePastTheLastLayer) {
  std::string script = R"(.line 1
.call exitonerror 0
.call enablelayers
.call createbrush 1 4 4 0xFF0000
.table 0 { name = "a" }
.call base=1 box 0 0 4 4 255 r0
loadk 0 #1e308
mul 0 0 0
sub 0 0 0
setglobal 0 "nan"
)";
  auto step = [](const std::string& label, const std::string& call) {
    return ".call " + call + "\n.call getlasterror -> e\n.call debugprint \"" + label + "\" $e\n";
  };
  script += step("2^31", "insertlayer 2147483648 3 1 0 0") + step("named 2", "setlayername 2 \"big\"") +
            step("1e300", "insertlayer 1e300 3 1 0 0") + step("named 3", "setlayername 3 \"huge\"") +
            step("2^32-1", "insertlayer 4294967295 3 1 0 0") + step("named 4", "setlayername 4 \"top\"") +
            step("nan", "insertlayer $nan 3 1 0 0") + step("-1", "insertlayer -1 3 1 0 0") +
            step("-0.5", "insertlayer -0.5 3 1 0 0") + step("z 2^31", "setlayerzpos \"a\" 2147483648") +
            step("a on top", "setlayerzpos \"a\" 4") + step("layer 2^31", "layertoback 2147483648") +
            ".table 0 { insertpos = 2147483648, name = \"box\" }\n.call base=1 box 0 0 4 4 255 r0\n" +
            step("insertpos 2^31", "setlayerzpos \"box\" 5");
  Result r = Run({Applet("positions", script)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "2^31 0\nnamed 2 0\n1e300 0\nnamed 3 0\n2^32-1 0\nnamed 4 0\nnan 1370\n-1 1370\n-0.5 1370\n"
                   "z 2^31 0\na on top 1055\nlayer 2^31 1081\ninsertpos 2^31 1055\n");
}
