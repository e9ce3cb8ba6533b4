// Display clients added and removed through the plug-in service table from
// several threads at once, as plug-ins do: the list stays whole (run under
// ThreadSanitizer by the CI script).
#include "tests/display/core/display_fixture.h"

#include <atomic>
#include <thread>
#include <vector>

#include "display/clients.h"
#include "abi/plugin_abi.h"
#include "player/service_table.h"

namespace {

using AddFn = void* (*)(int32_t, void*, vlObserverFn, void*, vlTagItem*, uint32_t);
using RemoveFn = void (*)(void*);

class DisplayClientThreads : public vltest::DisplayTest {};

TEST_F(DisplayClientThreads, AddAndRemoveFromPluginThreads) {
  ASSERT_EQ(Run(".table 0 { width = 40, height = 30 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1"), 0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  const vlServiceTable* t = GetServiceTable();
  auto add = vlSlotAs<AddFn>(t->graphics->slot[8]);
  auto remove = vlSlotAs<RemoveFn>(t->graphics->slot[9]);
  constexpr int kPerThread = 200;
  // Two threads add; each removes every other client it made while the
  // other is still adding.
  std::atomic<int> failures{0};
  auto worker = [&] {
    std::vector<void*> mine;
    for (int i = 0; i < kPerThread; ++i) {
      void* c = add(1, nullptr, nullptr, nullptr, nullptr, 0);
      if (!c) {
        failures++;
        continue;
      }
      if (i % 2) remove(c);
      else mine.push_back(c);
    }
    for (void* c : mine) remove(c);
  };
  std::thread a(worker), b(worker);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(d->clients, nullptr);
}

}  // namespace
