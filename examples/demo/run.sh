#!/bin/sh
# Runs kavelo on the demo company: a fresh company database and interchange
# folder under BUILD_DIR/demo, then the reports, the rows of every table, the
# balances of one account at each of its levels and the check of every balance.
# The journal is the hand-written APU.TXT followed by LINES generated lines
# (3000 unless given).
#   examples/demo/run.sh BUILD_DIR [LINES]
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "Uso: $0 BUILD_DIR [LINEAS]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
lines=${2:-3000}
here=$(cd "$(dirname "$0")" && pwd)
demo="$build/demo"
interchange="$demo/intercambio"
data="$demo/datos"
database="$data/DEMO01.MDB"
connection="$demo/kavelo.conn"

rm -rf "$demo"
mkdir -p "$interchange" "$data"

"$build/kavelo-db" create "$database"
"$build/kavelo-db" sql "$database" "$here/company.sql"
for name in MAE CLI PRO APU IVR IVS; do
  cp "$here/$name.TXT" "$interchange/"
done
# The generated lines come from the sample data of kavelo-db: entries of 2 to
# 6 lines over four journals and twelve months, most numbered by the import.
"$build/kavelo-db" sample "$demo/muestra" --records "$lines" --seed 2011 >/dev/null
cat "$demo/muestra/APU.TXT" >> "$interchange/APU.TXT"
# The database as it was before the import, for the check of the balances.
cp "$database" "$demo/ANTES.MDB"

# The connection file is Windows-1252, so the folder's name is written in it too;
# the sed replacement escapes \, & and the | delimiter.
if ! demo_1252=$(printf '%s' "$demo" | iconv -f UTF-8 -t WINDOWS-1252); then
  echo "$0: la ruta $demo no se puede escribir en Windows-1252" >&2
  exit 1
fi
replacement=$(printf '%s\n' "$demo_1252" | LC_ALL=C sed 's/[\\&|]/\\&/g')
LC_ALL=C sed "s|@DIR@|$replacement|g" "$here/kavelo.conn.in" > "$connection"

echo "kavelo $connection ($(wc -l < "$interchange/APU.TXT") apuntes)"
# Exit status 1 only says that ERRORES.TXT was written: the reports still follow.
status=0
start=$(date +%s.%N)
"$build/kavelo" "$connection" || status=$?
end=$(date +%s.%N)
echo "kavelo tardó $(echo "$start $end" | awk '{ printf "%.2f", $2 - $1 }') s"

show() {
  echo
  echo "== $1"
  iconv -f WINDOWS-1252 -t UTF-8 "$interchange/$1" | tr -d '\r'
}
if [ -f "$interchange/FINAL.TXT" ]; then
  show FINAL.TXT
else
  echo
  echo "== FINAL.TXT no existe"
fi
if [ -f "$interchange/ERRORES.TXT" ]; then
  show ERRORES.TXT
fi

echo
echo "== Filas de $database"
"$build/kavelo-db" count "$database"

echo
echo "== Saldos de la cuenta 4300001 y de sus niveles"
"$build/kavelo-db" balances "$database" 4300001 430 43 4

echo
echo "== Comprobación de los saldos"
check=0
"$build/kavelo-db" verify "$database" --baseline "$demo/ANTES.MDB" || check=$?

echo
echo "kavelo terminó con el estado $status"
if [ "$check" -ne 0 ]; then
  exit "$check"
fi
# 2: the reports could not be written; anything above it: kavelo did not end
# by itself (a signal, a crash). Both fail the demo.
if [ "$status" -gt 1 ]; then
  exit "$status"
fi
