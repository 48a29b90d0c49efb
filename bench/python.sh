#!/usr/bin/env bash
# The Python package against Open3D, NumPy (and torch, when installed) and
# against the kcenter program itself: builds Release with the benchmarks into
# build-bench/ and runs bench/python_bench.py there. REPS=N sets the runs per
# measurement (default 5); QUIET=0 skips the wait for idle processors.
# Open3D is Debian's python3-open3d, torch python3-torch: neither is part of
# scripts/install-deps.
#   bash bench/python.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON -DBUILD_TESTING=OFF \
  -DBUILD_PYTHON=ON >/dev/null
cmake --build build-bench --target _kcenter kcenter_call kcenter >/dev/null
/usr/bin/python3 bench/python_bench.py build-bench "${REPS:-5}"
