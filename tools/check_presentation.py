#!/usr/bin/env python3
"""Checks that pictures reach the window through one owner.

The [presentation] section of the floors file names the one file that
decides when drawing reaches the window ("owner FILE"), the folders that
provide the transport it drives ("transport FOLDER ..."), and the
transport's routines ("calls NAME ..."): the batch of puts, its flush and
the sender run before a blocking wait. Any other product file (one of the
floor folders) that calls one of those routines is refused: it would send,
hold or flush on its own, past the order the owner keeps.

The drawing target is set by the display code alone: "target FILE ..."
names the files that may write it, "sets NAME ..." the global (refused where
assigned) and its setters (refused where called) anywhere else. Engines that
draw for another display take it as an argument.

  check_presentation.py [--root DIR] [--floors FILE]
"""
import argparse
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from check_layers import Floors, SOURCE_EXT, section_lines  # noqa: E402
from check_hooks import strip  # noqa: E402


def read_section(path):
    owner, transport, calls, target, sets = None, set(), [], set(), []
    for number, line in section_lines(path, 'presentation'):
        key, *words = line.split()
        if key == 'owner' and len(words) == 1:
            owner = words[0]
        elif key == 'transport':
            transport.update(words)
        elif key == 'calls':
            calls.extend(words)
        elif key == 'target':
            target.update(words)
        elif key == 'sets':
            sets.extend(words)
        else:
            raise SystemExit('%s:%d: expected "owner FILE", "transport FOLDER ...", "calls NAME ...", '
                             '"target FILE ..." or "sets NAME ..."' % (path, number))
    if not owner or not calls:
        raise SystemExit('%s: [presentation] needs an owner and its calls' % path)
    if bool(target) != bool(sets):
        raise SystemExit('%s: [presentation] names the target files and what they set together' % path)
    return owner, transport, calls, target, sets


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--root', default=os.path.dirname(HERE))
    ap.add_argument('--floors', default=os.path.join(HERE, 'floors.txt'))
    args = ap.parse_args()
    floors = Floors(args.floors)
    owner, transport, calls, target, sets = read_section(args.floors)
    for path in [owner] + sorted(target):
        if not os.path.isfile(os.path.join(args.root, path)):
            raise SystemExit('%s: %s is not there' % (args.floors, path))
    call = re.compile(r'\b(%s)\s*\(' % '|'.join(map(re.escape, calls)))
    # An assignment (not a comparison) or a call; declarations sit in the
    # target files' own headers.
    setter = re.compile(r'\b(%s)\s*(?:=(?!=)|\()' % '|'.join(map(re.escape, sets))) if sets else None
    target_files = target | {os.path.splitext(t)[0] + '.h' for t in target}
    faults = 0
    for folder in sorted(floors.rank):
        for base, dirs, files in os.walk(os.path.join(args.root, folder)):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SOURCE_EXT):
                    continue
                full = os.path.join(base, name)
                rel = os.path.relpath(full, args.root).replace(os.sep, '/')
                owns = rel == owner or rel == os.path.splitext(owner)[0] + '.h'
                if (owns or folder in transport) and (not setter or rel in target_files):
                    continue
                with open(full, encoding='utf-8') as f:
                    text = strip(f.read())
                for number, line in enumerate(text.split('\n'), 1):
                    if not owns and folder not in transport:
                        for m in call.finditer(line):
                            print('%s:%d: calls %s, which only %s may call' % (rel, number, m.group(1), owner))
                            faults += 1
                    if setter and rel not in target_files:
                        for m in setter.finditer(line):
                            print('%s:%d: sets %s, which only the display code sets' % (rel, number, m.group(1)))
                            faults += 1
    if faults:
        print('%d presentation fault(s)' % faults)
        return 1
    print('pictures reach the window through %s only' % owner)
    return 0


if __name__ == '__main__':
    sys.exit(main())
