// A VM with the dos library opened and a private temporary directory, for
// tests that drive the dos commands from assembled scripts and check the
// files with real tools.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "libraries/dos/dos_library.h"
#include "runtime/objects.h"
#include "runtime/serial_value.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/stack_api.h"

namespace vltest {

class DosTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    ASSERT_EQ(OpenDosLib(L), 0);
    std::string templ = testing::TempDir() + "vl_dos_XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir = templ;
  }
  void TearDown() override {
    FreeDosObjects(L);
    FreeObjectRegistries();
    vlSerialIOMode = VL_IO_BUFFERED;
    std::error_code ec;
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir, ec);
    HandlerTest::TearDown();
  }

  // Runs the lines as a main chunk: 0 or the error code.
  int Run(const std::string& body, const std::string& functions = "") {
    L->g->quitDefault = 0;
    int r = RunScript(L, functions + ".line 1\n" + body + "\nret\n");
    vl::SetStackTop(L, 0);
    return r;
  }
  double Num(const char* name) { return GlobalNumber(L, name); }
  std::string Str(const char* name) { return GlobalString(L, name); }
  bool IsNil(const char* name) {
    const vlValue* v = GetGlobal(L, name);
    return !v || v->tag == VL_TNIL;
  }

  std::string Path(const std::string& name) const { return dir + "/" + name; }
  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  // Runs a shell command; its standard output.
  static std::string Shell(const std::string& command) {
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
    pclose(p);
    return out;
  }
  // Runs a python3 program (no single quotes in it); its standard output.
  static std::string Python(const std::string& program) { return Shell("python3 -c '" + program + "'"); }

  std::string dir;
};

}  // namespace vltest
