#!/bin/sh
# Runs kavelo on the demo company: a fresh company database and interchange
# folder under BUILD_DIR/demo, then the reports and the rows of every table.
#   examples/demo/run.sh BUILD_DIR
set -eu

if [ $# -ne 1 ]; then
  echo "Uso: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
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

# The connection file is Windows-1252, so the folder's name is written in it too;
# the sed replacement escapes \, & and the | delimiter.
if ! demo_1252=$(printf '%s' "$demo" | iconv -f UTF-8 -t WINDOWS-1252); then
  echo "$0: la ruta $demo no se puede escribir en Windows-1252" >&2
  exit 1
fi
replacement=$(printf '%s\n' "$demo_1252" | LC_ALL=C sed 's/[\\&|]/\\&/g')
LC_ALL=C sed "s|@DIR@|$replacement|g" "$here/kavelo.conn.in" > "$connection"

echo "kavelo $connection"
# Exit status 1 only says that ERRORES.TXT was written: the reports still follow.
status=0
"$build/kavelo" "$connection" || status=$?

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
echo "kavelo terminó con el estado $status"
# 2: the reports could not be written; anything above it: kavelo did not end
# by itself (a signal, a crash). Both fail the demo.
if [ "$status" -gt 1 ]; then
  exit "$status"
fi
