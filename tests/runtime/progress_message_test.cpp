#include <gtest/gtest.h>

#include <string>

#include "runtime/progress_message.h"
#include "runtime/runtime_options.h"

namespace {

std::string Printed(const char* format, const char* file, int dots) {
  testing::internal::CaptureStdout();
  PrintProgressMessage(format, file, dots);
  return testing::internal::GetCapturedStdout();
}

TEST(ProgressMessage, FillsTheReadableNameAndDots) {
  vlOptions.quiet = 0;
  EXPECT_EQ(Printed("Opening script %s", "/home/u/apps/demo.vla", 1), "Opening script demo.vla...");
  EXPECT_EQ(Printed("Loading %s", ":::chunk10:5*gfx/pic.png?/apps/demo.vla", 0), "Loading pic.png");
  // Without a file the format prints as it stands, placeholders and all.
  EXPECT_EQ(Printed("100% of %s %d", nullptr, 0), "100% of %s %d");
  // A catalog format with stray placeholders cannot read arguments.
  EXPECT_EQ(Printed("%n%x %s", "a/b.txt", 0), "%n%x b.txt");
}

TEST(ProgressMessage, QuietConsolePrintsNothing) {
  vlOptions.quiet = 1;
  EXPECT_EQ(Printed("Opening script %s", "demo.vla", 1), "");
  vlOptions.quiet = 0;
}

}  // namespace
