// What a user reads when a script fails: the error names the line where
// it happened.
#include <cstdio>
#include <string>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Result;
using vlplayer::RunOptions;
using ErrorReport = PlayerTest;

// An error inside an event handler names the handler's line, not the line
// of the main loop that was waiting for the event.
TEST_F(ErrorReport, ErrorInAnEventHandlerNamesTheHandlersLine) {
  std::string applet = Applet("handler", R"(.function fire
  .params 1
  .line 4
  .call base=1 debugprint "in handler"
  .line 5
  .call base=1 nosuchcommand
  ret
.end
.defun OnFire fire
.line 9
.call settimeout nil $OnFire 5
.line 10
.call waitevent
.call debugprint "after")");
  // Without a debug device the error is shown in the toolkit's message box,
  // unless the run is quiet.
  RunOptions options;
  options.quietAndTemp = false;
  bool shown = false;
  options.whileRunning = [&](pid_t, const std::string& display) {
    std::string box = vlplayer::WaitForWindow(display, "VellamoraPlayer", 30000);
    shown = !box.empty();
    if (shown) Tool("xdotool windowfocus --sync " + box + " key Return");
  };
  Result r = Run({"-tempdir", temp(), applet}, options);
  EXPECT_TRUE(shown) << "no error box";
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("in handler\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("after"), std::string::npos) << r.out;
  r = Run({"-debugdevice", "console", applet});
  EXPECT_NE(r.out.find("@handler.vls:5: Function nosuchcommand() not found!"), std::string::npos) << r.out;
  // A quiet run opens no box that nobody would close: the report goes to
  // standard error and the run ends at once, failed.
  options = RunOptions{};
  options.timeoutSeconds = 20;
  options.whileRunning = [&](pid_t, const std::string& display) {
    shown = !vlplayer::WaitForWindow(display, "VellamoraPlayer", 3000).empty();
  };
  r = Run({applet}, options);
  EXPECT_FALSE(shown) << "a box in a quiet run";
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.out, "in handler\n");
  EXPECT_EQ(r.err, "@handler.vls:5: Function nosuchcommand() not found!\n");
  // So does a start that fails on its arguments before it reads -QUIET.
  options.whileRunning = nullptr;
  r = Run({"-autoscale", "-layerscale", applet}, options);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.err, "Error: Invalid parameter for console argument!\n");
}

// A main chunk that cannot be loaded names no file or line: there is none
// yet, only the message.
TEST_F(ErrorReport, AChunkThatCannotBeLoadedReportsTheMessageAlone) {
  std::string path = Applet("badchunk", ".line 1\n.call debugprint \"ran\"");
  std::string bytes;
  {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
  }
  // The eight size bytes of the chunk header become zero.
  size_t signature = bytes.find("\x1bVLB");
  ASSERT_NE(signature, std::string::npos);
  bytes.replace(signature + 5, 8, 8, '\0');
  WriteFile("badchunk.vla", bytes);
  Result r = Run({"-debugdevice", "console", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: Virtual machine data type mismatch!\n");
}

}  // namespace
