#!/usr/bin/env bash
# Configures and builds one target into build/<target>:  build.sh linux|win64|win32 [cmake target...]
# (every cmake target when none is named)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-linux}
shift || true
case "$target" in
  linux) toolchain=() ;;
  win64) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake") ;;
  win32) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake") ;;
  *) echo "build.sh: unknown target $target (linux, win64, win32)" >&2; exit 2 ;;
esac
dir="$root/build/$target"
mkdir -p "$root/build"
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "${toolchain[@]}" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; exit 1; }
fi
# Ninja prints only what fails; a successful build stays quiet.
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
cmake --build "$dir" "${targets[@]}" -- --quiet
