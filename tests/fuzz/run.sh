#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ and runs each for the given number
# of seconds. Usage: tests/fuzz/run.sh [seconds]   (default 5)
#        tests/fuzz/run.sh keep   adds what the runs found that reaches new code
#                                 (-merge=1) to tests/fuzz/corpus/<target>
# FUZZ_TARGETS="a b" picks targets. Output goes to $VELCORIN_BUILD/fuzz
# (default: <repo>/build/fuzz).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
OUT=${VELCORIN_BUILD:-$ROOT/build}/fuzz
CXX=${FUZZ_CXX:-clang++}
# The native build generates the trace's table of enumeration names.
FLAGS=(-std=c++20 -O1 -g -I"$ROOT" -I"${VELCORIN_BUILD:-$ROOT/build}/native/trace/generated" "-fsanitize=fuzzer,address,undefined" -fno-sanitize-recover=undefined)
# shellcheck disable=SC2206
TARGETS=(${FUZZ_TARGETS:-reply_report reply_number identity_query chooser_tree trace_file})

sources_of() {
  case $1 in
    chooser_tree) echo "$ROOT"/chooser/core/*.cpp "$ROOT"/common/core/*.cpp ;;
    trace_file) echo "$ROOT"/trace/core/*.cpp "$ROOT"/simulation/core/*.cpp "$ROOT"/cli/core/*.cpp "$ROOT"/device/core/*.cpp "$ROOT"/wire/*.cpp "$ROOT"/common/core/*.cpp ;;
    *) echo "$ROOT"/device/core/*.cpp "$ROOT"/wire/*.cpp "$ROOT"/common/core/*.cpp ;;
  esac
}

build() {
  local target=$1
  # shellcheck disable=SC2046
  "$CXX" "${FLAGS[@]}" "$HERE/fuzz_$target.cpp" $(sources_of "$target") -o "$OUT/fuzz_$target" \
    2>"$OUT/$target.build.log"
}

# A target is rebuilt only when something it may include changed since (a minute
# of clang for all five otherwise, on every ./dev test).
stale() {
  local binary=$OUT/fuzz_$1
  [ -x "$binary" ] || return 0
  find "$0" "$HERE/fuzz_$1.cpp" "$ROOT"/{common,device,chooser,trace,simulation,cli}/core "$ROOT"/wire \
       "${VELCORIN_BUILD:-$ROOT/build}/native/trace/generated" -newer "$binary" -print -quit 2>/dev/null | grep -q .
}

# The stale targets, built side by side; each failure is left in its build log.
build_all() {
  local target running=0
  for target in "${TARGETS[@]}"; do
    stale "$target" || continue
    rm -f "$OUT/fuzz_$target"
    build "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$(nproc)" ]; then wait -n || true; running=$((running - 1)); fi
  done
  wait || true
}

# New inputs go to the build tree; the checked-in corpus is only read.
run() {
  local target=$1 seconds=$2
  mkdir -p "$OUT/corpus/$target" "$HERE/corpus/$target"
  (cd "$OUT" && "$OUT/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      "$OUT/corpus/$target" "$HERE/corpus/$target" >"$OUT/$target.log" 2>&1)
}

# Adds to the checked-in corpus only inputs that reach something it does not; the
# named seeds there stay as they are.
keep() {
  local target=$1
  mkdir -p "$HERE/corpus/$target"
  (cd "$OUT" && "$OUT/fuzz_$target" -merge=1 "$HERE/corpus/$target" "$OUT/corpus/$target" \
      >"$OUT/$target.merge.log" 2>&1)
  echo "fuzz: $target: $(find "$HERE/corpus/$target" -type f | wc -l) inputs kept"
}

mkdir -p "$OUT"
mode=${1:-5}
passed=0; failed=0
build_all
for target in "${TARGETS[@]}"; do
  if [ ! -x "$OUT/fuzz_$target" ]; then
    echo "fuzz: $target: build failed (see $OUT/$target.build.log)"
    failed=$((failed + 1)); continue
  fi
  if [ "$mode" = keep ]; then
    keep "$target"; passed=$((passed + 1)); continue
  fi
  if run "$target" "$mode"; then
    echo "fuzz: $target: ok ($(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$OUT/$target.log" | cut -d' ' -f2) runs)"
    passed=$((passed + 1))
  else
    echo "fuzz: $target: FAILED, see $OUT/$target.log"; tail -n 20 "$OUT/$target.log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
