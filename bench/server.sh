#!/usr/bin/env bash
# kavelo on a database server beside kavelo on an SQLite file: the same
# sample data (kavelo-db sample, N records a file), a fresh company for every
# run, one interchange file at a time, on a throwaway PostgreSQL cluster
# (scripts/pg-cluster.sh) and on a database file. Prints records per second
# for both and their ratio, and writes them into docs/performance.md.
#
#   bench/server.sh BUILD_DIR [--records N] [--no-docs] [--docs FILE]
#
# BUILD_DIR must hold a Release build of kavelo and kavelo-db.
set -euo pipefail

usage() {
  echo "Uso: $0 BUILD_DIR [--records N] [--no-docs] [--docs ARCHIVO]" >&2
  exit 2
}

[ $# -ge 1 ] || usage
invocation="bench/server.sh $(basename "$1")${2:+ ${*:2}}"
build=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
records=20000
docs="$root/docs/performance.md"
write_docs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --records) [ $# -ge 2 ] || usage; records=$2; shift ;;
    --no-docs) write_docs=0 ;;
    --docs) [ $# -ge 2 ] || usage; docs=$2; shift ;;
    *) usage ;;
  esac
  shift
done
case "$records" in '' | *[!0-9]*) usage ;; esac
[ "$records" -ge 20 ] || { echo "$0: --records must be at least 20" >&2; exit 2; }
command_line=${BENCH_COMMAND:-$invocation}

kavelo=$build/kavelo
kavelo_db=$build/kavelo-db
for program in "$kavelo" "$kavelo_db"; do
  [ -x "$program" ] || { echo "$0: falta $program (compílelo antes)" >&2; exit 1; }
done
say() { printf '%s\n' "$*" >&2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kavelo-bench-server.XXXXXX")
cluster=$work/pg
cleanup() {
  "$root/scripts/pg-cluster.sh" stop "$cluster" > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

say "Servidor PostgreSQL de usar y tirar..."
"$root/scripts/pg-cluster.sh" start "$cluster" > /dev/null
export ODBCSYSINI=$cluster
admin=$(cat "$cluster/connection")
port=$(cat "$cluster/port")
psql_bin=$(ls -d /usr/lib/postgresql/*/bin 2> /dev/null | sort -V | tail -n 1)/psql
[ -x "$psql_bin" ] || psql_bin=psql

say "Generando $records registros por archivo..."
data=$work/data
"$kavelo_db" sample "$data" --records "$records" --seed 1 > /dev/null

made=0
# prepare STORE NUMBERING FILE: a run folder with a fresh company (a database
# file, or a new server database and its link file) and only FILE in its
# interchange folder.
prepare() {
  local store=$1 numbering=$2 file=$3 run=$work/run
  rm -rf "$run"
  mkdir -p "$run/in" "$run/datos"
  local target=$run/datos/MUESTRA01.MDB
  if [ "$store" = sqlite ]; then
    "$kavelo_db" create "$target"
  else
    made=$((made + 1))
    local name=bench_$made
    "$psql_bin" -q -h 127.0.0.1 -p "$port" -U postgres -d postgres -c "CREATE DATABASE $name" > /dev/null
    printf 'ODBC;%s\r\n' "${admin/Database=postgres/Database=$name}" > "$target"
    chmod 600 "$target"
    "$kavelo_db" create "ODBC;${admin/Database=postgres/Database=$name}"
  fi
  "$kavelo_db" sql "$target" "$data/company.sql"
  if [ "$numbering" = counter ]; then
    echo "UPDATE F_AUT SET NAAAUT = 1, NAMAUT = 0 WHERE CODAUT = 1;" | "$kavelo_db" sql "$target" -
  fi
  ln -s "$data/$file" "$run/in/$file"
  printf '%s\r\n' "$run/in/" "$run/datos/" MUESTRA 01 '|' "kavelo bench" "Comercial de muestra" "bench" > "$run/kavelo.conn"
}

# timed TABLE: kavelo on the prepared run; prints its seconds. Fails unless
# TABLE holds the run's records and the only errors are the five missing files.
timed() {
  local table=$1 run=$work/run start end status=0
  start=$EPOCHREALTIME
  "$kavelo" "$run/kavelo.conn" < /dev/null > "$work/out" 2>&1 || status=$?
  end=$EPOCHREALTIME
  if [ "$status" -gt 1 ] || [ "$(tr -d '\r' < "$run/in/ERRORES.TXT" | grep -c .)" -ne 5 ]; then
    say "kavelo terminó con errores inesperados:"; cat "$work/out" >&2
    iconv -f WINDOWS-1252 -t UTF-8 "$run/in/ERRORES.TXT" >&2 || true
    exit 1
  fi
  local rows
  rows=$("$kavelo_db" count "$run/datos/MUESTRA01.MDB" | awk -v t="$table" '$1 == t { print $2 }')
  [ "$rows" = "$records" ] || { say "$table tiene $rows filas; se esperaban $records"; exit 1; }
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

report=$work/report
{
  echo "Measured $(date -u '+%F %H:%M') UTC with \`$command_line\`: $records records per file, seed 1, one run each, on $(nproc) cores; PostgreSQL $("$psql_bin" --version | awk '{ print $3 }') on the same machine (127.0.0.1, fsync off), reached through psqlODBC."
  echo
  echo "| file | SQLite (s) | SQLite (records/s) | server (s) | server (records/s) | server / SQLite |"
  echo "|---|---:|---:|---:|---:|---:|"
} > "$report"
for case in "customers, all new|date|CLI.TXT|F_CLI" "journal, per journal and date|date|APU.TXT|F_APU" \
            "journal, journal counter|counter|APU.TXT|F_APU"; do
  IFS='|' read -r label numbering file table <<< "$case"
  say "$label..."
  prepare sqlite "$numbering" "$file"
  local_seconds=$(timed "$table")
  prepare server "$numbering" "$file"
  server_seconds=$(timed "$table")
  awk -v l="$label" -v a="$local_seconds" -v b="$server_seconds" -v n="$records" 'BEGIN {
    printf "| %s | %.2f | %d | %.2f | %d | %.1f |\n", l, a, n / a, b, n / b, b / a }' >> "$report"
done
cat "$report"

if [ "$write_docs" = 1 ]; then
  begin='<!-- bench-server:begin -->'
  end='<!-- bench-server:end -->'
  if [ ! -f "$docs" ] || ! grep -q "$begin" "$docs"; then
    { [ -f "$docs" ] && cat "$docs"; printf '\n%s\n%s\n' "$begin" "$end"; } > "$work/docs.new"
    cp "$work/docs.new" "$docs"
  fi
  awk -v begin="$begin" -v end="$end" -v report="$report" '
    $0 == begin { print; while ((getline line < report) > 0) print line; skipping = 1; next }
    $0 == end { skipping = 0 }
    !skipping { print }' "$docs" > "$work/docs.new"
  cp "$work/docs.new" "$docs"
  say "Cifras escritas en $docs"
fi
