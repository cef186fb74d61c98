#!/usr/bin/env bash
# Installs what is missing, builds the program (Release, without tests and benchmarks) into
# build-package/ and makes the Debian package there with CPack: build-package/tarvik_<version>_<arch>.deb
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
dir="$here/build-package"
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIK_BUILD_TESTS=OFF -DTARVIK_BUILD_BENCH=OFF
cmake --build "$dir" --parallel "$(nproc)"
(cd "$dir" && cpack -G DEB)
ls "$dir"/tarvik_*.deb
