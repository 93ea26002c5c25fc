#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not installed yet: the one way
# every script of this repository installs what it needs. apt-get runs as root, through sudo when
# the user is not root; the package lists are refreshed only when there are none yet or when the
# install fails on stale ones. Waits up to 15 minutes for another apt-get to finish.
#
#   scripts/install_packages.sh PACKAGE...
set -euo pipefail

log() { printf '[install_packages] %s\n' "$*" >&2; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        log "installing packages needs root: run this as root, or install sudo"
        exit 1
    fi
}

apt() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"
}

main() {
    if [ "$#" -eq 0 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
        sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"
        [ "$#" -gt 0 ]
        return
    fi
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ "${#missing[@]}" -eq 0 ] && return
    log "installing ${missing[*]}"
    if ! compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null; then
        apt update
    elif apt install -y --no-install-recommends "${missing[@]}"; then
        return
    else
        log "the install failed; refreshing the package lists and trying once more"
        apt update
    fi
    apt install -y --no-install-recommends "${missing[@]}"
}

main "$@"
