#!/usr/bin/env bash
# Sets up the machine, checks the style (clang-format and clang-tidy, scripts/check_style.sh), then
# builds twice (normal, and AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole test
# suite in both; then runs the fuzz targets for a bounded time and, meanwhile (fuzzing keeps one
# core busy for a fixed time), checks the Windows program (cross-built with MinGW) under Wine.
# Prints the time of every stage at the end; exits non-zero when anything fails.
# The full run is what CI runs (.ci/run). Builds go through ccache when it is installed.
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
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$root"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Each stage's name and wall-clock seconds, printed at the end. A stage returns its command's
# status (set -e does not reach into a command whose status is tested, so each says it itself).
timings=()
began_at=$SECONDS
timed() {
  local name="$1" started=$SECONDS status=0
  shift
  "$@" || status=$?
  timings+=("$(printf '%-22s %5d s' "$name" $((SECONDS - started)))")
  return "$status"
}
print_timings() {
  printf '%s\n' "== time per stage ==" "${timings[@]}"
  printf '%-22s %5d s\n' "whole run" $((SECONDS - began_at))
}

build() {
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -DQXWEB_WERROR=ON "${launcher[@]}" "$@" &&
    cmake --build "$dir" -j "$jobs"
}
# Twice as many test entries as cores: the end-to-end entries spend most of their time waiting on
# the program, its servers and its child processes, not on a core.
run_tests() {
  local dir="$1" status=0 total
  (cd "$dir" && ctest --output-on-failure -j $((jobs * 2))) | tee "$dir/ctest.log" || status=$?
  total="$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$dir/ctest.log")"
  passed=$((passed + ${total:-0}))
  return "$status"
}
passed=0

timed setup "$root/scripts/setup.sh"
echo "== normal build =="
timed "normal build" build "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
timed "normal tests" run_tests "$root/build/release"
if [ "$quick" -eq 1 ]; then
  print_timings
  echo "summary: $passed passed, 0 failed (quick run: normal build only)"
  exit 0
fi
echo "== style: clang-format and clang-tidy =="
timed "style check" "$root/scripts/check_style.sh" -j "$jobs"
echo "== sanitizer build =="
# The benchmark driver is no part of the tests, and its normal build has already compiled it.
timed "sanitizer build" build "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DQXWEB_SANITIZE=ON \
  -DQXWEB_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  timed "sanitizer tests" run_tests "$root/build/asan"

# The fuzz targets run for a fixed time on one core each, one after the other, while the Windows
# build and the Wine checks (much of it serial: configure scripts, Wine starting up) use the rest.
echo "== fuzzing (libFuzzer, about a minute per target), in the background: build/fuzz.log =="
mkdir -p "$root/build"
(
  started=$SECONDS
  status=0
  "$root/scripts/fuzz.sh" "${QXWEB_FUZZ_SECONDS:-60}" >"$root/build/fuzz.log" 2>&1 || status=$?
  echo $((SECONDS - started)) >"$root/build/fuzz.seconds"
  exit "$status"
) &
fuzz_pid=$!
echo "== the Windows program: dependencies, MinGW build, its imports, unit tests and a repair under Wine =="
wine_status=0
timed "Windows dependencies" "$root/tools/windows/build_deps.sh" || wine_status=$?
if [ "$wine_status" -eq 0 ]; then
  QXWEB_WINE_BUILD="$root/build/wine" timed "Windows build and Wine" \
    bash "$root/tools/windows/wine_checks.sh" || wine_status=$?
fi
fuzz_status=0
wait "$fuzz_pid" || fuzz_status=$?
timings+=("$(printf '%-22s %5d s' "fuzzing (beside those)" "$(cat "$root/build/fuzz.seconds" 2>/dev/null || echo 0)")")
echo "== fuzzing =="
cat "$root/build/fuzz.log"
print_timings
if [ "$wine_status" -ne 0 ] || [ "$fuzz_status" -ne 0 ]; then
  echo "summary: the Windows checks (exit $wine_status) or the fuzzing (exit $fuzz_status) failed"
  exit 1
fi
echo "summary: $passed passed, 0 failed"
