#!/usr/bin/env bash
# Builds and runs the migration benchmark: vovarize-batch against SQLite's
# own copy and a bare C loop (1,000,000 rows by default), then against
# mdb-export piped into sqlite3 on nwind.mdb (20 rounds by default).
#   bench/migration/run.sh [rows] [access rounds]
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${VOVARIZE_BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" --target migration_bench vovarize-batch -j "$(nproc)" > /dev/null
exec "$build/bin/migration_bench" "$@"
