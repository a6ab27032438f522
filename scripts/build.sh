#!/usr/bin/env bash
# Configures and builds Vovarize into ./build (or $VOVARIZE_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VOVARIZE_BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j "$(nproc)"
