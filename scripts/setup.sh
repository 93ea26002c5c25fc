#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine (as root).
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libcurl4-openssl-dev libssl-dev zlib1g-dev
  libgtest-dev libgmock-dev googletest
  python3 curl unzip
  openssl nginx-light
  # Tools that make the archive corpus of the end-to-end tests and the fuzz seeds.
  zip p7zip-full libarchive-tools
)

export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
