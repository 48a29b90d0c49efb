#!/usr/bin/env bash
# kcenter order -k K on N rows of 3 coordinates, alone and on P = 1..4
# processes under mpirun, against the model of docs/distributed.md:
#   - the whole run of `kcenter order -k K` on a .npy file (uniform in the
#     unit cube, NumPy's generator, seed 0), alone and under mpirun, its
#     output the same bytes every time;
#   - the parts of a step (bench/kcenter_steps: the fold of n/P rows, the
#     allreduce and broadcast, and those two alone, L(P)), on the same
#     number of rows;
#   - the model's step: the fold of n rows alone, over min(P, cores)
#     (processes beyond the cores share them), plus L(P); it takes the
#     fold alone from the P = 1 run, so PROCS should hold 1.
# Every configuration runs once per round, in turn, so that all of them meet
# the same load; the tables show medians over REPS rounds.
#   bash bench/kcenter_processes.sh                       # N = 2e7, K = 1000
#   N=200000000 PROCS="1 2" REPS=1 bash bench/kcenter_processes.sh
#   MPIRUN_FLAGS="--bind-to none" bash bench/kcenter_processes.sh
#   QUIET=0 bash bench/kcenter_processes.sh    # do not wait for idle moments
# On a shared machine each run first waits (up to a minute) for a second in
# which the processors were at least 97% idle; the "cores" column shows how
# many cores a whole run really kept busy.
# The .npy goes to build-bench/bench-data (24 bytes a row) and is removed
# at the end, unless KEEP=1. Not a test.
set -euo pipefail
cd "$(dirname "$0")/.."
n=${N:-20000000}
k=${K:-1000}
reps=${REPS:-5}
procs=${PROCS:-1 2 3 4}
quiet=${QUIET:-1}
read -r -a flags <<<"${MPIRUN_FLAGS:-}"
out=build-bench

bash scripts/install-deps
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$out" --target kcenter kcenter_steps >/dev/null
kc="$out/kcenter/kcenter"
steps="$out/bench/kcenter_steps"

# The rows are drawn in blocks: the same stream as one draw of them all.
mkdir -p "$out/bench-data"
big="$out/bench-data/uniform_${n}x3.npy"
[ "${KEEP:-0}" = 1 ] || trap 'rm -f "$big" "$out"/order*.csv' EXIT
[ -s "$big" ] || /usr/bin/python3 -c "
import numpy as np, sys
n = int(sys.argv[1]); rng = np.random.default_rng(0)
out = np.lib.format.open_memmap(sys.argv[2], mode='w+', dtype='<f8', shape=(n, 3))
for i in range(0, n, 1 << 22):
    out[i:i + (1 << 22)] = rng.random((min(1 << 22, n - i), 3))
out.flush()" "$n" "$big"

# mpirun as root needs both; --oversubscribe lets P pass the cores.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMP_WAIT_POLICY=passive
launch() { [ "$1" = alone ] || echo mpirun -np "$1" --oversubscribe "${flags[@]}"; }
source bench/common.sh


"$kc" order -k "$k" "$big" >"$out/order-alone.csv"
declare -A whole part
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for _ in $(seq "$reps"); do
  for c in alone $procs; do
    TIMEFORMAT='%3R %3U %3S'
    wait_quiet
    times=$( { time $(launch "$c") "$kc" order -k "$k" "$big" >"$out/order.csv"; } 2>&1)
    cmp -s "$out/order.csv" "$out/order-alone.csv" || { echo "different output on $c" >&2; exit 1; }
    whole[$c]+="$(awk '{ printf "%s %.2f", $1, ($2 + $3) / $1 }' <<<"$times")"$'\n'
    [ "$c" = alone ] && continue
    wait_quiet
    part[$c]+="$(mpirun -np "$c" --oversubscribe "${flags[@]}" "$steps" "$n" 3 "$k")"$'\n'
  done
done

col() { grep . <<<"$1" | cut -d' ' -f"$2" | median; }
cores=$(nproc)
echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $cores cores; load before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "kcenter order -k $k on uniform ${n}x3 (.npy): whole run, medians of $reps rounds"
printf '%-6s %10s %7s %9s\n' P seconds cores speed-up
for c in alone $procs; do
  t=$(col "${whole[$c]}" 1)
  [ "$c" = alone ] && alone=$t
  [ "$c" = 1 ] && one=$t
  printf '%-6s %10.3f %7.2f %9s\n' "$c" "$t" "$(col "${whole[$c]}" 2)" \
    "$(awk -v a="$alone" -v o="${one:-$t}" -v t="$t" 'BEGIN { printf "%.2f / %.2f", a / t, o / t }')"
done
echo "(speed-up: over the run alone / over mpirun -np 1)"
echo
echo "a step, kcenter_steps $n 3 $k: medians of $reps rounds; model = fold(P=1) / min(P, $cores) + L(P)"
printf '%-3s %9s %9s %9s %9s %10s %10s\n' P set-up_s step_ms fold_ms wait_ms "L(P) us" model_ms
for c in $procs; do
  fold1=$(col "${part[1]:-${part[$c]}}" 7)
  L=$(col "${part[$c]}" 9)
  printf '%-3s %9.3f %9.3f %9.3f %9.3f %10.1f %10.3f\n' "$c" "$(col "${part[$c]}" 5)" "$(col "${part[$c]}" 6)" \
    "$(col "${part[$c]}" 7)" "$(col "${part[$c]}" 8)" "$L" \
    "$(awk -v f="$fold1" -v p="$c" -v C="$cores" -v L="$L" 'BEGIN { print f / (p < C ? p : C) + L / 1000 }')"
done
