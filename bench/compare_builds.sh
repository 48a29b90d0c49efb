#!/usr/bin/env bash
# Times two builds of the suite on the same files, one run of each in turn:
# `kcenter order -k 1000` on a 10^6 x 3 .npy (one thread) and
# `greedy_centers 1000` on the same points as text, whole runs, medians.
#   bash bench/compare_builds.sh OTHER_BUILD [THIS_BUILD]
# OTHER_BUILD is another build folder (e.g. of an earlier commit:
# `git worktree add --detach /tmp/base COMMIT`, then its cmake line);
# THIS_BUILD defaults to build/. REPS=N runs (default 11); quiet=1 waits for
# an idle second before each pair of runs. Both builds must print the same.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
other=$1 this=${2:-build}
reps=${REPS:-11}
data=$this/bench-data/compare
mkdir -p "$data"
[ -f "$data/u.txt" ] || "$this/gen_points/gen_points" uniform 1000000 3 1 > "$data/u.txt"
[ -f "$data/u.npy" ] || /usr/bin/python3 -c "
import numpy as np, sys
t = open(sys.argv[1]).read().split()
r, c = int(t[0]), int(t[1])
np.save(sys.argv[2], np.array(t[2:2 + r * c], dtype=np.float64).reshape(r, c))" "$data/u.txt" "$data/u.npy"

# seconds BUILD PROGRAM ARGS... (< input): one whole run, its output kept;
# prints its wall time and its processor time (user and system).
seconds() {
  local b=$1
  shift
  /usr/bin/time -f '%e %U %S' -o "$data/time.$b" "$@" > "$data/out.$b"
  awk '{ print $1, $2 + $3 }' "$data/time.$b"
}

compare() {
  local name=$1 input=$2 program=$3
  shift 3
  local a=() b=()
  for _ in $(seq "$reps"); do
    wait_quiet || true
    if [ -n "$input" ]; then
      a+=("$(seconds this "$this/$program" "$@" < "$input")")
      b+=("$(seconds other "$other/$program" "$@" < "$input")")
    else
      a+=("$(seconds this "$this/$program" "$@")")
      b+=("$(seconds other "$other/$program" "$@")")
    fi
    cmp -s "$data/out.this" "$data/out.other" || { echo "$name: the builds printed different output"; exit 1; }
  done
  local ma mb ca cb
  ma=$(printf '%s\n' "${a[@]}" | cut -d' ' -f1 | median)
  mb=$(printf '%s\n' "${b[@]}" | cut -d' ' -f1 | median)
  ca=$(printf '%s\n' "${a[@]}" | cut -d' ' -f2 | median)
  cb=$(printf '%s\n' "${b[@]}" | cut -d' ' -f2 | median)
  printf '| %s | %.3f s (%.3f s) | %.3f s (%.3f s) | %.3f (%.3f) |\n' "$name" "$ma" "$ca" "$mb" "$cb" \
    "$(awk -v a="$ma" -v b="$mb" 'BEGIN { print a / b }')" "$(awk -v a="$ca" -v b="$cb" 'BEGIN { print a / b }')"
}

echo "| work (medians of $reps, runs alternating) | this build: wall (processor) | other build | this / other |"
echo "|---|---|---|---|"
compare "kcenter order -k 1000, 10^6 x 3 .npy" "" kcenter/kcenter order -k 1000 "$data/u.npy"
compare "greedy_centers 1000, 10^6 x 3 text" "$data/u.txt" greedy_centers/greedy_centers 1000
