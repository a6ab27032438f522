#!/usr/bin/env bash
# Builds and runs the Access write benchmark: 500,000 rows into 订单明细 of
# copies of bench_jet4.mdb and bench_ace14.accdb, peak memory at each size,
# and reading the written table back against mdb-export.
#   bench/access/write.sh [rows ...]
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${VOVARIZE_BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" --target access_write_bench vovarize-mdb-reader -j "$(nproc)" > /dev/null
exec "$build/bin/access_write_bench" "$@"
