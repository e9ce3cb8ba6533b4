// Sorting a script list in place, and calling script callbacks the way the
// system library's iterating commands do.
#pragma once

struct vlVMState;

// Calls the function below the nargs top values as a system callback,
// keeping one result; 0 or the error it ended with.
int CallSystemCallback(vlVMState* state, int nargs);

// Sorts t[first..last] of the table at index table in place: with the
// VM's less-than, or with the order function at stack slot order (0:
// none), which is called as a system callback. 0 or an error code (1135,
// the order function's error, or ERR_SORTFUNC for an order that is not
// consistent).
int QuickSortTable(vlVMState* state, int table, int order, int first, int last);
