#!/usr/bin/env bash
# The benchmark of kavelo: sample data of N records per file (kavelo-db
# sample), a fresh company database for every run, and kavelo over one file at
# a time (the five missing files only add their error line). Beside it, on the
# same data and machine, the anchors: the sqlite3 shell's .import of the
# customers, raw_journal (the bare SQLite work of the journal) and sqlite3
# opening the database for one query. Prints every figure and each target met
# or missed, and writes them into docs/performance.md.
#
#   bench/run.sh BUILD_DIR [--quick] [--records N] [--rounds R] [--no-docs] [--docs FILE]
#
# --quick: 10,000 records, 3 rounds and no docs unless --docs is given.
# --rounds R: each import and anchor R times, the fastest counted (default 1).
# The two sides of a ratio run in turn, round after round, so that a machine
# that slows down for a while slows both.
# BUILD_DIR must hold a Release build of kavelo, kavelo-db and bench/raw_journal.
set -euo pipefail

usage() {
  echo "Uso: $0 BUILD_DIR [--quick] [--records N] [--rounds R] [--no-docs] [--docs ARCHIVO]" >&2
  exit 2
}

[ $# -ge 1 ] || usage
invocation="bench/run.sh $(basename "$1")${2:+ ${*:2}}"
build=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

records=200000
rounds=""
quick=0
docs="$root/docs/performance.md"
write_docs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; records=10000; rounds=${rounds:-3} ;;
    --rounds) [ $# -ge 2 ] || usage; rounds=$2; shift ;;
    --records) [ $# -ge 2 ] || usage; records=$2; shift ;;
    --no-docs) write_docs=0 ;;
    --docs) [ $# -ge 2 ] || usage; docs=$2; write_docs=1; shift ;;
    *) usage ;;
  esac
  shift
done
rounds=${rounds:-1}
case "$records$rounds" in '' | *[!0-9]*) usage ;; esac
[ "$rounds" -ge 1 ] || usage
[ "$records" -ge 20 ] || { echo "$0: --records must be at least 20" >&2; exit 2; }
[ -n "$write_docs" ] || write_docs=$((1 - quick))
command_line=${BENCH_COMMAND:-$invocation}

kavelo=$build/kavelo
kavelo_db=$build/kavelo-db
raw_journal=$build/bench/raw_journal
for program in "$kavelo" "$kavelo_db" "$raw_journal"; do
  [ -x "$program" ] || { echo "$0: falta $program (compílelo antes)" >&2; exit 1; }
done
for tool in sqlite3 /usr/bin/time awk; do
  command -v "$tool" > /dev/null || { echo "$0: falta $tool (scripts/install-packages.sh)" >&2; exit 1; }
done

# Spanish regional settings, whatever the caller's: the sample's amounts
# carry the decimal comma and its dates are dd/mm/yyyy.
export LC_ALL=C.UTF-8

work=$build/bench-work
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# Linearity: the journal at a tenth of the size and ten times that.
small=$((records / 2))
large=$((small * 10))
repeats=15

say() { printf '%s\n' "$*" >&2; }

# sample N: the sample data of N records, generated once.
sample() {
  local dir=$work/data-$1
  if [ ! -d "$dir" ]; then
    say "  generando $1 registros por archivo..."
    "$kavelo_db" sample "$dir" --records "$1" --seed 1 > /dev/null
  fi
  printf '%s' "$dir"
}

# prepare RUN DATA NUMBERING FILE...: a run folder with a fresh company
# database (the sample's company, numbering counter or date) and only FILE...
# of DATA in its interchange folder.
prepare() {
  local run=$1 data=$2 numbering=$3
  shift 3
  rm -rf "$run"
  mkdir -p "$run/in" "$run/datos"
  "$kavelo_db" create "$run/datos/MUESTRA01.MDB"
  "$kavelo_db" sql "$run/datos/MUESTRA01.MDB" "$data/company.sql"
  if [ "$numbering" = counter ]; then
    echo "UPDATE F_AUT SET NAAAUT = 1, NAMAUT = 0 WHERE CODAUT = 1;" | "$kavelo_db" sql "$run/datos/MUESTRA01.MDB" -
  fi
  local file
  for file in "$@"; do ln -s "$data/$file" "$run/in/$file"; done
  printf '%s\r\n' "$run/in/" "$run/datos/" MUESTRA 01 '|' "kavelo bench" "Comercial de muestra" "bench" > "$run/kavelo.conn"
}

# measure COMMAND...: runs it and sets $wall (seconds, to the microsecond: the
# empty run and its anchor take a few milliseconds) and $rss (kB).
measure() {
  local start end status=0
  start=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o "$work/rss" "$@" < /dev/null > "$work/out" 2>&1 || status=$?
  end=$EPOCHREALTIME
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')
  rss=$(tail -n 1 "$work/rss")
  return $status
}

peak_rss=0
# kavelo_run RUN FILE TABLE COUNT: kavelo on RUN, which holds FILE only;
# fails unless the only errors are the five missing files and TABLE has COUNT rows.
kavelo_run() {
  local run=$1 file=$2 table=$3 count=$4 status=0
  measure "$kavelo" "$run/kavelo.conn" || status=$?
  local missing=5
  if [ "$file" = none ]; then missing=0; fi
  if [ "$status" -gt 1 ]; then
    say "kavelo terminó con el estado $status en $run:"; cat "$work/out" >&2; exit 1
  fi
  local errors=0 missing_lines=0
  if [ -f "$run/in/ERRORES.TXT" ]; then
    errors=$(tr -d '\r' < "$run/in/ERRORES.TXT" | grep -c . || true)
    missing_lines=$(grep -c '(0/) ' "$run/in/ERRORES.TXT" || true)
  fi
  if [ "$errors" -ne "$missing" ] || [ "$missing_lines" -ne "$missing" ]; then
    say "kavelo informó errores inesperados en $run:"; iconv -f WINDOWS-1252 -t UTF-8 "$run/in/ERRORES.TXT" >&2; exit 1
  fi
  if [ "$table" != none ]; then
    local rows
    rows=$("$kavelo_db" count "$run/datos/MUESTRA01.MDB" | awk -v t="$table" '$1 == t { print $2 }')
    if [ "$rows" != "$count" ]; then
      say "$table tiene $rows filas después de importar $file; se esperaban $count"; exit 1
    fi
  fi
  if [ "$rss" -gt "$peak_rss" ]; then peak_rss=$rss; fi
  return 0
}

# 1234567 as 1,234,567
fmt_int() { awk -v n="$1" 'BEGIN { s = sprintf("%d", n); r = ""; while (length(s) > 3) { r = "," substr(s, length(s) - 2) r; s = substr(s, 1, length(s) - 3) } print s r }'; }

# median of the numbers on standard input
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

results=$work/results
: > "$results"
# secs SECONDS: as the report writes it, to the millisecond or, below a tenth
# of a second, to the hundredth of a millisecond.
secs() { awk -v s="$1" 'BEGIN { printf (s >= 0.1 ? "%.3f" : "%.5f"), s }'; }

# row LABEL SECONDS RECORDS RSS_KB
row() { printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" >> "$results"; }

# lowest A B: the smaller number, B when A is empty
lowest() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }

# keep BEST TOP: the last measure's time into the variable BEST when it is the
# fastest so far, and its peak memory into TOP when it is the largest.
keep() {
  printf -v "$1" '%s' "$(lowest "${!1}" "$wall")"
  if [ "$rss" -gt "${!2}" ]; then printf -v "$2" '%s' "$rss"; fi
}

# import_best LABEL DATA NUMBERING FILE TABLE COUNT: kavelo over FILE alone, on
# a fresh database each time; the fastest of the rounds. The last run's folder
# stays in $work/last.
import_best() {
  local label=$1 data=$2 numbering=$3 file=$4 table=$5 count=$6 best="" top=0
  for _ in $(seq "$rounds"); do
    prepare "$work/last" "$data" "$numbering" "$file"
    kavelo_run "$work/last" "$file" "$table" "$count"
    keep best top
  done
  wall=$best
  rss=$top
  row "$label" "$wall" "$count" "$rss"
}

say "kavelo bench: $records registros por archivo, la mejor de $rounds vueltas"
data=$(sample "$records")

say "  cuentas"
chart_rows=$(grep -c . "$data/MAE.TXT")
import_best "MAE.TXT accounts" "$data" date MAE.TXT F_MAE "$chart_rows"

# The customers all new, the same file again over the database that filled
# (all updates), and the sqlite3 shell's .import of the same records into a
# table of F_CLI's own columns, types and key (with a first column for the
# record identifier), round after round.
say "  clientes y .import"
customer_ddl=""
cli_new="" cli_again="" import_time=""
top_new=0 top_again=0 top_import=0
for _ in $(seq "$rounds"); do
  prepare "$work/last" "$data" date CLI.TXT
  kavelo_run "$work/last" CLI.TXT F_CLI "$records"
  keep cli_new top_new
  kavelo_run "$work/last" CLI.TXT F_CLI "$records"
  keep cli_again top_again
  if [ -z "$customer_ddl" ]; then
    customer_ddl=$(sqlite3 "$work/last/datos/MUESTRA01.MDB" "SELECT sql FROM sqlite_master WHERE name = 'F_CLI'")
  fi
  anchor_db=$work/import.db
  rm -f "$anchor_db"
  printf '%s;\n' "$(printf '%s\n' "$customer_ddl" | sed '1s/^CREATE TABLE F_CLI (/CREATE TABLE F_CLI (IDECLI TEXT,/')" |
    sqlite3 "$anchor_db"
  measure sqlite3 "$anchor_db" ".mode csv" ".separator |" ".import $data/CLI.TXT F_CLI"
  imported=$(sqlite3 "$anchor_db" "SELECT count(*) FROM F_CLI")
  [ "$imported" = "$records" ] || { say ".import cargó $imported filas de $records"; exit 1; }
  keep import_time top_import
done
row "CLI.TXT customers, all new" "$cli_new" "$records" "$top_new"
row "CLI.TXT customers, again (all updates)" "$cli_again" "$records" "$top_again"

say "  proveedores"
import_best "PRO.TXT suppliers" "$data" date PRO.TXT F_PRO "$records"

# journal_rounds DATA COUNT [counter]: kavelo over DATA's journal (numbered per
# journal and date, and also by the journal counter when asked) and
# raw_journal on the same file, round after round, each on a fresh database.
# The fastest of each in $apu_date, $apu_counter and $raw_time.
journal_rounds() {
  local data=$1 count=$2 counter=${3:-}
  apu_date="" apu_counter="" raw_time=""
  top_date=0 top_counter=0 top_raw=0
  for _ in $(seq "$rounds"); do
    journal_round "$data" "$count" date apu_date top_date
    if [ -n "$counter" ]; then journal_round "$data" "$count" counter apu_counter top_counter; fi
    raw_round "$data" raw_time top_raw
  done
}

# journal_round DATA COUNT NUMBERING BEST TOP: kavelo over DATA's journal once,
# on a fresh database; see keep for BEST and TOP.
journal_round() {
  prepare "$work/last" "$1" "$3" APU.TXT
  kavelo_run "$work/last" APU.TXT F_APU "$2"
  keep "$4" "$5"
}

# raw_round DATA BEST TOP: raw_journal over DATA's journal once, likewise.
raw_round() {
  prepare "$work/raw" "$1" date
  measure "$raw_journal" "$work/raw/datos/MUESTRA01.MDB" "$1/APU.TXT" MUESTRA || { cat "$work/out" >&2; exit 1; }
  keep "$2" "$3"
}

say "  apuntes (por diario y fecha, y contador del diario) y raw_journal"
journal_rounds "$data" "$records" counter
row "APU.TXT journal, per journal and date" "$apu_date" "$records" "$top_date"
row "APU.TXT journal, journal counter" "$apu_counter" "$records" "$top_counter"
journal_date=$apu_date journal_counter=$apu_counter journal_raw=$raw_time

say "  IVA repercutido y soportado"
import_best "IVR.TXT output VAT register" "$data" date IVR.TXT F_IVR "$records"
import_best "IVS.TXT input VAT register" "$data" date IVS.TXT F_IVS "$records"

row "anchor: sqlite3 .import of CLI.TXT" "$import_time" "$records" "$top_import"
row "anchor: raw_journal on APU.TXT" "$journal_raw" "$records" "$top_raw"

say "  ejecución sobre seis archivos vacíos"
prepare "$work/empty" "$data" date
for file in MAE.TXT CLI.TXT PRO.TXT APU.TXT IVR.TXT IVS.TXT; do : > "$work/empty/in/$file"; done
# Each time less what starting any program costs here (the median of `true`),
# so that the two compare their own work; the three take turns.
: > "$work/times-start"
: > "$work/times-kavelo"
: > "$work/times-sqlite"
empty_rss=0
for _ in $(seq "$repeats"); do
  measure true
  echo "$wall" >> "$work/times-start"
  kavelo_run "$work/empty" none none 0
  echo "$wall" >> "$work/times-kavelo"
  if [ "$rss" -gt "$empty_rss" ]; then empty_rss=$rss; fi
  measure sqlite3 "$work/empty/datos/MUESTRA01.MDB" "SELECT count(*) FROM F_EMP;"
  echo "$wall" >> "$work/times-sqlite"
done
start_cost=$(median < "$work/times-start")
net() { awk -v c="$start_cost" '{ d = $1 - c; printf "%.6f\n", (d > 0.00001 ? d : 0.00001) }'; }
empty_kavelo=$(net < "$work/times-kavelo" | median)
empty_sqlite=$(net < "$work/times-sqlite" | median)
row "kavelo, six empty files (median of $repeats, less $(secs "$start_cost") s of process start)" "$empty_kavelo" 0 "$empty_rss"
row "anchor: sqlite3 open and one query (the same way)" "$empty_sqlite" 0 "$rss"

say "  linealidad: apuntes con $small y con $large líneas"
data_small=$(sample "$small")
data_large=$(sample "$large")
# The two sizes take turns as well, round after round: a host that slows down
# or speeds up between them would otherwise decide the ratio. Within a round
# the small size runs as many times in a row as it is smaller, kavelo and
# raw_journal taking turns, and counts as the mean of those runs: so both
# sizes are timed over as long a stretch of the host's time. The fastest
# single small run would pick the host's best few seconds against the large
# run's average over some forty seconds; it is kept to be shown beside.
spread=$((large / small))
lin_small="" raw_small="" lin_large="" raw_large="" lin_small_single="" raw_small_single=""
top_small=0 top_raw_small=0 top_large=0 top_raw_large=0
add() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", a + b }'; }
mean() { awk -v s="$1" -v n="$spread" 'BEGIN { printf "%.6f", s / n }'; }
for _ in $(seq "$rounds"); do
  sum_kavelo=0 sum_raw=0
  for _ in $(seq "$spread"); do
    journal_round "$data_small" "$small" date lin_small_single top_small
    sum_kavelo=$(add "$sum_kavelo" "$wall")
    raw_round "$data_small" raw_small_single top_raw_small
    sum_raw=$(add "$sum_raw" "$wall")
  done
  wall=$(mean "$sum_kavelo")
  keep lin_small top_small
  wall=$(mean "$sum_raw")
  keep raw_small top_raw_small
  journal_round "$data_large" "$large" date lin_large top_large
  raw_round "$data_large" raw_large top_raw_large
done
row "APU.TXT journal, $(fmt_int "$small") lines (mean of $spread in a row)" "$lin_small" "$small" "$top_small"
row "anchor: raw_journal, $(fmt_int "$small") lines (likewise)" "$raw_small" "$small" "$top_raw_small"
row "APU.TXT journal, $(fmt_int "$large") lines" "$lin_large" "$large" "$top_large"
row "anchor: raw_journal, $(fmt_int "$large") lines" "$raw_large" "$large" "$top_raw_large"
rm -rf "$work/last" "$work/raw" "$data_small" "$data_large"

# --- the report --------------------------------------------------------------


report=$work/report.md
machine_cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo 2> /dev/null || true)
machine_mem=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo 2> /dev/null || true)
{
  echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') with \`$command_line\`: $(fmt_int "$records") records per file, seed 1," \
    "the fastest of $rounds round(s) for each import and anchor."
  echo
  echo "Machine: ${machine_cpu:-unknown CPU}, $(nproc) cores, ${machine_mem:-unknown memory}; $(uname -sr);" \
    "SQLite $(sqlite3 --version | cut -d' ' -f1); $(c++ --version | head -n 1); Release build."
  echo
  echo "| run | wall s | records/s | peak RSS MB |"
  echo "|---|---:|---:|---:|"
  while IFS=$'\t' read -r label seconds count kb; do
    rate="-"
    if [ "$count" != 0 ]; then rate=$(fmt_int "$(awk -v n="$count" -v s="$seconds" 'BEGIN { printf "%d", (s > 0 ? n / s : 0) }')"); fi
    printf '| %s | %s | %s | %s |\n' "$label" "$(secs "$seconds")" "$rate" "$(awk -v k="$kb" 'BEGIN { printf "%.1f", k / 1024 }')"
  done < "$results"
  echo
  echo "| target | measured | ratio | limit | |"
  echo "|---|---|---:|---:|---|"
  # target LABEL MEASURED_TEXT RATIO LIMIT [strict]: met when RATIO ≤ LIMIT (< with strict)
  target() {
    awk -v label="$1" -v text="$2" -v r="$3" -v limit="$4" -v strict="${5:-}" 'BEGIN {
      ok = strict ? r < limit + 0 : r <= limit + 0
      printf "| %s | %s | %.2f | %s%s | %s |\n", label, text, r, (strict ? "< " : "≤ "), limit, (ok ? "met" : "missed") }'
  }
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", (b > 0 ? a / b : 999) }'; }
  ratio2() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 999) }'; }
  target "customers all new ≤ 1.0 × sqlite3 .import" "kavelo $(secs "$cli_new") s / .import $(secs "$import_time") s" \
    "$(ratio "$cli_new" "$import_time")" 1.0
  target "customers again (all updates) ≤ 1.3 × sqlite3 .import" "kavelo $(secs "$cli_again") s / .import $(secs "$import_time") s" \
    "$(ratio "$cli_again" "$import_time")" 1.3
  target "journal per journal and date, 4 levels ≤ 1.5 × raw_journal" "kavelo $(secs "$journal_date") s / raw_journal $(secs "$journal_raw") s" \
    "$(ratio "$journal_date" "$journal_raw")" 1.5
  target "journal, journal counter ≤ 2 × raw_journal" "kavelo $(secs "$journal_counter") s / raw_journal $(secs "$journal_raw") s" \
    "$(ratio "$journal_counter" "$journal_raw")" 2.0
  target "peak RSS < 32 MB (largest of all kavelo runs, up to $(fmt_int "$large") records; ratio to 32 MB)" \
    "$(awk -v k="$peak_rss" 'BEGIN { printf "%.1f MB", k / 1024 }')" \
    "$(awk -v k="$peak_rss" 'BEGIN { printf "%.4f", k / 1024 / 32 }')" 1 strict
  target "time linear in N: journal $(fmt_int "$large") ≤ 11 × $(fmt_int "$small")" \
    "$(secs "$lin_large") s / $(secs "$lin_small") s (raw_journal: $(ratio2 "$raw_large" "$raw_small"); against the fastest single $(fmt_int "$small")-line run, $(secs "$lin_small_single") s: $(ratio2 "$lin_large" "$lin_small_single"), raw_journal $(ratio2 "$raw_large" "$raw_small_single"))" \
    "$(ratio "$lin_large" "$lin_small")" 11
  target "six empty files ≤ 2 × sqlite3 open and one query" "kavelo $(secs "$empty_kavelo") s / sqlite3 $(secs "$empty_sqlite") s" \
    "$(ratio "$empty_kavelo" "$empty_sqlite")" 2.0
} > "$report"

cat "$report"

if [ "$write_docs" = 1 ]; then
  begin='<!-- bench:begin -->'
  end='<!-- bench:end -->'
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
