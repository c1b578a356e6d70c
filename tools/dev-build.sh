# shellcheck shell=bash
# ./dev build, package and format.

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
  echo "-DCMAKE_C_COMPILER_LAUNCHER=ccache"
  echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
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
  local tree=$1 start=$SECONDS cache; shift
  mapfile -t cache < <(compiler_cache)
  printf '  %-7s ' "$tree"
  build_step cmake -S "$ROOT" -B "$BUILD/$tree" -Wno-dev -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "$@" "${cache[@]}"
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

# clang-tidy (.clang-tidy) over the component's sources: the portable code in the
# native tree, the rest with clang's mingw target in the 32-bit tree (its
# compile commands name the cross compiler; clang takes its flags and is pointed
# at the cross compiler's C++ library). Fails on any finding.
do_tidy() {
  local sources='/(chooser|cli|common|device|discovery|installer|server|sim|simulation|trace|typelib|wire)/'
  local gcc_include args=(-extra-arg=--target=i686-w64-mingw32 -extra-arg=-Wno-unknown-warning-option)
  for gcc_include in $(i686-w64-mingw32-g++-posix -E -v -x c++ /dev/null 2>&1 | grep -E '^ /.*include/c\+\+'); do
    args+=(-extra-arg=-isystem"$gcc_include")
  done
  # Headers of ours, not those the build generates (widl's names are the contract's).
  args+=(-header-filter="^$ROOT$sources")
  local status=0
  run-clang-tidy -quiet -j"$(nproc)" -p "$BUILD/native" -header-filter="^$ROOT$sources" "$ROOT$sources" >"$BUILD/tidy-native.log" 2>&1 || status=1
  run-clang-tidy -quiet -j"$(nproc)" -p "$BUILD/win32" "${args[@]}" "$ROOT$sources"'(?!core/|tests/)' \
    >"$BUILD/tidy-win32.log" 2>&1 || status=1
  grep -hE '(warning|error): ' "$BUILD"/tidy-*.log | sed 's/\x1b\[[0-9;]*m//g' | sort -u || true
  [ $status = 0 ] && echo "tidy: no findings" || echo "tidy: findings above (logs: $BUILD/tidy-*.log)" >&2
  return $status
}
