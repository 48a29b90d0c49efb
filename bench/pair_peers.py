#!/usr/bin/python3
"""What people use for the farthest pair of a point cloud, on the .npy files
that bench/pair_runs.py writes: SciPy's ConvexHull (qhull), then every pair
of hull vertices (the farthest pair is a pair of vertices).

    /usr/bin/python3 bench/pair_peers.py [DATA_DIR [REPEATS]]

DATA_DIR defaults to build-bench/bench-data/pair, REPEATS to 3 (medians).
Only the sets in 3 coordinates are run (qhull in 16 does not finish in
reasonable time). When the hull has more than 20000 vertices, the pairs of
the first 20000 are timed and the time scaled by (vertices / 20000)^2,
marked "est.". Prints the largest squared distance found, to compare with
kcenter pair's (cdist's sums are not ours, so the last bits may differ).
Needs Debian's python3-scipy: apt-get install python3-scipy. Not a test.
"""
import os
import statistics
import sys
import time

try:
    import numpy as np
    from scipy.spatial import ConvexHull
    from scipy.spatial.distance import cdist
except ImportError:
    print("pair_peers.py needs NumPy and SciPy: apt-get install python3-numpy python3-scipy")
    sys.exit(1)

CASES = ["cube", "ball", "gauss", "sphere"]
SAMPLE = 20000


def farthest_of(v):
    """The largest squared distance over all pairs of rows of v, in blocks."""
    best = 0.0
    for i in range(0, len(v), 2048):
        best = max(best, float(cdist(v[i:i + 2048], v, "sqeuclidean").max()))
    return best


def run(path):
    t0 = time.perf_counter()
    pts = np.ascontiguousarray(np.load(path))
    t1 = time.perf_counter()
    hull = ConvexHull(pts)
    t2 = time.perf_counter()
    v = pts[hull.vertices]
    estimated = len(v) > SAMPLE
    dist = farthest_of(v[:SAMPLE] if estimated else v)
    pairs = time.perf_counter() - t2
    if estimated:
        pairs *= (len(v) / SAMPLE) ** 2
    return t1 - t0, t2 - t1, pairs, len(v), dist, estimated


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "build-bench/bench-data/pair"
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    print(f"{'points':<8} {'load s':>7} {'hull s':>7} {'pairs s':>9} {'total s':>9}"
          f" {'vertices':>9}  squared distance")
    for name in CASES:
        path = os.path.join(folder, name + ".npy")
        if not os.path.exists(path):
            print(f"{name:<8} missing: run /usr/bin/python3 bench/pair_runs.py first")
            continue
        runs = [run(path) for _ in range(repeats)]
        load, hull, pairs = (statistics.median(r[k] for r in runs) for k in range(3))
        _, _, _, verts, dist, est = runs[0]
        mark = " (pairs est.)" if est else ""
        print(f"{name:<8} {load:>7.3f} {hull:>7.3f} {pairs:>9.3f} {load + hull + pairs:>9.3f}"
              f" {verts:>9}  {dist!r}{mark}", flush=True)


if __name__ == "__main__":
    main()
