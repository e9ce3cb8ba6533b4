#!/usr/bin/env python3
"""The Python 3 programs equivalent to the interpreter benchmarks of
interp_bench.cpp; each returns its result like the script's global "r"."""


def numeric_loop():
    s = 0.0
    for i in range(1, 1000001):
        s += i
    return s


def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)


def fib27():
    return fib(27)


def table_array_fill_read():
    t = {}
    for i in range(0, 100000):
        t[i] = i
    s = 0
    for i in range(0, 100000):
        s += t[i]
    return s


def field_get_set():
    t = {"x": 0}
    for _ in range(1, 1000001):
        t["x"] = t["x"] + 1
    return t["x"]


def string_concat():
    r = None
    for i in range(1, 100001):
        r = "key" + str(i)
    return r


def add(a, b):
    return a + b


def script_calls():
    s = 0
    for i in range(1, 1000001):
        s = add(s, i)
    return s


def native_calls():
    s = 0
    for i in range(1, 1000001):
        s += abs(i)
    return s


class Acc:
    def __init__(self):
        self.n = 0

    def add(self, d):
        self.n = self.n + d

    def sub(self, d):
        self.n = self.n - d

    def get(self):
        return self.n


def method_calls():
    a = Acc()
    s = 0
    for i in range(1, 333335):
        a.add(i)
        a.sub(1)
        s += a.get()
    return s


def string_ops():
    n = 0
    for i in range(0, 100000):
        t = "alpha,beta,gamma," + str(i)
        n += len(t.split(","))
        n += t.find("gamma")
        u = t.replace("beta", "BETA").upper()
        n += len("%s:%d" % (u, i))
    return n


def records():
    recs = [{"x": i, "y": 0, "v": i % 7} for i in range(0, 1000)]
    for _ in range(1, 101):
        for j in range(0, 1000):
            r = recs[j]
            x = r["x"]
            r["y"] = r["y"] + x * r["v"]
            r["x"] = x + 1
    s = 0
    for j in range(0, 1000):
        s += recs[j]["y"]
    return s


def qsort(a, lo, hi):
    if lo < hi:
        p = a[(lo + hi) // 2]
        i, j = lo, hi
        while i <= j:
            while a[i] < p:
                i += 1
            while p < a[j]:
                j -= 1
            if i <= j:
                a[i], a[j] = a[j], a[i]
                i += 1
                j -= 1
        qsort(a, lo, j)
        qsort(a, i, hi)


def quicksort():
    x = 12345
    a = [0] * 100000
    for i in range(0, 100000):
        x = (x * 75 + 74) % 65537
        a[i] = x
    qsort(a, 0, 99999)
    return a[0]


PROGRAMS = {
    "BM_NumericLoop": numeric_loop,
    "BM_Fib27": fib27,
    "BM_TableArrayFillRead": table_array_fill_read,
    "BM_FieldGetSet": field_get_set,
    "BM_StringConcat": string_concat,
    "BM_ScriptCalls": script_calls,
    "BM_NativeCalls": native_calls,
    "BM_MethodCalls": method_calls,
    "BM_StringOps": string_ops,
    "BM_Records": records,
    "BM_Quicksort": quicksort,
}
