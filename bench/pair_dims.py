"""The farthest-pair search from 16 to 1024 coordinates, beside NumPy.

Usage: /usr/bin/python3 bench/pair_dims.py [BUILD_DIR]   (default build-bench)

For uniform points (gen_points uniform N D D) and clustered ones
(gen_points -c 32 -w 0.05 clusters N D D) at D = 16, 64, 256 and 1024, with
N = 20000 at D = 16 and half as many at four times as many coordinates
(about 3.2e9 squared differences a search), prints:

- the search alone on 1 and 2 threads, from pair_search_bench's `dims`
  benchmark (Google Benchmark, the same doubles generated in process);
- farthest_pair 1 on the file, whole run (reading included), as the program
  reports it; with BASELINE=DIR, also DIR/farthest_pair/farthest_pair on the
  same file (an older build, say);
- NumPy on the same file, one thread: the squared distances of a block of
  rows to every later row by the Gram-matrix trick,
  |a|^2 + |b|^2 - 2 a.b, 256 rows at a time, and their largest. That is how
  a NumPy user would write it; its sums are neither ours nor exact (the
  product a.b comes from BLAS, whichever the system's libblas is).

Medians of REPS runs (default 5) for our code; NumPy runs NUMPY_REPS times
(default 1): it is slower by one to two orders of magnitude.
"""

import json
import os
import statistics
import subprocess
import sys
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
REPS = int(os.environ.get("REPS", "5"))
NUMPY_REPS = int(os.environ.get("NUMPY_REPS", "1"))
BASELINE = os.environ.get("BASELINE", "")
DATA = os.path.join(BUILD, "bench-data")
KINDS = {"uniform": ["uniform"], "clusters": ["-c", "32", "-w", "0.05", "clusters"]}
DIMS = [int(d) for d in os.environ.get("DIMS", "16 64 256 1024").split()]


def rows_for(d):
    n, k = 20000, 16
    while k < d:
        n, k = n // 2, k * 4
    return n


def make_data(kind, n, d):
    path = os.path.join(DATA, f"{kind}_{n}x{d}.txt")
    if not os.path.exists(path):
        os.makedirs(DATA, exist_ok=True)
        with open(path + ".tmp", "wb") as out:
            cmd = [os.path.join(BUILD, "gen_points", "gen_points"), *KINDS[kind], str(n), str(d), str(d)]
            subprocess.run(cmd, stdout=out, check=True)
        os.replace(path + ".tmp", path)
    return path


def search_alone(kind, d, threads):
    """Median seconds of the search alone, from Google Benchmark."""
    k = 0 if kind == "uniform" else 1
    cmd = [os.path.join(BUILD, "bench", "pair_search_bench"),
           f"--benchmark_filter=^dims/kind:{k}/d:{d}/T:{threads}/",
           "--benchmark_min_time=0.01", f"--benchmark_repetitions={REPS}",
           "--benchmark_format=json"]
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
    runs = [b for b in json.loads(done.stdout)["benchmarks"] if b.get("run_type") == "iteration"]
    return statistics.median(b["real_time"] for b in runs) / 1e3


def whole_run(program, path):
    """Median of the program's own seconds, `farthest_pair 1 < path`."""
    times = []
    for _ in range(REPS):
        with open(path, "rb") as inp:
            out = subprocess.run([program, "1"], stdin=inp, stdout=subprocess.PIPE, check=True).stdout
        times.append(float(out.decode().strip("(),").split(",")[1]))
    return statistics.median(times)


def numpy_search(x):
    """The farthest pair by the Gram-matrix trick; returns (seconds, i, j)."""
    import numpy as np

    start = time.perf_counter()
    n = len(x)
    sq = np.einsum("ij,ij->i", x, x)
    best, at = -1.0, (-1, -1)
    block = 256
    for i0 in range(0, n - 1, block):
        i1 = min(i0 + block, n)
        d2 = sq[i0:i1, None] + sq[None, i0:] - 2.0 * (x[i0:i1] @ x[i0:].T)
        # Only the later rows: j > i.
        d2[np.tril_indices(i1 - i0, 0, d2.shape[1])] = -np.inf
        k = int(np.argmax(d2))
        if d2.flat[k] > best:
            best, at = float(d2.flat[k]), (i0 + k // d2.shape[1], i0 + k % d2.shape[1])
    return time.perf_counter() - start, at


def load(path):
    import numpy as np

    flat = np.fromfile(path, sep=" ")
    n, d = int(flat[0]), int(flat[1])
    return np.ascontiguousarray(flat[2:].reshape(n, d))


def main():
    try:
        import numpy  # noqa: F401
        have_numpy = True
    except ImportError:
        have_numpy = False
    print(f"search alone: medians of {REPS} runs; NumPy: {'median of ' + str(NUMPY_REPS) if NUMPY_REPS > 1 else 'one run'}")
    head = f"{'kind':8} {'d':>5} {'n':>6} {'T=1 s':>8} {'pairs/s':>9} {'T=2 s':>8} {'T2/T1':>6}" \
           f" {'whole s':>8}"
    if BASELINE:
        head += f" {'base s':>8}"
    head += f" {'NumPy s':>8} {'pairs/s':>9} {'NumPy/T1':>8}"
    print(head)
    for kind in KINDS:
        for d in DIMS:
            n = rows_for(d)
            path = make_data(kind, n, d)
            pairs = n * (n - 1) / 2
            t1, t2 = search_alone(kind, d, 1), search_alone(kind, d, 2)
            line = f"{kind:8} {d:5} {n:6} {t1:8.4f} {pairs / t1:9.2e} {t2:8.4f} {t1 / t2:6.2f}"
            line += f" {whole_run(os.path.join(BUILD, 'farthest_pair', 'farthest_pair'), path):8.4f}"
            if BASELINE:
                line += f" {whole_run(os.path.join(BASELINE, 'farthest_pair', 'farthest_pair'), path):8.4f}"
            if have_numpy:
                x = load(path)
                secs = statistics.median(numpy_search(x)[0] for _ in range(NUMPY_REPS))
                line += f" {secs:8.3f} {pairs / secs:9.2e} {secs / t1:8.1f}"
            else:
                line += f" {'-':>8} {'-':>9} {'-':>8}"
            print(line, flush=True)


main()
