#!/bin/sh
# scripts/run-example with stand-ins for cmake and the player: it configures
# only a tree that has none, builds with the jobs -j asks for (all cores by
# default), runs the player with errors on the terminal, and refuses bad
# arguments. Usage: run_example_test.sh SOURCE_ROOT
set -u
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts" "$work/bin" "$work/build/release/app" "$work/build/release/examples"
cp "$root/scripts/run-example" "$work/scripts/"
cat > "$work/bin/cmake" <<'STUB'
#!/bin/sh
echo "cmake $*" >> "$LOG"
case "$*" in -S*) : > build/release/build.ninja ;; esac
STUB
cat > "$work/build/release/app/vellamora-player" <<'STUB'
#!/bin/sh
echo "player $*" >> "$LOG"
STUB
chmod +x "$work/bin/cmake" "$work/build/release/app/vellamora-player"
: > "$work/build/release/examples/demo.vla"
: > "$work/build/release/examples/hello.vla"
export LOG="$work/log" PATH="$work/bin:$PATH" DISPLAY=:99
failed=0
expect() {  # expect NAME WANTED: compares the log, then empties it
  if [ "$(cat "$LOG" 2>/dev/null)" != "$2" ]; then
    echo "FAIL $1: got"; cat "$LOG" 2>/dev/null; echo "wanted"; echo "$2"
    failed=1
  fi
  rm -f "$LOG"
}
targets="--target vellamora-player vlasm mkapplet example_applets sample_plugin"

# First run: configure, then build with every core.
"$work/scripts/run-example" > /dev/null 2>&1
expect first "cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release$(command -v ccache >/dev/null && echo ' -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache')
cmake --build build/release -j $(nproc) $targets
player -DEBUGDEVICE console build/release/examples/demo.vla"

# Later runs build only; -j N and -jN; a name picks the example.
"$work/scripts/run-example" -j 3 hello > /dev/null 2>&1
expect jobs "cmake --build build/release -j 3 $targets
player -DEBUGDEVICE console build/release/examples/hello.vla"
"$work/scripts/run-example" hello -j2 > /dev/null 2>&1
expect jobs2 "cmake --build build/release -j 2 $targets
player -DEBUGDEVICE console build/release/examples/hello.vla"

# Bad arguments end with status 2 before building anything.
for args in "-j" "-j x" "-j 0" "--frobnicate"; do
  # shellcheck disable=SC2086
  "$work/scripts/run-example" $args > /dev/null 2>&1
  status=$?
  [ $status -eq 2 ] || { echo "FAIL '$args' ended with $status, not 2"; failed=1; }
  expect "args $args" ""
done
"$work/scripts/run-example" nosuch > /dev/null 2>&1
[ $? -eq 2 ] || { echo "FAIL an unknown example is not refused"; failed=1; }
rm -f "$LOG"

if [ $failed -eq 0 ]; then echo "run-example: 1 passed, 0 failed"; else echo "run-example: 0 passed, 1 failed"; fi
exit $failed
