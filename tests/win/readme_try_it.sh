#!/usr/bin/env bash
# The README's "Try it" lines, run as a user pastes them into ./dev shell.
#   readme_try_it.sh SOURCE_ROOT BUILD_ROOT   (inside a running wineserver, as CTest runs it)
set -euo pipefail
ROOT=$1 BUILD=$2
source "$ROOT/tools/dev-lab.sh"
source "$ROOT/tools/deadline.sh"
lines=$(awk '/^## Try it/ { inside = 1 } inside && /^\.\/dev shell$/ { on = 1; next }
             on && /^exit$/ { exit } on { print }' "$ROOT/README.md")
[ -n "$lines" ] || { echo "FAIL: README.md has no lines between './dev shell' and 'exit' under 'Try it'"; exit 1; }
cd "$ROOT"
# Through a file, as tools/wine-test-run explains: Wine's helpers would hold CTest's pipe.
out=$(mktemp)
trap 'cat "$out"; rm -f "$out"' EXIT
# Appending, both: the FAIL line and backtraces of a hang join the output so far.
{ register_dll && with_demo_lab bash -e -x -c "$lines"; } >>"$out" 2>&1 &
late() { [ "$1" -ge 150 ] && echo "FAIL: the lines did not finish within 150 s"; }
watch_job $! 'cscript|velcorin|velcorin-sim' late >>"$out"
echo "DONE fails=0" >>"$out"
