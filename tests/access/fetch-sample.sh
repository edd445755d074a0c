#!/usr/bin/env bash
# Puts the sample Access file (Monitor.mdb, a Jet 4 database from the examples
# of Debian's mrtg-contrib package, GPL-2+) in the folder given, fetched with
# apt-get download. It is never kept in the repository.
set -euo pipefail
dest=${1:?usage: fetch-sample.sh FOLDER}
mkdir -p "$dest"
[[ -s "$dest/Monitor.mdb" ]] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The package lists may be empty on a fresh machine: read them once and retry.
if ! apt-get download mrtg-contrib >/dev/null 2>&1; then
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  apt-get download mrtg-contrib >/dev/null
fi
dpkg-deb -x mrtg-contrib_*.deb extracted
cp extracted/usr/share/doc/mrtg-contrib/examples/contrib/monitor/Monitor.mdb "$dest/Monitor.mdb.part"
mv "$dest/Monitor.mdb.part" "$dest/Monitor.mdb"
