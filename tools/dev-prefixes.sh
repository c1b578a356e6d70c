# shellcheck shell=bash
# ./dev: the private Wine prefixes under the build folder.

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
