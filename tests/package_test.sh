#!/bin/sh
# The Debian package and the manual pages, checked from outside (KAVELO_BIN_DIR
# and KAVELO_SOURCE_DIR come from CTest). "options": the --help of kavelo and
# kavelo-db name the options (and verbs) of their manual pages, which have no
# roff mistakes. "package [CPACK]": builds the .deb and checks what it holds;
# as root and with no kavelo package installed, installs it, runs it on a small
# company and removes it again, even when a check fails (otherwise status 77).
set -eu
: "${KAVELO_BIN_DIR:?KAVELO_BIN_DIR must name the build folder}"
: "${KAVELO_SOURCE_DIR:?KAVELO_SOURCE_DIR must name the source folder}"

fail() { echo "FAIL: $*" >&2; exit 1; }

# A manual page as text: without comments, font changes and "\&", "\-" as "-".
roff_text() {
  sed -e '/^['"'"'.]\\"/d' -e 's/\\f[BIRP]//g' -e 's/\\&//g' -e 's/\\-/-/g' "$1"
}

# PROGRAM --help and PROGRAM(1) name the same options (the --xxx words), and
# groff finds no mistake in the page; prints the help.
same_options() {
  page="$KAVELO_SOURCE_DIR/docs/man/$1.1"
  help=$("$KAVELO_BIN_DIR/$1" --help) || fail "$1 --help ended with status $?"
  in_help=$(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z-]*' | sort -u)
  in_page=$(roff_text "$page" | grep -o -- '--[a-z][a-z-]*' | sort -u)
  [ -n "$in_help" ] || fail "$1 --help names no option"
  [ "$in_help" = "$in_page" ] || fail "$1 --help and $1(1) name different options:" $in_help "/" $in_page
  # Every warning groff knows of, in a page written in UTF-8.
  warnings=$(groff -k -man -Tutf8 -ww -z "$page" 2>&1) || fail "groff failed on $1(1): $warnings"
  [ -z "$warnings" ] || fail "groff warns about $1(1): $warnings"
  printf '%s\n' "$help"
}

# kavelo's options; kavelo-db's options and verbs, each verb in the page's
# synopsis and in a subsection of its own.
check_options() {
  help=$(same_options kavelo)
  printf '%s\n' "$help" | head -1 | grep -qF 'kavelo [--check [--all-errors]] [--match-guid] [--summary-json ARCHIVO] ARCHIVO_DE_CONEXION' ||
    fail "the first line of kavelo --help is not its synopsis: $help"
  help=$(same_options kavelo-db)
  verbs=$(printf '%s\n' "$help" | grep -o 'kavelo-db [a-z][a-z]*' | sort -u | sed 's/.* //')
  page="$KAVELO_SOURCE_DIR/docs/man/kavelo-db.1"
  synopsis=$(roff_text "$page" | sed -n '/^\.SH SINOPSIS$/,/^\.SH /p' | grep -o 'kavelo-db [a-z][a-z]*' | sort -u |
    sed 's/.* //')
  sections=$(roff_text "$page" | sed -n 's/^\.SS \([a-z][a-z]*\)$/\1/p' | sort -u)
  [ "$(printf '%s\n' "$verbs" | wc -l)" -ge 7 ] || fail "kavelo-db --help names too few verbs:" $verbs
  [ "$verbs" = "$synopsis" ] || fail "kavelo-db --help and the synopsis of kavelo-db(1) name different verbs:" \
    $verbs "/" $synopsis
  [ "$verbs" = "$sections" ] || fail "kavelo-db's verbs are not the subsections of kavelo-db(1):" $verbs "/" $sections
}

work="" installed_by_us=0

# Half-installed (a dependency missing) is removed the same way.
remove_package() {
  dpkg --purge kavelo >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; return 1; }
  installed_by_us=0
}

cleanup() {
  status=$?
  [ "$installed_by_us" = 0 ] || { echo "Removing the package kavelo installed by this test" >&2; remove_package || status=1; }
  rm -rf "$work"
  exit "$status"
}

# dpkg allows one process at a time and fails at once when another holds its
# lock (an apt-get of someone else): wait for it rather than fail.
dpkg_install() {
  tries=0
  until dpkg -i "$1" >"$work/install.log" 2>&1; do
    grep -q 'lock' "$work/install.log" && [ "$tries" -lt 60 ] || { cat "$work/install.log" >&2; return 1; }
    tries=$((tries + 1)) && sleep 2
  done
}

check_package() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/kavelo-package.XXXXXX")
  trap cleanup EXIT
  trap 'exit 1' HUP INT TERM

  "${1:-cpack}" --config "$KAVELO_BIN_DIR/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
  set -- "$work/out"/*.deb
  [ $# = 1 ] && [ -f "$1" ] || { cat "$work/cpack.log" >&2; fail "cpack made no single .deb: $*"; }
  deb=$1

  field() { dpkg-deb -f "$deb" "$1"; }
  version=$(field Version)
  arch=$(dpkg --print-architecture)
  [ "$(basename "$deb")" = "kavelo_${version}_${arch}.deb" ] ||
    fail "the file name $(basename "$deb") is not kavelo_${version}_${arch}.deb"
  for expected in Package=kavelo "Architecture=$arch" Section=misc "Maintainer=kavelo developers <kavelo@localhost>"; do
    [ "${expected%%=*}=$(field "${expected%%=*}")" = "$expected" ] || fail "not $expected: $(field "${expected%%=*}")"
  done
  [ "$(field Description | wc -l)" -ge 3 ] && [ -z "$(field Description | awk 'length > 80')" ] ||
    fail "the Description has no long part or lines longer than 80 characters: $(field Description)"
  # dpkg-shlibdeps works the Depends line out of what the programs link.
  depends=$(field Depends)
  for library in libfltk1.3 libsqlite3 libpq5 libstdc++6 libc6; do
    printf '%s\n' "$depends" | grep -q "$library" || fail "Depends lacks $library: $depends"
  done

  dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' >"$work/contents"
  for entry in bin/kavelo bin/kavelo-db lib/kavelo/kavelo-window.so share/man/man1/kavelo.1.gz \
    share/man/man1/kavelo-db.1.gz share/kavelo/company.sql share/doc/kavelo/README.md; do
    case $entry in bin/*) mode=-rwxr-xr-x ;; *) mode=-rw-r--r-- ;; esac
    grep -qxF -- "$mode root/root ./usr/$entry" "$work/contents" ||
      { cat "$work/contents" >&2; fail "the package lacks: $mode root/root ./usr/$entry"; }
  done

  # What is inside is what the build holds: the pages whole, the schema of the
  # sources, the programs stripped.
  dpkg-deb -x "$deb" "$work/unpacked"
  for page in kavelo kavelo-db; do
    gzip -dc "$work/unpacked/usr/share/man/man1/$page.1.gz" | cmp -s - "$KAVELO_SOURCE_DIR/docs/man/$page.1" ||
      fail "the packaged $page.1.gz is not docs/man/$page.1"
    file "$work/unpacked/usr/bin/$page" | grep -q ', stripped' || fail "usr/bin/$page is not stripped"
  done
  cmp -s "$work/unpacked/usr/share/kavelo/company.sql" "$KAVELO_SOURCE_DIR/schema/company.sql" ||
    fail "the packaged company.sql is not schema/company.sql"

  [ "$(id -u)" = 0 ] || { echo "Not root: the package is not installed, run and removed (skipped)"; exit 77; }
  # One installing test at a time on this machine: two build folders may run
  # this test together.
  exec 9>"${TMPDIR:-/tmp}/kavelo-package-test.lock"
  flock -w 600 9 || fail "another package test held its lock for ten minutes"
  state=$(dpkg-query -W -f='${db:Status-Status}' kavelo 2>/dev/null) || state=not-installed
  [ "$state" = not-installed ] ||
    { echo "A package named kavelo is already on this machine ($state): not installed again (skipped)"; exit 77; }
  for path in /usr/bin/kavelo /usr/bin/kavelo-db; do
    [ ! -e "$path" ] || { echo "$path is already there, from no package: not overwritten (skipped)"; exit 77; }
  done

  installed_by_us=1
  dpkg_install "$deb" || fail "dpkg -i $(basename "$deb") failed"

  # A company of its own, made by the installed kavelo-db, and one customer:
  # code C1, a name in Windows-1252, and zeros in the other 48 fields.
  data="$work/datos" inter="$work/intercambio"
  mkdir "$data" "$inter"
  database="$data/PKG01.MDB"
  /usr/bin/kavelo-db create "$database" || fail "kavelo-db create failed"
  /usr/bin/kavelo-db sql "$database" - <<'EOF' || fail "kavelo-db sql failed"
INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('PKG', '1101');
INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);
INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);
EOF
  printf 'C001;C1;0;Cliente Pe\361alara%s\r\n' "$(printf ';0%.0s' $(seq 48))" >"$inter/CLI.TXT"
  for name in MAE PRO APU IVR IVS; do : >"$inter/$name.TXT"; done
  printf '%s\r\n' "$inter" "$data" PKG 01 ';' 'Paquete' 'Empresa PKG' 'Prueba' >"$work/conexion.txt"
  major=${version%%.*} minor=${version#*.}
  minor=${minor%%[.-]*}
  printf '%24s\r\n -----------------------\r\n    Proceso terminado   \r\n -----------------------\r\n%24s\r\n' '' '' \
    >"$work/expected-final"
  printf '  Doveduzi Kavelo\r\n  Versi\363n: %s %s\r\n  15/06/2011\r\n' "$major" "$minor" >>"$work/expected-final"

  # A check run, then a real one: the same clean reports, and only the real
  # one leaves the customer in the database. The check run names a display
  # that is not there: the installed kavelo finds its window module, which
  # finds no display, and goes on in the terminal without a word about the
  # module. The real one has no display, no terminal, and goes on its own.
  for option in --check ""; do
    rm -f "$inter/FINAL.TXT"
    run="the installed kavelo${option:+ $option}" run_status=0
    [ -n "$option" ] && customers="F_CLI 0" || customers="F_CLI 1"
    env -u DISPLAY -u WAYLAND_DISPLAY ${option:+DISPLAY=:64998} /usr/bin/kavelo $option "$work/conexion.txt" \
      </dev/null >"$work/run.out" 2>&1 || run_status=$?
    ! grep -q "sin la ventana" "$work/run.out" || { cat "$work/run.out" >&2; fail "$run did not find its window module"; }
    [ ! -f "$inter/ERRORES.TXT" ] || { cat "$inter/ERRORES.TXT" >&2; fail "$run wrote ERRORES.TXT"; }
    [ "$run_status" = 0 ] || { cat "$work/run.out" >&2; fail "$run ended with status $run_status"; }
    cmp "$inter/FINAL.TXT" "$work/expected-final" ||
      { od -c "$inter/FINAL.TXT" >&2; fail "the FINAL.TXT of $run is not the report of version $version"; }
    rows=$(/usr/bin/kavelo-db count "$database" | grep '^F_CLI ')
    [ "$rows" = "$customers" ] || fail "after $run the database holds $rows, not $customers"
  done
  name=$(sqlite3 "$database" "SELECT NOMCLI FROM F_CLI WHERE CODCLI = 'C1'")
  [ "$name" = "Cliente Peñalara" ] || fail "the customer's name was stored as '$name'"

  remove_package || fail "dpkg --purge kavelo failed"
  for path in /usr/bin/kavelo /usr/bin/kavelo-db /usr/share/man/man1/kavelo.1.gz /usr/share/kavelo /usr/lib/kavelo; do
    [ ! -e "$path" ] || fail "$path is left after dpkg --purge"
  done
  echo "Installed, ran one import and removed $(basename "$deb")"
}

case "${1:-}" in
  options) check_options ;;
  package) shift; check_package "$@" ;;
  *) echo "Usage: $0 options | package [CPACK]" >&2; exit 2 ;;
esac
