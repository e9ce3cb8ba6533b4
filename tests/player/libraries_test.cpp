// The command libraries as a user's applet drives them, where the script's
// own actions used to destroy data or free what a command still used: a
// file copied onto itself, a poke into a block borrowed from a string,
// callbacks that close the file or connection their command works on, a
// malformed pattern, sprites that collide only where their pixels do, and
// a video layer sought while it plays, shapes past 32 bits; position
// constants and text inside a clip region, and the default font as the
// window shows it. The sanitizer build runs the same applets under ASan.
#include <sys/stat.h>
#include <unistd.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"

// After gtest: its own None would meet the macro.
#include <X11/Xlib.h>

namespace {

using vlplayer::Result;
using vlplayer::RunOptions;

using Libraries = vlplayer::PlayerTest;

std::string Lit(const std::string& text) { return "\"" + text + "\""; }

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
                         ".call savesnapshot " + Lit(dir() + "/seek.bmp") + " 0\n"
                         ".call getattribute 22 1 18 -> after\n.call debugprint $before $after\n");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  int before = 0, after = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %d", &before, &after), 2) << r.out;
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

// The box of what is not black in a region of a window, as ImageMagick
// trims it: x, y relative to the region; width 0 when the region is black,
// -1 when the grab failed.
struct InkBox {
  int x = -1, y = -1, width = -1, height = -1;
};

class Windows : public Libraries {
 protected:
  // Runs the applet (which waits for the file "grabbed" in the test's
  // folder), calls grab once its window, named title, shows, and lets the
  // applet end.
  Result RunAndGrab(const std::string& applet, const std::string& title,
                    const std::function<void(const std::string& window)>& grab) {
    vlplayer::RunOptions options;
    options.whileRunning = [&](pid_t, const std::string& display) {
      std::string window = vlplayer::WaitForWindow(display, title);
      if (!window.empty()) grab(window);
      WriteFile("grabbed", "");
    };
    return Run({applet}, options);
  }
  // Runs the applet made of name and body, which then says it is ready
  // and waits; pixels gets the whole window (title name) as 8-bit RGB.
  Result RunAndGrabWhenReady(const std::string& name, const std::string& body, std::string* pixels) {
    const std::string ready = dir() + "/ready";
    const std::string applet = Applet(name, body + ".call stringtofile \"1\" " + Lit(ready) + "\n" +
                                                vlplayer::WaitUntilFileExists(dir() + "/grabbed"));
    return RunAndGrab(applet, name, [&](const std::string& window) {
      for (int i = 0; i < 600 && access(ready.c_str(), F_OK) != 0; ++i) Tool("sleep 0.1");
      Tool("sleep 0.3");
      *pixels = Tool("timeout 20 import -window " + window + " -depth 8 rgb:-");
    });
  }
  // A red 32 x 24 MJPEG clip of ten frames a second; its path, or "" when
  // ffmpeg failed.
  std::string RedClip(const std::string& name, const std::string& seconds) {
    int status = 0;
    const std::string path = dir() + "/" + name;
    Tool("ffmpeg -v error -y -f lavfi -i color=c=red:size=32x24:rate=10 -t " + seconds + " -c:v mjpeg -q:v 2 " +
             vlplayer::Quote(path), &status);
    return status == 0 ? path : "";
  }
  InkBox GrabInk(const std::string& window, int x, int y, int w, int h) const {
    InkBox box;
    const std::string grab = "import -window " + window + " -crop " + std::to_string(w) + "x" + std::to_string(h) +
                             "+" + std::to_string(x) + "+" + std::to_string(y);
    const std::string text = Tool(grab + " -format '%@ %[fx:maxima.r+maxima.g+maxima.b]' info:");
    double brightest = -1;
    if (std::sscanf(text.c_str(), "%dx%d+%d+%d %lf", &box.width, &box.height, &box.x, &box.y, &brightest) != 5)
      return InkBox{};
    if (brightest == 0) box.width = box.height = 0;
    return box;
  }
};

// Text placed by position constants lands inside the 320 x 120 window: the
// centred word's ink centred on the window's middle, the word placed right
// and at the bottom ending at the window's right and bottom edges.
TEST_F(Windows, TextOutPositionConstantsPlaceTheTextInTheWindow) {
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet(
      "textpos", ".line 1\n.table 0 { width = 320, height = 120, color = 0, title = \"textpos\" }\n"
                 ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
                 ".call textout -100000 -100000 \"Centre\"\n.call textout -80000 -60000 \"Right\"\n" +
                     vlplayer::WaitUntilFileExists(grabbed));
  InkBox centre, corner, top;
  Result r = RunAndGrab(applet, "textpos", [&](const std::string& window) {
    centre = GrabInk(window, 0, 30, 320, 60);
    corner = GrabInk(window, 0, 90, 320, 30);
    top = GrabInk(window, 0, 0, 320, 30);
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_GT(centre.width, 30);
  EXPECT_NEAR(centre.x + centre.width / 2.0, 160, 4);
  EXPECT_NEAR(30 + centre.y + centre.height / 2.0, 60, 4);
  ASSERT_GT(corner.width, 20);
  EXPECT_GE(corner.x + corner.width, 312);
  EXPECT_LE(corner.x + corner.width, 320);
  EXPECT_GE(90 + corner.y + corner.height, 112);
  EXPECT_EQ(top.width, 0);
}

// What is drawn into a selected layer shows in the window once the
// selection ends: a red square inside the black layer, where it was drawn.
// Right of it, a white layer's mask and a green layer's alpha channel drawn
// into: a hole shows the black background, a corner half see-through; the
// window against ImageMagick's drawing of the same.
TEST_F(Windows, DrawingIntoASelectedLayerShowsWhenTheSelectionEnds) {
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet(
      "layerdraw", ".line 1\n.table 0 { width = 200, height = 80, color = 0, title = \"layerdraw\" }\n"
                   ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call enablelayers\n"
                   ".call createbrush 1 40 40 0\n.call createbrush 2 10 10 0xFF0000\n.call displaybrush 1 20 20\n"
                   ".call selectlayer 1\n.call displaybrush 2 5 5\n.call endselect\n"
                   ".call createbrush 3 30 30 0xFFFFFF\n.call displaybrush 3 125 20\n"
                   ".call createbrush 4 30 30 0x00FF00\n.call displaybrush 4 160 20\n"
                   ".call setmaskmode 1\n.call selectmask 2 22\n.call displaybrush 2 10 10\n.call endselect\n"
                   ".call setalphaintensity 128\n.call selectalphachannel 3 22\n.call displaybrush 2 0 0\n"
                   ".call endselect\n" +
                       vlplayer::WaitUntilFileExists(grabbed));
  InkBox ink;
  std::string planes;
  Result r = RunAndGrab(applet, "layerdraw", [&](const std::string& window) {
    ink = GrabInk(window, 0, 0, 120, 80);
    planes = Tool("import -window " + window + " -crop 80x80+120+0 -depth 8 rgb:-");
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ink.x, 25);
  EXPECT_EQ(ink.y, 25);
  EXPECT_EQ(ink.width, 10);
  EXPECT_EQ(ink.height, 10);
  const std::string model = Tool(
      "convert -size 80x80 xc:black -fill white -draw 'rectangle 5,20 34,49' -fill black -draw 'rectangle 15,30 "
      "24,39' -fill lime -draw 'rectangle 40,20 69,49' -fill 'rgb(0,128,0)' -draw 'rectangle 40,20 49,29' -depth 8 "
      "rgb:-");
  ASSERT_EQ(model.size(), 80u * 80 * 3);
  ASSERT_EQ(planes.size(), model.size());
  int wrong = 0;
  for (size_t i = 0; i < model.size(); ++i)
    if (std::abs(static_cast<unsigned char>(planes[i]) - static_cast<unsigned char>(model[i])) > 1 && wrong++ < 5)
      ADD_FAILURE() << "pixel " << (i / 3) % 80 << "," << (i / 3) / 80 << " channel " << i % 3 << ": "
                    << int(static_cast<unsigned char>(planes[i])) << " not "
                    << int(static_cast<unsigned char>(model[i]));
  EXPECT_EQ(wrong, 0);
}

// A layer added to the BGPic that a running effect's layer stands in for,
// on a display scaling its layers, shows inside the effect's layer as the
// display would show that BGPic: scaled to the display's scale size (the
// 20 x 12 BGPic to 80 x 60), so the 4 x 4 square at (2, 2) covers (8, 10)
// to (23, 29), cut at the layer's 24th row. The revealed part of the
// window against ImageMagick's drawing of the same.
TEST_F(Windows, ALayerAddedToTheBGPicAnEffectStandsInForIsScaledWithTheDisplay) {
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet(
      "standin", ".line 1\n.call createbgpic 1 40 30 0x808080\n"
                 ".table 0 { bgpic = 1, scalemode = 2, scalewidth = 80, scaleheight = 60, title = \"standin\" }\n"
                 ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call enablelayers\n"
                 ".call createbgpic 2 20 12 0xFF0000\n.call createbrush 5 4 4 0xFFFF00\n"
                 ".call createbrush 6 20 12 0x0000FF\n.table 0 { hidden = 1 }\n.call base=1 displaybrush 6 5 5 r0\n"
                 ".table 0 { type = 30, speed = 10, async = 1, bgpicemu = 1, bgpic = 2 }\n"
                 ".call base=1 showlayerfx 1 r0 -> h\n.call asyncdrawframe $h -> r\n"
                 ".call selectbgpic 2\n.call displaybrush 5 2 2\n.call endselect\n.call asyncdrawframe $h -> r\n" +
                     vlplayer::WaitUntilFileExists(grabbed));
  std::string shown;
  Result r = RunAndGrab(applet, "standin", [&](const std::string& window) {
    shown = Tool("import -window " + window + " -crop 22x24+10+10 -depth 8 rgb:-");
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string model =
      Tool("convert -size 80x60 xc:red -fill yellow -draw 'rectangle 8,10 23,29' -crop 22x24+0+0 -depth 8 rgb:-");
  ASSERT_EQ(model.size(), 22u * 24 * 3);
  EXPECT_EQ(shown, model);
}

// The default font as the window shows it, against FreeType's rendering of
// the face the built-in font is made from (its capitals at the named size,
// six rows above the baseline): "CELLAR" reads CELLAR, "T" has its bar.
// Below, every code 32..255 in rows of 32: each cell shows as many separate
// pieces of ink as the face's rendering of its character at 64 pixels (the
// dot of "?", the accents off their capitals), the codes below 161 without
// a character as one box, and the few characters no 8-pixel rendering of
// the face can keep apart (the dotted zero, "%", the registered sign and
// the fractions) with fewer. No two characters look alike.
TEST_F(Windows, TheDefaultFontShowsItsFacesCapitalsWholeAndEveryGlyphsPartsApart) {
  const std::string source = Tool("head -c 400 " + vlplayer::Quote(std::string(VL_SOURCE_ROOT) +
                                                               "/text/fonts/topaz_strike.cpp"));
  char face[128] = {};
  int fw = 0, fh = 0;
  const size_t from = source.find("from ");
  ASSERT_NE(from, std::string::npos);
  ASSERT_EQ(std::sscanf(source.c_str() + from, "from %127s at %dx%d pixels", face, &fw, &fh), 3);
  const std::string word = "CELLAR TOP";
  constexpr int kWinW = 280, kWinH = 110, kX = 10, kY = 10, kH = 8, kAllY = 26, kPitch = 11;
  const int kW = 8 * static_cast<int>(word.size());
  // The model: each letter's 1-bit rendering in its 8-pixel cell, centred
  // by its advance, the baseline under row 5.
  std::vector<int> want(size_t(kW) * kH, 0);
  FT_Library lib = nullptr;
  FT_Face ft = nullptr;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  ASSERT_EQ(FT_New_Face(lib, (std::string(VL_FACE_DIR) + "/" + face).c_str(), 0, &ft), 0);
  ASSERT_EQ(FT_Set_Pixel_Sizes(ft, fw, fh), 0);
  for (size_t i = 0; i < word.size(); ++i) {
    ASSERT_EQ(FT_Load_Char(ft, word[i], FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME), 0);
    const FT_Bitmap& b = ft->glyph->bitmap;
    const int ox = 8 * static_cast<int>(i) + (8 - static_cast<int>(ft->glyph->advance.x >> 6)) / 2 +
                   ft->glyph->bitmap_left;
    const int oy = 6 - ft->glyph->bitmap_top;
    for (int r = 0; r < static_cast<int>(b.rows); ++r)
      for (int c = 0; c < static_cast<int>(b.width); ++c)
        if (b.buffer[r * b.pitch + c / 8] & (0x80 >> (c % 8))) {
          ASSERT_TRUE(ox + c >= 0 && ox + c < kW && oy + r >= 0 && oy + r < kH) << word[i];
          want[size_t(oy + r) * kW + ox + c] = 1;
        }
  }
  // Pieces of 8-connected ink in a picture, 1 for ink; it is cleared.
  auto parts = [](std::vector<int> ink, int w, int h) {
    int n = 0;
    std::vector<int> stack;
    for (int start = 0; start < w * h; ++start) {
      if (!ink[start]) continue;
      ++n;
      ink[start] = 0;
      stack.push_back(start);
      while (!stack.empty()) {
        const int p = stack.back(), y = p / w, x = p % w;
        stack.pop_back();
        for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, h - 1); ++ny)
          for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, w - 1); ++nx)
            if (ink[ny * w + nx]) ink[ny * w + nx] = 0, stack.push_back(ny * w + nx);
      }
    }
    return n;
  };
  int faceParts[256] = {};
  for (int code = 33; code < 256; ++code) {
    if (!FT_Get_Char_Index(ft, code)) continue;
    ASSERT_EQ(FT_Set_Pixel_Sizes(ft, 64, 64), 0);
    ASSERT_EQ(FT_Load_Char(ft, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME), 0);
    const FT_Bitmap& b = ft->glyph->bitmap;
    std::vector<int> ink(size_t(b.width) * b.rows);
    for (int r = 0; r < static_cast<int>(b.rows); ++r)
      for (int c = 0; c < static_cast<int>(b.width); ++c)
        ink[size_t(r) * b.width + c] = (b.buffer[r * b.pitch + c / 8] >> (7 - c % 8)) & 1;
    faceParts[code] = parts(ink, static_cast<int>(b.width), static_cast<int>(b.rows));
  }
  FT_Done_Face(ft);
  FT_Done_FreeType(lib);
  std::string lines;
  for (int row = 0; row < 7; ++row) {
    std::string text;
    for (int code = 32 + 32 * row; code < 64 + 32 * row; ++code) {
      char escaped[12];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", code);
      text += escaped;
      if (code == '[' || code == ']') text += escaped;  // a bracket alone would open or close a tag
    }
    lines += ".call textout " + std::to_string(kX) + " " + std::to_string(kAllY + kPitch * row) + " \"" + text + "\"\n";
  }
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet(
      "topaz", ".line 1\n.table 0 { width = " + std::to_string(kWinW) + ", height = " + std::to_string(kWinH) +
                   ", color = 0, title = \"topaz\" }\n"
                   ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call textout " + std::to_string(kX) + " " +
                   std::to_string(kY) + " \"" + word + "\"\n" + lines + vlplayer::WaitUntilFileExists(grabbed));
  std::string gray;
  Result r = RunAndGrab(applet, "topaz", [&](const std::string& window) {
    Tool("import -window " + window + " " + vlplayer::Quote(dir() + "/topaz.png"));
    gray = Tool("convert " + vlplayer::Quote(dir() + "/topaz.png") + " gray:-");
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(gray.size(), size_t(kWinW) * kWinH);
  auto lit = [&](int x, int y) { return gray[size_t(y) * kWinW + x] != 0; };
  std::string shown, model;
  int differ = 0;
  for (int y = -1; y < kH + 2; ++y) {
    for (int x = -1; x < kW + 1; ++x) {
      const bool ink = x >= 0 && x < kW && y >= 0 && y < kH && want[size_t(y) * kW + x];
      shown += lit(kX + x, kY + y) ? '#' : '.';
      model += ink ? '#' : '.';
      differ += lit(kX + x, kY + y) != ink;
    }
    shown += '\n';
    model += '\n';
  }
  EXPECT_EQ(differ, 0) << "shown:\n" << shown << "face:\n" << model;
  std::string fewer;
  std::map<std::string, int> codeOf;  // no two characters look alike
  for (int code = 33; code < 256; ++code) {
    const int cx = kX + 8 * ((code - 32) % 32), cy = kAllY + kPitch * ((code - 32) / 32);
    std::vector<int> cell(64);
    std::string picture;
    for (int y = 0; y < 8; ++y, picture += '\n')
      for (int x = 0; x < 8; ++x) {
        cell[y * 8 + x] = lit(cx + x, cy + y);
        picture += cell[y * 8 + x] ? '#' : '.';
      }
    // The box; the soft hyphen is blank (it shows only where a line breaks).
    const int expected = code >= 127 && code < 160 ? 1 : code == 173 ? 0 : faceParts[code];
    if (code < 127 || code > 160) {
      const auto [same, alone] = codeOf.emplace(picture, code);
      EXPECT_TRUE(alone) << "codes " << same->second << " and " << code << " look alike\n" << picture;
    }
    const int shownParts = parts(cell, 8, 8);
    if (shownParts < expected) fewer.append(" ").append(std::to_string(code));
    EXPECT_LE(shownParts, expected) << "code " << code << "\n" << picture;
    EXPECT_TRUE(shownParts > 0 || expected == 0) << "code " << code;
  }
  EXPECT_EQ(fewer, " 37 48 174 188 189 190");
  // Nothing between the rows: every glyph keeps to its cell.
  for (int row = 0; row < 7; ++row)
    for (int y = kAllY + kPitch * row + 8; y < kAllY + kPitch * (row + 1); ++y)
      for (int x = 0; x < kWinW; ++x) EXPECT_FALSE(lit(x, y)) << x << "," << y;
}

// With a clip region set, the position constants place brushes, boxes and
// text against the region (its size, its left and top edges as base), and
// text, plain and tagged, keeps inside the region as every drawing does.
// Each case is grabbed from the window twice: drawn with the constants
// inside the region, and drawn at the place the resolution rule gives,
// with no region. The first grab must be the second cut to the region;
// for the brushes and the box, also the rectangle the rule gives.
TEST_F(Windows, PositionConstantsAndTextKeepToTheActiveClipRegion) {
  constexpr int kW = 200, kH = 120, kRx = 40, kRy = 20, kRw = 80, kRh = 60;
  enum : int { C = -100000, L = -90000, R = -80000, T = -70000, B = -60000, LO = -50000, RO = -40000, BO = -20000 };
  struct Rect {
    int x, y, w, h;
  };
  struct Case {
    std::string draw;       // with the constants, inside the region
    std::string reference;  // at the resolved place, without the region
    Rect shape;             // the drawn rectangle, width 0 for text
  };
  auto n = [](int v) { return std::to_string(v); };
  auto brush = [&](int x, int y) { return "displaybrush 2 " + n(x) + " " + n(y); };
  auto text = [&](int x, int y, const std::string& t) { return "textout " + n(x) + " " + n(y) + " \"" + t + "\""; };
  // A text of k letters of the 8-pixel font is a picture of 8k x 9.
  auto tx = [&](int k, int band, int off) {
    const int w = 8 * k;
    return band == C ? kRx + (kRw - w) / 2 + off : band == L ? kRx + off : band == R ? kRx + kRw - w + off
           : band == LO ? kRx - w + off : kRx + kRw + off;
  };
  const std::string tagged = "[b]Bold[/b] [color=16711680]red[/color] and [u]under[/u] text";
  const std::vector<Case> cases = {
      {brush(C, C), brush(70, 40), {70, 40, 20, 20}},
      {brush(R, B), brush(100, 60), {100, 60, 20, 20}},
      {brush(L + 5, T + 3), brush(45, 23), {45, 23, 20, 20}},
      {brush(RO - 10, C), brush(110, 40), {110, 40, 20, 20}},
      {brush(LO + 10, BO - 10), brush(30, 70), {30, 70, 20, 20}},
      {"box " + n(C) + " " + n(B - 4) + " 30 10 16777215", "box 65 66 30 10 16777215", {65, 66, 30, 10}},
      {text(C, C, "Clip"), text(tx(4, C, 0), kRy + (kRh - 9) / 2, "Clip"), {}},
      {text(R - 4, B, "Right"), text(tx(5, R, -4), kRy + kRh - 9, "Right"), {}},
      {text(L + 6, T + 2, "Left"), text(tx(4, L, 6), kRy + 2, "Left"), {}},
      {text(LO + 12, T + 10, "Out"), text(tx(3, LO, 12), kRy + 10, "Out"), {}},
      {text(RO - 12, T + 20, "Out"), text(tx(3, RO, -12), kRy + 20, "Out"), {}},
      {text(2, 30, "Text left of the region"), text(2, 30, "Text left of the region"), {}},
      {text(-20, 50, tagged), text(-20, 50, tagged), {}},
      {text(L - 30, BO - 12, tagged), text(kRx - 30, kRy + kRh - 12, tagged), {}},
  };
  std::string script =
      ".line 1\n.table 0 { width = " + n(kW) + ", height = " + n(kH) +
      ", color = 0, title = \"clipped\" }\n.call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
      ".call createbrush 2 20 20 16777215\n.call setfillstyle 1\n.call createclipregion 1 14 " + n(kRx) + " " + n(kRy) + " " + n(kRw) +
      " " + n(kRh) + "\n";
  auto grab = [&](size_t i, const std::string& kind) { return dir() + "/" + kind + std::to_string(i) + ".bmp"; };
  for (size_t i = 0; i < cases.size(); ++i)
    script += ".call cls\n.call setclipregion 1\n.call " + cases[i].draw + "\n.call wait 2\n.call savesnapshot " +
              Lit(grab(i, "clip")) + " 0\n.call cls\n.call setclipregion nil\n.call " + cases[i].reference +
              "\n.call wait 2\n.call savesnapshot " + Lit(grab(i, "plain")) + " 0\n";
  Result r = Run({Applet("clipped", script)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  auto pixels = [&](const std::string& file) { return Tool("convert " + vlplayer::Quote(file) + " rgb:-"); };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].draw);
    const std::string clipped = pixels(grab(i, "clip")), plain = pixels(grab(i, "plain"));
    ASSERT_EQ(clipped.size(), size_t{kW * kH * 3});
    ASSERT_EQ(plain.size(), clipped.size());
    const Rect& s = cases[i].shape;
    int ink = 0, wrong = 0, firstWrong = -1, outside = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const size_t at = (size_t(y) * kW + x) * 3;
        const bool inRegion = x >= kRx && x < kRx + kRw && y >= kRy && y < kRy + kRh;
        std::string want = inRegion ? plain.substr(at, 3) : std::string(3, '\0');
        if (s.w && inRegion) {
          const bool inShape = x >= s.x && x < s.x + s.w && y >= s.y && y < s.y + s.h;
          EXPECT_EQ(want, std::string(3, inShape ? '\xFF' : '\0')) << x << "," << y;
        }
        if (clipped.compare(at, 3, want) != 0 && wrong++ == 0) firstWrong = y * kW + x;
        ink += want != std::string(3, '\0');
        outside += !inRegion && plain.compare(at, 3, std::string(3, '\0')) != 0;
      }
    EXPECT_EQ(wrong, 0) << "first at " << firstWrong % kW << "," << firstWrong / kW;
    EXPECT_GT(ink, 8);
    // The text cases reach out of the region where it cuts them.
    if (i >= 9) {
      EXPECT_GT(outside, 8);
    }
  }
}

// A video paused, sought and resumed, round after round, as a video of its
// own and as a layer: every resume finds the video paused (the seek while
// paused used to mark it ended, and the resume failed with 1452). Last, a
// layer paused and sought to 20 s stays paused there and the window shows
// that frame (frame n of the clip has red n), also a moment later.
TEST_F(Windows, ASeekWhilePausedKeepsTheVideoPaused) {
  const std::string video = dir() + "/noise.avi";
  int status = 0;
  // Noisy frames take a while to decode, which is when the end was wrongly
  // seen.
  Tool("ffmpeg -v error -y -f lavfi -i color=c=black:s=320x240:r=10:d=30 -vf "
       "\"geq=r='N':g='X':b='Y*2+random(1)*60'\" -c:v mjpeg -q:v 2 " + vlplayer::Quote(video),
       &status);
  ASSERT_EQ(status, 0);
  const std::string grabbed = dir() + "/grabbed";
  auto rounds = [](const std::string& label, const std::string& play, const std::string& pause,
                   const std::string& seek, const std::string& resume, const std::string& stop) {
    return "loadk 1 #0\nloadk 2 #29\nloadk 3 #1\n" + label + ":\n.call base=5 " + play + "\n.call base=5 wait 2\n"
           ".call base=5 " + pause + "\n.call base=5 " + seek + "\n.call base=5 " + resume +
           "\n.call base=5 getlasterror -> e\n.call base=5 debugprint $e\n.call base=5 " + stop + "\nforloop 1 " +
           label + "\n";
  };
  std::string applet = Applet(
      "videoseek",
      ".line 1\n.table 0 { width = 320, height = 240, color = 0, title = \"videoseek\" }\n"
      ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(video) +
          "\n.call exitonerror 0\n" +
          rounds("plain", "playvideo 1", "pausevideo 1", "seekvideo 1 1000", "resumevideo 1", "stopvideo 1") +
          ".call enablelayers\n.table 0 { uselayer = 1 }\n.call base=1 playvideo 1 0 0 r0\n.call stoplayer 1\n" +
          rounds("layer", "playlayer 1", "pauselayer 1", "seeklayer 1 1000", "resumelayer 1", "stoplayer 1") +
          ".call playlayer 1\n.call wait 2\n.call pauselayer 1\n.call seeklayer 1 20000\n.call wait 10\n"
          ".call getattribute 22 1 84 -> paused\n.call getattribute 22 1 18 -> at\n"
          ".call debugprint \"paused\" $paused $at\n.call stringtofile \"1\" " + Lit(dir() + "/ready") + "\n" +
          vlplayer::WaitUntilFileExists(grabbed) +
          ".call getattribute 22 1 18 -> later\n.call resumelayer 1\n.call getlasterror -> e\n"
          ".call debugprint \"later\" $later $e\n");
  std::string red, redLater;
  Result r = RunAndGrab(applet, "videoseek", [&](const std::string& window) {
    for (int i = 0; i < 600 && access((dir() + "/ready").c_str(), F_OK) != 0; ++i) Tool("sleep 0.1");
    // The mean red of a patch, once the paused frame is there.
    const std::string mean = "import -window " + window + " -crop 32x32+100+100 -format '%[fx:int(255*mean.r+0.5)]' info:";
    for (int i = 0; i < 100; ++i) {
      red = Tool(mean);
      if (std::abs(std::atoi(red.c_str()) - 200) <= 8) break;
      Tool("sleep 0.1");
    }
    Tool("sleep 0.3");
    redLater = Tool(mean);
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  size_t failed = 0, lines = 0;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos && lines < 60; at = end + 1, ++lines)
    failed += r.out.compare(at, end - at, "0") != 0;
  EXPECT_EQ(lines, 60u);
  EXPECT_EQ(failed, 0u) << r.out;
  EXPECT_NE(r.out.find("paused 1 20000\nlater 20000 0\n"), std::string::npos) << r.out;
  EXPECT_NEAR(std::atoi(red.c_str()), 200, 8) << red;
  EXPECT_NEAR(std::atoi(redLater.c_str()), 200, 8) << redLater;
}

// Applet lines that wait in 20 ms steps, at most the given number, until
// video id has stopped playing; $p is then its IsVideoPlaying. The labels
// start with label.
std::string WaitForVideoEnd(const std::string& label, int id, int steps) {
  const std::string v = std::to_string(id);
  return "loadk 5 #0\nloadk 6 #" + std::to_string(steps) + "\nloadk 7 #1\njump " + label + "next\n" + label +
         ":\n.call base=8 wait 1\n.call base=8 isvideoplaying " + v + " -> p\ngetglobal 8 \"p\"\neq 1 8 #0\njump " +
         label + "done\n" + label + "next:\nforloop 5 " + label + "\n" + label + "done:\n";
}

// A video paused after 0.7 to 2.3 s answers the time of the frame on the
// window as its position, not that of a frame decoded or queued after it
// (it answered three frames ahead), and keeps that frame on the window.
// The clip changes colour every half second; the grab of the window and the
// colour of the half second the position falls in must agree.
// Last, sound and picture stay together across a pause of a second, and
// across a pause in which the video is sought to 1.2 s: the clip's sound
// is a tone from 1.5 s on. The recording holds the sound up to the pause
// and from there (or from the place sought) on, with no gap, loss or
// repeat: the tone starts where that puts it. Each colour change seen on
// the window (read with the recording's length so far, every few
// milliseconds) comes when the recording has reached the change's time,
// give or take a quarter of a second: the player lets the picture stray a
// frame (0.1 s) from the sound before it mends that, the file sink puts
// the sound after a dry spell up to its buffer (0.1 s) ahead, and its
// file lags what it took by its own buffering.
TEST_F(Windows, APausedVideosPositionIsThatOfTheFrameOnTheWindow) {
  const std::string clip = dir() + "/colours.avi";
  const std::vector<std::string> names = {"red", "lime", "blue", "yellow", "magenta", "cyan"};
  std::string inputs, chain;
  for (size_t i = 0; i < names.size(); ++i) {
    inputs += " -f lavfi -i color=c=" + names[i] + ":s=160x120:r=10:d=0.5";
    chain += "[" + std::to_string(i) + ":v]";
  }
  int status = 0;
  Tool("ffmpeg -v error -y" + inputs + " -f lavfi -i \"aevalsrc=0.5*sin(2*PI*440*t)*gte(t\\,1.5):s=8000:d=3\"" +
           " -filter_complex \"" + chain + "concat=n=6:v=1\" -c:v mjpeg -q:v 2 -c:a pcm_s16le -ac 1 " +
           vlplayer::Quote(clip),
       &status);
  ASSERT_EQ(status, 0);
  const std::vector<int> ticks = {35, 60, 72, 90, 115};  // 20 ms each
  std::string body = ".line 1\n.table 0 { width = 160, height = 120, color = 0, title = \"pausedat\" }\n"
                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(clip) + "\n";
  for (size_t i = 0; i < ticks.size(); ++i) {
    const std::string n = std::to_string(i);
    body += ".call playvideo 1\n.call wait " + std::to_string(ticks[i]) +
            "\n.call pausevideo 1\n.call getattribute 50 1 18 -> at\n.call debugprint $at\n.call stringtofile \"1\" " +
            Lit(dir() + "/ready" + n) + "\n" + vlplayer::WaitUntilFileExists(dir() + "/grabbed" + n, "g" + n) +
            ".call getattribute 50 1 18 -> later\n.call debugprint $later\n.call stopvideo 1\n";
  }
  const int seeks[] = {0, 1200};
  for (int seek : seeks)
    body += ".call playvideo 1\n.call wait 37\n.call pausevideo 1\n.call getattribute 50 1 18 -> at\n"
            ".call debugprint $at\n.call wait 25\n" +
            (seek ? ".call seekvideo 1 " + std::to_string(seek) + "\n" : "") + ".call wait 25\n.call resumevideo 1\n" +
            WaitForVideoEnd("end" + std::to_string(seek), 1, 250) + ".call stopvideo 1\n";
  body += ".call stringtofile \"1\" " + Lit(dir() + "/synced") + "\n";
  // The colour at the window's centre (its index, -1 none) read between
  // two lengths of the newest recording.
  struct Sample {
    size_t file;
    long before, after;
    int colour;
  };
  std::vector<Sample> samples;
  auto length = [](const std::string& file) {
    struct stat st;
    return stat(file.c_str(), &st) == 0 ? long(st.st_size) : 0L;
  };
  // The colour at the window's centre, each channel as 0 or 1.
  std::vector<std::string> seen;
  Result r = RunAndGrab(Applet("pausedat", body), "pausedat", [&](const std::string& window) {
    for (size_t i = 0; i < ticks.size(); ++i) {
      const std::string n = std::to_string(i);
      for (int k = 0; k < 600 && access((dir() + "/ready" + n).c_str(), F_OK) != 0; ++k) Tool("sleep 0.05");
      Tool("sleep 0.3");
      seen.push_back(Tool("import -window " + window +
                          " -format '%[fx:p{80,60}.r>0.5]%[fx:p{80,60}.g>0.5]%[fx:p{80,60}.b>0.5]' info:"));
      WriteFile("grabbed" + n, "");
    }
    // A window gone (the player ended early) ends the reading, not the test.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    Display* x = XOpenDisplay(display());
    if (!x) return;
    const Window w = std::strtoul(window.c_str(), nullptr, 10);
    const unsigned rgb[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF};
    for (int k = 0, failed = 0; k < 30000 && failed < 100 && access((dir() + "/synced").c_str(), F_OK) != 0; ++k) {
      const std::vector<std::string> files = SinkFiles();
      Sample s{files.size(), files.empty() ? 0 : length(files.back()), 0, -1};
      if (XImage* image = XGetImage(x, w, 80, 60, 1, 1, AllPlanes, ZPixmap)) {
        const unsigned long pixel = XGetPixel(image, 0, 0);
        for (int c = 0; c < 6; ++c) {
          unsigned near = 0;
          for (int shift : {0, 8, 16}) near += std::abs(int(pixel >> shift & 0xFF) - int(rgb[c] >> shift & 0xFF)) < 64;
          if (near == 3) s.colour = c;
        }
        XDestroyImage(image);
        failed = 0;
      } else {
        ++failed;
      }
      s.after = files.empty() ? 0 : length(files.back());
      samples.push_back(s);
      usleep(2000);
    }
    XCloseDisplay(x);
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::map<std::string, std::string> bits = {{"red", "100"},    {"lime", "010"},    {"blue", "001"},
                                                   {"yellow", "110"}, {"magenta", "101"}, {"cyan", "011"}};
  std::vector<int> at;
  for (size_t pos = 0, end; (end = r.out.find('\n', pos)) != std::string::npos; pos = end + 1)
    at.push_back(std::atoi(r.out.substr(pos, end - pos).c_str()));
  ASSERT_EQ(at.size(), 2 * ticks.size() + 2) << r.out;
  ASSERT_EQ(seen.size(), ticks.size());
  for (size_t i = 0; i < ticks.size(); ++i) {
    SCOPED_TRACE("paused after " + std::to_string(ticks[i] * 20) + " ms at " + std::to_string(at[2 * i]));
    EXPECT_EQ(at[2 * i + 1], at[2 * i]) << "the position moved while paused";
    ASSERT_LT(size_t(at[2 * i] / 500), names.size());
    EXPECT_EQ(seen[i], bits.at(names[at[2 * i] / 500]));
  }
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_GE(sink.size(), 2u);
  for (size_t run = 0; run < 2; ++run) {
    const size_t file = sink.size() - 1 - run;
    const int seek = seeks[1 - run], paused = at[2 * ticks.size() + 1 - run];
    SCOPED_TRACE("paused at " + std::to_string(paused) + ", sought to " + std::to_string(seek));
    // Seconds into the recording: the tone's first loud sample, and the
    // place of a length read while it was written.
    std::ifstream in(sink[file], std::ios::binary);
    const std::string wav{std::istreambuf_iterator<char>(in), {}};
    const size_t data = wav.find("data") + 8;
    ASSERT_LT(data, wav.size());
    auto seconds = [&](long bytes) { return (double(bytes) - double(data)) / 16000; };
    double tone = -1;
    for (size_t i = data; i + 1 < wav.size() && tone < 0; i += 2)
      if (std::abs(int16_t(uint8_t(wav[i]) | uint8_t(wav[i + 1]) << 8)) > 3000) tone = seconds(long(i));
    const double skipped = seek ? (seek - paused) / 1000.0 : 0;
    EXPECT_NEAR(tone, 1.5 - skipped, 0.1) << "the sound has a gap, or lost or repeated some";
    int changes = 0;
    for (size_t k = 1; k < samples.size(); ++k) {
      const Sample &was = samples[k - 1], &now = samples[k];
      if (was.file != file + 1 || now.file != file + 1 || now.colour != was.colour + 1 || now.colour < 1) continue;
      const double change = now.colour * 0.5;
      if (change * 1000 <= seek) continue;  // shown by the seek
      const double due = change * 1000 <= paused ? change : tone + change - 1.5;
      ++changes;
      SCOPED_TRACE("the picture of " + std::to_string(change) + " s came with the recording between " +
                   std::to_string(seconds(was.before)) + " and " + std::to_string(seconds(now.after)) + " s");
      EXPECT_GE(due, seconds(was.before) - 0.25) << "late";
      EXPECT_LE(due, seconds(now.after) + 0.25) << "early";
    }
    EXPECT_GE(changes, seek ? 2 : 4);
  }
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

// Sets the sample rate its sound stream's format declares in an AVI file.
bool SetSoundRate(const std::string& path, uint32_t rate) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) return false;
  std::string bytes(1 << 16, '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  const size_t format = bytes.find("strf", bytes.find("auds"));
  bool done = false;
  if (format != std::string::npos && format != 0) {
    const unsigned char le[4] = {uint8_t(rate), uint8_t(rate >> 8), uint8_t(rate >> 16), uint8_t(rate >> 24)};
    done = std::fseek(f, long(format + 12), SEEK_SET) == 0 && std::fwrite(le, 1, 4, f) == 4;
  }
  return std::fclose(f) == 0 && done;
}

// A video whose sound stream declares 1 sample a second is refused when
// it is opened (its sound filled the packet queue until no picture could
// be read, and PauseVideo then waited for ever for a picture to pause on);
// one at the lowest pitch, whose sound outlasts its pictures as far, and
// the clip as it was made pause at once. An end signal while the last one
// is paused ends the player by that signal.
TEST_F(Libraries, AVideoPausesAtOnceOrIsRefusedWhateverRateItsSoundDeclares) {
  const std::string marker = dir() + "/paused";
  std::string body = ".line 1\n.table 0 { width = 160, height = 120, color = 0, title = \"rates\" }\n"
                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call exitonerror 0\n";
  for (uint32_t rate : {1u, 256u, 44100u}) {
    const std::string clip = dir() + "/rate" + std::to_string(rate) + ".avi", v = std::to_string(rate);
    int status = 0;
    Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
         "-t 1 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 2 " + vlplayer::Quote(clip),
         &status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(SetSoundRate(clip, rate));
    body += ".call openvideo " + v + " " + Lit(clip) + "\n.call getlasterror -> e\n.call debugprint " + v +
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
  EXPECT_EQ(r.out, "1 1450\npaused 1449\n256 0\npaused 0\n44100 0\npaused 0\n");
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

namespace {

// The colour of a pixel of a 160 pixel wide R G B grab, as 0xRRGGBB.
unsigned GrabPixel(const std::string& p, int x, int y) {
  const size_t at = (static_cast<size_t>(y) * 160 + x) * 3;
  if (at + 3 > p.size()) return 0xDEADu;
  auto b = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(p[at + i])); };
  return b(0) << 16 | b(1) << 8 | b(2);
}

bool Reddish(unsigned c) { return (c >> 16) > 200 && ((c >> 8) & 0xFF) < 60 && (c & 0xFF) < 60; }

}  // namespace

// Drawing over the whole window leaves out the videos that play in their
// own rectangle, as they are at the time: a paused video moved away is
// left out at its new place and painted over at its old one, a stopped one
// is painted over, and one that ended by itself (its player's thread marks
// the end) keeps its last frame.
TEST_F(Windows, DrawingLeavesOutTheVideosWhereTheyAreNow) {
  const std::string red = RedClip("red.avi", "3"), brief = RedClip("brief.avi", "0.3");
  ASSERT_FALSE(red.empty() || brief.empty());
  std::string pixels;
  Result r = RunAndGrabWhenReady(
      "overlays", ".line 1\n.table 0 { width = 160, height = 100, color = 0, title = \"overlays\" }\n"
                  ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
                  ".call openvideo 1 " + Lit(red) + "\n.call openvideo 2 " + Lit(red) + "\n.call openvideo 3 " +
                      Lit(brief) + "\n.call playvideo 1 10 10\n.call playvideo 2 100 10\n.call playvideo 3 60 60\n" +
                      WaitForVideoEnd("brief", 3, 150) +
                      ".call pausevideo 1\n.call pausevideo 2\n.call setvideoposition 1 10 60\n"
                      ".call stopvideo 2\n.call createbrush 12 160 100 65280\n.call displaybrush 12 0 0\n"
                      ".call isvideoplaying 3 -> p\n.call debugprint \"third playing\" $p\n",
      &pixels);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("third playing 0\n"), std::string::npos) << r.out;
  ASSERT_EQ(pixels.size(), 160u * 100 * 3);
  EXPECT_EQ(GrabPixel(pixels, 2, 2), 0x00FF00u) << "around the videos";
  EXPECT_EQ(GrabPixel(pixels, 20, 20), 0x00FF00u) << "where the moved video was";
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 20, 70))) << std::hex << GrabPixel(pixels, 20, 70) << " moved video";
  EXPECT_EQ(GrabPixel(pixels, 42, 70), 0x00FF00u) << "right of the moved video";
  EXPECT_EQ(GrabPixel(pixels, 110, 20), 0x00FF00u) << "where the stopped video was";
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 70, 70))) << std::hex << GrabPixel(pixels, 70, 70) << " ended video";
}

// A video a layer plays, resized and moved: the layer goes on with its own
// copy at the old size and place while the video itself, stopped and free,
// plays at its new size elsewhere; each answers for itself.
TEST_F(Windows, AVideoResizedWhileALayerShowsItLeavesTheLayerItsOwnCopy) {
  const std::string red = RedClip("red.avi", "8");
  ASSERT_FALSE(red.empty());
  std::string pixels;
  Result r = RunAndGrabWhenReady(
      "videocopy", ".line 1\n.table 0 { width = 160, height = 100, color = 0, title = \"videocopy\" }\n"
                   ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call enablelayers\n"
                   ".call openvideo 1 " + Lit(red) + "\n.table 0 { uselayer = 1 }\n"
                   ".call base=1 playvideo 1 0 0 r0\n.call wait 10\n"
                   ".call setvideosize 1 48 36\n.call setvideoposition 1 100 50\n"
                   ".call isvideoplaying 1 -> a\n.call getattribute 22 1 83 -> b\n"
                   ".call playvideo 1\n.call wait 25\n.call isvideoplaying 1 -> c\n"
                   ".call getattribute 50 1 0 -> w\n.call getattribute 50 1 1 -> h\n"
                   ".call getattribute 22 1 0 -> lw\n.call getattribute 22 1 83 -> d\n"
                   ".call debugprint $a $b $c $w $h $lw $d\n",
      &pixels);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0 1 1 48 36 32 1\n");
  ASSERT_EQ(pixels.size(), 160u * 100 * 3);
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 2, 2))) << std::hex << GrabPixel(pixels, 2, 2) << " layer";
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 29, 21))) << std::hex << GrabPixel(pixels, 29, 21) << " layer";
  EXPECT_EQ(GrabPixel(pixels, 40, 10), 0u) << "right of the layer";
  EXPECT_EQ(GrabPixel(pixels, 10, 30), 0u) << "below the layer";
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 102, 52))) << std::hex << GrabPixel(pixels, 102, 52) << " video";
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 145, 83))) << std::hex << GrabPixel(pixels, 145, 83) << " video";
  EXPECT_EQ(GrabPixel(pixels, 151, 83), 0u) << "right of the resized video";
  EXPECT_EQ(GrabPixel(pixels, 120, 89), 0u) << "below the resized video";
  EXPECT_EQ(GrabPixel(pixels, 98, 60), 0u) << "left of the moved video";
}

namespace {

// A line of Vera at 24 pixels as the TrueType engine lays it out, made
// with FreeType alone: the pixel size from the face's tallest glyphs at
// 100 points, the baseline from A, À, Ä and q, each glyph rendered without
// the auto-hinter and placed by its advance and the pair's kerning in
// units of the em. Coverage (0..255) into a w x h picture, the line's top
// left at x, y.
std::vector<int> VeraLine(const std::string& text, bool antiAlias, int w, int h, int x, int y) {
  std::vector<int> out(size_t(w) * h, 0);
  FT_Library lib = nullptr;
  FT_Face ft = nullptr;
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, (std::string(VL_FACE_DIR) + "/Vera.ttf").c_str(), 0, &ft)) {
    ADD_FAILURE() << "no Vera.ttf";
    return out;
  }
  constexpr int kSize = 24;
  FT_Set_Char_Size(ft, 0, 100 * 64, 72, 72);
  auto extent = [&](std::initializer_list<FT_ULong> codes, int* up, int* down) {
    *up = *down = 0;
    for (FT_ULong c : codes) {
      const FT_UInt index = FT_Get_Char_Index(ft, c);
      if (!index || FT_Load_Glyph(ft, index, FT_LOAD_RENDER | FT_LOAD_NO_AUTOHINT)) continue;
      *up = std::max(*up, ft->glyph->bitmap_top);
      *down = std::max(*down, static_cast<int>(ft->glyph->bitmap.rows) - ft->glyph->bitmap_top);
    }
  };
  std::vector<FT_ULong> all;
  for (FT_ULong c = 33; c <= 255; ++c) all.push_back(c);
  int up = 0, down = 0;
  for (FT_ULong c : all) {
    int u, d;
    extent({c}, &u, &d);
    up = std::max(up, u);
    down = std::max(down, d);
  }
  const int nominal = kSize * 100 / (up + down);
  FT_Set_Pixel_Sizes(ft, nominal - 1, 0);
  extent({'A', 0xC0, 0xC4, 'q'}, &up, &down);
  const int baseline = (up + kSize + 1 - down) / 2;
  const int64_t ppem = ft->size->metrics.x_ppem, em = ft->units_per_EM;
  int pen = x;
  for (size_t i = 0; i < text.size(); ++i) {
    const FT_UInt index = FT_Get_Char_Index(ft, static_cast<unsigned char>(text[i]));
    FT_Vector kern{0, 0};
    if (FT_HAS_KERNING(ft) && i + 1 < text.size())
      FT_Get_Kerning(ft, index, FT_Get_Char_Index(ft, static_cast<unsigned char>(text[i + 1])), FT_KERNING_UNSCALED,
                     &kern);
    if (FT_Load_Glyph(ft, index, FT_LOAD_NO_AUTOHINT) ||
        FT_Render_Glyph(ft->glyph, antiAlias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO))
      continue;
    const FT_Bitmap& b = ft->glyph->bitmap;
    const int gx = pen + ft->glyph->bitmap_left, gy = y + baseline - ft->glyph->bitmap_top;
    for (int r = 0; r < static_cast<int>(b.rows); ++r)
      for (int c = 0; c < static_cast<int>(b.width); ++c) {
        const int v = antiAlias ? b.buffer[r * b.pitch + c] : ((b.buffer[r * b.pitch + c / 8] >> (7 - c % 8)) & 1) * 255;
        if (v && gx + c >= 0 && gx + c < w && gy + r >= 0 && gy + r < h)
          out[size_t(gy + r) * w + gx + c] = std::max(out[size_t(gy + r) * w + gx + c], v);
      }
    const int64_t a = (int64_t{ft->glyph->metrics.horiAdvance} * 1024) / ppem - (-int64_t{kern.x} * 65536) / em;
    pen += static_cast<int>(a * nominal / 65536);
  }
  FT_Done_Face(ft);
  FT_Done_FreeType(lib);
  return out;
}

}  // namespace

// TrueType text in the window: a line drawn plain and one anti-aliased in
// the player's own sans face, each matching FreeType's rendering of the
// face it was made from, laid out with its advances and kerning.
TEST_F(Windows, TrueTypeTextIsFreeTypesRenderingOfTheFace) {
  constexpr int kWinW = 300, kWinH = 70;
  const std::string text = "AVery Hamburg 1";
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet(
      "vera", ".line 1\n.table 0 { width = " + std::to_string(kWinW) + ", height = " + std::to_string(kWinH) +
                  ", color = 0, title = \"vera\" }\n.call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
                  ".call setfont \":::default_sans\" 24\n.call setfontcolor 16777215\n.call setfontstyle 1\n"
                  ".call textout 10 4 \"" + text + "\"\n.call setfontstyle 16\n.call textout 10 38 \"" + text +
                  "\"\n" + vlplayer::WaitUntilFileExists(grabbed));
  std::string gray;
  Result r = RunAndGrab(applet, "vera", [&](const std::string& window) {
    gray = Tool("import -window " + window + " -depth 8 gray:-");
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(gray.size(), size_t(kWinW) * kWinH);
  // Each line against its model, both cut to their ink: the place of the
  // line in the window is the text library's, the glyphs and their
  // spacing the engine's.
  for (bool antiAlias : {false, true}) {
    const int top = antiAlias ? 35 : 0;
    std::vector<int> shown(size_t(kWinW) * 35);
    for (int y = 0; y < 35; ++y)
      for (int x = 0; x < kWinW; ++x) shown[size_t(y) * kWinW + x] = static_cast<unsigned char>(gray[size_t(top + y) * kWinW + x]);
    const std::vector<int> model = VeraLine(text, antiAlias, kWinW, 35, 10, 4 + (antiAlias ? 3 : 0));
    auto box = [&](const std::vector<int>& p, int* x0, int* y0, int* x1, int* y1) {
      *x0 = *y0 = 1 << 20;
      *x1 = *y1 = -1;
      for (int y = 0; y < 35; ++y)
        for (int x = 0; x < kWinW; ++x)
          if (p[size_t(y) * kWinW + x]) {
            *x0 = std::min(*x0, x), *y0 = std::min(*y0, y), *x1 = std::max(*x1, x), *y1 = std::max(*y1, y);
          }
    };
    int sx0, sy0, sx1, sy1, mx0, my0, mx1, my1;
    box(shown, &sx0, &sy0, &sx1, &sy1);
    box(model, &mx0, &my0, &mx1, &my1);
    ASSERT_GT(mx1 - mx0, 150) << "model";
    ASSERT_EQ(sx1 - sx0, mx1 - mx0) << "width, anti-aliased " << antiAlias;
    ASSERT_EQ(sy1 - sy0, my1 - my0) << "height, anti-aliased " << antiAlias;
    int differ = 0, ink = 0;
    for (int y = 0; y <= sy1 - sy0; ++y)
      for (int x = 0; x <= sx1 - sx0; ++x) {
        const int s = shown[size_t(sy0 + y) * kWinW + sx0 + x], m = model[size_t(my0 + y) * kWinW + mx0 + x];
        ink += m != 0;
        differ += std::abs(s - m) > 2;
      }
    EXPECT_GT(ink, 300);
    EXPECT_EQ(differ, 0) << "anti-aliased " << antiAlias;
  }
}

// Plain text goes from the font engine straight into the window, with the
// same pixels as the same text laid out in full (an empty word-wrap table
// sends it that way): anti-aliased and 1-bit lines of the sans face, two
// lines with leading blanks, the built-in font, and printed lines that go
// on at the cursor, over a coloured backdrop. The anti-aliased line is
// FreeType's rendering of the face blended over the backdrop. The window
// takes only the text's rectangles: marks another X client painted into it
// around the text stay.
TEST_F(Windows, PlainTextDrawsTheLaidOutPixelsAndShowsOnlyItsRectangle) {
  constexpr int kW = 460, kH = 320, kHalf = 230, kX = 10, kPrintY = 164, kBrushY = 276;
  constexpr unsigned kBack = 0x336699, kInk = 0xFFE0A0;
  struct Row {
    std::string setup, text;
    int y;
    std::string options;  // of an options table
  };
  const std::vector<Row> rows = {
      {".call setfontstyle 16\n", "AVery Tf 1", 4, ""},
      {".call setfontstyle 1\n", "Tyf fi W.7", 44, ""},
      {".call setfontstyle 16\n", "ab c\\n  de", 84, ""},
      {".call setfont \"topaz\" 8\n", "Topaz 8 text", 150, ""},
      {".call setfont \":::default_sans\" 24\n", "Gr\\xC3\\xBC\\xC3\\x9Fe \\xC3\\x96l", 226, "encoding = 1"},
  };
  struct Mark {
    int x, y;
  };
  // Between the halves, between two rows, right of the two-line text and
  // in the far corner: none inside a text's picture.
  const std::vector<Mark> marks = {{215, 10}, {20, 37}, {120, 100}, {440, 258}};
  const std::string painted = dir() + "/painted", grabbed = dir() + "/grabbed";
  std::string script = ".line 1\n.table 0 { width = " + std::to_string(kW) + ", height = " + std::to_string(kH) +
                       ", color = " + std::to_string(kBack) +
                       ", title = \"plain\" }\n.call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
                       ".call makedirectory " + Lit(dir() + "/ready") + "\n" +
                       vlplayer::WaitUntilFileExists(painted, "paint") +
                       ".call setfont \":::default_sans\" 24\n.call setfontcolor " + std::to_string(kInk) + "\n";
  auto textout = [&](const std::string& options, int x, int y, const std::string& text) {
    const std::string at = std::to_string(x) + " " + std::to_string(y) + " \"" + text + "\"";
    return options.empty() ? ".call textout " + at + "\n"
                           : ".table 0 { align = #LEFT, " + options + " }\n.call base=1 textout " + at + " r0\n";
  };
  const std::string laidOut = "wordwraptable = { }";
  for (const Row& row : rows)
    script += row.setup + textout(row.options, kX, row.y, row.text) +
              textout(row.options + (row.options.empty() ? "" : ", ") + laidOut, kX + kHalf, row.y, row.text);
  // Printed: the second line starts at the left margin, the second print
  // where the first ended.
  script += ".call setfont \":::default_sans\" 24\n.call setfontstyle 16\n.call setmargins 10 200\n"
            ".call locate 10 " + std::to_string(kPrintY) + "\n.call print \"Pr\\nab\"\n.call print \"cd\"\n" +
            textout(laidOut, kX + kHalf, kPrintY, "Pr\\nabcd") +
            // Into a selected brush, then shown.
            ".call createbrush 3 " + std::to_string(kW) + " 40 " + std::to_string(kBack) + "\n.call selectbrush 3\n" +
            textout("", kX, 5, "Brush AV 9") + textout(laidOut, kX + kHalf, 5, "Brush AV 9") +
            ".call endselect\n.call displaybrush 3 0 " + std::to_string(kBrushY) + "\n.call makedirectory " + Lit(dir() + "/drawn") + "\n" +
            vlplayer::WaitUntilFileExists(grabbed, "grab");
  std::string rgb;
  vlplayer::RunOptions options;
  options.whileRunning = [&](pid_t, const std::string& display) {
    auto waitFor = [&](const std::string& path) {
      struct stat st;
      for (int i = 0; i < 400 && stat(path.c_str(), &st) != 0; ++i) usleep(50000);
    };
    waitFor(dir() + "/ready");
    const std::string window = vlplayer::WaitForWindow(display, "plain");
    // A window gone meanwhile is a failure of the grab, not the test's end.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    if (Display* x = window.empty() ? nullptr : XOpenDisplay(display.c_str())) {
      const Window w = std::strtoul(window.c_str(), nullptr, 10);
      GC gc = XCreateGC(x, w, 0, nullptr);
      XSetForeground(x, gc, 0xFF0000);
      for (const Mark& m : marks) XFillRectangle(x, w, gc, m.x, m.y, 3, 3);
      XSync(x, False);
      XFreeGC(x, gc);
      XCloseDisplay(x);
    }
    WriteFile("painted", "");
    waitFor(dir() + "/drawn");
    if (!window.empty()) rgb = Tool("import -window " + window + " -depth 8 rgb:-");
    WriteFile("grabbed", "");
  };
  Result r = Run({Applet("plain", script)}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(rgb.size(), size_t{kW} * kH * 3);
  auto pixel = [&](int x, int y) {
    const size_t at = (size_t(y) * kW + x) * 3;
    return unsigned(uint8_t(rgb[at])) << 16 | unsigned(uint8_t(rgb[at + 1])) << 8 | uint8_t(rgb[at + 2]);
  };
  for (const Mark& m : marks)
    for (int y = m.y; y < m.y + 3; ++y)
      for (int x = m.x; x < m.x + 3; ++x) EXPECT_EQ(pixel(x, y), 0xFF0000u) << "mark at " << x << "," << y;
  auto marked = [&](int x, int y) {
    for (const Mark& m : marks)
      if (x >= m.x && x < m.x + 3 && y >= m.y && y < m.y + 3) return true;
    return false;
  };
  // Each half against the other, pixel for pixel, and ink in every band.
  int differ = 0;
  // Ink per band: the rows', the printed lines' (ahead of the last row)
  // and the brush's.
  std::vector<int> ink(rows.size() + 2, 0);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kHalf; ++x) {
      if (marked(x, y) || marked(x + kHalf, y)) continue;
      if (pixel(x, y) != pixel(x + kHalf, y) && differ++ < 5)
        ADD_FAILURE() << std::hex << pixel(x, y) << " at " << std::dec << x << "," << y << ", laid out "
                      << std::hex << pixel(x + kHalf, y);
      if (pixel(x, y) != kBack) {
        size_t band = 0;
        for (size_t i = 0; i < rows.size(); ++i)
          if (y >= rows[i].y) band = i;
        ++ink[y >= kBrushY ? rows.size() + 1 : y >= kPrintY && y < rows.back().y ? rows.size() : band];
      }
    }
  EXPECT_EQ(differ, 0);
  for (size_t i = 0; i < ink.size(); ++i) EXPECT_GT(ink[i], 60) << "band " << i;
  // The anti-aliased line: the face's coverage blending the ink's red into
  // the backdrop's, both cut to their ink.
  constexpr int kBand = 40;
  const std::vector<int> model = VeraLine(rows[0].text, true, kHalf, kBand, kX, 4);
  int sx0 = kHalf, sy0 = kBand, sx1 = -1, sy1 = -1, mx0 = kHalf, my0 = kBand, mx1 = -1, my1 = -1;
  for (int y = 0; y < kBand; ++y)
    for (int x = 0; x < kHalf; ++x) {
      if (pixel(x, y) != kBack && !marked(x, y))
        sx0 = std::min(sx0, x), sy0 = std::min(sy0, y), sx1 = std::max(sx1, x), sy1 = std::max(sy1, y);
      if (model[size_t(y) * kHalf + x])
        mx0 = std::min(mx0, x), my0 = std::min(my0, y), mx1 = std::max(mx1, x), my1 = std::max(my1, y);
    }
  ASSERT_GT(mx1 - mx0, 80) << "model";
  ASSERT_EQ(sx1 - sx0, mx1 - mx0);
  ASSERT_EQ(sy1 - sy0, my1 - my0);
  int wrong = 0;
  for (int y = 0; y <= sy1 - sy0; ++y)
    for (int x = 0; x <= sx1 - sx0; ++x) {
      const int m = model[size_t(my0 + y) * kHalf + mx0 + x];
      const int want = 0x33 + (0xFF - 0x33) * m / 255, red = int(pixel(sx0 + x, sy0 + y) >> 16);
      wrong += std::abs(red - want) > 2;
    }
  EXPECT_EQ(wrong, 0);
}
