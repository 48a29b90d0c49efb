#!/usr/bin/env bash
# The engines on float32 rows, against the same rows as float64 and against
# a build of the code before (BASELINE=DIR, a Release build tree of it):
#  1. uniform 1e5 x 64, k = 1000: build-bench/bench/order_npy on the float32
#     .npy (rows read where they lie) and on the same numbers widened to
#     float64 (NumPy), runs in turn; the peak memory of the float32 run;
#  2. embedding-like rows (gen_points -f npy -c 100 embedding 219520 1536 1,
#     1.35 GB), k = 2195: order_npy on 1 and 2 threads, the baseline's
#     `kcenter order -k 2195 -t T` (which widens the float32 file to float64),
#     and the NumPy loop's seconds per step (bench/numpy_steps.py, 20 steps);
#  3. nothing slower: greedy_centers 1000 on 1e6 x 3 (uniform, 50 clusters),
#     and the choice in process (groups_bench, float64, 16 to 1024 columns),
#     this build against the baseline's, in turn.
# Medians of REPS runs (default 3); each run first waits up to a minute for
# a second in which the processors were 97 % idle (QUIET=0 does not). Every
# order is compared row for row with the baseline's. PARTS="1 2 3" picks.
#   BASELINE=/tmp/base/build-bench bash bench/float32.sh
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${REPS:-3}
quiet=${QUIET:-1}
parts=${PARTS:-1 2 3}
base=${BASELINE:-}
out=build-bench
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$out" -j2 --target order_npy gen_points greedy_centers groups_bench >/dev/null
data="$out/bench-data/float32"
mkdir -p "$data"
trap 'rm -rf "$data"' EXIT
source bench/common.sh

# Median wall seconds and peak KiB of REPS runs of a command; its standard
# output goes to the file $OUT_FILE (or nowhere).
timed() {
  local i
  for i in $(seq "$reps"); do
    wait_quiet
    /usr/bin/time -f '%e %M' "$@" >"${OUT_FILE:-/dev/null}" 2>"$data/time" || true
    tail -n 1 "$data/time"
  done >"$data/runs"
  echo "$(awk '{ print $1 }' "$data/runs" | median) $(awk '{ print $2 }' "$data/runs" | sort -n | tail -n 1)"
}

lscpu | grep -E '^Model name|^CPU family|^Model:|^Flags' | sed 's/Flags:.*avx512f.*/AVX-512: yes/; s/Flags:.*/AVX-512: no/'
uptime

if [[ " $parts " == *" 1 "* ]]; then
  "$out/gen_points/gen_points" -f npy uniform 100000 64 1 >"$data/u32.npy"
  /usr/bin/python3 -c "import numpy as np; np.save('$data/u64.npy', np.load('$data/u32.npy').astype(np.float64))"
  f32=() f64=() mem=0
  for i in $(seq "$reps"); do
    wait_quiet
    f32+=("$( /usr/bin/time -f '%M' "$out/bench/order_npy" -o "$data/rows32" "$data/u32.npy" 1000 2>"$data/time" | awk '{ print $1 }')")
    mem=$(tail -n 1 "$data/time")
    wait_quiet
    f64+=("$("$out/bench/order_npy" -o "$data/rows64" "$data/u64.npy" 1000 | awk '{ print $1 }')")
  done
  a=$(printf '%s\n' "${f32[@]}" | median) b=$(printf '%s\n' "${f64[@]}" | median)
  cmp -s "$data/rows32" "$data/rows64" && same=yes || same=NO
  echo
  echo "| uniform 100000 x 64, k = 1000, order_npy | float32 | float64 | float64 / float32 | same rows | peak memory, float32 (array) |"
  echo "|---|---|---|---|---|---|"
  awk -v a="$a" -v b="$b" -v s="$same" -v m="$mem" 'BEGIN {
    printf "| whole run, median of '"$reps"' | %.3f s | %.3f s | %.2f | %s | %.1f MiB (%.1f MiB) |\n", a, b, b / a, s, m / 1024, 100000 * 64 * 4 / 1048576 }'
fi

if [[ " $parts " == *" 2 "* ]]; then
  "$out/gen_points/gen_points" -f npy -c 100 embedding 219520 1536 1 >"$data/emb.npy"
  echo
  echo "| embedding 219520 x 1536 float32, k = 2195 | -t 1 | -t 2 | t1 / t2 | peak memory (-t 1) | same rows as baseline |"
  echo "|---|---|---|---|---|---|"
  read -r t1 m1 < <(OUT_FILE=$data/o1 timed "$out/bench/order_npy" -t 1 -o "$data/erows1" "$data/emb.npy" 2195)
  read -r t2 m2 < <(OUT_FILE=$data/o2 timed "$out/bench/order_npy" -t 2 -o "$data/erows2" "$data/emb.npy" 2195)
  same=$(cmp -s "$data/erows1" "$data/erows2" && echo "yes (t1 = t2)" || echo "NO (t1 /= t2)")
  if [ -n "$base" ]; then
    read -r b1 bm1 < <(timed "$base/kcenter/kcenter" order -k 2195 -t 1 -o "$data/base.csv" "$data/emb.npy")
    tail -n +2 "$data/base.csv" | cut -d, -f2 | cmp -s - "$data/erows1" && same="$same, yes" || same="$same, NO"
    read -r b2 bm2 < <(timed "$base/kcenter/kcenter" order -k 2195 -t 2 -o "$data/base.csv" "$data/emb.npy")
  fi
  awk -v a="$t1" -v b="$t2" -v m="$m1" -v s="$same" 'BEGIN {
    printf "| order_npy, whole run | %.2f s | %.2f s | %.2f | %.0f MiB | %s |\n", a, b, a / b, m / 1024, s }'
  if [ -n "$base" ]; then
    awk -v a="$b1" -v b="$b2" -v m="$bm1" -v n="$t1" 'BEGIN {
      printf "| baseline kcenter order, whole run | %.2f s | %.2f s | %.2f | %.0f MiB | baseline / order_npy (-t 1): %.1f |\n", a, b, a / b, m / 1024, a / n }'
  fi
  step=$(/usr/bin/python3 bench/numpy_steps.py "$data/emb.npy" 20)
  awk -v s="$step" 'BEGIN { printf "| NumPy loop, float32 (bench/numpy_steps.py) | %.3f s a step, %.0f s for 2195 steps | | | | |\n", s, s * 2195 }'
fi

if [[ " $parts " == *" 3 "* && -n "$base" ]]; then
  echo
  echo "| greedy_centers 1000, 1e6 x 3, whole run | this build | baseline | baseline / this | same output |"
  echo "|---|---|---|---|---|"
  "$out/gen_points/gen_points" uniform 1000000 3 1 >"$data/u3.txt"
  "$out/gen_points/gen_points" -c 50 -w 0.02 clusters 1000000 3 2 >"$data/c3.txt"
  for f in u3 c3; do
    a=() b=()
    for i in $(seq "$reps"); do
      wait_quiet
      TIMEFORMAT='%3R'
      a+=("$( { time "$out/greedy_centers/greedy_centers" 1000 <"$data/$f.txt" >"$data/mine.out"; } 2>&1)")
      wait_quiet
      b+=("$( { time "$base/greedy_centers/greedy_centers" 1000 <"$data/$f.txt" >"$data/base.out"; } 2>&1)")
    done
    cmp -s "$data/mine.out" "$data/base.out" && same=yes || same=NO
    awk -v n="$f" -v x="$(printf '%s\n' "${a[@]}" | median)" -v y="$(printf '%s\n' "${b[@]}" | median)" -v s="$same" \
      'BEGIN { printf "| %s | %.3f s | %.3f s | %.2f | %s |\n", n == "u3" ? "uniform" : "50 clusters", x, y, y / x, s }'
  done
  echo
  echo "== the choice in process, float64 (groups_bench, path 3: as the programs run it)"
  filter='BM_choice/[01]/3/(100000/(16|64)|20000/256|5000/1024)/'
  for b in "$out" "$base"; do
    echo "-- $b"
    wait_quiet
    "$b/bench/groups_bench" --benchmark_filter="$filter" 2>/dev/null | grep -E 'median'
  done
fi
