// String interning and the number <-> string conversions behind every
// coercion. Depends on the memory routine and the raise routines.
#include "vm/vmstring.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vm/error_codes.h"
#include "vm/memory.h"
#include "vm/protect.h"

namespace vl {

namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool OnlyBlanks(const char* p, const char* end) {
  for (; p < end; ++p) {
    if (!IsBlank(*p)) return false;
  }
  return true;
}

// Unsigned hexadecimal; values beyond 32 bits saturate at 4294967295, as the
// 32-bit unsigned conversion the format was made with did.
bool ParseHex(const char* p, const char* end, double* out) {
  uint64_t v = 0;
  const char* start = p;
  for (; p < end; ++p) {
    int d;
    char c = *p;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    v = v * 16 + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFu) v = 0x100000000u;  // keep it from growing further
  }
  if (p == start || !OnlyBlanks(p, end)) return false;
  *out = static_cast<double>(v > 0xFFFFFFFFu ? 0xFFFFFFFFu : v);
  return true;
}

}  // namespace

namespace {

// The tag bytes of a resize, freed unless the resize completes.
struct TagBlock {
  uint8_t* bytes;
  TagBlock(vlVMState* L, int n) : bytes(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(n)))) {
    if (!bytes) ThrowVmError(L, ERR_MEM);
  }
  ~TagBlock() { std::free(bytes); }
  TagBlock(const TagBlock&) = delete;
  TagBlock& operator=(const TagBlock&) = delete;
};

// Takes the new tag bytes and sets them from the chains.
void InstallTags(vlStringTable* tb, TagBlock& tags) {
  std::free(tb->tags);
  tb->tags = tags.bytes;
  tags.bytes = nullptr;
  std::memset(tb->tags, 0, static_cast<size_t>(tb->capacity));
  for (int i = 0; i < tb->capacity; i++)
    for (vlGCObject* p = tb->hash[i]; p; p = p->next) tb->tags[i] |= StringTagBit(reinterpret_cast<vlString*>(p)->hash);
}

}  // namespace

void ResizeStringTable(vlVMState* L, int newsize) {
  vlStringTable* tb = &L->g->strt;
  int oldsize = tb->size;
  if (tb->hash && (newsize == 2 * oldsize || 2 * newsize == oldsize)) {
    // The chains always spread over every allocated bucket: the size only
    // decides when the block grows or shrinks. A collection that halves
    // the size but keeps the block thus leaves the chains as they are, and
    // the doubling that usually follows before the next collection costs
    // nothing.
    // Every allocation comes before any change: a failed one leaves the
    // table as it was.
    int cap = tb->capacity;
    if (newsize > cap) {
      TagBlock tags(L, newsize);
      // Each chain splits in place into the bucket it keeps and the one
      // cap above it.
      tb->hash = ResizeVector(L, tb->hash, static_cast<size_t>(cap), static_cast<size_t>(newsize));
      vlGCObject** h = tb->hash;
      for (int i = 0; i < cap; i++) {
        vlGCObject* lo = nullptr;
        vlGCObject* hi = nullptr;
        vlGCObject* p = h[i];
        while (p) {
          vlGCObject* next = p->next;
          if (reinterpret_cast<vlString*>(p)->hash & static_cast<uint32_t>(cap)) {
            p->next = hi;
            hi = p;
          } else {
            p->next = lo;
            lo = p;
          }
          p = next;
        }
        h[i] = lo;
        h[i + cap] = hi;
      }
      tb->capacity = newsize;
      InstallTags(tb, tags);
    } else if (newsize < oldsize && (cap > 2 * newsize || newsize <= 64)) {
      // The block is kept for one halving (the table may well double again
      // before the next collection), not below the smallest size the
      // collector leaves. The lower buckets move to a smaller block and the
      // upper buckets' chains join them.
      TagBlock tags(L, newsize);
      vlGCObject** nh = NewVector<vlGCObject*>(L, static_cast<size_t>(newsize));
      vlGCObject** h = tb->hash;
      for (int i = 0; i < newsize; i++) nh[i] = h[i];
      uint32_t mask = static_cast<uint32_t>(newsize - 1);
      for (int j = newsize; j < cap; j++) {
        vlGCObject* upper = h[j];
        if (!upper) continue;
        vlGCObject** lower = &nh[static_cast<uint32_t>(j) & mask];
        vlGCObject* tail = upper;
        while (tail->next) tail = tail->next;
        tail->next = *lower;
        *lower = upper;
      }
      FreeVector(L, h, static_cast<size_t>(cap));
      tb->hash = nh;
      tb->capacity = newsize;
      InstallTags(tb, tags);
    }
    tb->size = newsize;
    return;
  }
  // Any other size: a new block.
  TagBlock tags(L, newsize);
  vlGCObject** nh = NewVector<vlGCObject*>(L, static_cast<size_t>(newsize));
  for (int i = 0; i < newsize; i++) nh[i] = nullptr;
  for (int i = 0; i < tb->capacity; i++) {
    vlGCObject* p = tb->hash[i];
    while (p) {
      vlGCObject* next = p->next;
      uint32_t h = reinterpret_cast<vlString*>(p)->hash;
      int b = static_cast<int>(h & static_cast<uint32_t>(newsize - 1));
      p->next = nh[b];
      nh[b] = p;
      p = next;
    }
  }
  FreeVector(L, tb->hash, static_cast<size_t>(tb->capacity));
  tb->hash = nh;
  tb->size = newsize;
  tb->capacity = newsize;
  InstallTags(tb, tags);
}

namespace {

// The string of bucket b holding these bytes, or null. Most new strings
// find their tag bit clear and end here without reading the chain (whose
// records are usually out of the cache by then).
inline vlString* FindString(const vlStringTable* tb, uint32_t b, const char* bytes, size_t len, uint32_t h) {
  if (!(tb->tags[b] & StringTagBit(h))) return nullptr;
  for (vlGCObject* o = tb->hash[b]; o; o = o->next) {
    const vlString* s = reinterpret_cast<const vlString*>(o);
    if (s->hash == h && s->len == len && SameBytes(bytes, StringData(s), len)) return const_cast<vlString*>(s);
  }
  return nullptr;
}

// Fills a new record and puts it at the head of bucket b; true when the
// table has outgrown its size.
inline bool LinkString(vlStringTable* tb, uint32_t b, vlString* ns, const char* bytes, size_t len, uint32_t h) {
  ns->gch.tag = VL_TSTRING;
  ns->gch.gcFlags = 0;
  ns->keyHashed = 0;
  ns->hash = h;
  ns->len = static_cast<uint32_t>(len);
  char* data = StringData(ns);
  CopyStringBytes(data, bytes, len);
  data[len] = '\0';
  ns->gch.next = tb->hash[b];
  tb->hash[b] = ToGC(ns);
  tb->tags[b] |= StringTagBit(h);
  tb->nuse++;
  return tb->nuse > tb->size && tb->size <= 1073741822;
}

[[gnu::noinline]] vlString* GrowAndReturn(vlVMState* L, vlString* s) {
  ResizeStringTable(L, L->g->strt.size * 2);
  return s;
}

// A string not in the table, in a block from the general allocator (which
// may raise 1000).
[[gnu::noinline]] vlString* NewString(vlVMState* L, const char* bytes, size_t len, uint32_t h) {
  auto* ns = static_cast<vlString*>(NewBlock(L, StringRecordSize(len)));
  vlStringTable* tb = &L->g->strt;
  if (LinkString(tb, h & static_cast<uint32_t>(tb->capacity - 1), ns, bytes, len, h)) return GrowAndReturn(L, ns);
  return ns;
}

[[gnu::noinline]] vlString* InternLongString(vlVMState* L, const char* bytes, size_t len) {
  // Lengths near the 32-bit limit cannot be stored; refuse instead of
  // wrapping (before the bytes are read).
  if (len >= 4294967294u - sizeof(vlString) - 1) RaiseVmError(L, ERR_MEM);
  uint32_t h = HashBytes(bytes, len);
  vlStringTable* tb = &L->g->strt;
  if (vlString* s = FindString(tb, h & static_cast<uint32_t>(tb->capacity - 1), bytes, len, h)) return s;
  return NewString(L, bytes, len, h);
}

}  // namespace

// Strings of up to 32 bytes (nearly all that are made) take a path with no
// calls but tail calls, so that it saves no registers; the rest, and a
// string whose block is not at hand, go out of line.
vlString* InternString(vlVMState* L, const char* bytes, size_t len) {
  if (len > 32) return InternLongString(L, bytes, len);
  uint32_t h = HashBytes(bytes, len);
  vlStringTable* tb = &L->g->strt;
  uint32_t b = h & static_cast<uint32_t>(tb->capacity - 1);
  if (vlString* s = FindString(tb, b, bytes, len, h)) return s;
  auto* ns = static_cast<vlString*>(TakePooledBlock(L, StringRecordSize(len)));
  if (!ns) return NewString(L, bytes, len, h);
  if (LinkString(tb, b, ns, bytes, len, h)) return GrowAndReturn(L, ns);
  return ns;
}


bool StringToNumber(const char* text, size_t len, double* out) {
  const char* end = text + len;
  if (len >= 3 && text[0] == '0' && text[1] == 'x') return ParseHex(text + 2, end, out);
  if (len >= 1 && text[0] == '$') return ParseHex(text + 1, end, out);
  // strtod needs a terminated text; the bytes may not be.
  char small[64];
  std::string big;
  const char* buf;
  if (len < sizeof small) {
    std::memcpy(small, text, len);
    small[len] = '\0';
    buf = small;
  } else {
    big.assign(text, len);
    buf = big.c_str();
  }
  char* stop = nullptr;
  double d = std::strtod(buf, &stop);
  if (stop == buf) return false;
  if (!OnlyBlanks(stop, buf + len)) return false;
  *out = d;
  return true;
}

int FormatNumber(double n, char* buf) {
  // Integers of up to 14 digits print as "%.14g" would, without its cost
  // (-0 is left to it: it prints the sign).
  if (n > -1e14 && n < 1e14) {
    int64_t i = static_cast<int64_t>(n);
    if (static_cast<double>(i) == n && (i != 0 || !std::signbit(n))) {
      uint64_t v = i < 0 ? 0u - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
      size_t length = WriteInteger(i < 0, v, 14, buf);
      buf[length] = '\0';
      return static_cast<int>(length);
    }
  }
  return std::snprintf(buf, kNumberBufferSize, "%.14g", n);
}

bool ToNumber(const vlValue* o, double* out) {
  switch (o->tag) {
    case VL_TNUMBER: *out = o->v.n; return true;
    case VL_TNIL: *out = 0; return true;
    case VL_TSTRING: {
      const vlString* s = ToString(o);
      return StringToNumber(StringData(s), s->len, out);
    }
    default: return false;
  }
}

bool ToStringInPlace(vlVMState* L, vlValue* o) {
  switch (o->tag) {
    case VL_TSTRING: return true;
    case VL_TNUMBER: {
      char buf[kNumberBufferSize];
      int n = FormatNumber(o->v.n, buf);
      SetString(o, InternString(L, buf, static_cast<size_t>(n)));
      return true;
    }
    case VL_TNIL: SetString(o, InternString(L, "", 0)); return true;
    default: return false;
  }
}

}  // namespace vl
