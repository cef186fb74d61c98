#!/usr/bin/env bash
# Installs what is missing, builds the program (without the tests and benchmarks) and starts it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build" -DTARVIK_BUILD_TESTS=OFF -DTARVIK_BUILD_BENCH=OFF
exec "$here/build/src/tarvik"
