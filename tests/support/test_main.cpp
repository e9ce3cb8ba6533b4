// GoogleTest entry for every suite. CTest can hand a discovered test only one
// environment variable reliably, so the paths tests need are set here from
// what the build knows; an outside value still wins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  setenv("VL_SOURCE_DIR", VL_TEST_SOURCE_DIR, 0);
  setenv("VL_TESTDATA", VL_TEST_DATA_DIR, 0);
  // testing::TempDir() is the same /tmp for every process, and the two build
  // trees' suites may run at once: each process gets a folder of its own.
  std::string private_tmp;
  {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vl_test_XXXXXX";
    if (mkdtemp(pattern.data())) {
      private_tmp = pattern;
      setenv("TEST_TMPDIR", private_tmp.c_str(), 1);
    }
  }
  testing::InitGoogleTest(&argc, argv);
  int status = RUN_ALL_TESTS();
  if (!private_tmp.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(private_tmp, ignored);
  }
  return status;
}
