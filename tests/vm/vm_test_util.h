// Shared helpers of the VM tests: a VM per test and protected running.
#pragma once
#include <gtest/gtest.h>

#include "vm/protect.h"
#include "vm/state.h"

namespace vltest {

class VmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = vl::OpenVmState();
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override {
    if (L) vl::CloseVmState(L);
  }
  // Runs fn under a protected frame; 0 or the error code it raised.
  template <class F>
  int Protect(F&& fn) {
    return vl::RunProtectedFn(L, fn);
  }
  vlVMState* L = nullptr;
};

}  // namespace vltest
