// Protracker rendering speed on the shared modules, as multiples of real
// time, against xmp rendering the same module to a file. xmp's time is the
// processor time of "xmp -o" less that of "xmp --load-only" (its start and
// loading), the best of three runs; ours is the whole song rendered to
// 48000 Hz 16-bit stereo. Counters: x_realtime (ours), xmp_x_realtime and
// vs_xmp (ours / xmp; 1.0 or more is the goal).
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/sound/protracker.h"

namespace {

constexpr uint32_t kRate = 48000;

std::string TestDataDir() {
  if (const char* root = std::getenv("VL_TESTDATA")) return root;
  for (std::string dir = VL_BENCH_SOURCE_DIR; dir.size() > 1; dir.resize(dir.find_last_of('/'))) {
    std::string candidate = dir + "/../shared/testdata";
    if (access(candidate.c_str(), R_OK) == 0) return candidate;
  }
  return "/work/shared/testdata";
}

double ChildSeconds() {
  rusage use{};
  getrusage(RUSAGE_CHILDREN, &use);
  return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// Processor seconds of a command, the best of three; negative when it fails.
double CommandSeconds(const std::string& command) {
  double best = -1;
  for (int i = 0; i < 3; i++) {
    double before = ChildSeconds();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return -1;
    double took = ChildSeconds() - before;
    if (best < 0 || took < best) best = took;
  }
  return best;
}

// Renders the whole song once; its length in seconds.
double RenderSong(std::vector<uint8_t> image) {
  size_t size = ParseProtrackerModule(nullptr, image.data(), image.size(), kRate);
  if (!size) return 0;
  std::vector<uint8_t> block(size);
  auto* state = reinterpret_cast<vlModuleState*>(block.data());
  ParseProtrackerModule(state, image.data(), image.size(), kRate);
  state->flags |= VL_MOD_STOP_AT_END;
  static int16_t out[4096 * 2];
  uint64_t frames = 0;
  while (!(state->flags & VL_MOD_SONG_ENDED) && frames < uint64_t(kRate) * 600) {
    RenderModuleAudio(state, out, 4096);
    benchmark::DoNotOptimize(out);
    frames += 4096;
  }
  return double(frames) / kRate;
}

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec / 1e9;
}

void BM_RenderSharedModule(benchmark::State& state, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), {});
  double seconds = 0, busy = 0;
  for (auto _ : state) {
    double start = ThreadSeconds();
    seconds = RenderSong(image);
    busy += ThreadSeconds() - start;
  }
  if (seconds <= 0 || busy <= 0) {
    state.SkipWithError("not a module");
    return;
  }
  const double ours = seconds * double(state.iterations()) / busy;
  state.counters["x_realtime"] = ours;
  std::string wav = "/tmp/vl_module_bench_" + std::to_string(getpid()) + ".wav";
  double full = CommandSeconds("xmp -q -f 48000 -o " + wav + " '" + file + "'");
  double load = CommandSeconds("xmp -q --load-only '" + file + "'");
  std::remove(wav.c_str());
  if (full > 0 && load >= 0 && full > load) {
    const double xmp = seconds / (full - load);
    state.counters["xmp_x_realtime"] = xmp;
    state.counters["vs_xmp"] = ours / xmp;
  }
}

void RegisterModules() {
  std::string dir = TestDataDir() + "/mod";
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".mod") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    benchmark::RegisterBenchmark(("BM_RenderSharedModule/" + name).c_str(), BM_RenderSharedModule, dir + "/" + name)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterModules();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
