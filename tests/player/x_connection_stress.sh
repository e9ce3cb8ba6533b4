#!/bin/sh
# Starts many players back to back, a few at once, on one Xvfb while the
# machine is kept busy, and counts the runs that did not get their X
# connections. Half of the players only open their display and print; the
# other half also show a message box (the toolkit's own connection), which
# a watcher here closes.
#
# The server runs as users start it, without -noreset: whenever its last
# client leaves it resets, and drops the connections that arrive meanwhile.
#
#   x_connection_stress.sh [-n PLAYERS] [-j AT_ONCE] [-l BUSY_LOOPS] [-p PLAYER] BUILD_DIR
#
# PLAYERS (default 400) in all, AT_ONCE (default 4) at a time, BUSY_LOOPS
# (default: the number of processors) shell loops that keep the processors
# busy meanwhile. PLAYER is the program to try (default: the built one);
# STRESS_PLAYER_ARGS in the environment are passed to every player (say
# "-debugdevice console" to have errors printed instead of shown).
# Prints one line per failed run and a summary; exits 1 when a run failed,
# 77 when Xvfb or xdotool is missing.
set -u

players=400
at_once=4
busy=$(nproc 2>/dev/null || echo 4)
program=
extra="${STRESS_PLAYER_ARGS:-}"
while getopts n:j:l:p: option; do
  case $option in
    n) players=$OPTARG ;;
    j) at_once=$OPTARG ;;
    l) busy=$OPTARG ;;
    p) program=$OPTARG ;;
    *) echo "usage: $0 [-n PLAYERS] [-j AT_ONCE] [-l BUSY_LOOPS] [-p PLAYER] BUILD_DIR" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || { echo "usage: $0 [-n PLAYERS] [-j AT_ONCE] [-l BUSY_LOOPS] [-p PLAYER] BUILD_DIR" >&2; exit 2; }
build=$1
[ -n "$program" ] || program=$build/app/vellamora-player
vlasm=$build/tools/chunkasm/vlasm
mkapplet=$build/tools/mkapplet/mkapplet
for tool in Xvfb xdotool; do
  command -v $tool >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/xstress.XXXXXX")
server=
watcher=
loops=
cleanup() {
  for pid in $loops $watcher $server; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The applets: one prints once its display is open, one shows a box first.
printf 'revision 6 1\n\n' >"$work/applet.desc"
printf '.source "@plain.vls"\n.line 1\n.call debugprint "ran"\nret\n' >"$work/plain.vlasm"
printf '.source "@box.vls"\n.line 1\n.call systemrequest "Stress box" "Closed by the watcher" "OK" -> a\n.call debugprint "closed" $a\nret\n' \
  >"$work/box.vlasm"
for applet in plain box; do
  "$vlasm" -o "$work/$applet.chunk" "$work/$applet.vlasm" &&
    "$mkapplet" -d "$work/applet.desc" -o "$work/$applet.vla" "$work/$applet.chunk" || exit 2
done

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start: skipped"; exit 77; }
DISPLAY=:$(cat "$work/display")
export DISPLAY
mkdir "$work/home"
HOME=$work/home
export HOME

# Answers every box: the stress boxes, and the error box of a player that
# could not connect (its text is in the player's output then).
(
  while :; do
    for window in $(xdotool search --name '^(Stress box|VellamoraPlayer)$' 2>/dev/null); do
      xdotool key --window "$window" Return 2>/dev/null
    done
    sleep 0.05
  done
) &
watcher=$!

i=0
while [ $i -lt "$busy" ]; do
  sh -c 'while :; do :; done' &
  loops="$loops $!"
  i=$((i + 1))
done

# One worker runs its share back to back; AT_ONCE workers run together.
worker() {
  n=$1
  while [ "$n" -le "$players" ]; do
    if [ $((n % 2)) -eq 0 ]; then applet=box expected="closed 0"; else applet=plain expected=ran; fi
    timeout -s KILL 120 "$program" -quiet -tempdir "$work" $extra "$work/$applet.vla" >"$work/run$n.out" 2>"$work/run$n.err" </dev/null
    status=$?
    if [ $status -ne 0 ] || [ "$(cat "$work/run$n.out")" != "$expected" ]; then
      echo "run $n ($applet): status $status, output: $(tr '\n' ' ' <"$work/run$n.out")| errors: $(tr '\n' ' ' <"$work/run$n.err")"
      echo "$n" >>"$work/failed"
    fi
    rm -f "$work/run$n.out" "$work/run$n.err"
    n=$((n + at_once))
  done
}

start=$(date +%s)
w=1
pids=
while [ $w -le "$at_once" ]; do
  worker $w &
  pids="$pids $!"
  w=$((w + 1))
done
for pid in $pids; do wait "$pid"; done
failed=0
[ -f "$work/failed" ] && failed=$(wc -l <"$work/failed")
echo "$players players, $at_once at once, $busy busy loops, $(($(date +%s) - start)) s: $failed failed"
[ "$failed" -eq 0 ]
