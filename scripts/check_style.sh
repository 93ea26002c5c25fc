#!/usr/bin/env bash
# The style checks: clang-format (the repository's .clang-format, dry run, findings are errors) over
# every C and C++ file of src, tests, bench, fuzz and res, and clang-tidy (.clang-tidy) over the
# product sources and the test support. Exits non-zero on any finding.
# Usage: scripts/check_style.sh [--format-only | --tidy-only] [--fix] [-j N]
#   --fix  rewrites instead of checking: clang-tidy's own fixes (braces, nullptr, override; enum
#          constant names and the bugprone and analyzer findings stay for a person), then
#          clang-format -i.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

run_format=1
run_tidy=1
fix=0
jobs="$(nproc)"
while [ "$#" -gt 0 ]; do
  case "$1" in
    --format-only) run_tidy=0 ;;
    --tidy-only) run_format=0 ;;
    --fix) fix=1 ;;
    -j) jobs="$2"; shift ;;
    -h|--help) sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "usage: $0 [--format-only | --tidy-only] [--fix] [-j N]" >&2; exit 2 ;;
  esac
  shift
done

"$root/scripts/install_packages.sh" clang-format clang-tidy

# clang-tidy reads the compile commands of a build folder of its own, configured but never built,
# so that it sees the Linux layer's headers exactly as the compiler does. The logs go there too.
tidy_build="$root/build/tidy"
mkdir -p "$tidy_build"

# Our own files only: the build folders under build/ are not among these folders.
mapfile -t format_files < <(find src tests bench fuzz res -type f \
  \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) | sort)

format_status=0
format_check() {
  echo "== clang-format: ${#format_files[@]} files =="
  if [ "$fix" -eq 1 ]; then
    clang-format -i "${format_files[@]}"
    return
  fi
  local log="$tidy_build/clang-format.log"
  clang-format --dry-run -Werror "${format_files[@]}" >"$log" 2>&1 || format_status=1
  cat "$log"
  echo "clang-format: $(grep -c 'error:' "$log" || true) findings"
}

tidy_status=0
tidy_check() {
  cmake -S "$root" -B "$tidy_build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DQXWEB_BENCH=OFF >/dev/null
  mapfile -t tidy_files < <(python3 - "$tidy_build/compile_commands.json" "$root" <<'EOF'
import json, os, sys
entries = json.load(open(sys.argv[1]))
root = sys.argv[2]
wanted = (os.path.join(root, "src") + "/", os.path.join(root, "tests", "support") + "/")
print("\n".join(sorted({e["file"] for e in entries if e["file"].startswith(wanted)})))
EOF
  )
  local header_filter="^$root/(src|tests/support)/"
  echo "== clang-tidy: ${#tidy_files[@]} files, $jobs at a time =="
  if [ "$fix" -eq 1 ]; then
    # run-clang-tidy collects the fixes of all files first, so a header is rewritten once. The
    # naming check's own fix would only capitalise a prefix (kStop -> KStop): names stay manual.
    run-clang-tidy -p "$tidy_build" -j "$jobs" -quiet -fix -header-filter "$header_filter" \
      -checks=-readability-identifier-naming "${tidy_files[@]}" >/dev/null 2>&1 || true
    return
  fi
  local log="$tidy_build/clang-tidy.log"
  printf '%s\n' "${tidy_files[@]}" |
    xargs -P "$jobs" -n 1 clang-tidy -p "$tidy_build" --quiet --warnings-as-errors='*' \
      --header-filter="$header_filter" >"$log" 2>/dev/null || tidy_status=1
  # A header's finding is reported by every file that includes it: list each once.
  local findings="$tidy_build/clang-tidy.findings"
  grep -E '^/.*: (warning|error): ' "$log" | sed "s|^$root/||" | sort -u >"$findings" || true
  cat "$findings"
  echo "clang-tidy: $(wc -l <"$findings") findings"
  sed -E 's/.*\[([^],]+)(,-warnings-as-errors)?\]$/\1/' "$findings" | sort | uniq -c | sort -rn
  # A file clang-tidy could not compile fails the check with the compiler's own message.
  if [ "$tidy_status" -ne 0 ] && [ ! -s "$findings" ]; then
    cat "$log"
  fi
}

# Tidy first: its fixes are formatted by the format step.
if [ "$run_tidy" -eq 1 ]; then
  tidy_check
fi
if [ "$run_format" -eq 1 ]; then
  format_check
fi
if [ "$fix" -eq 1 ]; then
  exit 0
fi
if [ "$format_status" -ne 0 ] || [ "$tidy_status" -ne 0 ]; then
  echo "style: findings above (scripts/check_style.sh --fix rewrites what the tools can)"
  exit 1
fi
echo "style: clean"
