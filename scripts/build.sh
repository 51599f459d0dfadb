#!/usr/bin/env bash
# Builds velloc. Usage: scripts/build.sh [release|asan|bench|fuzz]  (default release)
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
case "$kind" in
  release) dir=build; flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DVELLOC_SANITIZE=ON) ;;
  bench) dir=build-bench; flags=(-DCMAKE_BUILD_TYPE=Release -DVELLOC_BENCH=ON -DVELLOC_TESTS=OFF) ;;
  fuzz) dir=build-fuzz; flags=(-DCMAKE_BUILD_TYPE=Debug -DVELLOC_FUZZ=ON -DVELLOC_TESTS=OFF
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14) ;;
  *) echo "usage: $0 [release|asan|bench|fuzz]" >&2; exit 64 ;;
esac
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
# A fuzz build whose library lacks the coverage hooks would fuzz nearly blind.
if [ "$kind" = fuzz ]; then bash scripts/check_fuzz_build.sh "$dir"; fi
