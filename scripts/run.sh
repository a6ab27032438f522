#!/usr/bin/env bash
# Installs what is needed, builds, and starts Vovarize. The sample
# databases old.db and new.db are in build/bin/samples, where the file
# dialogs start.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
build="${VOVARIZE_BUILD_DIR:-build}"
cd "$build/bin/samples"
exec ../vovarize "$@"
