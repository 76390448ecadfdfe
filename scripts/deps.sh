#!/usr/bin/env bash
# Installs the Debian 12 packages that the build and the tests need.
set -euo pipefail
packages=(
  build-essential cmake ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 strace
  python3
  qt6-base-dev fonts-dejavu-core fonts-dejavu-extra
  unixodbc unixodbc-dev odbcinst libsqliteodbc valgrind python3-pyodbc libdbd-odbc-perl
  shapelib python3-dbfread python3-dbf gdal-bin
  xvfb xauth
  postgresql odbc-postgresql
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y "${missing[@]}"
fi
