# shellcheck shell=bash
# ./dev demo, shell, run and bench: the built DLLs at work in the project's prefix.

# The VBScript sample against three simulated instruments (sim/demo.ini);
# with_sim unplugs them again however the script ends.
do_demo() {
  [ "${1:-}" = --chooser ] && { demo_chooser; return; }
  wine_up
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
  start_wineserver
  register_dll
  (cd "$ROOT/chooser/demo" && wine "$BUILD/win32/tests/with_sim.exe" ../../sim/demo.ini \
     cscript //nologo choose-device.vbs 2>&1 | tr -d '\r' >"$log") &
  local run=$! window=''
  if [ -z "$here" ]; then
    for _ in $(seq 150); do
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
  register_dll
  "$@" || status=$?
  run_cleanups
  return $status
}

do_bench() {
  wine_up
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
