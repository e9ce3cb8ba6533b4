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


PROGRAMS = {
    "BM_NumericLoop": numeric_loop,
    "BM_Fib27": fib27,
    "BM_TableArrayFillRead": table_array_fill_read,
    "BM_FieldGetSet": field_get_set,
    "BM_StringConcat": string_concat,
    "BM_ScriptCalls": script_calls,
    "BM_NativeCalls": native_calls,
}
