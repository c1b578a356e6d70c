# shellcheck shell=bash
# The demo's lab: both DLLs registered, the demo's simulated instruments plugged in and
# the built programs on PATH. ./dev demo, shell and run use it, and so do the tests of
# the README's examples. Expects ROOT, BUILD and the Wine variables.

# Both DLLs side by side (the 32-bit regsvr32 hands the 64-bit DLL to its twin).
register_dll() {
  local tree
  for tree in win32 win64; do wine regsvr32 /s "$(winepath -w "$BUILD/$tree/Velcorin.dll")"; done
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
  for _ in $(seq 300); do kill -0 "$sim" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$sim" 2>/dev/null && { echo "the simulated instruments did not stop within 30 s" >&2; kill "$sim"; status=1; }
  wait "$sim" 2>/dev/null || true
  return $status
}

wait_for_file() {
  for _ in $(seq $(($2 * 10))); do [ -s "$1" ] && return 0; sleep 0.1; done
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
