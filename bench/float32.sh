#!/usr/bin/env bash
# kcenter on float32 rows, against the same rows as float64 and against a
# build of the code before (BASELINE=DIR, a Release build tree of it):
#  1. uniform 1e5 x 64, k = 1000: `kcenter order` on the float32 .npy and on
#     the same numbers widened to float64 (NumPy), runs in turn, and the peak
#     memory of each; build-bench/bench/order_npy's peak on the float32 file
#     (the rows used where they are mapped, as a library caller passing a
#     mapped array runs it);
#  2. embedding-like rows (gen_points -f npy -c 100 embedding 219520 1536 1,
#     1.35 GB), k = 2195: `kcenter order -t T` for T = 1 and 2, the
#     baseline's `kcenter order -t T` (which widens the float32 file to
#     float64; BASE_REPS runs each, default 1), and the NumPy loop's seconds
#     per step (bench/numpy_steps.py, 20 steps);
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
cmake --build "$out" -j2 --target order_npy kcenter gen_points greedy_centers groups_bench >/dev/null
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
  read -r a ma < <(OUT_FILE=$data/o32 timed "$out/kcenter/kcenter" order -k 1000 "$data/u32.npy")
  read -r b mb < <(OUT_FILE=$data/o64 timed "$out/kcenter/kcenter" order -k 1000 "$data/u64.npy")
  read -r _ mn < <(timed "$out/bench/order_npy" "$data/u32.npy" 1000)
  cmp -s "$data/o32" "$data/o64" && same=yes || same=NO
  echo
  echo "| uniform 100000 x 64, k = 1000, kcenter order | float32 | float64 | float64 / float32 | same output |"
  echo "|---|---|---|---|---|"
  awk -v a="$a" -v b="$b" -v s="$same" 'BEGIN {
    printf "| whole run, median of '"$reps"' | %.3f s | %.3f s | %.2f | %s |\n", a, b, b / a, s }'
  awk -v a="$ma" -v b="$mb" -v n="$mn" 'BEGIN {
    printf "| peak memory (array: %.1f MiB as float32) | %.1f MiB | %.1f MiB | | order_npy, float32 mapped: %.1f MiB |\n", 100000 * 64 * 4 / 1048576, a / 1024, b / 1024, n / 1024 }'
fi

if [[ " $parts " == *" 2 "* ]]; then
  "$out/gen_points/gen_points" -f npy -c 100 embedding 219520 1536 1 >"$data/emb.npy"
  echo
  echo "| embedding 219520 x 1536 float32, k = 2195, kcenter order | -t 1 | -t 2 | t1 / t2 | peak memory (-t 1) | same output |"
  echo "|---|---|---|---|---|---|"
  read -r t1 m1 < <(OUT_FILE=$data/e1 timed "$out/kcenter/kcenter" order -k 2195 -t 1 "$data/emb.npy")
  read -r t2 m2 < <(OUT_FILE=$data/e2 timed "$out/kcenter/kcenter" order -k 2195 -t 2 "$data/emb.npy")
  same=$(cmp -s "$data/e1" "$data/e2" && echo "yes (t1 = t2)" || echo "NO (t1 /= t2)")
  if [ -n "$base" ]; then
    read -r b1 bm1 < <(OUT_FILE=$data/b1 reps=${BASE_REPS:-1} timed "$base/kcenter/kcenter" order -k 2195 -t 1 "$data/emb.npy")
    cmp -s "$data/b1" "$data/e1" && same="$same, = baseline" || same="$same, NOT the baseline's"
    read -r b2 bm2 < <(reps=${BASE_REPS:-1} timed "$base/kcenter/kcenter" order -k 2195 -t 2 "$data/emb.npy")
  fi
  awk -v a="$t1" -v b="$t2" -v m="$m1" -v s="$same" 'BEGIN {
    printf "| this build, whole run | %.2f s | %.2f s | %.2f | %.0f MiB | %s |\n", a, b, a / b, m / 1024, s }'
  if [ -n "$base" ]; then
    awk -v a="$b1" -v b="$b2" -v m="$bm1" -v n="$t1" -v o="$t2" 'BEGIN {
      printf "| baseline, whole run | %.2f s | %.2f s | %.2f | %.0f MiB | baseline / this: %.1f (-t 1), %.1f (-t 2) |\n", a, b, a / b, m / 1024, a / n, b / o }'
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
