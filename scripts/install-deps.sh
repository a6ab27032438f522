#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test Vovarize.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
packages=(
  build-essential cmake pkg-config git
  qt6-base-dev libgl-dev
  libsqlite3-dev sqlite3
  mdbtools mdbtools-dev
  libpq-dev postgresql postgresql-client
  googletest libgtest-dev
  fonts-wqy-zenhei xdg-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
