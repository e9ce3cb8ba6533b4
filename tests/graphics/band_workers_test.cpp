// Jobs split into bands of rows: every row runs exactly once, whatever the
// number of helpers, the job's shape or other threads asking at the same
// time; small jobs and jobs with no helpers stay on the calling thread;
// large ones really do run on helpers.
#include "graphics/band_workers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

constexpr int64_t kMany = int64_t{1} << 40;  // bytes no cache holds

struct Rows {
  std::unique_ptr<std::atomic<int>[]> runs;
  int32_t count;
  std::mutex lock;
  std::set<std::thread::id> threads;
  std::vector<std::pair<int32_t, int32_t>> bands;
  // Each band but the first waits until another thread has run a band (or
  // two seconds have gone), so a helper that is woken at all shows.
  bool waitForAnother = false;
  explicit Rows(int32_t n) : runs(new std::atomic<int>[n]), count(n) {
    for (int32_t i = 0; i < n; ++i) runs[i] = 0;
  }
};

void CountRows(void* context, int32_t first, int32_t end) {
  Rows& r = *static_cast<Rows*>(context);
  {
    std::lock_guard<std::mutex> g(r.lock);
    r.threads.insert(std::this_thread::get_id());
    r.bands.emplace_back(first, end);
  }
  for (int32_t y = first; y < end; ++y) r.runs[y].fetch_add(1);
  if (!r.waitForAnother) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < until) {
    {
      std::lock_guard<std::mutex> g(r.lock);
      if (r.threads.size() > 1) return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void ExpectEveryRowOnce(const Rows& r, const char* what) {
  for (int32_t y = 0; y < r.count; ++y) ASSERT_EQ(r.runs[y].load(), 1) << what << " row " << y;
  // The bands tile the rows without a gap or an overlap.
  auto bands = r.bands;
  std::sort(bands.begin(), bands.end());
  int32_t next = 0;
  for (const auto& b : bands) {
    ASSERT_EQ(b.first, next) << what;
    ASSERT_LT(b.first, b.second) << what;
    next = b.second;
  }
  EXPECT_EQ(next, r.count) << what;
}

class BandWorkers : public ::testing::Test {
 protected:
  void TearDown() override {
    SetBandHelpers(-1);
    SetBandFromBytes(-1);
  }
};

TEST_F(BandWorkers, EveryRowRunsOnceForEveryShapeAndHelperCount) {
  struct Shape {
    int32_t rows;
    int64_t pixels;
  };
  const Shape shapes[] = {{1, int64_t{1} << 22},  {2, kBandFromPixels},     {3, kBandFromPixels},
                          {1080, 1920 * 1080},     {1079, 1023 * 1079},     {513, 517 * 513},
                          {7, int64_t{1} << 20},   {4000, int64_t{4000} * 65}, {100, kBandFromPixels - 1},
                          {1, 1}};
  for (int32_t helpers : {0, 1, 2, 3, -1}) {
    SetBandHelpers(helpers);
    for (const Shape& s : shapes) {
      Rows r(s.rows);
      RunInBands(s.rows, s.pixels, kMany, CountRows, &r);
      ExpectEveryRowOnce(r, ("helpers " + std::to_string(helpers) + " rows " + std::to_string(s.rows)).c_str());
    }
  }
  // Nothing to run runs nothing.
  Rows none(1);
  RunInBands(0, int64_t{1} << 22, kMany, CountRows, &none);
  EXPECT_EQ(none.runs[0].load(), 0);
  EXPECT_TRUE(none.bands.empty());
}

TEST_F(BandWorkers, SmallJobsAndJobsWithoutHelpersStayOnTheCallingThread) {
  SetBandHelpers(3);
  Rows small(300);
  RunInBands(300, kBandFromPixels - 1, kMany, CountRows, &small);
  ASSERT_EQ(small.bands.size(), 1u);
  EXPECT_EQ(*small.threads.begin(), std::this_thread::get_id());
  SetBandHelpers(0);
  Rows whole(1080);
  RunInBands(1080, 1920 * 1080, kMany, CountRows, &whole);
  ASSERT_EQ(whole.bands.size(), 1u);
  EXPECT_EQ(*whole.threads.begin(), std::this_thread::get_id());
}

// A job whose bytes the calling core keeps close is not split, however
// many pixels it has; one byte more and it is.
TEST_F(BandWorkers, JobsThatFitTheCallersCacheStayWhole) {
  SetBandHelpers(3);
  const int64_t from = BandFromBytes();
  ASSERT_GT(from, 0);
  Rows fits(1080);
  RunInBands(1080, 1920 * 1080, from - 1, CountRows, &fits);
  ASSERT_EQ(fits.bands.size(), 1u);
  EXPECT_EQ(*fits.threads.begin(), std::this_thread::get_id());
  Rows overflows(1080);
  overflows.waitForAnother = true;
  RunInBands(1080, 1920 * 1080, from, CountRows, &overflows);
  ExpectEveryRowOnce(overflows, "overflowing");
  EXPECT_GT(overflows.threads.size(), 1u);
  // Set to 0, the byte rule lets every large enough job be split.
  SetBandFromBytes(0);
  EXPECT_EQ(BandFromBytes(), 0);
  Rows small(1080);
  small.waitForAnother = true;
  RunInBands(1080, 1920 * 1080, 0, CountRows, &small);
  EXPECT_GT(small.threads.size(), 1u);
  SetBandFromBytes(-1);
  EXPECT_EQ(BandFromBytes(), from);
}

TEST_F(BandWorkers, LargeJobsRunOnHelpersToo) {
  for (int32_t helpers : {1, 3}) {
    SetBandHelpers(helpers);
    Rows r(1080);
    r.waitForAnother = true;
    RunInBands(1080, 1920 * 1080, kMany, CountRows, &r);
    ExpectEveryRowOnce(r, "large");
    EXPECT_GT(r.bands.size(), 1u) << "helpers " << helpers;
    EXPECT_GT(r.threads.size(), 1u) << "helpers " << helpers;
  }
}

// Threads asking at once: one job uses the helpers, the others run whole
// on their own threads, and none loses or repeats a row (ThreadSanitizer
// runs this too).
TEST_F(BandWorkers, CallersOnSeveralThreadsAtOnce) {
  SetBandHelpers(-1);
  std::atomic<int> failures{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t)
    callers.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        const int32_t rows = 300 + 37 * t + i;
        Rows r(rows);
        RunInBands(rows, int64_t{rows} * 1000, kMany, CountRows, &r);
        for (int32_t y = 0; y < rows; ++y)
          if (r.runs[y].load() != 1) ++failures;
      }
    });
  for (auto& c : callers) c.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
