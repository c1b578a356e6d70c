#!/usr/bin/env bash
# The README's "Try it" lines, run as a user pastes them into ./dev shell.
#   readme_try_it.sh SOURCE_ROOT BUILD_ROOT   (inside a running wineserver, as CTest runs it)
set -euo pipefail
ROOT=$1 BUILD=$2
source "$ROOT/tools/dev-lib.sh"
lines=$(awk '/^## Try it/ { inside = 1 } inside && /^\.\/dev shell$/ { on = 1; next }
             on && /^exit$/ { exit } on { print }' "$ROOT/README.md")
[ -n "$lines" ] || { echo "FAIL: README.md has no lines between './dev shell' and 'exit' under 'Try it'"; exit 1; }
cd "$ROOT"
# Through a file, as tools/wine-test-run explains: Wine's helpers would hold CTest's pipe.
out=$(mktemp)
trap 'cat "$out"; rm -f "$out"' EXIT
{ register_dll && with_demo_lab bash -e -x -c "$lines"; } >"$out" 2>&1 &
run=$!
for _ in $(seq 1500); do kill -0 $run 2>/dev/null || break; sleep 0.1; done
if kill -0 $run 2>/dev/null; then
  echo "FAIL: the lines did not finish within 150 s"
  "$ROOT/tools/wine-backtraces" 'cscript|velcorin|velcorin-sim' >>"$out" 2>&1
  kill $run
  exit 1
fi
wait $run
echo "DONE fails=0" >>"$out"
