#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR with the prefix /usr and checks what lands there:
# the file list, the desktop entry, the AppStream metadata, the systemd unit, and that the
# installed program answers --version without a display.
# Usage: check-install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
(cd "$dest" && find . -type f -o -type l | sed 's|^\./||' | sort) > "$dest.list"
if ! diff -u "$source/tests/packaging/installed-files.txt" "$dest.list"; then
  echo "FAIL: the installed files differ from tests/packaging/installed-files.txt"
  rm -f "$dest.list"
  exit 1
fi
rm -f "$dest.list"

desktop-file-validate "$dest/usr/share/applications/example.velmora.Tarvik.desktop"
appstreamcli validate --no-net --pedantic "$dest/usr/share/metainfo/example.velmora.Tarvik.metainfo.xml"
grep -q '^ExecStart=tarvik --headless' "$dest/usr/lib/systemd/system/tarvik.service"

# The installed program starts from its installed place without a display.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$dest/usr/bin/tarvik" --version)
case "$version" in
  "Tarvik 1."*) ;;
  *) echo "FAIL: --version printed '$version'"; exit 1 ;;
esac
echo "install: ok"
