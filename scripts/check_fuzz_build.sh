#!/usr/bin/env bash
# Checks that the fuzz build instrumented the library itself: every object of libvelloc.a
# must carry the fuzzer's coverage hooks and AddressSanitizer's checks, and the library
# UndefinedBehaviorSanitizer's. Usage: scripts/check_fuzz_build.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
lib="$dir/libvelloc.a"
[ -f "$lib" ] || { echo "check_fuzz_build: $lib not found" >&2; exit 1; }
nm=$(command -v llvm-nm-14 || command -v llvm-nm || command -v nm)
bad=0
current=""
declare -A cov asan
while IFS= read -r line; do
  case "$line" in
    *.o:) current=${line%:}; cov[$current]=0; asan[$current]=0 ;;
    *__sanitizer_cov_*) cov[$current]=1 ;;
    *__asan_*) asan[$current]=1 ;;
  esac
done < <("$nm" "$lib" 2>/dev/null)
for obj in "${!cov[@]}"; do
  if [ "${cov[$obj]}" != 1 ] || [ "${asan[$obj]}" != 1 ]; then
    echo "check_fuzz_build: $obj is not instrumented (coverage ${cov[$obj]}, address ${asan[$obj]})" >&2
    bad=1
  fi
done
[ "${#cov[@]}" -gt 0 ] || { echo "check_fuzz_build: no objects in $lib" >&2; exit 1; }
ubsan=$("$nm" "$lib" 2>/dev/null | grep -c '__ubsan_handle_' || true)
if [ "$ubsan" = 0 ]; then
  echo "check_fuzz_build: $lib has no undefined-behaviour checks" >&2
  bad=1
fi
[ "$bad" = 0 ] && echo "check_fuzz_build: ${#cov[@]} objects of $lib instrumented"
exit "$bad"
