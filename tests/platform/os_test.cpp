#include "runtime/os.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "runtime/errors.h"
#include "runtime/exit_removals.h"
#include "platform/hooks.h"
#include "runtime/paths.h"
#include "vm/error_codes.h"

namespace {

TEST(TimeVal, SubtractBorrowsASecond) {
  vlTimeVal a{5, 100}, b{2, 200};
  SubTimeVal(&a, &b);
  EXPECT_EQ(a.seconds, 2u);
  EXPECT_EQ(a.micros, 999900u);
  vlTimeVal c{5, 300}, d{2, 200};
  SubTimeVal(&c, &d);
  EXPECT_EQ(c.seconds, 3u);
  EXPECT_EQ(c.micros, 100u);
}

TEST(TimeVal, AddCarriesASecond) {
  vlTimeVal a{1, 999999}, b{0, 1};
  AddTimeVal(&a, &b);
  EXPECT_EQ(a.seconds, 2u);
  EXPECT_EQ(a.micros, 0u);
  vlTimeVal c{1, 999999}, d{3, 999999};
  AddTimeVal(&c, &d);
  EXPECT_EQ(c.seconds, 5u);
  EXPECT_EQ(c.micros, 999998u);
}

TEST(TimeVal, CompareSecondsThenMicros) {
  vlTimeVal a{3, 10}, b{2, 999999}, c{3, 11};
  EXPECT_EQ(CompareTimeVal(&a, &b), 1);
  EXPECT_EQ(CompareTimeVal(&b, &a), -1);
  EXPECT_EQ(CompareTimeVal(&a, &c), -1);
  EXPECT_EQ(CompareTimeVal(&a, &a), 0);
}

TEST(TimeVal, SysTimeMatchesTheClock) {
  vlTimeVal now;
  uint32_t micros = GetSysTime(&now);
  EXPECT_EQ(micros, now.micros);
  EXPECT_LT(now.micros, 1000000u);
  EXPECT_NEAR(static_cast<double>(now.seconds), static_cast<double>(time(nullptr)), 2.0);
  EXPECT_NEAR(GetTimeSeconds(), static_cast<double>(time(nullptr)), 2.0);
}

TEST(SleepMillis, SleepsAtLeastTheTime) {
  auto start = std::chrono::steady_clock::now();
  SleepMillis(1030);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1030));
  start = std::chrono::steady_clock::now();
  SleepMillis(0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST(Memory, ZeroSizeGivesNullAndClearZeroes) {
  EXPECT_EQ(AllocMemory(0, 1), nullptr);
  EXPECT_EQ(AllocMemory(0, 0), nullptr);
  auto* block = static_cast<unsigned char*>(AllocMemory(4096, 1));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4096; i++) ASSERT_EQ(block[i], 0) << i;
  FreeMemory(block);
  FreeMemory(nullptr);
}

TEST(Locale, LanguageAndCountryFromLang) {
  EXPECT_EQ(LanguageFromLang("pt_BR.UTF-8"), 6);
  EXPECT_EQ(CountryFromLang("pt_BR.UTF-8"), 5);
  EXPECT_EQ(LanguageFromLang("C"), 18);
  EXPECT_EQ(CountryFromLang("C"), 38);
  EXPECT_EQ(CountryFromLang("en_UK"), 0);
  EXPECT_EQ(CountryFromLang("en_GB.UTF-8"), 0);
  EXPECT_EQ(CountryFromLang("en_US"), 1);
  EXPECT_EQ(LanguageFromLang("de_DE"), 1);
  EXPECT_EQ(LanguageFromLang("ru"), 17);
  // Case matters, as in the tables.
  EXPECT_EQ(LanguageFromLang("DE_de"), 18);
  EXPECT_EQ(CountryFromLang("de_de"), 38);
}

TEST(Locale, ShortAndMissingTextsAreSafe) {
  EXPECT_EQ(LanguageFromLang(nullptr), 18);
  EXPECT_EQ(CountryFromLang(nullptr), 38);
  EXPECT_EQ(LanguageFromLang(""), 18);
  EXPECT_EQ(LanguageFromLang("e"), 18);
  // Exactly sized heap copies let ASan catch any read past the end.
  for (const char* text : {"en_", "en_U", "_", "e", "pt_B"}) {
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    memcpy(copy, text, n);
    EXPECT_EQ(CountryFromLang(copy), 38) << text;
    LanguageFromLang(copy);
    free(copy);
  }
  EXPECT_EQ(LanguageFromLang("en_"), 0);
}

TEST(Locale, ReadsLangFromTheEnvironment) {
  setenv("LANG", "fr_CH.UTF-8", 1);
  EXPECT_EQ(GetLocaleLanguage(), 4);
  EXPECT_EQ(GetLocaleCountry(), 29);
  unsetenv("LANG");
  EXPECT_EQ(GetLocaleLanguage(), 18);
  EXPECT_EQ(GetLocaleCountry(), 38);
}

int64_t LocalMoment(int year, int month, int day, int hour, int minute, int second) {
  int32_t date[6] = {second, minute, hour, day, month - 1, year};
  int64_t times[2] = {0, 0};
  EXPECT_EQ(MakeTimeFromDate(date, times, 1), 1);
  return times[1];
}

TEST(Dates, ModesOneAndTwo) {
  int64_t when = LocalMoment(2026, 3, 5, 7, 4, 9);
  char first[256] = "", second[256] = "";
  FormatDateTimeAt(when, 1, first, second);
  EXPECT_STREQ(first, "03-05-26");
  EXPECT_STREQ(second, "07:04:09");
  char only[256] = "";
  FormatDateTimeAt(when, 2, only, nullptr);
  EXPECT_STREQ(only, "07:04:09");
  char untouched[256] = "keep";
  FormatDateTimeAt(when, 7, untouched, untouched);
  EXPECT_STREQ(untouched, "keep");
}

TEST(Dates, UserLocaleModes) {
  setenv("LC_ALL", "C", 1);
  int64_t when = LocalMoment(2026, 3, 5, 7, 4, 9);  // a Thursday
  char text[256] = "";
  FormatDateTimeAt(when, 3, text, nullptr);
  EXPECT_STREQ(text, "Thursday");
  FormatDateTimeAt(when, 0, text, nullptr);
  EXPECT_STREQ(text, "03/05/26");
}

TEST(Dates, FormattingLeavesTheProcessLocaleAlone) {
  setlocale(LC_ALL, "C");
  setenv("LC_ALL", "C.UTF-8", 1);
  std::atomic<bool> done{false};
  std::atomic<int> changed{0};
  std::thread watcher([&] {
    while (!done.load()) {
      const char* now = setlocale(LC_ALL, nullptr);
      if (!now || strcmp(now, "C") != 0) changed++;
    }
  });
  char text[256];
  for (int i = 0; i < 2000; i++) {
    FormatDateTime(i % 2 == 0 ? 0 : 3, text, nullptr);
  }
  done = true;
  watcher.join();
  EXPECT_EQ(changed.load(), 0);
  EXPECT_STREQ(setlocale(LC_ALL, nullptr), "C");
}

TEST(Dates, MakeAndSplitRoundTrip) {
  int32_t date[6] = {59, 58, 23, 31, 11, 1999};
  int64_t times[3] = {};
  ASSERT_EQ(MakeTimeFromDate(date, times, 2), 1);
  int32_t back[6] = {};
  SplitTimeToDate(times, back, 2);
  for (int i = 0; i < 6; i++) EXPECT_EQ(back[i], date[i]) << i;
  // Out-of-range fields are normalised by the calendar.
  int32_t overflow[6] = {0, 0, 0, 32, 11, 1999};
  ASSERT_EQ(MakeTimeFromDate(overflow, times, 0), 1);
  SplitTimeToDate(times, back, 0);
  EXPECT_EQ(back[3], 1);
  EXPECT_EQ(back[4], 0);
  EXPECT_EQ(back[5], 2000);
}

TEST(Environment, CopySetAndUnset) {
  EXPECT_EQ(SetEnvVar("VL_OS_TEST_VAR", "hello"), 0);
  char* copy = GetEnvCopy("VL_OS_TEST_VAR");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "hello");
  FreeMemory(copy);
  EXPECT_EQ(UnsetEnvVar("VL_OS_TEST_VAR"), 0);
  EXPECT_EQ(GetEnvCopy("VL_OS_TEST_VAR"), nullptr);
  EXPECT_EQ(SetEnvVar("BAD=NAME", "x"), ERR_SETENV);
  EXPECT_EQ(SetEnvVar("", "x"), ERR_SETENV);
  EXPECT_EQ(UnsetEnvVar("BAD=NAME"), ERR_UNSETENV);
}

std::string MakeTempDir() {
  char dir[] = "/tmp/vl_os_testXXXXXX";
  EXPECT_NE(mkdtemp(dir), nullptr);
  return dir;
}

void WriteFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs(text.c_str(), f);
  fclose(f);
}

TEST(FreeMemory, ReadsMemFreeLine) {
  std::string dir = MakeTempDir();
  WriteFile(dir + "/meminfo", "MemTotal:       16000000 kB\nMemFree:   \t 123456 kB\nMemAvailable: 5 kB\n");
  EXPECT_EQ(GetFreeMemoryFrom((dir + "/meminfo").c_str()), 123456u);
  WriteFile(dir + "/nofree", "MemTotal: 5 kB\nMemFre: 7 kB\n");
  EXPECT_EQ(GetFreeMemoryFrom((dir + "/nofree").c_str()), 0u);
  EXPECT_EQ(GetFreeMemoryFrom((dir + "/missing").c_str()), 0u);
  EXPECT_GT(GetFreeMemory(), 0u);
  system(("rm -rf " + dir).c_str());
}

TEST(TempFiles, MakesAnEmptyUniqueFile) {
  std::string dir = MakeTempDir();
  SetTempDir(dir.c_str());
  char first[PATH_MAX], second[PATH_MAX];
  ASSERT_EQ(MakeTempFileName(first, sizeof(first)), 1);
  ASSERT_EQ(MakeTempFileName(second, sizeof(second)), 1);
  EXPECT_STRNE(first, second);
  EXPECT_EQ(strncmp(first, (dir + "/vellamora.").c_str(), dir.size() + 11), 0) << first;
  struct stat st;
  ASSERT_EQ(stat(first, &st), 0);
  EXPECT_EQ(st.st_size, 0);
  system(("rm -rf " + dir).c_str());
  SetTempDir("/tmp");
}

// What an exit without shut-down removes: temporary files not removed yet
// and a remembered directory with its files; a file removed meanwhile (its
// name then free for anyone) is not touched again.
TEST(TempFiles, AnExitWithoutShutDownRemovesWhatIsLeft) {
  std::string dir = MakeTempDir();
  SetTempDir(dir.c_str());
  char kept[PATH_MAX], removed[PATH_MAX];
  ASSERT_EQ(MakeTempFileName(kept, sizeof(kept)), 1);
  ASSERT_EQ(MakeTempFileName(removed, sizeof(removed)), 1);
  ASSERT_EQ(RemovePath(removed), 1);
  WriteFile(removed, "someone else's");
  std::string sub = dir + "/plugins";
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  WriteFile(sub + "/a.vlp", "a");
  ASSERT_EQ(KeepForExitRemoval(sub.c_str()), 0);
  RemoveExitPaths();
  struct stat st;
  EXPECT_NE(stat(kept, &st), 0);
  EXPECT_NE(stat(sub.c_str(), &st), 0);
  EXPECT_EQ(stat(removed, &st), 0);
  RemoveExitPaths();  // nothing is left to remove twice
  EXPECT_EQ(stat(removed, &st), 0);
  system(("rm -rf " + dir).c_str());
  SetTempDir("/tmp");
}

TEST(TempFiles, ReportsFailureInsteadOfTheTemplate) {
  SetTempDir("/nonexistent-vl-dir/deeper");
  char name[PATH_MAX] = "old";
  EXPECT_EQ(MakeTempFileName(name, sizeof(name)), 0);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(TempFileNameError(errno), ERR_WRITEFILE);
  EXPECT_STREQ(GetErrorArgument(), "/nonexistent-vl-dir/deeper/vellamora.XXXXXX");
  char tiny[8];
  SetTempDir("/tmp");
  EXPECT_EQ(MakeTempFileName(tiny, sizeof(tiny)), 0);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(TempFileNameError(ENOMEM), ERR_MEM);
}

// A folder too long for the message is named by its start and its end.
TEST(TempFiles, AFolderTooLongForTheMessageKeepsBothEnds) {
  std::string folder = "/head";
  while (folder.size() < 1500) folder += "/" + std::string(60, 'm');
  folder += "/tail-folder";
  SetTempDir(folder.c_str());
  char name[1024];
  EXPECT_EQ(MakeTempFileName(name, sizeof(name)), 0);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(TempFileNameError(errno), ERR_WRITEFILE);
  const std::string shown = GetErrorArgument();
  SetTempDir("/tmp");
  EXPECT_LE(shown.size(), kErrorTextSize - 100);
  EXPECT_GE(shown.size(), kErrorTextSize - 200);
  EXPECT_EQ(shown.rfind("/head/mmm", 0), 0u) << shown;
  const std::string end = "m/tail-folder/vellamora.XXXXXX";
  EXPECT_EQ(shown.compare(shown.size() - end.size(), end.size(), end), 0) << shown;
  EXPECT_NE(shown.find("..."), std::string::npos);
}

TEST(PrefsDir, CreatedUnderHome) {
  std::string home = MakeTempDir();
  setenv("HOME", home.c_str(), 1);
  char path[PATH_MAX];
  GetPrefsDir(path, sizeof(path));
  EXPECT_EQ(std::string(path), home + "/.vellamora-pix/preferences");
  struct stat st;
  ASSERT_EQ(stat(path, &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  // An existing directory is fine.
  GetPrefsDir(path, sizeof(path));
  EXPECT_EQ(std::string(path), home + "/.vellamora-pix/preferences");
  system(("rm -rf " + home).c_str());
}

TEST(PlatformOptions, QuitSwitches) {
  EXPECT_EQ(GetPlatformOption(VL_PLATOPT_CTRLC_QUIT), 1);
  EXPECT_EQ(GetPlatformOption(VL_PLATOPT_LMB_QUIT), 0);
  EXPECT_EQ(GetPlatformOption(VL_PLATOPT_ESCAPE_QUIT), 0);
  SetPlatformOption(0, VL_PLATOPT_ESCAPE_QUIT, 1);
  SetPlatformOption(0, VL_PLATOPT_CTRLC_QUIT, 0);
  SetPlatformOption(0, 11, 1);
  EXPECT_EQ(GetPlatformOption(VL_PLATOPT_ESCAPE_QUIT), 1);
  EXPECT_EQ(GetPlatformOption(VL_PLATOPT_CTRLC_QUIT), 0);
  EXPECT_EQ(GetPlatformOption(11), 0);
}

TEST(RequestButtons, StandardSetsAreClassified) {
  struct Case {
    const char* text;
    int kind;
  } cases[] = {{"OK", 3}, {"ok", 3}, {"OK|Cancel", 0}, {"yes|no", 1}, {"Yes|No|Cancel", 2}};
  for (const Case& c : cases) {
    const char* text = c.text;
    int kind = -1;
    ClassifyRequestButtons(&text, &kind);
    EXPECT_EQ(kind, c.kind) << c.text;
    EXPECT_EQ(text, nullptr) << c.text;
  }
  const char* custom = "Save|Discard";
  int kind = 42;
  ClassifyRequestButtons(&custom, &kind);
  EXPECT_STREQ(custom, "Save|Discard");
  EXPECT_EQ(kind, 42);
  const char* none = nullptr;
  ClassifyRequestButtons(&none, &kind);
  EXPECT_EQ(kind, 42);
}

TEST(ProgramPath, ResolvesNamesWithASlash) {
  char path[PATH_MAX];
  ASSERT_EQ(ResolveProgramPath("/bin/../bin/sh", path, sizeof(path)), 1);
  char expected[PATH_MAX];
  ASSERT_NE(realpath("/bin/sh", expected), nullptr);
  EXPECT_STREQ(path, expected);
}

TEST(ProgramPath, BareNameFallsBackOnTheRunningFile) {
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
  char path[PATH_MAX];
  ASSERT_EQ(ResolveProgramPath("platform_os_test", path, sizeof(path)), 1);
  EXPECT_STREQ(path, self);
  ASSERT_EQ(ResolveProgramPath("./no/such/file", path, sizeof(path)), 1);
  EXPECT_STREQ(path, self);
  EXPECT_EQ(ResolveProgramPath("/bin/sh", path, 3), 0);
}

}  // namespace

namespace {

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintToStdout(format, args);
  va_end(args);
}

TEST(Console, PrintsFormattedText) {
  testing::internal::CaptureStdout();
  Print("%s=%d\n", "answer", 42);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "answer=42\n");
}

}  // namespace
