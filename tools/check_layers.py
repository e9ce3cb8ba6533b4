#!/usr/bin/env python3
"""Checks that the source folders keep their floors.

Reads every quoted include ("folder/file.h") of the source folders named in
the floors file and fails on an include that points to a higher floor (or,
on one floor, to a higher level of its [order] section), or
on includes that close a circle between folders (or between the sub-floors
of one folder). Lines of the allow-list pass; an allow-list line that
matches nothing fails, so the list only shrinks.

  check_layers.py [--root DIR] [--floors FILE] [--allow FILE] [--graph]
"""
import argparse
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from unit_calls import sccs  # noqa: E402  (the strongly connected groups)
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCE_EXT = ('.h', '.hpp', '.c', '.cc', '.cpp', '.inc')
# Sections of the floors file that tools/check_hooks.py and
# tools/check_presentation.py read.
OTHER_SECTIONS = ('order', 'hooks', 'presentation')


def section_lines(path, name):
    """(line number, line) of one [name] section of the floors file,
    comments and blank lines left out."""
    section = None
    with open(path, encoding='utf-8') as f:
        for number, raw in enumerate(f, 1):
            line = raw.split('#', 1)[0].strip()
            if line.startswith('[') and line.endswith(']'):
                section = line[1:-1].strip()
            elif line and section == name:
                yield number, line


class Floors:
    """The floors file: folder ranks, and sub-floors inside some folders."""

    def __init__(self, path):
        self.rank = {}          # folder -> floor number
        self.level = {}         # folder -> level among the folders of its floor ([order])
        self.subfloors = {}     # folder -> [(name, [prefixes])], bottom first
        section = None
        with open(path, encoding='utf-8') as f:
            for number, raw in enumerate(f, 1):
                line = raw.split('#', 1)[0].strip()
                if not line:
                    continue
                where = '%s:%d' % (path, number)
                if line.startswith('[') and line.endswith(']'):
                    section = line[1:-1].strip()
                    if section in OTHER_SECTIONS:
                        continue
                    if section != 'floors':
                        if section in self.subfloors:
                            raise SystemExit('%s: [%s] given twice' % (where, section))
                        self.subfloors[section] = []
                    continue
                if section == 'order':
                    level = len(set(self.level.values()))
                    for folder in line.split():
                        self.level[folder] = level
                    continue
                if section in OTHER_SECTIONS:
                    continue  # read by the hook check
                if section == 'floors':
                    floor = len(set(self.rank.values()))
                    for folder in line.split():
                        if folder in self.rank:
                            raise SystemExit('%s: %s on two floors' % (where, folder))
                        self.rank[folder] = floor
                elif section is not None:
                    name, sep, prefixes = line.partition(':')
                    if not sep or not prefixes.split():
                        raise SystemExit('%s: expected "name: prefix ..."' % where)
                    self.subfloors[section].append((name.strip(), prefixes.split()))
                else:
                    raise SystemExit('%s: line outside a section' % where)
        for folder in self.subfloors:
            if folder not in self.rank:
                raise SystemExit('%s: sub-floors of [%s], which is no floor' % (path, folder))

    def unit(self, path):
        """The unit a source path belongs to: its folder, or folder:sub-floor."""
        folder = path.split('/', 1)[0]
        subs = self.subfloors.get(folder)
        if not subs:
            return folder
        stem = os.path.splitext(path)[0]
        best, best_len, rest = None, -1, None
        for name, prefixes in subs:
            for prefix in prefixes:
                if prefix == '*':
                    rest = name
                elif (stem == prefix or (prefix.endswith('/') and path.startswith(prefix))) \
                        and len(prefix) > best_len:
                    best, best_len = name, len(prefix)
        name = best or rest
        return folder if name is None else folder + ':' + name

    def order(self, unit):
        """(floor of the folder, sub-floor inside it) of a unit."""
        folder, _, name = unit.partition(':')
        sub = 0
        if name:
            sub = [n for n, _ in self.subfloors[folder]].index(name)
        return self.rank[folder], sub

    def placed(self, unit):
        """(floor, level on the floor, sub-floor) of a unit: the [order]
        levels rank the folders of one floor, bottom first."""
        folder = unit.partition(':')[0]
        floor, sub = self.order(unit)
        return floor, self.level.get(folder, 0), sub


def read_allow(path):
    allowed = {}
    if not path or not os.path.exists(path):
        return allowed
    with open(path, encoding='utf-8') as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith('#'):
                continue
            entry, _, reason = line.partition('#')
            source, arrow, target = entry.partition('->')
            if not arrow or not reason.strip():
                raise SystemExit('%s:%d: expected "file -> include  # reason"' % (path, number))
            allowed[(source.strip(), target.strip())] = '%s:%d' % (path, number)
    return allowed


def scan(root, floors):
    """Every quoted include of the source folders: (file, line, target)."""
    found = []
    for folder in sorted(floors.rank):
        top = os.path.join(root, folder)
        for base, dirs, files in os.walk(top):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SOURCE_EXT):
                    continue
                full = os.path.join(base, name)
                rel = os.path.relpath(full, root).replace(os.sep, '/')
                with open(full, encoding='utf-8', errors='replace') as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        # A bare name or ../ path is relative to the including file.
                        beside = os.path.normpath(os.path.join(os.path.dirname(rel), target))
                        if ('/' not in target or target.startswith('.')) \
                                and os.path.exists(os.path.join(root, beside)):
                            target = beside.replace(os.sep, '/')
                        if target.split('/', 1)[0] in floors.rank:
                            found.append((rel, number, target))
    return found


def circles(edges):
    """Groups of more than one unit that include each other round."""
    nodes = sorted(set(edges) | {t for ts in edges.values() for t in ts})
    return [group for group in sccs(nodes, edges) if len(group) > 1]


def check(root, floors_path, allow_path, show_graph=False, out=sys.stdout):
    floors = Floors(floors_path)
    allowed = read_allow(allow_path)
    used = set()
    faults = []
    graph = {}
    lateral = {}
    witness = {}
    for source, number, target in scan(root, floors):
        a, b = floors.unit(source), floors.unit(target)
        if a.partition(':')[0] != b.partition(':')[0]:
            # Sub-floors order the files of their own folder; between
            # folders only the folders' floors count.
            a, b = a.partition(':')[0], b.partition(':')[0]
        if a == b:
            continue
        if (source, target) in allowed:
            used.add((source, target))
            continue
        graph.setdefault(a, set()).add(b)
        if floors.placed(b) > floors.placed(a):
            faults.append('%s:%d: "%s" is on a higher floor (%s above %s)'
                          % (source, number, target, b, a))
        elif floors.placed(b) == floors.placed(a):
            # Only includes within one floor can close a circle that no
            # upward include (reported above) is part of.
            lateral.setdefault(a, set()).add(b)
            witness.setdefault((a, b), '%s:%d includes "%s"' % (source, number, target))
    for group in circles(lateral):
        links = ['  ' + witness[(a, b)] for a in group for b in sorted(lateral.get(a, ()))
                 if b in group]
        faults.append('circle between %s:\n%s' % (', '.join(group), '\n'.join(links)))
    for key, where in sorted(allowed.items(), key=lambda kv: kv[1]):
        if key not in used:
            faults.append('%s: allowed include "%s -> %s" is not there any more; drop the line'
                          % (where, key[0], key[1]))
    if show_graph:
        for a in sorted(graph):
            out.write('%s -> %s\n' % (a, ' '.join(sorted(graph[a]))))
    for fault in faults:
        out.write(fault + '\n')
    if faults:
        out.write('%d layering fault(s)\n' % len(faults))
    return 1 if faults else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--root', default=os.path.dirname(HERE))
    parser.add_argument('--floors', default=os.path.join(HERE, 'floors.txt'))
    parser.add_argument('--allow', default=os.path.join(HERE, 'floors_allow.txt'))
    parser.add_argument('--graph', action='store_true', help='print the folder graph')
    args = parser.parse_args()
    return check(args.root, args.floors, args.allow, args.graph)


if __name__ == '__main__':
    sys.exit(main())
