#!/bin/bash
# A throwaway PostgreSQL cluster for the tests.
#
#   pg-cluster.sh start DIR [PORT]   new cluster in DIR on 127.0.0.1:PORT (the first free
#                                    port from 55432 upward when PORT is left out)
#   pg-cluster.sh stop DIR           stops DIR's server and removes DIR
#   pg-cluster.sh restart DIR [SECONDS]  stops DIR's server (ending its sessions), waits
#                                    SECONDS (0), and starts it again on the same port
#   pg-cluster.sh fixture-start DIR  start, but a machine without the server binaries or
#                                    (as root) the postgres account leaves DIR/unavailable
#                                    saying why and exits 0, so the tests that need the
#                                    server skip instead of failing
#
# start writes DIR/port and DIR/connection (the connection string of a link file
# without its "ODBC;" prefix). The server trusts every local connection but those
# of the role kavelo_clave over TCP, which must give its password (a test makes
# the role), and runs with fsync off: it is for tests only. Commits wait for their
# WAL to be written, so that an immediate stop loses nothing a client saw
# committed. Every wait is bounded.
set -u
set -o pipefail

readonly marker=".kavelo-pg-cluster"
readonly wait_seconds=30

die() {
  echo "pg-cluster.sh: $*" >&2
  exit 1
}

# The newest server's bin folder, or nothing.
server_bin() {
  local best="" dir
  for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V); do
    [[ -x $dir/initdb && -x $dir/pg_ctl ]] && best=$dir
  done
  echo "$best"
}

# Runs a server program as the cluster's owner: initdb and the server refuse root.
as_owner() {
  if [[ $(id -u) -eq 0 ]]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# Whether something accepts connections on 127.0.0.1:$1.
port_in_use() {
  timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null
}

stop_cluster() {
  local dir=$1
  [[ -e $dir ]] || return 0
  # Never remove a folder this script did not make.
  [[ -f $dir/$marker ]] || die "'$dir' no es un clúster de pruebas (falta $marker); no se toca"
  local bin pid root=$dir
  # The server's own folder, when it had to live elsewhere (see start_cluster).
  [[ -f $dir/cluster-root ]] && root=$(cat "$dir/cluster-root")
  bin=$(server_bin)
  if [[ -f $root/data/postmaster.pid ]]; then
    pid=$(head -n 1 "$root/data/postmaster.pid")
    if [[ -n $bin ]]; then
      as_owner "$bin/pg_ctl" -D "$root/data" -m fast -w -t "$wait_seconds" stop >/dev/null 2>&1
    fi
    # A server that did not stop in time is ended by the pid of its own pid file.
    if [[ $pid =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null; then
      kill -QUIT "$pid" 2>/dev/null
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
  fi
  [[ $root != "$dir" && -f $root/$marker ]] && rm -rf -- "$root"
  rm -rf -- "$dir"
}

restart_cluster() {
  local dir=$1 pause=${2:-0}
  [[ $pause =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "pausa no válida: $pause"
  [[ -f $dir/$marker && -f $dir/port ]] || die "'$dir' no es un clúster de pruebas en marcha"
  local bin root=$dir port
  [[ -f $dir/cluster-root ]] && root=$(cat "$dir/cluster-root")
  bin=$(server_bin)
  port=$(cat "$dir/port")
  as_owner "$bin/pg_ctl" -D "$root/data" -m fast -w -t "$wait_seconds" stop >/dev/null || die "el servidor no se detuvo"
  sleep "$pause"
  as_owner "$bin/pg_ctl" -D "$root/data" -l "$root/server.log" -w -t "$wait_seconds" -o "-p $port" start \
    >/dev/null || die "el servidor no volvió a arrancar"
}

unavailable() {
  local dir=$1 reason=$2
  echo "$reason" >"$dir/unavailable"
  return 2
}

start_cluster() {
  local dir=$1 wanted_port=${2:-}
  [[ -z $wanted_port || $wanted_port =~ ^[0-9]+$ ]] || die "puerto no válido: $wanted_port"
  # A cluster left behind by an earlier run is replaced.
  stop_cluster "$dir" || return 1
  mkdir -p "$dir" || die "no se puede crear '$dir'"
  dir=$(cd "$dir" && pwd)
  : >"$dir/$marker"

  local bin
  bin=$(server_bin)
  [[ -n $bin ]] || { unavailable "$dir" "no están instalados los programas del servidor PostgreSQL (initdb, pg_ctl)"; return; }
  # The server's files: in DIR, or, when the server's owner cannot reach DIR
  # (a build folder under a home folder that only root may enter), in a
  # temporary folder of their own that stop removes with DIR.
  local root=$dir
  if [[ $(id -u) -eq 0 ]]; then
    getent passwd postgres >/dev/null || { unavailable "$dir" "no existe el usuario postgres para ejecutar el servidor"; return; }
    chown postgres: "$dir" || return 1
    if ! runuser -u postgres -- test -x "$dir"; then
      root=$(mktemp -d "${TMPDIR:-/tmp}/kavelo-pg-XXXXXX") || die "no se puede crear una carpeta temporal"
      : >"$root/$marker"
      chmod 755 "$root" && chown postgres: "$root" || return 1
      echo "$root" >"$dir/cluster-root"
      runuser -u postgres -- test -x "$root" ||
        { unavailable "$dir" "el usuario postgres no puede entrar en '$root'"; return; }
    fi
  fi

  if ! as_owner "$bin/initdb" -D "$root/data" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 \
      >"$dir/initdb.log" 2>&1; then
    cat "$dir/initdb.log" >&2
    die "initdb falló"
  fi
  cat >>"$root/data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$root'
fsync = off
synchronous_commit = on
full_page_writes = off
EOF
  # The first line that matches a connection decides.
  sed -i '1i host all kavelo_clave 127.0.0.1/32 scram-sha-256' "$root/data/pg_hba.conf" || die "pg_hba.conf"

  local port first last
  first=${wanted_port:-55432}
  last=$((first + (wanted_port ? 0 : 99)))
  for ((port = first; port <= last; port++)); do
    port_in_use "$port" && continue
    if as_owner "$bin/pg_ctl" -D "$root/data" -l "$root/server.log" -w -t "$wait_seconds" \
        -o "-p $port" start >/dev/null 2>&1; then
      echo "$port" >"$dir/port"
      echo "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=postgres;Uid=postgres;" \
        >"$dir/connection"
      return 0
    fi
    # Another cluster may have taken the port between the test and the start.
    grep -q "could not bind\|Address already in use" "$root/server.log" 2>/dev/null || break
    as_owner "$bin/pg_ctl" -D "$root/data" -m immediate -w -t "$wait_seconds" stop >/dev/null 2>&1
  done
  [[ -f $root/server.log ]] && tail -n 20 "$root/server.log" >&2
  die "el servidor no arrancó (puertos $first a $last)"
}

case "${1:-} $#" in
  "start 2" | "start 3") start_cluster "$2" "${3:-}"; status=$?; [[ $status -eq 2 ]] && { cat "$2/unavailable" >&2; exit 1; }; exit $status ;;
  "fixture-start 2") start_cluster "$2"; status=$?; [[ $status -eq 2 ]] && exit 0; exit $status ;;
  "stop 2") stop_cluster "$2" ;;
  "restart 2" | "restart 3") restart_cluster "$2" "${3:-}" ;;
  *) echo "Uso: pg-cluster.sh start DIR [PUERTO] | fixture-start DIR | stop DIR | restart DIR [SEGUNDOS]" >&2; exit 2 ;;
esac
