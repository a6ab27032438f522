#!/usr/bin/env bash
# Starts and stops the throwaway PostgreSQL cluster the tests and benchmarks
# run against. It lives in a fresh folder under /tmp, listens on a Unix
# socket in that folder only, and asks for a password (a random one per
# start), so that every address the tests use carries a password to hide.
#
#   pg_test_server.sh start <state folder> [<pid to outlive>]
#   pg_test_server.sh stop  <state folder>
#
# start writes <state folder>/address (a postgresql:// address of the
# "postgres" database) and stops a server an earlier run left behind. A
# watchdog stops the server when the watched process (by default the caller,
# that is ctest) has gone, or after three hours, so an aborted run never
# leaves a server behind for long.
set -euo pipefail

cmd="${1:-}"
state="${2:-}"
if [ -z "$cmd" ] || [ -z "$state" ]; then
  echo "usage: $0 start|stop <state folder> [<pid to outlive>]" >&2
  exit 2
fi

bindir="${VOV_PG_BINDIR:-}"
if [ -z "$bindir" ]; then
  for v in 17 16 15 14; do
    if [ -x "/usr/lib/postgresql/$v/bin/initdb" ]; then
      bindir="/usr/lib/postgresql/$v/bin"
      break
    fi
  done
fi
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
  echo "PostgreSQL server programs not found (install the postgresql package)" >&2
  exit 1
fi

# initdb refuses to run as root: the cluster then belongs to "postgres".
as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

stop_server() {
  local dir
  [ -f "$state/dir" ] || return 0
  dir="$(cat "$state/dir")"
  if [ -f "$state/watchdog" ]; then
    # The watchdog runs this same stop when its time comes: spare it then.
    local wd
    wd="$(cat "$state/watchdog")"
    [ "$wd" = "$$" ] || kill "$wd" 2>/dev/null || true
    rm -f "$state/watchdog"
  fi
  case "$dir" in
    /tmp/vovarize-pg.*)
      if [ -f "$dir/data/postmaster.pid" ]; then
        (cd / && as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1) || true
      fi
      rm -rf "$dir"
      ;;
  esac
  rm -f "$state/dir" "$state/address"
}

case "$cmd" in
  stop)
    stop_server
    exit 0
    ;;
  start)
    ;;
  *)
    echo "unknown command: $cmd" >&2
    exit 2
    ;;
esac

watch_pid="${3:-$PPID}"
mkdir -p "$state"
stop_server

dir="$(mktemp -d /tmp/vovarize-pg.XXXXXX)"
chmod 755 "$dir"
echo "$dir" > "$state/dir"
password="$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')"
printf '%s\n' "$password" > "$dir/pwfile"
if [ "$(id -u)" = 0 ]; then chown -R postgres: "$dir"; fi
cd "$dir"

if ! as_owner "$bindir/initdb" -D "$dir/data" -U vov --pwfile="$dir/pwfile" \
    --auth=scram-sha-256 -E UTF8 --no-locale --no-sync >"$dir/initdb.log" 2>&1; then
  cat "$dir/initdb.log" >&2
  stop_server
  exit 1
fi
rm -f "$dir/pwfile"
cat >> "$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
port = 5432
max_connections = 60
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
if ! as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null; then
  cat "$dir/server.log" >&2 || true
  stop_server
  exit 1
fi

# The watchdog must not hold ctest's output pipes, or ctest would wait on it.
setsid bash -c '
  deadline=$(( $(date +%s) + 3 * 3600 ))
  while kill -0 "$1" 2>/dev/null && [ "$(date +%s)" -lt "$deadline" ]; do sleep 5; done
  exec "$2" stop "$3"
' watchdog "$watch_pid" "$(readlink -f "$0")" "$state" </dev/null >/dev/null 2>&1 &
echo $! > "$state/watchdog"

echo "postgresql://vov:$password@/postgres?host=$dir&port=5432" > "$state/address"
echo "PostgreSQL test server running in $dir"
