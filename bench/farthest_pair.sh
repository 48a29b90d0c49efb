#!/usr/bin/env bash
# Times farthest_pair and its plain twin farthest_pair_plain on n = 50000
# points in 3 and in 16 dimensions (gen_points uniform), for T = 1 and 2, and
# prints the median of REPS runs (default 5) with pairs per second; then the
# search alone (no reading) on each vector level, timed through the Google
# Benchmark target pair_search_bench. Release build in build-bench/.
#   bash bench/farthest_pair.sh
#   REPS=9 PLAIN=0 bash bench/farthest_pair.sh    # more runs, no plain runs
#   QUIET=0 bash bench/farthest_pair.sh           # do not wait for idle moments
# The program's own time covers reading the matrix as well as the search.
# On a shared machine each run first waits (up to a minute) for a second in
# which the processors were at least 97% idle; the "cores" column shows how
# many cores a whole run really kept busy.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${REPS:-5}
quiet=${QUIET:-1}
programs=farthest_pair
[ "${PLAIN:-1}" = 1 ] && programs="farthest_pair farthest_pair_plain"
rows=50000
out=build-bench

bash scripts/install-deps
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$out" >/dev/null

# The suite's generator: the same bytes on every machine, 17 digits a number.
mkdir -p "$out/bench-data"
for d in 3 16; do
  f="$out/bench-data/uniform_${rows}x$d.txt"
  [ -s "$f" ] || "$out/gen_points/gen_points" uniform $rows $d $d >"$f"
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Waits for a second of at least 97% idle time over all processors, for at
# most 60 tries; then runs regardless.
wait_quiet() {
  [ "$quiet" = 1 ] || return 0
  local a b try
  for try in $(seq 60); do
    read -r -a a </proc/stat
    sleep 1
    read -r -a b </proc/stat
    awk -v a="${a[*]:1:8}" -v b="${b[*]:1:8}" 'BEGIN {
      split(a, x); split(b, y)
      for (k = 1; k <= 8; k++) total += y[k] - x[k]
      exit !(100 * (y[4] - x[4] + y[5] - x[5]) >= 97 * total)
    }' && return 0
  done
}

# One run: the program's own seconds, and the cores it kept busy (user + system
# time over wall time; below T when other work shared the machine).
run() {
  local TIMEFORMAT='%3R %3U %3S' item times
  wait_quiet
  times=$( { time "$1" "$2" <"$3" >"$out/item.txt"; } 2>&1)
  item=$(sed 's/^(\([0-9]*\),\([0-9.]*\)),$/\2/' "$out/item.txt")
  echo "$item $(awk '{ printf "%.2f", ($2 + $3) / $1 }' <<<"$times")"
}

pairs=$(awk -v n=$rows 'BEGIN { printf "%.0f", n * (n - 1) / 2 }')
rate() { awk -v p="$pairs" -v s="$1" 'BEGIN { printf "%.3e", p / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "PROGRAM T < uniform_${rows}xD.txt, medians of $reps runs (reading included)"
printf '%-3s %-19s %-2s %10s %12s %7s %7s\n' D program T seconds pairs/s T2/T1 cores
for d in 3 16; do
  for program in $programs; do
    for t in 1 2; do
      runs=$(for _ in $(seq "$reps"); do run "$out/farthest_pair/$program" $t \
        "$out/bench-data/uniform_${rows}x$d.txt"; done)
      secs=$(cut -d' ' -f1 <<<"$runs" | median)
      cores=$(cut -d' ' -f2 <<<"$runs" | median)
      [ $t = 1 ] && t1=$secs
      printf '%-3s %-19s %-2s %10s %12s %7s %7s\n' $d $program $t "$secs" "$(rate "$secs")" \
        "$([ $t = 2 ] && ratio "$t1" "$secs")" "$cores"
    done
  done
done

bench="$out/bench/pair_search_bench"
echo
echo "the search alone (pair_search_bench), medians of $reps runs"
printf '%-3s %-6s %-2s %10s %12s %7s\n' D level T seconds pairs/s T2/T1
for d in 3 16; do
  for level in 2 1; do
    for t in 1 2; do
      secs=$(for _ in $(seq "$reps"); do
        wait_quiet
        "$bench" --benchmark_filter="^search/level:$level/d:$d/T:$t/" --benchmark_min_time=0.01 \
          --benchmark_format=csv 2>/dev/null | awk -F, 'NR > 1 { print $3 / 1000 }'
      done | median)
      [ $t = 1 ] && t1=$secs
      printf '%-3s %-6s %-2s %10.4f %12s %7s\n' $d "$([ $level = 2 ] && echo avx512 || echo avx2)" \
        $t "$secs" "$(rate "$secs")" "$([ $t = 2 ] && ratio "$t1" "$secs")"
    done
  done
done
