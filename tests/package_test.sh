#!/bin/sh
# The Debian package and the manual page, checked from outside.
#   package_test.sh options
#     kavelo --help and kavelo(1) name the same options, and the page has no
#     roff mistakes.
#   package_test.sh package [CPACK]
#     builds the .deb into a temporary folder and checks what it holds; then,
#     as root and when no kavelo package is installed, installs it, runs the
#     installed programs on a small company and removes it again (always, even
#     when a check fails). As another user that half is skipped (status 77).
# KAVELO_BIN_DIR (the build) and KAVELO_SOURCE_DIR come from CTest.
set -eu

: "${KAVELO_BIN_DIR:?KAVELO_BIN_DIR must name the build folder}"
: "${KAVELO_SOURCE_DIR:?KAVELO_SOURCE_DIR must name the source folder}"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The --xxx words of a text, one per line, sorted.
options_in() {
  grep -o -- '--[a-z][a-z-]*' | sort -u
}

check_options() {
  page="$KAVELO_SOURCE_DIR/docs/man/kavelo.1"
  [ -f "$page" ] || fail "no manual page at $page"
  help=$("$KAVELO_BIN_DIR/kavelo" --help) || fail "kavelo --help ended with status $?"
  printf '%s\n' "$help" | head -1 | grep -qF 'kavelo [--check] ARCHIVO_DE_CONEXION' ||
    fail "the first line of kavelo --help is not its synopsis: $(printf '%s\n' "$help" | head -1)"

  in_help=$(printf '%s\n' "$help" | options_in)
  # In roff a hyphen is written \- and fonts are switched with \fB, \fI...
  in_page=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page" | options_in)
  [ -n "$in_help" ] || fail "kavelo --help names no option"
  if [ "$in_help" != "$in_page" ]; then
    echo "Options of kavelo --help:" >&2
    printf '%s\n' "$in_help" >&2
    echo "Options of kavelo(1):" >&2
    printf '%s\n' "$in_page" >&2
    fail "kavelo --help and kavelo(1) name different options"
  fi

  # Every warning groff knows of, in a page written in UTF-8.
  warnings=$(groff -k -man -Tutf8 -ww -z "$page" 2>&1) || fail "groff failed on kavelo(1): $warnings"
  [ -z "$warnings" ] || fail "groff warns about kavelo(1): $warnings"
  echo "kavelo --help and kavelo(1) both name: $(printf '%s\n' "$in_help" | tr '\n' ' ')"
}

# ---------------------------------------------------------------------------
# The package.

work=""
installed_by_us=0

remove_package() {
  # Half-installed (a dependency missing) is removed the same way.
  dpkg --purge kavelo >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; return 1; }
  installed_by_us=0
}

cleanup() {
  status=$?
  if [ "$installed_by_us" = 1 ]; then
    echo "Removing the package kavelo installed by this test" >&2
    remove_package || status=1
  fi
  [ -n "$work" ] && rm -rf "$work"
  exit "$status"
}

# The state dpkg records for the package kavelo ("not-installed" when it knows
# of none).
package_state() {
  dpkg-query -W -f='${db:Status-Status}' kavelo 2>/dev/null || echo not-installed
}

# dpkg allows one process at a time and fails at once when another holds its
# lock (an apt-get of someone else): wait for it rather than fail.
dpkg_install() {
  tries=0
  while :; do
    if dpkg -i "$1" >"$work/install.log" 2>&1; then
      return 0
    fi
    if grep -q 'lock' "$work/install.log" && [ "$tries" -lt 60 ]; then
      tries=$((tries + 1))
      sleep 2
      continue
    fi
    cat "$work/install.log" >&2
    return 1
  done
}

check_package() {
  cpack=${1:-cpack}
  work=$(mktemp -d "${TMPDIR:-/tmp}/kavelo-package.XXXXXX")
  trap cleanup EXIT
  trap 'exit 1' HUP INT TERM

  "$cpack" --config "$KAVELO_BIN_DIR/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
  set -- "$work/out"/*.deb
  if [ $# != 1 ] || [ ! -f "$1" ]; then
    cat "$work/cpack.log" >&2
    fail "cpack made no single .deb: $*"
  fi
  deb=$1

  field() { dpkg-deb -f "$deb" "$1"; }
  version=$(field Version)
  arch=$(dpkg --print-architecture)
  [ "$(field Package)" = kavelo ] || fail "the package is named '$(field Package)'"
  [ "$(basename "$deb")" = "kavelo_${version}_${arch}.deb" ] ||
    fail "the file name $(basename "$deb") is not kavelo_${version}_${arch}.deb"
  [ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
  [ "$(field Section)" = misc ] || fail "Section is '$(field Section)'"
  [ "$(field Maintainer)" = "kavelo developers <kavelo@localhost>" ] || fail "Maintainer is '$(field Maintainer)'"
  [ "$(field Description | wc -l)" -ge 3 ] || fail "the Description has no long part: $(field Description)"
  long_lines=$(field Description | awk 'length > 80')
  [ -z "$long_lines" ] || fail "Description lines longer than 80 characters: $long_lines"

  # dpkg-shlibdeps works the Depends line out of what the programs link; the
  # ODBC driver manager, opened when a server is used, is named by hand.
  depends=$(field Depends)
  [ -n "$depends" ] || fail "the package has no Depends line"
  for library in libfltk1.3 libsqlite3 libpq5 libstdc++6 libc6; do
    printf '%s\n' "$depends" | grep -q "$library" || fail "Depends lacks $library: $depends"
  done

  dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' >"$work/contents"
  for entry in \
    "-rwxr-xr-x root/root ./usr/bin/kavelo" \
    "-rwxr-xr-x root/root ./usr/bin/kavelo-db" \
    "-rw-r--r-- root/root ./usr/lib/kavelo/kavelo-window.so" \
    "-rw-r--r-- root/root ./usr/share/man/man1/kavelo.1.gz" \
    "-rw-r--r-- root/root ./usr/share/man/man1/kavelo-db.1.gz" \
    "-rw-r--r-- root/root ./usr/share/kavelo/company.sql" \
    "-rw-r--r-- root/root ./usr/share/doc/kavelo/README.md"; do
    grep -qxF -- "$entry" "$work/contents" || { cat "$work/contents" >&2; fail "the package lacks: $entry"; }
  done

  # What is inside is what the build holds: the pages whole, the schema of the
  # sources, the programs stripped.
  dpkg-deb -x "$deb" "$work/unpacked"
  for page in kavelo kavelo-db; do
    gzip -dc "$work/unpacked/usr/share/man/man1/$page.1.gz" | cmp -s - "$KAVELO_SOURCE_DIR/docs/man/$page.1" ||
      fail "the packaged $page.1.gz is not docs/man/$page.1"
  done
  cmp -s "$work/unpacked/usr/share/kavelo/company.sql" "$KAVELO_SOURCE_DIR/schema/company.sql" ||
    fail "the packaged company.sql is not schema/company.sql"
  for program in kavelo kavelo-db; do
    file "$work/unpacked/usr/bin/$program" | grep -q ', stripped' || fail "usr/bin/$program is not stripped"
  done
  echo "$(basename "$deb"): Depends: $depends"

  if [ "$(id -u)" != 0 ]; then
    echo "Not root: the package is not installed, run and removed (skipped)"
    exit 77
  fi

  # One installing test at a time on this machine: two build folders may run
  # this test together.
  exec 9>"${TMPDIR:-/tmp}/kavelo-package-test.lock"
  flock -w 600 9 || fail "another package test held its lock for ten minutes"
  state=$(package_state)
  if [ "$state" != not-installed ]; then
    echo "A package named kavelo is already on this machine ($state): not installed again (skipped)"
    exit 77
  fi
  for path in /usr/bin/kavelo /usr/bin/kavelo-db; do
    if [ -e "$path" ]; then
      echo "$path is already there, from no package: not overwritten (skipped)"
      exit 77
    fi
  done

  installed_by_us=1
  dpkg_install "$deb" || fail "dpkg -i $(basename "$deb") failed"
  [ "$(package_state)" = installed ] || fail "after dpkg -i the package is '$(package_state)'"

  [ "$(/usr/bin/kavelo --version)" = "kavelo $version" ] ||
    fail "the installed kavelo --version says '$(/usr/bin/kavelo --version)', the package $version"
  /usr/bin/kavelo-db --version | grep -qF "$version" ||
    fail "the installed kavelo-db --version says '$(/usr/bin/kavelo-db --version)'"
  for page in kavelo kavelo-db; do
    where=$(man -w "$page") || fail "man -w $page finds no page"
    [ "$where" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page gives $where"
  done

  # A company of its own, made by the installed kavelo-db, and one customer.
  data="$work/datos"
  inter="$work/intercambio"
  mkdir "$data" "$inter"
  database="$data/PKG01.MDB"
  /usr/bin/kavelo-db create "$database" || fail "kavelo-db create failed"
  /usr/bin/kavelo-db sql "$database" - <<'EOF' || fail "kavelo-db sql failed"
INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('PKG', '1101');
INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);
INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);
EOF
  # Code C1, a name in Windows-1252, and zeros in the other 48 fields.
  zeros=""
  i=4
  while [ "$i" -lt 52 ]; do
    zeros="$zeros;0"
    i=$((i + 1))
  done
  printf 'C001;C1;0;Cliente Pe\361alara%s\r\n' "$zeros" >"$inter/CLI.TXT"
  for name in MAE PRO APU IVR IVS; do
    : >"$inter/$name.TXT"
  done
  printf '%s\r\n' "$inter" "$data" PKG 01 ';' 'Paquete' 'Empresa PKG' 'Prueba' >"$work/conexion.txt"

  major=${version%%.*}
  minor=${version#*.}
  minor=${minor%%[.-]*}
  printf '%24s\r\n -----------------------\r\n    Proceso terminado   \r\n -----------------------\r\n%24s\r\n' '' '' \
    >"$work/expected-final"
  printf '  Doveduzi Kavelo\r\n  Versi\363n: %s %s\r\n  15/06/2011\r\n' "$major" "$minor" >>"$work/expected-final"

  # A check run, then a real one: the same clean reports, and only the real
  # one leaves the customer in the database.
  # The check run names a display that is not there: the installed kavelo
  # finds its window module, which finds no display, and goes on in the
  # terminal without a word about the module.
  for option in --check ""; do
    rm -f "$inter/FINAL.TXT"
    run_status=0
    if [ -n "$option" ]; then
      env -u WAYLAND_DISPLAY DISPLAY=:64998 /usr/bin/kavelo $option "$work/conexion.txt" </dev/null \
        >"$work/run.out" 2>&1 || run_status=$?
      if grep -q "sin la ventana" "$work/run.out"; then
        cat "$work/run.out" >&2
        fail "the installed kavelo did not find its window module"
      fi
    else
      # No window and no terminal: the run goes on its own.
      env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/kavelo "$work/conexion.txt" </dev/null >"$work/run.out" 2>&1 ||
        run_status=$?
    fi
    run="the installed kavelo${option:+ $option}"
    if [ -f "$inter/ERRORES.TXT" ]; then
      cat "$inter/ERRORES.TXT" >&2
      fail "$run wrote ERRORES.TXT"
    fi
    [ "$run_status" = 0 ] || { cat "$work/run.out" >&2; fail "$run ended with status $run_status"; }
    cmp "$inter/FINAL.TXT" "$work/expected-final" || {
      od -c "$inter/FINAL.TXT" >&2
      fail "the FINAL.TXT of $run is not the report of version $version"
    }
    rows=$(/usr/bin/kavelo-db count "$database" | grep '^F_CLI ')
    if [ -n "$option" ]; then
      [ "$rows" = "F_CLI 0" ] || fail "$run left the customer in the database ($rows)"
    else
      [ "$rows" = "F_CLI 1" ] || fail "$run did not store the customer ($rows)"
    fi
  done
  name=$(sqlite3 "$database" "SELECT NOMCLI FROM F_CLI WHERE CODCLI = 'C1'")
  [ "$name" = "Cliente Peñalara" ] || fail "the customer's name was stored as '$name'"

  remove_package || fail "dpkg --purge kavelo failed"
  [ "$(package_state)" = not-installed ] || fail "after dpkg --purge the package is '$(package_state)'"
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
