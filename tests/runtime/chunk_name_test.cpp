#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/chunk_name.h"
#include "runtime/stream.h"
#include "virtual_files.h"

namespace {

struct Parsed {
  uint64_t offset = 99, length = 99;
  char stored[256] = "unset", path[256] = "unset", ext[16] = "unset";
  vlMemoryRecord* record = reinterpret_cast<vlMemoryRecord*>(1);
  int Parse(const char* name) {
    return ParseChunkName(name, {&offset, &length, stored, sizeof stored, path, sizeof path, ext, sizeof ext, &record});
  }
};

TEST(ChunkName, PlainFormRoundTrips) {
  char name[256];
  ASSERT_EQ(MakeChunkName("gfx/pic.png", name, sizeof name, 1000, 56, 234, "/apps/demo.vla"), 1);
  EXPECT_STREQ(name, ":::chunk1234:56*gfx/pic.png?/apps/demo.vla");
  EXPECT_EQ(IsChunkName(name), 1);
  Parsed p;
  ASSERT_EQ(p.Parse(name), 1);
  EXPECT_EQ(p.offset, 1234u);
  EXPECT_EQ(p.length, 56u);
  EXPECT_STREQ(p.stored, "gfx/pic.png");
  EXPECT_STREQ(p.path, "/apps/demo.vla");
  EXPECT_STREQ(p.ext, ".png");
  EXPECT_EQ(p.record, nullptr);

  ASSERT_EQ(MakeChunkName("README", name, sizeof name, 0, 0, 0, ""), 1);
  EXPECT_STREQ(name, ":::chunk0:0*README?");
  ASSERT_EQ(p.Parse(name), 1);
  EXPECT_STREQ(p.ext, "");
  EXPECT_STREQ(p.path, "");
  // Offsets beyond 4 GiB survive.
  ASSERT_EQ(MakeChunkName("big.bin", name, sizeof name, 0x100000000LL, 0x123456789ULL, 5, "c"), 1);
  ASSERT_EQ(p.Parse(name), 1);
  EXPECT_EQ(p.offset, 0x100000005u);
  EXPECT_EQ(p.length, 0x123456789u);
}

TEST(ChunkName, MemoryFormRoundTripsWhileTheRecordLives) {
  TestVirtualFiles vf;
  vf.Add("x", 1, false);
  int ref = vf.Add("0123456789", 10, true, "held.dat");
  char name[256];
  ASSERT_EQ(MakeChunkName("sub/held.dat", name, sizeof name, -1, 4, ref, "ignored"), 1);
  EXPECT_EQ(std::string(name), ":::chunkS" + std::to_string(ref) + ":4*sub/held.dat?");
  Parsed p;
  ASSERT_EQ(p.Parse(name), 1);
  EXPECT_EQ(p.offset, 0u);
  EXPECT_EQ(p.length, 10u);  // the record's size, not the name's
  EXPECT_EQ(p.record, vf.Get(ref));
  EXPECT_STREQ(p.stored, "sub/held.dat");
  EXPECT_STREQ(p.ext, ".dat");
  vf.Free(ref);
  EXPECT_EQ(p.Parse(name), 0);
}

TEST(ChunkName, NamesThatDoNotFitAreRefusedWhole) {
  char name[24];
  EXPECT_EQ(MakeChunkName("a-long-stored-name.png", name, sizeof name, 1, 2, 0, "/p"), 0);
  EXPECT_EQ(name[0], 0);
  char stored[4];
  EXPECT_EQ(ParseChunkName(":::chunk1:2*abcd?", {nullptr, nullptr, stored, sizeof stored, nullptr, 0, nullptr, 0,
                                                 nullptr}),
            0);
  EXPECT_EQ(ParseChunkName(":::chunk1:2*abc?", {nullptr, nullptr, stored, sizeof stored, nullptr, 0, nullptr, 0,
                                                nullptr}),
            1);
  EXPECT_STREQ(stored, "abc");
}

TEST(ChunkName, MalformedNamesDoNotParseOrOpen) {
  const char* bad[] = {":::chunk",      ":::chunk12",         ":::chunk12:",       ":::chunk12:5",
                       ":::chunk12:5*a", ":::chunkx:5*a?",     ":::chunk12:y*a?",   ":::chunk-1:5*a?",
                       ":::chunk1 :5*a?", ":::chunk99999999999999999999:1*a?", ":::chunkS:1*a?",
                       ":::chunkS1:1*a?/path"};
  for (const char* n : bad) {
    Parsed p;
    EXPECT_EQ(p.Parse(n), 0) << n;
    EXPECT_EQ(OpenFileStream(n, VL_MODE_READ, nullptr), nullptr) << n;
  }
  EXPECT_EQ(IsChunkName(":::chun"), 0);
  EXPECT_EQ(IsChunkName(nullptr), 0);
}

TEST(PathHelpers, ReadableNames) {
  EXPECT_STREQ(GetReadableFileName(":::chunk5:10*dir/a.png?/x/app.vla"), "a.png");
  EXPECT_STREQ(GetReadableFileName(":::chunk5:10*b.iff?/x/app.vla"), "b.iff");
  EXPECT_STREQ(GetReadableFileName("/home/u/pics/c.jpg"), "c.jpg");
  EXPECT_STREQ(GetReadableFileName("C:\\pics\\d.bmp"), "d.bmp");
  EXPECT_STREQ(GetReadableFileName("dh0:e.gif"), "e.gif");
  EXPECT_STREQ(GetReadableFileName("plain"), "plain");
  EXPECT_STREQ(GetReadableFileName("/"), "/");
}

TEST(PathHelpers, ExtensionsJoinsAndFileParts) {
  char buf[16] = "x";
  EXPECT_EQ(GetFileExtension(buf, sizeof buf, "dir.v2/pic.tar.gz"), 1);
  EXPECT_STREQ(buf, "x.gz");
  buf[0] = 0;
  EXPECT_EQ(GetFileExtension(buf, sizeof buf, "dir.v2/noext"), 1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(GetFileExtension(buf, sizeof buf, ":::chunk1:2*a/b.WAV?/c/d.vla"), 1);
  EXPECT_STREQ(buf, ".WAV");
  char tiny[4] = "ab";
  EXPECT_EQ(GetFileExtension(tiny, sizeof tiny, "f.png"), 0);
  EXPECT_STREQ(tiny, "ab");

  char dir[16] = "/tmp";
  EXPECT_EQ(AddPart(dir, sizeof dir, "f.txt"), 1);
  EXPECT_STREQ(dir, "/tmp/f.txt");
  char slash[16] = "a\\";
  EXPECT_EQ(AddPart(slash, sizeof slash, "b"), 1);
  EXPECT_STREQ(slash, "a\\b");
  char empty[16] = "";
  EXPECT_EQ(AddPart(empty, sizeof empty, "b"), 1);
  EXPECT_STREQ(empty, "b");
  char full[8] = "/tmp";
  EXPECT_EQ(AddPart(full, sizeof full, "abc"), 0);
  EXPECT_STREQ(full, "/tmp");

  EXPECT_STREQ(GetFilePart("/a/b/c.txt"), "c.txt");
  EXPECT_STREQ(GetFilePart("vol:c.txt"), "c.txt");
  EXPECT_STREQ(GetFilePart("a\\c.txt"), "c.txt");
  EXPECT_STREQ(GetFilePart("///c.txt"), "c.txt");
  EXPECT_STREQ(GetFilePart("c.txt"), "c.txt");
}

}  // namespace
