"""Runs the benchmarks that bench/run built and prints one table of medians.

Usage: python3 bench/report.py BUILD_DIR

Whole runs are timed from outside (wall time of the process, standard input
from a file, standard output discarded); the choice alone comes from
engines_bench (Google Benchmark, in-process). sampled_centers is timed by its
own wall-time line (a one-process job, started without mpirun), on 2000
points from gen_points. NumPy and Open3D, when the
Debian packages python3-numpy / python3-open3d are installed, are timed
in-process on the same files. BENCH_REPEATS sets the runs per measurement
(default 5; 3 for the slow plain runs).
"""

import json
import os
import platform
import statistics
import subprocess
import sys
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
REPEATS = int(os.environ.get("BENCH_REPEATS", "5"))
DATA = os.path.join(BUILD, "bench-data")
N, D, K = 1_000_000, 3, 1000


def exe(name):
    for sub in ("greedy_centers", "sampled_centers", "gen_points", "bench"):
        path = os.path.join(BUILD, sub, name)
        if os.path.exists(path):
            return path
    sys.exit(f"missing {name} in {BUILD}: run bash bench/run")


def make_data(kind, seed):
    path = os.path.join(DATA, f"{kind}_{N}x{D}.txt")
    if not os.path.exists(path):
        os.makedirs(DATA, exist_ok=True)
        with open(path + ".tmp", "wb") as out:
            shape = ["uniform"] if kind == "uniform" else ["-c", "50", "-w", "0.02", "clusters"]
            subprocess.run([exe("gen_points"), *shape, str(N), str(D), str(seed)], stdout=out, check=True)
        os.replace(path + ".tmp", path)
    return path


def run_once(cmd, stdin_path):
    with open(stdin_path, "rb") as inp:
        start = time.perf_counter()
        done = subprocess.run(cmd, stdin=inp, stdout=subprocess.PIPE, check=True)
        return time.perf_counter() - start, done.stdout


def median_run(cmd, stdin_path, repeats=REPEATS):
    times, out = [], None
    for _ in range(repeats):
        t, out = run_once(cmd, stdin_path)
        times.append(t)
    return statistics.median(times), out


def python_with(module):
    """A Python that imports `module` (Debian's first), or None."""
    for py in ("/usr/bin/python3", sys.executable):
        if os.path.exists(py) and subprocess.run([py, "-c", f"import {module}"],
                                                 capture_output=True).returncode == 0:
            return py
    return None


def python_median(py, code, args, repeats):
    """Median of the seconds that `code` prints (it times its own work)."""
    env = dict(os.environ)
    # Older OpenBLAS builds need these on some processors; loadtxt and FPS use no BLAS.
    env.pop("OPENBLAS_CORETYPE", None)
    env.pop("OPENBLAS_L2_SIZE", None)
    times = []
    for _ in range(repeats):
        done = subprocess.run([py, "-c", code, *args], capture_output=True, text=True, env=env,
                              check=True)
        times.append(float(done.stdout.split()[-1]))
    return statistics.median(times)


NUMPY_LOAD = """
import sys, time, numpy as np
t = time.perf_counter(); a = np.loadtxt(sys.argv[1], skiprows=1); print(time.perf_counter() - t)
"""

OPEN3D_FPS = """
import sys, time, numpy as np, open3d as o3d
a = np.loadtxt(sys.argv[1], skiprows=1)
pc = o3d.geometry.PointCloud(o3d.utility.Vector3dVector(a))
t = time.perf_counter(); s = pc.farthest_point_down_sample(int(sys.argv[2])); print(time.perf_counter() - t)
"""


def google_benchmark():
    out = os.path.join(BUILD, "engines_bench.json")
    subprocess.run([exe("engines_bench"), "--benchmark_filter=BM_choose",
                    f"--benchmark_repetitions={max(3, REPEATS)}",
                    "--benchmark_report_aggregates_only=true",
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    with open(out) as f:
        report = json.load(f)
    medians = {}
    for b in report["benchmarks"]:
        if b.get("aggregate_name") == "median":
            medians[b["label"].strip()] = b["real_time"] / 1e3  # ms -> s
    return report["context"].get("simd_best", "plain"), medians


SC_N, SC_K, SC_M, SC_SEED = 2000, 10, 20000, 1


def make_point_file(shape, seed):
    """2000 points of the plane from the suite's generator (gen_points)."""
    path = os.path.join(DATA, f"{shape}_{SC_N}_points.txt")
    if not os.path.exists(path):
        os.makedirs(DATA, exist_ok=True)
        with open(path + ".tmp", "wb") as out:
            subprocess.run([exe("gen_points"), "-f", "points", shape, str(SC_N), "2", str(seed)],
                           stdout=out, check=True)
        os.replace(path + ".tmp", path)
    return path


def sampled_median(program, path, repeats):
    """Median of the program's own wall-time line (a one-process job started
    without mpirun), and its other three lines."""
    times, rest = [], None
    for _ in range(repeats):
        done = subprocess.run([program, path, str(SC_K), str(SC_M), str(SC_SEED)],
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, check=True)
        lines = done.stdout.splitlines()
        times.append(float(lines[1].split("=")[1].split()[0]))
        rest = lines[:1] + lines[2:]
    return statistics.median(times), rest


def sampled_rows():
    rows = []
    fast, plain = exe("sampled_centers"), exe("sampled_centers_plain")
    for shape, seed in (("uniform", 1), ("clusters", 2)):
        path = make_point_file(shape, seed)
        t_fast, out_fast = sampled_median(fast, path, max(REPEATS, 11))
        t_plain, out_plain = sampled_median(plain, path, min(REPEATS, 3))
        same = "yes" if out_fast == out_plain else "NO"
        rows.append((f"`sampled_centers file {SC_K} {SC_M} {SC_SEED}`, {SC_N} points, {shape}, "
                     "wall-time line", f"{t_fast:.4f} s", f"{t_plain:.4f} s", ratio(t_plain, t_fast),
                     "", same, "≤ 0.0100 s"))
    return rows


def fmt(seconds):
    return "—" if seconds is None else f"{seconds:.3f} s"


def ratio(slow, fast):
    return "—" if slow is None or fast is None else f"{slow / fast:.1f}x"


def main():
    uniform = make_data("uniform", 1)
    clustered = make_data("clustered", 2)
    size_mb = os.path.getsize(uniform) / 1e6
    fast, plain = exe("greedy_centers"), exe("greedy_centers_plain")
    rows = []

    # Reading: the whole run of k = 1, against one scanf per number and NumPy.
    t_fast, out_fast = median_run([fast, "1"], uniform)
    t_scanf, out_scanf = median_run([exe("scanf_read")], uniform)
    same = "yes" if out_fast == out_scanf else "NO"
    py = python_with("numpy")
    t_np = python_median(py, NUMPY_LOAD, [uniform], REPEATS) if py else None
    rows.append((f"`greedy_centers 1`, {size_mb:.0f} MB ({N:,} x {D}) on stdin, whole run",
                 fmt(t_fast), f"{fmt(t_scanf)} (scanf)", ratio(t_scanf, t_fast),
                 f"NumPy loadtxt {fmt(t_np)}" if t_np else "NumPy absent", same, "≤ 0.150 s"))

    # The choice, whole runs and in-process.
    level, gb = google_benchmark()
    py3d = python_with("open3d")
    for kind, path in (("uniform", uniform), ("clustered", clustered)):
        t_fast, out_fast = median_run([fast, str(K)], path)
        t_plain, out_plain = median_run([plain, str(K)], path, repeats=min(REPEATS, 3))
        same = "yes" if out_fast == out_plain else "NO"
        t_fps = python_median(py3d, OPEN3D_FPS, [path, str(K)], min(REPEATS, 3)) if py3d else None
        other = f"Open3D FPS {fmt(t_fps)} (choice only)" if t_fps else "Open3D absent"
        rows.append((f"`greedy_centers {K}`, {kind}, whole run", fmt(t_fast), fmt(t_plain),
                     ratio(t_plain, t_fast), other, same, "≤ 0.450 s"))
        c_fast = gb.get(f"{kind} pruned {level}")
        c_pass = gb.get(f"{kind} passes {level}")
        c_plain = gb.get(f"{kind} plain")
        rows.append((f"choice alone, {kind} (pruned; one vector pass per centre: {fmt(c_pass)})",
                     fmt(c_fast), fmt(c_plain), ratio(c_plain, c_fast), "", "", "≤ 0.300 s"))

    rows += sampled_rows()

    print(f"\nMedians of {REPEATS} runs (3 for plain whole runs, {max(REPEATS, 11)} for the short "
          f"sampled_centers runs); vector level {level}; "
          f"{platform.processor() or platform.machine()}, {os.cpu_count()} cores.\n")
    print("| work | fast | plain | plain / fast | people use today | same output | target |")
    print("|---|---|---|---|---|---|---|")
    for r in rows:
        print("| " + " | ".join(r) + " |")


if __name__ == "__main__":
    main()
