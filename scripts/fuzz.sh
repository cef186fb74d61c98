#!/usr/bin/env bash
# Fuzzes the routines that read outside text (number forms, settings values, urls.dat, the keep-last
# file, the sub-log, the service answer, WHOIS answers, report records and query addresses).
#
#   scripts/fuzz.sh [seconds per target, default 60] [target ...]
#
# Installs what is missing (the Qt packages, clang and its fuzzer runtime), builds the libFuzzer
# targets of fuzz/ with clang and the address and undefined-behaviour sanitizers into build-fuzz/,
# and runs each target for the given time, one after the other. The seeds of fuzz/corpus/<target>/
# are only read: inputs the fuzzer finds go to build-fuzz/corpus/<target>/ and crashing inputs to
# build-fuzz/artifacts/. Prints per target the number of runs and whether it found anything; exits
# non-zero when a target crashed, hung or broke one of its properties.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
dir="$here/build-fuzz"

"$here/scripts/install-deps.sh"
"$here/scripts/install-deps.sh" clang libclang-rt-14-dev

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in "$here"/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi

CC=clang CXX=clang++ cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVIK_FUZZ=ON -DTARVIK_BUILD_TESTS=OFF -DTARVIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --parallel "$(nproc)" --target "${targets[@]}"

# Qt is built with gcc and without the sanitizers; nothing in it has needed a suppression so far.
# Undefined behaviour aborts (-fno-sanitize-recover), so it counts as a crash.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

status=0
summary=()
mkdir -p "$dir/artifacts"
for t in "${targets[@]}"; do
  corpus="$dir/corpus/$t"
  mkdir -p "$corpus"
  log="$dir/artifacts/$t.log"
  echo "== $t: ${seconds}s"
  rc=0
  # Found inputs go to the first corpus folder; the seeds of the repo are read only.
  "$dir/fuzz/$t" "$corpus" "$here/fuzz/corpus/$t" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/$t-" >"$log" 2>&1 || rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1 || true)
  [ -n "$runs" ] || runs=$(grep -o '^#[0-9]*' "$log" | tr -d '#' | tail -n 1 || true)
  if [ "$rc" -eq 0 ]; then
    line=$(printf '%-22s %10s runs  nothing found' "$t" "${runs:-?}")
  else
    status=1
    artifact=$(grep -o "Test unit written to [^ ]*" "$log" | tail -n 1 | sed 's/Test unit written to //' || true)
    line=$(printf '%-22s %10s runs  FOUND (exit %s) %s; log %s' "$t" "${runs:-?}" "$rc" "$artifact" "$log")
    grep -E 'property failed|ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)|runtime error' "$log" | head -n 3 || true
  fi
  echo "$line"
  summary+=("$line")
done

echo
echo "== Summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
exit $status
