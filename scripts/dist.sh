#!/usr/bin/env bash
# What an operator downloads: builds the two Windows targets and writes into build/dist/ (or --out)
# Kavenor-<version>-win64.zip, -win32.zip, -win64-setup.exe, -win32-setup.exe, the web developers'
# package kavenor-client-<version>.tgz and SHA256SUMS.
#   dist.sh [--cert signer.pfx --password-file pass.txt] [--out DIR]
# With a certificate, Kavenor.exe, the uninstaller and the installers are signed (Authenticode).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/dist
sign=()
while [ $# -gt 0 ]; do
  case "$1" in
    --cert|--password-file) [ $# -ge 2 ] || { echo "dist.sh: $1 needs a file" >&2; exit 2; }
                            sign+=("$1" "$(realpath "$2")"); shift 2 ;;
    --out) [ $# -ge 2 ] || { echo "dist.sh: --out needs a folder" >&2; exit 2; }
           out=$(realpath -m "$2"); shift 2 ;;
    *) echo "usage: dist.sh [--cert FILE.pfx --password-file FILE] [--out DIR]" >&2; exit 2 ;;
  esac
done

"$root/scripts/setup.sh" dist
for target in win64 win32; do
  echo "dist: building $target"
  "$root/scripts/build.sh" "$target" app kadrel_full client_package
done
# The one version, as CMake has it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build/win64/CMakeCache.txt")
[ -n "$version" ] || { echo "dist.sh: no version in build/win64/CMakeCache.txt" >&2; exit 1; }
# Only what this command writes is replaced: --out may name a folder that holds other files.
mkdir -p "$out"
rm -f "$out"/Kavenor-*-win64* "$out"/Kavenor-*-win32* "$out"/kavenor-client-*.tgz "$out/SHA256SUMS"
# The package as npm itself packs it: what `npm install kavenor-client-<version>.tgz` takes.
npm pack --silent --pack-destination "$out" "$root/build/win64/kavenor-client" >/dev/null
exec python3 "$root/dist/package.py" --version "$version" --root "$root" --out "$out" "${sign[@]}" win64 win32
