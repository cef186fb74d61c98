#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs the whole test suite twice: a plain build
# with warnings as errors, then a build with AddressSanitizer and UndefinedBehaviorSanitizer.
# TARVIK_SKIP_SANITIZE=1 runs the plain build only.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
scripts/install-deps.sh
jobs=$(nproc)
# Which folder of src/ may include which: checked first, it takes a moment and needs no build.
bash scripts/check-layers.sh

rm -rf build-test
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_WERROR=ON -DTARVIK_BUILD_BENCH=OFF
cmake --build build-test --parallel "$jobs"
(cd build-test && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j "$jobs")

if [ "${TARVIK_SKIP_SANITIZE:-0}" != 1 ]; then
  rm -rf build-sanitize
  cmake --preset sanitize
  cmake --build --preset sanitize --parallel "$jobs"
  ctest --preset sanitize --timeout 600 -j "$jobs"
fi
