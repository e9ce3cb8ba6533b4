// GoogleTest entry for every suite. CTest can hand a discovered test only one
// environment variable reliably, so the paths tests need are set here from
// what the build knows; an outside value still wins.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("VL_SOURCE_DIR", VL_TEST_SOURCE_DIR, 0);
  setenv("VL_TESTDATA", VL_TEST_DATA_DIR, 0);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
