#!/usr/bin/env bash
# Installs what is missing, checks the layers of src/, builds from scratch and runs the whole test
# suite twice: the CMake preset "ci" (warnings as errors, the benchmarks built too so that they do
# not fall behind), then the preset "sanitize" (AddressSanitizer and UndefinedBehaviorSanitizer).
# TARVIK_SKIP_SANITIZE=1 runs the plain build only.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
scripts/install-deps.sh
jobs=$(nproc)
# Which folder of src/ may include which: checked first, it takes a moment and needs no build.
bash scripts/check-layers.sh

rm -rf build-test
cmake --preset ci
cmake --build --preset ci --parallel "$jobs"
ctest --preset ci -j "$jobs"

if [ "${TARVIK_SKIP_SANITIZE:-0}" != 1 ]; then
  rm -rf build-sanitize
  cmake --preset sanitize
  cmake --build --preset sanitize --parallel "$jobs"
  ctest --preset sanitize -j "$jobs"
fi
