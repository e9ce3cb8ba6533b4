// Paths reaching far beyond a small target, drawn by the real player into
// a 40 x 40 brush: a stroked line to 10000,10000 and to 30000,30000, a
// filled triangle to 100000 (also even-odd, with a box cut out of it), and
// triangles to 6000 and 30000 filled with a gradient and with a texture
// brush, beside a line that stays inside the brush.
// Each run is a whole player (start to end, on the X server in DISPLAY);
// the counters give its peak memory, and a run over the bounds (256 MB,
// 5 s) fails, since the cost must follow what the target shows, not the
// path's size.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr double kMemoryBoundMB = 256;
constexpr double kTimeBoundSeconds = 5;

struct Shape {
  const char* name;
  const char* commands;
};

const Shape kShapes[] = {
    {"inside", ".call setfillstyle 0 3\n.call startpath 1\n.call moveto 1 0 0\n.call lineto 1 40 40"},
    {"line10000", ".call setfillstyle 0 3\n.call startpath 1\n.call moveto 1 0 0\n.call lineto 1 10000 10000"},
    {"line30000", ".call setfillstyle 0 3\n.call startpath 1\n.call moveto 1 0 0\n.call lineto 1 30000 30000"},
    {"triangle100000",
     ".call setfillstyle 1\n.call startpath 1\n.call moveto 1 0 0\n.call lineto 1 100000 0\n"
     ".call lineto 1 0 100000\n.call closepath 1"},
    {"gradient6000",
     ".call setfillstyle 2 2 255 16711680\n.call startpath 1\n.call moveto 1 0 0\n.call lineto 1 6000 3\n"
     ".call lineto 1 3 6000\n.call closepath 1"},
    {"gradient30000",
     ".call setfillstyle 2 2 255 16711680\n.call startpath 1\n.call moveto 1 0 0\n.call lineto 1 30000 3\n"
     ".call lineto 1 3 30000\n.call closepath 1"},
    {"evenodd100000",
     ".call setfillstyle 1\n.call setfillrule 1\n.call startpath 1\n.call moveto 1 0 0\n.call lineto 1 100000 0\n"
     ".call lineto 1 0 100000\n.call closepath 1\n.call addboxtopath 1 5 5 20 20"},
    {"texture30000",
     ".call createbrush 2 7 5 65280\n.call setfillstyle 3 2 3 1\n.call startpath 1\n.call moveto 1 0 0\n"
     ".call lineto 1 30000 3\n.call lineto 1 3 30000\n.call closepath 1"},
};

std::string Folder() {
  static std::string folder = [] {
    char pattern[] = "/tmp/vl_path_far_XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

// The applet that draws the shape into a brush and ends; "" when it
// cannot be built.
std::string Applet(const Shape& shape) {
  const std::string base = Folder() + "/" + shape.name;
  std::ofstream(base + ".vlasm") << ".source \"@" << shape.name << ".vls\"\n.line 1\n"
                                 << ".call createbrush 1 40 40 0\n.call selectbrush 1\n" << shape.commands
                                 << "\n.call drawpath 1 0 0 16777215\n.call endselect\nret\n";
  std::ofstream(base + ".desc") << "revision 6 1\n";
  if (Shell(std::string(VL_ASM_PATH) + " -o " + base + ".chunk " + base + ".vlasm") != 0) return "";
  if (Shell(std::string(VL_MKAPPLET_PATH) + " -d " + base + ".desc -o " + base + ".vla " + base + ".chunk") != 0)
    return "";
  return base + ".vla";
}

void FarPath(benchmark::State& state) {
  if (!std::getenv("DISPLAY")) {
    state.SkipWithError("no X server (DISPLAY)");
    return;
  }
  const Shape& shape = kShapes[state.range(0)];
  state.SetLabel(shape.name);
  const std::string applet = Applet(shape);
  if (applet.empty()) {
    state.SkipWithError("the applet cannot be built");
    return;
  }
  double peakMB = 0, slowest = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
      execl(VL_PLAYER_PATH, VL_PLAYER_PATH, "-quiet", "-tempdir", Folder().c_str(), applet.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the player failed");
      return;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peakMB = std::max(peakMB, usage.ru_maxrss / 1024.0);
    slowest = std::max(slowest, seconds);
  }
  state.counters["peak_MB"] = peakMB;
  state.counters["slowest_s"] = slowest;
  if (peakMB > kMemoryBoundMB || slowest > kTimeBoundSeconds) state.SkipWithError("over the memory or time bound");
}
BENCHMARK(FarPath)->DenseRange(0, 7)->ArgName("shape")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
