#!/usr/bin/env bash
# Records what the program writes for every example and every end-to-end test program, so that
# a change meant to leave behaviour alone (a refactor) can be checked byte for byte.
#
#   scripts/compare_outputs.sh snapshot DIR [BUILD]   record into DIR (BUILD defaults to build/)
#   scripts/compare_outputs.sh compare OLD NEW        list every file that differs; status 1 if any
#
# A snapshot holds, per example program, the listing, the HTML report, the log, table CSVs,
# graph SVGs and OUT= data sets; and, per run of the program that an end-to-end test makes, the
# whole test folder after the run (its inputs and every output). Snapshots to compare must come
# from checkouts at the same path (test programs name their data by absolute path). The only
# lines taken out are the timing notes [901-10] and [901-14]; the per-process part of test
# folder names is made fixed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  sed -n '4,5p' "$0" | sed 's/^# *//' >&2
  exit 64
}

normalise() { # strips timing notes and per-process folder names from every text file
  local dir=$1
  find "$dir" -type f \( -name '*.log' -o -name '*.lst' -o -name '*.html' -o -name '*.txt' \
    -o -name '*.csv' -o -name '*.json' -o -name '*.svg' \) -print0 |
    xargs -0 -r sed -i -E -e '/\[901-1[04]\]$/d' -e 's#(/tmp/velloc_[A-Za-z_]*)[0-9]+_#\1PID_#g' \
    -e 's#(/tmp/velloc_[A-Za-z]+_)[0-9]+\b#\1PID#g'
}

snapshot_examples() {
  local build=$1 dest=$2 work
  work=$(mktemp -d)
  ln -s "$root/examples" "$work/examples"
  for program in "$root"/examples/*.vlc; do
    local name out
    name=$(basename "$program" .vlc)
    out="$dest/examples/$name"
    mkdir -p "$work/out" "$work/result"
    # Relative paths, so the log's notes of what was written do not name the snapshot folder.
    set +e
    (cd "$work" && "$build/velloc" --log result/run.log --html result/report.html \
      --tables-dir result/tables --graphs-dir result/graphs "examples/$name.vlc" >result/listing.lst)
    echo "exit status $?" >"$work/result/status.txt"
    set -e
    mv "$work/out" "$work/result/out_data"
    mkdir -p "$(dirname "$out")"
    mv "$work/result" "$out"
  done
  rm -rf "$work"
}

# The end-to-end tests run the program named at build time; for the length of the run a
# wrapper stands in its place and copies the test's folder after each run it makes.
snapshot_e2e() {
  local build=$1 dest=$2 real="$build/velloc.recorded"
  [ -e "$real" ] && { echo "$real exists: an earlier snapshot was interrupted" >&2; exit 1; }
  mv "$build/velloc" "$real"
  trap 'mv -f "'"$real"'" "'"$build"'/velloc"' EXIT
  cat >"$build/velloc" <<EOF
#!/usr/bin/env bash
"$real" "\$@"
rc=\$?
case "\$PWD" in
  /tmp/velloc_*)
    name=\$(basename "\$PWD" | sed -E -e 's/^(velloc_[A-Za-z_]*)[0-9]+_/\1/' -e 's/^(velloc_[A-Za-z_]*)_[0-9]+$/\1/')
    n=1
    while [ -e "$dest/e2e/\$name/\$n" ]; do n=\$((n + 1)); done
    mkdir -p "$dest/e2e/\$name/\$n"
    cp -r . "$dest/e2e/\$name/\$n/"
    echo "exit status \$rc" >"$dest/e2e/\$name/\$n/status.txt" ;;
esac
exit \$rc
EOF
  chmod +x "$build/velloc"
  # One process, one test at a time: run numbers within a test then follow the test's order.
  TMPDIR=/tmp "$build/velloc_tests" --gtest_brief=1 >"$dest/e2e-tests.txt" 2>&1 || true
  mv -f "$real" "$build/velloc"
  trap - EXIT
}

case "${1:-}" in
  snapshot)
    [ $# -ge 2 ] || usage
    dest=$(mkdir -p "$2" && cd "$2" && pwd)
    build=$(cd "${3:-$root/build}" && pwd)
    rm -rf "${dest:?}"/examples "${dest:?}"/e2e
    snapshot_examples "$build" "$dest"
    snapshot_e2e "$build" "$dest"
    normalise "$dest"
    echo "snapshot in $dest: $(find "$dest" -type f | wc -l) files"
    ;;
  compare)
    [ $# -eq 3 ] || usage
    # diff's own status is 1 when files differ; what counts is whether any line is left.
    differences=$(diff -r -q "$2" "$3" | grep -v 'e2e-tests.txt' || true)
    if [ -n "$differences" ]; then
      echo "$differences"
      echo "outputs differ: $(echo "$differences" | wc -l) files" >&2
      exit 1
    fi
    echo "outputs identical: $(find "$2" -type f | wc -l) files"
    ;;
  *) usage ;;
esac
