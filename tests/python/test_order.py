"""kcenter.order, pair and assign through the binding: the command line's
answers to the last bit on the same files, every way an array can lie in
memory read where it lies, and the refusals in the command line's words."""
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import kcenter

ROOT = Path(__file__).resolve().parents[2]
CLI = os.environ.get("KCENTER_CLI")
DTYPE_LINE = "not little-endian float64 ('<f8') or float32 ('<f4')"


def same(a, b):
    """Same values, every double the same bits."""
    a, b = np.asarray(a), np.asarray(b)
    if a.dtype == np.float64:
        a, b = a.view(np.int64), np.asarray(b, dtype=np.float64).view(np.int64)
    return a.shape == b.shape and np.array_equal(a, b)


def same_order(a, b):
    return same(a.rows, b.rows) and same(a.dist_sq, b.dist_sq) and a.stop == b.stop


def matrices(tmp_path):
    """Files the command line and the module both read: ties on a grid, NaN and
    infinite rows, float32, Fortran order, the suite's own samples."""
    rng = np.random.default_rng(5)
    spiky = rng.normal(size=(1500, 5))
    spiky[[7, 300]] = np.nan
    spiky[40, 2] = np.inf
    made = {
        "grid.npy": rng.integers(0, 4, (400, 3)).astype(np.float64),
        "spiky.npy": spiky,
        "f4.npy": rng.random((900, 4), dtype=np.float32),
        "fortran.npy": np.asfortranarray(rng.random((700, 6))),
    }
    for name, X in made.items():
        np.save(tmp_path / name, X)
    files = [tmp_path / name for name in made]
    return files + [ROOT / "tests/cli/data/kcenter/four_c8.npy", ROOT / "tests/cli/data/kcenter/four_f4.npy"]


def cli(args, out):
    p = subprocess.run([CLI] + args + ["-o", str(out)], capture_output=True, check=False)
    assert p.returncode == 0 and p.stderr == b"", p.stdout
    return np.load(out)


@pytest.mark.skipif(CLI is None, reason="KCENTER_CLI names no kcenter program")
def test_same_bits_as_the_command_line(tmp_path):
    options = [([], {}), (["-k", "9"], {"k": 9}), (["-r", "0.75"], {"radius": 0.75}),
               (["-s", "3", "-t", "2"], {"start": 3, "threads": 2})]
    for path in matrices(tmp_path):
        X = np.load(path, mmap_mode="r")
        for args, kw in options:
            want = cli(["order"] + args + [str(path)], tmp_path / "order.npy")
            got = kcenter.order(X, **kw)
            assert same(got.rows, want["row"]) and same(got.dist_sq, want["dist_sq"]), (path, args)
        want = cli(["pair", "-t", "3", str(path)], tmp_path / "pair.npy")
        got = kcenter.pair(X, threads=2)
        assert got is not None and (got.i, got.j) == (want["i"][0], want["j"][0]), path
        assert same(got.dist_sq, want["dist_sq"][0])
    # The text the programs read, as the same doubles.
    text = (ROOT / "data/points_3000x3.txt").read_text()
    numbers = np.array(text.split()[2:], dtype=np.float64).reshape(3000, 3)
    want = cli(["order", "-k", "500", str(ROOT / "data/points_3000x3.txt")], tmp_path / "order.npy")
    assert same(kcenter.order(numbers, 500).rows, want["row"])


def test_every_layout_read_in_place():
    base = np.random.default_rng(1).random((301, 9))
    X = base[::3, 1:8]  # a strided slice of a larger array
    want = kcenter.order(np.ascontiguousarray(X), 40)

    class WithArray:  # neither an ndarray nor a buffer: only __array__
        def __init__(self, a):
            self.a = a

        def __array__(self, dtype=None):
            return self.a

    layouts = {
        "slice": X, "C": np.ascontiguousarray(X), "Fortran": np.asfortranarray(X),
        "reversed": np.ascontiguousarray(X[::-1])[::-1], "both reversed": np.asfortranarray(X[::-1, ::-1])[::-1, ::-1],
        "transposed slice": np.ascontiguousarray(base.T)[1:8, ::3].T, "buffer": memoryview(np.ascontiguousarray(X)),
        "__array__": WithArray(np.asfortranarray(X)), "read-only": np.ascontiguousarray(X),
    }
    layouts["read-only"].flags.writeable = False
    for name, A in layouts.items():
        a = np.asarray(A)
        address, rows, cols, row_stride, col_stride, dtype = kcenter._kcenter._view(a)
        assert address == a.__array_interface__["data"][0], name
        assert (rows, cols, row_stride * 8, col_stride * 8, dtype) == (*a.shape, *a.strides, "float64"), name
        assert same_order(kcenter.order(A, 40), want), name
        assert same(kcenter.assign(A, want.rows[:7]).labels, kcenter.assign(X, want.rows[:7]).labels), name


def test_memory_mapped_file_and_a_packed_record(tmp_path):
    X = np.random.default_rng(2).random((500, 3), dtype=np.float32)
    np.save(tmp_path / "x.npy", np.asfortranarray(X))
    mapped = np.load(tmp_path / "x.npy", mmap_mode="r")
    assert kcenter._kcenter._view(mapped)[0] == mapped.__array_interface__["data"][0]
    assert same_order(kcenter.order(mapped, 50), kcenter.order(X, 50))
    # A field of a packed record lies at strides of no whole number of
    # floats: read through a copy, with the same answer.
    packed = np.zeros(500, dtype=[("tag", "u1"), ("xyz", "<f4", 3)])
    packed["xyz"] = X
    assert packed["xyz"].strides[0] % 4 != 0
    assert same_order(kcenter.order(packed["xyz"], 50), kcenter.order(X, 50))


def test_float32_is_its_float64_widening_on_any_thread_count():
    X = np.random.default_rng(3).normal(size=(4000, 3)).astype(np.float32)
    wide = X.astype(np.float64)
    want = kcenter.order(wide, 300)
    for threads in (1, 2, 3):
        assert same_order(kcenter.order(X, 300, threads=threads), want)
    assert kcenter.pair(X, threads=2) == kcenter.pair(wide)
    a, b = kcenter.assign(X, want.rows, threads=2), kcenter.assign(wide, want.rows)
    assert same(a.labels, b.labels) and same(a.dist_sq, b.dist_sq)


def test_torch_tensor_read_in_place():
    torch = pytest.importorskip("torch")
    X = np.random.default_rng(4).random((200, 3), dtype=np.float32)
    t = torch.from_numpy(X)
    assert kcenter._kcenter._view(np.asarray(t))[0] == X.__array_interface__["data"][0]
    assert same_order(kcenter.order(t, 20), kcenter.order(X, 20))


def test_start_rows_lead_in_their_order_and_k_counts_them():
    X = np.random.default_rng(6).random((300, 2))
    labelled = [17, 4, 250]
    got = kcenter.order(X, 10, start=labelled)
    assert list(got.rows[:3]) == labelled and len(got.rows) == 10
    d = ((X[labelled[2]] - X[labelled[:2]]) ** 2).sum(axis=1)
    assert got.dist_sq[0] == np.inf and got.dist_sq[2] == d.min()
    # Growing a set from the first steps of an order goes on as that order did.
    whole = kcenter.order(X)
    assert same(kcenter.order(X, start=np.asarray(whole.rows[:25], dtype=np.int32)).rows, whole.rows)
    # A NaN row: given once, at its turn, at the largest double.
    X[5] = np.nan
    nan_steps = np.flatnonzero(kcenter.order(X).rows == 5)
    assert len(nan_steps) == 1 and kcenter.order(X).dist_sq[nan_steps[0]] == 1.7976931348623157e308


def test_pair_and_assign_on_small_cases():
    X = np.array([[0, 0], [3, 4], [1, 1], [-2, 1]], dtype=np.float64)
    assert kcenter.pair(X) == (1, 3, 34.0)
    assert kcenter.pair(X[:1]) is None and kcenter.pair(np.full((3, 2), np.nan)) is None
    got = kcenter.assign(X, [1, 0])
    assert list(got.labels) == [1, 0, 1, 1] and list(got.dist_sq) == [0, 0, 2, 5]
    none = kcenter.assign(X, [])
    assert list(none.labels) == [-1] * 4 and np.isnan(none.dist_sq).all()


X4 = np.array([[0, 0], [3, 4], [1, 1], [-2, 1]], dtype=np.float64)


@pytest.mark.parametrize("X, error, line", [
    (X4.astype(np.int64), TypeError, f"error : X holds dtype '<i8', {DTYPE_LINE}"),
    (X4.astype(np.complex128), TypeError, f"error : X holds dtype '<c16', {DTYPE_LINE}"),
    (X4.astype(object), TypeError, f"error : X holds dtype '|O', {DTYPE_LINE}"),
    (X4.astype(bool), TypeError, f"error : X holds dtype '|b1', {DTYPE_LINE}"),
    (X4.astype(">f8"), TypeError, f"error : X holds dtype '>f8', {DTYPE_LINE}"),
    (X4[0], ValueError, "error : X holds a 1-dimensional array, not a matrix (2-dimensional)"),
    (X4[None], ValueError, "error : X holds a 3-dimensional array, not a matrix (2-dimensional)"),
])
def test_arrays_refused(X, error, line):
    for call in (kcenter.order, kcenter.pair, lambda A: kcenter.assign(A, [0])):
        with pytest.raises(error) as e:
            call(X)
        assert str(e.value) == line


@pytest.mark.parametrize("kw, line", [
    ({"k": 0}, "error : k must be a whole number from 1 to 2147483647"),
    ({"radius": -1.0}, "error : the radius must be a number from 0 up (inf allowed)"),
    ({"radius": float("nan")}, "error : the radius must be a number from 0 up (inf allowed)"),
    ({"threads": 0}, "error : the thread count must be a whole number from 1 to 4096"),
    ({"threads": 10**20}, "error : the thread count must be a whole number from 1 to 4096"),
    ({"start": [2, 0, 2]}, "error : the start row 2 is given twice"),
    ({"start": 4}, "error : the start row 4 is not a row of a matrix of 4 rows"),
    ({"start": [-1]}, "error : the start row -1 is not a row of a matrix of 4 rows"),
])
def test_options_refused_with_the_library_line(kw, line):
    with pytest.raises(ValueError) as e:
        kcenter.order(X4, **kw)
    assert str(e.value) == line


def test_arguments_of_the_wrong_kind():
    with pytest.raises(ValueError, match="error : the centre row 4 is not a row of a matrix of 4 rows"):
        kcenter.assign(X4, [0, 4])
    for kw in ({"k": 2.0}, {"k": True}, {"start": [0.5]}, {"radius": "1"}):
        with pytest.raises(TypeError):
            kcenter.order(X4, **kw)
