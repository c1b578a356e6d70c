# shellcheck shell=bash
# ./dev test and ./dev fuzz: runs the test trees and counts what passed. The counting
# functions add to the passed and failed counts of the command that runs them.

# Runs one ctest tree ($3: only the tests matching it), showing each test's pass or fail
# line as it ends (a failure with the first lines of its output). The whole output
# stays in build/ctest-<label>.log.
run_ctest() {
  local dir=$1 label=$2 filter=$3 log=$BUILD/ctest-$2.log start=$SECONDS
  rm -f "$log"
  (cd "$dir" && ctest --output-on-failure -j2 ${filter:+-R "$filter"} 2>&1) | tee "$log" | show_ctest "$label" || true
  echo "[$label] ran in $((SECONDS - start)) s"
}

# Adds a ctest log's counts; a run that ended without its summary is a failure.
count_ctest() {
  local label=$1 filter=$2 log=$BUILD/ctest-$1.log total failures
  [ -f "$log" ] || { echo "[$label] did not run"; failed=$((failed + 1)); return 0; }
  total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$log" | tail -n1)
  failures=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n1)
  if [ -z "$total" ]; then
    # A filter that matches nothing in this tree is no failure.
    if [ -n "$filter" ] && grep -q '^No tests were found' "$log"; then return 0; fi
    tail -n 20 "$log" | sed "s/^/[$label] /"
    total=1; failures=1
  fi
  passed=$((passed + total - failures)); failed=$((failed + failures))
}

# The 32- and 64-bit trees side by side, each with its prefix's server and a display
# of its own (the dialog tests click and read windows there); $1 is added to the labels.
run_windows_trees() {
  local suffix=$1 filter=$2 tree runs=()
  for tree in win32 win64; do
    (
      export WINEPREFIX; WINEPREFIX=$(tree_prefix "$tree")
      wine_up
      run_ctest "$BUILD/$tree" "$tree$suffix" "$filter"
    ) &
    runs+=($!)
  done
  wait "${runs[@]}" || true
  for tree in win32 win64; do count_ctest "$tree$suffix" "$filter"; done
}

# A shell loop, not awk: Debian's awk reads a pipe in blocks and would show nothing
# until the tree's last test ended.
show_ctest() {
  local tag="[$1] " line failing=0 shown=0
  while IFS= read -r line; do
    case "$line" in
      *" Test "*"#"*": "*) [[ $line == *" Passed "* ]] && failing=0 || failing=1; shown=0; echo "$tag$line" ;;
      *"tests passed, "*"tests failed out of"*) failing=0; echo "$tag$line" ;;
      "The following tests FAILED"*) echo "$tag$line" ;;
      *)
        if [[ $line =~ ^[[:space:]]+[0-9]+\ -\  ]]; then echo "$tag$line"
        elif [ $failing = 1 ] && [ $shown -lt 15 ] && [[ ! $line =~ ^\ *Start\ +[0-9]+: ]]; then
          echo "$tag    $line"; shown=$((shown + 1))
        fi ;;
    esac
  done
}

# Short fuzz runs of the portable logic; each target counts as one test.
run_fuzz() {
  local seconds=$1 out p f
  out=$(VELCORIN_BUILD=$BUILD "$ROOT/tests/fuzz/run.sh" "$seconds" 2>&1) || true
  printf '%s\n' "$out" | sed 's/^/[fuzz] /' | tail -n 25
  p=$(printf '%s\n' "$out" | sed -n 's/^fuzz: \([0-9]*\) passed, \([0-9]*\) failed$/\1/p')
  f=$(printf '%s\n' "$out" | sed -n 's/^fuzz: \([0-9]*\) passed, \([0-9]*\) failed$/\2/p')
  if [ -z "$p" ]; then p=0; f=1; fi
  passed=$((passed + p)); failed=$((failed + f))
}

do_test() {
  local passed=0 failed=0 filter='' repeat=0
  while [ $# -gt 0 ]; do
    case "$1" in
      -R) filter=${2:?-R needs a regular expression}; shift 2 ;;
      --repeat) repeat=${2:?--repeat needs a count}; shift 2 ;;
      *) echo "test: unknown option $1" >&2; exit 2 ;;
    esac
  done
  in_parallel make_msi_prefix make_tree_prefixes
  [ "$repeat" -gt 0 ] && { soak "$repeat" "$filter"; return; }
  run_ctest "$BUILD/native" native "$filter"
  count_ctest native "$filter"
  [ -n "$filter" ] || run_fuzz "${VELCORIN_FUZZ_SECONDS:-3}"
  run_windows_trees "" "$filter"
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}

# The Windows suites N times with two busy processes beside them, as on a loaded
# machine; then each test that failed and how often.
soak() {
  local rounds=$1 filter=$2 round tree name busy=()
  declare -A fails=()
  for _ in 1 2; do (while :; do :; done) & busy+=($!); done
  at_exit "kill ${busy[*]} 2>/dev/null"
  for round in $(seq "$rounds"); do
    echo "== round $round of $rounds, $(date -u +%H:%M:%S)"
    run_windows_trees ".$round" "$filter"
    for tree in win32 win64; do
      while read -r name; do
        fails[$tree/$name]=$(( ${fails[$tree/$name]:-0} + 1 ))
      done < <(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' "$BUILD/ctest-$tree.$round.log")
    done
  done
  run_cleanups
  echo "== failures in $rounds rounds under load"
  if [ ${#fails[@]} = 0 ]; then echo "none"; fi
  for name in "${!fails[@]}"; do printf '%-60s %s of %s\n' "$name" "${fails[$name]}" "$rounds"; done | sort
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}

do_fuzz() {
  local passed=0 failed=0
  run_fuzz "${1:-600}"
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}
