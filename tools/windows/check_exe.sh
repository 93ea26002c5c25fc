#!/usr/bin/env bash
# Checks a cross-built qxwebhelper.exe: it imports only DLLs that every Windows system ships
# (static C++ runtime, static libcurl/zlib/minizip), its libcurl speaks HTTPS through the system's
# Schannel, it reads no test-only setting (no "QXWEB_" name is in it but its single-instance
# mutex's), and it carries its resources: the icon, the dialog template 102, the version record and
# the manifest.
#
#   check_exe.sh PATH/TO/qxwebhelper.exe
set -euo pipefail

readonly HOST=x86_64-w64-mingw32
readonly SYSTEM_DLLS='^(kernel32|user32|gdi32|shell32|shlwapi|psapi|comctl32|ws2_32|advapi32|bcrypt|crypt32|secur32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'

fail() { printf 'check_exe: %s\n' "$*" >&2; exit 1; }

check_imports() {
    local exe="$1" dll foreign=()
    while read -r dll; do
        printf '%s\n' "${dll,,}" | grep -Eq "$SYSTEM_DLLS" || foreign+=("$dll")
    done < <($HOST-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    [ "${#foreign[@]}" -eq 0 ] || fail "$exe needs DLLs that Windows does not ship: ${foreign[*]}"
}

# libcurl names its TLS backend in its version text ("libcurl/7.88.1 Schannel").
check_tls() {
    grep -aq 'Schannel' "$1" || fail "$1 cannot speak HTTPS: its libcurl was built without Schannel"
}

# Test-only settings are environment variables named QXWEB_...; a program built without them
# holds none of the names, narrow or UTF-16. The mutex "__QXWEB_HELPER_MUTEX_NAME__" is no setting.
check_no_test_settings() {
    local names
    names=$( { $HOST-strings -a "$1"; $HOST-strings -a -e l "$1"; } |
        grep -o 'QXWEB_[A-Za-z0-9_]*' | grep -vx 'QXWEB_HELPER_MUTEX_NAME__' | sort -u |
        tr '\n' ' ') || true
    [ -z "$names" ] || fail "$1 reads test-only settings: ${names% }"
}

check_resources() {
    local exe="$1" listing kind
    listing=$($HOST-windres -J coff -i "$exe" -O rc 2>/dev/null) ||
        fail "$exe: cannot read its resources"
    for kind in 'Type: group icon' 'Type: version' 'Type: 24'; do
        grep -q "$kind" <<<"$listing" || fail "$exe lacks a resource ($kind)"
    done
    grep -q '^102 DIALOGEX' <<<"$listing" || fail "$exe lacks the dialog template 102"
}

main() {
    [ "$#" -eq 1 ] || fail "usage: check_exe.sh PATH/TO/qxwebhelper.exe"
    [ -f "$1" ] || fail "$1: no such file"
    check_imports "$1"
    check_tls "$1"
    check_no_test_settings "$1"
    check_resources "$1"
    printf 'check_exe: %s: system DLLs only, HTTPS over Schannel, no test-only settings, resources present\n' "$1"
}

main "$@"
