# shellcheck shell=bash
# ./dev: the Debian packages and Wine's IDL files the build needs; ./dev setup.

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

# With "package", also what building the installer needs.
do_setup() {
  install_packages $HOST_PKGS $CROSS_PKGS $UI_PKGS ${1:+$PACKAGE_PKGS}
  mkdir -p "$BUILD"
  fetch_wine_idl
  in_parallel make_prefix make_bare_prefix
}
