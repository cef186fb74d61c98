#!/usr/bin/env bash
# Builds the Debian package of the build with CPack into a temporary folder and runs lintian on it
# (when lintian is installed): no error may be reported.
# Usage: check-deb.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
deb=$(find "$out" -maxdepth 1 -name 'tarvik_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "FAIL: no package built"; exit 1; }
dpkg-deb --field "$deb" Package Version Depends
echo "size: $(stat -c %s "$deb") bytes"
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb"
  echo "lintian: no errors"
else
  echo "lintian not installed: package built, not checked"
fi
