#!/usr/bin/env bash
# A batch of 32 clouds of 2048 points (float32), K = 256: the command line's
# whole run (`kcenter order -k 256 -t T -o out.npy batch.npy`, medians of
# REPS runs, default 11) beside the library's batch call in process
# (build-bench/bench/batch_bench, Google Benchmark, medians of 5), on the
# same numbers, T = 1 and 2. quiet=1 waits for an idle second before each run.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target kcenter batch_bench >/dev/null
data=$build/bench-data
mkdir -p "$data"
"$build/bench/batch_bench" --write="$data/batch_32x2048x3.npy"
for t in 1 2; do
  times=()
  for _ in $(seq "${REPS:-11}"); do
    wait_quiet || true
    t0=$(date +%s.%N)
    "$build/kcenter/kcenter" order -k 256 -t "$t" -o "$data/batch_order.npy" "$data/batch_32x2048x3.npy"
    t1=$(date +%s.%N)
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
  done
  printf 'kcenter order -k 256 -t %d, whole run: %.4f s\n' "$t" "$(printf '%s\n' "${times[@]}" | median)"
done
"$build/bench/batch_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true | grep median
