# shellcheck shell=bash
# ./dev: clean-ups on the way out, and the prefix's Wine server on a virtual display.

# The clean-ups of this shell, last added first; a subshell starts a list of its own.
# They run when the shell exits or, earlier, when it calls run_cleanups.
CLEANUPS=() CLEANUPS_OF=
at_exit() {
  [ "$CLEANUPS_OF" = "$BASHPID" ] || { CLEANUPS=(); CLEANUPS_OF=$BASHPID; }
  CLEANUPS=("$1" "${CLEANUPS[@]}")
  trap run_cleanups EXIT
}
run_cleanups() {
  [ "$CLEANUPS_OF" = "$BASHPID" ] || return 0
  local cleanup
  for cleanup in "${CLEANUPS[@]}"; do eval "$cleanup" || true; done
  CLEANUPS=()
  trap - EXIT
}

# A virtual display for the Windows programs (the dialog tests need one; the
# others then run without Wine's complaints about a missing display), stopped on exit.
start_display() {
  local n xvfb
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    # Another run may have taken the same number a moment earlier: ours then owns no lock.
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    if [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" != "$xvfb" ]; then
      kill "$xvfb" 2>/dev/null || true; continue
    fi
    at_exit "kill $xvfb 2>/dev/null"
    export DISPLAY=":$n"
    return 0
  done
}

# The prefix's server, started once and ended on exit: else each program would start
# and end one of its own.
start_wineserver() {
  at_exit "wineserver -k >/dev/null 2>&1"
  wineserver -p >/dev/null 2>&1 || true; wine wineboot >/dev/null 2>&1 || true
}

wine_up() { start_display; start_wineserver; }
