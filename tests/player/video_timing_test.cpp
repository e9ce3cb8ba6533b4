// Videos as a user sees and hears them around a pause, a resume and a
// seek (the clips and the trace: video_trace.h).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/player/video_trace.h"

namespace {

using namespace vltrace;
using vlplayer::Result;
// Every check here is of time against the clock, which a sanitizer
// build's player, several times slower, cannot keep: there the sequences
// (video_sequence_test.cpp) still drive its videos, without their checks
// of time.
class Timing : public VideoTraceTest {
 protected:
  void SetUp() override {
    if (!kTimed) GTEST_SKIP() << "a sanitizer build's player keeps no time worth measuring";
    VideoTraceTest::SetUp();
  }
};

// At each frame change, the sound written then (between the reads before
// and after the grab) must be that frame's, give or take a frame and the
// output period (25 ms) the sound may be written ahead of its clock. The
// first change after a marker (a seek) is left out: the sound written
// ahead of the clock from the old place is still going out. A change off
// alone (those checked before and after it in step) is let go, one in 50
// of those checked at most: a loaded machine held back that frame or that
// write; a player out of step puts a run of changes off. The count of
// frame changes checked.
int SoundWithPicture(const std::vector<Grab>& trace, const std::vector<long>& recording, double frameSeconds) {
  int marker = 0;
  std::vector<std::pair<bool, std::string>> checked;  // off, and how
  for (const Grab& c : Changes(trace)) {
    if (c.marker != std::exchange(marker, c.marker)) continue;
    // Nor a change just before a marker: the length read then counts the
    // sink's lag, which can reach past the seek.
    if (std::any_of(trace.begin(), trace.end(), [&](const Grab& g) {
          return g.marker > c.marker && g.t >= c.t && g.t < c.t + double(kSinkLagFrames) / kRate + 0.025;
        }))
      continue;
    if (c.written <= kSinkLagFrames || c.writtenAfter >= long(recording.size())) continue;
    const double from = recording[size_t(c.written)] / double(kRate),
                 to = recording[size_t(c.writtenAfter)] / double(kRate), shown = c.frame * frameSeconds;
    const double margin = frameSeconds + 0.025;
    std::ostringstream how;
    how << "frame " << c.frame << " with the sound of " << from << " to " << to << " s";
    checked.emplace_back(shown < std::min(from, to) - margin || shown > std::max(from, to) + margin, how.str());
  }
  int far = 0, alone = 0;
  const int aloneAllowed = std::max<int>(1, static_cast<int>(checked.size() / 50));
  for (size_t i = 0; i < checked.size(); ++i) {
    if (!checked[i].first) continue;
    const bool inRun = (i > 0 && checked[i - 1].first) || (i + 1 < checked.size() && checked[i + 1].first);
    if (!inRun && alone++ < aloneAllowed) {
      std::printf("let go, off alone: %s\n", checked[i].second.c_str());
      continue;
    }
    if (far++ < 5) ADD_FAILURE() << checked[i].second << (inRun ? "" : " (one change off alone too many)");
  }
  return static_cast<int>(checked.size());
}

// A 25 fps clip with sound, paused five times for 100 to 400 ms: after
// each resume the picture shows every frame from the paused one on, and
// the sound goes on at its pace from where it stopped: in the 170 ms
// after a resume the player writes at most 170 ms of sound and one output
// period (25 ms) more (it wrote the sink's whole buffer at once, the
// video's sound clock ran ahead and the picture dropped frames to follow
// it). The recording holds each source sample once, in order, and at each
// frame change the sound written is that frame's, give or take a frame.
TEST_F(Timing, AResumeGoesOnFromThePausedFrameAndSound) {
  Retried([&] {
    const std::string clip = Clip("resume", "25", 20, "mjpeg", true);
    ASSERT_FALSE(clip.empty());
    std::string body = ".call openvideo 1 " + Lit(clip) + "\n.call playvideo 1\n.call wait 150\n";
    const int pauses[] = {5, 9, 13, 17, 20};  // 20 ms ticks
    for (int i = 0; i < 5; ++i)
      body += ".call pausevideo 1\n.call wait " + std::to_string(pauses[i]) + "\n.call resumevideo 1\n.call stringtofile \"1\" " +
              Lit(dir() + "/m" + std::to_string(i + 1)) + "\n.call wait 75\n";
    // The machine's control: as long a time of plain play, well after the
    // last resume.
    body += ".call stringtofile \"1\" " + Lit(dir() + "/m6") + "\n.call wait 140\n.call stringtofile \"1\" " +
            Lit(dir() + "/m7") + "\n.call stopvideo 1\n";
    std::vector<Grab> trace;
    Result r = RunAndTrace(body, &trace);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<long> recording = Recording();
    ASSERT_GT(recording.size(), size_t(kRate) * 10);
    long gaps = 0, firstGap = -1;
    for (size_t i = 1; i < recording.size(); ++i)
      if (recording[i] != recording[i - 1] + 1 && gaps++ == 0) firstGap = long(i);
    EXPECT_EQ(recording[0], 0);
    EXPECT_EQ(gaps, 0) << "first at " << firstGap << ": " << recording[firstGap - 1] << " then " << recording[firstGap];
    std::string where, plain;
    int skipped = 0;
    for (int i = 1; i <= 5; ++i) {
      SCOPED_TRACE("resume " + std::to_string(i));
      auto at = std::find_if(trace.begin(), trace.end(), [i](const Grab& g) { return g.marker >= i; });
      ASSERT_NE(at, trace.end());
      auto end = std::find_if(at, trace.end(), [&](const Grab& g) { return g.t >= at->t + 0.17; });
      ASSERT_NE(end, trace.end());
      const double written = double(end->written - at->written) / kRate, passed = end->t - at->t;
      std::printf("resume %d: %.3f s of sound in %.3f s\n", i, written, passed);
      // Grabs read the recording's length a few milliseconds apart, and a
      // loaded machine may hold the output back a frame's time, which it
      // then makes up.
      EXPECT_LE(written, passed + 0.025 + 0.04);
      skipped += SkippedBetween(trace, at->t - 0.05, at->t + 0.5, 0.04, &where);
    }
    // A loaded machine drops a frame now and then in plain play too: no
    // more may be lost near the resumes (as long a time), but for two by
    // chance (a fault of the player loses one at each of the five).
    EXPECT_LE(skipped, 2 + SkippedBetween(trace, MarkerTime(trace, 6), MarkerTime(trace, 7), 0.04, &plain))
        << "near the resumes" << where << "; in plain play" << plain;
    EXPECT_GT(SoundWithPicture(trace, recording, 0.04), 200);
  });
}

// Seeks while a 25 fps clip plays, back, forward and back again, with and
// without sound: the first frame shown after each is the one sought, and
// the frames go on from it without a gap (a seek back with sound showed
// frames past the place first and then played in slow motion); the
// position, read 100 ms and 1 s after the seek (by the applet's own
// timer), is the place plus the time passed, within 100 ms and a frame,
// and within 100 ms; the sound written at each frame change is that
// frame's.
TEST_F(Timing, ASeekWhilePlayingShowsThePlaceSoughtAndPlaysOnFromIt) {
  Retried([&] {
    const std::string sound = Clip("sound", "25", 14, "mjpeg", true), quiet = Clip("quiet", "25", 14, "mjpeg", false);
    ASSERT_FALSE(sound.empty());
    ASSERT_FALSE(quiet.empty());
    const int targets[] = {1000, 6000, 2000};
    std::string body = ".call openvideo 1 " + Lit(sound) + "\n.call openvideo 2 " + Lit(quiet) + "\n.call starttimer 9\n";
    int marker = 0;
    for (int v = 1; v <= 2; ++v) {
      body += ".call playvideo " + std::to_string(v) + "\n.call wait 150\n";
      for (int target : targets) {
        const std::string t = std::to_string(target);
        body += ".call seekvideo " + std::to_string(v) + " " + t + "\n.call resettimer 9\n.call stringtofile \"1\" " +
                Lit(dir() + "/m" + std::to_string(++marker)) + "\n.call wait 5\n.call gettimer 9 -> a\n"
                ".call getattribute 50 " + std::to_string(v) + " 18 -> pa\n.call wait 45\n.call gettimer 9 -> b\n"
                ".call getattribute 50 " + std::to_string(v) + " 18 -> pb\n.call debugprint " + t + " $a $pa $b $pb\n"
                ".call wait 50\n";
      }
      body += ".call stopvideo " + std::to_string(v) + "\n";
    }
    // The machine's control: six seconds of plain play.
    body += ".call playvideo 2\n.call wait 25\n.call stringtofile \"1\" " + Lit(dir() + "/m7") +
            "\n.call wait 300\n.call stringtofile \"1\" " + Lit(dir() + "/m8") + "\n.call stopvideo 2\n";
    std::vector<Grab> trace;
    Result r = RunAndTrace(body, &trace);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::istringstream lines(r.out);
    std::string where, plain;
    int skipped = 0;
    for (int k = 1; k <= 6; ++k) {
      const int target = targets[(k - 1) % 3];
      SCOPED_TRACE((k <= 3 ? "with sound, seek to " : "without sound, seek to ") + std::to_string(target));
      int t, a, pa, b, pb;
      ASSERT_TRUE(lines >> t >> a >> pa >> b >> pb) << r.out;
      EXPECT_NEAR(pa, target + a, 100 + 40) << "after " << a << " ms";
      EXPECT_NEAR(pb, target + b, 100) << "after " << b << " ms";
      auto at = std::find_if(trace.begin(), trace.end(), [k](const Grab& g) { return g.marker >= k; });
      ASSERT_NE(at, trace.end());
      int before = -1;
      for (auto g = trace.begin(); g != at; ++g)
        if (g->frame >= 0) before = g->frame;
      // Frames of the old place drawn while the seek command ran can be
      // seen first: the seek waits for the player's threads.
      auto first = std::find_if(at, trace.end(), [&](const Grab& g) { return g.frame >= 0 && std::abs(g.frame - before) > 2; });
      ASSERT_NE(first, trace.end());
      EXPECT_EQ(first->frame, target / 40) << "shown first, " << first->t - at->t << " s after the seek";
      std::string lost;
      skipped += SkippedBetween(trace, first->t, first->t + 1.0, 0.04, &lost);
      if (!lost.empty()) where += " (" + std::string(k <= 3 ? "sound, " : "") + std::to_string(target) + ")" + lost;
    }
    EXPECT_LE(skipped, 1 + SkippedBetween(trace, MarkerTime(trace, 7), MarkerTime(trace, 8), 0.04, &plain))
        << "after the seeks" << where << "; in plain play" << plain;
    const std::vector<long> recording = Recording();
    ASSERT_GT(recording.size(), size_t(kRate) * 5);
    std::vector<Grab> withSound;
    for (const Grab& g : trace)
      if (g.marker < 4) withSound.push_back(g);
    EXPECT_GT(SoundWithPicture(withSound, recording, 0.04), 100);
  });
}

// The frame the grabs of the window showed from 150 ms after marker k was
// written until marker k + 1 was: -1 when none was seen, -2 when it
// changed meanwhile.
int SteadyFrame(const std::vector<Grab>& trace, int marker) {
  auto at = std::find_if(trace.begin(), trace.end(), [marker](const Grab& g) { return g.marker >= marker; });
  int frame = -1;
  for (auto g = at; g != trace.end() && g->marker == marker; ++g) {
    if (g->t < at->t + 0.15 || g->frame < 0) continue;
    if (frame >= 0 && g->frame != frame) return -2;
    frame = g->frame;
  }
  return frame;
}

// A seek while paused shows the frame sought, whether the pause came at
// once after PlayVideo, before the first frame showed (the window kept
// frame 0 until the resume), or a few frames later; so does a seek back
// while paused. Each frame is read from the window half a second long.
TEST_F(Timing, ASeekWhilePausedShowsTheFrameSoughtWhereverThePauseCame) {
  Retried([&] {
    const std::string clip = Clip("paused", "25", 30, "mjpeg", false);
    ASSERT_FALSE(clip.empty());
    struct Round {
      int ticks, first, second;
    };
    const Round rounds[] = {{0, 8219, 1000}, {5, 8219, 3000}, {0, 20000, 0}, {12, 1500, 29960}};
    std::string body = ".call openvideo 1 " + Lit(clip) + "\n";
    int marker = 0;
    // A marker after each seek and one before the next.
    auto mark = [&](const std::string& then) {
      body += ".call stringtofile \"1\" " + Lit(dir() + "/m" + std::to_string(++marker)) + "\n.call wait 25\n";
      body += ".call stringtofile \"1\" " + Lit(dir() + "/m" + std::to_string(++marker)) + "\n" + then;
    };
    for (const Round& round : rounds) {
      body += ".call playvideo 1\n" + (round.ticks ? ".call wait " + std::to_string(round.ticks) + "\n" : "") +
              ".call pausevideo 1\n.call seekvideo 1 " + std::to_string(round.first) + "\n";
      mark(".call seekvideo 1 " + std::to_string(round.second) + "\n");
      mark(".call resumevideo 1\n.call stopvideo 1\n");
    }
    std::vector<Grab> trace;
    Result r = RunAndTrace(body + ".call stringtofile \"1\" " + Lit(dir() + "/m" + std::to_string(++marker)) + "\n", &trace);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (size_t i = 0; i < std::size(rounds); ++i) {
      SCOPED_TRACE("paused after " + std::to_string(rounds[i].ticks * 20) + " ms");
      EXPECT_EQ(SteadyFrame(trace, int(4 * i + 1)), rounds[i].first / 40) << "sought to " << rounds[i].first;
      EXPECT_EQ(SteadyFrame(trace, int(4 * i + 3)), rounds[i].second / 40) << "sought to " << rounds[i].second;
    }
  });
}

// Paused, its position read and sought to while paused, a video shows the
// frame it showed, at 30, 29.97, 24 and 15 frames a second (the time of
// frame 95 at 30 fps, 3166.7 ms, read 3166, and a seek there showed frame
// 94); and the position names that frame.
TEST_F(Timing, APausedPositionSoughtShowsTheSameFrameAtAnyRate) {
  Retried([&] {
    const std::vector<std::pair<std::string, double>> rates = {
        {"30", 30}, {"30000/1001", 30000.0 / 1001}, {"24", 24}, {"15", 15}};
    const int waits[] = {79, 18};  // 20 ms ticks
    std::string body;
    int marker = 0;
    // A marker after the pause and after the seek, and one before each.
    auto mark = [&](const std::string& then) {
      body += ".call stringtofile \"1\" " + Lit(dir() + "/m" + std::to_string(++marker)) + "\n.call wait 20\n";
      body += ".call stringtofile \"1\" " + Lit(dir() + "/m" + std::to_string(++marker)) + "\n" + then;
    };
    for (size_t v = 1; v <= rates.size(); ++v) {
      const std::string clip = Clip("rate" + std::to_string(v), rates[v - 1].first, 5, "rawvideo", false), id = std::to_string(v);
      ASSERT_FALSE(clip.empty());
      body += ".call openvideo " + id + " " + Lit(clip) + "\n";
      for (int wait : waits) {
        body += ".call playvideo " + id + "\n.call wait " + std::to_string(wait) + "\n.call pausevideo " + id +
                "\n.call getattribute 50 " + id + " 18 -> at\n.call debugprint $at\n";
        mark(".call seekvideo " + id + " $at\n");
        mark(".call stopvideo " + id + "\n");
      }
    }
    std::vector<Grab> trace;
    Result r = RunAndTrace(body + ".call stringtofile \"1\" " + Lit(dir() + "/m" + std::to_string(++marker)) + "\n", &trace);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::istringstream lines(r.out);
    for (size_t i = 0; i < rates.size() * std::size(waits); ++i) {
      const double rate = rates[i / std::size(waits)].second;
      int at = -1;
      ASSERT_TRUE(lines >> at) << r.out;
      SCOPED_TRACE(rates[i / std::size(waits)].first + " fps, position " + std::to_string(at));
      const int paused = SteadyFrame(trace, int(4 * i + 1)), sought = SteadyFrame(trace, int(4 * i + 3));
      EXPECT_GT(paused, 0);
      EXPECT_EQ(sought, paused);
      // The position falls in the paused frame's time.
      EXPECT_GE(at, paused * 1000 / rate - 0.5);
      EXPECT_LT(at, (paused + 1) * 1000 / rate - 0.5);
    }
  });
}

// How late a frame came in plain play on this machine, in this run: the
// longest time between two frame changes from..to beyond the frames' own
// time. A deadline after a seek or a pause allows as much again.
double PlainPlayLateness(const std::vector<Grab>& trace, double from, double to, double frameSeconds) {
  double worst = 0;
  const std::vector<Grab> changes = Changes(trace);
  for (size_t i = 1; i < changes.size(); ++i)
    if (changes[i - 1].t >= from && changes[i].t <= to && changes[i].frame > changes[i - 1].frame)
      worst = std::max(worst, changes[i].t - changes[i - 1].t - frameSeconds * (changes[i].frame - changes[i - 1].frame));
  return worst;
}

// The first grab from marker k on that shows a frame other than the one
// shown before the marker (more than two frames away), or trace.end().
std::vector<Grab>::const_iterator FirstNewFrame(const std::vector<Grab>& trace, int marker) {
  auto at = std::find_if(trace.begin(), trace.end(), [marker](const Grab& g) { return g.marker >= marker; });
  int before = -1;
  for (auto g = trace.begin(); g != at; ++g)
    if (g->frame >= 0) before = g->frame;
  return std::find_if(at, trace.end(), [&](const Grab& g) { return g.frame >= 0 && std::abs(g.frame - before) > 2; });
}

// The markers and the end file of a run go before the next run.
void ClearRun(const std::string& dir) {
  std::remove((dir + "/done").c_str());
  for (int i = 1; i < 200; ++i) std::remove((dir + "/m" + std::to_string(i)).c_str());
}

std::string Marker(const std::string& dir, int k) {
  return ".call stringtofile \"1\" " + Lit(dir + "/m" + std::to_string(k)) + "\n";
}

// SeekVideo and at once PauseVideo (nothing between, 20 or 60 ms apart),
// with sound, without and on a layer: the pause holds the place sought
// (it held the frame from before the seek, whose position it read, and
// the resume then jumped to the place): the position is the place plus
// at most the time between the calls and a frame, the window shows the
// frame the position names, and the resume goes on from that frame.
TEST_F(Timing, APauseRightAfterASeekPausesAtThePlaceSought) {
  Retried([&] {
    const std::string sound = Clip("psound", "25", 14, "mjpeg", true), quiet = Clip("pquiet", "25", 14, "mjpeg", false);
    ASSERT_FALSE(sound.empty());
    ASSERT_FALSE(quiet.empty());
    const int gaps[] = {0, 1, 3}, targets[] = {6000, 2000, 9000};
    std::string body = ".call openvideo 1 " + Lit(sound) + "\n.call openvideo 2 " + Lit(quiet) + "\n.call starttimer 9\n";
    int marker = 0, rounds = 0;
    for (const char* kind : {"sound", "quiet", "layer"}) {
      const bool layer = kind == std::string("layer");
      for (int i = 0; i < 3; ++i, ++rounds) {
        // Each layer round plays its own video: a layer keeps showing the
        // video it played.
        const std::string v = layer ? std::to_string(3 + i) : kind == std::string("sound") ? "1" : "2";
        if (layer) body += (i == 0 ? ".call enablelayers\n" : "") + std::string(".call openvideo ") + v + " " + Lit(sound) +
                           "\n.table 0 { uselayer = 1 }\n.call base=1 playvideo " + v + " 0 0 r0\n";
        else body += ".call playvideo " + v + "\n";
        const std::string t = std::to_string(targets[i]);
        body += ".call wait 50\n.call seekvideo " + v + " " + t + "\n.call resettimer 9\n" +
                (gaps[i] ? ".call wait " + std::to_string(gaps[i]) + "\n" : "") + ".call pausevideo " + v +
                "\n.call gettimer 9 -> e\n.call getattribute 50 " + v + " 18 -> p\n.call debugprint " + t + " $e $p\n" +
                Marker(dir(), marker + 1) + ".call wait 20\n" + Marker(dir(), marker + 2) + ".call resumevideo " + v +
                "\n.call wait 15\n.call stopvideo " + v + "\n";
        marker += 2;
      }
    }
    std::vector<Grab> trace;
    Result r = RunAndTrace(body + Marker(dir(), ++marker), &trace);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::istringstream lines(r.out);
    for (int k = 0; k < rounds; ++k) {
      int target, elapsed, position;
      ASSERT_TRUE(lines >> target >> elapsed >> position) << r.out;
      SCOPED_TRACE(std::string(k < 3 ? "with sound" : k < 6 ? "without sound" : "on a layer") + ", " +
                   std::to_string(gaps[k % 3] * 20) + " ms after a seek to " + std::to_string(target));
      EXPECT_GE(position, target);
      EXPECT_LE(position, target + elapsed + 40);
      const int paused = SteadyFrame(trace, 2 * k + 1);
      EXPECT_EQ(paused, position / 40) << "position " << position;
      auto at = std::find_if(trace.begin(), trace.end(), [k](const Grab& g) { return g.marker >= 2 * k + 2; });
      auto next = std::find_if(at, trace.end(), [&](const Grab& g) { return g.frame >= 0 && g.frame != paused; });
      ASSERT_NE(next, trace.end());
      EXPECT_GE(next->frame, paused + 1) << "first after the resume";
      EXPECT_LE(next->frame, paused + 2) << "first after the resume";
    }
  });
}

// Six seeks while a 5 and a 10 fps clip with sound play: the frame sought
// shows at once (the old frame stayed a picture frame's time while the
// sound from a packet before the place played), the sound starts at the
// place (it started a picture frame before it), and 1 s later the
// position is the place plus the time passed, within 100 ms (it lagged
// by 100-330 ms). "At once": within 40 ms and as late as a frame came in
// plain play in the same run.
TEST_F(Timing, ASeekWhilePlayingASlowClipShowsThePlaceAndItsSoundAtOnce) {
  Retried([&] {
    const int targets[] = {8000, 2000, 12000, 500, 0, 6010};
    for (int fps : {5, 10}) {
      SCOPED_TRACE(std::to_string(fps) + " fps");
      const std::string clip = Clip("slow" + std::to_string(fps), std::to_string(fps), 14, "mjpeg", true);
      ASSERT_FALSE(clip.empty());
      ClearRun(dir());
      std::string body = ".call openvideo 1 " + Lit(clip) + "\n.call starttimer 9\n.call playvideo 1\n.call wait 75\n";
      int marker = 0;
      for (int target : targets) {
        const std::string t = std::to_string(target);
        body += Marker(dir(), ++marker) + ".call seekvideo 1 " + t + "\n.call resettimer 9\n.call wait 50\n" +
                ".call gettimer 9 -> b\n.call getattribute 50 1 18 -> pb\n.call debugprint " + t + " $b $pb\n.call wait 25\n";
      }
      std::vector<Grab> trace;
      Result r = RunAndTrace(body + ".call stopvideo 1\n", &trace);
      ASSERT_EQ(r.status, 0) << r.out << r.err;
      const double period = 1.0 / fps;
      const double late = PlainPlayLateness(trace, trace.front().t, FirstNewFrame(trace, 1)->t - 0.1, period);
      std::printf("%d fps: frames came up to %.3f s late in plain play\n", fps, late);
      const std::vector<long> recording = Recording();
      ASSERT_GT(recording.size(), size_t(kRate) * 5);
      size_t from = 1;
      std::istringstream lines(r.out);
      for (int k = 1; k <= 6; ++k) {
        const int target = targets[k - 1];
        SCOPED_TRACE("seek to " + std::to_string(target));
        int t, b, pb;
        ASSERT_TRUE(lines >> t >> b >> pb) << r.out;
        EXPECT_NEAR(pb, target + b, 100) << "after " << b << " ms";
        auto at = std::find_if(trace.begin(), trace.end(), [k](const Grab& g) { return g.marker >= k; });
        auto first = FirstNewFrame(trace, k);
        ASSERT_NE(first, trace.end());
        EXPECT_EQ(first->frame, target * fps / 1000);
        // The frame came after the last grab without it: from then on the
        // time is the grabs' (held back on a busy machine), not the player's.
        const double before = first == at ? first->t : (first - 1)->t;
        EXPECT_LE(before - at->t, 0.04 + late) << "frame " << first->frame << " not yet shown so long after the seek";
        // The recording jumps to the place sought.
        const long place = long(target) * kRate / 1000;
        size_t jump = from;
        while (jump < recording.size() &&
               (recording[jump] == recording[jump - 1] + 1 || std::abs(recording[jump] - place) > kRate * 3 / 10))
          ++jump;
        ASSERT_LT(jump, recording.size()) << "the sound never went to the place sought";
        EXPECT_GE(recording[jump], place - kRate / 500) << "the sound from the place starts " << recording[jump];
        EXPECT_LE(recording[jump], place + kRate * 3 / 100) << "the sound from the place starts " << recording[jump];
        from = jump + 1;
      }
      EXPECT_GT(SoundWithPicture(trace, recording, period), 6 * fps / 2);
    }
  });
}

// Polls events for ticks of 20 ms so that OnVideoEnd handlers run
// (registers 5 to 7 count).
std::string PollEvents(const std::string& label, int ticks) {
  return "loadk 5 #0\nloadk 6 #" + std::to_string(ticks) + "\nloadk 7 #1\njump " + label + "next\n" + label +
         ":\n.call base=8 wait 1\n.call base=8 checkevents\n" + label + "next:\nforloop 5 " + label + "\n";
}

// An 8 s clip at 25 fps whose sound ends at 3 s (an ordinary file): the
// picture keeps its pace when the sound has ended (it went on at half
// speed, 12.8 s in all) and the video ends once; a seek past the sound's
// end shows the frame sought first (it waited for sound that never came
// and then dropped that frame) and plays on to the end at its pace.
TEST_F(Timing, APictureLongerThanItsSoundKeepsItsPaceToTheEnd) {
  Retried([&] {
    const std::string picture = Clip("tail8", "25", 8, "mjpeg", false), sound = Clip("tail3", "25", 3, "mjpeg", true);
    ASSERT_FALSE(picture.empty());
    ASSERT_FALSE(sound.empty());
    const std::string clip = dir() + "/tail.avi";
    int status = 0;
    Tool("ffmpeg -v error -y -i " + vlplayer::Quote(picture) + " -i " + vlplayer::Quote(sound) +
             " -map 0:v -map 1:a -c copy " + vlplayer::Quote(clip),
         &status);
    ASSERT_EQ(status, 0);
    const std::string body = ".function onend\n.params 1\n.call base=1 debugprint \"videoend\"\nret\n.end\n"
                             ".defun OnEnd onend\n.table 0 { onvideoend = $OnEnd }\n.call base=1 installeventhandler r0\n"
                             ".call openvideo 1 " + Lit(clip) + "\n.call playvideo 1\n" + PollEvents("whole", 450) +
                             ".call debugprint \"sought\"\n.call stopvideo 1\n.call playvideo 1\n.call wait 50\n" +
                             Marker(dir(), 1) + ".call seekvideo 1 5000\n" + PollEvents("tail", 200) +
                             ".call stopvideo 1\n";
    std::vector<Grab> trace;
    Result r = RunAndTrace(body, &trace);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const size_t split = r.out.find("sought");
    ASSERT_NE(split, std::string::npos) << r.out;
    auto count = [](const std::string& text) {
      int n = 0;
      for (size_t at = text.find("videoend"); at != std::string::npos; at = text.find("videoend", at + 1)) ++n;
      return n;
    };
    EXPECT_EQ(count(r.out.substr(0, split)), 1) << r.out;
    EXPECT_EQ(count(r.out.substr(split)), 1) << r.out;
    auto shown = [&](int frame, int marker) {
      return std::find_if(trace.begin(), trace.end(), [&](const Grab& g) { return g.marker == marker && g.frame == frame; });
    };
    // From frame 1: the first frame of a start may come a little late.
    const auto start = std::find_if(trace.begin(), trace.end(), [](const Grab& g) { return g.frame >= 1; });
    const auto last = shown(199, 0);
    ASSERT_NE(start, trace.end());
    ASSERT_NE(last, trace.end());
    const auto ended = shown(80, 0);
    ASSERT_NE(ended, trace.end());
    // While the sound plays the picture follows it, and the sound may fall
    // behind on a loaded machine (or under a sanitizer): the control. Once
    // it has ended the picture keeps its own pace (it went at half speed).
    const double late = PlainPlayLateness(trace, start->t, start->t + 2.5, 0.04);
    const double withSound = ended->t - start->t - (80 - start->frame) * 0.04;
    std::printf("frames %d to 199 in %.3f s; up to %.3f s late, %.3f s behind while the sound played\n", start->frame,
                last->t - start->t, late, withSound);
    EXPECT_NEAR(last->t - ended->t, 119 * 0.04, 0.04 + late);
    EXPECT_NEAR(last->t - start->t, (199 - start->frame) * 0.04, 0.04 + late + std::fabs(withSound));
    const auto first = FirstNewFrame(trace, 1);
    const auto end = shown(199, 1);
    ASSERT_NE(first, trace.end());
    EXPECT_EQ(first->frame, 125);
    ASSERT_NE(end, trace.end());
    EXPECT_NEAR(end->t - first->t, 74 * 0.04, 0.04 + late);
  });
}

// A 25 fps clip with sound on a layer, two brush layers above it moved
// every 20 ms, sought 20 times while they move: the frame sought is the
// first shown each time (the main thread, busy with the layers, kept only
// the newest frame and the one sought was lost). And a 10 fps clip on a
// layer paused 20 times while the layers move shows the frame its
// position names (it could keep the frame before).
TEST_F(Timing, AVideoOnALayerShowsTheFrameSoughtAndPausedWhileOtherLayersMove) {
  Retried([&] {
    const std::string fast = Clip("layer25", "25", 8, "mjpeg", true), slow = Clip("layer10", "10", 20, "mjpeg", true);
    ASSERT_FALSE(fast.empty());
    ASSERT_FALSE(slow.empty());
    // Two brushes moving along the top rows, clear of the frame's blocks.
    auto moving = [](int steps) {
      std::string text;
      for (int i = 0; i < steps; ++i) {
        const std::string d = i % 2 ? "-6" : "6", e = i % 2 ? "6" : "-6";
        text += ".call translatelayer 2 " + d + " 0\n.call translatelayer 3 " + e + " 0\n.call wait 1\n";
      }
      return text;
    };
    auto start = [&](const std::string& clip) {
      return ".call enablelayers\n.call createbrush 7 8 4 0xFF0000\n.call openvideo 1 " + Lit(clip) + "\n";
    };
    auto play = [](const std::string& v) {
      return ".table 0 { uselayer = 1 }\n.call base=1 playvideo " + v + " 0 0 r0\n"
             ".call displaybrush 7 40 0\n.call displaybrush 7 200 0\n";
    };
    const int targets[] = {2000, 4000, 1000, 5000, 3000};
    std::string body = start(fast) + play("1") + moving(15);
    for (int k = 1; k <= 20; ++k)
      body += Marker(dir(), k) + ".call seeklayer 1 " + std::to_string(targets[k % 5]) + "\n" + moving(15);
    std::vector<Grab> trace;
    Result r = RunAndTrace(body + ".call stopvideo 1\n", &trace);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (int k = 1; k <= 20; ++k) {
      SCOPED_TRACE("seek " + std::to_string(k) + " to " + std::to_string(targets[k % 5]));
      auto first = FirstNewFrame(trace, k);
      ASSERT_NE(first, trace.end());
      // The frame sought stays on the window half a frame's time (20 ms)
      // at least: a grab held back longer than that (the server or the
      // machine busy) may have missed it, and there is nothing to judge.
      if (first != trace.begin() && first->t - (first - 1)->t > 0.02 && first->frame > targets[k % 5] / 40) {
        std::printf("seek %d: frame %d seen first, %.3f s after the grab before it\n", k, first->frame,
                    first->t - (first - 1)->t);
        continue;
      }
      EXPECT_EQ(first->frame, targets[k % 5] / 40)
          << first->t - trace.front().t << " s into the run, "
          << (first != trace.begin() ? first->t - (first - 1)->t : 0) << " s after the grab before it";
    }

    // Each round plays the clip from its start, as a new layer.
    ClearRun(dir());
    body = ".call enablelayers\n.call createbrush 7 8 4 0xFF0000\n";
    for (int k = 0; k < 20; ++k) {
      const std::string v = std::to_string(k + 1);
      body += ".call openvideo " + v + " " + Lit(slow) + "\n" + play(v) + moving(22 + k % 6) + ".call pausevideo " + v +
              "\n.call getattribute 50 " + v + " 18 -> p\n.call debugprint $p\n" + Marker(dir(), 2 * k + 1) + moving(20) +
              Marker(dir(), 2 * k + 2) + ".call stopvideo " + v + "\n.call freelayers\n";
    }
    trace.clear();
    r = RunAndTrace(body, &trace);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::istringstream lines(r.out);
    for (int k = 0; k < 20; ++k) {
      int position;
      ASSERT_TRUE(lines >> position) << r.out;
      SCOPED_TRACE("pause " + std::to_string(k + 1) + " at " + std::to_string(position));
      EXPECT_EQ(SteadyFrame(trace, 2 * k + 1), position / 100);
    }
  });
}

// A seek while playing, then a script that draws nothing for half a
// second (the line hook off: no event pump runs), on the display and on a
// layer: once it lets the window draw again, the frame sought is the first
// shown, and the video goes on from the place with its clock. (The frame
// after it replaced the one sought a quarter of a second on, and the
// window went from the old place to one past the place sought.)
TEST_F(Timing, AFrameSoughtShowsWhenABusyScriptLetsTheWindowDraw) {
  Retried([&] {
    const std::string clip = Clip("busy25", "25", 8, "mjpeg", true);
    ASSERT_FALSE(clip.empty());
    const int targets[] = {4000, 1000};
    std::string body = ".call openvideo 1 " + Lit(clip) + "\n.call starttimer 9\n";
    for (int k = 1; k <= 4; ++k) {
      const bool layer = k > 2;
      if (k == 1) body += ".call playvideo 1\n";
      if (k == 3)
        body += ".call stopvideo 1\n.call enablelayers\n.table 0 { uselayer = 1 }\n.call base=1 playvideo 1 0 0 r0\n";
      const std::string t = std::to_string(targets[k % 2]), label = "busy" + std::to_string(k);
      body += ".call wait 15\n" + Marker(dir(), 2 * k - 1) + (layer ? ".call seeklayer 1 " : ".call seekvideo 1 ") + t +
              "\n.call disablelinehook\n.call resettimer 9\n" + label + ":\n.call gettimer 9 -> t\n"
              "getglobal 0 \"t\"\nlt 1 0 #500\njump " + label + "\n.call enablelinehook\n.call wait 20\n" +
              Marker(dir(), 2 * k) + ".call gettimer 9 -> a\n.call getattribute " + (layer ? "22" : "50") +
              " 1 18 -> p\n.call debugprint $a $p\n";
    }
    std::vector<Grab> trace;
    Result r = RunAndTrace(body + ".call stopvideo 1\n", &trace);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::istringstream lines(r.out);
    for (int k = 1; k <= 4; ++k) {
      SCOPED_TRACE((k > 2 ? "on a layer, seek to " : "seek to ") + std::to_string(targets[k % 2]));
      auto first = FirstNewFrame(trace, 2 * k - 1);
      ASSERT_NE(first, trace.end());
      EXPECT_EQ(first->frame, targets[k % 2] / 40);
      // Then the video went on from the place with the clock.
      int a, position;
      ASSERT_TRUE(lines >> a >> position) << r.out;
      EXPECT_NEAR(position, targets[k % 2] + a, 100) << a << " ms after the seek";
      auto last = std::find_if(trace.begin(), trace.end(), [&](const Grab& g) { return g.marker >= 2 * k; });
      ASSERT_NE(last, trace.begin());
      for (--last; last != trace.begin() && last->frame < 0; --last) {
      }
      EXPECT_GE(last->frame, targets[k % 2] / 40 + 10);
      EXPECT_LE(last->frame, (targets[k % 2] + a) / 40 + 2);
    }
  });
}

}  // namespace
