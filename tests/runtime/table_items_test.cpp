// The table item writer and reader in a real VM: exact bytes, also against
// an independent Python writer, counting, streams and memory cursors,
// round trips with a script function, merging into a table, and every
// refusal on both sides with the stack and the target left as they were.
#include "runtime/table_items.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "runtime/stream.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/call.h"
#include "vm/chunk.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Str(uint8_t tag, const std::string& s) {
  size_t n = s.size();
  Bytes out(5 + n);
  out[0] = tag;
  for (int i = 0; i < 4; ++i) out[1 + i] = uint8_t(n >> (24 - 8 * i));
  if (n) std::memcpy(out.data() + 5, s.data(), n);
  return out;
}
Bytes Num(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  Bytes out = {VL_ITEM_NUMBER};
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(uint8_t(bits >> shift));
  return out;
}
const Bytes kEnd = {VL_ITEM_END};

int DumpSink(vlVMState*, const void* bytes, size_t size, void* data) {
  auto* out = static_cast<Bytes*>(data);
  out->insert(out->end(), static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
  return 0;
}

std::string Hex(const uint8_t* p, size_t n) {
  std::string out;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", p[i]);
    out += b;
  }
  return out;
}

class TableItems : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    char templ[] = "/tmp/vl-items-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    HandlerTest::TearDown();
  }

  // The items of the table at index, written through the counter, a
  // memory cursor and a file stream, which must all agree.
  Bytes Write(int index) {
    int top = vl::GetStackTop(L);
    int64_t count = 100;
    EXPECT_EQ(WriteTableItems(L, index, nullptr, nullptr, &count), 0);
    count -= 100;  // the counter grows, it is not set
    Bytes viaCursor(static_cast<size_t>(count) + 8, 0xEE);
    vlWriteCursor cursor{viaCursor.data(), viaCursor.data() + viaCursor.size()};
    EXPECT_EQ(WriteTableItems(L, index, nullptr, &cursor, nullptr), 0);
    EXPECT_EQ(cursor.next - viaCursor.data(), count);
    viaCursor.resize(static_cast<size_t>(count));
    std::string path = dir_ + "/items";
    vlStream* stream = OpenFileStream(path.c_str(), VL_MODE_WRITE, nullptr);
    EXPECT_NE(stream, nullptr);
    EXPECT_EQ(WriteTableItems(L, index, stream, nullptr, nullptr), 0);
    CloseFileStream(stream);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), viaCursor);
    EXPECT_EQ(vl::GetStackTop(L), top);
    return viaCursor;
  }
  // Reads bytes through a cursor (pushing a new table unless into);
  // consumed gets the bytes used.
  int Read(const Bytes& b, int into = 0, size_t* consumed = nullptr) {
    vlReadCursor c{b.data(), b.data() + b.size()};
    int r = 0;
    int raised = vl::RunProtectedFn(L, [&] { r = ReadTableItems(L, nullptr, &c, into); });
    if (consumed) *consumed = static_cast<size_t>(c.next - b.data());
    return raised ? raised : r;
  }
  int ReadStream(const Bytes& b, int into = 0) {
    vlStream* s = OpenMemoryStream(b.data(), b.size());
    int r = ReadTableItems(L, s, nullptr, into);
    CloseFileStream(s);
    return r;
  }
  // Both ways must refuse with the same code and change nothing.
  void ExpectRefused(const Bytes& b, int code) {
    int top = vl::GetStackTop(L);
    EXPECT_EQ(Read(b), code);
    EXPECT_EQ(ReadStream(b), code);
    EXPECT_EQ(vl::GetStackTop(L), top);
  }
  int WriteError(int index) {
    int top = vl::GetStackTop(L);
    int64_t count = 7;
    int r = WriteTableItems(L, index, nullptr, nullptr, &count);
    EXPECT_EQ(count, 7);  // a failed count adds nothing
    Bytes buffer(4096);
    vlWriteCursor c{buffer.data(), buffer.data() + buffer.size()};
    EXPECT_EQ(WriteTableItems(L, index, nullptr, &c, nullptr), r);
    EXPECT_EQ(vl::GetStackTop(L), top);
    return r;
  }

  void Set(int table, auto key, auto value) {
    key();
    value();
    vl::RawSetTableValue(L, table);
  }
  auto S(const std::string& s) {
    return [this, s] { vl::PushBytes(L, s.data(), s.size()); };
  }
  auto N(double d) {
    return [this, d] { vl::PushNumber(L, d); };
  }
  std::string StringAt(int table, const char* key) {
    vl::PushString(L, key);
    vl::RawGetTableValue(L, table);
    std::string s = vl::GetTypeAt(L, -1) == VL_TSTRING
                        ? std::string(vl::ToStringAt(L, -1), vl::GetStringLengthAt(L, -1))
                        : "<none>";
    vl::SetStackTop(L, -2);
    return s;
  }
  double NumberAt(int table, const char* key) {
    vl::PushString(L, key);
    vl::RawGetTableValue(L, table);
    double n = vl::GetTypeAt(L, -1) == VL_TNUMBER ? vl::ToNumberAt(L, -1) : -999;
    vl::SetStackTop(L, -2);
    return n;
  }

  // The table at index as the Python writer's input, pairs in traversal
  // order.
  std::string Describe(int index) {
    std::string out = "[";
    vl::PushNil(L);
    while (vl::NextTableEntry(L, index)) {
      int top = vl::GetStackTop(L);
      if (out.size() > 1) out += ",";
      out.append("[").append(DescribeItem(top - 1)).append(",").append(DescribeItem(top)).append("]");
      vl::SetStackTop(L, -2);
    }
    return out + "]";
  }
  std::string DescribeItem(int i) {
    switch (vl::GetTypeAt(L, i)) {
      case VL_TNUMBER: {
        char b[64];
        std::snprintf(b, sizeof b, "%a", vl::ToNumberAt(L, i));
        return std::string("[\"n\",\"") + b + "\"]";
      }
      case VL_TSTRING:
        return "[\"s\",\"" + Hex(reinterpret_cast<const uint8_t*>(vl::ToStringAt(L, i)), vl::GetStringLengthAt(L, i)) +
               "\"]";
      case VL_TTABLE:
        return "[\"t\"," + Describe(i) + "]";
      case VL_TFUNCTION: {
        Bytes chunk;
        EXPECT_EQ(vl::DumpFunction(L, i, DumpSink, &chunk), 0);
        return "[\"f\",\"" + Hex(chunk.data(), chunk.size()) + "\"]";
      }
      default:
        return "[\"u\"]";
    }
  }

  std::string dir_;
};

constexpr const char* kAnswerScript = "loadk 0 #42\n setglobal 0 \"answer\"\n ret\n";

TEST_F(TableItems, ExactBytesOfSmallTables) {
  vl::PushNewTable(L);
  EXPECT_EQ(Write(1), kEnd);

  Set(1, S("x"), N(1));
  EXPECT_EQ(Write(1), (Bytes{3, 0, 0, 0, 1, 'x', 2, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0}));

  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  Set(1, N(-2.5), S(std::string("a\0b", 3)));
  EXPECT_EQ(Write(1), Cat({Num(-2.5), Str(3, std::string("a\0b", 3)), kEnd}));

  // Userdata of both kinds is stored as the number 0.
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  int marker = 0;
  Set(1, S("p"), [&] { vl::PushPointer(L, &marker); });
  EXPECT_EQ(Write(1), Cat({Str(3, "p"), Num(0), kEnd}));
  Set(1, S("p"), [&] { vl::PushNewUserdata(L, 16); });
  EXPECT_EQ(Write(1), Cat({Str(3, "p"), Num(0), kEnd}));

  // A nested table ends with its own 0 tag.
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  Set(1, N(1), [&] { vl::PushNewTable(L); });
  EXPECT_EQ(Write(1), Cat({Num(1), Bytes{VL_ITEM_TABLE}, kEnd, kEnd}));
}

TEST_F(TableItems, SameBytesAsAnIndependentWriter) {
  const char* src = std::getenv("VL_SOURCE_DIR");
  ASSERT_NE(src, nullptr);
  vl::PushNewTable(L);
  for (int i = 1; i <= 5; ++i) Set(1, N(i), N(i * 1.5));
  Set(1, N(-0.0), N(std::numeric_limits<double>::infinity()));
  Set(1, N(1e300), N(-1e-300));
  Set(1, S(std::string("z\0ro", 4)), S(std::string(300, 'L')));
  Set(1, S(std::string(256, 'k')), S(""));
  int marker = 0;
  Set(1, S("light"), [&] { vl::PushPointer(L, &marker); });
  Set(1, S("full"), [&] { vl::PushNewUserdata(L, 4); });
  Set(1, S("code"), [&] { ASSERT_EQ(vltest::PushScript(L, kAnswerScript), 0); });
  Set(1, S("nested"), [&] {
    vl::PushNewTable(L);
    Set(-3, S("inner"), [&] {
      vl::PushNewTable(L);
      Set(-3, N(7), S("deep"));
    });
    Set(-3, N(2), S("two"));
  });

  std::string in = dir_ + "/pairs.json", out = dir_ + "/py.items";
  std::ofstream(in) << Describe(1);
  std::string cmd = "python3 '" + std::string(src) + "/tests/runtime/data/make_table_items.py' '" + in + "' '" + out + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream f(out, std::ios::binary);
  Bytes fromPython{std::istreambuf_iterator<char>(f), {}};
  ASSERT_GT(fromPython.size(), 600u);
  EXPECT_EQ(Write(1), fromPython);
}

TEST_F(TableItems, RoundTripOfEveryKindWithAFunction) {
  vl::PushNewTable(L);
  Set(1, S("width"), N(1280));
  Set(1, N(0.5), S(std::string("Ann\0Lee", 7)));
  Set(1, S("long"), S(std::string(70000, 'q')));  // read in steps from a stream
  Set(1, S("empty"), S(""));
  Set(1, S("hook"), [&] { ASSERT_EQ(vltest::PushScript(L, kAnswerScript), 0); });
  Set(1, S("nested"), [&] {
    vl::PushNewTable(L);
    Set(-3, N(1), S("first"));
  });
  Bytes stored = Write(1);

  for (int viaStream = 0; viaStream <= 1; ++viaStream) {
    vl::SetStackTop(L, 0);
    size_t consumed = 0;
    ASSERT_EQ(viaStream ? ReadStream(stored) : Read(stored, 0, &consumed), 0);
    ASSERT_EQ(vl::GetStackTop(L), 1);
    if (!viaStream) {
      EXPECT_EQ(consumed, stored.size());
    }
    EXPECT_EQ(NumberAt(1, "width"), 1280);
    EXPECT_EQ(StringAt(1, "long"), std::string(70000, 'q'));
    EXPECT_EQ(StringAt(1, "empty"), "");
    vl::PushNumber(L, 0.5);
    vl::RawGetTableValue(L, 1);
    EXPECT_EQ(std::string(vl::ToStringAt(L, 2), vl::GetStringLengthAt(L, 2)), std::string("Ann\0Lee", 7));
    vl::SetStackTop(L, 1);
    vl::PushString(L, "nested");
    vl::RawGetTableValue(L, 1);
    ASSERT_EQ(vl::GetTypeAt(L, 2), VL_TTABLE);
    vl::RawGetTableIndex(L, 2, 1);
    EXPECT_STREQ(vl::ToStringAt(L, 3), "first");
    vl::SetStackTop(L, 1);
    vltest::SetGlobalNumber(L, "answer", 0);
    vl::PushString(L, "hook");
    vl::RawGetTableValue(L, 1);
    ASSERT_EQ(vl::GetTypeAt(L, 2), VL_TFUNCTION);
    ASSERT_EQ(vl::RunProtectedFn(L, [&] { vl::CallFunction(L, 0, 0); }), 0);
    EXPECT_EQ(vltest::GlobalNumber(L, "answer"), 42);
    // What was read writes the same bytes again (one pair per kind, so
    // the traversal order may differ only among these).
    EXPECT_EQ(Write(1).size(), stored.size());
  }
}

TEST_F(TableItems, ReadingIntoATableReplacesStoredKeysOnly) {
  vl::PushNewTable(L);
  Set(1, S("width"), N(1280));
  Set(1, S("name"), S("stored"));
  Bytes stored = Write(1);

  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  Set(1, S("width"), N(640));
  Set(1, S("keep"), N(3));
  ASSERT_EQ(Read(stored, 1), 0);
  EXPECT_EQ(vl::GetStackTop(L), 1);
  EXPECT_EQ(NumberAt(1, "width"), 1280);
  EXPECT_EQ(NumberAt(1, "keep"), 3);
  EXPECT_EQ(StringAt(1, "name"), "stored");

  // Stored pairs go in by plain assignment: a new key meets __newindex.
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  Set(1, S("width"), N(1));
  vl::PushNewTable(L);  // 2: receives what __newindex sends on
  vl::PushNewTable(L);  // 3: the metatable
  Set(3, S("__newindex"), [&] { vl::PushSlotCopy(L, 2); });
  vl::SetMetatableAt(L, 1);
  vl::PushSlotCopy(L, 1);
  ASSERT_EQ(Read(stored, 1), 0);
  EXPECT_EQ(NumberAt(1, "width"), 1280);  // present: assigned in place
  EXPECT_EQ(StringAt(1, "name"), "<none>");
  EXPECT_EQ(StringAt(2, "name"), "stored");
}

TEST_F(TableItems, RecordsShareOneStream) {
  vl::PushNewTable(L);
  Set(1, S("a"), N(1));
  vl::PushNewTable(L);
  Set(2, S("b"), S("two"));
  std::string path = dir_ + "/shared";
  vlStream* out = OpenFileStream(path.c_str(), VL_MODE_WRITE, nullptr);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(WriteTableItems(L, 1, out, nullptr, nullptr), 0);
  ASSERT_EQ(WriteTableItems(L, 2, out, nullptr, nullptr), 0);
  ASSERT_EQ(WriteStreamString(out, "tail"), 4);
  CloseFileStream(out);

  vl::SetStackTop(L, 0);
  vlStream* in = OpenFileStream(path.c_str(), VL_MODE_READ, nullptr);
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(ReadTableItems(L, in, nullptr, 0), 0);
  EXPECT_EQ(SeekFileStream(in, 0, VL_SEEK_CURRENT), 16);  // right after the first table
  ASSERT_EQ(ReadTableItems(L, in, nullptr, 0), 0);
  EXPECT_EQ(NumberAt(1, "a"), 1);
  EXPECT_EQ(StringAt(2, "b"), "two");
  char tail[5] = {};
  EXPECT_EQ(ReadFileStream(in, tail, 4), 4);
  EXPECT_STREQ(tail, "tail");
  CloseFileStream(in);
}

TEST_F(TableItems, WriterRefusesWhatHasNoItem) {
  vl::PushNewTable(L);
  Set(1, S("ok"), N(1));
  auto fresh = [&] {
    vl::SetStackTop(L, 0);
    vl::PushNewTable(L);
  };
  // Keys other than numbers and strings.
  Set(1, [&] { vl::PushBoolean(L, 1); }, N(1));
  EXPECT_EQ(WriteError(1), ERR_WRONGUSAGE);
  fresh();
  Set(1, [&] { vl::PushNewTable(L); }, N(1));
  EXPECT_EQ(WriteError(1), ERR_WRONGUSAGE);
  fresh();
  Set(1, [&] { ASSERT_EQ(vltest::PushScript(L, kAnswerScript), 0); }, N(1));
  EXPECT_EQ(WriteError(1), ERR_WRONGUSAGE);
  fresh();
  int marker = 0;
  Set(1, [&] { vl::PushPointer(L, &marker); }, N(1));
  EXPECT_EQ(WriteError(1), ERR_WRONGUSAGE);
  // Values with no item, also deep inside.
  fresh();
  Set(1, S("flag"), [&] { vl::PushBoolean(L, 0); });
  EXPECT_EQ(WriteError(1), ERR_WRONGUSAGE);
  fresh();
  Set(1, S("inner"), [&] {
    vl::PushNewTable(L);
    Set(-3, N(1), [&] { vl::PushBoolean(L, 1); });
  });
  EXPECT_EQ(WriteError(1), ERR_WRONGUSAGE);
  fresh();
  Set(1, S("native"), [&] { vl::PushNativeClosure(L, [](vlVMState*) { return 0; }, 0); });
  EXPECT_EQ(WriteError(1), ERR_NOVLFUNC);
  // A key the reader would refuse is not written.
  fresh();
  Set(1, S(std::string(257, 'k')), N(1));
  EXPECT_EQ(WriteError(1), ERR_WRONGUSAGE);
  // Not a table.
  vl::PushNumber(L, 3);
  EXPECT_EQ(WriteError(-1), ERR_WRONGDTYPE);
  // Nowhere to write.
  EXPECT_EQ(WriteTableItems(L, 1, nullptr, nullptr, nullptr), ERR_WRONGUSAGE);
}

TEST_F(TableItems, WriterStopsOnSelfContainingAndTooDeepTables) {
  vl::PushNewTable(L);
  Set(1, S("self"), [&] { vl::PushSlotCopy(L, 1); });
  EXPECT_EQ(WriteError(1), ERR_TABLEOVERFLOW);

  // Through a nested table.
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  Set(1, N(1), [&] {
    vl::PushNewTable(L);
    Set(-3, N(2), [&] { vl::PushSlotCopy(L, 1); });
  });
  EXPECT_EQ(WriteError(1), ERR_TABLEOVERFLOW);

  // 64 nested tables below the top one are fine, 65 are not.
  for (int levels : {kMaxItemDepth, kMaxItemDepth + 1}) {
    vl::SetStackTop(L, 0);
    vl::PushNewTable(L);  // the innermost
    for (int i = 0; i < levels; ++i) {
      vl::PushNewTable(L);
      vl::PushNumber(L, 1);
      vl::PushSlotCopy(L, 1);
      vl::RawSetTableValue(L, 2);
      vl::RemoveSlot(L, 1);
    }
    if (levels == kMaxItemDepth) {
      Bytes b = Write(1);
      EXPECT_EQ(b.size(), size_t(levels) * 10 + levels + 1);
      vl::SetStackTop(L, 0);
      EXPECT_EQ(Read(b), 0);
    } else {
      EXPECT_EQ(WriteError(1), ERR_TABLEOVERFLOW);
    }
  }
}

TEST_F(TableItems, ShortWritesAreReported) {
  vl::PushNewTable(L);
  Set(1, S("name"), S("value"));
  Set(1, S("code"), [&] { ASSERT_EQ(vltest::PushScript(L, kAnswerScript), 0); });
  Bytes full = Write(1);
  for (size_t room = 0; room < full.size(); ++room) {
    Bytes buffer(room + 1, 0xEE);
    vlWriteCursor c{buffer.data(), buffer.data() + room};
    EXPECT_EQ(WriteTableItems(L, 1, nullptr, &c, nullptr), ERR_WRITE) << room;
    EXPECT_EQ(buffer[room], 0xEE);  // nothing past the end
  }
  // A read-only stream takes nothing.
  uint8_t none[1] = {0};
  vlStream* s = OpenMemoryStream(none, 1);
  EXPECT_EQ(WriteTableItems(L, 1, s, nullptr, nullptr), ERR_WRITE);
  CloseFileStream(s);
  EXPECT_EQ(vl::GetStackTop(L), 1);
}

TEST_F(TableItems, ReaderRefusesBadItemsAndChangesNothing) {
  vl::PushNewTable(L);
  Set(1, S("volume"), N(64));
  vl::PushSlotCopy(L, 1);
  const Bytes good = Cat({Str(3, "k"), Num(1)});
  // Tags that are no key, or no value.
  for (uint8_t tag : {1, 4, 5, 6, 255}) ExpectRefused(Cat({good, Bytes{tag}, Num(1), kEnd}), ERR_FILEFORMAT);
  for (uint8_t tag : {0, 1, 6, 255}) ExpectRefused(Cat({good, Str(3, "v"), Bytes{tag}, kEnd}), ERR_FILEFORMAT);
  // A key no table can hold.
  ExpectRefused(Cat({Num(std::nan("")), Num(1), kEnd}), ERR_FILEFORMAT);
  // Keys: 256 bytes read, 257 do not.
  EXPECT_EQ(Read(Cat({Str(3, std::string(256, 'k')), Num(1), kEnd})), 0);
  vl::SetStackTop(L, 2);
  ExpectRefused(Cat({Str(3, std::string(257, 'k')), Num(1), kEnd}), ERR_WRONGUSAGE);
  // An empty function item.
  ExpectRefused(Cat({Str(3, "f"), Bytes{VL_ITEM_FUNCTION, 0, 0, 0, 0}, kEnd}), ERR_MEM);
  // A function item that is no chunk gets the loader's own code.
  const Bytes junk = {'n', 'o', 't', ' ', 'a', ' ', 'c', 'h', 'u', 'n', 'k'};
  struct Once {
    const Bytes* b;
    bool done;
  } once{&junk, false};
  int loader = vl::LoadChunk(
      L,
      [](vlVMState*, void* d, size_t* n) -> const char* {
        auto* o = static_cast<Once*>(d);
        *n = o->done ? 0 : o->b->size();
        const char* p = o->done ? nullptr : reinterpret_cast<const char*>(o->b->data());
        o->done = true;
        return p;
      },
      &once, "=junk");
  ASSERT_NE(loader, 0);
  ExpectRefused(Cat({Str(3, "f"), Str(VL_ITEM_FUNCTION, std::string(junk.begin(), junk.end())), kEnd}), loader);
  // Nesting past the limit.
  Bytes deep;
  for (int i = 0; i <= kMaxItemDepth; ++i) deep = Cat({deep, Num(1), Bytes{VL_ITEM_TABLE}});
  for (int i = 0; i <= kMaxItemDepth + 1; ++i) deep.push_back(VL_ITEM_END);
  ExpectRefused(deep, ERR_TABLEOVERFLOW);
  // Into a table that is not there.
  vl::PushNumber(L, 5);
  EXPECT_EQ(Read(Cat({good, kEnd}), 1), ERR_WRONGDTYPE);
  vl::SetStackTop(L, 2);
  // The target kept its value through all of it.
  Bytes damaged = Cat({Str(3, "volume"), Num(10), Bytes{9}});
  EXPECT_EQ(Read(damaged, 1), ERR_FILEFORMAT);
  EXPECT_EQ(ReadStream(damaged, 1), ERR_FILEFORMAT);
  EXPECT_EQ(NumberAt(1, "volume"), 64);
  EXPECT_EQ(vl::GetStackTop(L), 2);
}

TEST_F(TableItems, DataThatEndsEarlyIsAShortRead) {
  vl::PushNewTable(L);
  Set(1, S("name"), S("value"));
  Set(1, N(3), N(4));
  Set(1, S("code"), [&] { ASSERT_EQ(vltest::PushScript(L, kAnswerScript), 0); });
  Set(1, S("sub"), [&] {
    vl::PushNewTable(L);
    Set(-3, S("x"), N(1));
  });
  Bytes full = Write(1);
  for (size_t n = 0; n < full.size(); ++n) ExpectRefused(Bytes(full.begin(), full.begin() + n), ERR_READ);
  // Lengths far past the end are not taken at their word.
  ExpectRefused(Cat({Str(3, "s"), Bytes{VL_ITEM_STRING, 0xFF, 0xFF, 0xFF, 0xF0, 'x'}}), ERR_READ);
  ExpectRefused(Cat({Str(3, "f"), Bytes{VL_ITEM_FUNCTION, 0x7F, 0xFF, 0xFF, 0xFF, 0x1B}}), ERR_READ);
  ExpectRefused(Bytes{VL_ITEM_STRING, 0, 0, 0, 200, 'k'}, ERR_READ);
}

}  // namespace
