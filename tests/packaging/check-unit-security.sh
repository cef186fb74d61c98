#!/usr/bin/env bash
# Rates the service unit with systemd-analyze's security review (offline, on the file itself) and
# fails when its overall exposure is above 2.0 ("OK" or better). Prints the review either way.
#   check-unit-security.sh UNIT-FILE
set -euo pipefail
unit=$1
if ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze is missing (Debian package systemd)" >&2
  exit 1
fi
# --threshold counts in tenths: 20 is an exposure of 2.0.
status=0
systemd-analyze security --offline=true --threshold=20 "$unit" || status=$?
if [ "$status" -ne 0 ]; then
  echo "FAIL: $(basename "$unit") is rated above 2.0" >&2
  exit 1
fi
