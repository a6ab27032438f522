#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. The tests start the
# PostgreSQL server they use themselves and stop it afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --test
./scripts/build.sh
build="${VOVARIZE_BUILD_DIR:-build}"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 900
