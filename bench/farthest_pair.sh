#!/usr/bin/env bash
# Times farthest_pair on n = 50000 points in 3 and in 16 dimensions, for
# T = 1 and 2, on the default build (vector kernels) and on a build with
# FORCE_PLAIN_KERNELS, and prints the median of REPS runs (default 5) with
# pairs per second; then the search alone through Google Benchmark.
#   bash bench/farthest_pair.sh
#   REPS=9 BUILDS=fast bash bench/farthest_pair.sh    # more runs, no plain build
# The program's own time covers reading the matrix as well as the search.
# The machine should be otherwise idle: check `uptime` first; the "cores"
# column shows how many cores a run really had.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${REPS:-5}
builds=${BUILDS:-fast plain}
rows=50000
out=build-bench

bash scripts/install-deps
for kind in $builds; do
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

# One run: the program's own seconds, and the cores it kept busy (user + system
# time over wall time; below T when other work shared the machine).
run() {
  local TIMEFORMAT='%3R %3U %3S' item times
  times=$( { time "$1" "$2" <"$3" >"$out/item.txt"; } 2>&1)
  item=$(sed 's/^(\([0-9]*\),\([0-9.]*\)),$/\2/' "$out/item.txt")
  echo "$item $(awk '{ printf "%.2f", ($2 + $3) / $1 }' <<<"$times")"
}

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "farthest_pair T < points_${rows}xD.txt, medians of $reps runs (reading included)"
printf '%-3s %-6s %-2s %10s %14s %7s %7s\n' D build T seconds pairs/s T2/T1 cores
pairs=$(awk -v n=$rows 'BEGIN { printf "%.0f", n * (n - 1) / 2 }')
for d in 3 16; do
  for kind in $builds; do
    t1=
    for t in 1 2; do
      runs=$(for _ in $(seq "$reps"); do run "$out/$kind/farthest_pair/farthest_pair" $t \
        "$out/data/points_${rows}x$d.txt"; done)
      secs=$(cut -d' ' -f1 <<<"$runs" | median)
      cores=$(cut -d' ' -f2 <<<"$runs" | median)
      speedup=
      if [ $t = 1 ]; then t1=$secs; else speedup=$(awk -v a="$t1" -v b="$secs" 'BEGIN { printf "%.2f", a / b }'); fi
      printf '%-3s %-6s %-2s %10s %14.3e %7s %7s\n' $d $kind $t "$secs" \
        "$(awk -v p="$pairs" -v s="$secs" 'BEGIN { print p / s }')" "$speedup" "$cores"
    done
  done
done

echo
echo "the search alone on the vector paths, no reading (Google Benchmark, median of $reps repetitions)"
# Either build runs every path here: the benchmark names its path.
"$out/${builds%% *}/bench/farthest_pair_bench" --benchmark_filter='path:[12]/' \
  --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -E '^Benchmark|_median'
