#!/usr/bin/env bash
# Builds the command-message fuzzer with clang into build/fuzz and runs it for a bounded time on a
# scratch copy of its seed corpus:  fuzz.sh [seconds]   (default 60)
# Exits non-zero on any finding (crash, sanitizer report, leak, hang, failed check) or failed build;
# the reproducer is kept in build/fuzz/findings/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
case "$seconds" in
  '' | *[!0-9]* | 0) echo "fuzz.sh: the time must be a whole number of seconds, at least 1" >&2; exit 2 ;;
esac

dir="$root/build/fuzz"
src="$root/service/fuzz"
mkdir -p "$dir"
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; exit 1; }
fi
cmake --build "$dir" -- --quiet

# libFuzzer adds what it finds to the corpus folder: work on a copy, never on the seeds.
work=$(mktemp -d "${TMPDIR:-/tmp}/kavenor-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -r "$src/corpus" "$work/corpus"
findings="$dir/findings"
rm -rf "$findings"
mkdir -p "$findings"
log="$dir/fuzz.log"

status=0
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$dir/command_params_fuzzer" "$work/corpus" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=1024 \
    -dict="$src/command_params.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
    >"$log" 2>&1 || status=$?

# A finding is a non-zero exit, a saved reproducer, or a report the run printed.
if [ "$status" -eq 0 ] && [ -n "$(ls -A "$findings")" ]; then status=1; fi
if [ "$status" -eq 0 ] && grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log"; then
  status=1
fi
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "fuzz.sh: FINDING (exit $status); reproducers in $findings, full log $log" >&2
  exit 1
fi
grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | tr '\n' ' '
echo
echo "fuzz.sh: no finding in ${seconds} s ($(ls "$work/corpus" | wc -l) inputs in the corpus at the end)"
