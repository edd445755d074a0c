#!/usr/bin/env bash
# Installs what MirsalEX needs to build, test and run its demo on Debian 12.
# Packages already present are left alone; apt-get runs only when something
# is missing (as root, or through sudo).
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-translations-l10n
  libgtest-dev googletest
  sqlite3 libsqlite3-dev rsync
  mdbtools mdbtools-dev
  xvfb xauth imagemagick ccache
  dpkg-dev desktop-file-utils lintian
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi
