#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the three targets, runs every test natively
# and the Windows test binaries under Wine (code page 936), makes the downloads and tries them under
# Wine, then prints one count per target.
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

# Only what built is tested: a failed build leaves the binaries of an earlier one behind.
declare -A built=()
for target in linux win64 win32; do
  note "build $target"
  if "$root/scripts/build.sh" "$target"; then built[$target]=1
  else status=1; summary+=("$target: 0 passed, 1 failed, 0 skipped (build failed)"); fi
done

if [ -n "${built[linux]:-}" ]; then
  note "linux tests"
  reports="$root/build/linux/test-reports"
  GTEST_OUTPUT="xml:$reports/" run_ctest build/linux "$reports"
  summary+=("$($py scripts/count_results.py linux "$reports")")
fi

# One virtual display for everything that runs under Wine: the program's window needs one.
xvfb_pid=
start_display() {
  local file
  file=$(mktemp)
  Xvfb -displayfd 9 -nolisten tcp -screen 0 1280x1024x24 9>"$file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 200); do [ -s "$file" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n 1 "$file")"
  rm -f "$file"
}
stop_display() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; xvfb_pid=; }
trap stop_display EXIT

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

[ -n "${built[win64]:-}${built[win32]:-}" ] && start_display
if [ -n "${built[win64]:-}" ]; then run_wine_target win64; fi
# 32-bit programs need Wine's i386 half, which is optional.
if [ -n "${built[win32]:-}" ]; then
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
[ -n "${built[linux]:-}" ] && run_e2e linux
if [ -n "${built[win64]:-}" ]; then
  export KAVENOR_WINEPREFIX="$root/build/win64/wineprefix"
  run_e2e win64
  WINEPREFIX="$KAVENOR_WINEPREFIX" wineserver -k 2>/dev/null || true
  unset KAVENOR_WINEPREFIX
fi

# What an operator downloads, made as scripts/dist.sh makes it (into build/dist), then unpacked,
# installed, upgraded and uninstalled under Wine.
if [ -n "${built[win64]:-}" ] && [ -n "${built[win32]:-}" ]; then
  note "downloads"
  reports="$root/build/dist-reports"
  rm -rf "$reports"; mkdir -p "$reports"
  if "$root/scripts/dist.sh"; then
    $py -m pytest -q -p no:cacheprovider tests/dist --junitxml="$reports/dist.xml" || status=1
    summary+=("$($py scripts/count_results.py dist "$reports")")
  else
    status=1; summary+=("dist: 0 passed, 1 failed, 0 skipped (scripts/dist.sh failed)")
  fi
fi

stop_display

# The test pages in headless Chromium, against the Linux program.
note "test pages in Chromium"
reports="$root/build/linux/page-reports"
rm -rf "$reports"; mkdir -p "$reports"
(cd tests/pages && node --test --test-reporter=dot --test-reporter-destination=stdout \
  --test-reporter=junit --test-reporter-destination="$reports/pages.xml") || status=1
summary+=("$($py scripts/count_results.py pages "$reports")")

# The client library for pages: in Node and in Chromium, against the Linux program; its package as
# npm, TypeScript and Vite take it; then its size as a page ships it.
note "client library"
reports="$root/build/linux/client-reports"
rm -rf "$reports"; mkdir -p "$reports"
node --test --test-reporter=dot --test-reporter-destination=stdout \
  --test-reporter=junit --test-reporter-destination="$reports/client.xml" tests/client tests/package || status=1
summary+=("$($py scripts/count_results.py client "$reports")")
node tests/package/size.mjs || status=1

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
