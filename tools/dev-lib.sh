# Functions behind ./dev. Sourced; expects ROOT, BUILD and the Wine variables.

HOST_PKGS="cmake g++ make googletest clang libclang-rt-14-dev ccache clang-format"
CROSS_PKGS="wine wine32:i386 wine64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools"
UI_PKGS="xvfb xdotool x11-apps imagemagick fonts-wine"
# Only the installer needs it: ./dev package and the installer's test.
PACKAGE_PKGS="wixl"

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

install_packages() {
  local missing; missing=$(missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "setup: installing $(echo $missing)"
  dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  local log=/tmp/velcorin-setup-apt.log
  # apt's chatter (debconf's notes on a bare machine) goes to a log, shown only on failure.
  if ! { as_root apt-get update -qq &&
         as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing; } \
       </dev/null >"$log" 2>&1; then
    tail -n 30 "$log"
    echo "setup: installing packages failed; the whole log is $log" >&2
    exit 1
  fi
}

# widl needs Wine's IDL files (stdole2 import, oaidl.idl); Debian ships them only in libwine-dev.
fetch_wine_idl() {
  local dir=$BUILD/wine-idl
  [ -f "$dir/usr/include/wine/wine/windows/oaidl.idl" ] && return 0
  mkdir -p "$dir"
  (cd "$dir" && apt-get download -qq -o APT::Sandbox::User=root libwine-dev >/dev/null && dpkg-deb -x libwine-dev_*.deb . && rm -f libwine-dev_*.deb)
}

# Prefixes are win64 (they run both bitnesses); a win32 one left by an older checkout goes.
drop_win32_prefix() {
  if [ -f "$1/system.reg" ] && ! grep -q '^#arch=win64' "$1/system.reg"; then
    echo "setup: replacing the 32-bit Wine prefix $1"
    rm -rf "$1"
  fi
}

# $WINEPREFIX, with the fonts the dialog's pictures need and windows that Wine does not
# manage (the dialog tests place them themselves).
make_prefix() {
  drop_win32_prefix "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "setup: creating Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  if [ -d /usr/share/wine/fonts ] && [ ! -f "$fonts/.copied" ]; then
    mkdir -p "$fonts" && cp /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
    touch "$fonts/.copied"
  fi
  if [ ! -f "$WINEPREFIX/.unmanaged" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.unmanaged"
  fi
}

# A prefix beside the main one: $1 its suffix, $2 what it is for.
make_side_prefix() {
  local prefix=$WINEPREFIX-$1
  drop_win32_prefix "$prefix"
  [ -f "$prefix/system.reg" ] && return 0
  echo "setup: creating Wine prefix $prefix ($2)"
  mkdir -p "$prefix"
  WINEPREFIX=$prefix wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -w
}

# Where nothing is ever registered, for registration-free use.
make_bare_prefix() { make_side_prefix bare "nothing is registered there"; }
# Where the installer's test installs and removes the package.
make_msi_prefix() { make_side_prefix msi "the installer's test installs there"; }

# Each Windows tree's tests run in a prefix of their own, so that the two trees run
# side by side: one prefix's simulated instruments are invisible to the other.
# The 64-bit tree uses the main prefix (its tests register both DLLs, as ./dev shell does).
tree_prefix() { if [ "$1" = win64 ]; then echo "$BUILD/wineprefix"; else echo "$BUILD/wineprefix-$1"; fi; }
make_tree_prefixes() {
  WINEPREFIX=$(tree_prefix win32) make_prefix
}

# Runs the named set-up functions side by side (each prefix is half a minute of wineboot).
in_parallel() {
  local step runs=() status=0 run
  for step in "$@"; do "$step" & runs+=($!); done
  for run in "${runs[@]}"; do wait "$run" || status=1; done
  return $status
}

# With "package", also what building the installer needs.
do_setup() {
  install_packages $HOST_PKGS $CROSS_PKGS $UI_PKGS ${1:+$PACKAGE_PKGS}
  mkdir -p "$BUILD"
  fetch_wine_idl
  in_parallel make_prefix make_bare_prefix
}

# Builds quietly; on a failure shows the end of the log.
build_step() {
  local log=$BUILD/build.log
  if ! "$@" >>"$log" 2>&1; then
    echo; tail -n 60 "$log"
    echo "build failed; the whole log is $log" >&2
    exit 1
  fi
}

# ccache, keyed on paths relative to the checkout, so that a second clone's
# first build reuses the first one's objects.
compiler_cache() {
  command -v ccache >/dev/null || return 0
  echo "-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
}

do_build() {
  export CCACHE_BASEDIR=$ROOT CCACHE_NOHASHDIR=1
  : >"$BUILD/build.log"
  echo "building (log: $BUILD/build.log)"
  build_tree native -DCMAKE_BUILD_TYPE=RelWithDebInfo
  build_windows win32 mingw-i686
  build_windows win64 mingw-x86_64
}

# One line per tree with the time it took, so that a long build is not minutes of silence.
build_tree() {
  local tree=$1 start=$SECONDS; shift
  printf '  %-7s ' "$tree"
  build_step cmake -S "$ROOT" -B "$BUILD/$tree" -Wno-dev "$@" $(compiler_cache)
  build_step cmake --build "$BUILD/$tree" -j"$(nproc)"
  echo "built in $((SECONDS - start)) s"
}

# One cross build per bitness from the same sources. The 64-bit one borrows the
# 32-bit simulator and DLL (the side-by-side registration tests need both).
build_windows() {
  local tree=$1 toolchain=$2
  build_tree "$tree" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/tools/$toolchain.cmake" \
    -DWINE_IDL_DIR="$BUILD/wine-idl/usr/include/wine/wine/windows" \
    -DVELCORIN_WIN32_BUILD="$BUILD/win32"
}

# A virtual display for the Windows programs (the dialog tests need one; the
# others then run without Wine's complaints about a missing display).
start_display() {
  [ -n "${XVFB_PID:-}" ] && return 0
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    # Another run may have taken the same number a moment earlier: ours then owns no lock.
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    if [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" != "$XVFB_PID" ]; then
      kill "$XVFB_PID" 2>/dev/null || true; XVFB_PID=; continue
    fi
    export DISPLAY=":$n"
    return 0
  done
}
stop_display() { [ -z "${XVFB_PID:-}" ] || kill "$XVFB_PID" 2>/dev/null || true; XVFB_PID=; }

wine_up()   { start_display; wineserver -p >/dev/null 2>&1 || true; wine wineboot >/dev/null 2>&1 || true; }
wine_down() { wineserver -k >/dev/null 2>&1 || true; stop_display; }

# Runs one ctest tree, showing each test's pass or fail line as it ends (a failure
# with the first lines of its output). The whole output stays in build/ctest-<label>.log.
run_ctest() {
  local dir=$1 label=$2 log=$BUILD/ctest-$2.log start=$SECONDS
  rm -f "$log"
  (cd "$dir" && ctest --output-on-failure -j2 ${TEST_FILTER:+-R "$TEST_FILTER"} 2>&1) | tee "$log" | show_ctest "$label" || true
  echo "[$label] ran in $((SECONDS - start)) s"
}

# Adds a ctest log's counts to PASSED/FAILED; a run that ended without its summary is a failure.
count_ctest() {
  local label=$1 log=$BUILD/ctest-$1.log total failed
  [ -f "$log" ] || { echo "[$label] did not run"; FAILED=$((FAILED + 1)); return 0; }
  total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$log" | tail -n1)
  failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n1)
  if [ -z "$total" ]; then
    # A filter that matches nothing in this tree is no failure.
    if [ -n "$TEST_FILTER" ] && grep -q '^No tests were found' "$log"; then return 0; fi
    tail -n 20 "$log" | sed "s/^/[$label] /"
    total=1; failed=1
  fi
  PASSED=$((PASSED + total - failed)); FAILED=$((FAILED + failed))
}

# The 32- and 64-bit trees side by side, each with its prefix's server and a display
# of its own (the dialog tests click and read windows there); $1 is added to the labels.
run_windows_trees() {
  local suffix=${1:-} tree runs=()
  for tree in win32 win64; do
    (
      export WINEPREFIX; WINEPREFIX=$(tree_prefix "$tree")
      XVFB_PID=
      trap wine_down EXIT
      wine_up
      run_ctest "$BUILD/$tree" "$tree$suffix"
    ) &
    runs+=($!)
  done
  wait "${runs[@]}" || true
  for tree in win32 win64; do count_ctest "$tree$suffix"; done
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
  PASSED=$((PASSED + p)); FAILED=$((FAILED + f))
}

do_test() {
  PASSED=0; FAILED=0; TEST_FILTER=
  local repeat=0
  while [ $# -gt 0 ]; do
    case "$1" in
      -R) TEST_FILTER=${2:?-R needs a regular expression}; shift 2 ;;
      --repeat) repeat=${2:?--repeat needs a count}; shift 2 ;;
      *) echo "test: unknown option $1" >&2; exit 2 ;;
    esac
  done
  in_parallel make_msi_prefix make_tree_prefixes
  [ "$repeat" -gt 0 ] && { soak "$repeat"; return; }
  run_ctest "$BUILD/native" native
  count_ctest native
  [ -n "$TEST_FILTER" ] || run_fuzz "${VELCORIN_FUZZ_SECONDS:-3}"
  run_windows_trees
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" = 0 ]
}

# The Windows suites N times with two busy processes beside them, as on a loaded
# machine; then each test that failed and how often.
soak() {
  local rounds=$1 round tree name busy=()
  declare -A fails=()
  for _ in 1 2; do (while :; do :; done) & busy+=($!); done
  trap 'kill ${busy[*]} 2>/dev/null' EXIT
  for round in $(seq "$rounds"); do
    echo "== round $round of $rounds, $(date -u +%H:%M:%S)"
    run_windows_trees ".$round"
    for tree in win32 win64; do
      while read -r name; do
        fails[$tree/$name]=$(( ${fails[$tree/$name]:-0} + 1 ))
      done < <(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' "$BUILD/ctest-$tree.$round.log")
    done
  done
  kill "${busy[@]}" 2>/dev/null; trap - EXIT
  echo "== failures in $rounds rounds under load"
  if [ ${#fails[@]} = 0 ]; then echo "none"; fi
  for name in "${!fails[@]}"; do printf '%-60s %s of %s\n' "$name" "${fails[$name]}" "$rounds"; done | sort
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" = 0 ]
}

# Both DLLs side by side (the 32-bit regsvr32 hands the 64-bit DLL to its twin).
register_dll() {
  local tree
  for tree in win32 win64; do wine regsvr32 /s "$(winepath -w "$BUILD/$tree/Velcorin.dll")"; done
}

# The VBScript sample against three simulated instruments (sim/demo.ini);
# with_sim unplugs them again however the script ends.
do_demo() {
  [ "${1:-}" = --chooser ] && { demo_chooser; return; }
  wine_up
  trap wine_down EXIT
  register_dll
  demo_sample win32 && demo_sample win64 && demo_unregistered
}

# Each bitness's with_sim starts the script host of its own bitness.
demo_sample() {
  local tree=$1 out
  echo "== the sample in a ${tree#win}-bit script host"
  # Through a file: a Wine helper started on the way would hold a pipe open (tools/wine-test-run).
  local file=$BUILD/demo-$tree.out
  (cd "$ROOT/samples" && wine "$BUILD/$tree/tests/with_sim.exe" ../sim/demo.ini cscript //nologo list-devices.vbs >"$file" 2>&1) || {
    tr -d '\r' <"$file"; echo "demo: failed"; return 1; }
  out=$(tr -d '\r' <"$file")
  # cscript reports a script error by printing nothing more, not by its exit code.
  printf '%s\n' "$out" | grep -v '^DONE$'
  printf '%s\n' "$out" | grep -qx DONE || { echo "demo: the sample stopped early"; return 1; }
}

# The command-line tool from a folder holding Velcorin.dll, its manifest and
# velcorin.exe, in a prefix where nothing is registered; each bitness built.
demo_unregistered() {
  local tree folder
  for tree in win32 win64; do
    folder=$BUILD/$tree/regfree
    [ -f "$folder/velcorin.exe" ] || continue
    echo
    echo "velcorin list, run from $folder with nothing registered:"
    (cd "$ROOT/sim" && "$ROOT/tools/wine-bare-run" "$BUILD/$tree/tests/with_sim.exe" demo.ini \
       "$folder/velcorin.exe" list | tr -d '\r'; exit "${PIPESTATUS[0]}") || { echo "demo: velcorin list failed"; return 1; }
  done
}

# The "Select Device" dialog over the demo's instruments: on $DISPLAY when set;
# else on a virtual display, where a device is picked with the keyboard, the
# dialog saved as a picture and closed again with Esc.
demo_chooser() {
  local here=${DISPLAY:-} shot=$BUILD/chooser-demo.png log=$BUILD/chooser-demo.log
  [ -n "$here" ] || start_display
  wineserver -p >/dev/null 2>&1 || true; wine wineboot >/dev/null 2>&1 || true
  trap wine_down EXIT
  register_dll
  (cd "$ROOT/chooser/demo" && wine "$BUILD/win32/tests/with_sim.exe" ../../sim/demo.ini \
     cscript //nologo choose-device.vbs 2>&1 | tr -d '\r' >"$log") &
  local run=$! window= i
  if [ -z "$here" ]; then
    for i in $(seq 150); do
      window=$(xdotool search --name '^Select Device$' 2>/dev/null | head -n1 || true)
      [ -n "$window" ] && break; sleep 0.2; done
    [ -n "$window" ] || { echo "demo: the dialog did not appear"; kill "$run" 2>/dev/null; return 1; }
    sleep 0.5
    # The tree has the focus: the root, the first group opened, its first device.
    xdotool key Home Down Right Down
    sleep 1
    xwd -root -display "$DISPLAY" | /usr/bin/convert xwd:- "$shot"
    xdotool key Escape
  fi
  wait "$run" || true
  grep -v '^DONE$' "$log" || true
  if [ -z "$here" ]; then echo "screenshot of the dialog: $shot"; fi
  grep -qx DONE "$log" || { echo "demo: the script stopped early"; return 1; }
}

# Runs a command with the demo's simulated instruments plugged in and the built
# programs on PATH under the names the README uses. Expects a running wineserver.
with_demo_lab() {
  local bin=$BUILD/shell-bin lab=$BUILD/shell-lab status=0
  make_shell_commands "$bin"
  mkdir -p "$lab"; rm -f "$lab/ready" "$lab/sim-input"; mkfifo "$lab/sim-input"
  (cd "$ROOT/sim" && wine "$BUILD/win32/velcorin-sim.exe" --ready "$(winepath -w "$lab/ready")" demo.ini \
     <"$lab/sim-input" >"$lab/sim.log" 2>&1) &
  local sim=$!
  exec 7>"$lab/sim-input"  # the simulator runs until this closes
  if wait_for_file "$lab/ready" 30; then
    # Without the pipe: a Wine service that a command starts outlives it and would hold it open.
    PATH=$bin:$PATH "$@" 7>&- || status=$?
  else
    cat "$lab/sim.log"; echo "the simulated instruments did not start" >&2; status=1
  fi
  exec 7>&-
  # The simulator unplugs its instruments and ends once its input closes.
  local i
  for i in $(seq 300); do kill -0 "$sim" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$sim" 2>/dev/null && { echo "the simulated instruments did not stop within 30 s" >&2; kill "$sim"; status=1; }
  wait "$sim" 2>/dev/null || true
  return $status
}

wait_for_file() {
  local i
  for i in $(seq $(($2 * 10))); do [ -s "$1" ] && return 0; sleep 0.1; done
  return 1
}

# Wrappers that run the built Windows programs through Wine under their README names.
make_shell_commands() {
  local bin=$1
  mkdir -p "$bin"
  shell_command "$bin/velcorin" "wine '$BUILD/win32/regfree/velcorin.exe'"
  # The 64-bit loader itself: through 'wine' a 64-bit program runs as a second process
  # behind start.exe, which a signal sent to the command's pid never reaches.
  shell_command "$bin/velcorin64" "/usr/lib/wine/wine64 '$BUILD/win64/regfree/velcorin.exe'"
  shell_command "$bin/velcorin-sim" "wine '$BUILD/win32/velcorin-sim.exe'"
  shell_command "$bin/cscript" "wine cscript"
  shell_command "$bin/cscript64" "/usr/lib/wine/wine64 cscript"
}
shell_command() { printf '#!/bin/sh\nexec %s "$@"\n' "$2" >"$1"; chmod +x "$1"; }

do_shell() {
  echo "A shell in the Wine prefix $WINEPREFIX with both DLLs registered and the demo's"
  echo "instruments (sim/demo.ini) plugged in: velcorin, velcorin64, cscript, cscript64,"
  echo "velcorin-sim. Leave it with 'exit'; the instruments are unplugged then."
  in_prefix with_demo_lab bash --rcfile <(printf '%s\n' '[ -f ~/.bashrc ] && . ~/.bashrc' 'PS1="(velcorin) \w\$ "') -i
}

do_run() {
  [ $# -gt 0 ] || { echo "run: which command?" >&2; exit 2; }
  in_prefix with_demo_lab "$@"
}

in_prefix() {
  local status=0
  wine_up
  trap wine_down EXIT
  register_dll
  "$@" || status=$?
  wine_down; trap - EXIT
  return $status
}

do_fuzz() {
  PASSED=0; FAILED=0
  run_fuzz "${1:-600}"
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" = 0 ]
}

# clang-format (.clang-format) over every C and C++ source the repository
# tracks; with --check it changes nothing and fails on a file it would change.
do_format() {
  local mode=(-i)
  case "${1:-}" in
    --check) mode=(--dry-run --Werror) ;;
    "") ;;
    *) echo "format: unknown option $1" >&2; exit 2 ;;
  esac
  (cd "$ROOT" && git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format "${mode[@]}")
}

do_bench() {
  wine_up
  trap wine_down EXIT
  register_dll
  local tree b cpu status=0
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
  echo "== $(date -u '+%F %H:%M') UTC; ${cpu:-unknown CPU}, $(nproc) cores; $(wine --version 2>/dev/null)"
  for tree in win32 win64; do
    for b in "$BUILD/$tree"/bench/bench_${1:-}*.exe; do
      echo "== $(basename "$b" .exe), $tree"
      (cd "$BUILD/$tree" && wine "$b") || status=1
    done
  done
  return $status
}

# The 64-bit tree builds the package and the zip where wixl is installed;
# built afresh, so that dist/ gets this version's and no older one.
do_package() {
  local built=$BUILD/win64/dist
  rm -rf "$built"
  build_step cmake --build "$BUILD/win64" --target package_msi package_zip
  mkdir -p "$ROOT/dist"
  local f
  for f in "$built"/*; do cp "$f" "$ROOT/dist/" && echo "dist/$(basename "$f")"; done
}
