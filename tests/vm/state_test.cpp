// Opening and closing the VM (leak-free, balanced byte count), the protected
// call core, stack growth and the memory routine's limits.
#include <cstring>
#include <string>
#include <vector>

#include "tests/vm/vm_test_util.h"
#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/gc.h"
#include "vm/memory.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace {

using vltest::VmTest;

TEST(VmState, ThousandOpenCloseCyclesBalanceTheByteCount) {
  for (int i = 0; i < 1000; i++) {
    vlVMState* L = vl::OpenVmState();
    ASSERT_NE(L, nullptr);
    // Make one object of every kind so that closing has to free them all.
    ASSERT_EQ(vl::RunProtectedFn(L, [&] {
      vlTable* t = vl::CreateTable(L, 8, 3);
      for (int k = 0; k < 50; k++) vl::SetNumber(vl::TableSetInt(L, t, k), k);
      std::string s = "cycle" + std::to_string(i);
      vl::InternString(L, s.data(), s.size());
      vlFuncProto* p = vl::NewProto(L);
      p->code = vl::NewVector<vlInstruction>(L, 4);
      p->sizecode = 4;
      vlClosure* c = vl::NewScriptClosure(L, p, 1, &L->globals);
      c->s.upvals[0] = vl::FindUpvalue(L, L->top);  // left open: closing must close it
      vl::NewNativeClosure(L, nullptr, 2);
      vl::NewUserdata(L, 100);
      vl::ScratchBuffer(L, 100);
      vl::GrowStack(L, 100);
    }), 0);
    vl::CloseVmState(L);
    ASSERT_EQ(vl::LastCloseResidualBytes(), 0) << "cycle " << i;
  }
}

TEST(VmState, OpenStartsWithTheDocumentedLayout) {
  vlVMState* L = vl::OpenVmState();
  ASSERT_NE(L, nullptr);
  vlVMGlobal* g = L->g;
  EXPECT_EQ(L->stacksize, 45);
  EXPECT_EQ(L->stackLast, L->stack + 39);
  EXPECT_EQ(L->base, L->stack + 1);
  EXPECT_EQ(L->ci->top, L->base + 20);
  EXPECT_EQ(L->ci->state, VL_CI_NATIVE);
  EXPECT_EQ(L->sizeCi, 8);
  EXPECT_EQ(g->mainthread, L);
  EXPECT_EQ(g->strt.size, 32);
  if (!vl::GetGCStress(L)) {
    EXPECT_EQ(g->GCthreshold, 4 * g->nblocks);
  }
  vlTable* meta = vl::DefaultMetatable(L);
  EXPECT_EQ(meta->metatable, meta);
  EXPECT_EQ(vl::ToTable(&L->globals)->lsizenode, 4);
  EXPECT_EQ(vl::Registry(L)->sizearray, 4);
  EXPECT_EQ(vl::ToTable(&L->globals)->metatable, meta);
  EXPECT_STREQ(vl::StringData(g->tmname[VL_TM_CALL]), "__call");
  EXPECT_STREQ(vl::StringData(g->tmname[VL_TM_DIVINT]), "__divint");
  EXPECT_TRUE(g->tmname[VL_TM_INDEX]->gch.gcFlags & VL_GC_FIXED);
  vl::CloseVmState(L);
}

// A text lengthened a byte at a time (s = s .. x in a loop) must not
// reallocate and copy the scratch buffer at every step, and what the buffer
// held survives each growth.
TEST_F(VmTest, ScratchBufferGrowsGeometrically) {
  int resizes = 0;
  size_t last = L->g->buffsize;
  ASSERT_EQ(vl::RunProtectedFn(L, [&] {
    for (size_t n = 1; n <= 20000; n++) {
      char* b = vl::ScratchBuffer(L, n);
      b[n - 1] = static_cast<char>(n & 0x7F);
      if (L->g->buffsize != last) resizes++, last = L->g->buffsize;
    }
  }), 0);
  EXPECT_LT(resizes, 30);
  EXPECT_GE(L->g->buffsize, 20000u);
  for (size_t n = 1; n <= 20000; n++) ASSERT_EQ(L->g->buffer[n - 1], static_cast<char>(n & 0x7F)) << n;
}

TEST_F(VmTest, ProtectedCallsNestAndReportTheCode) {
  int inner = -1;
  int outer = Protect([&] {
    inner = Protect([&] { vl::RaiseVmError(L, ERR_ZERODIVISION); });
    vl::ThrowVmError(L, ERR_CONCAT);
  });
  EXPECT_EQ(inner, ERR_ZERODIVISION);
  EXPECT_EQ(outer, ERR_CONCAT);
  EXPECT_EQ(L->errorJmp, nullptr);
  EXPECT_EQ(L->g->errorThrown, 1);
  EXPECT_EQ(Protect([] {}), 0);
}

TEST_F(VmTest, RaiseRecordsTheLineOfTheRunningFrame) {
  int line = 12345;
  L->g->host.noteErrorPosition = [](vlVMState* S, int ln) { S->g->errorLineDefault = ln; };
  L->g->errorLineDefault = 777;
  EXPECT_EQ(Protect([&] { vl::RaiseVmError(L, ERR_STACK); }), ERR_STACK);
  line = L->g->errorLineDefault;
  EXPECT_EQ(line, -1);  // the base frame is a native frame
}

TEST_F(VmTest, StackGrowthMovesFramesAndOpenUpvalues) {
  ASSERT_EQ(Protect([&] {
    vl::SetNumber(L->top, 7);
    vlUpvalue* uv = vl::FindUpvalue(L, L->top);
    EXPECT_EQ(vl::FindUpvalue(L, L->top), uv);  // shared, not duplicated
    L->top++;
    ptrdiff_t topIndex = L->top - L->stack;
    vl::GrowStack(L, 10);
    EXPECT_EQ(L->stacksize, 90);
    EXPECT_EQ(L->top - L->stack, topIndex);
    EXPECT_EQ(uv->v, L->top - 1);
    EXPECT_EQ(uv->v->v.n, 7);
    vl::GrowStack(L, 500);
    EXPECT_EQ(L->stacksize, 90 + 500 + 5);
    EXPECT_EQ(L->stackLast, L->stack + L->stacksize - 6);
    EXPECT_EQ(L->ci->base, L->base);
    vl::CloseUpvalues(L, L->base);
    EXPECT_EQ(uv->v, &uv->value);
    EXPECT_EQ(uv->value.v.n, 7);
    EXPECT_EQ(L->openupval, nullptr);
  }), 0);
}

TEST_F(VmTest, MemoryRoutineLimitsAndAccounting) {
  uint64_t before = L->g->nblocks;
  void* p = nullptr;
  ASSERT_EQ(Protect([&] { p = vl::VmRealloc(L, nullptr, 0, 1000); }), 0);
  EXPECT_EQ(L->g->nblocks, before + 1000);
  ASSERT_EQ(Protect([&] { p = vl::VmRealloc(L, p, 1000, 10); }), 0);
  EXPECT_EQ(L->g->nblocks, before + 10);
  vl::VmRealloc(L, p, 10, 0);
  EXPECT_EQ(L->g->nblocks, before);
  EXPECT_EQ(Protect([&] { vl::VmRealloc(L, nullptr, 0, 4294967294u); }), ERR_MEM);
  EXPECT_EQ(L->g->nblocks, before);
  L->g->allocFailCountdown = 1;
  EXPECT_EQ(Protect([&] { vl::CreateTable(L, 4, 0); }), ERR_MEM);
  EXPECT_EQ(vl::VmRealloc(nullptr, nullptr, 0, 4294967294u), nullptr);  // no state: just null
}

// Small blocks of mixed sizes, carved from slabs and reused from the free
// lists (including the gaps left to keep blocks within cache lines), never
// overlap; where the pool is not checked, no block touches more cache lines
// than its size needs.
TEST_F(VmTest, PooledBlocksNeverOverlapAndKeepToCacheLines) {
  struct Block {
    unsigned char* p;
    size_t size;
  };
  std::vector<Block> blocks;
  uint64_t before = L->g->nblocks;
  auto check = [&](const Block& b) {
#ifndef VL_POOL_CHECKED
    auto at = reinterpret_cast<uintptr_t>(b.p);
    EXPECT_EQ((at + b.size - 1) / 64 - at / 64 + 1, (b.size + 63) / 64) << b.size << " bytes at " << at % 64;
#else
    (void)b;
#endif
  };
  for (int round = 0; round < 3; round++) {
    for (int i = 0; i < 4000; i++) {
      size_t size = 16 * (1 + (i * 7 + round) % 16);
      auto* p = static_cast<unsigned char*>(vl::NewBlock(L, size));
      blocks.push_back({p, size});
      check(blocks.back());
      std::memset(p, static_cast<int>(blocks.size() % 251), size);
    }
    for (size_t k = 0; k < blocks.size(); k++) {
      for (size_t j = 0; j < blocks[k].size; j++)
        ASSERT_EQ(blocks[k].p[j], static_cast<unsigned char>((k + 1) % 251)) << "block " << k << " overwritten";
    }
    // Free every other block; the next round takes them back.
    std::vector<Block> kept;
    for (size_t k = 0; k < blocks.size(); k++) {
      if (k % 2) vl::FreeBlock(L, blocks[k].p, blocks[k].size);
      else kept.push_back(blocks[k]);
    }
    blocks.clear();
    for (const Block& b : kept) {
      blocks.push_back(b);
      std::memset(b.p, static_cast<int>(blocks.size() % 251), b.size);
    }
  }
  for (const Block& b : blocks) vl::FreeBlock(L, b.p, b.size);
  EXPECT_EQ(L->g->nblocks, before);
}

}  // namespace
