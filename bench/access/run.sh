#!/usr/bin/env bash
# Builds and runs the Access read benchmark: the backend against mdb-export.
#   bench/access/run.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${VOVARIZE_BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" --target access_bench vovarize-mdb-reader -j "$(nproc)" > /dev/null
exec "$build/bin/access_bench" "$@"
