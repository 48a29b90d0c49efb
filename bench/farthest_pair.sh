#!/usr/bin/env bash
# Times farthest_pair on n = 50000 points in 3 and in 16 dimensions, for
# T = 1 and 2, on the default build (vector kernels) and on a build with
# FORCE_PLAIN_KERNELS, and prints the median of REPS runs (default 5) with
# pairs per second; then the search alone through Google Benchmark.
#   bash bench/farthest_pair.sh          # REPS=9 bash bench/farthest_pair.sh
# The program's own time covers reading the matrix as well as the search.
# The machine should be otherwise idle: check `uptime` first.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${REPS:-5}
rows=50000
out=build-bench

bash scripts/install-deps
for kind in fast plain; do
  force=OFF
  [ "$kind" = plain ] && force=ON
  cmake -S . -B "$out/$kind" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DBUILD_BENCHMARKS=ON -DFORCE_PLAIN_KERNELS=$force >/dev/null
  cmake --build "$out/$kind" >/dev/null
done

# Points uniform in the unit cube from a 32-bit linear congruential
# generator: the same bytes on every machine and awk, each value written
# with 17 digits so it reads back exactly.
mkdir -p "$out/data"
for d in 3 16; do
  f="$out/data/points_${rows}x$d.txt"
  [ -s "$f" ] || awk -v n=$rows -v d=$d -v seed=$d 'BEGIN {
    s = seed; print n, d
    for (i = 0; i < n; i++) {
      line = ""
      for (k = 0; k < d; k++) {
        s = (1664525 * s + 1013904223) % 4294967296
        line = line sprintf("%.17g ", s / 4294967296)
      }
      print line
    }
  }' >"$f"
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "farthest_pair T < points_${rows}xD.txt, median of $reps runs (reading included)"
printf '%-3s %-6s %-2s %10s %14s %12s\n' D build T seconds pairs/s T2/T1
pairs=$(awk -v n=$rows 'BEGIN { printf "%.0f", n * (n - 1) / 2 }')
for d in 3 16; do
  for kind in fast plain; do
    t1=
    for t in 1 2; do
      times=$(for _ in $(seq "$reps"); do
        "$out/$kind/farthest_pair/farthest_pair" $t <"$out/data/points_${rows}x$d.txt" |
          sed 's/^(\([0-9]*\),\([0-9.]*\)),$/\2/'
        echo
      done | median)
      speedup=
      if [ $t = 1 ]; then t1=$times; else speedup=$(awk -v a="$t1" -v b="$times" 'BEGIN { printf "%.2f", a / b }'); fi
      printf '%-3s %-6s %-2s %10s %14.3e %12s\n' $d $kind $t "$times" \
        "$(awk -v p="$pairs" -v s="$times" 'BEGIN { print p / s }')" "$speedup"
    done
  done
done

echo
echo "the search alone on the vector paths, no reading (Google Benchmark, median of $reps repetitions)"
"$out/fast/bench/farthest_pair_bench" --benchmark_filter='path:[12]/' \
  --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -E '^Benchmark|_median'
