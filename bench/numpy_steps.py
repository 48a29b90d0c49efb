#!/usr/bin/python3
"""numpy_steps.py FILE.npy STEPS: the farthest-first loop people write with
NumPy on embeddings (row 0 first, squared distances by einsum in the array's
own type, argmax), timed over STEPS steps after loading; prints the seconds
per step. Float32 stays float32, as it does in such scripts (its sums are
not ours, nor exact). Run with Debian's /usr/bin/python3 (python3-numpy)."""
import sys
import time

import numpy as np


def main():
    x = np.load(sys.argv[1])
    steps = int(sys.argv[2])
    near = np.full(x.shape[0], np.finfo(x.dtype).max, dtype=x.dtype)
    c = 0
    start = time.perf_counter()
    for _ in range(steps):
        diff = x - x[c]
        np.minimum(near, np.einsum("ij,ij->i", diff, diff), out=near)
        c = int(np.argmax(near))
    print(f"{(time.perf_counter() - start) / steps:.4f}")


if __name__ == "__main__":
    main()
