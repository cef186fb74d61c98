#!/usr/bin/env bash
# Checks the layers of src/ (docs/ARCHITECTURE.md): every #include of a source file under src/ may
# name only its own folder or a folder below it, and the widget-free folders include no Qt header
# outside Qt Core, Qt Network and Qt Sql (and Qt D-Bus in alerts/, which talks to the desktop's
# notification service). Prints every offending include with the rule it breaks and
# exits 1; prints one line and exits 0 when all is well.
#
# The folders, bottom to top; results and history stand side by side and do not include each other:
#   platform < core < settings < results, history < services < engine < alerts < ui < app
# platform, core, settings, results, history, services, engine and alerts make the widget-free core.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here/src"

declare -A level=([platform]=0 [core]=1 [settings]=2 [results]=3 [history]=3 [services]=4 [engine]=5 [alerts]=6
                  [ui]=7 [app]=8)
widget_free_top=6
allowed_qt="QtCore QtNetwork QtSql"
# Qt modules a widget-free folder may use beyond those.
declare -A extra_qt=([alerts]="QtDBus")

qt_headers=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || true)
if [ -z "$qt_headers" ] || [ ! -d "$qt_headers" ]; then
  qt_headers=$(ls -d /usr/include/*/qt6 2>/dev/null | head -n 1 || true)
fi
if [ -z "$qt_headers" ] || [ ! -d "$qt_headers/QtCore" ]; then
  echo "check-layers: the Qt headers were not found (qmake6 -query QT_INSTALL_HEADERS)" >&2
  exit 2
fi

# The Qt module that holds an angle-bracket header, or nothing when the header is not Qt's.
qt_module() {
  local name=$1
  case $name in
  Qt*/*) echo "${name%%/*}"; return ;;
  esac
  local found
  for found in "$qt_headers"/Qt*/"$name"; do
    [ -f "$found" ] || continue
    found=${found%/*}
    echo "${found##*/}"
    return
  done
}

failures=0
fail() {
  echo "$1: $2" >&2
  failures=$((failures + 1))
}

for folder in */; do
  folder=${folder%/}
  if [ -z "${level[$folder]+set}" ]; then
    fail "src/$folder" "a folder the layers do not know: give it its place in scripts/check-layers.sh and docs/ARCHITECTURE.md"
    continue
  fi
done

while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  where="src/$file:$line"
  folder=${file%%/*}
  [ -n "${level[$folder]+set}" ] || continue
  if [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
    target=${BASH_REMATCH[1]}
    if [[ $target != */* ]]; then
      fail "$where" "#include \"$target\" does not name its folder (write \"$folder/$target\")"
      continue
    fi
    to=${target%%/*}
    if [ -z "${level[$to]+set}" ]; then
      fail "$where" "#include \"$target\" names no folder of src/"
    elif [ "$to" != "$folder" ] && [ "${level[$to]}" -ge "${level[$folder]}" ]; then
      fail "$where" "#include \"$target\": $folder/ may not include $to/ (it stands at or above $folder/)"
    fi
  elif [[ $text =~ \#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
    [ "${level[$folder]}" -le "$widget_free_top" ] || continue
    target=${BASH_REMATCH[1]}
    module=$(qt_module "$target")
    allowed="$allowed_qt ${extra_qt[$folder]:-}"
    if [ -n "$module" ] && [[ " $allowed " != *" $module "* ]]; then
      fail "$where" "#include <$target> is part of $module: $folder/ is widget-free (only ${allowed% })"
    fi
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include' --include='*.h' --include='*.cpp' . | sed 's#^\./##')

if [ "$failures" -gt 0 ]; then
  echo "check-layers: $failures include(s) break the layers of src/ (see docs/ARCHITECTURE.md)" >&2
  exit 1
fi
echo "check-layers: the includes of src/ keep to their layers"
