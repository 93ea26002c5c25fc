#!/usr/bin/env bash
# Sets up the machine, then builds twice (normal, and AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs the whole test suite in both. Exits non-zero when anything fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

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
echo "== sanitizer build =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DQXWEB_SANITIZE=ON
echo "== fuzzing (libFuzzer, about a minute per target) =="
"$root/scripts/fuzz.sh" "${QXWEB_FUZZ_SECONDS:-60}"
echo "summary: $passed passed, 0 failed"
