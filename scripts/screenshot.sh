#!/bin/sh
# Takes a screenshot of kavelo's window in the middle of a run: the demo
# company with a long chart of accounts, imported on a virtual display.
#   scripts/screenshot.sh BUILD_DIR [OUTPUT.png]      (default docs/window.png)
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "Uso: $0 BUILD_DIR [SALIDA.png]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
output=${2:-$source/docs/window.png}
demo="$source/examples/demo"

fail() {
  echo "$0: $*" >&2
  exit 1
}
for tool in Xvfb xdotool import identify iconv; do
  command -v "$tool" >/dev/null || fail "falta $tool: ejecute scripts/install-packages.sh"
done

work=$(mktemp -d)
xvfb_pid=""
kavelo_pid=""
cleanup() {
  if [ -n "$kavelo_pid" ]; then kill "$kavelo_pid" 2>/dev/null || true; wait "$kavelo_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The demo company, with enough customer accounts that the run lasts a few
# seconds.
mkdir -p "$work/intercambio" "$work/datos"
"$build/kavelo-db" create "$work/datos/DEMO01.MDB" >/dev/null
"$build/kavelo-db" sql "$work/datos/DEMO01.MDB" "$demo/company.sql" >/dev/null
for name in MAE CLI PRO APU IVR IVS; do
  cp "$demo/$name.TXT" "$work/intercambio/"
done
awk 'BEGIN { for (i = 1; i <= 500000; i++) printf "M001|%d|Cliente número %d||1|0|0|\r\n", 4300000 + i, i }' |
  iconv -f UTF-8 -t WINDOWS-1252 >> "$work/intercambio/MAE.TXT"
work_1252=$(printf '%s' "$work" | iconv -f UTF-8 -t WINDOWS-1252)
replacement=$(printf '%s\n' "$work_1252" | LC_ALL=C sed 's/[\\&|]/\\&/g')
LC_ALL=C sed "s|@DIR@|$replacement|g" "$demo/kavelo.conn.in" > "$work/kavelo.conn"

# A display of our own: Xvfb writes the number it took on descriptor 3.
# -noreset: the server does not start afresh when a client leaves.
Xvfb -displayfd 3 -screen 0 800x300x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
tries=0
until grep -q . "$work/display" 2>/dev/null; do
  tries=$((tries + 1))
  [ "$tries" -le 100 ] || fail "Xvfb no arrancó"
  sleep 0.1
done
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

"$build/kavelo" "$work/kavelo.conn" >/dev/null 2>&1 &
kavelo_pid=$!
# The caption is line 6 of the connection file.
window=$(timeout 20 xdotool search --sync --name '^Doveduzi Kavelo .* empresa de demostraci' | head -n 1) ||
  fail "la ventana no apareció"
# The import starts a second after the window shows: take it well inside.
sleep 2.5
kill -0 "$kavelo_pid" 2>/dev/null || fail "la importación terminó antes de la captura"
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"
echo "$output: $(identify -format '%wx%h' "$output")"
