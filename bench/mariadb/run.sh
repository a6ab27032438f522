#!/usr/bin/env bash
# MariaDB as the new database: the rows of an SQLite table (1,000,000 by
# default, the same table as bench/postgres/run.sh) carried into a MariaDB
# table on a throwaway local server by
#   (a) LOAD DATA LOCAL INFILE of the same rows as tab-separated text (the
#       mariadb client),
#   (c) vovarize-batch with the equivalent mapping list file.
# Each is timed best of three into the emptied table; prints the figures,
# the ratio c/a (target: at most 1.5) and the peak memory of (c) at 100,000
# rows and at the full count (target: under 64 MB and flat).
#
#   bench/mariadb/run.sh [rows]
#
# vovarize-batch is built into ${VOVARIZE_BUILD_DIR:-build}. The server
# listens on a Unix socket in a temporary folder and is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$(pwd)"
rows="${1:-1000000}"
runs="${VOV_BENCH_RUNS:-3}"
build="${VOVARIZE_BUILD_DIR:-build}"
batch="$build/bin/vovarize-batch"

if ! command -v mariadb >/dev/null || ! command -v sqlite3 >/dev/null || [ ! -x /usr/bin/time ]; then
  "$root/scripts/install-deps.sh" --test
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target vovarize-batch vovarize-mdb-reader -j "$(nproc)" >/dev/null

work="$(mktemp -d /tmp/vovarize-mybench.XXXXXX)"
cleanup() {
  bash "$root/tests/mariadb/mariadb_test_server.sh" stop "$work/server" || true
  rm -rf "$work"
}
trap cleanup EXIT
bash "$root/tests/mariadb/mariadb_test_server.sh" start "$work/server" $$ >/dev/null
server="$(cat "$work/server/address")"
address="${server/\/vov\?//bench?}"
password="${server#mysql://vov:}"
password="${password%%@*}"
socket="${server#*socket=}"
client() {
  mariadb --no-defaults -S "$socket" -uvov -p"$password" --local-infile=1 "$@"
}
client -e "CREATE DATABASE bench CHARACTER SET utf8mb4"

echo "Source: SQLite table of $rows rows (8 columns, Chinese text, every 7th memo null)"
sqlite3 "$work/src.db" <<EOF
create table src(id integer primary key, code varchar(20), name varchar(50), memo text,
                 qty integer, price real, day text, ok boolean);
begin;
with recursive g(i) as (select 1 union all select i + 1 from g where i < $rows)
insert into src select i, printf('C%08d', i), printf('华东贸易有限公司第%d号客户', i),
  case when i % 7 = 0 then null else printf('备注 memo text %d', i) end,
  i * 3, i * 0.25, printf('2020-%02d-%02d 10:11:12', 1 + i % 12, 1 + i % 28), i % 2 from g;
commit;
EOF
# Tab-separated (no value holds a tab or a line break); LOAD DATA reads \N
# as NULL.
sqlite3 -separator $'\t' -cmd '.nullvalue \\N' "$work/src.db" \
  "select id, code, name, memo, qty, price, day, ok, '默认' from src" > "$work/src.tsv"

# The destination: an auto-increment key, the 8 columns, and one filled by a
# default value.
client bench -e "CREATE TABLE src(nid INT AUTO_INCREMENT PRIMARY KEY, id INT, code VARCHAR(20),
  name VARCHAR(50), memo TEXT, qty INT, price DOUBLE, day DATETIME, ok BOOLEAN,
  extra VARCHAR(10) DEFAULT '默认')"

{
  for f in id code name memo qty price day ok; do
    printf 'src->%-5s >> src->%s\r\n' "$f" "$f"
  done
  printf '默认 >> src->extra\r\n'
} > "$work/map.txt"

load_data() {
  client bench -e "LOAD DATA LOCAL INFILE '$work/src.tsv' INTO TABLE src CHARACTER SET utf8mb4
    FIELDS TERMINATED BY '\t' LINES TERMINATED BY '\n'
    (id, code, name, memo, qty, price, day, ok, extra)"
}
load_batch() {
  /usr/bin/time -f %M -o "$work/peak" \
    "$batch" --old "$work/src.db" --new "$address" --map "$work/map.txt" > "$work/batch.log"
}

# Best of $runs; checks that every row arrived.
best() {
  local best="" t0 t1 t n
  for _ in $(seq "$runs"); do
    client bench -e "TRUNCATE TABLE src"
    t0=$(date +%s.%N)
    "$1"
    t1=$(date +%s.%N)
    n=$(client -N bench -e "SELECT COUNT(*) FROM src")
    if [ "$n" != "$rows" ]; then
      echo "$1 left $n rows instead of $rows" >&2
      exit 1
    fi
    t=$(awk "BEGIN { print $t1 - $t0 }")
    if [ -z "$best" ] || awk "BEGIN { exit !($t < $best) }"; then best=$t; fi
  done
  echo "$best"
}

# The rows must be the source's, not just as many.
want=$(sqlite3 -separator ' ' "$work/src.db" "select count(*), sum(id), sum(qty), count(memo), sum(ok),
  sum(length(name)), sum(length(memo)), max(day), cast(sum(price * 4) as integer) from src")
check() {
  local got
  got=$(client -N bench -e "SELECT COUNT(*), SUM(id), SUM(qty), COUNT(memo), SUM(ok),
    SUM(CHAR_LENGTH(name)), SUM(CHAR_LENGTH(memo)), MAX(day), CAST(SUM(price * 4) AS SIGNED)
    FROM src" | tr '\t' ' ')
  if [ "$want" != "$got" ]; then
    echo "$1 left rows that differ from the source: $got instead of $want" >&2
    exit 1
  fi
}

a=$(best load_data)
check "(a)"
printf '(a) LOAD DATA LOCAL INFILE       %8.2f s\n' "$a"
c=$(best load_batch)
large_kb=$(cat "$work/peak")
check "(c)"
printf '(c) vovarize-batch               %8.2f s\n' "$c"
awk -v a="$a" -v c="$c" 'BEGIN {
  printf "c/a = %.2f (target: at most 1.5)   %s\n", c / a, (c / a <= 1.5 ? "met" : "MISSED")
}'

# Peak memory at a tenth of the rows and at all of them.
sqlite3 "$work/src.db" "create table small as select * from src where id <= $((rows / 10))"
sed 's/^src->/small->/' "$work/map.txt" > "$work/small.txt"
client bench -e "TRUNCATE TABLE src"
/usr/bin/time -f %M -o "$work/peak" "$batch" --old "$work/src.db" --new "$address" \
  --map "$work/small.txt" --new-table src > /dev/null
small_kb=$(cat "$work/peak")
awk -v s="$small_kb" -v l="$large_kb" -v n="$rows" 'BEGIN {
  printf "peak memory of (c): %.1f MB at %d rows, %.1f MB at %d rows   %s\n",
    s / 1024, n / 10, l / 1024, n, (l < 64 * 1024 && l < s * 1.25 + 4096 ? "met" : "MISSED")
}'
