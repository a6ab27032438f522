#!/usr/bin/env bash
# Installs what building and running Vovarize needs, builds the programs and
# starts the main window. The sample databases old.db and new.db are in
# build/bin/samples, where the file dialogs start.
set -euo pipefail
cd "$(dirname "$0")/.."
# Said before a long install and build, not by Qt after them.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); run it in a desktop session, or only build with ./scripts/install-deps.sh && ./scripts/build.sh --programs" >&2
  exit 1
fi
./scripts/install-deps.sh
./scripts/build.sh --programs
build="${VOVARIZE_BUILD_DIR:-build}"
cd "$build/bin/samples"
exec ../vovarize "$@"
