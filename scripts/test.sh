#!/usr/bin/env bash
# Sets up the machine, checks the style (clang-format and clang-tidy, scripts/check_style.sh), then
# builds twice (normal, and AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole test
# suite in both; then runs the fuzz targets for a bounded time and checks the Windows program
# (cross-built with MinGW) under Wine. Exits non-zero when anything fails.
# The full run is what CI runs (.ci/run).
#
#   scripts/test.sh           the full run
#   scripts/test.sh --quick   the everyday loop: the normal build and its tests only (a few minutes)
#   QXWEB_FUZZ_SECONDS        seconds per fuzz target in the full run (default 60)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  -h|--help) sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
  *) sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0" >&2; exit 2 ;;
esac

"$root/scripts/setup.sh"

jobs="$(nproc)"
run_suite() {
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -DQXWEB_WERROR=ON "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs") | tee "$dir/ctest.log"
  local total
  total="$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$dir/ctest.log")"
  passed=$((passed + ${total:-0}))
}
passed=0

echo "== normal build =="
run_suite "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "$quick" -eq 1 ]; then
  echo "summary: $passed passed, 0 failed (quick run: normal build only)"
  exit 0
fi
echo "== style: clang-format and clang-tidy =="
"$root/scripts/check_style.sh" -j "$jobs"
echo "== sanitizer build =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DQXWEB_SANITIZE=ON
echo "== fuzzing (libFuzzer, about a minute per target) =="
"$root/scripts/fuzz.sh" "${QXWEB_FUZZ_SECONDS:-60}"
echo "== the Windows program: MinGW build, its imports, unit tests and a repair under Wine =="
QXWEB_WINE_BUILD="$root/build/wine" bash "$root/tools/windows/wine_checks.sh"
echo "summary: $passed passed, 0 failed"
