// Error texts, user errors, the argument buffer and the requester text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/messages.h"
#include "vm/error_codes.h"

namespace {

std::string Text(int code, size_t size = kErrorTextSize) {
  std::vector<char> buf(size + 16, '\x55');
  GetErrorText(code, buf.data(), size);
  for (size_t i = size; i < buf.size(); ++i) EXPECT_EQ(buf[i], '\x55') << "written past the end";
  return buf.data();
}

TEST(ErrorArgument, HoldsAtMost1023Characters) {
  std::string longText(5000, 'q');
  const char* stored = SetErrorArgument(longText.c_str());
  EXPECT_EQ(stored, GetErrorArgument());
  EXPECT_EQ(std::string(stored), std::string(1023, 'q'));
  SetErrorArgument(nullptr);
  EXPECT_STREQ(GetErrorArgument(), "");
}

TEST(ErrorText, FileCodesShowTheFilePart) {
  SetErrorArgument("data/sub/pic.png");
  EXPECT_EQ(Text(ERR_READFILE), "Cannot read file pic.png !");
  EXPECT_EQ(Text(ERR_WRITEFILE), "Cannot write to file data/sub/pic.png !");
  EXPECT_EQ(Text(ERR_NOALPHA), "Image \"pic.png\" does not have an alpha channel!");
  SetErrorArgument("C:\\games\\x.png");
  EXPECT_EQ(Text(ERR_LOADPICTURE2), "Image file \"x.png\" is in an unknown/unsupported format!");
  SetErrorArgument("Work:pic.png");
  EXPECT_EQ(Text(ERR_READFILE), "Cannot read file pic.png !");
  // the buffer itself is left as it was
  EXPECT_STREQ(GetErrorArgument(), "Work:pic.png");
}

TEST(ErrorText, ChunkNamesBecomeTheirStoredName) {
  SetErrorArgument(":::chunk1234:567*gfx/title.png?/home/u/app.vla");
  EXPECT_EQ(Text(ERR_WRITEFILE), "Cannot write to file title.png !");
  EXPECT_STREQ(GetErrorArgument(), "title.png");
  SetErrorArgument(":::chunkS12:99*sound.wav?");
  EXPECT_EQ(Text(ERR_READFILE), "Cannot read file sound.wav !");
}

TEST(ErrorText, NumbersAndPlainTexts) {
  SetErrorArgIndex(7);
  SetErrorArgument("ignored");
  EXPECT_EQ(Text(ERR_FINDTIMER), "Could not find timer 7!");
  EXPECT_EQ(Text(ERR_NUMEXPECTED), "Number expected in argument 7!");
  EXPECT_EQ(Text(ERR_MEM), "Out of memory!");
  EXPECT_EQ(Text(0), "No error occurred!");
  for (int code : {-5, 1, 999, 1001, 1002})
    EXPECT_EQ(Text(code), "Unknown error code!") << code;
  // "%%" is one "%" also in a text without "%s" or "%d"
  EXPECT_EQ(Text(1463), "Malformed pattern! (ends with \"%\")");
}

TEST(ErrorText, ErrorCalledPrintsTheArgumentVerbatim) {
  SetErrorArgument("50% of %s and %d%n");
  EXPECT_EQ(Text(ERR_ERRORCALLED), "50% of %s and %d%n");
  EXPECT_EQ(Text(ERR_OPENFONT), "50% of %s and %d%n");
}

TEST(ErrorText, UserCodesFollowTheBuiltIns) {
  FreeUserErrors();
  EXPECT_EQ(Text(1581), "Unknown error code!");
  EXPECT_EQ(RegisterUserError("Disk on fire!"), 1581);
  EXPECT_EQ(RegisterUserError("Cannot find %s"), 1582);
  SetErrorArgument("a/b/c");
  EXPECT_EQ(Text(1581), "Disk on fire!");
  EXPECT_EQ(Text(1582), "Cannot find a/b/c");
  EXPECT_EQ(Text(1583), "Unknown error code!");
  FreeUserErrors();
  EXPECT_EQ(RegisterUserError("again"), 1581);
  FreeUserErrors();
}

TEST(ErrorText, LongArgumentsAreCutAtTheDestination) {
  std::string arg(1023, 'z');
  SetErrorArgument(arg.c_str());
  std::string t = Text(ERR_WRITEFILE);
  EXPECT_EQ(t.size(), 1023u);
  EXPECT_EQ(t.substr(0, 21), "Cannot write to file ");
  EXPECT_EQ(Text(ERR_ERRORCALLED, 10), "zzzzzzzzz");
  EXPECT_EQ(Text(ERR_READFILE, 1), "");
}

TEST(ErrorRecord, ResetsToUnknown) {
  SetCurrentFunctionName("Foo");
  SetCurrentErrorLine(12);
  EXPECT_TRUE(CurrentFunctionKnown());
  ResetCurrentFunction();
  EXPECT_STREQ(GetCurrentFunctionName(), "----");
  EXPECT_EQ(GetCurrentErrorLine(), -1);
  EXPECT_FALSE(CurrentFunctionKnown());
  EXPECT_STREQ(GetErrorSourceFile(), "?");
  std::string longName(600, 'n');
  SetCurrentFunctionName(longName.c_str());
  EXPECT_EQ(strlen(GetCurrentFunctionName()), kFunctionNameSize - 1);
}

TEST(Requester, TextForms) {
  char out[4096];
  SetErrorSourceFile("scripts/game.vls");
  ResetCurrentFunction();
  SetCurrentErrorLine(42);
  FormatErrorRequesterText(out, sizeof out, "Out of memory!", false, true);
  EXPECT_STREQ(out, "Out of memory!\nFile: game.vls (current line: 42)");
  SetCurrentFunctionName("anonymous");
  FormatErrorRequesterText(out, sizeof out, "Out of memory!", false, true);
  EXPECT_STREQ(out, "Out of memory!\nFile: game.vls (current line: 42 - In function: anonymous)");
  FormatErrorRequesterText(out, sizeof out, "Out of memory!", true, true);
  EXPECT_STREQ(out, "Out of memory!");
  FormatErrorRequesterText(out, sizeof out, "Out of memory!", false, false);
  EXPECT_STREQ(out, "Out of memory!");
  // a message with percent signs is an argument, never a format
  FormatErrorRequesterText(out, 20, "50% %s %n done", false, true);
  EXPECT_STREQ(out, "50% %s %n done\nFile");
}

TEST(Requester, ConsoleFormPrintsTheBody) {
  testing::internal::CaptureStdout();
  ShowErrorRequesterText(nullptr, "Out of memory!\nFile: a.vls (current line: 3)", 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Out of memory!\nFile: a.vls (current line: 3)\n");
}

}  // namespace
