#!/usr/bin/env bash
# Greedy 1:1 matching through velloc end to end against R's glm fit alone on the same file,
# side by side: writes a study with gen_study (8 continuous and 2 two-level CLASS covariates,
# about 10% treated), times `velloc` on a program that fits the propensity model, matches
# greedily on the logit with CALIPER=0.25 and writes OBS=MATCH output, then times only
# glm(binomial) in R (the file is read first, outside the timing), three runs each, and prints
# the ratio of the medians.
#
# Usage: bench/bench_vs_r.sh [rows] [build-bench dir] [velloc binary]
# (defaults: 1000000, build-bench, build/velloc). Needs Rscript (r-base-core).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
rows=${1:-1000000}
bench=${2:-build-bench}
velloc=${3:-build/velloc}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench/gen_study" --n "$rows" --continuous 8 --classes 2 --levels 2 --out "$work/study.csv" >/dev/null 2>&1
cat >"$work/greedy.vlc" <<VLC
proc velloc data='$work/study.csv' region=allobs;
   class treat c1 c2;
   psmodel treat(treated='1') = x1 x2 x3 x4 x5 x6 x7 x8 c1 c2;
   match method=greedy(k=1) distance=lps caliper=0.25;
   output out(obs=match)='matched.csv' matchid=_MatchID;
run;
VLC
median() { sort -g | sed -n 2p; }
runs=()
for i in 1 2 3; do
  start=$(date +%s.%N)
  (cd "$work" && "$root/$velloc" --no-graphics greedy.vlc >/dev/null 2>&1) || true
  runs+=("$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')")
done
v=$(printf '%s\n' "${runs[@]}" | median)
r=$(Rscript -e "d <- read.csv('$work/study.csv'); d\$c1 <- factor(d\$c1); d\$c2 <- factor(d\$c2);
  t <- sapply(1:3, function(i) system.time(glm(treat ~ x1 + x2 + x3 + x4 + x5 + x6 + x7 + x8 + c1 + c2,
       family = binomial, data = d))[['elapsed']]); cat(sort(t)[2])")
printf 'rows %s: velloc greedy end to end %.2f s (runs %s), R glm fit alone %.2f s: ratio %.2f (target <= 0.35)\n' \
  "$rows" "$v" "${runs[*]}" "$r" "$(awk -v a="$v" -v b="$r" 'BEGIN { print a / b }')"
