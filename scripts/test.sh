#!/usr/bin/env bash
# Installs what is missing, builds from scratch, and runs the whole test suite.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
rm -rf "$here/build-test"
"$here/scripts/build.sh" "$here/build-test" -DTARVIK_WERROR=ON
cd "$here/build-test"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j "$(nproc)"
