#!/usr/bin/env bash
# kcenter order -k 1000 on 1 and 2 threads, on 1e5 rows of 64 uniform
# coordinates written by NumPy (/usr/bin/python3, Debian's python3-numpy;
# seed 1, uniform in [-1, 1)), the median of REPS runs each (default 5), with
# the cores each run kept busy (user + system time over wall time); then the
# grouped engine's distance kernel over the same amount of rows on 1 and 2
# threads (build-bench/bench/engines_bench, BM_tiles), which shows the
# memory bandwidth a fold can use. Each run first waits (up to a minute)
# for a second in which the processors were at least 97% idle (QUIET=0
# does not). Release build in build-bench/.
#   bash bench/kcenter_threads.sh
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${REPS:-5}
quiet=${QUIET:-1}
out=build-bench
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$out" --target kcenter engines_bench >/dev/null
data="$out/bench-data/uniform_100000x64.npy"
mkdir -p "$out/bench-data"
trap 'rm -f "$data" "$out/bench-data/order_t1.csv" "$out/bench-data/order_t2.csv"' EXIT
/usr/bin/python3 -c "
import numpy as np
np.save('$data', np.random.default_rng(1).uniform(-1, 1, (100000, 64)))"

source bench/common.sh

declare -A secs cores
for t in 1 2; do
  runs=$(for i in $(seq "$reps"); do
    wait_quiet
    TIMEFORMAT='%3R %3U %3S'
    { time "$out/kcenter/kcenter" order -k 1000 -t $t -o "$out/bench-data/order_t$t.csv" "$data"; } 2>&1
  done)
  secs[$t]=$(awk '{ print $1 }' <<<"$runs" | median)
  cores[$t]=$(awk '{ print ($2 + $3) / $1 }' <<<"$runs" | median)
done
cmp -s "$out/bench-data/order_t1.csv" "$out/bench-data/order_t2.csv" && same=yes || same=NO
echo "| kcenter order -k 1000, 100000 x 64 uniform .npy | -t 1 | -t 2 | t1 / t2 | same order |"
echo "|---|---|---|---|---|"
awk -v a="${secs[1]}" -v b="${secs[2]}" -v ca="${cores[1]}" -v cb="${cores[2]}" -v s="$same" \
  'BEGIN { printf "| whole run, median of '"$reps"' (cores busy) | %.3f s (%.2f) | %.3f s (%.2f) | %.2f | %s |\n", a, ca, b, cb, a / b, s }'
echo
wait_quiet
"$out/bench/engines_bench" --benchmark_filter='BM_tiles' --benchmark_repetitions="$reps" \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E 'median'
