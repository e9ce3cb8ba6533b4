// GoogleTest entry for every suite. CTest can hand a discovered test only one
// environment variable reliably, so the paths tests need are set here from
// what the build knows; an outside value still wins.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

bool IsDir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The shared test files sit beside the checkout ("../shared/testdata"); a
// clone elsewhere looks in its parents and then in the usual workplace.
std::string FindTestData() {
  std::string dir = VL_TEST_SOURCE_DIR;
  while (!dir.empty()) {
    if (IsDir(dir + "/../shared/testdata")) return dir + "/../shared/testdata";
    if (IsDir(dir + "/shared/testdata")) return dir + "/shared/testdata";
    size_t slash = dir.find_last_of('/');
    if (slash == std::string::npos || slash == 0) break;
    dir.resize(slash);
  }
  if (IsDir("/work/shared/testdata")) return "/work/shared/testdata";
  return VL_TEST_DATA_DIR;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("VL_SOURCE_DIR", VL_TEST_SOURCE_DIR, 0);
  setenv("VL_TESTDATA", FindTestData().c_str(), 0);
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
