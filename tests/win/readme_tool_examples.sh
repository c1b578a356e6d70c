#!/usr/bin/env bash
# The README's examples of the command-line tool, each "$ command" run as a user
# pastes it into ./dev shell and its output compared with the lines the README
# shows after it ("..." there stands for any text).
#   readme_tool_examples.sh SOURCE_ROOT BUILD_ROOT   (inside a running wineserver, as CTest runs it)
set -euo pipefail
ROOT=$1 BUILD=$2
source "$ROOT/tools/dev-lab.sh"
examples=$(awk '/^## The `velcorin` command-line tool/ { inside = 1; next } inside && /^## / { exit }
                inside && /^```/ { fenced = !fenced; if (!fenced) print "$$END"; next }
                inside && fenced && (/^\$ / || shown) { shown = 1; print }
                !fenced { shown = 0 }' "$ROOT/README.md")
[ -n "$examples" ] || { echo "FAIL: the tool's section of README.md shows no '\$ velcorin' examples"; exit 1; }

# True when `actual` is `expected` with each "..." standing for any text.
matches() {
  local rest=$1 expected=$2 piece first=1
  while :; do
    piece=${expected%%...*}
    if [ "$piece" = "$expected" ]; then
      if [ $first = 1 ]; then [ "$rest" = "$piece" ]; else [[ $rest == *"$piece" ]]; fi
      return
    fi
    if [ $first = 1 ]; then [[ $rest == "$piece"* ]] || return 1; rest=${rest#"$piece"}; first=0
    else [[ $rest == *"$piece"* ]] || return 1; rest=${rest#*"$piece"}; fi
    expected=${expected#*...}
  done
}

# Output through files, as tools/wine-test-run explains: Wine's helpers would hold a pipe open.
run_examples() {
  local fails=0 command='' expected='' actual line printed
  printed=$(mktemp)
  check() {
    [ -n "$command" ] || return 0
    timeout 120 bash -c "$command" </dev/null >"$printed" 2>&1 || true
    actual=$(tr -d '\r' <"$printed" | sed 's/[[:space:]]*$//')
    if matches "$actual" "$expected"; then echo "ok: $command"
    else echo "FAIL: $command"; printf 'README shows:\n%s\nit printed:\n%s\n' "$expected" "$actual"; fails=$((fails + 1)); fi
  }
  while IFS= read -r line; do
    if [[ $line == '$ '* || $line == '$$END' ]]; then
      check
      command=${line#\$ }; expected=
      [ "$line" = '$$END' ] && command=
    else
      expected+=${expected:+$'\n'}$line
    fi
  done <<<"$examples"
  rm -f "$printed"
  echo "DONE fails=$fails"
}

out=$(mktemp)
trap 'cat "$out"; rm -f "$out"' EXIT
cd "$ROOT"
{ register_dll && with_demo_lab run_examples; } >"$out" 2>&1
