#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the three targets, runs every test natively
# and the Windows test binaries under Wine (code page 936), then prints one count per target.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh" test || exit 1

status=0
summary=()
py=/usr/bin/python3

note() { printf '\n== %s ==\n' "$*"; }

# ctest over one build folder; each GoogleTest binary writes its XML report into $2.
run_ctest() {
  local dir=$1 reports=$2
  rm -rf "$reports"; mkdir -p "$reports"
  (cd "$dir" && ctest --output-on-failure --timeout 900) || status=1
}

for target in linux win64 win32; do
  note "build $target"
  "$root/scripts/build.sh" "$target" || { status=1; summary+=("$target: build failed"); continue; }
done

note "linux tests"
reports="$root/build/linux/test-reports"
GTEST_OUTPUT="xml:$reports/" run_ctest build/linux "$reports"
summary+=("$($py scripts/count_results.py linux "$reports")")

# A fresh Wine prefix per run, removed (and its wineserver stopped) when done.
run_wine_target() {
  local target=$1
  local prefix="$root/build/$target/wineprefix"
  local reports="$root/build/$target/test-reports"
  rm -rf "$prefix"
  export KAVENOR_WINEPREFIX="$prefix"
  note "$target tests under Wine"
  GTEST_OUTPUT="xml:Z:${reports//\//\\}\\" run_ctest "build/$target" "$reports"
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  unset KAVENOR_WINEPREFIX
  summary+=("$($py scripts/count_results.py "$target" "$reports")")
}

if [ -d build/win64/bin ]; then run_wine_target win64; fi
# 32-bit programs need Wine's i386 half, which is optional.
if [ -d build/win32/bin ]; then
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
    run_wine_target win32
  else
    summary+=("win32: built and linked; not run (32-bit Wine is not installed)")
  fi
fi

# End-to-end: the real program in a scratch app folder, a real WebSocket client, plain HTTP.
run_e2e() {
  local target=$1 reports="$root/build/$1/e2e-reports"
  rm -rf "$reports"; mkdir -p "$reports"
  note "end-to-end tests, $target"
  KAVENOR_E2E_TARGET=$target $py -m pytest -q -p no:cacheprovider tests/e2e --junitxml="$reports/e2e.xml" || status=1
  summary+=("$($py scripts/count_results.py "e2e-$target" "$reports")")
}
run_e2e linux
if [ -d build/win64/app ]; then
  export KAVENOR_WINEPREFIX="$root/build/win64/wineprefix"
  run_e2e win64
  WINEPREFIX="$KAVENOR_WINEPREFIX" wineserver -k 2>/dev/null || true
  unset KAVENOR_WINEPREFIX
fi

# The test pages in headless Chromium, against the Linux program.
note "test pages in Chromium"
reports="$root/build/linux/page-reports"
rm -rf "$reports"; mkdir -p "$reports"
(cd tests/pages && node --test --test-reporter=dot --test-reporter-destination=stdout \
  --test-reporter=junit --test-reporter-destination="$reports/pages.xml") || status=1
summary+=("$($py scripts/count_results.py pages "$reports")")

# The command parser under libFuzzer for a bounded time; any finding fails the run.
note "fuzzing the command parser"
if "$root/scripts/fuzz.sh" 60; then summary+=("fuzz: 1 passed, 0 failed, 0 skipped")
else status=1; summary+=("fuzz: 0 passed, 1 failed, 0 skipped"); fi

note "summary"
total_passed=0; total_failed=0
for line in "${summary[@]}"; do
  echo "$line"
  if [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    total_passed=$((total_passed + BASH_REMATCH[1])); total_failed=$((total_failed + BASH_REMATCH[2]))
  fi
done
[ "$total_failed" -gt 0 ] && status=1
echo "total: $total_passed passed, $total_failed failed"
exit $status
