#!/usr/bin/env bash
# Installs what is missing, builds the benchmark programs (Release) into build-bench/ and runs
# every bench_* program found in build-bench/bench/, one after the other. Each prints its figures;
# the script fails when one of them fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir="$here/build-bench"
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release

# One program per bench/bench_<name>.cpp: build only those.
targets=()
for src in "$here"/bench/bench_*.cpp; do
  [ -e "$src" ] || continue
  targets+=("$(basename "$src" .cpp)")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "No benchmark programs."
  exit 0
fi
cmake --build "$dir" --parallel "$(nproc)" --target "${targets[@]}"

export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
status=0
for prog in "$dir"/bench/bench_*; do
  [ -f "$prog" ] && [ -x "$prog" ] || continue
  echo "== $(basename "$prog")"
  if ! "$prog"; then
    echo "!! $(basename "$prog") failed"
    status=1
  fi
  echo
done
exit $status
