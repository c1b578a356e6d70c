#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ and runs each for the given number
# of seconds. Usage: tests/fuzz/run.sh [seconds]   (default 5)
# Output goes to $VELCORIN_BUILD/fuzz (default: <repo>/build/fuzz).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
SECONDS_EACH=${1:-5}
OUT=${VELCORIN_BUILD:-$ROOT/build}/fuzz
CXX=${FUZZ_CXX:-clang++}
FLAGS=(-std=c++20 -O1 -g -I"$ROOT" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
CORE=("$ROOT"/device/core/*.cpp)
TARGETS=(reply_report reply_number identity_query)

mkdir -p "$OUT"
passed=0; failed=0
for target in "${TARGETS[@]}"; do
  exe=$OUT/fuzz_$target
  if ! "$CXX" "${FLAGS[@]}" "$HERE/fuzz_$target.cpp" "${CORE[@]}" -o "$exe" 2>"$OUT/$target.build.log"; then
    echo "fuzz: $target: build failed (see $OUT/$target.build.log)"
    failed=$((failed + 1)); continue
  fi
  # New inputs go to the build tree; the checked-in seeds are only read.
  mkdir -p "$OUT/corpus/$target"
  if (cd "$OUT" && "$exe" -max_total_time="$SECONDS_EACH" -print_final_stats=0 \
        "$OUT/corpus/$target" "$HERE/corpus/$target" >"$OUT/$target.log" 2>&1); then
    echo "fuzz: $target: ok ($(grep -c '' "$OUT/$target.log") log lines)"
    passed=$((passed + 1))
  else
    echo "fuzz: $target: FAILED, see $OUT/$target.log"; tail -n 20 "$OUT/$target.log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
