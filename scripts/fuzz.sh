#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a bounded time, starting
# from starting corpora made by the tests' own generators. Fails on any crash, leak, sanitizer report or
# escape from the destination folder.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if ! [[ "${1:-60}" =~ ^[0-9]+$ ]]; then
  sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"
  [ "$1" = "-h" ] || [ "$1" = "--help" ]
  exit
fi
seconds="${1:-60}"
build="$root/build/fuzz"

# clang with its libFuzzer runtime; the archive seeds include archives made by real tools.
"$root/scripts/install_packages.sh" clang libclang-rt-14-dev zip p7zip-full libarchive-tools

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQXWEB_FUZZ=ON -DQXWEB_TESTS=OFF -DQXWEB_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_patchlist fuzz_archive fuzz_signature

corpus="$build/corpus"
rm -rf "$corpus"
python3 "$root/fuzz/make_corpus.py" "$corpus"
for target in patchlist archive signature; do
  echo "== fuzz_$target for ${seconds}s =="
  mkdir -p "$corpus/$target.out"
  # The sandbox needs a private temporary folder; findings go to the build folder.
  log="$build/fuzz_$target.log"
  status=0
  (cd "$build" && TMPDIR="$build" ASAN_OPTIONS=detect_leaks=1 \
    "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz_$target-" \
    "$corpus/$target.out" "$corpus/$target" >"$log" 2>&1) || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 80 "$log"
    echo "fuzz_$target: finding (exit $status), see $log"
    exit 1
  fi
  grep -E "DONE|stat::" "$log"
done
echo "fuzzing: no findings"
