#!/usr/bin/env bash
# Configures and builds Vovarize into ./build (or $VOVARIZE_BUILD_DIR).
#   build.sh              the programs, the tests and the benchmarks
#   build.sh --programs   the programs only (no GoogleTest needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VOVARIZE_BUILD_DIR:-build}"
with_tests=ON
case "${1:-}" in
  --programs) with_tests=OFF ;;
  "") ;;
  *) echo "usage: $0 [--programs]" >&2; exit 2 ;;
esac
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOVARIZE_TESTS=$with_tests -DVOVARIZE_BENCH=$with_tests > /dev/null
cmake --build "$build" -j "$(nproc)"
