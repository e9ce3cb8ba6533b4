// The video commands on a private Xvfb display: a raw AVI made by ffmpeg
// played to its end (the window then shows its last frame, pixel for
// pixel), the play-state errors, seeking, sizing, frame grabs into brushes,
// and DumpVideo's pictures and WAV file read back with ffmpeg and ffprobe.
#include "tests/display/core/display_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "../../formats/pictures/picture_test_util.h"
#include "display/clients.h"
#include "graphics/bitmap.h"
#include "media/video/video_library.h"
#include "media/video/video_player.h"
#include "graphics/yuv_convert.h"
#include "objects/brushes/brush.h"
#include "runtime/class_lists.h"
#include "player/plugin_loader.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/full_disk.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

class Video : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenVideoLib(L), 0);
  }
  void TearDown() override {
    if (started_) {
      FreeVideoLib(L);
      FreeBrushLib(L);
    }
    DisplayTest::TearDown();
  }
  std::string Make(const std::string& name, const std::string& codec, const std::string& size, int rate,
                   double seconds) {
    const std::string file = dir_.File(name);
    int status = 0;
    pictest::RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=" + size + ":rate=" + std::to_string(rate) +
                         " -t " + std::to_string(seconds) + " " + codec + " " + pictest::Quote(file),
                     &status);
    EXPECT_EQ(status, 0);
    return file;
  }
  std::vector<uint8_t> Frames(const std::string& file) {
    return pictest::RunTool("ffmpeg -v error -i " + pictest::Quote(file) + " -f rawvideo -pix_fmt rgb24 -");
  }
  vlDisplay* Open(int w, int h) {
    const std::string size = std::to_string(w) + " " + std::to_string(h);
    EXPECT_EQ(Run(".call createbgpic 1 " + size + " 255\n.table 0 { bgpic = 1 }\n.call base=1 createdisplay 1 r0\n" +
                  ".call opendisplay 1"),
              0);
    return GetDisplayByNumber(1);
  }
  // A global holding the number 1 or 0; -1 for anything else (a boolean
  // included).
  int Flag(const char* name) {
    const vlValue* v = vltest::GetGlobal(L, name);
    return v->tag == VL_TNUMBER && (v->v.n == 0 || v->v.n == 1) ? int(v->v.n) : -1;
  }
  vlVideo* Find(int n) {
    vlVideo* v = nullptr;
    return GetVideoByID(L, {n, nullptr}, 0, &v) == 0 ? v : nullptr;
  }
  // Draws the frames the threads queue until the video ends.
  bool PlayOut(vlVideo* v, int seconds) {
    for (int i = 0; i < seconds * 100; ++i) {
      FlushPendingDisplayFrames(L);
      if (v->state.load() == VL_VIDEO_ENDED) {
        FlushPendingDisplayFrames(L);
        return true;
      }
      usleep(10000);
    }
    return false;
  }
  uint32_t Rgb(const std::vector<uint8_t>& frames, int frame, int w, int h, int x, int y) {
    const uint8_t* p = &frames[(size_t(frame) * w * h + size_t(y) * w + x) * 3];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
  pictest::TempDir dir_;
};

TEST_F(Video, PlaysToTheEndOnTheDisplay) {
  vlDisplay* d = Open(80, 60);
  ASSERT_NE(d, nullptr);
  const std::string file = Make("r.avi", "-c:v rawvideo -pix_fmt bgr24", "32x16", 20, 0.5);
  const auto frames = Frames(file);
  ASSERT_EQ(frames.size(), size_t(10 * 32 * 16 * 3));
  ASSERT_EQ(Run(".call openvideo 1 \"" + file + "\""), 0);
  vlVideo* v = Find(1);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->nativeWidth, 32);
  EXPECT_EQ(v->length, 500);
  ASSERT_EQ(Run(".call playvideo 1 10 20\n.call isvideoplaying 1 -> playing"), 0);
  EXPECT_EQ(Flag("playing"), 1);
  EXPECT_EQ(Run(".call playvideo 1"), 1501);
  EXPECT_EQ(Run(".call resumevideo 1"), 1452);
  EXPECT_EQ(Run(".call getvideoframe 5 1 1"), 1456);
  ASSERT_TRUE(PlayOut(v, 10));
  for (auto [x, y] : {std::pair{0, 0}, std::pair{31, 15}, std::pair{13, 7}})
    EXPECT_EQ(WindowPixel(d, 10 + x, 20 + y), Rgb(frames, 9, 32, 16, x, y)) << x << "," << y;
  // Outside the video the BGPic shows.
  EXPECT_EQ(WindowPixel(d, 5, 5), 255u);
  // Resized when ended, it shows its last frame at the new size.
  ASSERT_EQ(Run(".call setvideosize 1 64 32"), 0);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{62, 30}, std::pair{26, 14}})
    EXPECT_EQ(WindowPixel(d, 10 + x, 20 + y), Rgb(frames, 9, 32, 16, x / 2, y / 2)) << x << "," << y;
  ASSERT_EQ(Run(".call setvideosize 1 32 16"), 0);
  EXPECT_EQ(Run(".call isvideoplaying 1 -> playing"), 0);
  EXPECT_EQ(Flag("playing"), 0);
  // An ended video plays again from the start.
  ASSERT_EQ(Run(".call playvideo 1 0 0"), 0);
  ASSERT_EQ(Run(".call pausevideo 1"), 0);
  EXPECT_EQ(Run(".call pausevideo 1"), 1451);
  EXPECT_EQ(Run(".call playvideo 1"), 1500);
  ASSERT_EQ(Run(".call resumevideo 1\n.call stopvideo 1"), 0);
  EXPECT_EQ(Run(".call stopvideo 1"), 1516);
  // Stopping redraws the display: the video is gone.
  EXPECT_EQ(WindowPixel(d, 3, 3), 255u);
  ASSERT_EQ(Run(".call closevideo 1"), 0);
  EXPECT_EQ(Run(".call stopvideo 1"), 1449);
}

// A 4:2:0 video from a decoder plug-in shown at another size, plainly and
// smoothly: the window shows its last frame as the nearest and the
// bilinear rules sample the frame's colours.
TEST_F(Video, YuvVideoShownAtAnotherSize) {
  vlDisplay* d = Open(110, 20);
  ASSERT_NE(d, nullptr);
  const std::string plugin = dir_.File("testvideo.vlp");
  std::filesystem::copy_file(VL_MEDIA_PLUGIN_DIR "/testvideo.vlp", plugin);
  vlPlugin* node = nullptr;
  ASSERT_EQ(LoadPluginFile(plugin.c_str(), 1, &node), 0);
  struct Unload {
    ~Unload() {
      FreePluginList();
      FreeClassLists();
    }
  } unload;
  // Three frames 40 x 8 whose luma rises along x (16 + (8x + frame) % 200)
  // in grey chroma; the last one stays shown.
  const std::string file = dir_.File("y.tvid");
  std::ofstream(file) << "TVID 40 8 3 20 0 0 5\n";
  auto colour = [](int x) { return YUVToRGB(16 + (x * 8 + 2) % 200, 128, 128); };
  constexpr int kShown = 97;
  for (int smooth : {0, 1}) {
    SCOPED_TRACE(smooth);
    ASSERT_EQ(Run(".call openvideo 1 \"" + file + "\"\n.call setvideosize 1 " + std::to_string(kShown) + " 5 " +
                  std::to_string(smooth) + "\n.call playvideo 1 3 2"),
              0);
    ASSERT_TRUE(PlayOut(Find(1), 10));
    const uint32_t step = smooth ? 39 * 65536 / kShown : 40 * 65536 / kShown;
    uint32_t a = 0;
    for (int tx = 0, sx = 0; tx < kShown; ++tx) {
      uint32_t want = colour(static_cast<int>((static_cast<uint64_t>(tx) * step) >> 16));
      if (smooth) {  // rows are alike, so only the columns interpolate
        const uint32_t f = a & 0xFFFF, p = colour(sx), q = colour(sx + 1 < 40 ? sx + 1 : sx);
        want = 0;
        for (int shift : {0, 8, 16}) {
          const int32_t c = p >> shift & 255, c2 = q >> shift & 255;
          want |= static_cast<uint32_t>((c + (((c2 - c) * static_cast<int32_t>(f)) >> 16)) & 255) << shift;
        }
        a = f + step;
        sx += a >> 16;
      }
      for (int ty : {0, 4}) ASSERT_EQ(WindowPixel(d, 3 + tx, 2 + ty), want) << tx << "," << ty;
    }
    ASSERT_EQ(Run(".call closevideo 1"), 0);
  }
}

TEST_F(Video, SeekSizeVolumeAndDriverRules) {
  ASSERT_NE(Open(40, 30), nullptr);
  const std::string file = Make("m.avi", "-c:v mjpeg", "16x8", 10, 1);
  ASSERT_EQ(Run(".call openvideo 1 \"" + file + "\""), 0);
  vlVideo* v = Find(1);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(Run(".call seekvideo 1 999"), 0);
  EXPECT_EQ(Run(".call seekvideo 1 1000"), 1233);
  EXPECT_EQ(Run(".call seekvideo 1 -1"), 1233);
  EXPECT_EQ(Run(".call setvideovolume 1 100"), 0);
  EXPECT_EQ(v->volume, 64);
  EXPECT_EQ(Run(".call setvideovolume 1 \"50%\""), 0);
  EXPECT_EQ(v->volume, 32);
  EXPECT_EQ(Run(".call setvideosize 1 0 10"), 1218);
  EXPECT_EQ(Run(".call setvideosize 1 \"200%\" 20 1"), 0);
  EXPECT_EQ(v->width, 32);
  EXPECT_EQ(v->height, 20);
  EXPECT_EQ(v->smooth, 1u);
  EXPECT_EQ(Run(".call setvideoposition 1 -100000 -100000"), 0);
  EXPECT_EQ(v->x, (40 - 32) / 2);
  EXPECT_EQ(v->y, (30 - 20) / 2);
  EXPECT_EQ(Run(".call forcevideodriver 0"), 0);
  EXPECT_STREQ(gVideo.loaderSelection, "native");
  EXPECT_EQ(Run(".call forcevideodriver 2"), 0);
  EXPECT_STREQ(gVideo.loaderSelection, "native");
  EXPECT_EQ(Run(".call openvideo 2 \"" + file + "\""), 1450);
  EXPECT_EQ(Run(".call isvideo \"" + file + "\" -> yes\n.call isvideo \"" + dir_.File("none") + "\" -> no"), 0);
  EXPECT_EQ(Flag("yes"), 1);
  EXPECT_EQ(Flag("no"), 0);
  EXPECT_EQ(Run(".call forcevideodriver 1"), 0);
  EXPECT_EQ(Run(".call openvideo 2 \"" + file + "\""), 0);
  EXPECT_EQ(Run(".call dumpvideo 1 0 0 nil 5"), 1055);
  EXPECT_EQ(Run(".call dumpvideo 1 0 0 nil -1"), 1055);
  EXPECT_EQ(Run(".call openvideo 3 \"" + dir_.File("none.avi") + "\""), 1450);
  EXPECT_EQ(Run(".call openvideo nil \"" + file + "\" -> h\n.call closevideo $h"), 0);

  // Locked, the video refuses every change and stays as it was, its id too;
  // what only reads it still works.
  v = Find(1);
  ASSERT_NE(v, nullptr);
  v->locked = 1;
  const std::vector<std::string> changes = {
      "playvideo 1",        "stopvideo 1",         "pausevideo 1",
      "resumevideo 1",      "seekvideo 1 0",       "setvideovolume 1 10",
      "setvideosize 1 8 8", "setvideoposition 1 0 0", "displayvideoframe 1 0 0 0",
      "closevideo 1",       "openvideo 1 \"" + file + "\""};
  for (const std::string& change : changes) {
    SCOPED_TRACE(change);
    EXPECT_EQ(Run(".call " + change), 1314);
    EXPECT_EQ(Find(1), v);
    EXPECT_EQ(v->state.load(), uint32_t{VL_VIDEO_STOPPED});
  }
  EXPECT_EQ(v->volume, 32);
  EXPECT_EQ(v->width, 32);
  EXPECT_EQ(Run(".call isvideoplaying 1 -> playing\n.call getvideoframe 5 1 1"), 0);
  EXPECT_EQ(Flag("playing"), 0);
  v->locked = 0;
  EXPECT_EQ(Run(".call closevideo 1"), 0);
  EXPECT_EQ(Find(1), nullptr);
}

TEST_F(Video, GetVideoFrameMakesABrushOfTheFrame) {
  ASSERT_NE(Open(40, 30), nullptr);
  const std::string file = Make("r.avi", "-c:v rawvideo -pix_fmt bgr24", "16x8", 10, 1);
  const auto frames = Frames(file);
  ASSERT_EQ(Run(".call openvideo 1 \"" + file + "\""), 0);
  EXPECT_EQ(Run(".call getvideoframe 1 0 1"), 1457);
  EXPECT_EQ(Run(".call getvideoframe 1 1 1 2"), 1055);
  for (auto [mode, position, frame] : {std::tuple{0, 3, 2}, std::tuple{0, 10, 9}, std::tuple{1, 450, 4}}) {
    ASSERT_EQ(Run(".call getvideoframe 7 " + std::to_string(position) + " 1 " + std::to_string(mode)), 0);
    vlBrush* b = nullptr;
    ASSERT_EQ(GetBrushByID(L, {7, nullptr}, &b, 0), 0);
    ASSERT_EQ(b->width, 16);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{15, 7}, std::pair{8, 4}})
      EXPECT_EQ(ReadBitmapPixel(b->bitmap, x, y, 0) & 0xFFFFFF, Rgb(frames, frame, 16, 8, x, y)) << position;
  }
  EXPECT_EQ(Run(".call getvideoframe 7 11 1"), 1457);
  EXPECT_EQ(Run(".call getvideoframe nil 1 1 -> b"), 0);
  EXPECT_EQ(vltest::GetGlobal(L, "b")->tag, VL_TLIGHTUSERDATA);
}

TEST_F(Video, DumpVideoWritesNumberedPicturesAndAWav) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  const std::string file = Make("r.avi", "-c:v rawvideo -pix_fmt bgr24", "16x8", 10, 0.3);
  const auto frames = Frames(file);
  ASSERT_EQ(Run(".call openvideo 1 \"" + file + "\""), 0);
  const std::string prefix = dir_.File("f");
  // Partly outside the display: shown clipped, saved whole.
  ASSERT_EQ(Run(".call dumpvideo 1 -4 26 \"" + prefix + "\" 1"), 0);
  for (int n = 0; n < 3; ++n) {
    const auto rgb = pictest::RunTool("ffmpeg -v error -i " + pictest::Quote(prefix + std::to_string(n) + ".png") +
                                      " -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(rgb.size(), size_t(16 * 8 * 3)) << n;
    EXPECT_TRUE(std::equal(rgb.begin(), rgb.end(), frames.begin() + n * 16 * 8 * 3)) << n;
  }
  EXPECT_FALSE(std::ifstream(prefix + "3.png").good());
  EXPECT_EQ(WindowPixel(d, 0, 26), Rgb(frames, 2, 16, 8, 4, 0));
  EXPECT_EQ(WindowPixel(d, 11, 29), Rgb(frames, 2, 16, 8, 15, 3));
  // A video without sound still gets its WAV: no channels, no data.
  const auto wav = pictest::ReadBytes(prefix + ".wav");
  ASSERT_EQ(wav.size(), 44u);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(wav[4], 36);
  EXPECT_EQ(wav[22], 0);
  EXPECT_EQ(wav[40], 0);
  // Every other format is read back by ffmpeg as the same picture.
  for (auto [format, ext] : {std::pair{0, "bmp"}, std::pair{2, "jpg"}, std::pair{3, "gif"}, std::pair{4, "iff"}}) {
    const std::string p = dir_.File(std::string("g") + ext);
    ASSERT_EQ(Run(".call dumpvideo 1 0 0 \"" + p + "\" " + std::to_string(format)), 0) << ext;
    const auto rgb = pictest::RunTool("ffmpeg -v error -i " + pictest::Quote(p + "0." + ext) +
                                      " -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(rgb.size(), size_t(16 * 8 * 3)) << ext;
    int worst = 0;
    double sum = 0;
    for (size_t i = 0; i < rgb.size(); ++i) {
      const int delta = std::abs(int(rgb[i]) - int(frames[i]));
      worst = std::max(worst, delta);
      sum += delta;
    }
    // JPEG is lossy (its chroma is subsampled, and this picture has
    // one-pixel colour details); the others are exact.
    if (format == 2) EXPECT_LT(sum / rgb.size(), 24.0) << ext;
    else EXPECT_EQ(worst, 0) << ext;
  }
  // A frame of 740 colours goes into a GIF dithered: the picture is the one
  // SaveBrush makes of that frame with dithering, and not the one without.
  const std::string many = dir_.File("m.avi");
  int status = 0;
  pictest::RunTool("ffmpeg -v error -y -f lavfi -i mandelbrot=size=64x32:rate=10 -t 0.1 -c:v rawvideo -pix_fmt bgr24 " +
                       pictest::Quote(many),
                   &status);
  ASSERT_EQ(status, 0);
  const std::string m = dir_.File("m"), plain = dir_.File("plain.gif"), dithered = dir_.File("dithered.gif");
  ASSERT_EQ(Run(".call openvideo 2 \"" + many + "\"\n.call getvideoframe 8 1 2\n.call dumpvideo 2 0 0 \"" + m +
                "\" 3\n.table 0 { dither = 1 }\n.call base=1 savebrush 8 \"" + dithered +
                "\" 3 0 r0\n.call savebrush 8 \"" + plain + "\" 3"),
            0);
  auto decoded = [](const std::string& gif) {
    return pictest::RunTool("ffmpeg -v error -i " + pictest::Quote(gif) + " -f rawvideo -pix_fmt rgb24 -");
  };
  const auto dumped = decoded(m + "0.gif");
  ASSERT_EQ(dumped.size(), size_t(64 * 32 * 3));
  EXPECT_TRUE(dumped == decoded(dithered));
  EXPECT_FALSE(dumped == decoded(plain));
}

// A frame picture the disk refuses (a file size limit below one BMP of
// 16 x 8, above the empty WAV) ends the export with the error: no further
// frame is tried, nothing the export made is left, and the WAV file it
// would have replaced is as it was.
TEST_F(Video, DumpVideoStopsAtAPictureItCannotSave) {
  ASSERT_NE(Open(40, 30), nullptr);
  const std::string file = Make("p.avi", "-c:v rawvideo -pix_fmt bgr24", "16x8", 10, 0.3);
  ASSERT_EQ(Run(".call openvideo 1 \"" + file + "\""), 0);
  const std::string prefix = dir_.File("cut");
  std::ofstream(prefix + ".wav", std::ios::binary) << "OLD";
  int error;
  {
    vltest::FileSizeLimit limit(200);
    error = Run(".call dumpvideo 1 0 0 \"" + prefix + "\" 0");
  }
  EXPECT_EQ(error, 1005);
  const auto listing = pictest::RunTool("ls -A " + pictest::Quote(dir_.File("")) + " | grep -c 'cut'");
  EXPECT_EQ(std::string(listing.begin(), listing.end()), "1\n") << "only the old WAV";
  const auto wav = pictest::ReadBytes(prefix + ".wav");
  EXPECT_EQ(std::string(wav.begin(), wav.end()), "OLD");
}

// A disk that fills up after the first pictures: the export fails with
// 1005 and takes away the pictures it had written, and its WAV.
TEST_F(Video, DumpVideoOnADiskThatFillsUpLeavesNothingItMade) {
  ASSERT_NE(Open(40, 30), nullptr);
  const std::string file = Make("q.avi", "-c:v rawvideo -pix_fmt bgr24", "16x8", 10, 0.5);
  ASSERT_EQ(Run(".call openvideo 1 \"" + file + "\""), 0);
  vltest::FullTmpfs disk;
  if (disk.dir().empty()) GTEST_SKIP() << "no tmpfs can be mounted here";
  // Room for three small files: the WAV and the first two pictures.
  const std::string filler = disk.dir() + "/filler";
  struct stat info{};
  ASSERT_EQ(stat(filler.c_str(), &info), 0);
  ASSERT_EQ(truncate(filler.c_str(), info.st_size - 3 * 4096), 0);
  const std::string prefix = disk.dir() + "/frame";
  EXPECT_EQ(Run(".call dumpvideo 1 0 0 \"" + prefix + "\" 0"), 1005);
  EXPECT_EQ(disk.Entries(), (std::vector<std::string>{"filler", "old"}));
  EXPECT_EQ(disk.Old(), "OLD");
}

// An AVI with a PCM sound track: the WAV holds the track as ffmpeg reads
// it.
TEST_F(Video, DumpVideoWritesTheSoundTrackOfAnAvi) {
  ASSERT_NE(Open(40, 30), nullptr);
  const std::string file = dir_.File("s.avi");
  int status = 0;
  pictest::RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=16x8:rate=10 -f lavfi -i "
                   "sine=frequency=440:sample_rate=22050 -t 1 -ac 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " +
                       pictest::Quote(file),
                   &status);
  ASSERT_EQ(status, 0);
  const auto track = pictest::RunTool("ffmpeg -v error -i " + pictest::Quote(file) + " -f s16le -");
  ASSERT_EQ(track.size(), 22050u * 4);
  ASSERT_EQ(Run(".call openvideo 1 \"" + file + "\""), 0);
  const std::string prefix = dir_.File("a");
  ASSERT_EQ(Run(".call dumpvideo 1 0 0 \"" + prefix + "\" 1"), 0);
  const auto wav = pictest::ReadBytes(prefix + ".wav");
  ASSERT_EQ(wav.size(), 44 + track.size());
  auto u32 = [&](size_t at) { return wav[at] | wav[at + 1] << 8 | wav[at + 2] << 16 | uint32_t(wav[at + 3]) << 24; };
  EXPECT_EQ(u32(4), track.size() + 36);
  EXPECT_EQ(wav[22], 2);
  EXPECT_EQ(u32(24), 22050u);
  EXPECT_EQ(u32(40), track.size());
  EXPECT_TRUE(std::equal(track.begin(), track.end(), wav.begin() + 44));
  EXPECT_TRUE(std::ifstream(prefix + "9.png").good());

  // Against a full disk (a file size limit) the export fails and leaves a
  // WAV of that name as it was.
  const std::string full = dir_.File("full");
  pictest::WriteBytes(full + ".wav", {'o', 'l', 'd'});
  int error;
  {
    vltest::FileSizeLimit limit(20000);
    error = Run(".call dumpvideo 1 0 0 \"" + full + "\" 1");
  }
  EXPECT_EQ(error, 1005);
  EXPECT_EQ(pictest::ReadBytes(full + ".wav"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  const auto listing = pictest::RunTool("ls -A " + pictest::Quote(dir_.File("")) + " | grep -c 'full.wav'");
  EXPECT_EQ(std::string(listing.begin(), listing.end()), "1\n") << "a partial file was left";
}

TEST_F(Video, DumpVideoWritesTheSoundOfACdxl) {
  ASSERT_NE(Open(40, 30), nullptr);
  const std::string file = dir_.File("a.cdxl");
  int status = 0;
  pictest::RunTool("python3 " + pictest::Quote(std::string(getenv("VL_SOURCE_DIR")) +
                                               "/tests/formats/pictures/make_iff.py") +
                       " cdxl " + pictest::Quote(file) + " pal",
                   &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(Run(".call openvideo 1 \"" + file + "\""), 0);
  const std::string prefix = dir_.File("c");
  ASSERT_EQ(Run(".call dumpvideo 1 0 0 \"" + prefix + "\" 1"), 0);
  // ffprobe reads the header; the samples are the 8-bit sound times 256.
  const auto probe = pictest::RunTool("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " +
                                      pictest::Quote(prefix + ".wav"));
  EXPECT_EQ(std::string(probe.begin(), probe.end()), "512,1\n");
  const auto wav = pictest::ReadBytes(prefix + ".wav");
  ASSERT_EQ(wav.size(), 44u + 5 * 40 * 2);
  for (int n = 0; n < 5; ++n) {
    const auto snd = pictest::ReadBytes(file + "." + std::to_string(n) + ".snd");
    ASSERT_EQ(snd.size(), 40u);
    for (int i = 0; i < 40; ++i) {
      const int16_t s = int16_t(wav[44 + (n * 40 + i) * 2] | wav[45 + (n * 40 + i) * 2] << 8);
      EXPECT_EQ(s, int16_t(int8_t(snd[i]) * 256)) << n << " " << i;
    }
  }
  for (int n = 0; n < 5; ++n) EXPECT_TRUE(std::ifstream(prefix + std::to_string(n) + ".png").good()) << n;
}

}  // namespace
