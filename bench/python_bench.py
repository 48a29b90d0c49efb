#!/usr/bin/python3
"""python_bench.py BUILD_DIR [REPS]: the Python package kcenter against what
people use instead and against the program, on the same data in one run:
medians of REPS rounds (default 5) in which each work runs once, in turn.
bench/python.sh builds and runs it.

1. order of 10^6 x 3 float32 (uniform, seed 1), k = 1000: kcenter.order in
   this process; the kcenter program's own order on the same file, its
   compute time (BUILD_DIR/bench/kcenter_call: reading and writing left out)
   and its whole run; Open3D's farthest_point_down_sample (python3-open3d)
   on a cloud made beforehand, and with the cloud made from X.
2. a batch (32, 2048, 3) float32, K = 256: kcenter.order_batch on 1 and 2
   threads; a Python loop over Open3D's down-sampling (clouds made
   beforehand, or in the loop); the batched NumPy loop
   (one vector pass per step over every item, float64: the same sums, so the
   same rows); a batched torch loop (float32) when python3-torch is there.
3. one call on (1000, 3) float64, k = 10: kcenter.order against the library's
   own call in C++ on the same file (kcenter_call).
Needs the package built in BUILD_DIR/python. Each round waits, up to 20 s,
for a second in which the processors are 97% idle (QUIET=0 does not).
"""
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1]
REPS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
sys.path.insert(0, os.path.join(BUILD, "python"))

import numpy as np  # noqa: E402

import kcenter  # noqa: E402

try:
    import open3d as o3d
except ImportError:
    o3d = None
try:
    import torch
except ImportError:
    torch = None


def wait_quiet():
    """Up to QUIET_TRIES seconds (default 20) for one in which the processors
    are 97% idle; QUIET=0 skips it."""
    if os.environ.get("QUIET", "1") != "1":
        return
    for _ in range(int(os.environ.get("QUIET_TRIES", "20"))):
        with open("/proc/stat") as f:
            a = [int(v) for v in f.readline().split()[1:9]]
        time.sleep(1)
        with open("/proc/stat") as f:
            b = [int(v) for v in f.readline().split()[1:9]]
        d = [y - x for x, y in zip(a, b)]
        if 100 * (d[3] + d[4]) >= 97 * sum(d):
            return


def seconds(run):
    t = time.perf_counter()
    run()
    return time.perf_counter() - t


def rounds(works, reps):
    """The median seconds of each work, run in turn in each of reps rounds
    (after one round not counted), so that a busy spell of the machine falls
    on all of them alike; each round runs them in another order (shuffled,
    so that no work always follows the same one: Open3D's threads, say, may
    still be spinning), after a tenth of a second of busy waiting that wakes
    the processor from the idle wait.
    A work returning a dict of seconds gives those times instead."""
    times = {}
    shuffle = random.Random(1).shuffle
    names = list(works)
    for r in range(reps + 1):
        wait_quiet()
        end = time.perf_counter() + 0.1
        while time.perf_counter() < end:
            pass
        shuffle(names)
        for name in names:
            run = works[name]
            t = time.perf_counter()
            got = run()
            t = time.perf_counter() - t
            if r > 0:
                for key, value in (got if isinstance(got, dict) else {name: t}).items():
                    times.setdefault(key, []).append(value)
    return {name: statistics.median(v) for name, v in times.items()}


def call_bench(path, k, reps):
    out = subprocess.run([os.path.join(BUILD, "bench", "kcenter_call"), path, str(k), str(reps)],
                         capture_output=True, text=True, check=True).stdout.split()
    return float(out[0]), float(out[1]), int(out[2])


def cloud_of(X):
    """An Open3D cloud of the rows of X, made from float64 (its fast path:
    from float32 it takes about 1 s a million points)."""
    return o3d.geometry.PointCloud(o3d.utility.Vector3dVector(X.astype(np.float64)))


def open3d_fps(cloud, k):
    return np.asarray(cloud.farthest_point_down_sample(k).points)


def same_set(points, X, rows):
    """Whether Open3D's points are the rows chosen (as sets of points)."""
    a = np.sort(points.view([("", points.dtype)] * 3), axis=0)
    b = np.sort(X[rows].astype(np.float64).view([("", np.float64)] * 3), axis=0)
    return np.array_equal(a, b)


def numpy_batch(P, K):
    """Farthest-first over every item at once, from row 0, in float64."""
    X = P.astype(np.float64)
    B, N, _ = X.shape
    near = np.full((B, N), np.finfo(np.float64).max)
    rows = np.zeros((B, K), dtype=np.int64)
    at = np.arange(B)
    for s in range(1, K):
        diff = X - X[at, rows[:, s - 1]][:, None, :]
        d = diff[..., 0] * diff[..., 0] + diff[..., 1] * diff[..., 1] + diff[..., 2] * diff[..., 2]
        np.minimum(near, d, out=near)
        rows[:, s] = np.argmax(near, axis=1)
    return rows


def torch_batch(P, K):
    """The batched loop point-cloud networks write in torch (float32)."""
    X = torch.from_numpy(P)
    B, N, _ = X.shape
    near = torch.full((B, N), 1e10)
    rows = torch.zeros((B, K), dtype=torch.long)
    at = torch.arange(B)
    far = torch.zeros(B, dtype=torch.long)
    for s in range(K):
        rows[:, s] = far
        d = ((X - X[at, far].view(B, 1, 3)) ** 2).sum(-1)
        near = torch.minimum(near, d)
        far = near.max(-1)[1]
    return rows.numpy()


def row(*cells):
    print("| " + " | ".join(cells) + " |")


def main():
    work = tempfile.mkdtemp()
    rng = np.random.default_rng(1)
    print(f"medians of {REPS} rounds, each work once a round; kcenter {kcenter.__version__}, "
          f"NumPy {np.__version__}, Open3D {o3d.__version__ if o3d else 'absent'}, "
          f"torch {torch.__version__ if torch else 'absent'}")

    # 1. One large order.
    X = rng.random((1000000, 3), dtype=np.float32)
    path = os.path.join(work, "uniform_1e6x3_f4.npy")
    np.save(path, X)
    mapped = np.load(path, mmap_mode="r")
    ours = kcenter.order(X, 1000)
    sums = set()
    cli = [os.path.join(BUILD, "kcenter", "kcenter"), "order", "-k", "1000", path]

    def call_cli():
        t_cli, t_api, checksum = call_bench(path, 1000, 1)
        sums.add(checksum)
        return {"cli": t_cli, "api": t_api}

    works = {"ours": lambda: kcenter.order(X, 1000), "mapped": lambda: kcenter.order(mapped, 1000),
             "cli": call_cli, "whole": lambda: subprocess.run(cli, stdout=subprocess.DEVNULL, check=True)}
    if o3d:
        cloud = cloud_of(X)
        works["o3d"] = lambda: open3d_fps(cloud, 1000)
        works["o3d+"] = lambda: open3d_fps(o3d.geometry.PointCloud(o3d.utility.Vector3dVector(X)), 1000)
    t = rounds(works, REPS)
    same = "yes" if sums == {int(ours.rows.sum())} else "NO"
    print("\n## order, 10^6 x 3 float32 uniform, k = 1000\n")
    row("work", "time", "it / kcenter.order", "same rows")
    row("---", "---", "---", "---")
    row("kcenter.order(X, 1000), X in memory", f"{t['ours']:.4f} s", "1.00", "")
    row("kcenter.order on np.load(mmap_mode='r')", f"{t['mapped']:.4f} s", f"{t['mapped'] / t['ours']:.2f}",
        "yes" if np.array_equal(kcenter.order(mapped, 1000).rows, ours.rows) else "NO")
    row("the library's call in C++ on the mapped file", f"{t['api']:.4f} s", f"{t['api'] / t['ours']:.2f}", same)
    row("kcenter program's compute, reading and writing left out", f"{t['cli']:.4f} s",
        f"{t['cli'] / t['ours']:.2f}", same)
    row("kcenter program, whole run (`kcenter order -k 1000 FILE`)", f"{t['whole']:.4f} s",
        f"{t['whole'] / t['ours']:.2f}", "")
    if o3d:
        same = "yes" if same_set(open3d_fps(cloud, 1000), X, ours.rows) else "no"
        row("Open3D farthest_point_down_sample alone (its cloud made beforehand)", f"{t['o3d']:.4f} s",
            f"{t['o3d'] / t['ours']:.1f}", same + " (as a set)")
        row("Open3D, its cloud made from X (float32) included", f"{t['o3d+']:.4f} s",
            f"{t['o3d+'] / t['ours']:.1f}", "")

    # 2. A batch of clouds.
    P = rng.random((32, 2048, 3), dtype=np.float32)
    batch = kcenter.order_batch(P, 256)
    works = {"t1": lambda: kcenter.order_batch(P, 256, threads=1),
             "t2": lambda: kcenter.order_batch(P, 256, threads=2),
             "numpy": lambda: numpy_batch(P, 256)}
    if o3d:
        clouds = [cloud_of(item) for item in P]
        works["o3d"] = lambda: [open3d_fps(cloud, 256) for cloud in clouds]
        works["o3d+"] = lambda: [open3d_fps(o3d.geometry.PointCloud(o3d.utility.Vector3dVector(item)), 256)
                                 for item in P]
    if torch:
        torch.set_num_threads(1)
        works["torch"] = lambda: torch_batch(P, 256)
    t = rounds(works, 3 * REPS)
    print(f"\n## order_batch, (32, 2048, 3) float32 uniform, K = 256 (medians of {3 * REPS} rounds)\n")
    row("work", "time", "it / order_batch on 1 thread", "same rows")
    row("---", "---", "---", "---")
    row("kcenter.order_batch(P, 256, threads=1)", f"{t['t1']:.4f} s", "1.00", "")
    row("kcenter.order_batch(P, 256, threads=2)", f"{t['t2']:.4f} s", f"{t['t2'] / t['t1']:.2f}",
        "yes" if np.array_equal(kcenter.order_batch(P, 256, threads=2).rows, batch.rows) else "NO")
    if o3d:
        same = all(same_set(open3d_fps(clouds[b], 256), P[b], batch.rows[b]) for b in range(len(P)))
        row("Python loop over Open3D farthest_point_down_sample (clouds made beforehand)", f"{t['o3d']:.4f} s",
            f"{t['o3d'] / t['t1']:.1f}", ("yes" if same else "no") + " (as sets)")
        row("the same loop, each cloud made from its float32 item in the loop", f"{t['o3d+']:.4f} s",
            f"{t['o3d+'] / t['t1']:.1f}", "")
    row("batched NumPy loop (float64)", f"{t['numpy']:.4f} s", f"{t['numpy'] / t['t1']:.1f}",
        "yes" if np.array_equal(numpy_batch(P, 256), batch.rows) else "NO")
    if torch:
        agree = int(np.sum(np.all(torch_batch(P, 256) == batch.rows, axis=1)))
        row("batched torch loop (float32), 1 thread", f"{t['torch']:.4f} s", f"{t['torch'] / t['t1']:.1f}",
            f"{agree} of 32 items")

    # 3. The cost of a call: blocks of 401 calls, the median call of each block.
    small = rng.random((1000, 3))
    path = os.path.join(work, "uniform_1000x3.npy")
    np.save(path, small)

    def block():
        times = []
        for _ in range(401):
            t0 = time.perf_counter_ns()
            kcenter.order(small, 10)
            times.append(time.perf_counter_ns() - t0)
        return statistics.median(times) * 1e-9

    t = rounds({"python": lambda: {"python": block()}, "api": lambda: {"api": call_bench(path, 10, 401)[1]}}, REPS)
    print(f"\n## one call, (1000, 3) float64, k = 10 (the median call of 401, median of {REPS} rounds)\n")
    row("work", "time")
    row("---", "---")
    row("kcenter.order(X, 10)", f"{t['python'] * 1e6:.1f} us")
    row("the library's call in C++ on the same numbers", f"{t['api'] * 1e6:.1f} us")
    row("the difference: the binding's cost", f"{(t['python'] - t['api']) * 1e6:.1f} us")
    for f in os.listdir(work):
        os.remove(os.path.join(work, f))
    os.rmdir(work)


if __name__ == "__main__":
    main()
