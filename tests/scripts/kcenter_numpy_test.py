#!/usr/bin/python3
"""kcenter and NumPy together: arrays written by np.save in every layout
kcenter reads, its answers read back by np.load and checked bit for bit
against a reference written here in NumPy from first principles.

usage: kcenter_numpy_test.py KCENTER WORK_DIR
"""
import io
import os
import subprocess
import sys
from fractions import Fraction

import numpy as np

KCENTER, WORK = sys.argv[1], sys.argv[2]
BIG = np.finfo(np.float64).max  # a row's nearest distance before any centre
failures = []


def check(what, ok):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(args, stdin=None):
    p = subprocess.run([KCENTER] + args, input=stdin, capture_output=True, check=False)
    check(f"{args}: status {p.returncode}, stderr {p.stderr!r}", p.returncode == 0 and p.stderr == b"")
    return p.stdout.decode()


def dist_sq(X, c):
    """Squared distances of every row to row c: coordinate 0 first, unfused."""
    d = np.zeros(len(X))
    for j in range(X.shape[1]):
        diff = X[:, j] - X[c, j]
        d = diff * diff + d
    return d


def order_ref(X, start=0, k=None, r=None):
    near = np.full(len(X), BIG)
    steps = [(start, np.inf)]
    while k is None or len(steps) < k:
        d = dist_sq(X, steps[-1][0])
        near = np.where(near > d, d, near)  # NaN never replaces
        near[steps[-1][0]] = 0.0  # a row given is never given again
        far = int(np.argmax(near))  # the first of the largest
        if near[far] <= 0.0:
            break
        if r is not None and near[far] != BIG and Fraction(float(near[far])) <= Fraction(r) ** 2:
            break
        steps.append((far, near[far]))
    return np.array(steps, dtype=[("row", "<i8"), ("dist_sq", "<f8")])


def pair_ref(X):
    best = (-1, -1, 0.0)
    for i in range(len(X) - 1):
        d = dist_sq(X, i)[i + 1:]
        j = int(np.argmax(np.where(np.isnan(d), -1.0, d)))
        if d[j] > best[2]:
            best = (i, i + 1 + j, d[j])
    return np.array([best], dtype=[("i", "<i8"), ("j", "<i8"), ("dist_sq", "<f8")])


def same(a, b):
    """Same fields, same values, every double the same bits."""
    if a.dtype != b.dtype or a.shape != b.shape:
        return False
    return all(np.array_equal(a[f].view(np.int64), b[f].view(np.int64)) for f in a.dtype.names)


def saved_bytes(a):
    buf = io.BytesIO()
    np.save(buf, a)
    return buf.getvalue()


rng = np.random.default_rng(2024)
# Sums whose last bit depends on their order, and every third row on a coarse
# grid, so that ties and duplicate rows are common too.
X = rng.standard_normal((300, 4)) * 3
X[::3] = rng.integers(0, 6, size=(100, 4)) * 0.37 - 1.1
X[17] = X[5]
layouts = {
    "c8": X,
    "f8": np.asfortranarray(X),
    "c4": X.astype(np.float32),
    "f4": np.asfortranarray(X.astype(np.float32)),
}
for name, A in layouts.items():
    path = os.path.join(WORK, f"x_{name}.npy")
    np.save(path, A)
    check(f"{name}: np.save kept the layout", np.load(path).flags.f_contiguous == name.startswith("f"))
    A64 = A.astype(np.float64)
    out = os.path.join(WORK, f"order_{name}.npy")
    run(["order", "-k", "60", "-o", out, path])
    got = np.load(out)
    check(f"{name}: order -k 60", same(got, order_ref(A64, k=60)))
    check(f"{name}: the order file is byte for byte what np.save writes",
          open(out, "rb").read() == saved_bytes(got))
    # The same order as CSV, and each dist_sq read back exactly from %.17g.
    csv = run(["order", "-k", "60", path]).splitlines()
    check(f"{name}: CSV header", csv[0] == "step,row,dist_sq")
    rows = [line.split(",") for line in csv[1:]]
    check(f"{name}: CSV = .npy", [int(r[1]) for r in rows] == got["row"].tolist()
          and [float(r[2]) for r in rows] == got["dist_sq"].tolist())

A64 = layouts["f4"].astype(np.float64)
path = os.path.join(WORK, "x_f4.npy")
out = os.path.join(WORK, "order_s_r.npy")
r = float(np.sqrt(order_ref(A64, start=7)["dist_sq"][25]))
for radius in (r, np.nextafter(r, 0.0)):
    run(["order", "-s", "7", "-r", repr(radius), "-o", out, path])
    check(f"order -s 7 -r {radius!r}", same(np.load(out), order_ref(A64, start=7, r=radius)))
full = run(["order", path])
piped = run(["order"], stdin=open(path, "rb").read())
check("a pipe reads as the file", piped == full)
check("no -k: every row on a centre ends the order",
      len(full.splitlines()) - 1 == len(order_ref(A64)) == len(np.unique(A64, axis=0)))
csv_out = os.path.join(WORK, "order.csv")
run(["order", "-o", csv_out, path])
check("-o OUT.csv holds what standard output shows", open(csv_out).read() == full)

out = os.path.join(WORK, "pair.npy")
for name in ("c8", "f4"):
    run(["pair", "-t", "2", "-o", out, os.path.join(WORK, f"x_{name}.npy")])
    check(f"{name}: pair", same(np.load(out), pair_ref(layouts[name].astype(np.float64))))
    check(f"{name}: the pair file is byte for byte what np.save writes",
          open(out, "rb").read() == saved_bytes(np.load(out)))
# NaN never wins a pair; a NaN row comes next in an order, once, and the
# order goes on over the other rows.
Y = X[:40].copy()
Y[3, 2] = np.nan
np.save(path, Y)
run(["pair", "-o", out, path])
check("pair with a NaN row", same(np.load(out), pair_ref(Y)))
run(["order", "-o", out.replace("pair", "order_nan"), path])
got = np.load(out.replace("pair", "order_nan"))
check("order with a NaN row", same(got, order_ref(Y)) and got["row"][1] == 3 and got["dist_sq"][1] == BIG
      and len(got) > 2)
run(["pair", "-o", out, "-"], stdin=b"1 3 1 2 3")
check("no pair: an empty table", np.load(out).shape == (0,))

# The other formats hold the same numbers: every one orders as the .npy file does.
path = os.path.join(WORK, "x_c8.npy")
want = run(["order", "-k", "60", path])
np.savetxt(os.path.join(WORK, "x.csv"), X, delimiter=",", header="a,b,c,d", comments="")
np.savetxt(os.path.join(WORK, "x.dat"), X)
np.savez(os.path.join(WORK, "x.npz"), X)
np.savez_compressed(os.path.join(WORK, "xc.npz"), points=X, other=X[:3])
for args in (["x.csv"], ["--format", "table", "x.dat"], ["x.npz"], ["-a", "points", "xc.npz"]):
    check(f"{args}: the order of the .npy file",
          run(["order", "-k", "60"] + args[:-1] + [os.path.join(WORK, args[-1])]) == want)

# A point cloud with colours and normals: the chosen vertices come out with
# every property, as NumPy reads them back from the written PLY.
V = np.zeros(500, dtype=[("x", "<f4"), ("y", "<f4"), ("z", "<f4"), ("nx", "<f4"), ("ny", "<f4"),
                         ("nz", "<f4"), ("red", "u1"), ("green", "u1"), ("blue", "u1"), ("s", "<f8")])
for name in V.dtype.names:
    V[name] = rng.random(500) * (255 if V.dtype[name].kind == "u" else 1)
props = "".join("property %s %s\n" % ({"<f4": "float", "|u1": "uchar", "<f8": "double"}[V.dtype[n].str], n)
                for n in V.dtype.names)
ply = os.path.join(WORK, "cloud.ply")
with open(ply, "wb") as f:
    f.write(("ply\nformat binary_little_endian 1.0\nelement vertex 500\n%send_header\n" % props).encode())
    f.write(V.tobytes())
xyz = np.stack([V["x"], V["y"], V["z"]], axis=1)
np.save(os.path.join(WORK, "cloud_xyz.npy"), xyz)
order = run(["order", "-k", "40", os.path.join(WORK, "cloud_xyz.npy")])
check("PLY: the order of the same floats as .npy", run(["order", "-k", "40", ply]) == order)
rows = [int(line.split(",")[1]) for line in order.splitlines()[1:]]
sample = os.path.join(WORK, "sample.ply")
run(["order", "-k", "40", "--points", "-o", sample, ply])
data = open(sample, "rb").read()
body = data[data.index(b"end_header\n") + len(b"end_header\n"):]
check("PLY --points: every property of the chosen vertices, in order",
      data.startswith(b"ply\nformat binary_little_endian 1.0\nelement vertex 40\n" + props.encode())
      and body == V[rows].tobytes())
pts = os.path.join(WORK, "points.npy")
run(["order", "-k", "40", "--points", "-o", pts, ply])
check("--points .npy: float32 rows as they were", np.load(pts).dtype == np.float32 and
      np.array_equal(np.load(pts), xyz[rows]))
check("--points .npy: byte for byte what np.save writes", open(pts, "rb").read() == saved_bytes(np.load(pts)))
got = np.loadtxt(io.StringIO(run(["order", "-k", "60", "--points", path])), delimiter=",", skiprows=1)
rows = [int(line.split(",")[1]) for line in want.splitlines()[1:]]
check("--points CSV: every double read back exactly", np.array_equal(got.view(np.int64), X[rows].view(np.int64)))

sys.exit(1 if failures else 0)
