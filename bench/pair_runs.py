#!/usr/bin/python3
"""Whole runs of `kcenter pair` on .npy files, one process a run.

    /usr/bin/python3 bench/pair_runs.py [BUILD_DIR [DATA_DIR]]

BUILD_DIR defaults to build-bench (kcenter and gen_points built there, as
bench/pair_pruned.sh does), DATA_DIR to BUILD_DIR/bench-data/pair. Writes
each point set that is missing there as a .npy file with NumPy, from
gen_points' text (17 digits, read back exactly), so the files hold the
doubles that pair_pruned_bench generates in process:

    cube       gen_points uniform 1000000 3 1
    ball       gen_points uniform 2100000 3 2, the first 10^6 points whose
               squared norm (x0*x0, then x1*x1 + s, x2*x2 + s) is at most 1
    gauss      gen_points -c 1 -w 1 clusters 1000000 3 3
    sphere     gen_points sphere 1000000 3 4
    gauss16    gen_points -c 1 -w 1 clusters 100000 16 5
    uniform16  gen_points uniform 100000 16 6
    uniform64  gen_points uniform 30000 64 7
    sphere16   gen_points sphere 100000 16 8

Then times `kcenter pair -t T FILE.npy` (T = 1 and 2) REPS times each
(environment REPS, default 5) and prints the median, the fastest and the
slowest wall time of the runs, the pair, the load average (1 minute)
before and after the case, and how many of the runs started after a second
in which the processors were at least 97% idle: on a shared machine each
run first waits up to 30 s for one (QUIET=0 does not wait). CASES="cube
sphere" picks cases. Not a test.
"""
import os
import statistics
import subprocess
import sys
import time

try:
    import numpy as np
except ImportError:
    print("pair_runs.py needs NumPy: apt-get install python3-numpy")
    sys.exit(1)

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
DATA = sys.argv[2] if len(sys.argv) > 2 else os.path.join(BUILD, "bench-data", "pair")
REPS = int(os.environ.get("REPS", "5"))
KCENTER = os.path.join(BUILD, "kcenter", "kcenter")
GEN = os.path.join(BUILD, "gen_points", "gen_points")

CASES = {
    "cube": ["uniform", 1000000, 3, 1],
    "ball": ["uniform", 2100000, 3, 2],
    "gauss": ["-c", "1", "-w", "1", "clusters", 1000000, 3, 3],
    "sphere": ["sphere", 1000000, 3, 4],
    "gauss16": ["-c", "1", "-w", "1", "clusters", 100000, 16, 5],
    "uniform16": ["uniform", 100000, 16, 6],
    "uniform64": ["uniform", 30000, 64, 7],
    "sphere16": ["sphere", 100000, 16, 8],
}


def generated(args):
    text = subprocess.run([GEN, *map(str, args)], capture_output=True, check=True).stdout
    words = text.split()
    rows, cols = int(words[0]), int(words[1])
    return np.array(words[2:], dtype=np.float64).reshape(rows, cols)


def write(name, path):
    x = generated(CASES[name])
    if name == "ball":
        s = x[:, 0] * x[:, 0]
        for k in range(1, x.shape[1]):
            s = x[:, k] * x[:, k] + s
        x = x[s <= 1.0][:1000000]
        assert len(x) == 1000000, "too few points drawn for the ball"
    np.save(path, np.ascontiguousarray(x))


QUIET = os.environ.get("QUIET", "1") == "1"


def busy_and_total():
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    return sum(fields) - fields[3] - fields[4], sum(fields)  # idle and iowait apart


def wait_quiet():
    """True once a second passed with the processors at least 97% idle."""
    if not QUIET:
        return False
    give_up = time.monotonic() + 30
    while time.monotonic() < give_up:
        b0, t0 = busy_and_total()
        time.sleep(1)
        b1, t1 = busy_and_total()
        if t1 > t0 and (b1 - b0) / (t1 - t0) <= 0.03:
            return True
    return False


def run(path, threads):
    quiet = wait_quiet()
    t0 = time.perf_counter()
    out = subprocess.run([KCENTER, "pair", "-t", str(threads), path], capture_output=True,
                         text=True, check=True).stdout
    return time.perf_counter() - t0, out.splitlines()[-1], quiet


def main():
    os.makedirs(DATA, exist_ok=True)
    names = os.environ.get("CASES", " ".join(CASES)).split()
    print(f"{'points':<10} {'T':>2} {'median s':>9} {'min s':>8} {'max s':>8}  {'load':>9}"
          f"  {'quiet':>5}  pair")
    for name in names:
        path = os.path.join(DATA, name + ".npy")
        if not os.path.exists(path):
            write(name, path)
        for threads in (1, 2):
            load0 = os.getloadavg()[0]
            run(path, threads)  # the file into the page cache
            runs = [run(path, threads) for _ in range(REPS)]
            times = [t for t, _, _ in runs]
            answers = {a for _, a, _ in runs}
            quiet = sum(q for _, _, q in runs)
            load1 = os.getloadavg()[0]
            pair = answers.pop() if len(answers) == 1 else f"DIFFERENT ANSWERS {answers}"
            print(f"{name:<10} {threads:>2} {statistics.median(times):>9.3f} {min(times):>8.3f}"
                  f" {max(times):>8.3f}  {load0:>4.2f}-{load1:<4.2f}  {quiet:>2}/{len(runs):<2}  {pair}",
                  flush=True)


if __name__ == "__main__":
    main()
