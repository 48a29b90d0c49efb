#!/usr/bin/env bash
# Times farthest_pair and its plain twin farthest_pair_plain on n = 50000
# points in 3, 16 and 64 dimensions (gen_points uniform), for T = 1 and 2, and
# prints the median of REPS runs (default 5) with pairs per second and the
# peak memory (maximum resident set, from /usr/bin/time when installed); then
# the search alone (no reading) on each vector level, timed through the
# Google Benchmark target pair_search_bench. Release build in build-bench/.
#   bash bench/farthest_pair.sh
#   REPS=9 PLAIN=0 bash bench/farthest_pair.sh    # more runs, no plain runs
#   QUIET=0 bash bench/farthest_pair.sh           # do not wait for idle moments
#   DIMS="64" bash bench/farthest_pair.sh         # other dimensions
#   BASELINE=/path/to/other/build bash bench/farthest_pair.sh
#       # also time BASELINE/farthest_pair/farthest_pair, run for run beside ours
# The plain twin runs at D <= 16 only (D = 64 takes it minutes a run).
# The program's own time covers reading the matrix as well as the search.
# On a shared machine each run first waits (up to a minute) for a second in
# which the processors were at least 97% idle; the "cores" column shows how
# many cores a whole run really kept busy.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${REPS:-5}
quiet=${QUIET:-1}
plain=${PLAIN:-1}
dims=${DIMS:-3 16 64}
baseline=${BASELINE:-}
rows=50000
out=build-bench

bash scripts/install-deps
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$out" >/dev/null

# The suite's generator: the same bytes on every machine, 17 digits a number.
mkdir -p "$out/bench-data"
for d in $dims; do
  f="$out/bench-data/uniform_${rows}x$d.txt"
  [ -s "$f" ] || "$out/gen_points/gen_points" uniform $rows $d $d >"$f"
done

source bench/common.sh


# One run: the program's own seconds, the cores it kept busy (user + system
# time over wall time; below T when other work shared the machine) and its
# peak memory in MiB ("-" without /usr/bin/time).
run() {
  local item times
  wait_quiet
  if [ -x /usr/bin/time ]; then
    times=$(/usr/bin/time -f '%e %U %S %M' "$1" "$2" <"$3" 2>&1 >"$out/item.txt" | tail -n 1)
  else
    local TIMEFORMAT='%3R %3U %3S -'
    times=$( { time "$1" "$2" <"$3" >"$out/item.txt"; } 2>&1)
  fi
  item=$(sed 's/^(\([0-9]*\),\([0-9.]*\)),$/\2/' "$out/item.txt")
  echo "$item $(awk '{ printf "%.2f %s", ($2 + $3) / ($1 > 0 ? $1 : 1), $4 == "-" ? "-" : sprintf("%.1f", $4 / 1024) }' <<<"$times")"
}

pairs=$(awk -v n=$rows 'BEGIN { printf "%.0f", n * (n - 1) / 2 }')
rate() { awk -v p="$pairs" -v s="$1" 'BEGIN { printf "%.3e", p / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "PROGRAM T < uniform_${rows}xD.txt, medians of $reps runs (reading included)"
printf '%-3s %-19s %-2s %10s %12s %7s %7s %8s\n' D program T seconds pairs/s T2/T1 cores "peak MiB"
# The programs take turns run by run, so that a busy spell on the machine
# falls on all of them alike.
for d in $dims; do
  programs=("$out/farthest_pair/farthest_pair")
  names=(farthest_pair)
  if [ -n "$baseline" ]; then programs+=("$baseline/farthest_pair/farthest_pair"); names+=(baseline); fi
  if [ "$plain" = 1 ] && [ "$d" -le 16 ]; then
    programs+=("$out/farthest_pair/farthest_pair_plain")
    names+=(farthest_pair_plain)
  fi
  declare -A runs=() t1=()
  for t in 1 2; do
    for _ in $(seq "$reps"); do
      for p in "${!programs[@]}"; do
        runs[$p,$t]+="$(run "${programs[$p]}" $t "$out/bench-data/uniform_${rows}x$d.txt")"$'\n'
      done
    done
  done
  for p in "${!programs[@]}"; do
    for t in 1 2; do
      secs=$(cut -d' ' -f1 <<<"${runs[$p,$t]}" | grep . | median)
      cores=$(cut -d' ' -f2 <<<"${runs[$p,$t]}" | grep . | median)
      peak=$(cut -d' ' -f3 <<<"${runs[$p,$t]}" | grep . | sort -g | tail -n 1)
      [ $t = 1 ] && t1[$p]=$secs
      printf '%-3s %-19s %-2s %10s %12s %7s %7s %8s\n' "$d" "${names[$p]}" $t "$secs" "$(rate "$secs")" \
        "$([ $t = 2 ] && ratio "${t1[$p]}" "$secs")" "$cores" "$peak"
    done
  done
  unset runs t1
done

bench="$out/bench/pair_search_bench"
echo
echo "the search alone (pair_search_bench), medians of $reps runs"
printf '%-3s %-6s %-2s %10s %12s %7s\n' D level T seconds pairs/s T2/T1
for d in $dims; do
  [[ " 3 16 64 " == *" $d "* ]] || continue  # the dimensions pair_search_bench's search runs
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
