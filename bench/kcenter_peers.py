#!/usr/bin/python3
"""kcenter beside what people use today, on the same .npy files.

Usage: /usr/bin/python3 bench/kcenter_peers.py [BUILD_DIR]   (default build-bench)

Builds nothing; first:
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON \
        -DBUILD_TESTING=OFF && cmake --build build-bench --target kcenter npy_bench
(bash bench/run builds them too). Writes 10^6 x 3
uniform points (NumPy's default_rng(1)) as a .npy file, then times, as medians
of BENCH_REPEATS runs (default 5; at most 3 for the NumPy loops):

  - `kcenter order -k 1000 x.npy` (whole run, one thread) against a NumPy
    farthest-first loop (the same strict rules and the same unfused sums, so
    the same rows) and Open3D's farthest_point_down_sample (Debian
    python3-open3d, optional; it returns the points, not their order);
  - `kcenter pair` on the first 20000 points against a NumPy loop over rows;
  - reading the .npy (npy_bench, Google Benchmark) against copying its bytes.

NumPy and Open3D are timed in-process around the work alone; the .npy load
is timed apart. Not part of the tests.
"""

import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
REPEATS = int(os.environ.get("BENCH_REPEATS", "5"))
N, D, K, PAIR_N = 1_000_000, 3, 1000, 20_000
KCENTER = os.path.join(BUILD, "kcenter", "kcenter")
NPY_BENCH = os.path.join(BUILD, "bench", "npy_bench")


def median_of(fn, repeats=REPEATS):
    times, out = [], None
    for _ in range(repeats):
        t0 = time.perf_counter()
        out = fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times), out


def kcenter(*args):
    done = subprocess.run([KCENTER, *args], capture_output=True, text=True, check=True)
    return done.stdout


def numpy_order(X, k):
    """Farthest-first from row 0: strict test, first of the largest."""
    near = np.full(len(X), np.finfo(np.float64).max)
    rows = [0]
    for _ in range(k - 1):
        c = X[rows[-1]]
        d = np.zeros(len(X))
        for j in range(X.shape[1]):
            diff = X[:, j] - c[j]
            d = diff * diff + d
        near = np.where(near > d, d, near)
        rows.append(int(np.argmax(near)))
    return rows


def numpy_pair(X):
    best = (-1, -1, 0.0)
    cols = [np.ascontiguousarray(X[:, j]) for j in range(X.shape[1])]
    for i in range(len(X) - 1):
        d = np.zeros(len(X) - i - 1)
        for j, col in enumerate(cols):
            diff = col[i + 1:] - col[i]
            d = diff * diff + d
        m = int(np.argmax(d))
        if d[m] > best[2]:
            best = (i, i + 1 + m, float(d[m]))
    return best


def open3d_fps(path, k):
    try:
        import open3d as o3d
    except ImportError:
        return None, None
    X = np.load(path)
    pc = o3d.geometry.PointCloud(o3d.utility.Vector3dVector(X))
    t, sampled = median_of(lambda: pc.farthest_point_down_sample(k))
    return t, np.asarray(sampled.points)


def npy_bench():
    out = os.path.join(BUILD, "npy_bench.json")
    subprocess.run([NPY_BENCH, f"--benchmark_repetitions={REPEATS}",
                    "--benchmark_report_aggregates_only=true", f"--benchmark_out={out}",
                    "--benchmark_out_format=json"], stdout=subprocess.DEVNULL, check=True)
    with open(out) as f:
        report = json.load(f)
    return {(b["run_name"] + " " + b.get("label", "")).strip(): b["real_time"]
            for b in report["benchmarks"] if b.get("aggregate_name") == "median"}


def main():
    for exe in (KCENTER, NPY_BENCH):
        if not os.path.exists(exe):
            sys.exit(f"missing {exe}: build it first (bash bench/run)")
    with tempfile.TemporaryDirectory(prefix="kcenter_peers_") as work:
        run_in(work)


def run_in(work):
    X = np.random.default_rng(1).random((N, D))
    path = os.path.join(work, "uniform.npy")
    np.save(path, X)
    pair_path = os.path.join(work, "uniform_pair.npy")
    np.save(pair_path, X[:PAIR_N])

    rows = []
    t_kc, out = median_of(lambda: kcenter("order", "-k", str(K), path))
    kc_rows = [int(line.split(",")[1]) for line in out.splitlines()[1:]]
    t_load, X2 = median_of(lambda: np.load(path))
    t_np, np_rows = median_of(lambda: numpy_order(X2, K), min(REPEATS, 3))
    t_o3d, o3d_points = open3d_fps(path, K)
    same_set = "—"
    if o3d_points is not None:
        same_set = "yes" if {tuple(p) for p in o3d_points} == {tuple(X[r]) for r in kc_rows} else "no"
    rows.append((f"order -k {K}, {N:,} x {D}", f"{t_kc:.3f} s (whole run)",
                 f"{t_np:.3f} s (+ np.load {t_load:.3f} s)", "yes" if np_rows == kc_rows else "NO",
                 "absent" if t_o3d is None else f"{t_o3d:.3f} s", same_set))

    t_kc, out = median_of(lambda: kcenter("pair", pair_path))
    i, j, _ = out.splitlines()[1].split(",")
    Xp = np.load(pair_path)
    t_np, (ni, nj, _) = median_of(lambda: numpy_pair(Xp), min(REPEATS, 3))
    rows.append((f"pair, {PAIR_N:,} x {D}", f"{t_kc:.3f} s (whole run)", f"{t_np:.3f} s",
                 "yes" if (int(i), int(j)) == (ni, nj) else "NO", "—", "—"))

    print(f"\nMedians of {REPEATS} runs; kcenter at {KCENTER}\n")
    print("| work | kcenter | NumPy loop | same rows | Open3D FPS | same set |")
    print("|---|---|---|---|---|---|")
    for r in rows:
        print("| " + " | ".join(r) + " |")

    gb = npy_bench()
    copy = gb.get("BM_copy_bytes")
    print("\nReading 10^6 x 3 as .npy (npy_bench, then one pass over the doubles):\n")
    print("| read | time | / copying the bytes |")
    print("|---|---|---|")
    for name, t in gb.items():
        print(f"| {name} | {t:.2f} ms | {t / copy:.2f} |")


if __name__ == "__main__":
    main()
