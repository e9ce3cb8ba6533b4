// Stop-the-world mark and sweep over the object lists of the global state:
// roots, weak tables, userdata finalisers, stack and string-table shrinking
// and the threshold. Depends on the state, table, string, memory and call
// routines.
#include "vm/gc.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "vm/call.h"
#include "vm/func.h"
#include "vm/memory.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace vl {
namespace {

constexpr uint8_t kWeakBits = VL_GC_WEAKKEYS | VL_GC_WEAKVALUES;
constexpr uint64_t kNever = UINT64_MAX;
// Bytes charged as dead for a userdata separated for finalisation.
constexpr uint64_t kUserdataOverhead = 16;

enum WeakKind { kWeakKeys, kWeakValues, kWeakBoth };

vlGCObject** GrayLink(vlGCObject* o) {
  switch (o->tag) {
    case VL_TTABLE: return &reinterpret_cast<vlTable*>(o)->gclist;
    case VL_TFUNCTION: return &reinterpret_cast<vlClosure*>(o)->h.gclist;
    case VL_TPROTO: return &reinterpret_cast<vlFuncProto*>(o)->gclist;
    case VL_TTHREAD: return &reinterpret_cast<vlVMState*>(o)->gclist;
    default: return nullptr;
  }
}

vlTable* AsTable(vlGCObject* o) { return reinterpret_cast<vlTable*>(o); }

// An object the collector will free: collectable, not a string (strings in
// weak tables count as reached) and not flagged.
bool IsCleared(const vlValue* v) {
  if (!IsCollectable(v) || v->tag == VL_TSTRING) return false;
  return !(v->v.gc->gcFlags & (VL_GC_REACHED | VL_GC_FIXED));
}

struct Marker {
  vlVMState* L;
  vlGCObject* gray = nullptr;
  vlGCObject* weak[3] = {nullptr, nullptr, nullptr};

  void Mark(vlGCObject* o) {
    if (!o || (o->gcFlags & VL_GC_REACHED)) return;
    o->gcFlags |= VL_GC_REACHED;
    switch (o->tag) {
      case VL_TSTRING: return;
      case VL_TUSERDATA: {
        vlTable* mt = reinterpret_cast<vlUserdata*>(o)->metatable;
        if (mt) Mark(ToGC(mt));
        return;
      }
      case VL_TUPVALUE: MarkValue(reinterpret_cast<vlUpvalue*>(o)->v); return;
      default: {
        vlGCObject** link = GrayLink(o);
        if (!link) return;
        *link = gray;
        gray = o;
      }
    }
  }
  void MarkValue(const vlValue* v) {
    if (IsCollectable(v)) Mark(v->v.gc);
  }

  void TraverseTable(vlTable* h) {
    bool weakKeys = false, weakValues = false;
    h->gch.gcFlags &= static_cast<uint8_t>(~kWeakBits);
    if (h->metatable) {
      Mark(ToGC(h->metatable));
      const vlValue* mode = FastMetamethod(L, h->metatable, VL_TM_MODE);
      if (mode->tag == VL_TSTRING) {
        const vlString* s = ToString(mode);
        weakKeys = std::memchr(StringData(s), 'k', s->len) != nullptr;
        weakValues = std::memchr(StringData(s), 'v', s->len) != nullptr;
      }
    }
    if (weakKeys || weakValues) {
      if (weakKeys) h->gch.gcFlags |= VL_GC_WEAKKEYS;
      if (weakValues) h->gch.gcFlags |= VL_GC_WEAKVALUES;
      int kind = weakKeys && weakValues ? kWeakBoth : (weakKeys ? kWeakKeys : kWeakValues);
      h->gclist = weak[kind];
      weak[kind] = ToGC(h);
    }
    // Strings stay even in weak parts: they are values, not references.
    for (int i = 0; i < h->sizearray; i++) {
      const vlValue* v = &h->array[i];
      if (!weakValues || v->tag == VL_TSTRING) MarkValue(v);
    }
    if (TableUsesSharedNode(L, h)) return;
    int n = TableNodeCount(h);
    for (int i = 0; i < n; i++) {
      vlTableNode* nd = &h->node[i];
      if (!weakKeys || nd->key.tag == VL_TSTRING) MarkValue(&nd->key);
      if (!weakValues || nd->val.tag == VL_TSTRING) MarkValue(&nd->val);
    }
  }

  void TraverseClosure(vlClosure* c) {
    if (c->h.isNative) {
      for (int i = 0; i < c->h.nupvalues; i++) MarkValue(&c->n.upvalue[i]);
      return;
    }
    if (c->s.proto) Mark(ToGC(c->s.proto));
    MarkValue(&c->s.globals);
    for (int i = 0; i < c->h.nupvalues; i++)
      if (c->s.upvals[i]) Mark(ToGC(c->s.upvals[i]));
  }

  void TraverseProto(vlFuncProto* f) {
    if (f->source) Mark(ToGC(f->source));
    for (int i = 0; i < f->sizek && f->k; i++) MarkValue(&f->k[i]);
    for (int i = 0; i < f->sizeupvalues && f->upvalues; i++)
      if (f->upvalues[i]) Mark(ToGC(f->upvalues[i]));
    for (int i = 0; i < f->sizelocvars && f->locvars; i++)
      if (f->locvars[i].name) Mark(ToGC(f->locvars[i].name));
    for (int i = 0; i < f->sizep && f->p; i++)
      if (f->p[i]) Mark(ToGC(f->p[i]));
  }

  void TraverseThread(vlVMState* th) {
    MarkValue(&th->globals);
    for (vlValue* v = th->stack; v < th->top; v++) MarkValue(v);
    // Slots above the top that a frame may still count as its own hold
    // stale values; clear them so they keep nothing alive.
    vlValue* highest = th->top;
    for (vlCallInfo* ci = th->baseCi; ci <= th->ci; ci++)
      if (ci->top > highest) highest = ci->top;
    vlValue* end = th->stack + th->stacksize;
    if (highest > end) highest = end;
    for (vlValue* v = th->top; v < highest; v++) SetNil(v);
  }

  void Propagate() {
    while (vlGCObject* o = gray) {
      gray = *GrayLink(o);
      switch (o->tag) {
        case VL_TTABLE: TraverseTable(AsTable(o)); break;
        case VL_TFUNCTION: TraverseClosure(reinterpret_cast<vlClosure*>(o)); break;
        case VL_TPROTO: TraverseProto(reinterpret_cast<vlFuncProto*>(o)); break;
        case VL_TTHREAD: TraverseThread(reinterpret_cast<vlVMState*>(o)); break;
        default: break;
      }
    }
  }
};

// Drops entries of the weak tables from list up to (not including) stop.
// An entry whose weak side is about to be freed loses its value; a
// collectable key becomes a dead key so the node stays in its chain.
void ClearWeak(vlGCObject* list, vlGCObject* stop, bool keys, bool values) {
  for (vlGCObject* o = list; o && o != stop; o = AsTable(o)->gclist) {
    vlTable* h = AsTable(o);
    if (values) {
      for (int i = 0; i < h->sizearray; i++)
        if (IsCleared(&h->array[i])) SetNil(&h->array[i]);
    }
    int n = TableNodeCount(h);
    for (int i = 0; i < n; i++) {
      vlTableNode* nd = &h->node[i];
      if ((keys && IsCleared(&nd->key)) || (values && IsCleared(&nd->val))) {
        SetNil(&nd->val);
        if (IsCollectable(&nd->key)) nd->key.tag = VL_TDEADKEY;
      }
    }
  }
}

// Moves every unreached userdata that has a __gc to the front of the
// finaliser list (keeping their order); the others lose their finaliser
// flag and are swept. Returns the bytes they hold.
uint64_t SeparateUserdata(vlVMState* L, bool all) {
  vlVMGlobal* g = L->g;
  uint64_t dead = 0;
  vlGCObject* head = nullptr;
  vlGCObject** tail = &head;
  vlGCObject** p = &g->rootudata;
  while (vlGCObject* o = *p) {
    auto* u = reinterpret_cast<vlUserdata*>(o);
    if ((!all && (o->gcFlags & VL_GC_REACHED)) || !(o->gcFlags & VL_GC_FINALIZE)) {
      p = &o->next;
      continue;
    }
    if (FastMetamethod(L, u->metatable, VL_TM_GC)->tag == VL_TNIL) {
      o->gcFlags &= static_cast<uint8_t>(~VL_GC_FINALIZE);
      p = &o->next;
      continue;
    }
    *p = o->next;
    *tail = o;
    tail = &o->next;
    dead += u->len + kUserdataOverhead;
  }
  *tail = g->tmudata;
  g->tmudata = head;
  return dead;
}

// Frees every object of a list that is neither reached nor fixed and clears
// the reached mark (and the weak marks of tables) on the rest.
int SweepList(vlVMState* L, vlGCObject** p) {
  int freed = 0;
  while (vlGCObject* o = *p) {
    if (o->gcFlags & (VL_GC_REACHED | VL_GC_FIXED)) {
      o->gcFlags &= static_cast<uint8_t>(~VL_GC_REACHED);
      if (o->tag == VL_TTABLE) o->gcFlags &= static_cast<uint8_t>(~kWeakBits);
      p = &o->next;
    } else {
      *p = o->next;
      FreeObject(L, o);
      freed++;
    }
  }
  return freed;
}

// The pool's free list heads and the freed byte count of a string sweep,
// kept in locals until it ends: the stores into freed blocks then make the
// compiler reload nothing. Checked builds free each string the usual way.
struct StringFreeLists {
#ifndef VL_POOL_CHECKED
  void* heads[kPoolClasses];
#endif
};

inline void FreeDeadString(vlVMState* L, vlString* s, StringFreeLists& lists, uint64_t& bytes) {
#ifndef VL_POOL_CHECKED
  size_t size = StringRecordSize(s->len);
  size_t c = FreeListIndex(size);
  if (c < kPoolClasses) {
    *reinterpret_cast<void**>(s) = lists.heads[c];
    lists.heads[c] = s;
    bytes += size;
    return;
  }
  VmRealloc(L, s, size, 0);  // not pooled: the heads stay as they are
#else
  (void)lists;
  (void)bytes;
  FreeString(L, s);
#endif
}

// A string the sweep keeps: unmarked, and its bit set in its bucket's tag.
inline void KeepString(vlGCObject* o, uint8_t* tags, uint32_t mask) {
  o->gcFlags &= static_cast<uint8_t>(~VL_GC_REACHED);
  uint32_t h = reinterpret_cast<vlString*>(o)->hash;
  tags[h & mask] |= StringTagBit(h);
}

// The string chains hold only strings: free them without the dispatch by
// tag. About half the buckets are empty and most chains are one string
// long, so which bucket or link holds a string is unpredictable; instead of
// branching on it, the links that point at a string are gathered into a
// work list, a batch of buckets at a time. Each pass over the list gathers
// the links that follow into the other list (never more than it had), until
// every chain of the batch has ended.
void SweepStrings(vlVMState* L) {
  vlStringTable* tb = &L->g->strt;
  vlGCObject** bucket = tb->hash;
  vlGCObject** end = bucket + tb->capacity;
  constexpr int kBatch = 256;
  vlGCObject** work[2][kBatch];
  // The tags are set again from the strings that stay.
  uint8_t* tags = tb->tags;
  uint32_t mask = static_cast<uint32_t>(tb->capacity - 1);
  std::memset(tags, 0, static_cast<size_t>(tb->capacity));
  StringFreeLists lists;
#ifndef VL_POOL_CHECKED
  std::memcpy(lists.heads, L->g->pool.freeList, sizeof lists.heads);
#endif
  uint64_t bytes = 0;
  int kept = 0;
  while (bucket < end) {
    int batch = end - bucket < kBatch ? static_cast<int>(end - bucket) : kBatch;
    vlGCObject*** from = work[0];
    int n = 0;
    int i = 0;
    // Four buckets a round: the gathering is most of the sweep's work when
    // few strings live.
    for (; i + 4 <= batch; i += 4) {
      from[n] = bucket + i;
      n += bucket[i] != nullptr;
      from[n] = bucket + i + 1;
      n += bucket[i + 1] != nullptr;
      from[n] = bucket + i + 2;
      n += bucket[i + 2] != nullptr;
      from[n] = bucket + i + 3;
      n += bucket[i + 3] != nullptr;
    }
    for (; i < batch; i++) {
      from[n] = bucket + i;
      n += bucket[i] != nullptr;
    }
    bucket += batch;
    while (n > 0) {
      vlGCObject*** to = from == work[0] ? work[1] : work[0];
      int m = 0;
      for (int k = 0; k < n; k++) {
        vlGCObject** p = from[k];
        vlGCObject* o = *p;
        if (o->gcFlags & (VL_GC_REACHED | VL_GC_FIXED)) {
          KeepString(o, tags, mask);
          kept++;
          p = &o->next;
        } else {
          *p = o->next;
          FreeDeadString(L, reinterpret_cast<vlString*>(o), lists, bytes);
        }
        to[m] = p;
        m += *p != nullptr;
      }
      from = to;
      n = m;
    }
  }
  vlVMGlobal* g = L->g;
#ifndef VL_POOL_CHECKED
  std::memcpy(g->pool.freeList, lists.heads, sizeof lists.heads);
#endif
  g->nblocks -= bytes;
  tb->nuse = kept;  // every string of the table was visited
}

void Sweep(vlVMState* L) {
  vlVMGlobal* g = L->g;
  SweepList(L, &g->rootgc);
  SweepStrings(L);
  SweepList(L, &g->rootudata);
  // Objects outside the swept lists that marking may have flagged.
  for (vlGCObject* o = L->openupval; o; o = o->next) o->gcFlags &= static_cast<uint8_t>(~VL_GC_REACHED);
  for (vlGCObject* o = g->tmudata; o; o = o->next) o->gcFlags &= static_cast<uint8_t>(~VL_GC_REACHED);
  g->mainthread->gch.gcFlags &= static_cast<uint8_t>(~VL_GC_REACHED);
  L->gch.gcFlags &= static_cast<uint8_t>(~VL_GC_REACHED);
}

// After a deep recursion the call records and the stack stay large; give
// back what a quarter of them no longer needs, in one go. Runs after the
// sweep, so a failure here leaves no marks behind.
void ShrinkThread(vlVMState* th) {
  vlValue* highest = th->top;
  for (vlCallInfo* ci = th->baseCi; ci <= th->ci; ci++)
    if (ci->top > highest) highest = ci->top;
  int slotsInUse = static_cast<int>(highest - th->stack);
  int ciInUse = static_cast<int>(th->ci - th->baseCi) + 1;
  int ciSize = th->sizeCi;
  while (ciSize > 16 && ciInUse < ciSize / 4) ciSize /= 2;
  if (ciSize != th->sizeCi) ReallocCallInfo(th, ciSize);
  int size = th->stacksize;
  while (size >= 91 && slotsInUse < size / 4) size /= 2;
  if (size != th->stacksize) ReallocStack(th, size);
}

void ShrinkBuffers(vlVMState* L) {
  vlVMGlobal* g = L->g;
  ShrinkThread(g->mainthread);
  // The string table halves once per collection: a program that keeps
  // making short-lived strings would otherwise shrink it to nothing and
  // regrow it between every two collections.
  if (g->strt.size > 64 && g->strt.nuse < g->strt.size / 4) ResizeStringTable(L, g->strt.size / 2);
  if (g->buffsize > 64) {
    size_t half = g->buffsize / 2;
    g->buffer = ResizeVector(L, g->buffer, g->buffsize, half);
    g->buffsize = half;
  }
}

// Marks the collector busy (check points then do nothing) until the scope
// ends, also when an error unwinds through it.
struct BusyScope {
  vlVMGlobal* g;
  explicit BusyScope(vlVMGlobal* global) : g(global) { g->gcBusy++; }
  ~BusyScope() { g->gcBusy--; }
};

// Finalisers run with hooks disabled; the permission comes back even when
// one raises.
struct FinalizerScope {
  vlVMState* L;
  uint8_t allowHook;
  BusyScope busy;
  explicit FinalizerScope(vlVMState* s) : L(s), allowHook(s->allowHook), busy(s->g) { L->allowHook = 0; }
  ~FinalizerScope() { L->allowHook = allowHook; }
};

void RunFinalizers(vlVMState* L) {
  vlVMGlobal* g = L->g;
  if (!g->tmudata) return;
  FinalizerScope scope(L);
  while (vlGCObject* o = g->tmudata) {
    g->tmudata = o->next;
    o->next = g->rootudata;
    g->rootudata = o;
    o->gcFlags &= static_cast<uint8_t>(~(VL_GC_REACHED | VL_GC_FINALIZE));
    auto* u = reinterpret_cast<vlUserdata*>(o);
    if (FastMetamethod(L, u->metatable, VL_TM_GC)->tag == VL_TNIL) continue;
    CheckStack(L, 2);
    L->top[0] = *FastMetamethod(L, u->metatable, VL_TM_GC);
    SetUserdata(&L->top[1], u);
    L->top += 2;
    vmCallNested(L, L->top - 2, 0);
  }
}

void SeparateAll(vlVMState* L) { SeparateUserdata(L, true); }

bool StressFromEnvironment() {
  const char* s = std::getenv("VL_GC_STRESS");
  return s && s[0] == '1';
}

}  // namespace

void CollectGarbage(vlVMState* L) {
  vlVMGlobal* g = L->g;
  // A check point inside a finaliser or inside the collector itself waits
  // for the running pass to finish.
  if (g->gcBusy) return;
  uint64_t dead;
  {
    BusyScope busy(g);
    Marker m{L};
    m.Mark(ToGC(DefaultMetatable(L)));
    m.Mark(ToGC(Registry(L)));
    m.Mark(ToGC(g->mainthread));
    if (L != g->mainthread) m.Mark(ToGC(L));
    m.Propagate();
    ClearWeak(m.weak[kWeakValues], nullptr, false, true);
    ClearWeak(m.weak[kWeakBoth], nullptr, false, true);
    dead = SeparateUserdata(L, false);
    vlGCObject* before[3] = {m.weak[0], m.weak[1], m.weak[2]};
    for (vlGCObject* o = g->tmudata; o; o = o->next) m.Mark(o);
    m.Propagate();
    ClearWeak(m.weak[kWeakKeys], nullptr, true, false);
    ClearWeak(m.weak[kWeakValues], before[kWeakValues], false, true);
    ClearWeak(m.weak[kWeakBoth], nullptr, true, true);
    Sweep(L);
    ShrinkBuffers(L);
    g->GCthreshold = 2 * g->nblocks - dead;
    if (g->gcStress) g->GCthreshold = 0;
  }
  RunFinalizers(L);
}

void InstallCollector(vlVMState* L) {
  vlVMGlobal* g = L->g;
  g->collectGarbage = CollectGarbage;
  g->separateAllUserdata = SeparateAll;
  g->runPendingFinalizers = RunFinalizers;
  if (StressFromEnvironment()) SetGCStress(L, true);
}

void SetGCStress(vlVMState* L, bool on) {
  vlVMGlobal* g = L->g;
  g->gcStress = on ? 1 : 0;
  g->GCthreshold = on ? 0 : 2 * g->nblocks;
}

bool GetGCStress(vlVMState* L) { return L->g->gcStress != 0; }

int GetGCThresholdKB(vlVMState* L) {
  // "Never" is the largest 32-bit threshold, as SetGCThresholdKB takes it.
  if (L->g->GCthreshold == kNever) return static_cast<int>(UINT32_MAX >> 10);
  uint64_t kb = L->g->GCthreshold >> 10;
  return kb > INT_MAX ? INT_MAX : static_cast<int>(kb);
}

int GetGCCountKB(vlVMState* L) {
  uint64_t kb = L->g->nblocks >> 10;
  return kb > INT_MAX ? INT_MAX : static_cast<int>(kb);
}

void SetGCThresholdKB(vlVMState* L, int kilobytes) {
  vlVMGlobal* g = L->g;
  if (kilobytes < 0) kilobytes = 0;
  g->GCthreshold = kilobytes >= 4194304 ? kNever : static_cast<uint64_t>(kilobytes) << 10;
  if (g->GCthreshold <= g->nblocks) CollectGarbage(L);
}

}  // namespace vl
