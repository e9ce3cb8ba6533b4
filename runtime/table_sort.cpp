// The in-place sort of a script list, shared by the Sort command and the
// engine's own sorted listings, and the protected call of script
// callbacks. Depends on the VM's stack interface and the callback nesting
// counter of the run-time options.
#include "runtime/table_sort.h"

#include "runtime/runtime_options.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

// Calls the function below the nargs top values as a system callback,
// keeping one result; 0 or the error it ended with.
int CallSystemCallback(vlVMState* L, int nargs) {
  SetRuntimeOption(L, VL_OPT_CALLBACK_NESTING, 1, 0);
  int status = vl::CallProtected(L, nargs, 1, 0);
  SetRuntimeOption(L, VL_OPT_CALLBACK_NESTING, 0, 0);
  return status;
}

namespace {

// The in-place quicksort over t[lo..hi]. The pivot waits in slot pivot;
// the order function (when given) is at slot order.
struct vlSorter {
  vlVMState* L;
  int t;
  int pivot;
  int order;
  int error = 0;

  // Whether the values in the two slots are in order (a before b).
  bool Less(int a, int b) {
    if (!order) return vl::ValueLessThan(L, a, b, 0) != 0;
    vl::PushSlotCopy(L, order);
    vl::PushSlotCopy(L, a < 0 ? a - 1 : a);
    vl::PushSlotCopy(L, b < 0 ? b - 2 : b);
    int status = CallSystemCallback(L, 2);
    if (status) {
      error = status;
      return false;
    }
    int code = 0;
    double n = vl::GetCallbackNumber(L, -1, &code);
    vl::SetStackTop(L, -2);
    if (code) error = code;
    return !code && n != 0;
  }
  bool LessAt(int i, int j) {
    vl::RawGetTableIndex(L, t, i);
    vl::RawGetTableIndex(L, t, j);
    bool r = Less(-2, -1);
    vl::SetStackTop(L, -3);
    return r;
  }
  void Swap(int i, int j) {
    vl::RawGetTableIndex(L, t, i);
    vl::RawGetTableIndex(L, t, j);
    vl::RawSetTableIndex(L, t, i);
    vl::RawSetTableIndex(L, t, j);
  }

  void Sort(int lo, int hi) {
    while (lo < hi && !error) {
      if (LessAt(hi, lo)) Swap(lo, hi);
      if (error || hi - lo == 1) return;
      int mid = lo + (hi - lo) / 2;
      if (LessAt(mid, lo)) Swap(mid, lo);
      else if (!error && LessAt(hi, mid)) Swap(mid, hi);
      if (error || hi - lo == 2) return;
      // Median of three as pivot, parked next to the last element.
      vl::RawGetTableIndex(L, t, mid);
      vl::ReplaceSlotWithTop(L, pivot);
      Swap(mid, hi - 1);
      int i = lo, j = hi - 1;
      for (;;) {
        // With a consistent order neither scan can pass the pivot slot or
        // the first element; one that does means the order is broken.
        for (;;) {
          vl::RawGetTableIndex(L, t, ++i);
          bool more = Less(-1, pivot);
          vl::SetStackTop(L, -2);
          if (error) return;
          if (!more) break;
          if (i >= hi - 1) {
            error = ERR_SORTFUNC;
            return;
          }
        }
        for (;;) {
          vl::RawGetTableIndex(L, t, --j);
          bool more = Less(pivot, -1);
          vl::SetStackTop(L, -2);
          if (error) return;
          if (!more) break;
          if (j <= lo) {
            error = ERR_SORTFUNC;
            return;
          }
        }
        if (j < i) break;
        Swap(i, j);
      }
      Swap(hi - 1, i);
      // Recurse into the smaller part, loop over the larger one.
      if (i - lo < hi - i) {
        Sort(lo, i - 1);
        lo = i + 1;
      } else {
        Sort(i + 1, hi);
        hi = i - 1;
      }
    }
  }
};

}  // namespace

int QuickSortTable(vlVMState* L, int table, int order, int first, int last) {
  if (table < 0 && table > vl::kRegistryIndex) table = vl::GetStackTop(L) + table + 1;
  if (!vl::EnsureStackSpace(L, 40)) return ERR_STACK;
  vl::PushNil(L);  // the pivot slot
  vlSorter sorter{L, table, vl::GetStackTop(L), order};
  sorter.Sort(first, last);
  vl::SetStackTop(L, -2);
  return sorter.error;
}
