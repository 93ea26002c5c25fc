#!/usr/bin/env bash
# Builds the Windows dependencies of QxWebHelper once, into a cache folder outside the source tree:
# a static libcurl for HTTP and HTTPS over the system's TLS (Schannel), a static minizip and a
# static libsodium (the signature check of the patch list), all for x86_64-w64-mingw32, from
# Debian's own source packages. A finished cache is left as it is, so
# running this again costs nothing.
#
#   QXWEB_WIN_DEPS   the cache folder (default: $HOME/.cache/qxweb-win-deps)
#   QXWEB_JOBS       parallel make jobs (default: 2)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
readonly ROOT
readonly DEPS="${QXWEB_WIN_DEPS:-$HOME/.cache/qxweb-win-deps}"
readonly JOBS="${QXWEB_JOBS:-2}"
readonly HOST=x86_64-w64-mingw32
readonly SYSROOT=/usr/$HOST
# Bump when the recipe changes, so that an older cache is rebuilt instead of reused.
readonly RECIPE=3
readonly STAMP="$DEPS/.complete-$RECIPE"
readonly TOOL_PACKAGES=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 libz-mingw-w64-dev
                        dpkg-dev make pkg-config cmake python3 autoconf automake libtool)

log() { printf '[build_deps] %s\n' "$*" >&2; }

# The Debian mirror the machine itself uses (its deb822 sources), else the public one.
debian_mirror() {
    local uri
    uri=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\/debian\)\/\{0,1\}$/\1/p' \
        /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    printf '%s\n' "${uri:-http://deb.debian.org/debian}"
}

install_tools() {
    "$ROOT/scripts/install_packages.sh" "${TOOL_PACKAGES[@]}"
}

# apt-get with a sources list, package lists and caches of our own: the machine's apt setup is
# only read, never changed.
private_apt() {
    local dir="$DEPS/apt"
    apt-get -o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
        -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" \
        -o APT::Sandbox::User="$(id -un)" "$@"
}

fetch_sources() {
    local dir="$DEPS/apt"
    if compgen -G "$DEPS/src/curl-*/configure" >/dev/null &&
        compgen -G "$DEPS/src/zlib-*/contrib/minizip/unzip.c" >/dev/null &&
        compgen -G "$DEPS/src/libsodium-*/configure.ac" >/dev/null; then
        return
    fi
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" "$DEPS/src"
    printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s bookworm main\n' \
        "$(debian_mirror)" >"$dir/sources.list"
    log "fetching Debian's curl, zlib and libsodium sources into $DEPS/src"
    private_apt -q update
    (cd "$DEPS/src" && rm -rf ./curl-* ./zlib-* ./libsodium-* ./*.dsc ./*.tar.* &&
        private_apt -q source curl zlib libsodium)
}


build_curl() {
    # libcurl.pc is installed last: its presence means the whole install finished.
    [ -f "$DEPS/lib/pkgconfig/libcurl.pc" ] && return
    local src build
    src=$(compgen -G "$DEPS/src/curl-[0-9]*/configure" | head -n 1)
    src=${src%/configure}
    build="$DEPS/build/curl"
    rm -rf "$build" && mkdir -p "$build"
    log "configuring libcurl ($src)"
    # HTTP and HTTPS only, TLS by the system (Schannel, which verifies against the Windows
    # certificate store): no compression, no IDN/PSL, no HTTP/2, no other protocol. Win32 threads
    # for the resolver, so nothing links against winpthread.
    (cd "$build" && "$src/configure" -q --host="$HOST" --prefix="$DEPS" \
        --disable-shared --enable-static --disable-pthreads --enable-threaded-resolver \
        --with-schannel --without-zlib --without-brotli --without-zstd --without-libidn2 \
        --without-libpsl --without-nghttp2 --without-nghttp3 --without-ngtcp2 --without-quiche \
        --without-msh3 --without-libssh2 --without-libssh --without-wolfssh --without-librtmp \
        --without-libgsasl --without-hyper --without-winidn --without-gssapi \
        --without-ca-bundle --without-ca-path --without-ca-fallback \
        --disable-ldap --disable-ldaps --disable-rtsp --disable-dict --disable-telnet \
        --disable-tftp --disable-pop3 --disable-imap --disable-smb --disable-smtp \
        --disable-gopher --disable-mqtt --disable-ftp --disable-file --disable-ntlm-wb \
        --disable-crypto-auth --disable-unix-sockets --disable-manual \
        --disable-alt-svc --disable-hsts --disable-cookies \
        CFLAGS='-O2' >"$build/configure.out")
    log "building libcurl"
    make -C "$build/lib" -j"$JOBS" -s V=0 >"$build/make.out"
    make -C "$build/lib" -s install >/dev/null
    make -C "$build/include" -s install >/dev/null
    make -C "$build" -s install-pkgconfigDATA >/dev/null
}

build_minizip() {
    [ -f "$DEPS/lib/pkgconfig/minizip.pc" ] && return
    local src build obj
    src=$(compgen -G "$DEPS/src/zlib-*/contrib/minizip/unzip.c" | head -n 1)
    src=${src%/unzip.c}
    build="$DEPS/build/minizip"
    rm -rf "$build" && mkdir -p "$build" "$DEPS/lib/pkgconfig" "$DEPS/include/minizip"
    log "building minizip ($src) against $SYSROOT/lib/libz.a"
    for obj in unzip ioapi iowin32; do
        $HOST-gcc -O2 -c "$src/$obj.c" -o "$build/$obj.o"
    done
    $HOST-ar rcs "$DEPS/lib/libminizip.a" "$build"/unzip.o "$build"/ioapi.o "$build"/iowin32.o
    cp "$src"/unzip.h "$src"/ioapi.h "$src"/iowin32.h "$DEPS/include/minizip/"
    # The same shape as the Linux minizip.pc, so that `#include <unzip.h>` works on both sides.
    cat >"$DEPS/lib/pkgconfig/minizip.pc" <<PC
prefix=$DEPS
libdir=\${prefix}/lib
includedir=\${prefix}/include/minizip

Name: minizip
Description: minizip unzip interface from zlib's contributions (static, $HOST)
Version: $(basename "$(dirname "$(dirname "$src")")" | sed 's/^zlib-//')
Libs: -L\${libdir} -lminizip
Libs.private: -lz
Cflags: -I\${includedir}
PC
}

build_libsodium() {
    # libsodium.pc is installed last: its presence means the whole install finished.
    [ -f "$DEPS/lib/pkgconfig/libsodium.pc" ] && return
    local src build
    src=$(compgen -G "$DEPS/src/libsodium-[0-9]*/configure.ac" | head -n 1)
    src=${src%/configure.ac}
    build="$DEPS/build/libsodium"
    rm -rf "$build" && mkdir -p "$build"
    # Debian's source is the project's tree without a generated configure: make it as Debian's
    # own build does (dh_autoreconf).
    if [ ! -x "$src/configure" ]; then
        log "generating libsodium's configure"
        (cd "$src" && autoreconf -fi >"$build/autoreconf.out" 2>&1)
    fi
    log "configuring libsodium ($src)"
    # The minimal build holds what the program uses (Ed25519 signatures, BLAKE2b, base64). No
    # stack protector: MinGW's would need libssp-0.dll beside the program.
    (cd "$build" && "$src/configure" -q --host="$HOST" --prefix="$DEPS" \
        --disable-shared --enable-static --enable-minimal --disable-ssp \
        CFLAGS='-O2' >"$build/configure.out")
    log "building libsodium"
    make -C "$build/src" -j"$JOBS" -s V=0 >"$build/make.out"
    make -C "$build/src" -s install >/dev/null
    make -C "$build" -s install-pkgconfigDATA >/dev/null
}

report() {
    cat <<TXT
Windows dependencies in $DEPS:
  libcurl   $DEPS/lib/libcurl.a, headers $DEPS/include/curl (define CURL_STATICLIB)
            link: $(sed -n 's/^Libs.private: *//p' "$DEPS/lib/pkgconfig/libcurl.pc")
  minizip   $DEPS/lib/libminizip.a, headers $DEPS/include/minizip
  libsodium $DEPS/lib/libsodium.a, headers $DEPS/include (define SODIUM_STATIC)
  zlib      $SYSROOT/lib/libz.a (Debian's libz-mingw-w64-dev)
  sources   $(tr '\n' ' ' <"$DEPS/versions.txt" 2>/dev/null)
TXT
}

# What an older recipe built goes, so that every component is built again; the fetched sources
# stay (a recipe names the same Debian packages).
forget_older_builds() {
    log "no build of recipe $RECIPE in $DEPS: building the dependencies again"
    rm -rf "$DEPS/build" "$DEPS/lib" "$DEPS/include" "$DEPS"/.complete-*
}

main() {
    local dsc
    if [ "$#" -gt 0 ]; then
        sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"
        [ "$1" = "-h" ] || [ "$1" = "--help" ]
        return
    fi
    mkdir -p "$DEPS"
    # One builder at a time: two checks that start together would otherwise build over each other.
    exec 9>"$DEPS/.lock"
    flock 9
    if [ -f "$STAMP" ]; then
        report
        return
    fi
    install_tools
    forget_older_builds
    fetch_sources
    build_curl
    build_minizip
    build_libsodium
    for dsc in "$DEPS"/src/*.dsc; do basename "$dsc" .dsc; done >"$DEPS/versions.txt"
    touch "$STAMP"
    report
}

main "$@"
