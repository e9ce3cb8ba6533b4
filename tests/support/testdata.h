// The shared suites of real files (PNG, GIF, BMP, modules) live outside the
// repository; the test main finds them. A test that reads them says so with
// VL_REQUIRE_TESTDATA(), which skips it, naming the place looked at, when the
// suites are not on this machine.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace vltest {

inline bool HaveTestData() {
  const char* root = std::getenv("VL_TESTDATA");
  struct stat st;
  return root && *root && stat(root, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace vltest

#define VL_REQUIRE_TESTDATA()                                                               \
  do {                                                                                      \
    if (!vltest::HaveTestData())                                                            \
      GTEST_SKIP() << "shared test files not found (VL_TESTDATA=" << std::getenv("VL_TESTDATA") \
                   << ")";                                                                  \
  } while (0)
