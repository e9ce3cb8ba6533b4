// What one playing sound costs the whole player on the ALSA file sink (a
// file plug-in over a null device, which takes data as fast as it is
// written, so the player keeps to the sound's own clock): the CPU share of
// one core and the wake-ups (context switches of all its threads) per
// second, measured over 4 s of steady play, for a streamed music (a WAV),
// a Protracker module and a video's sound track, beside an applet that
// only waits and the same video without sound (the difference is what its
// sound costs), and a paused and an ended video left open. Goal: at most
// 2 % of a core per sound; a paused or ended video about what waiting
// costs (under 1 %).
// Needs an X server in DISPLAY, sox and ffmpeg; the module comes from
// VL_TESTDATA (skipped without it).
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string Folder() {
  static std::string folder = [] {
    char pattern[] = "/tmp/vl_sound_pacing_XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

// The applet that starts the sound and waits; "" when it cannot be built.
std::string Applet(const std::string& name, const std::string& start) {
  const std::string base = Folder() + "/" + name;
  std::ofstream(base + ".vlasm") << ".source \"@" << name << ".vls\"\n.line 1\n" << start << "\n.call wait 2000\nret\n";
  std::ofstream(base + ".desc") << "revision 6 1\n";
  if (Shell(std::string(VL_ASM_PATH) + " -o " + base + ".chunk " + base + ".vlasm") != 0) return "";
  if (Shell(std::string(VL_MKAPPLET_PATH) + " -d " + base + ".desc -o " + base + ".vla " + base + ".chunk") != 0)
    return "";
  return base + ".vla";
}

// Nanoseconds on a CPU and context switches (voluntary or not) of all the
// process's threads, by the scheduler's own counts; false when it is gone.
bool Usage(pid_t pid, long long* nanos, long long* switches) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(tasks.c_str());
  if (!d) return false;
  *nanos = *switches = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    long long ns = 0;
    if (std::ifstream(tasks + "/" + e->d_name + "/schedstat") >> ns) *nanos += ns;
    std::ifstream in(tasks + "/" + e->d_name + "/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        *switches += std::atoll(line.substr(line.find(':') + 1).c_str());
  }
  closedir(d);
  return true;
}

struct Case {
  const char* name;
  const char* source;  // made by the shell command, or "" for none
  const char* make;
  const char* start;  // assembler lines; SOURCE stands for the file
};

const Case kCases[] = {
    {"idle", "", "", ""},
    {"music", "music.wav", "sox -n -r 44100 -c 2 -b 16 FILE synth 60 sine 440", ".call openmusic 1 \"SOURCE\"\n.call playmusic 1"},
    {"module", "", "", ".call openmusic 1 \"SOURCE\"\n.call playmusic 1 0"},
    {"video", "video.avi",
     "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine=frequency=440:sample_rate=44100 "
     "-t 60 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 2 FILE",
     ".call playvideo 1"},
    // The same video without sound: what its pictures cost alone.
    {"silent_video", "silent.avi",
     "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -t 60 -c:v mjpeg -q:v 5 FILE", ".call playvideo 1"},
    // The video paused half a second in, and a one-second one that has
    // ended, both left open: each should cost about what waiting does.
    {"paused_video", "video.avi",
     "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine=frequency=440:sample_rate=44100 "
     "-t 60 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 2 FILE",
     ".call playvideo 1\n.call wait 25\n.call pausevideo 1"},
    {"ended_video", "short.avi",
     "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine=frequency=440:sample_rate=44100 "
     "-t 1 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 2 FILE",
     ".call playvideo 1"},
};

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (size_t at; (at = text.find(what)) != std::string::npos;) text.replace(at, what.size(), with);
  return text;
}

void SoundPacing(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  state.SetLabel(c.name);
  if (!std::getenv("DISPLAY")) {
    state.SkipWithError("no X server (DISPLAY)");
    return;
  }
  std::string source;
  if (std::string(c.name) == "module") {
    const char* data = std::getenv("VL_TESTDATA");
    if (!data) {
      state.SkipWithError("VL_TESTDATA is not set");
      return;
    }
    source = std::string(data) + "/mod/blue_damage.mod";
  } else if (*c.source) {
    source = Folder() + "/" + c.source;
    if (Shell(Replace(c.make, "FILE", source)) != 0) {
      state.SkipWithError("the sound file cannot be made");
      return;
    }
  }
  std::string start = Replace(c.start, "SOURCE", source);
  if (std::string(c.name).find("video") != std::string::npos)
    start = ".table 0 { width = 64, height = 48, color = 0, title = \"video\" }\n.call base=1 createdisplay 2 r0\n"
            ".call opendisplay 2\n.call openvideo 1 \"" + source + "\"\n" + start;
  const std::string applet = Applet(c.name, start);
  if (applet.empty()) {
    state.SkipWithError("the applet cannot be built");
    return;
  }
  const std::string conf = Folder() + "/asound.conf";
  std::ofstream(conf) << "pcm.!default {\n  type file\n  slave { pcm { type null } }\n  file \"" << Folder()
                      << "/out.wav\"\n  format \"wav\"\n}\n";
  double cpu = 0, wakeups = 0;
  for (auto _ : state) {
    const pid_t child = fork();
    if (child == 0) {
      setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
      // Another build's player (to compare) may be named in VL_BENCH_PLAYER.
      const char* player = std::getenv("VL_BENCH_PLAYER") ? std::getenv("VL_BENCH_PLAYER") : VL_PLAYER_PATH;
      execl(player, player, "-quiet", "-tempdir", Folder().c_str(), applet.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    long long nanos = 0, switches = 0, nanosAfter = 0, switchesAfter = 0;
    const bool before = Usage(child, &nanos, &switches);
    const auto from = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const bool after = Usage(child, &nanosAfter, &switchesAfter);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    Shell("rm -f " + Folder() + "/out*.wav");
    if (!before || !after) {
      state.SkipWithError("the player ended early");
      return;
    }
    cpu = 100.0 * double(nanosAfter - nanos) / 1e9 / seconds;
    wakeups = double(switchesAfter - switches) / seconds;
  }
  state.counters["cpu_percent"] = cpu;
  state.counters["wakeups_per_s"] = wakeups;
}
BENCHMARK(SoundPacing)->DenseRange(0, 6)->ArgName("sound")->UseRealTime()->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
