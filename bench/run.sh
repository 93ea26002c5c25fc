#!/usr/bin/env bash
# Builds the release program and the benchmark driver, then prints the figures (see run.py).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
# The repair benchmark measures the flushes with eatmydata and counts them with strace.
"$root/scripts/install_packages.sh" eatmydata strace
build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target qxwebhelper qxbench
python3 "$root/bench/run.py" --build "$build" "$@"
