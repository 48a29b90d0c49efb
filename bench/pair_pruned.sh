#!/usr/bin/env bash
# Times kcenter pair's pruned search beside the all-pairs search and SciPy's
# hull + pairs, on the same points: builds Release with the benchmarks into
# build-bench/, then
#   1. bench/pair_runs.py: writes the point sets as .npy files (NumPy) under
#      build-bench/bench-data/pair/ and times whole `kcenter pair -t T` runs;
#   2. pair_pruned_bench (Google Benchmark): the pruned search alone and the
#      all-pairs search alone on the same doubles, generated in process;
#   3. bench/pair_peers.py: SciPy's ConvexHull and every pair of its
#      vertices on the same .npy files (when python3-scipy is installed).
#   bash bench/pair_pruned.sh
#   REPS=9 bash bench/pair_pruned.sh    # runs per whole-run median (default 5)
#   ALL_PAIRS=1 bash bench/pair_pruned.sh
#       # also the all-pairs search on the 10^6 points (about 100 s a run)
# Medians on a shared machine: the load average is printed beside each case.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-bench
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$out" --target kcenter gen_points pair_pruned_bench >/dev/null

echo "== whole runs of kcenter pair on .npy files"
/usr/bin/python3 bench/pair_runs.py "$out"

echo
echo "== the searches alone (Google Benchmark), pruned and all pairs, same points"
filter='^pruned/|^all_pairs/(gauss16|uniform16|uniform64|sphere16)/'
[ "${ALL_PAIRS:-0}" = 1 ] && filter='.'
"$out/bench/pair_pruned_bench" --benchmark_filter="$filter" --benchmark_repetitions=3 \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true

echo
echo "== SciPy: ConvexHull, then every pair of its vertices (same .npy files)"
/usr/bin/python3 bench/pair_peers.py "$out/bench-data/pair" || true
