// Compressed files against python's zlib both ways, patches byte by byte
// with their progress callbacks, file checksums against python's zlib.crc32
// and coreutils md5sum, and the file formats' Base64 coder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <random>

#include "runtime/base64.h"
#include "runtime/stream.h"
#include "tests/libraries/dos/dos_test_util.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"

namespace {

using vltest::DosTest;

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  // Compressible but not trivial: runs of a few symbols.
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(rng() % 7 == 0 ? rng() : 'a' + (i / 13) % 5);
  return s;
}

TEST_F(DosTest, CompressedFilesAgreeWithPythonZlib) {
  for (size_t size : {0u, 1u, 16383u, 16384u, 50000u}) {
    std::string data = RandomBytes(size, static_cast<unsigned>(size));
    Write(Path("plain"), data);
    ASSERT_EQ(Run(".call compressfile \"" + Path("plain") + "\" \"" + Path("packed") + "\" -> n"), 0) << size;
    std::string packed = Bytes(Path("packed"));
    EXPECT_EQ(Num("n"), static_cast<double>(packed.size()));
    EXPECT_EQ(packed.substr(0, 8), std::string("VLPK\0\0\0\0", 8));
    if (size == 0) { EXPECT_EQ(packed.size(), 16u); }
    std::string inflated = Python("import zlib,sys; d=open(\"" + Path("packed") +
                                  "\",\"rb\").read(); sys.stdout.buffer.write(zlib.decompress(d[8:]))");
    EXPECT_EQ(inflated, data) << size;
    // A pack python made unpacks to the same bytes.
    Python("import zlib; open(\"" + Path("py.pack") + "\",\"wb\").write(b\"VLPK\\x01\\x02\\x03\\x04\"+zlib.compress(open(\"" +
           Path("plain") + "\",\"rb\").read(),9))");
    ASSERT_EQ(Run(".call decompressfile \"" + Path("py.pack") + "\" \"" + Path("out") + "\" -> m"), 0);
    EXPECT_EQ(Num("m"), static_cast<double>(size));
    EXPECT_EQ(Bytes(Path("out")), data);
  }
}

TEST_F(DosTest, BadPacksAreRefused) {
  Write(Path("notpack"), "VLZ!0000xxxxxxxx");
  EXPECT_EQ(Run(".call decompressfile \"" + Path("notpack") + "\" \"" + Path("o") + "\""), ERR_PAKFORMAT);
  Write(Path("plain"), RandomBytes(30000, 3));
  ASSERT_EQ(Run(".call compressfile \"" + Path("plain") + "\" \"" + Path("packed") + "\""), 0);
  std::string packed = Bytes(Path("packed"));
  Write(Path("cut"), packed.substr(0, packed.size() - 10));
  EXPECT_EQ(Run(".call decompressfile \"" + Path("cut") + "\" \"" + Path("o") + "\""), 1309);
  std::string corrupt = packed;
  corrupt[8] = 0x7F;  // a zlib header whose check fails
  Write(Path("corrupt"), corrupt);
  EXPECT_EQ(Run(".call decompressfile \"" + Path("corrupt") + "\" \"" + Path("o") + "\""), 1309);
  Write(Path("notpack"), "VLZ!00");
  EXPECT_EQ(Run(".call decompressfile \"" + Path("notpack") + "\" \"" + Path("o") + "\""), ERR_PAKFORMAT);
  Write(Path("short"), "VLPK");
  EXPECT_EQ(Run(".call decompressfile \"" + Path("short") + "\" \"" + Path("o") + "\""), ERR_READ);
  EXPECT_EQ(Run(".call decompressfile \"" + Path("none") + "\" \"" + Path("o") + "\""), ERR_READFILE);
  EXPECT_EQ(Run(".call compressfile \"" + Path("plain") + "\" \"" + Path("no/dir/x") + "\""), ERR_WRITEFILE);
  // A broken pack leaves no partial file and an existing one as it was.
  EXPECT_FALSE(std::filesystem::exists(Path("o")));
  Write(Path("o"), "old");
  EXPECT_EQ(Run(".call decompressfile \"" + Path("cut") + "\" \"" + Path("o") + "\""), 1309);
  EXPECT_EQ(Bytes(Path("o")), "old");
  // Packing and unpacking a file onto itself reads it whole first.
  std::string plain = Bytes(Path("plain"));
  ASSERT_EQ(Run(".call compressfile \"" + Path("plain") + "\" \"" + Path("plain") + "\""), 0);
  EXPECT_EQ(Bytes(Path("plain")), packed);
  ASSERT_EQ(Run(".call decompressfile \"" + Path("plain") + "\" \"" + Path("plain") + "\""), 0);
  EXPECT_TRUE(Bytes(Path("plain")) == plain);
}

const char* const kProgress = R"(
.function progress
  .params 1
  getfield 1 0 "progress"
  getglobal 2 "calls"
  add 2 2 #1
  setglobal 2 "calls"
  getglobal 3 "first"
  eq 1 3 nil
  jump set
  setglobal 1 "last"
  ret
set:
  setglobal 1 "first"
  setglobal 1 "last"
  ret
.end
)";

TEST_F(DosTest, PatchesXorAndComplement) {
  Write(Path("src"), std::string("\x10\x20\x30", 3));
  Write(Path("patch"), std::string("\xFF\x01", 2));
  auto patch = [&](const std::string& extra = "") {
    return Run("loadk 0 #0\nsetglobal 0 \"calls\"\n"
               ".call openfile 1 \"" + Path("src") + "\"\n.call openfile 2 \"" + Path("patch") + "\"\n"
               ".call openfile 3 \"" + Path("dst") + "\" 1006\n.call applypatch 1 2 3" + extra +
               "\n.call closefile 3",
               kProgress);
  };
  ASSERT_EQ(patch(), 0);
  EXPECT_EQ(Bytes(Path("dst")), std::string("\xEF\x21\xCF", 3));
  // A patch longer than the source is used for the source's length only.
  Write(Path("patch"), std::string("\x01\x02\x03\x04\x05", 5));
  ASSERT_EQ(patch(), 0);
  EXPECT_EQ(Bytes(Path("dst")), std::string("\x11\x22\x33", 3));
  // 50 bytes: the first report is 2 %, the last 100 %, one per step.
  Write(Path("src"), std::string(50, 'a'));
  ASSERT_EQ(patch(" fn:progress"), 0);
  EXPECT_EQ(Num("first"), 2);
  EXPECT_EQ(Num("last"), 100);
  EXPECT_EQ(Num("calls"), 50);
  Write(Path("src"), "");
  ASSERT_EQ(patch(" fn:progress"), 0);
  EXPECT_EQ(Num("calls"), 0);
  EXPECT_EQ(Bytes(Path("dst")), "");
  EXPECT_EQ(Run(".call applypatch 1 2 9"), ERR_FINDFILE);

  // The destination must be writable and the inputs readable; a source that
  // ends early (read from a later position) is an error, not bytes of -1.
  Write(Path("dst"), "keep");
  Write(Path("src"), std::string(50, 'a'));
  const std::string open = ".call openfile 1 \"" + Path("src") + "\"\n.call openfile 2 \"" + Path("patch") + "\"\n";
  EXPECT_EQ(Run(open + ".call openfile 3 \"" + Path("dst") + "\"\n.call applypatch 1 2 3"), ERR_READONLY);
  EXPECT_EQ(Bytes(Path("dst")), "keep");
  EXPECT_EQ(Run(open + ".call openfile 2 \"" + Path("w") + "\" 1006\n.call openfile 3 \"" + Path("dst") +
                "\" 1006\n.call applypatch 1 2 3"),
            ERR_WRITEONLY);
  EXPECT_EQ(Run(open + ".call openfile 3 \"" + Path("dst") + "\" 1006\n.call seek 1 40\n.call applypatch 1 2 3"),
            ERR_READ);
  // A progress callback that closes a file of the patch ends it with the
  // file's error; the closed stream is never used again.
  EXPECT_EQ(Run(open + ".call openfile 3 \"" + Path("dst") + "\" 1006\n.call applypatch 1 2 3 fn:closer",
                ".function closer\n.params 1\n.call base=1 closefile 3\nret\n.end\n"),
            ERR_FINDFILE);
  EXPECT_EQ(Run(".call closefile 1\n.call closefile 2"), 0);
}

TEST_F(DosTest, FileChecksumsAgreeWithPythonAndMd5sum) {
  for (size_t size : {0u, 1u, 65535u, 65536u, 200001u}) {
    std::string data = RandomBytes(size, static_cast<unsigned>(size) + 9);
    Write(Path("c"), data);
    ASSERT_EQ(Run(".call crc32 \"" + Path("c") + "\" -> crc\n.call md5 \"" + Path("c") + "\" -> digest"), 0);
    std::string crc = Python("import zlib; print(zlib.crc32(open(\"" + Path("c") + "\",\"rb\").read()))");
    EXPECT_EQ(Num("crc"), std::stod(crc)) << size;
    EXPECT_EQ(Str("digest"), Shell("md5sum '" + Path("c") + "'").substr(0, 32)) << size;
  }
  EXPECT_EQ(Run(".call crc32 \"\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call md5 \"" + Path("none") + "\""), ERR_READFILE);
}

TEST(Base64Coder, StreamsWrapBuildersDoNot) {
  std::string data(100, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37);
  std::string path = testing::TempDir() + "vl_b64_stream_" + std::to_string(getpid()) + ".txt";
  vlStream* s = OpenFileStream(path.c_str(), VL_MODE_WRITE, nullptr);
  ASSERT_NE(s, nullptr);
  size_t count = 0;
  ASSERT_EQ(Base64Encode(s, nullptr, nullptr, data.data(), data.size(), &count, 0), 0);
  CloseFileStream(s);
  EXPECT_EQ(count, 137u);
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(text.size(), 137u);
  EXPECT_EQ(text[72], '\n');
  std::remove(path.c_str());
  std::string plain = text.substr(0, 72) + text.substr(73);
  char buffer[200];
  count = 0;
  ASSERT_EQ(Base64Encode(nullptr, nullptr, buffer, data.data(), data.size(), &count, 0), 0);
  EXPECT_EQ(std::string(buffer, count), plain);

  // The lenient decoder: blanks anywhere, the rest after padding ignored,
  // and the bytes before a bad character kept.
  uint8_t out[64];
  size_t n = 0;
  EXPECT_EQ(Base64Decode(" Zm9v\tYm\nE=Zm9v", out, nullptr, 15, &n), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), "fooba");
  EXPECT_EQ(Base64Decode("Zm9vYmF", out, nullptr, 7, &n), ERR_BADBASE64);
  EXPECT_EQ(Base64Decode("Zm9v\xFFYmFy", out, nullptr, 9, &n), ERR_BADBASE64);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), "foo");
  EXPECT_EQ(Base64Decode("", out, nullptr, 0, &n), 0);
  EXPECT_EQ(n, 0u);
}

}  // namespace
