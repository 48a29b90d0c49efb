#!/usr/bin/env bash
# kcenter's PLY and CSV readers on 10^6 points, in one run: Google
# Benchmark's formats_bench (medians of 5: the PLY reader against `cat` of
# the file and the .npy path on the same numbers; the CSV reader against the
# matrix text reader), then NumPy's loadtxt on the same CSV file (Debian's
# /usr/bin/python3, medians of 5), and `cat FILE > /dev/null` itself.
# Release build in build-bench/. Not a test.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
out=build-bench
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$out" --target formats_bench >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
TMPDIR=$dir FORMATS_BENCH_KEEP=1 "$out/bench/formats_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "median|Benchmark|---"
echo
for f in points.ply points.csv; do
  for r in 1 2 3 4 5; do
    s=$(date +%s%N); cat "$dir/formats_bench_$f" >/dev/null; e=$(date +%s%N)
    echo "$(( (e - s) / 1000 ))"
  done | median | awk -v f="$f" '{ printf "cat %s > /dev/null: median %.2f ms\n", f, $1 / 1000 }'
done
/usr/bin/python3 - "$dir/formats_bench_points.csv" <<'PY'
import statistics, sys, time
import numpy as np
times = []
for _ in range(5):
    t = time.perf_counter()
    a = np.loadtxt(sys.argv[1], delimiter=",")
    times.append(time.perf_counter() - t)
assert a.shape == (1000000, 3)
print("np.loadtxt(points.csv, delimiter=','): median %.1f ms" % (1000 * statistics.median(times)))
PY
