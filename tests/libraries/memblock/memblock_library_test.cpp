// The memblock library from assembled scripts: identifiers, byte layouts
// of every element type in both orders (against python3's struct), range
// checks, fills and copies, table conversions, the hex dump, borrowed
// blocks over pointers and virtual files, and transfers to and from files
// of the dos library.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "libraries/dos/dos_library.h"
#include "libraries/memblock/memblock_library.h"
#include "vm/gc.h"
#include "runtime/errors.h"
#include "runtime/objects.h"
#include "tests/libraries/library_script.h"
#include "vm/error_codes.h"

namespace {

constexpr int kOffsetRange = 1146;

class MemBlock : public vltest::LibraryScript {
 protected:
  void SetUp() override {
    LibraryScript::SetUp();
    vl::PushSlotCopy(L, vl::kGlobalsIndex);
    ASSERT_EQ(OpenMemBlockLib(L), 0);
    vl::SetStackTop(L, 0);
    vl::PushSlotCopy(L, vl::kGlobalsIndex);
    ASSERT_EQ(OpenDosLib(L), 0);
    vl::SetStackTop(L, 0);
    std::string templ = testing::TempDir() + "vl_memblock_XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir = templ;
  }
  void TearDown() override {
    FreeMemBlocks(L);
    FreeDosObjects(L);
    FreeObjectRegistries();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    LibraryScript::TearDown();
  }
  // The bytes of block 1 from offset 0, n of them.
  std::string Bytes(int n) {
    EXPECT_EQ(Run(".call peek 1 0 3 " + std::to_string(n) + " -> bytes"), 0);
    return Str("bytes");
  }
  static std::string Hex(const std::string& s) {
    std::string out;
    char h[3];
    for (unsigned char c : s) {
      std::snprintf(h, sizeof h, "%02x", c);
      out += h;
    }
    return out;
  }
  std::string dir;
};

TEST_F(MemBlock, IdentifiersAllocateReplaceAndFree) {
  ASSERT_EQ(Run(".call allocmem 1 8 -> r"), 0);
  EXPECT_EQ(Tag("r"), VL_TNIL);
  ASSERT_EQ(Run(".call allocmem nil 16 -> auto"), 0);
  EXPECT_EQ(Tag("auto"), VL_TLIGHTUSERDATA);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_MEMORY), 2);
  // A chosen id takes over: the old block of that id goes.
  ASSERT_EQ(Run(".call allocmem 1 4\n.call poke 1 0 7"), 0);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_MEMORY), 2);
  EXPECT_EQ(Run(".call poke 1 4 7"), kOffsetRange);
  EXPECT_EQ(Run(".call poke $auto 12 7\n.call peek $auto 12 -> v"), 0);
  EXPECT_EQ(Num("v"), 7);
  EXPECT_EQ(Run(".call allocmem 2 0"), ERR_MEM);
  EXPECT_EQ(Run(".call allocmem 2 -5"), ERR_MEM);
  EXPECT_EQ(Run(".call freemem 1"), 0);
  EXPECT_EQ(Run(".call freemem 1"), 1180);
  EXPECT_EQ(GetErrorArgIndex(), 1);
  EXPECT_EQ(Run(".call peek 77 0"), 1180);
  EXPECT_EQ(GetErrorArgIndex(), 77);
  EXPECT_EQ(Run(".call freemem $auto"), 0);
  EXPECT_EQ(Run(".call freemem $auto"), ERR_FINDARRAY);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_MEMORY), 0);
}

// Blocks freed at the head, in the middle and at the tail leave their
// neighbours findable, by the library and the generic look-up, and the list
// in making order for the registry scans.
TEST_F(MemBlock, FreeingAnyBlockKeepsTheOthersInOrder) {
  ASSERT_EQ(Run(".call allocmem 1 4\n.call allocmem 2 4\n.call allocmem 3 4\n.call allocmem 4 4\n"
                ".call allocmem 5 4\n.call freemem 3\n.call freemem 1\n.call freemem 5\n.call poke 2 0 7\n"
                ".call poke 4 0 8\n.call allocmem 6 4\n.call allocmem 2 4"),
            0);
  EXPECT_EQ(Run(".call peek 3 0"), 1180);
  EXPECT_EQ(Run(".call peek 5 0"), 1180);
  ASSERT_EQ(Run(".call peek 4 0 -> v"), 0);
  EXPECT_EQ(Num("v"), 8);
  std::vector<int> order;
  ScanObjects(
      [](vlObjectNode* n, void* ud) {
        if (n->type == VL_OBJ_MEMORY) static_cast<std::vector<int>*>(ud)->push_back(n->idNumber);
        return false;
      },
      &order);
  EXPECT_EQ(order, (std::vector<int>{4, 6, 2}));
  // The generic look-up goes through the same index.
  EXPECT_EQ(FindObjectByID(VL_OBJ_MEMORY, {3, nullptr}), nullptr);
  ASSERT_NE(FindObjectByID(VL_OBJ_MEMORY, {2, nullptr}), nullptr);
  EXPECT_EQ(FindObjectByID(VL_OBJ_MEMORY, {2, nullptr})->next, nullptr);
}

TEST_F(MemBlock, ElementLayoutsMatchPythonStruct) {
  std::string py =
      "import struct\n"
      "for order in '><':\n"
      "  print(struct.pack(order+'I', 16909060).hex(), struct.pack(order+'H', 0xBEEF).hex(),\n"
      "        struct.pack(order+'f', -1.5).hex(), struct.pack(order+'d', 3.141592653589793).hex(),\n"
      "        struct.pack(order+'f', 0.1).hex(), struct.pack(order+'I', 4294967295).hex())\n";
  std::istringstream expected(vltest::RunPython(py));
  ASSERT_EQ(Run(".call allocmem 1 32"), 0);
  for (int native = 0; native < 2; ++native) {
    std::string n = std::to_string(native);
    std::string want[6];
    for (std::string& w : want) expected >> w;
    const char* pokes[] = {"16909060 1", "48879 6", "-1.5 11", "3.141592653589793 12", "0.1 11", "-1 1"};
    for (int i = 0; i < 6; ++i) {
      ASSERT_EQ(Run(".call fillmem 1 0 32\n.call poke 1 0 " + std::string(pokes[i]) + " " + n), 0);
      EXPECT_EQ(Hex(Bytes(static_cast<int>(want[i].size() / 2))), want[i]) << pokes[i] << " native " << n;
    }
  }
  // Peek reads the same orders back; integers never come back negative.
  ASSERT_EQ(Run(".call poke 1 0 16909060\n.call peek 1 0 1 1 -> le\n.call peek 1 0 -> be\n"
                ".call poke 1 8 -1 6\n.call peek 1 8 6 -> s\n.call poke 1 9 255 7\n.call peek 1 9 7 -> b\n"
                ".call poke 1 16 -2.5 12 1\n.call peek 1 16 12 1 -> d\n.call poke 1 24 0.1 11\n"
                ".call peek 1 24 11 -> f\n.call poke 1 28 -7\n.call peek 1 28 -> i"),
            0);
  EXPECT_EQ(Num("le"), 67305985);
  EXPECT_EQ(Num("be"), 16909060);
  EXPECT_EQ(Num("s"), 65535);
  EXPECT_EQ(Num("b"), 255);
  EXPECT_EQ(Num("d"), -2.5);
  EXPECT_EQ(Num("f"), static_cast<double>(0.1f));
  EXPECT_EQ(Num("i"), 4294967289.0);
  EXPECT_EQ(Run(".call poke 1 0 1 2"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call peek 1 0 2"), ERR_WRONGUSAGE);
}

TEST_F(MemBlock, RangeChecksAndStrings) {
  ASSERT_EQ(Run(".call allocmem 1 8\n.call allocmem 2 3\n.call allocmem 3 4"), 0);
  EXPECT_EQ(Run(".call poke 1 4 1"), 0);
  EXPECT_EQ(Run(".call poke 1 5 1"), kOffsetRange);
  EXPECT_EQ(Run(".call poke 1 6 1 6"), 0);
  EXPECT_EQ(Run(".call poke 1 7 1 6"), kOffsetRange);
  EXPECT_EQ(Run(".call poke 1 7 1 7"), 0);
  EXPECT_EQ(Run(".call poke 1 8 1 7"), kOffsetRange);
  EXPECT_EQ(Run(".call poke 1 0 1 12"), 0);
  EXPECT_EQ(Run(".call poke 1 1 1 12"), kOffsetRange);
  EXPECT_EQ(Run(".call poke 1 -1 1 7"), kOffsetRange);
  EXPECT_EQ(Run(".call peek 1 -1"), kOffsetRange);
  EXPECT_EQ(Run(".call peek 1 5"), kOffsetRange);
  EXPECT_EQ(Run(".call poke 2 0 \"abc\" 3"), kOffsetRange);
  EXPECT_EQ(Run(".call fillmem 3 255 4\n.call poke 3 0 \"abc\" 3"), 0);
  EXPECT_EQ(Run(".call peek 3 0 3 4 -> s"), 0);
  EXPECT_EQ(Str("s"), std::string("abc\0", 4));
  EXPECT_EQ(Run(".call peek 3 0 3 5"), kOffsetRange);
  EXPECT_EQ(Run(".call peek 3 0 3 -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call peek 3 4 3"), kOffsetRange);
  // Length 0: the run of text bytes, ending at another byte or the block's end.
  ASSERT_EQ(Run(".call allocmem 4 12\n.call fillmem 4 0 12\n.call poke 4 0 \"a b\\t\\xE9\\n\" 3\n"
                ".call peek 4 0 3 -> run\n.call fillmem 4 65 12\n.call peek 4 9 3 -> tail"),
            0);
  EXPECT_EQ(Str("run"), "a b\t\xE9\n");
  EXPECT_EQ(Str("tail"), "AAA");
}

TEST_F(MemBlock, FillAndCopy) {
  ASSERT_EQ(Run(".call allocmem 1 16\n.call allocmem 2 16\n.call fillmem 1 0 16"), 0);
  EXPECT_EQ(Run(".call fillmem 1 171 3 1"), 0);
  EXPECT_EQ(Hex(Bytes(5)), "00ababab00");
  EXPECT_EQ(Run(".call fillmem 1 4660 4 2 6"), 0);
  EXPECT_EQ(Hex(Bytes(8)), "00ab123412340000");
  EXPECT_EQ(Run(".call fillmem 1 16909060 12 4 1"), 0);
  EXPECT_EQ(Hex(Bytes(16)), "00ab1234010203040102030401020304");
  EXPECT_EQ(Run(".call fillmem 1 1 3 0 6"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call fillmem 1 1 2 1 6"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call fillmem 1 1 6 0 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call fillmem 1 1 4 0 11"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call fillmem 1 1 0 0 6"), 0);
  EXPECT_EQ(Run(".call fillmem 1 1 17"), kOffsetRange);
  EXPECT_EQ(Run(".call fillmem 1 1 1 -1"), kOffsetRange);
  EXPECT_EQ(Run(".call fillmem 1 9 16"), 0);
  EXPECT_EQ(Run(".call fillmem 2 0 16\n.call copymem 1 2 4 0 12\n.call peek 2 12 -> w"), 0);
  EXPECT_EQ(Num("w"), 0x09090909);
  EXPECT_EQ(Run(".call copymem 1 1 4"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call copymem 1 2 4 13"), kOffsetRange);
  EXPECT_EQ(Run(".call copymem 1 2 4 0 13"), kOffsetRange);
  EXPECT_EQ(Run(".call copymem 1 2 4 -1"), kOffsetRange);
  EXPECT_EQ(Run(".call copymem 1 2 0 99 99"), 0);
  EXPECT_EQ(Run(".call copymem 1 9 4"), 1180);
}

TEST_F(MemBlock, TablesInBothOrders) {
  std::string py =
      "import struct\n"
      "print(struct.pack('<3h', 1, -2, 300).hex(), struct.pack('>3h', 1, -2, 300).hex(),\n"
      "      struct.pack('<2d', 0.5, -1e300).hex(), struct.pack('>2I', 7, 4294967295).hex())\n";
  std::istringstream expected(vltest::RunPython(py));
  std::string le16, be16, le64, be32;
  expected >> le16 >> be16 >> le64 >> be32;
  ASSERT_EQ(Run(".call allocmem 1 16"), 0);
  ASSERT_EQ(Run(".call tabletomem { 1, -2, 300 } 1 6"), 0);
  EXPECT_EQ(Hex(Bytes(6)), le16);
  ASSERT_EQ(Run(".call tabletomem { 1, -2, \"300\" } 1 6 { endianswitch = 1 }"), 0);
  EXPECT_EQ(Hex(Bytes(6)), be16);
  ASSERT_EQ(Run(".call tabletomem { 0.5, -1e300 } 1 12"), 0);
  EXPECT_EQ(Hex(Bytes(16)), le64);
  ASSERT_EQ(Run(".call tabletomem { 7, -1, \"x\" } 1 1 { endianswitch = 1, offset = 4 }"), 0);
  EXPECT_EQ(Hex(Bytes(16).substr(4, 8)), be32);
  EXPECT_EQ(Hex(Bytes(16).substr(12, 4)), "00000000");
  ASSERT_EQ(Run(".call memtotable 1 1 { offset = 4, items = 2, endianswitch = 1 } -> t"), 0);
  EXPECT_EQ(EntryNum("t", 0), 7);
  EXPECT_EQ(EntryNum("t", 1), 4294967295.0);
  ASSERT_EQ(Run(".call fillmem 1 255 16\n.call memtotable 1 7 -> u\n.call memtotable 1 7 { signed = 1 } -> s\n"
                ".call memtotable 1 1 { signed = 1 } -> i\n.call memtotable 1 6 { signed = 1, items = -1 } -> e"),
            0);
  EXPECT_EQ(EntryNum("u", 15), 255);
  EXPECT_TRUE(std::isnan(EntryNum("u", 16)));
  EXPECT_EQ(EntryNum("s", 0), -1);
  EXPECT_EQ(EntryNum("i", 3), 4294967295.0);
  EXPECT_TRUE(std::isnan(EntryNum("e", 0)));
  EXPECT_EQ(Run(".call memtotable 1 3"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call memtotable 1 1 { offset = -1 }"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call memtotable 1 1 { offset = 4, items = 4 }"), kOffsetRange);
  // Key 0 nil: nothing stored; too many: the block fills, then 1146.
  ASSERT_EQ(Run(".call fillmem 1 0 16\n.call tabletomem { nil, 5 } 1 7"), 0);
  EXPECT_EQ(Hex(Bytes(2)), "0000");
  EXPECT_EQ(Run(".call tabletomem { 1, 2, 3, 4, 5 } 1 1"), kOffsetRange);
  EXPECT_EQ(Hex(Bytes(16)), "01000000020000000300000004000000");
  EXPECT_EQ(Run(".call tabletomem { 1 } 1 1 { offset = 17 }"), kOffsetRange);
  EXPECT_EQ(Run(".call tabletomem { 1 } 1 3"), ERR_WRONGUSAGE);
}

TEST_F(MemBlock, DumpPrintsSixteenBytesALine) {
  ASSERT_EQ(Run(".call allocmem 1 20\n.call fillmem 1 65 20\n.call poke 1 1 0 7\n.call poke 1 2 32 7"), 0);
  testing::internal::CaptureStdout();
  int status = Run(".call dumpmem 1");
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(status, 0);
  std::string first = "00000000: 41 00 20 41 41 41 41 41 41 41 41 41 41 41 41 41 A. AAAAAAAAAAAAA\n";
  std::string second = "00000010: 41 41 41 41 " + std::string(36, ' ') + "AAAA\n";
  EXPECT_EQ(out, first + second);
  testing::internal::CaptureStdout();
  status = Run(".call dumpmem 1 2 18");
  out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(status, 0);
  EXPECT_EQ(out, "00000012: 41 41 " + std::string(14 * 3, ' ') + "AA\n");
  EXPECT_EQ(Run(".call dumpmem 1 0 4"), kOffsetRange);
  EXPECT_EQ(Run(".call dumpmem 1 0 -1"), ERR_WRONGUSAGE);
}

TEST_F(MemBlock, BorrowedBlocks) {
  // A block without a size takes any offset; its bytes stay the owner's.
  ASSERT_EQ(Run(".call allocmem 1 16\n.call fillmem 1 0 16\n.call getmempointer 1 8 -> p\n"
                ".call allocmemfrompointer 2 $p 0\n.call poke 2 4 305419896\n.call peek 1 12 -> v\n"
                ".call allocmemfrompointer 3 $p 4\n.call freemem 2\n.call freemem 3\n.call peek 1 12 -> again"),
            0);
  EXPECT_EQ(Num("v"), 305419896);
  EXPECT_EQ(Num("again"), 305419896);
  EXPECT_EQ(Run(".call getmempointer 1 16"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call getmempointer 1 -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call allocmemfrompointer 2 12 4"), ERR_UDEXPECTED);
  ASSERT_EQ(Run(".call allocmemfrompointer 2 $p 4"), 0);
  EXPECT_EQ(Run(".call poke 2 1 1"), kOffsetRange);
  EXPECT_EQ(Run(".call memtotable 3 1"), 1180);
  // Virtual files: the block reads the file's own bytes.
  ASSERT_EQ(Run(".call definevirtualfilefromstring \"ABCDEFGH\" \"v.bin\" 1 -> name\n"
                ".call allocmemfromvirtualfile nil $name -> vb\n.call peek $vb 4 -> w\n"
                ".call poke $vb 0 97 7\n.call openfile 9 $name\n.call readchr 9 -> first"),
            0);
  EXPECT_EQ(Num("w"), 0x45464748);
  EXPECT_EQ(Num("first"), 'a');
  EXPECT_EQ(Run(".call poke $vb 8 1 7"), kOffsetRange);
  EXPECT_EQ(Run(".call allocmemfromvirtualfile 5 \"plain.bin\""), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call allocmemfromvirtualfile 5 \":::chunkS999:4*x?unused\""), ERR_WRONGUSAGE);
  // A block over a string used in place must not write into the script's
  // string (strings are shared: another value would change with it).
  ASSERT_EQ(Run(".call definevirtualfilefromstring \"virtual bytes\" \"s.bin\" -> sname\n"
                ".call allocmemfromvirtualfile 6 $sname\n.call peek 6 0 7 -> before"),
            0);
  EXPECT_EQ(Num("before"), 'v');
  EXPECT_EQ(Run(".call poke 6 0 65 7"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call fillmem 6 65 4"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call copymem 1 6 4"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { 65 }\n.call base=1 tabletomem r0 6 7"), ERR_WRONGUSAGE);
  // Undefined files stay alive while blocks and open files use them.
  ASSERT_EQ(Run(".call openfile 10 $sname\n.call undefinevirtualstringfile $sname\n"
                ".call undefinevirtualstringfile $name\nloadnil 0\nsetglobal 0 \"sname\""),
            0);
  vl::CollectGarbage(L);
  ASSERT_EQ(Run(".call peek 6 0 3 13 -> kept\n.call peek $vb 0 3 8 -> copied\n.call readline 10 -> line\n"
                ".call closefile 10\n.call freemem 6\n.call freemem $vb"),
            0);
  EXPECT_EQ(Str("kept"), "virtual bytes");
  EXPECT_EQ(Str("copied"), "aBCDEFGH");
  EXPECT_EQ(Str("line"), "virtual bytes");
  // An empty virtual file gives a block of size 0 that is still range
  // checked, and grows with the file when a stream writes to it.
  ASSERT_EQ(Run(".call definevirtualfilefromstring \"\" \"e.bin\" 1 -> empty\n"
                ".call allocmemfromvirtualfile 5 $empty"),
            0);
  EXPECT_EQ(Run(".call poke 5 0 1 7"), kOffsetRange);
  EXPECT_EQ(Run(".call peek 5 0 3"), kOffsetRange);
  EXPECT_EQ(Run(".call dumpmem 5"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call openfile 11 $empty 1006\n.call writestring 11 \"grown\"\n.call closefile 11\n"
                ".call peek 5 0 3 -> grown\n.call poke 5 0 71 7\n.call peek 5 0 3 -> poked"),
            0);
  EXPECT_EQ(Str("grown"), "grown");
  EXPECT_EQ(Str("poked"), "Grown");
  EXPECT_EQ(Run(".call peek 5 5 7"), kOffsetRange);
}

TEST_F(MemBlock, FilesReadAndWriteBlocks) {
  std::string out = dir + "/out.bin";
  std::string in = dir + "/in.bin";
  {
    std::ofstream f(in, std::ios::binary);
    f << "0123456789";
  }
  vltest::SetGlobalNumber(L, "unused", 0);
  ASSERT_EQ(Run(".call allocmem 1 8\n.call fillmem 1 16909060 8 0 1\n"
                ".call openfile 1 " + Q(out) + " 1006\n.call writemem 1 1 6 2\n.call closefile 1\n"
                ".call openfile 2 " + Q(in) + "\n.call readmem 2 1 4 4\n.call readmem 2 1 0 99"),
            0);
  std::ifstream written(out, std::ios::binary);
  EXPECT_EQ(Hex(std::string(std::istreambuf_iterator<char>(written), {})), "030401020304");
  EXPECT_EQ(Hex(Bytes(8)), "0102030430313233");
  EXPECT_EQ(Run(".call readmem 2 1 4 -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call readmem 2 1 4 5"), kOffsetRange);
  // A short read fails and leaves the block as it was.
  EXPECT_EQ(Run(".call readmem 2 1 8"), ERR_READ);
  EXPECT_EQ(Hex(Bytes(8)), "0102030430313233");
  EXPECT_EQ(Run(".call writemem 2 1 4"), ERR_READONLY);
  EXPECT_EQ(Run(".call openfile 3 " + Q(dir + "/w.bin") + " 1006\n.call readmem 3 1 4"), ERR_WRITEONLY);
  EXPECT_EQ(Run(".call readmem 7 1 4"), ERR_FINDFILE);
  EXPECT_EQ(Run(".call readmem 2 7 4"), 1180);
}

}  // namespace
