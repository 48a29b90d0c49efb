#!/usr/bin/env bash
# The farthest-first choice in many dimensions: greedy_centers against
# greedy_centers_plain (the plain loop) and a NumPy loop (bench/numpy_choice.py),
# on gen_points data, clustered (32 well-separated clusters: -c 32 -w 0.05)
# and uniform, at d = 16, 64, 256 and 1024; then the large case (5e4 x 512,
# k = 5000, clustered). Then the choice in process (Google Benchmark,
# build-bench/bench/groups_bench): the engine as the programs run it, the
# grouped engine never giving up, one vector pass per centre and the plain
# loop, on the same doubles. Release build in build-bench/.
#   bash bench/groups.sh
#   REPS=5 bash bench/groups.sh                      # runs per median (default 3)
#   PLAIN=0 NUMPY=0 LARGE=0 bash bench/groups.sh     # leave out the slow parts
#   INPROCESS=0 bash bench/groups.sh                 # no Google Benchmark part
# "choice" is the median whole run at k minus the median whole run at k = 1
# (reading the matrix and printing cost the same in both). Peak memory is
# /usr/bin/time -v's maximum resident set of one run at k; "matrix" is n d 8
# bytes. The data files are removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${REPS:-3}
out=build-bench
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$out" --target greedy_centers greedy_centers_plain gen_points groups_bench >/dev/null
data_dir="$out/bench-data/groups"
mkdir -p "$data_dir"
trap 'rm -rf "$data_dir"' EXIT

source bench/common.sh

# Median wall seconds of `reps` runs of PROGRAM K < FILE.
wall() {
  local TIMEFORMAT='%3R' i
  for i in $(seq "$reps"); do
    { time "$1" "$2" <"$3" >/dev/null; } 2>&1
  done | median
}

data() {  # kind n d -> file name
  local f="$data_dir/$1_$2x$3.txt"
  if [ ! -s "$f" ]; then
    if [ "$1" = clusters ]; then
      "$out/gen_points/gen_points" -c 32 -w 0.05 clusters "$2" "$3" 1 >"$f"
    else
      "$out/gen_points/gen_points" uniform "$2" "$3" 1 >"$f"
    fi
  fi
  echo "$f"
}

row() {  # kind n d k plain numpy
  local f base fast plain="" numpy="" mem same=""
  f=$(data "$1" "$2" "$3")
  base=$(wall "$out/greedy_centers/greedy_centers" 1 "$f")
  fast=$(wall "$out/greedy_centers/greedy_centers" "$4" "$f")
  fast=$(awk -v a="$fast" -v b="$base" 'BEGIN { printf "%.3f", a - b }')
  if [ "$5" = 1 ]; then
    plain=$(wall "$out/greedy_centers/greedy_centers_plain" "$4" "$f")
    plain=$(awk -v a="$plain" -v b="$base" 'BEGIN { printf "%.3f", a - b }')
    cmp -s <("$out/greedy_centers/greedy_centers" "$4" <"$f") \
      <("$out/greedy_centers/greedy_centers_plain" "$4" <"$f") && same=yes || same=NO
  fi
  if [ "$6" = 1 ]; then
    numpy=$(for i in $(seq "$reps"); do /usr/bin/python3 bench/numpy_choice.py "$f" "$4" | cut -d' ' -f1; done | median)
  fi
  mem=$( { /usr/bin/time -v "$out/greedy_centers/greedy_centers" "$4" <"$f" >/dev/null; } 2>&1 |
        awk '/Maximum resident/ { printf "%.0f", $NF / 1024 }')
  awk -v kind="$1" -v n="$2" -v d="$3" -v K="$4" -v f="$fast" -v p="$plain" -v np="$numpy" \
      -v s="$same" -v m="$mem" 'BEGIN {
    mat = n * d * 8 / 1048576
    printf "| %s | %d | %d | %d | %s s | %s | %s | %s | %s | %d MiB (%.0f MiB) |\n", kind, n, d, K, f,
      p == "" ? "" : p " s", p == "" ? "" : sprintf("%.1fx", p / f),
      np == "" ? "" : np " s", s, m, mat }'
}

echo "| data | n | d | k | choice | plain loop | plain / choice | NumPy loop | same centres | peak memory (matrix) |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for kind in clusters uniform; do
  row $kind 100000 16 1000 "${PLAIN:-1}" "${NUMPY:-1}"
  row $kind 100000 64 1000 "${PLAIN:-1}" "${NUMPY:-1}"
  row $kind 20000 256 1000 "${PLAIN:-1}" "${NUMPY:-1}"
  row $kind 5000 1024 500 "${PLAIN:-1}" "${NUMPY:-1}"
done
if [ "${LARGE:-1}" = 1 ]; then
  row clusters 50000 512 5000 0 0
fi

if [ "${INPROCESS:-1}" = 1 ]; then
  echo
  echo "== in process: as the programs run (path 3), grouped never giving up (2),"
  echo "   one pass per centre (1), plain loop (0)"
  filter='BM_choice/[01]/[0123]/(100000|20000|5000)/'
  [ "${LARGE:-1}" = 1 ] && filter='BM_choice/'
  "$out/bench/groups_bench" --benchmark_filter="$filter"
fi
