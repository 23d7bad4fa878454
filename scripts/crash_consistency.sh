#!/bin/sh
# Kills kavelo with SIGKILL at random moments of a long journal import and
# checks, after each kill, that the company database opens, is sound, and that
# every stored journal line is posted exactly once (kavelo-db verify against
# the database as it was before). Then a full run must complete.
#   scripts/crash_consistency.sh BUILD_DIR [KILLS] [LINES]
set -eu
build=$(cd "$1" && pwd)
kills=${2:-30}
lines=${3:-100000}
work=$(mktemp -d "${TMPDIR:-/tmp}/kavelo-crash-XXXXXX")
trap 'rm -rf "$work"' EXIT

"$build/kavelo-db" sample "$work" --records "$lines" --numbering date >/dev/null
# Only the journal: the other files are emptied.
for name in MAE CLI PRO IVR IVS; do : > "$work/$name.TXT"; done
database=$(ls "$work"/datos 2>/dev/null | head -n 1)
[ -z "$database" ] || rm -f "$work/datos/$database"
conn="$work/kavelo.conn"
code=$(sed -n 3p "$conn" | tr -d '\r ')
suffix=$(sed -n 4p "$conn" | tr -d '\r ')
database="$work/datos/$code$suffix.MDB"
"$build/kavelo-db" create "$database"
"$build/kavelo-db" sql "$database" "$work/company.sql"
cp "$database" "$work/ANTES.MDB"

integrity() { sqlite3 "$1" "PRAGMA integrity_check" 2>&1 | head -n 1; }
stored() { sqlite3 "$1" "SELECT count(*) FROM F_APU" 2>&1; }

# How long a whole run takes, to spread the kills over it.
start=$(date +%s%N)
"$build/kavelo" "$conn" 2>/dev/null || true
full_ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "a full run of $lines lines takes $full_ms ms"

held=0; sound=0
i=1
while [ "$i" -le "$kills" ]; do
  cp "$work/ANTES.MDB" "$database"
  rm -f "$database-journal"
  delay=$(shuf -i 50-$(( full_ms * 95 / 100 )) -n 1)
  "$build/kavelo" "$conn" 2>/dev/null &
  pid=$!
  sleep "$(echo "$delay" | awk '{ printf "%.3f", $1 / 1000 }')"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # The next opener rolls back what the killed run left unfinished.
  check=$(integrity "$database")
  verdict="ok"
  if "$build/kavelo-db" verify "$database" --baseline "$work/ANTES.MDB" >/dev/null 2>&1; then
    held=$((held + 1))
  else
    verdict="BALANCES WRONG"
  fi
  [ "$check" = "ok" ] && sound=$((sound + 1)) || verdict="$verdict, integrity: $check"
  echo "kill $i at $delay ms: $(stored "$database") lines stored, $verdict"
  i=$((i + 1))
done

cp "$work/ANTES.MDB" "$database"
rm -f "$database-journal"
status=0
"$build/kavelo" "$conn" 2>/dev/null || status=$?
final=ok
"$build/kavelo-db" verify "$database" --baseline "$work/ANTES.MDB" >/dev/null 2>&1 || final="balances wrong"
echo "full run: exit $status, $(stored "$database") of $lines lines stored, $final"
echo "kills: $kills; invariant held $held of $kills; database sound $sound of $kills"
[ "$held" -eq "$kills" ] && [ "$sound" -eq "$kills" ] && [ "$status" -le 1 ] && [ "$final" = ok ]
