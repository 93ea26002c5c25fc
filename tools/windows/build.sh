#!/usr/bin/env bash
# Cross-builds the Windows program: the dependencies first (built once into their cache), then the
# folder build-win with the MinGW-w64 toolchain file, warnings as errors and no test-only settings;
# then checks the program needs no DLL beyond the system's, reads no test-only setting and carries
# its resources.
#
#   build.sh [extra cmake -D options...]   e.g. -DQXWEB_PATCHLIST_HOST=patch.example:80
#   QXWEB_WIN_BUILD  the build folder (default: build-win in the source tree)
#   QXWEB_WIN_DEPS   the dependency cache (see build_deps.sh)
#   QXWEB_JOBS       parallel jobs (default: 2)
set -euo pipefail
if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"
    exit 0
fi

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
readonly ROOT
readonly BUILD="${QXWEB_WIN_BUILD:-$ROOT/build-win}"
readonly DEPS="${QXWEB_WIN_DEPS:-$HOME/.cache/qxweb-win-deps}"

QXWEB_WIN_DEPS="$DEPS" "$ROOT/tools/windows/build_deps.sh"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$ROOT" -B "$BUILD" "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DQXWEB_WIN_DEPS="$DEPS" -DCMAKE_BUILD_TYPE=Release \
    -DQXWEB_TESTS=OFF -DQXWEB_TEST_SETTINGS=OFF -DQXWEB_WERROR=ON "$@"
cmake --build "$BUILD" --target qxwebhelper -j"${QXWEB_JOBS:-2}"
"$ROOT/tools/windows/check_exe.sh" "$BUILD/qxwebhelper.exe"
