// A stand-in for the dos library's virtual-file list: records held by the
// test, found by their index as the reference.
#pragma once
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/chunk_name.h"
#include "runtime/stream.h"

class TestVirtualFiles {
 public:
  TestVirtualFiles() { SetVirtualFileHooks(&Find, &IsNode); }
  ~TestVirtualFiles() {
    SetVirtualFileHooks(nullptr, nullptr);
    for (vlMemoryRecord* r : Records()) {
      if (r) {
        std::free(r->data);
        delete r;
      }
    }
    Records().clear();
  }

  // A malloc'ed copy of the bytes; returns the reference.
  int Add(const void* bytes, size_t n, bool writable, const char* name = "virtual.dat") {
    auto* r = new vlMemoryRecord{};
    r->writable = writable;
    r->data = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (n) std::memcpy(r->data, bytes, n);
    r->capacity = n;
    r->size = n;
    r->name = name;
    Records().push_back(r);
    return static_cast<int>(Records().size() - 1);
  }
  vlMemoryRecord* Get(int ref) { return Records()[ref]; }
  void Free(int ref) {
    std::free(Records()[ref]->data);
    delete Records()[ref];
    Records()[ref] = nullptr;
  }

 private:
  static std::vector<vlMemoryRecord*>& Records() {
    static std::vector<vlMemoryRecord*> records;
    return records;
  }
  static vlMemoryRecord* Find(int64_t ref) {
    if (ref < 0 || static_cast<size_t>(ref) >= Records().size()) return nullptr;
    return Records()[ref];
  }
  static int IsNode(const vlMemoryRecord* r) {
    for (vlMemoryRecord* x : Records())
      if (x == r) return 1;
    return 0;
  }
};
