#!/usr/bin/env bash
# Builds the Windows program for a patch server and puts what a publisher hands out into dist/:
# qxwebhelper.exe, the licence notices of the libraries linked into it (libcurl, zlib, minizip,
# libsodium, taken from the very sources it was built from), BUILD-INFO.txt (the patch-list
# address, the list's signing key, the version and the sources) and SHA256SUMS. Cross-builds with
# MinGW-w64 on Debian 12 (tools/windows/build.sh, which builds the dependencies once).
#
#   scripts/package.sh --host HOST[:PORT] [--https] [--public-key FILE]
#     --host        the patch-list server built into the program: the program fetches
#                   http://HOST[:PORT]/qx_patchlist_win32
#     --https       fetch the patch list over HTTPS instead
#     --public-key  the .pub file that `minisign -G` wrote: the program then accepts only patch
#                   lists signed with its secret key (qx_patchlist_win32.minisig beside the list)
#   QXWEB_DIST  the output folder (default: dist/ in the repository); it is emptied first
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

usage() { sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"; }

host=""
scheme=http
public_key_file=""
while [ "$#" -gt 0 ]; do
  case "$1" in
    --host) host="${2:-}"; shift ;;
    --https) scheme=https ;;
    --public-key) public_key_file="${2:-}"; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done
if ! [[ "$host" =~ ^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]{1,5})?$ ]]; then
  echo "package: --host needs the patch server's name, with a port if not the default" >&2
  echo "         (patch.example.com or patch.example.com:8080; no scheme, no path)" >&2
  exit 2
fi

# The key is the base64 line of the .pub file: 42 bytes, "Ed", the key id and the Ed25519 key.
public_key=""
key_info="none: patch lists are not checked"
if [ -n "$public_key_file" ]; then
  [ -r "$public_key_file" ] || { echo "package: cannot read $public_key_file" >&2; exit 2; }
  public_key="$(sed -n '2{s/[[:space:]]//g;p}' "$public_key_file")"
  if ! [[ "$public_key" =~ ^RW[A-Za-z0-9+/]{54}$ ]] ||
    [ "$(printf '%s' "$public_key" | base64 -d 2>/dev/null | head -c 2)" != "Ed" ]; then
    echo "package: $public_key_file is not a minisign public key (the .pub file that" >&2
    echo "         minisign -G writes: a comment line, then 56 characters starting with RW)" >&2
    exit 2
  fi
  # The key id as minisign prints it: its 8 bytes read as a little-endian number.
  key_id="$(printf '%s' "$public_key" | base64 -d | od -An -v -tx1 -j2 -N8 | tr -d ' \n' |
    fold -w2 | tac | tr -d '\n' | tr a-f A-F)"
  key_info="minisign key $key_id"
fi

dist="${QXWEB_DIST:-$root/dist}"
build="$root/build/package"
deps="${QXWEB_WIN_DEPS:-$HOME/.cache/qxweb-win-deps}"

# The key is always given, empty too: the build folder must not keep an earlier run's key.
QXWEB_WIN_BUILD="$build" QXWEB_WIN_DEPS="$deps" "$root/tools/windows/build.sh" \
  -DQXWEB_PATCHLIST_HOST="$host" -DQXWEB_PATCHLIST_SCHEME="$scheme" \
  -DQXWEB_LIST_PUBLIC_KEY="$public_key"

curl_src="$(compgen -G "$deps/src/curl-[0-9]*/COPYING" | head -n 1)"
zlib_src="$(dirname "$(compgen -G "$deps/src/zlib-*/LICENSE" | head -n 1)")"
minizip_src="$zlib_src/contrib/minizip"
sodium_src="$(dirname "$(compgen -G "$deps/src/libsodium-[0-9]*/LICENSE" | head -n 1)")"

# The first comment of a C file: where minizip's files carry their copyright lines and licence.
head_comment() { sed -n '1,/\*\//p' "$1"; }

rm -rf "$dist"
mkdir -p "$dist/LICENSES"
cp "$build/qxwebhelper.exe" "$dist/"
cp "$curl_src" "$dist/LICENSES/libcurl.txt"
cp "$zlib_src/LICENSE" "$dist/LICENSES/zlib.txt"
cp "$sodium_src/LICENSE" "$dist/LICENSES/libsodium.txt"
{
  echo "minizip (the unzip part of zlib's contrib/minizip), as its files compiled into"
  echo "qxwebhelper.exe state their copyright and licence:"
  for file in unzip.h unzip.c ioapi.h ioapi.c iowin32.h iowin32.c; do
    printf '\n---- %s ----\n\n' "$file"
    head_comment "$minizip_src/$file"
  done
} >"$dist/LICENSES/minizip.txt"

version="$(sed -n 's/^project(QxWebHelper VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
commit="$(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)"
cat >"$dist/BUILD-INFO.txt" <<TXT
QxWebHelper $version for 64-bit Windows
patch list:  $scheme://$host/qx_patchlist_win32
list key:    $key_info
source:      $commit
libcurl:     $(basename "$(dirname "$curl_src")") (Debian source $(grep '^curl_' "$deps/versions.txt")), HTTP and HTTPS over Schannel
zlib:        Debian's libz-mingw-w64-dev $(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)
minizip:     zlib's contrib/minizip (Debian source $(grep '^zlib_' "$deps/versions.txt"))
libsodium:   $(basename "$sodium_src") (Debian source $(grep '^libsodium_' "$deps/versions.txt")), minimal build
compiler:    $(x86_64-w64-mingw32-g++-win32 --version | head -n 1)
All libraries are linked in: the program needs no DLL beyond the ones Windows ships.
TXT

(cd "$dist" && sha256sum qxwebhelper.exe BUILD-INFO.txt LICENSES/* >SHA256SUMS)
echo
echo "dist: $dist"
(cd "$dist" && ls -l qxwebhelper.exe BUILD-INFO.txt SHA256SUMS LICENSES/* | awk '{print "  " $5 "\t" $9}')
echo "patch list: $scheme://$host/qx_patchlist_win32"
echo "list key:   $key_info"
