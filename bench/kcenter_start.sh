#!/usr/bin/env bash
# What linking Open MPI costs a kcenter run without a launcher: kcenter
# against the same main linked without Open MPI (kcenter_no_mpi), on a
# 4-row matrix, with hyperfine (Debian's package): 500 runs each after 20
# warm-ups, medians. Release build in build-bench/. Not a test.
# hyperfine is Debian's package of that name, installed by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-bench
command -v hyperfine >/dev/null || { echo "needs hyperfine: apt-get install hyperfine" >&2; exit 1; }
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$out" --target kcenter kcenter_no_mpi >/dev/null
input=tests/cli/data/kcenter/four.txt
hyperfine -N -w 20 -r 500 --export-json "$out/start.json" \
  "$out/bench/kcenter_no_mpi order $input" "$out/kcenter/kcenter order $input" >/dev/null
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 -c "
import json, sys
for r in json.load(open(sys.argv[1]))['results']:
    print('%-60s median %.2f ms, mean %.2f ms' % (r['command'], 1000 * r['median'], 1000 * r['mean']))
" "$out/start.json"
