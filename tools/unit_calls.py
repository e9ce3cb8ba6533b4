#!/usr/bin/env python3
"""Unit call graph of a static library's object files.

Reads the defined and undefined symbols of every object file under a folder
(nm), links each undefined symbol to the unit that defines it, and reports the
circles of units that call each other (strongly connected components).

    unit_calls.py OBJDIR [--root SRCDIR] [--edges] [--why A B]
                         [--floors FILE [--includes PREFIX]]

A unit is named by its source path relative to OBJDIR (layers/redraw.cpp).
With --floors, FILE lists one "floor prefix..." line per floor from the bottom
(e.g. "core ." and "layers layers/"; the longest matching prefix wins); the
script fails if a unit calls a unit on a higher floor, or if a circle holds
units of more than one floor, or any circle outside the floor named by
"circles-allowed FLOOR". With --includes PREFIX (the folder's name as
includes spell it, e.g. "display/") and --root, it also fails when a source
or header under SRCDIR includes one of the folder's headers on a higher
floor. Exit status 0 when clean, 1 otherwise.
"""
import argparse, os, re, subprocess, sys
from collections import defaultdict

DEFINED = set("TDBRGSC")  # text, data, bss, read-only, small data, common


def units(objdir):
    out = []
    for dirpath, _, names in os.walk(objdir):
        for n in names:
            if n.endswith(".o"):
                out.append(os.path.join(dirpath, n))
    return sorted(out)


def unit_name(objdir, path):
    rel = os.path.relpath(path, objdir)
    return rel[:-2] if rel.endswith(".o") else rel


def nm_lines(objs, which):
    """(object path, kind, symbol) of each symbol nm lists, all objects at once."""
    text = subprocess.run(["nm", "-A", which, *objs], capture_output=True, text=True, check=True).stdout
    for line in text.splitlines():
        path, _, rest = line.rpartition(".o:")
        parts = rest.split()
        if len(parts) >= 2:
            yield path + ".o", parts[-2], parts[-1]


def build_graph(objdir, root=None):
    objs = units(objdir)
    if root:  # objects of sources that moved or went stay in the build tree
        objs = [o for o in objs if os.path.exists(os.path.join(root, unit_name(objdir, o)))]
    defs = {}
    undefs = {unit_name(objdir, o): set() for o in objs}
    if not objs:
        return [], {}
    for path, kind, name in nm_lines(objs, "--defined-only"):
        # Weak and unique symbols (inline functions, templates) are copied
        # into every caller; local ones are no one else's.
        if kind in DEFINED:
            defs.setdefault(name, unit_name(objdir, path))
    for path, kind, name in nm_lines(objs, "--undefined-only"):
        undefs[unit_name(objdir, path)].add(name)
    edges = defaultdict(lambda: defaultdict(set))
    for u, undef in undefs.items():
        for s in undef:
            d = defs.get(s)
            if d and d != u:
                edges[u][d].add(s)
    return sorted(undefs), edges


def sccs(nodes, edges):
    index, low, on, stack, out = {}, {}, set(), [], []
    counter = [0]
    sys.setrecursionlimit(10000)

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in edges.get(v, {}):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on.discard(w)
                comp.append(w)
                if w == v:
                    break
            out.append(sorted(comp))

    for v in nodes:
        if v not in index:
            visit(v)
    return sorted(out, key=lambda c: (-len(c), c))


def demangle(names):
    text = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True,
                          text=True, check=True).stdout
    return text.splitlines()


def read_floors(path):
    floors, allowed = [], set()
    for line in open(path):
        line = line.split("#", 1)[0].split()
        if not line:
            continue
        if line[0] == "circles-allowed":
            allowed.update(line[1:])
        else:
            floors.append((line[0], [p if p != "." else "" for p in line[1:]]))
    return floors, allowed


def floor_of(floors, unit):
    best, best_len = None, -1
    for level, (name, prefixes) in enumerate(floors):
        for p in prefixes:
            if unit.startswith(p) and len(p) > best_len:
                best, best_len = (level, name), len(p)
    return best


INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def upward_includes(root, prefix, floors):
    """(file, floor, header, floor) for each include of a higher floor."""
    out = []
    for dirpath, _, names in os.walk(root):
        for n in sorted(names):
            if not n.endswith((".cpp", ".h")):
                continue
            path = os.path.join(dirpath, n)
            rel = os.path.relpath(path, root)
            here = floor_of(floors, rel)
            with open(path, encoding="latin-1") as f:
                text = f.read()
            for inc in INCLUDE.findall(text):
                if not inc.startswith(prefix):
                    continue
                there = floor_of(floors, inc[len(prefix):])
                if here and there and there[0] > here[0]:
                    out.append((rel, here[1], inc, there[1]))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("objdir")
    ap.add_argument("--root", help="source folder: units without a source there are left out")
    ap.add_argument("--edges", action="store_true", help="print every unit edge")
    ap.add_argument("--why", nargs=2, metavar=("FROM", "TO"),
                    help="print the symbols FROM takes from TO")
    ap.add_argument("--floors", help="floor table to check")
    ap.add_argument("--includes", metavar="PREFIX", help="with --floors and --root: check the includes too")
    a = ap.parse_args()

    nodes, edges = build_graph(a.objdir, a.root)
    if not nodes:
        print(f"no object files under {a.objdir}", file=sys.stderr)
        return 2
    if a.why:
        for s in demangle(sorted(edges[a.why[0]][a.why[1]])):
            print(s)
        return 0
    if a.edges:
        for u in nodes:
            for d in sorted(edges.get(u, {})):
                print(f"{u} -> {d}")

    comps = sccs(nodes, edges)
    circles = [c for c in comps if len(c) > 1]
    largest = max((len(c) for c in circles), default=1)
    print(f"units: {len(nodes)}  circles: {len(circles)}  largest circle: {largest}")
    for c in circles:
        print(f"  circle of {len(c)}: {' '.join(c)}")
    sys.stdout.flush()

    if not a.floors:
        return 0
    floors, allowed = read_floors(a.floors)
    bad = 0
    where = {}
    for u in nodes:
        f = floor_of(floors, u)
        if f is None:
            print(f"error: {u} sits on no floor", file=sys.stderr)
            bad += 1
        where[u] = f
    for u in nodes:
        for d, syms in sorted(edges.get(u, {}).items()):
            if where[u] and where[d] and where[d][0] > where[u][0]:
                bad += 1
                print(f"error: {u} ({where[u][1]}) calls up into {d} ({where[d][1]}): "
                      f"{', '.join(demangle(sorted(syms))[:3])}", file=sys.stderr)
    if a.includes and a.root:
        for rel, here, inc, there in upward_includes(a.root, a.includes, floors):
            bad += 1
            print(f"error: {rel} ({here}) includes {inc} ({there})", file=sys.stderr)
    for c in circles:
        names = {where[u][1] for u in c if where[u]}
        if len(names) > 1 or not names <= allowed:
            bad += 1
            print(f"error: circle outside an allowed floor: {' '.join(c)}", file=sys.stderr)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
