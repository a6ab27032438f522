#!/usr/bin/env bash
# Installs the Debian 12 packages Vovarize needs, with sudo when not root.
#   install-deps.sh          what building and running the programs needs
#   install-deps.sh --test   that, and what the tests and benchmarks add
set -euo pipefail

# Building and running: the compilers, Qt with its own Chinese texts, the
# client libraries of every engine (no servers), a Chinese font for systems
# without one, the desktop's "open" for the usage file, and file and
# dpkg-dev (in build-essential) for packaging with cpack.
build_packages=(
  build-essential cmake pkg-config file
  qt6-base-dev libgl-dev qt6-translations-l10n
  libsqlite3-dev
  mdbtools-dev
  libpq-dev
  libmariadb-dev
  fonts-wqy-zenhei xdg-utils
)

# The tests and benchmarks add GoogleTest, the servers the tests start,
# and the programs they check against.
test_packages=(
  googletest libgtest-dev
  postgresql postgresql-client
  mariadb-server mariadb-client
  mdbtools sqlite3 time
  desktop-file-utils groff-base
)

packages=("${build_packages[@]}")
case "${1:-}" in
  --test) packages+=("${test_packages[@]}") ;;
  "") ;;
  *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# sudo resets the environment: the front end is passed on explicitly, so
# that apt never stops to ask.
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" != 0 ]; then
  if ! command -v sudo >/dev/null 2>&1 || ! sudo -v; then
    {
      echo "install-deps.sh: these packages are missing, and $(id -un) cannot install them with sudo:"
      echo "  ${missing[*]}"
      echo "Install them as root, then run this command again:"
      echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}"
    } >&2
    exit 1
  fi
  as_root=(sudo "${as_root[@]}")
fi
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
