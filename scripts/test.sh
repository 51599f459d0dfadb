#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the whole test suite: the release build, the
# same tests under AddressSanitizer + UndefinedBehaviorSanitizer, and a short fuzzing run of
# every fuzz target, and the Python package's tests. Usage: scripts/test.sh [--quick]   (--quick: release build only)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install.sh
jobs=$(nproc)

echo "== release build and tests"
bash scripts/build.sh release
ctest --test-dir build --output-on-failure -j"$jobs" | tee build/ctest-summary.log

echo "== Python package tests"
# The package is built beside the program when pybind11 is there; the tests compare it with
# the program from the same build.
if ls build/python/velloc/_velloc*.so >/dev/null 2>&1; then
  PYTHONPATH="$PWD/build/python" VELLOC_BINARY="$PWD/build/velloc" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
else
  echo "skipped: the Python package was not built (needs python3-pybind11)"
fi

# The closing line names the release suite's counts, after any fuzzing output.
summary() {
  sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' \
    build/ctest-summary.log | tail -n 1 | { read -r failed total; echo "Tests: $((total - failed)) passed, $failed failed"; }
}

if [ "${1:-}" = "--quick" ]; then summary; exit 0; fi

echo "== sanitizer build and tests"
bash scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

if ls fuzz/*.cpp >/dev/null 2>&1; then
  echo "== fuzzing (bounded)"
  bash scripts/build.sh fuzz
  for src in fuzz/*.cpp; do
    name=$(basename "$src" .cpp)
    corpus_src="fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d)
    [ -d "$corpus_src" ] && cp -r "$corpus_src"/. "$work"/
    echo "-- $name"
    "build-fuzz/$name" -max_total_time="${FUZZ_SECONDS:-45}" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=0 "$work" 2>&1 | tail -n 3
    rm -rf "$work"
  done
fi

summary
