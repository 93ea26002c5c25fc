#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine, with apt-get
# as root (through sudo when run as another user). Safe to run again: only missing packages are
# installed. The Windows build and the Wine checks install their own (tools/windows/).
#
#   scripts/setup.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ "$#" -gt 0 ]; then
  sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"
  [ "$1" = "-h" ] || [ "$1" = "--help" ]
  exit
fi

packages=(
  build-essential cmake pkg-config git
  libcurl4-openssl-dev libssl-dev zlib1g-dev libsodium-dev
  libgtest-dev libgmock-dev googletest
  python3 curl unzip
  openssl nginx-light
  # Tools that make the archive corpus of the end-to-end tests and the fuzz seeds.
  zip p7zip-full libarchive-tools
  # The publishers' signing tool: the demo signs its patch list with it, the release gate checks
  # signed lists with it.
  minisign
)
"$root/scripts/install_packages.sh" "${packages[@]}"
