#!/usr/bin/python3
"""numpy_choice.py MATRIX K: farthest-first by one NumPy pass per centre, the
loop people write for core sets (row 0 first, squared distances, argmax).
Prints the seconds of the loop alone (reading excluded) and a checksum of the
centres, so that runs can be compared with greedy_centers' choice.
Run with Debian's /usr/bin/python3 (python3-numpy)."""
import sys
import time

import numpy as np


def main():
    path, k = sys.argv[1], int(sys.argv[2])
    with open(path) as f:
        n, d = (int(v) for v in f.readline().split())
        x = np.fromstring(f.read(), sep=" ", count=n * d).reshape(n, d)
    start = time.perf_counter()
    near = np.full(n, np.finfo(np.float64).max)
    centres = [0]
    for _ in range(1, k):
        diff = x - x[centres[-1]]
        np.minimum(near, np.einsum("ij,ij->i", diff, diff), out=near)
        centres.append(int(np.argmax(near)))
    seconds = time.perf_counter() - start
    print(f"{seconds:.4f} {sum(centres)}")


if __name__ == "__main__":
    main()
