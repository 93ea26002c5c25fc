#!/usr/bin/env bash
# Checks the real Windows program under Wine, on a headless X server: the unit tests whose sources
# hold for real Win32 as for our Linux layer (built with MinGW), then qxwebhelper.exe itself in a
# client folder against the bundled patch server on 127.0.0.1 (start-up boxes, the dialog, a full
# repair, the game launch), with screenshots of the dialog in each state. The program is built with
# a minisign public key made for the checks, so every patch list it repairs from is a signed one; repairs in client folders
# named outside the ANSI code page (Hangul in a Chinese locale, Chinese in an English one) and one
# whose archives come over HTTPS through Schannel. Every step has a time limit; the script ends
# non-zero when any step fails.
#
#   tools/windows/wine_checks.sh [--docs]
#   --docs            once every check has passed, copy the screenshots into docs/, where the
#                     README shows them
#   QXWEB_WINE_BUILD  the build folder (default: build-win-wine in the source tree); it holds the
#                     builds, the Wine prefix, the client folders and the screenshots
#   QXWEB_WINE_PORT   the port of the patch server fixed into the program (default: 28110)
#   QXWEB_WIN_DEPS    the dependency cache (see build_deps.sh)
#   QXWEB_JOBS        parallel jobs (default: 2)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
readonly ROOT
readonly BUILD="${QXWEB_WINE_BUILD:-$ROOT/build-win-wine}"
readonly PORT="${QXWEB_WINE_PORT:-28110}"
readonly JOBS="${QXWEB_JOBS:-2}"
readonly HOST=x86_64-w64-mingw32
# Wine's X11 driver loads the X extension libraries at run time (they are only recommended, and
# this installs without recommendations), so they are named here.
readonly PACKAGES=(wine wine64 fonts-wine xvfb xdotool imagemagick fonts-wqy-microhei locales
                   libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1 libxcomposite1
                   libxfixes3 googletest g++-mingw-w64-x86-64 cmake make python3
                   p7zip-full openssl minisign)

XVFB_PID=""

log() { printf '[wine_checks] %s\n' "$*" >&2; }
fail() { log "FAILED: $*"; exit 1; }

# Runs one of this script's functions under a time limit (seconds), naming it in the log and on
# failure. timeout needs a program, so the script runs itself with --step.
step() {
    local name="$1" seconds="$2" status=0
    shift 2
    log "$name"
    local started=$SECONDS
    timeout --kill-after=30 "$seconds" bash "${BASH_SOURCE[0]}" --step "$@" || status=$?
    [ "$status" -eq 0 ] || fail "$name (exit $status$([ "$status" -eq 124 ] && echo ', timed out'))"
    log "$name: done in $((SECONDS - started)) s"
}

install_packages() {
    "$ROOT/scripts/install_packages.sh" "${PACKAGES[@]}"
}

# The checks' publisher key pair, made once, without a password so that the checks sign unattended.
make_key() {
    [ -s "$BUILD/key/list.pub" ] && [ -s "$BUILD/key/list.key" ] && return
    mkdir -p "$BUILD/key"
    minisign -G -W -f -p "$BUILD/key/list.pub" -s "$BUILD/key/list.key" >/dev/null
}

build_program() {
    QXWEB_WIN_BUILD="$BUILD/exe" QXWEB_JOBS="$JOBS" nice -n 10 "$ROOT/tools/windows/build.sh" \
        -DQXWEB_PATCHLIST_HOST="127.0.0.1:$PORT" \
        -DQXWEB_LIST_PUBLIC_KEY="$(sed -n 2p "$BUILD/key/list.pub")"
}

# The test programs need the posix thread model (the tests' helpers may use std::thread), so
# they have a build folder of their own; only the small fsutil and state libraries are built twice.
# They read the test-only settings; the program checked here is the one users get, which does not.
build_tests() {
    cmake -S "$ROOT" -B "$BUILD/tests" \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DQXWEB_MINGW_THREADS=posix -DCMAKE_BUILD_TYPE=Release -DQXWEB_TESTS=ON \
        -DQXWEB_TEST_SETTINGS=ON \
        -DQXWEB_WERROR=ON -DQXWEB_PATCHLIST_HOST="127.0.0.1:$PORT" >/dev/null
    nice -n 10 cmake --build "$BUILD/tests" --target test_fsutil test_winapi -j"$JOBS"
}

build_game_stand_in() {
    "$HOST-gcc-win32" -municode -O2 -Wall -Wextra -Wpedantic -Werror -static \
        -o "$BUILD/vazazu.exe" "$ROOT/tests/wine/game_stand_in.c"
}

# A Chinese and an English locale of our own (LOCPATH), so Wine takes code page 936 like a
# Chinese Windows (and 1252 like an English one where a check asks for it), without touching the
# machine's locale set-up.
make_locale() {
    local locale
    mkdir -p "$BUILD/locale"
    for locale in zh_CN en_US; do
        [ -d "$BUILD/locale/$locale.UTF-8" ] ||
            localedef -i "$locale" -f UTF-8 "$BUILD/locale/$locale.UTF-8"
    done
}

start_xvfb() {
    local display=99
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$BUILD/xvfb.log" 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$display"
    local tries
    for tries in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$display" ] && return
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    fail "Xvfb did not start on $DISPLAY (tried $tries times; see $BUILD/xvfb.log)"
}

stop_all() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        timeout 60 wineserver -k 2>/dev/null || true
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
}

# A fresh prefix: Chinese fonts for the dialog's "微软雅黑" and the dialog font, and Wine's own
# caption and frame drawn (there is no window manager to draw them).
make_prefix() {
    rm -rf "$WINEPREFIX"
    wineboot --init >"$BUILD/wineboot.log" 2>&1
    local face
    for face in 微软雅黑 "MS Shell Dlg" "MS Shell Dlg 2" SimSun 宋体; do
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ \
            /d 'WenQuanYi Micro Hei' /f >/dev/null
    done
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null
    # The caption buttons' glyphs; this Wine reads its own TrueType fonts only from the prefix.
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    wineserver -w
}

# Runs one test program, its whole output kept in a log; prints its summary and skip reasons.
run_unit_tests() {
    local name="$1" status=0
    (cd "$BUILD/work" && wine "$BUILD/tests/tests/$name.exe" \
        --gtest_output="xml:$BUILD/$name.xml") >"$BUILD/$name.log" 2>&1 || status=$?
    grep -E '^\[  (PASSED|FAILED|SKIPPED) +\]|^(Wine|std::filesystem|this) ' \
        "$BUILD/$name.log" >&2 || true
    if [ "$status" -ne 0 ]; then
        sed -n '/Failure/,/^\[  FAILED/p' "$BUILD/$name.log" >&2
        return "$status"
    fi
}

run_program_checks() {
    QXWEB_WIN_EXE="$BUILD/exe/qxwebhelper.exe" QXWEB_WIN_GAME="$BUILD/vazazu.exe" \
        QXWEB_WINE_PORT="$PORT" QXWEB_WINE_OUT="$BUILD/e2e" QXWEB_WINE_LIST_KEY="$BUILD/key/list.key" \
        PYTHONDONTWRITEBYTECODE=1 \
        python3 "$ROOT/tests/wine/wine_e2e.py"
}

main() {
    local docs=0
    case "${1:-}" in
        "") ;;
        --docs) docs=1 ;;
        -h|--help) sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
        *) sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0" >&2; exit 2 ;;
    esac
    mkdir -p "$BUILD/work"
    trap stop_all EXIT
    step "installing Wine, Xvfb, xdotool, ImageMagick and fonts" 900 install_packages
    step "making the publisher's key for the checks" 60 make_key
    step "building qxwebhelper.exe (patch list at 127.0.0.1:$PORT)" 1500 build_program
    step "building the unit tests for Windows" 900 build_tests
    step "building the game stand-in" 120 build_game_stand_in
    step "making the zh_CN.UTF-8 and en_US.UTF-8 locales" 300 make_locale

    export WINEPREFIX="$BUILD/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    export LOCPATH="$BUILD/locale" LANG=zh_CN.UTF-8
    start_xvfb
    step "creating the Wine prefix" 300 make_prefix
    step "unit tests under Wine: test_fsutil" 300 run_unit_tests test_fsutil
    step "unit tests under Wine: test_winapi" 300 run_unit_tests test_winapi
    step "qxwebhelper.exe under Wine: start-up, repair, launch" 900 run_program_checks
    log "screenshots: $BUILD/e2e/screenshots"
    log "all Wine checks passed"
    if [ "$docs" -eq 1 ]; then
        cp "$BUILD"/e2e/screenshots/*.png "$ROOT/docs/"
        log "screenshots copied into $ROOT/docs"
    fi
}

if [ "${1:-}" = "--step" ]; then
    shift
    "$@"
else
    main "$@"
fi
