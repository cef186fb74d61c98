#!/usr/bin/env bash
# Takes the README's pictures of the Sites window and the chart from the program itself, under Xvfb
# (a 1920 x 1080 screen, no window manager): at scale 1, at scale 2 (QT_SCALE_FACTOR=2) and with a
# dark Fusion palette (qt6ct with its "darker" colours). Each run gets a fresh program folder from
# tarvikscreenshots (a day of four sites) and fresh settings, opens the Sites window with Ctrl+I,
# selects two sites from the keyboard, opens their chart with Enter and rests the mouse on it.
#
#   bash scripts/screenshots.sh [BUILD]     BUILD: a configured build folder (default build-test)
#
# Installs xvfb, xdotool, imagemagick and qt6ct with apt-get when missing. Writes
# docs/screenshots/{sites,chart}{,-2x,-dark}.png.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-test}
out=$here/docs/screenshots
mkdir -p "$out"

missing=()
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v xdotool >/dev/null || missing+=(xdotool)
command -v import >/dev/null || missing+=(imagemagick)
dpkg -s qt6ct >/dev/null 2>&1 || missing+=(qt6ct)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y "${missing[@]}"
fi
cmake --build "$build" --target tarvik tarvikscreenshots

display=:97
Xvfb $display -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=""
work=$(mktemp -d)
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
sleep 1

# A window's picture from the screen, with whatever lies over it (a tooltip).
picture() {
  local window=$1 file=$2
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
}

shoot() {
  local suffix=$1 scale=$2 theme=$3
  local dir=$work/run$suffix
  "$build/bench/tarvikscreenshots" "$dir/home" >/dev/null
  mkdir -p "$dir/config/Velmora" "$dir/config/qt6ct"
  {
    echo "[SitesWindow]"
    echo "Span=Last24Hours"
    # At scale 1 a place that shows every column and the incidents below them; at scale 2 the
    # windows find their own (90 % of the screen at most).
    if [ "$scale" = 1 ]; then
      echo 'Geometry="10,10,1720,640"'
      echo "[Chart]"
      echo 'Geometry="10,10,1100,620"'
    fi
  } >"$dir/config/Velmora/vmTARVIK.conf"
  printf '[Appearance]\ncolor_scheme_path=/usr/share/qt6ct/colors/darker.conf\ncustom_palette=true\nstyle=Fusion\n' \
    >"$dir/config/qt6ct/qt6ct.conf"
  local platformtheme=""
  [ "$theme" = dark ] && platformtheme=qt6ct
  TARVIK_HOME=$dir/home XDG_CONFIG_HOME=$dir/config QT_SCALE_FACTOR=$scale QT_QPA_PLATFORMTHEME=$platformtheme \
    "$build/src/tarvik" >/dev/null 2>&1 &
  app=$!
  local main sites chart
  main=$(xdotool search --sync --onlyvisible --name '^Tarvik vok$' | head -n 1)
  sleep 1
  xdotool windowfocus --sync "$main"
  xdotool key --clearmodifiers ctrl+i
  sites=$(xdotool search --sync --onlyvisible --name '^Sites$' | head -n 1)
  xdotool windowfocus --sync "$sites"
  sleep 2
  # The span box has the focus: Tab to the table, the first line (api) and, two lines on, the shop.
  xdotool key Tab Down Up ctrl+Down ctrl+Down ctrl+space
  sleep 1
  picture "$sites" "$out/sites$suffix.png"
  xdotool key Return
  chart=$(xdotool search --sync --onlyvisible --name '^Chart - ' | head -n 1)
  sleep 2
  eval "$(xdotool getwindowgeometry --shell "$chart")"
  # Rest the mouse over the shop's slow hour (about ten hours ago) on its line.
  xdotool mousemove $((X + WIDTH * 58 / 100)) $((Y + HEIGHT * 40 / 100))
  sleep 0.3
  xdotool mousemove $((X + WIDTH * 58 / 100 + 2)) $((Y + HEIGHT * 40 / 100))
  sleep 2
  picture "$chart" "$out/chart$suffix.png"
  kill "$app"
  wait "$app" 2>/dev/null || true
  app=""
}

shoot "" 1 light
shoot -2x 2 light
shoot -dark 1 dark
echo "pictures written to $out"
