// Every transition effect through the real player on a private Xvfb: the
// window grabbed before the first frame and after the last matches the
// start and end pictures exactly on a display without layers, with layers,
// scaled (the output, or the layers), and on a layer standing in for a
// BGPic; sampled families are compared frame by frame with steppings
// written from their rules. Each effect starts right after the window was
// resized, so a repaint of the window is pending when it draws.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/platform/x11_server.h"
#include "tests/runtime/container_builder.h"
#include "tests/transitions/player/fx_reference.h"
#include "tools/chunkasm/chunkasm.h"

namespace {

using fxref::Picture;

struct Family {
  const char* name;
  int first, last;
};
constexpr Family kFamilies[] = {
    {"stripes", 0, 13},          {"blinds", 14, 23},        {"curtains", 24, 27},
    {"bars", 28, 28},            {"quarters", 29, 29},      {"reveals", 30, 33},
    {"lines", 34, 37},           {"rectangles", 38, 46},    {"scrolls", 47, 54},
    {"stretch and zoom", 55, 69}, {"flows", 70, 73},         {"gates", 74, 77},
    {"push", 78, 81},            {"puzzle", 82, 82},        {"diagonal", 83, 83},
    {"rolls", 84, 87},           {"rectangles back", 88, 96}, {"clock wipe and star", 97, 98},
    {"strange push", 99, 100},   {"slides", 101, 104},      {"spiral, swiss, quad", 105, 107},
    {"split, up and down", 108, 110}, {"cards", 111, 112},  {"sun", 114, 114},
    {"crossfade, fade, blend", 115, 117}, {"zoom in and out", 118, 119}, {"crush", 120, 123},
    {"flip coin", 124, 127},     {"turndown", 128, 131},    {"pixel zoom", 132, 133},
    {"water and strudel", 134, 138}, {"dissolve", 139, 139},
};

bool BGPicOnly(int id) {
  return (id >= 74 && id <= 81) || (id >= 101 && id <= 104) || id == 111 || id == 112 || (id >= 118 && id <= 131) ||
         id == 133;
}

std::vector<int> AllIds() {
  std::vector<int> ids;
  for (int id = 0; id < 140; ++id)
    if (id != 113) ids.push_back(id);
  return ids;
}
std::vector<int> BGPicOnlyIds() {
  std::vector<int> ids;
  for (int id : AllIds())
    if (BGPicOnly(id)) ids.push_back(id);
  return ids;
}
std::vector<int> FirstOfFamilies() {
  std::vector<int> ids;
  for (const Family& f : kFamilies) ids.push_back(f.first);
  return ids;
}

// prefix and number; a helper because GCC 12 misreads a literal plus a
// temporary string at -O3.
std::string Tag(const char* prefix, int number) {
  std::string s(prefix);
  s += std::to_string(number);
  return s;
}

std::string Label(int id) {
  for (const Family& f : kFamilies)
    if (id >= f.first && id <= f.last) return Tag("effect ", id) + " (" + f.name + ")";
  return Tag("effect ", id);
}

// The display the effects run on.
enum class Screen { kPlain, kLayers, kScaledOutput, kScaledLayers };
// The target: a brush at (16, 12), the top-left 48 x 32 of BGPic 4 at
// (16, 12) as a layer or drawn onto the display, text object 6 at (16, 12),
// or a full-size hidden layer shown with "bgpicemu" standing in for BGPic 4;
// or the brush shown as a layer at (16, 12) and hidden by the effect.
enum class Target { kBrush, kPart, kDrawnPart, kText, kEmulating, kHiding };

constexpr int kWidth = 160, kHeight = 120, kBrushX = 16, kBrushY = 12, kPartWidth = 45, kPartHeight = 29;

Picture Cropped(const Picture& p, int width, int height) {
  Picture c(width, height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) c.At(x, y) = p.At(x, y);
  return c;
}

// The picture from (x, y) on.
Picture Shifted(const Picture& p, int x, int y) {
  Picture c(p.width - x, p.height - y, 0);
  for (int j = 0; j < c.height; ++j)
    for (int i = 0; i < c.width; ++i) c.At(i, j) = p.At(x + i, y + j);
  return c;
}

// The effect that hides a layer.
int Reversed(int id) {
  if (id == 24 || id == 26 || id == 30 || id == 32) return id + 1;
  if (id == 25 || id == 27 || id == 31 || id == 33) return id - 1;
  if (id >= 38 && id <= 46) return id + 50;
  if (id >= 88 && id <= 96) return id - 50;
  return id;
}

class FxPlayer : public testing::Test {
 protected:
  void SetUp() override {
    START_X_SERVER(server_);
    std::string pattern = std::string(testing::TempDir()) + "vlfx_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    mkdir((dir_ + "/tmp").c_str(), 0755);
    bg_ = fxref::Noise(kWidth, kHeight, 1);
    emu_ = fxref::Noise(kWidth, kHeight, 3);
    brush_ = fxref::Noise(48, 32, 2);
    ASSERT_TRUE(fxref::WriteBmp(dir_ + "/bg.bmp", bg_));
    ASSERT_TRUE(fxref::WriteBmp(dir_ + "/emu.bmp", emu_));
    ASSERT_TRUE(fxref::WriteBmp(dir_ + "/brush.bmp", brush_));
    ASSERT_TRUE(fxref::WriteBmp(dir_ + "/big.bmp", Picture(200, 150, 0x203040)));
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // The start of the applet: the pictures loaded, the display set up.
  std::string Begin(Screen screen) const {
    std::string s = ".source \"@fx.vls\"\n.line 1\n";
    // The option keys and the FADE colour come first: a table key must be
    // among the chunk's first constants, and the snapshot names are many.
    s += ".table 0 { type = 0, speed = 0, parameter = 16711935, async = 1, hidden = 1, bgpicemu = 1, bgpic = 4, "
         "dx = 0, dy = 0, layers = 1 }\n";
    s += ".call loadbgpic 2 \"" + dir_ + "/bg.bmp\"\n";
    s += ".call loadbgpic 3 \"" + dir_ + "/big.bmp\"\n";
    s += ".call loadbgpic 4 \"" + dir_ + "/emu.bmp\"\n";
    s += ".call loadbrush 1 \"" + dir_ + "/brush.bmp\"\n";
    s += ".call loadbrush 5 \"" + dir_ + "/emu.bmp\"\n";
    s += ".table 0 { color = 16764960 }\n.call base=1 createtextobject 6 \"Wipe 42\" r0\n";
    if (screen != Screen::kPlain) s += ".call enablelayers\n";
    if (screen == Screen::kScaledOutput || screen == Screen::kScaledLayers)
      s += ".table 0 { scalemode = " + std::string(screen == Screen::kScaledOutput ? "1" : "2") +
           ", scalewidth = " + std::to_string(2 * kWidth) + ", scaleheight = " + std::to_string(2 * kHeight) +
           " }\n.call base=1 setdisplayattributes r0\n";
    return s;
  }
  std::string Snap(const std::string& name) const {
    return ".call savesnapshot \"" + dir_ + "/" + name + ".bmp\" 0\n";
  }
  // One effect. Asynchronous: a snapshot "<tag>s" before the first frame,
  // frames drawn until the effect ends (with a snapshot "<tag>f<n>" after
  // each when `frames`), then "<tag>e"; synchronous: only "<tag>e".
  // With changeAfter > 0 the script fills the emulated BGPic with red after
  // that frame; with finishAfter > 0 it finishes the effect after that
  // many frames.
  std::string Case(Screen screen, Target target, int id, int speed, bool async, bool frames,
                   const std::string& tag, int changeAfter = 0, int finishAfter = 0) const {
    // A resize of the window just before the effect leaves a repaint
    // pending while it draws; that repaint would take a part drawn onto a
    // display with layers away.
    std::string s = target == Target::kDrawnPart && screen != Screen::kPlain ? "" : ".call displaybgpic 3\n.call displaybgpic 2\n";
    // FADE and BLEND pass through magenta.
    std::string opts = "type = " + std::to_string(id) + ", speed = " + std::to_string(speed) +
                       (id == 116 || id == 117 ? ", parameter = 16711935" : "");
    if (async) opts += ", async = 1";
    const std::string result = async ? " -> h\n" : "\n";
    const std::string at = std::to_string(kBrushX) + " " + std::to_string(kBrushY);
    if (target == Target::kEmulating) {
      s += ".table 0 { hidden = 1 }\n.call base=1 displaybrush 5 0 0 r0\n";
      s += ".table 0 { " + opts + ", bgpicemu = 1, bgpic = 4 }\n.call base=1 showlayerfx 1 r0" + result;
    } else if (target == Target::kPart || target == Target::kDrawnPart) {
      s += ".table 0 { " + opts + ", dx = " + std::to_string(kBrushX) + ", dy = " + std::to_string(kBrushY) +
           ", layers = " + (target == Target::kPart ? "1" : "0") + " }\n.call base=1 displaybgpicpartfx 4 0 0 " + std::to_string(kPartWidth) + " " +
           std::to_string(kPartHeight) + " r0" + result;
    } else if (target == Target::kHiding) {
      s += ".call displaybrush 1 " + at + "\n.table 0 { " + opts + " }\n.call base=1 hidelayerfx 1 r0" + result;
    } else if (target == Target::kText) {
      s += ".table 0 { " + opts + " }\n.call base=1 displaytextobjectfx 6 " + at + " r0" + result;
    } else {
      s += ".table 0 { " + opts + " }\n.call base=1 displaybrushfx 1 " + std::to_string(kBrushX) + " " +
           std::to_string(kBrushY) + " r0" + result;
    }
    if (async && finishAfter > 0) {
      for (int frame = 0; frame < finishAfter; ++frame) s += ".call asyncdrawframe $h\n";
      s += ".call finishasyncdraw $h\n";
    } else if (async) {
      const std::string loop = "frame_" + tag;
      s += Snap(tag + "s");
      s += "loadk 0 #0\nsetglobal 0 \"n\"\n" + loop + ":\n.call asyncdrawframe $h -> r\n";
      if (frames)
        s += "getglobal 2 \"n\"\nadd 2 2 #1\nsetglobal 2 \"n\"\nloadk 1 \"" + dir_ + "/" + tag +
             "f\"\nloadk 3 \".bmp\"\nconcat 10 1 3\n.call base=11 savesnapshot r10 0\n";
      if (changeAfter > 0) {
        const std::string skip = "keep_" + tag;
        s += "getglobal 2 \"n\"\neq 0 2 #" + std::to_string(changeAfter) + "\njump " + skip +
             "\n.call setfillstyle 1\n.call selectbgpic 4\n.call box 0 0 " + std::to_string(kWidth) + " " +
             std::to_string(kHeight) + " 16711680\n.call endselect\n" + skip + ":\n";
      }
      s += "getglobal 0 \"r\"\neq 1 0 #0\njump " + loop + "\n";
    }
    s += Snap(tag + "e");
    if (screen != Screen::kPlain) s += ".call freelayers\n";
    if (changeAfter > 0) s += ".call freebgpic 4\n.call loadbgpic 4 \"" + dir_ + "/emu.bmp\"\n";
    return s;
  }

  void Play(const std::string& text) {
    vltest::ContainerBytes c;
    const std::vector<uint8_t> chunk = vlasm::Assemble(text + "ret\n");
    c.Code(std::string(chunk.begin(), chunk.end()));
    const std::string applet = dir_ + "/fx.vla";
    std::ofstream(applet, std::ios::binary).write(reinterpret_cast<const char*>(c.b.data()), c.Size());
    const std::string log = dir_ + "/player.log";
    const std::string cmd = "DISPLAY='" + std::string(server_.name()) + "' '" VL_PLAYER_PATH "' -quiet -tempdir '" +
                            dir_ + "/tmp' '" + applet + "' >'" + log + "' 2>&1";
    const int status = std::system(cmd.c_str());
    std::ifstream in(log);
    const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_EQ(output, "");
  }

  bool Load(const std::string& name, Picture* p) const { return fxref::ReadBmp(dir_ + "/" + name + ".bmp", p); }
  void ExpectWindow(const std::string& name, const Picture& want, const std::string& what) const {
    Picture got;
    ASSERT_TRUE(Load(name, &got)) << what << ": no snapshot " << name;
    const std::string diff = fxref::Difference(got, want);
    EXPECT_EQ(diff, "") << what;
  }

  // The window before and after the effects: the start picture is the
  // BGPic, the end picture the brush on it or the emulated BGPic.
  int Factor(Screen screen) const { return screen == Screen::kScaledOutput || screen == Screen::kScaledLayers ? 2 : 1; }
  Picture Start(Screen screen) const { return fxref::Enlarged(bg_, Factor(screen)); }
  Picture End(Screen screen, Target target) const {
    const Picture end = target == Target::kEmulating ? emu_
                        : target == Target::kPart || target == Target::kDrawnPart
                            ? fxref::Pasted(bg_, Cropped(emu_, kPartWidth, kPartHeight), kBrushX, kBrushY)
                            : fxref::Pasted(bg_, brush_, kBrushX, kBrushY);
    return fxref::Enlarged(end, Factor(screen));
  }

  // Every id asynchronously (start and end), then the ids in `sync`
  // synchronously (end), all in one player run.
  // A text object's end picture is the window showing it without an
  // effect, grabbed first in the same run.
  void RunEnds(Screen screen, Target target, const std::vector<int>& sync, int syncSpeed,
               const std::vector<int>& ids = AllIds()) {
    std::string text = Begin(screen);
    if (target == Target::kText)
      text += ".call displaybgpic 2\n.call displaytextobject 6 " + std::to_string(kBrushX) + " " +
              std::to_string(kBrushY) + "\n" + Snap("text") + ".call freelayers\n";
    for (int id : ids) text += Case(screen, target, id, -2, true, false, Tag("a", id));
    for (int id : sync) text += Case(screen, target, id, syncSpeed, false, false, Tag("s", id));
    Play(text);
    Picture end = End(screen, target);
    if (target == Target::kText) {
      ASSERT_TRUE(Load("text", &end));
      ASSERT_NE(fxref::Difference(end, Start(screen)), "") << "the text object shows nothing";
    }
    // A layer that goes starts as the brush on the BGPic and ends as the
    // BGPic alone.
    const Picture start = target == Target::kHiding ? End(screen, Target::kBrush) : Start(screen);
    if (target == Target::kHiding) end = Start(screen);
    for (int id : ids) {
      ExpectWindow(Tag("a", id) + "s", start, Label(id) + " async, before the first frame");
      ExpectWindow(Tag("a", id) + "e", end, Label(id) + " async, at the end");
    }
    for (int id : sync) ExpectWindow(Tag("s", id) + "e", end, Label(id) + " sync");
  }

  // Frame by frame against the reference stepping: `scale` is the factor
  // between the pictures and the effect's own coordinates (a display that
  // scales its layers), `window` the factor of the window over those.
  // With changeAfter, the emulated BGPic turns red after that frame: the
  // frames from then on show it as if it had been red from the start.
  void RunFrames(Screen screen, Target target, const std::vector<int>& ids, int changeAfter = 0, int speed = -2) {
    // The frames of an earlier run in the same folder go first.
    ASSERT_EQ(std::system(("rm -f '" + dir_ + "'/p*f*.bmp").c_str()), 0);
    std::string text = Begin(screen);
    for (int id : ids) text += Case(screen, target, id, speed, true, true, Tag("p", id), changeAfter);
    Play(text);
    const int scale = screen == Screen::kScaledLayers ? 2 : 1;
    const int window = screen == Screen::kScaledOutput ? 2 : 1;
    const Picture old = fxref::Enlarged(bg_, scale);
    // A BGPic part is of odd size, so the families' leftover lines show.
    const bool part = target == Target::kPart || target == Target::kDrawnPart;
    const Picture fresh = fxref::Enlarged(target == Target::kEmulating ? emu_
                                          : part                     ? Cropped(emu_, kPartWidth, kPartHeight)
                                                                     : brush_,
                                          scale);
    const Picture red(fresh.width, fresh.height, 0xFF0000);
    for (int id : ids) {
      const std::string tag = Tag("p", id);
      int count = 0;
      for (int frame = 1;; ++frame) {
        Picture got;
        if (!Load(tag + Tag("f", frame), &got)) {
          // The call after the last frame ends the effect.
          EXPECT_EQ(frame - 2, count) << Label(id) << ": frames drawn";
          break;
        }
        const bool changed = changeAfter > 0 && frame > changeAfter;
        fxref::EffectCanvas c{old, changed ? &red : &fresh, &old, 0, 0, fresh.width, fresh.height};
        if (target != Target::kEmulating) c.x = kBrushX * scale, c.y = kBrushY * scale;
        // Hiding runs the reversed effect, whose strips show what lies
        // under the layer.
        const Picture under = Cropped(Shifted(old, c.x, c.y), fresh.width, fresh.height);
        if (target == Target::kHiding) c.canvas = fxref::Pasted(old, fresh, c.x, c.y), c.fresh = &under, c.hiding = true;
        const int stepped = target == Target::kHiding ? Reversed(id) : id;
        ASSERT_TRUE(fxref::StepReference(stepped, speed, frame, &c, &count)) << Label(id);
        if (frame > count) continue;
        const std::string diff = fxref::Difference(got, fxref::Enlarged(c.canvas, window));
        EXPECT_EQ(diff, "") << Label(id) << ", speed " << speed << ", frame " << frame << " of " << count;
        if (!diff.empty()) break;
      }
    }
  }

  PrivateXServer server_;
  std::string dir_;
  Picture bg_, emu_, brush_;
};

// Brush effects on a display without layers: the first frame goes
// straight onto the window and must survive the repaint of the window
// that the BGPic change left pending.
TEST_F(FxPlayer, EveryEffectEndsExactWithoutLayers) {
  RunEnds(Screen::kPlain, Target::kBrush, AllIds(), 12);
}

TEST_F(FxPlayer, EveryEffectEndsExactWithLayers) {
  RunEnds(Screen::kLayers, Target::kBrush, FirstOfFamilies(), 12);
}

TEST_F(FxPlayer, EveryEffectEndsExactOnAScaledDisplay) {
  RunEnds(Screen::kScaledOutput, Target::kBrush, FirstOfFamilies(), 12);
}

// A display that scales its layers shows the brush, the BGPic part and
// the text object at twice their place and size when the effect ends, not
// as they are in the BGPic.
TEST_F(FxPlayer, EveryEffectEndsExactOnALayerScalingDisplay) {
  RunEnds(Screen::kScaledLayers, Target::kBrush, FirstOfFamilies(), 12);
}

TEST_F(FxPlayer, PartsAndTextObjectsEndExactOnALayerScalingDisplay) {
  RunEnds(Screen::kScaledLayers, Target::kPart, FirstOfFamilies(), 12, FirstOfFamilies());
  RunEnds(Screen::kScaledLayers, Target::kText, FirstOfFamilies(), 12, FirstOfFamilies());
  RunEnds(Screen::kLayers, Target::kText, {0, 38, 115}, 12, {0, 38, 115});
}

// One BGPic through an effect to another, right after a resize, on a plain
// and on a scaled display.
TEST_F(FxPlayer, BGPicTransitionsEndExact) {
  const std::vector<int> plain = {0, 14, 24, 30, 38, 55, 70, 74, 78, 82, 88, 101, 105, 111, 115, 118, 120, 124, 128};
  const std::vector<int> scaled = {74, 78, 101, 111, 118, 120, 124, 128};
  for (Screen screen : {Screen::kPlain, Screen::kScaledOutput}) {
    const std::vector<int>& ids = screen == Screen::kPlain ? plain : scaled;
    std::string text = Begin(screen);
    for (int id : ids)
      text += ".call displaybgpic 3\n.call displaybgpic 2\n.table 0 { type = " + std::to_string(id) +
              ", speed = 20 }\n.call base=1 displaytransitionfx 4 r0\n" + Snap(Tag("t", id));
    Play(text);
    for (int id : ids)
      ExpectWindow(Tag("t", id), fxref::Enlarged(emu_, Factor(screen)), Label(id) + " from BGPic to BGPic");
  }
}

// A BGPic part drawn onto a display that scales its layers (not made a
// layer) lands where a layer of it would; drawn once the window has
// settled, since the next repaint of the window takes it away.
TEST_F(FxPlayer, APartDrawnOntoALayerScalingDisplayLandsWhereItsLayerWould) {
  std::string text = Begin(Screen::kScaledLayers);
  const std::vector<int> ids = {0, 38, 47, 83, 115};
  for (int id : ids)
    text += ".call displaybgpic 3\n.call displaybgpic 2\n.call wait 10\n" +
            Case(Screen::kScaledLayers, Target::kDrawnPart, id, 12, false, false, Tag("d", id));
  Play(text);
  for (int id : ids) ExpectWindow(Tag("d", id) + "e", End(Screen::kScaledLayers, Target::kDrawnPart), Label(id));
}

// A layer standing in for a BGPic runs every effect, the BGPic-only ones
// included, on plain displays and on displays that scale their output or
// their layers.
TEST_F(FxPlayer, EveryEffectEndsExactOnALayerStandingInForABGPic) {
  RunEnds(Screen::kLayers, Target::kEmulating, BGPicOnlyIds(), 20);
}

TEST_F(FxPlayer, EveryEffectEndsExactOnAnEmulatingLayerOfAScaledDisplay) {
  RunEnds(Screen::kScaledOutput, Target::kEmulating, BGPicOnlyIds(), 20);
}

TEST_F(FxPlayer, EveryEffectEndsExactOnAnEmulatingLayerOfALayerScalingDisplay) {
  RunEnds(Screen::kScaledLayers, Target::kEmulating, BGPicOnlyIds(), 20);
}

// Seeking an emulating layer's effect back to frame 5 shows what frame 5
// showed on the way forward, also from past the middle of a fold, for
// every effect that draws its frames as stills.
TEST_F(FxPlayer, SeekingBackOnAnEmulatingLayerShowsTheFrameAgain) {
  std::string text = Begin(Screen::kLayers);
  // The effects drawn as stills.
  std::vector<int> ids;
  for (int id : AllIds())
    if ((id >= 55 && id <= 81) || (id >= 84 && id <= 87) || (id >= 97 && id <= 104) || id >= 111) ids.push_back(id);
  for (int id : ids) {
    const int forward = BGPicOnly(id) && !((id >= 74 && id <= 81) || id == 133) ? 20 : 8;
    text += ".call displaybgpic 3\n.call displaybgpic 2\n.table 0 { hidden = 1 }\n.call base=1 displaybrush 5 0 0 r0\n";
    text += ".table 0 { type = " + std::to_string(id) +
            ", speed = -2, async = 1, bgpicemu = 1, bgpic = 4 }\n.call base=1 showlayerfx 1 r0 -> h\n";
    for (int frame = 1; frame <= forward; ++frame) {
      text += ".call asyncdrawframe $h\n";
      if (frame == 5) text += Snap(Tag("k", id) + "a");
    }
    text += ".call asyncdrawframe $h 5\n" + Snap(Tag("k", id) + "b") + ".call finishasyncdraw $h\n.call freelayers\n";
  }
  Play(text);
  for (int id : ids) {
    Picture forward;
    ASSERT_TRUE(Load(Tag("k", id) + "a", &forward));
    ExpectWindow(Tag("k", id) + "b", forward, Label(id) + " seeking back to frame 5");
  }
}

// A brush with an alpha plane (with holes) shown by an asynchronous effect
// on a display with layers: sought back to a frame, forward to another and to the same
// frame twice, the window shows what stepping to that frame showed, also
// for the families that draw their pieces through planes over what the
// layer held before.
TEST_F(FxPlayer, SeekingABrushEffectShowsWhatSteppingShowed) {
  const std::string brush = dir_ + "/alpha.png";
  // Alpha falling from left to right, with clear stripes across and down.
  std::string holes;
  for (int at = 3; at < 40; at += 6)
    holes += " -draw 'rectangle " + std::to_string(at) + ",0 " + std::to_string(at + 2) + ",29' -draw 'rectangle 0," +
             std::to_string(at) + " 39," + std::to_string(at + 2) + "'";
  ASSERT_EQ(std::system(("convert -size 40x30 xc: -seed 5 +noise Random \\( -size 30x40 gradient: -rotate 90 -fill black" +
                         holes + " \\) -alpha off -compose CopyOpacity -composite PNG32:'" + brush + "'").c_str()),
            0);
  std::string text = Begin(Screen::kLayers) + ".table 0 { loadalpha = 1 }\n.call base=1 loadbrush 7 \"" + brush + "\" r0\n";
  const std::vector<int> ids = {0, 38, 55, 70, 84, 85, 86, 87, 97, 99, 100, 115, 134, 139};
  // Hiding: the effects still on their way at frame 6.
  const std::vector<int> hides = {38, 55, 70, 84, 85, 86, 87, 97, 99, 100, 115, 134};
  // Shown with the effect, and hidden with it (run backwards) from that
  // brush and from a plain one.
  struct Way {
    const char* tag;
    const char* before;
    const char* start;
    const std::vector<int>* ids;
  };
  const Way ways[] = {{"q", "", "displaybrushfx 7 16 12", &ids},
                      {"u", ".call displaybrush 7 16 12\n", "hidelayerfx 1", &hides},
                      {"v", ".call displaybrush 1 16 12\n", "hidelayerfx 1", &hides}};
  for (const Way& way : ways)
    for (int id : *way.ids) {
      const std::string k = Tag(way.tag, id);
      text += ".call displaybgpic 2\n" + std::string(way.before) + ".table 0 { type = " + std::to_string(id) +
              ", speed = -2, parameter = 8, async = 1 }\n.call base=1 " + way.start + " r0 -> h\n";
      text += ".call asyncdrawframe $h\n.call asyncdrawframe $h\n.call asyncdrawframe $h\n" + Snap(k + "a");
      text += ".call asyncdrawframe $h\n.call asyncdrawframe $h\n.call asyncdrawframe $h\n" + Snap(k + "c");
      text += ".call asyncdrawframe $h 3\n" + Snap(k + "b") + ".call asyncdrawframe $h 3\n" + Snap(k + "d");
      text += ".call asyncdrawframe $h 6\n" + Snap(k + "e") + ".call finishasyncdraw $h\n.call freelayers\n";
    }
  Play(text);
  for (const Way& way : ways)
    for (int id : *way.ids) {
      const std::string k = Tag(way.tag, id), what = Label(id) + (way.tag[0] == 'q' ? " shown" : " hidden");
      Picture three, six;
      ASSERT_TRUE(Load(k + "a", &three));
      ASSERT_TRUE(Load(k + "c", &six));
      // The frames show the effect on its way.
      if (way.tag[0] == 'q') {
        EXPECT_NE(fxref::Difference(three, Start(Screen::kLayers)), "") << what;
      }
      EXPECT_NE(fxref::Difference(three, six), "") << what;
      ExpectWindow(k + "b", three, what + ", sought back to frame 3");
      ExpectWindow(k + "d", three, what + ", sought to frame 3 again");
      ExpectWindow(k + "e", six, what + ", sought forward to frame 6");
    }
}

// A brush with holes (a mask, or an alpha plane of 0 and 255) ends on the
// window through its holes, whether its effect draws it through its planes
// or flattens it over the screen first.
TEST_F(FxPlayer, EveryEffectEndsExactWithABrushWithHoles) {
  ASSERT_EQ(std::system(("convert '" + dir_ + "/brush.bmp' \\( -size 48x32 xc:white -fill black -draw 'rectangle 5,3 20,9'"
                         " -draw 'rectangle 30,14 33,31' \\) -alpha off -compose CopyOpacity -composite PNG32:'" +
                         dir_ + "/holes.png'").c_str()),
            0);
  Picture end = bg_;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48; ++x)
      if (!((x >= 5 && x <= 20 && y >= 3 && y <= 9) || (x >= 30 && x <= 33 && y >= 14)))
        end.At(kBrushX + x, kBrushY + y) = brush_.At(x, y);
  for (bool mask : {true, false}) {
    for (Screen screen : {Screen::kPlain, Screen::kLayers}) {
      std::string text = Begin(screen) + ".call freebrush 1\n.table 0 { loadalpha = 1 }\n.call base=1 loadbrush 1 \"" +
                         dir_ + "/holes.png\" r0\n" + (mask ? ".call changebrushtransparency 1 28\n" : "");
      const std::vector<int> sync = {38, 55, 70, 99, 116, 139};
      // The first of each family, and on a plain display every effect that
      // keeps the brush's planes itself.
      std::vector<int> ids = FirstOfFamilies();
      if (mask && screen == Screen::kPlain)
        for (int id : {56, 58, 59, 61, 65, 69, 71, 72, 73, 85, 86, 87, 100, 116, 117, 133}) ids.push_back(id);
      for (int id : ids) text += Case(screen, Target::kBrush, id, -2, true, false, Tag("a", id));
      for (int id : sync) text += Case(screen, Target::kBrush, id, 12, false, false, Tag("s", id));
      Play(text);
      const std::string how = std::string(mask ? "mask" : "alpha") + (screen == Screen::kPlain ? ", plain" : ", layers");
      for (int id : ids) ExpectWindow(Tag("a", id) + "e", end, Label(id) + " async, " + how);
      for (int id : sync) ExpectWindow(Tag("s", id) + "e", end, Label(id) + " sync, " + how);
    }
  }
}

// An effect finished early ends as the same effect run synchronously: a
// brush with a mask, and one whose alpha plane has holes and a
// half-transparent half, on a display without layers and with them.
TEST_F(FxPlayer, AnEffectFinishedEarlyEndsAsTheSynchronousOne) {
  ASSERT_EQ(std::system(("convert '" + dir_ + "/brush.bmp' \\( -size 48x32 xc:white -fill black -draw 'rectangle 5,3 20,9'"
                         " -fill gray50 -draw 'rectangle 24,0 47,13' \\) -alpha off -compose CopyOpacity -composite PNG32:'" +
                         dir_ + "/half.png'").c_str()),
            0);
  std::vector<int> ids = FirstOfFamilies();
  for (int id : {57, 60, 61, 69, 85}) ids.push_back(id);
  for (bool mask : {true, false})
    for (Screen screen : {Screen::kPlain, Screen::kLayers}) {
      std::string text = Begin(screen) + ".call freebrush 1\n.table 0 { loadalpha = 1 }\n.call base=1 loadbrush 1 \"" +
                         dir_ + "/half.png\" r0\n" + (mask ? ".call changebrushtransparency 1 28\n" : "");
      for (int id : ids) {
        text += Case(screen, Target::kBrush, id, -2, true, false, Tag("a", id), 0, 3);
        text += Case(screen, Target::kBrush, id, -2, false, false, Tag("s", id));
      }
      Play(text);
      const std::string how = std::string(mask ? "mask" : "alpha") + (screen == Screen::kPlain ? ", plain" : ", layers");
      for (int id : ids) {
        Picture sync;
        ASSERT_TRUE(Load(Tag("s", id) + "e", &sync));
        EXPECT_NE(fxref::Difference(sync, End(screen, Target::kBrush)), "") << Label(id) << " drawn opaque, " << how;
        ExpectWindow(Tag("a", id) + "e", sync, Label(id) + " finished after 3 frames, " + how);
      }
    }
}

// ROLL and WALLPAPER at normal and slow speed and at speeds in pixels
// (divided by 5 and held within 1..8), frame by frame, onto the window,
// into the brush's own layer and hiding a layer.
TEST_F(FxPlayer, RollsFrameByFrameAtEverySpeed) {
  const std::vector<int> rolls = {84, 85, 86, 87};
  for (int speed : {-1, -3, 12, 100}) {
    RunFrames(Screen::kPlain, Target::kBrush, rolls, 0, speed);
    RunFrames(Screen::kLayers, Target::kBrush, rolls, 0, speed);
    RunFrames(Screen::kLayers, Target::kHiding, rolls, 0, speed);
  }
}

// The families that lost their first frame, frame by frame on the window.
TEST_F(FxPlayer, StripFamiliesFrameByFrameWithoutLayers) {
  RunFrames(Screen::kPlain, Target::kBrush, {3, 11, 14, 20, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 40, 42, 44, 46, 83, 90, 92, 94, 96, 108, 109, 110,
                                            70, 71, 72, 73, 99, 100, 105, 106, 107, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69,
                                            84, 85, 86, 87});
}

// The same drawn into the brush's own layer, shown as it is, with the output
// scaled and with the layers scaled.
TEST_F(FxPlayer, StripFamiliesFrameByFrameInALayer) {
  RunFrames(Screen::kLayers, Target::kBrush, {3, 14, 25, 28, 29, 31, 35, 36, 83, 108, 110, 70, 71, 99, 105, 106, 107, 55, 61, 65, 84, 87});
  RunFrames(Screen::kScaledOutput, Target::kBrush, {11, 20, 24, 32, 34, 37, 109, 72, 100, 56, 69, 85});
  RunFrames(Screen::kScaledLayers, Target::kBrush, {4, 19, 27, 30, 33, 42, 90, 73, 106, 58, 63, 86});
}

// A BGPic part of odd size, drawn onto a display without layers and shown
// as a layer.
TEST_F(FxPlayer, StripFamiliesFrameByFrameOnAPartOfOddSize) {
  RunFrames(Screen::kPlain, Target::kDrawnPart, {2, 9, 15, 21, 24, 25, 28, 29, 31, 32, 34, 35, 36, 37, 38, 39, 41,
                                                 43, 45, 83, 88, 89, 91, 93, 95, 105, 106, 107, 108, 109, 110});
  RunFrames(Screen::kLayers, Target::kPart, {5, 12, 26, 27, 28, 29, 30, 33, 36, 37, 38, 46, 83, 88, 96, 99, 100, 106, 107, 110, 85, 86});
}

// Every effect hides a layer to the end, drawn into the layer's own
// picture (asynchronously) and onto the screen over it (synchronously).
TEST_F(FxPlayer, EveryEffectHidesALayerExactly) {
  RunEnds(Screen::kLayers, Target::kHiding, FirstOfFamilies(), 12);
  RunEnds(Screen::kScaledOutput, Target::kHiding, {38, 55, 97, 115, 139}, 12, FirstOfFamilies());
}

// Hidden, a layer loses the strips of the reversed effect, frame by frame.
TEST_F(FxPlayer, StripFamiliesHideALayerFrameByFrame) {
  RunFrames(Screen::kLayers, Target::kHiding, {3, 11, 14, 24, 27, 28, 29, 30, 33, 35, 36, 40, 83, 94, 105, 106, 107, 108, 110,
                                               84, 85, 86, 87});
  RunFrames(Screen::kScaledOutput, Target::kHiding, {20, 25, 31, 42, 109, 87});
  RunFrames(Screen::kScaledLayers, Target::kHiding, {4, 26, 32, 90, 106, 84});
}

// A crossfade mixes every frame in one pass into the back buffer and shows
// it, on a plain display and on one that scales its output; a fade and a
// blend tint the picture toward their colour; a pixel zoom sharpens it out
// of blocks.
TEST_F(FxPlayer, CrossfadeFadeAndPixelZoomFrameByFrameWithoutLayers) {
  RunFrames(Screen::kPlain, Target::kBrush, {115, 116, 117, 132});
  RunFrames(Screen::kScaledOutput, Target::kBrush, {115, 116, 117});
}

// The BGPic-only families on an emulating layer run frame by frame as on
// a BGPic, also where the display scales its output or its layers.
TEST_F(FxPlayer, BGPicOnlyFamiliesFrameByFrameOnAnEmulatingLayer) {
  RunFrames(Screen::kLayers, Target::kEmulating, {74, 75, 76, 77, 78, 79, 80, 81, 101, 102, 103, 104, 111, 112, 118, 119, 133,
                                                  120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131});
}

TEST_F(FxPlayer, BGPicOnlyFamiliesFrameByFrameOnScaledDisplays) {
  RunFrames(Screen::kScaledOutput, Target::kEmulating, {75, 78, 102, 111, 119, 122, 125, 130});
  RunFrames(Screen::kScaledLayers, Target::kEmulating, {74, 79, 101, 112, 118, 121, 126, 129});
}

// While it runs, the layer standing in for a BGPic shows what the script
// draws into that BGPic, with a cumulative family and BGPic-only ones.
TEST_F(FxPlayer, AnEmulatingLayerFollowsItsBGPic) {
  RunFrames(Screen::kLayers, Target::kEmulating, {3, 78, 111, 85}, 3);
}

// Without layers the window's repaint keeps what was drawn: a brush shown
// right after a BGPic change, and effects right after a size change or
// right after the display opened.
TEST_F(FxPlayer, DrawingRightAfterAWindowChangeStaysWithoutLayers) {
  std::string text = Begin(Screen::kPlain);
  text += ".call displaybgpic 3\n.call displaybgpic 2\n.call displaybrush 1 16 12\n.call wait 10\n" + Snap("plain");
  const std::vector<int> ids = {3, 14, 24, 30, 70, 82, 83, 88, 105};
  for (int id : ids) {
    // The end of the effect, and the same brush drawn over it once the
    // window has settled: the same picture when no strip was lost.
    text += ".call displaybgpic 3\n.call displaybgpic 2\n.call changedisplaysize 200 150\n";
    text += ".call displaybrushfx 1 16 12 " + std::to_string(id) + " 12\n" + Snap(Tag("c", id) + "e");
    text += ".call wait 10\n.call displaybrush 1 16 12\n.call wait 10\n" + Snap(Tag("c", id) + "d");
  }
  text += ".table 0 { bgpic = 4 }\n.call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call selectdisplay 2\n";
  text += ".call displaybrushfx 1 16 12 3 12\n" + Snap("open");
  Play(text);
  ExpectWindow("plain", End(Screen::kPlain, Target::kBrush), "a brush after a BGPic change");
  for (int id : ids) {
    Picture drawn;
    ASSERT_TRUE(Load(Tag("c", id) + "d", &drawn));
    EXPECT_EQ(drawn.width, 200);
    ExpectWindow(Tag("c", id) + "e", drawn, Label(id) + " after a size change");
  }
  ExpectWindow("open", fxref::Pasted(emu_, brush_, kBrushX, kBrushY), "an effect on a display just opened");
}

}  // namespace
