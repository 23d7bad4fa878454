#!/usr/bin/env bash
# kavelo on a database server beside kavelo on an SQLite file: the same
# sample data (kavelo-db sample, N records a file), a fresh company for every
# run, one interchange file at a time, on a throwaway PostgreSQL cluster
# (scripts/pg-cluster.sh) and on a database file; beside them the server's own
# COPY of the same customers into a table of the same columns and key, and
# the journal of ten times the records on the server. Prints the figures and
# each target met or missed, and writes them into docs/performance.md.
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
admin=$(cat "$cluster/connection")
port=$(cat "$cluster/port")
psql_bin=$(ls -d /usr/lib/postgresql/*/bin 2> /dev/null | sort -V | tail -n 1)/psql
[ -x "$psql_bin" ] || psql_bin=psql

say "Generando $records y $((records * 10)) registros por archivo..."
data=$work/data
"$kavelo_db" sample "$data" --records "$records" --seed 1 > /dev/null
large=$work/large
"$kavelo_db" sample "$large" --records "$((records * 10))" --seed 1 > /dev/null

made=0
# prepare STORE NUMBERING FILE [DATA]: a run folder with a fresh company (a
# database file, or a new server database and its link file) and only FILE of
# DATA (the sample of N records by default) in its interchange folder.
prepare() {
  local store=$1 numbering=$2 file=$3 from=${4:-$data} run=$work/run
  rm -rf "$run"
  mkdir -p "$run/in" "$run/datos"
  local target=$run/datos/MUESTRA01.MDB
  if [ "$store" = sqlite ]; then
    "$kavelo_db" create "$target"
  else
    made=$((made + 1))
    name=bench_$made
    "$psql_bin" -q -h 127.0.0.1 -p "$port" -U postgres -d postgres -c "CREATE DATABASE $name" > /dev/null
    printf 'ODBC;%s\r\n' "${admin/Database=postgres/Database=$name}" > "$target"
    chmod 600 "$target"
    "$kavelo_db" create "ODBC;${admin/Database=postgres/Database=$name}"
  fi
  "$kavelo_db" sql "$target" "$data/company.sql"
  if [ "$numbering" = counter ]; then
    echo "UPDATE F_AUT SET NAAAUT = 1, NAMAUT = 0 WHERE CODAUT = 1;" | "$kavelo_db" sql "$target" -
  fi
  ln -s "$from/$file" "$run/in/$file"
  printf '%s\r\n' "$run/in/" "$run/datos/" MUESTRA 01 '|' "kavelo bench" "Comercial de muestra" "bench" > "$run/kavelo.conn"
}

# timed TABLE [ROWS [OPTION]]: kavelo (with OPTION, such as --check) on the
# prepared run; prints its seconds. Fails unless TABLE holds ROWS rows (the
# run's records by default) and the only errors are the five missing files.
timed() {
  local table=$1 expected=${2:-$records} option=${3:-} run=$work/run start end status=0
  start=$EPOCHREALTIME
  "$kavelo" $option "$run/kavelo.conn" < /dev/null > "$work/out" 2>&1 || status=$?
  end=$EPOCHREALTIME
  if [ "$status" -gt 1 ] || [ "$(tr -d '\r' < "$run/in/ERRORES.TXT" | grep -c .)" -ne 5 ]; then
    say "kavelo terminó con errores inesperados:"; cat "$work/out" >&2
    iconv -f WINDOWS-1252 -t UTF-8 "$run/in/ERRORES.TXT" >&2 || true
    exit 1
  fi
  local rows
  rows=$("$kavelo_db" count "$run/datos/MUESTRA01.MDB" | awk -v t="$table" '$1 == t { print $2 }')
  [ "$rows" = "$expected" ] || { say "$table tiene $rows filas; se esperaban $expected"; exit 1; }
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

# copy_seconds: the server's own COPY of the customers kavelo stored in the
# last server database into a new table of the same columns, types and keys.
copy_seconds() {
  local database=$1 rows=$work/customers.copy
  local psql=("$psql_bin" -q -h 127.0.0.1 -p "$port" -U postgres -d "$database")
  "${psql[@]}" -c "\\copy f_cli TO '$rows'"
  "${psql[@]}" -c "CREATE TABLE copied (LIKE f_cli INCLUDING ALL)"
  local start end
  start=$EPOCHREALTIME
  "${psql[@]}" -c "\\copy copied FROM '$rows'"
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

report=$work/report
{
  echo "Measured $(date -u '+%F %H:%M') UTC with \`$command_line\`: $records records per file, seed 1, one run each, on $(nproc) cores; PostgreSQL $("$psql_bin" --version | awk '{ print $3 }') on the same machine (127.0.0.1, fsync off), reached through libpq."
  echo
  echo "| run | SQLite (s) | server (s) | server (records/s) | server / SQLite |"
  echo "|---|---:|---:|---:|---:|"
} > "$report"
targets=$work/targets
: > "$targets"
# target LABEL MEASURED RATIO LIMIT: a line of the targets table.
target() {
  awk -v l="$1" -v m="$2" -v r="$3" -v x="$4" 'BEGIN {
    printf "| %s | %s | %.2f | ≤ %s | %s |\n", l, m, r, x, (r <= x ? "met" : "missed") }' >> "$targets"
}
for case in "customers, all new|date|CLI.TXT|F_CLI" "journal, per journal and date|date|APU.TXT|F_APU" \
            "journal, journal counter|counter|APU.TXT|F_APU"; do
  IFS='|' read -r label numbering file table <<< "$case"
  say "$label..."
  prepare sqlite "$numbering" "$file"
  local_seconds=$(timed "$table")
  prepare server "$numbering" "$file"
  server_seconds=$(timed "$table")
  awk -v l="$label" -v a="$local_seconds" -v b="$server_seconds" -v n="$records" 'BEGIN {
    printf "| %s | %.2f | %.2f | %d | %.1f |\n", l, a, b, n / b, b / a }' >> "$report"
  case $file in
    CLI.TXT)
      copied=$(copy_seconds "$name")
      awk -v c="$copied" -v n="$records" 'BEGIN {
        printf "| anchor: the server'"'"'s COPY of the same customers | - | %.2f | %d | - |\n", c, n / c }' >> "$report"
      target "customers all new ≤ 4 × the server's COPY" "kavelo $server_seconds s / COPY $copied s" \
        "$(awk -v a="$server_seconds" -v b="$copied" 'BEGIN { print a / b }')" 4 ;;
    APU.TXT)
      target "$label ≤ 5 × the same journal on a file" "server $server_seconds s / file $local_seconds s" \
        "$(awk -v a="$server_seconds" -v b="$local_seconds" 'BEGIN { print a / b }')" 5
      [ "$numbering" = date ] && small_journal=$server_seconds ;;
  esac
done
say "journal of $((records * 10)) records..."
prepare server date APU.TXT "$large"
large_seconds=$(timed F_APU "$((records * 10))")
awk -v s="$large_seconds" -v n="$((records * 10))" 'BEGIN {
  printf "| journal, per journal and date, %d records | - | %.2f | %d | - |\n", n, s, n / s }' >> "$report"
target "$((records * 10)) records ≤ 11 × $records (journal on the server)" "$large_seconds s / $small_journal s" \
  "$(awk -v a="$large_seconds" -v b="$small_journal" 'BEGIN { print a / b }')" 11

# A check run does what the real run does and undoes it: it costs about as
# much, at any size.
for size in "$records|$data|$small_journal" "$((records * 10))|$large|$large_seconds"; do
  IFS='|' read -r lines from real <<< "$size"
  say "check run of a journal of $lines records..."
  prepare server date APU.TXT "$from"
  check_seconds=$(timed F_APU 0 --check)
  awk -v s="$check_seconds" -v n="$lines" 'BEGIN {
    printf "| check run (--check) of the journal, %d records | - | %.2f | %d | - |\n", n, s, n / s }' >> "$report"
  target "check run of $lines journal records ≤ 1.5 × the real run" "$check_seconds s / $real s" \
    "$(awk -v a="$check_seconds" -v b="$real" 'BEGIN { print a / b }')" 1.5
done

# The journal sent again as it was first sent, its lines found by their GUIDs
# (--match-guid): every line is rewritten and its posting moved.
for store in sqlite server; do
  say "journal sent again ($store)..."
  prepare "$store" date APU.TXT
  first=$(timed F_APU)
  again=$(timed F_APU "$records" --match-guid)
  target "journal sent again ≤ 1.5 × its first send ($store)" "again $again s / first $first s" \
    "$(awk -v a="$again" -v b="$first" 'BEGIN { print a / b }')" 1.5
  if [ "$store" = sqlite ]; then again_file=$again; else again_server=$again; fi
done
awk -v a="$again_file" -v b="$again_server" -v n="$records" 'BEGIN {
  printf "| journal sent again (--match-guid), every line rewritten | %.2f | %.2f | %d | %.1f |\n", a, b, n / b, b / a }' \
  >> "$report"

# Customers each refused as a duplicate of another unique column: every group
# fails and is written again record by record.
say "customers that each duplicate a tax code..."
mkdir -p "$work/duplicates"
LC_ALL=C awk -F'|' -v OFS='|' '{ $6 = "B99999999"; print }' "$data/CLI.TXT" > "$work/duplicates/CLI.TXT"
duplicates_sql="CREATE UNIQUE INDEX f_cli_cifcli ON F_CLI (CIFCLI);
INSERT INTO F_CLI (CODCLI, NOMCLI, CIFCLI) VALUES ('UNICO', 'Único', 'B99999999');"
for store in sqlite server; do
  prepare "$store" date CLI.TXT "$work/duplicates"
  echo "$duplicates_sql" | "$kavelo_db" sql "$work/run/datos/MUESTRA01.MDB" -
  if [ "$store" = sqlite ]; then duplicates_file=$(timed F_CLI 1); else duplicates_server=$(timed F_CLI 1); fi
done
awk -v a="$duplicates_file" -v b="$duplicates_server" -v n="$records" 'BEGIN {
  printf "| customers, each a duplicate of another unique column | %.2f | %.2f | %d | %.1f |\n", a, b, n / b, b / a }' \
  >> "$report"
target "customers each refused as a duplicate ≤ 3 × the same file on a file" \
  "server $duplicates_server s / file $duplicates_file s" \
  "$(awk -v a="$duplicates_server" -v b="$duplicates_file" 'BEGIN { print a / b }')" 3
{
  echo
  echo "| target | measured | ratio | limit | |"
  echo "|---|---|---:|---:|---|"
  cat "$targets"
} >> "$report"
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
