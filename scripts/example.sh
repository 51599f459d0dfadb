#!/usr/bin/env bash
# Installs the dependencies, builds velloc, and runs the bundled example program.
# Usage: scripts/example.sh [PROGRAM]   (default: examples/quickstart.vlc)
# Results go to out/: the listing on standard output, the HTML report out/report.html, the
# log out/velloc.log and table CSV files in out/tables/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install.sh
bash scripts/build.sh release
program=${1:-examples/quickstart.vlc}
mkdir -p out
set +e
build/velloc --log out/velloc.log --html out/report.html --tables-dir out/tables "$program"
rc=$?
set -e
echo "--- log (out/velloc.log)"
cat out/velloc.log
exit $rc
