// The string library opened on a test VM.
#pragma once
#include "libraries/string/string_library.h"
#include "runtime/objects.h"
#include "tests/libraries/library_script.h"

namespace vltest {

class StringLibrary : public LibraryScript {
 protected:
  void SetUp() override {
    LibraryScript::SetUp();
    vl::PushSlotCopy(L, vl::kGlobalsIndex);
    ASSERT_EQ(OpenStringLib(L), 0);
    vl::SetStackTop(L, 0);
  }
  void TearDown() override {
    FreeObjectRegistries();
    LibraryScript::TearDown();
  }
  // Calls one command with literal arguments, keeping its first result in
  // global r (and further ones in r2, r3, ...); 0 or the error code.
  int Call(const std::string& command, const std::string& args, int results = 1) {
    std::string line = ".call " + command + " " + args + " ->";
    for (int i = 1; i <= results; ++i) line += i == 1 ? " r" : " r" + std::to_string(i);
    return Run("loadnil 0 0\nsetglobal 0 \"r\"\n" + line);
  }
  std::string CallStr(const std::string& command, const std::string& args) {
    int status = Call(command, args);
    if (status) return "error " + std::to_string(status);
    return Str("r");
  }
  double CallNum(const std::string& command, const std::string& args) {
    int status = Call(command, args);
    if (status) return -100000 - status;
    return Num("r");
  }
};

}  // namespace vltest
