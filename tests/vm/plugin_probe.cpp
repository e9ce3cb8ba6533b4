// A test plug-in: a separately linked shared object that knows the VM only
// through the 78-slot table it is handed. ProbeSum and ProbeRecord are
// ordinary handlers; ProbeEverySlot calls each slot by its index.
#include <cstdio>
#include <cstring>

#include "vm/auxlib.h"  // the vlStrBuf record only
#include "vm/plugin_vm.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const vlPluginVMTable* gVM = nullptr;
typedef vlVMState* S;
bool gCalled[kPluginVMSlotCount];

// Slot by index; remembers which slots were used.
template <class F>
F Slot(int index) {
  gCalled[index] = true;
  return reinterpret_cast<F>(reinterpret_cast<void* const*>(gVM)[index]);
}

// Calls the slot named by upvalue 1 with plausible arguments; each of them
// raises.
int CallRaisingSlot(S L) {
  int slot = static_cast<int>(Slot<double (*)(S, int)>(14)(L, -10002));
  switch (slot) {
    case 44: Slot<int (*)(S, int)>(44)(L, 1234); break;
    case 56:
    case 69: Slot<int (*)(S, int, vlObjectId*)>(slot)(L, 1, nullptr); break;
    case 68: Slot<const char* (*)(S, int)>(68)(L, 1); break;
    default: break;
  }
  return 0;
}

// Pushes its upvalues and, through the pseudo-index, checks upvalue 2.
int PushUps(S L) {
  int n = Slot<int (*)(S)>(38)(L);
  if (Slot<int (*)(S, int)>(10)(L, -10003) != 4) return 0;     // upvalue 2 is a string
  if (Slot<int (*)(S, int)>(10)(L, -10004) != -1) return 0;    // no upvalue 3
  return n;
}

int Fail(int slot) { return 2000 + slot; }

}  // namespace

PROBE_EXPORT void ProbeBind(const vlPluginVMTable* table) { gVM = table; }

// sum(...) -> the sum of the arguments and the text "sum=<n>".
PROBE_EXPORT int ProbeSum(S L) {
  int n = gVM->GetStackTop(L);
  double sum = 0;
  for (int i = 1; i <= n; i++) sum += gVM->ToNumberAt(L, i);
  char text[64];
  std::snprintf(text, sizeof text, "sum=%g", sum);
  gVM->PushNumber(L, sum);
  gVM->PushString(L, text);
  return 2;
}

// record(name, count) -> {name = name, count = count, list = {0..count-1}}
PROBE_EXPORT int ProbeRecord(S L) {
  const char* name = gVM->ToStringAt(L, 1);
  int count = static_cast<int>(gVM->ToNumberAt(L, 2));
  gVM->PushNewSizedTable(L, 0, 2);
  gVM->PushString(L, "name");
  gVM->PushString(L, name);
  gVM->SetTableValue(L, -3);
  gVM->PushString(L, "count");
  gVM->PushNumber(L, count);
  gVM->RawSetTableValue(L, -3);
  gVM->PushString(L, "list");
  gVM->PushNewTable(L);
  for (int i = 0; i < count; i++) {
    gVM->PushNumber(L, i * i);
    gVM->RawSetTableIndex(L, -2, i);
  }
  gVM->RawSetTableValue(L, -3);
  return 1;
}

// Calls every slot by index and checks what it answers. Results: the number
// of distinct slots called and the number found empty; a failing slot k
// makes the call fail with code 2000 + k.
PROBE_EXPORT int ProbeEverySlot(S L) {
  for (bool& c : gCalled) c = false;
  int empty = 0;
  auto top = Slot<int (*)(S)>(0);
  auto settop = Slot<void (*)(S, int)>(1);
  auto type = Slot<int (*)(S, int)>(10);
  auto num = Slot<double (*)(S, int)>(14);
  auto str = Slot<const char* (*)(S, int)>(15);
  auto pushnum = Slot<void (*)(S, double)>(21);
  auto pushstr = Slot<void (*)(S, const char*)>(23);

  if (top(L) != 0) return Fail(0);
  Slot<void (*)(S)>(20)(L);                 // 20 nil        -> 1
  pushnum(L, 5);                            // 21 5          -> 2
  Slot<void (*)(S, const char*, size_t)>(22)(L, "a\0b", 3);  // 3
  pushstr(L, "12");                         // 23 "12"       -> 4
  int local = 0;
  Slot<void (*)(S, void*)>(24)(L, &local);  // 24 pointer    -> 5
  Slot<void (*)(S, int)>(70)(L, 9);         // 70 true       -> 6
  if (top(L) != 6 || type(L, 1) != 0 || type(L, 2) != 3 || type(L, 3) != 4 || type(L, 5) != 2 ||
      type(L, 6) != 1 || type(L, 7) != -1)
    return Fail(10);
  settop(L, 8);
  if (top(L) != 8 || type(L, 8) != 0) return Fail(1);
  settop(L, 6);
  Slot<void (*)(S, int)>(2)(L, 2);  // copy 5 -> 7
  if (num(L, 7) != 5) return Fail(2);
  Slot<void (*)(S, int)>(3)(L, 7);  // remove it again
  if (top(L) != 6) return Fail(3);
  pushnum(L, 7);
  Slot<void (*)(S, int)>(4)(L, 1);  // 7 nil 5 "a\0b" "12" ptr true
  if (num(L, 1) != 7 || type(L, 2) != 0) return Fail(4);
  Slot<void (*)(S, int)>(5)(L, 1);  // true replaces 7
  if (type(L, 1) != 1 || top(L) != 6) return Fail(5);
  // Stack now: true nil 5 "a\0b" "12" ptr
  if (!Slot<int (*)(S, int)>(7)(L, 2) || !Slot<int (*)(S, int)>(7)(L, 5) || Slot<int (*)(S, int)>(7)(L, 4))
    return Fail(7);
  if (!Slot<int (*)(S, int)>(8)(L, 3) || Slot<int (*)(S, int)>(8)(L, 2)) return Fail(8);
  if (!Slot<int (*)(S, int)>(9)(L, 6) || Slot<int (*)(S, int)>(9)(L, 3)) return Fail(9);
  pushnum(L, 5);  // 7
  if (!Slot<int (*)(S, int, int)>(11)(L, 3, 7) || Slot<int (*)(S, int, int)>(11)(L, 2, 3)) return Fail(11);
  if (!Slot<int (*)(S, int, int)>(12)(L, 3, 7) || Slot<int (*)(S, int, int)>(12)(L, 3, 5)) return Fail(12);
  pushstr(L, "a");  // 8
  pushstr(L, "B");  // 9
  auto less = Slot<int (*)(S, int, int, int)>(13);
  if (!less(L, 8, 9, 0) || less(L, 8, 9, 1)) return Fail(13);
  if (num(L, 5) != 12) return Fail(14);
  if (std::strcmp(str(L, 7), "5") != 0 || type(L, 7) != 4) return Fail(15);
  if (Slot<size_t (*)(S, int)>(16)(L, 4) != 3) return Fail(16);
  if (Slot<void* (*)(S, int)>(18)(L, 6) != &local) return Fail(18);
  settop(L, 0);

  // Closures and upvalues.
  pushnum(L, 1);
  pushstr(L, "two");
  Slot<void (*)(S, vlNativeFn, int)>(25)(L, PushUps, 2);  // 1: closure
  if (!Slot<int (*)(S, int)>(6)(L, 1) || Slot<vlNativeFn (*)(S, int)>(17)(L, 1) != PushUps) return Fail(17);
  if (Slot<const void* (*)(S, int)>(19)(L, 1) == nullptr) return Fail(19);
  const char* name = Slot<const char* (*)(S, int, int)>(39)(L, 1, 2);
  if (!name || std::strcmp(str(L, -1), "two") != 0) return Fail(39);
  pushnum(L, 3);
  if (!Slot<const char* (*)(S, int, int)>(40)(L, 1, 1)) return Fail(40);
  settop(L, 1);
  Slot<void (*)(S, int)>(2)(L, 1);
  Slot<void (*)(S, int, int)>(74)(L, 0, -1);  // 74: results 3, "two"
  if (top(L) != 3 || num(L, 2) != 3 || std::strcmp(str(L, 3), "two") != 0) return Fail(74);
  Slot<void (*)(S)>(29)(L);
  if (Slot<int (*)(S, int)>(34)(L, 1) != 0 || top(L) != 3) return Fail(34);
  settop(L, 0);

  // Tables.
  Slot<void (*)(S)>(29)(L);  // 1
  pushstr(L, "k");
  pushnum(L, 10);
  Slot<void (*)(S, int)>(31)(L, 1);  // t.k = 10 (with metamethods)
  pushstr(L, "r");
  pushnum(L, 20);
  Slot<void (*)(S, int)>(32)(L, 1);  // raw
  pushnum(L, 30);
  Slot<void (*)(S, int, int)>(33)(L, 1, 1);
  pushstr(L, "k");
  Slot<void (*)(S, int)>(26)(L, 1);
  pushstr(L, "r");
  Slot<void (*)(S, int)>(27)(L, 1);
  Slot<void (*)(S, int, int)>(28)(L, 1, 1);
  if (num(L, 2) != 10 || num(L, 3) != 20 || num(L, 4) != 30) return Fail(26);
  settop(L, 1);
  int entries = 0;
  Slot<void (*)(S)>(20)(L);
  while (Slot<int (*)(S, int)>(36)(L, 1)) {
    entries++;
    settop(L, -2);
  }
  if (entries != 3 || top(L) != 1) return Fail(36);
  Slot<void (*)(S, int, int)>(72)(L, 4, 2);  // 2
  Slot<void (*)(S, int)>(2)(L, 2);
  Slot<void (*)(S, int)>(42)(L, 1);  // the copy becomes the metatable of 1
  if (!Slot<int (*)(S, int)>(43)(L, 1) || !Slot<int (*)(S, int, int)>(12)(L, 2, 3)) return Fail(43);
  settop(L, 1);
  void* block = Slot<void* (*)(S, size_t)>(41)(L, 16);
  if (!block || Slot<void* (*)(S, int)>(18)(L, 2) != block) return Fail(41);
  Slot<void (*)(S, int)>(30)(L, 2);  // no script function: the thread's globals
  if (!Slot<int (*)(S, int, int)>(12)(L, -1, -10001)) return Fail(30);
  settop(L, 0);

  // Strings, truth, names, stack space and the collector.
  pushstr(L, "a");
  pushnum(L, 1);
  pushstr(L, "b");
  Slot<void (*)(S, int)>(37)(L, 3);
  if (top(L) != 1 || std::strcmp(str(L, 1), "a1b") != 0) return Fail(37);
  pushnum(L, 0);
  if (Slot<int (*)(S, int)>(71)(L, 2) != 1 || Slot<int (*)(S, int)>(71)(L, 5) != 0) return Fail(71);
  if (std::strcmp(Slot<const char* (*)(S, int)>(73)(L, 5), "table") != 0) return Fail(73);
  if (Slot<int (*)(S, int)>(67)(L, 3000) != 0 || Slot<int (*)(S, int)>(67)(L, 50) != 1) return Fail(67);
  int kb = Slot<int (*)(S)>(75)(L);
  if (Slot<int (*)(S)>(76)(L) <= 0) return Fail(76);
  Slot<void (*)(S, int)>(77)(L, 4194304);
  if (Slot<int (*)(S)>(75)(L) <= kb && kb < 4194303) return Fail(77);
  Slot<void (*)(S, int)>(77)(L, kb);
  settop(L, 0);

  // The services that are not there yet raise 1066, under a protected call.
  const int raising[] = {44, 56, 68, 69};
  for (int slot : raising) {
    pushnum(L, slot);
    Slot<void (*)(S, vlNativeFn, int)>(25)(L, CallRaisingSlot, 1);
    int code = Slot<int (*)(S, int, int, int)>(35)(L, 0, 0, 0);
    if (code != 1066) return Fail(slot);
    settop(L, 0);
  }  // 35 itself

  // The auxiliary library: argument readers on 1 "abc", 2 4294967295,
  // 3 a table, 4 a function; 5 and above are missing.
  pushstr(L, "abc");
  pushnum(L, 4294967295.0);
  Slot<void (*)(S)>(29)(L);
  Slot<void (*)(S, vlNativeFn, int)>(25)(L, PushUps, 0);
  size_t len = 0;
  if (std::strcmp(Slot<const char* (*)(S, int, size_t*)>(45)(L, 1, &len), "abc") != 0 || len != 3) return Fail(45);
  if (std::strcmp(Slot<const char* (*)(S, int, const char*, size_t*)>(46)(L, 5, "dflt", &len), "dflt") != 0 || len != 4)
    return Fail(46);
  if (Slot<double (*)(S, int)>(47)(L, 2) != 4294967295.0) return Fail(47);
  if (Slot<double (*)(S, int, double)>(48)(L, 5, 2.5) != 2.5) return Fail(48);
  if (Slot<int32_t (*)(S, int)>(49)(L, 2) != -1) return Fail(49);
  if (Slot<int32_t (*)(S, int, int32_t)>(50)(L, 6, 9) != 9) return Fail(50);
  Slot<void (*)(S, int)>(51)(L, 3);
  Slot<void (*)(S, int)>(52)(L, 4);
  Slot<void (*)(S, int, int)>(53)(L, 2, 3);
  // References into the table at 3.
  pushstr(L, "kept");
  if (Slot<int (*)(S, int)>(54)(L, 3) != 3) return Fail(54);
  Slot<void (*)(S, int, int)>(55)(L, 3, 3);
  pushstr(L, "again");
  if (Slot<int (*)(S, int)>(54)(L, 3) != 3) return Fail(55);
  // Named metatables.
  if (Slot<int (*)(S, const char*)>(57)(L, "ProbeType") != 1) return Fail(57);
  const void* meta = Slot<const void* (*)(S, int)>(19)(L, -1);
  settop(L, 4);
  Slot<void (*)(S, const char*)>(58)(L, "ProbeType");
  if (Slot<const void* (*)(S, int)>(19)(L, -1) != meta) return Fail(58);
  void* data = Slot<void* (*)(S, size_t)>(41)(L, 8);
  Slot<void (*)(S, int)>(4)(L, -2);  // userdata below its metatable
  Slot<int (*)(S, int)>(42)(L, -2);
  if (Slot<void* (*)(S, int, const char*)>(59)(L, -1, "ProbeType") != data) return Fail(59);
  settop(L, 0);
  // The string builder.
  vlStrBuf b;
  Slot<void (*)(S, vlStrBuf*)>(60)(L, &b);
  Slot<void (*)(vlStrBuf*, const char*)>(63)(&b, "ab");
  Slot<void (*)(vlStrBuf*, const char*, size_t)>(62)(&b, "cdX", 2);
  pushstr(L, "ef");
  Slot<void (*)(vlStrBuf*)>(64)(&b);
  char* room = Slot<char* (*)(vlStrBuf*)>(61)(&b);
  *room = 'g';
  b.p = room + 1;
  Slot<void (*)(vlStrBuf*)>(65)(&b);
  if (top(L) != 1 || std::strcmp(str(L, 1), "abcdefg") != 0) return Fail(65);
  const char* const names[] = {"one", "two", nullptr};
  if (Slot<int (*)(const char*, const char* const*)>(66)("two", names) != 1) return Fail(66);
  settop(L, 0);

  for (int slot = 45; slot <= 66; slot++) {
    if (slot == 56) continue;
    if (!reinterpret_cast<void* const*>(gVM)[slot]) empty++;
  }
  int called = 0;
  for (bool c : gCalled) called += c;
  pushnum(L, called);
  pushnum(L, empty);
  return 2;
}
