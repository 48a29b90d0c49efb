"""kcenter.order_batch: each item exactly its own kcenter.order, padded with
-1 and NaN, from a (B, P, D) array with lengths or a list of matrices."""
import os
import subprocess

import numpy as np
import pytest

import kcenter

CLI = os.environ.get("KCENTER_CLI")


def check_items(got, items, ks, **kw):
    """Line b of the batch is order(items[b], ks[b]) and then padding."""
    assert got.rows.shape == got.dist_sq.shape == (len(items), got.rows.shape[1])
    for b, (X, k) in enumerate(zip(items, ks)):
        want = kcenter.order(X, k, **kw)
        n = len(want.rows)
        assert got.counts[b] == n and got.stops[b] == want.stop
        assert np.array_equal(got.rows[b, :n], want.rows) and (got.rows[b, n:] == -1).all()
        assert np.array_equal(got.dist_sq[b, :n].view(np.int64), want.dist_sq.view(np.int64))
        assert np.isnan(got.dist_sq[b, n:]).all()


def test_array_with_lengths_and_k_per_item():
    rng = np.random.default_rng(1)
    points = rng.normal(size=(5, 300, 3)).astype(np.float32)
    points[2, 20:] = points[2, 0]  # 20 distinct rows, fewer than its k
    points[3, 7] = np.nan
    lengths = [300, 1, 250, 299, 0]
    ks = [64, 3, 64, 10, 5]
    got = kcenter.order_batch(points, ks, lengths=lengths)
    assert got.rows.shape == (5, 64)
    check_items(got, [points[b, :n] for b, n in enumerate(lengths)], ks)
    # The same items read where they lie in a strided, reversed batch.
    view = np.ascontiguousarray(points[:, ::-1, ::-1])[:, ::-1, ::-1]
    assert np.array_equal(kcenter.order_batch(view, ks, lengths=lengths).rows, got.rows)


@pytest.mark.skipif(CLI is None, reason="KCENTER_CLI names no kcenter program")
def test_same_bits_as_the_command_line(tmp_path):
    rng = np.random.default_rng(3)
    points = np.asfortranarray(rng.integers(0, 5, (6, 200, 2)).astype(np.float32))  # ties
    points[1, 3] = np.nan
    lengths = [200, 3, 5, 150, 199, 60]
    np.save(tmp_path / "batch.npy", points)
    (tmp_path / "lengths.txt").write_text("".join(f"{n}\n" for n in lengths))
    p = subprocess.run([CLI, "order", "-k", "12", "-s", "2", "-t", "2", "--lengths", str(tmp_path / "lengths.txt"),
                        "-o", str(tmp_path / "out.npy"), str(tmp_path / "batch.npy")], capture_output=True)
    assert p.returncode == 0 and p.stderr == b"", p.stdout
    want = np.load(tmp_path / "out.npy")
    # Here the program's width (the longest order) is this one's (k).
    got = kcenter.order_batch(np.load(tmp_path / "batch.npy", mmap_mode="r"), 12, lengths=lengths, start=2)
    assert np.array_equal(got.rows, want["row"])
    assert np.array_equal(got.dist_sq.view(np.int64), want["dist_sq"].view(np.int64))


def test_ragged_list_with_start_rows_on_any_thread_count():
    rng = np.random.default_rng(2)
    items = [rng.random((n, 4)).astype(dtype) for n, dtype in
             [(400, np.float64), (9, np.float32), (1000, np.float32), (3, np.float64)]]
    one = kcenter.order_batch(items, 50, start=[2, 0])
    check_items(one, items, [50] * 4, start=[2, 0])
    assert one.rows.shape == (4, 50)
    for threads in (2, 3, 7):
        many = kcenter.order_batch(items, 50, start=[2, 0], threads=threads)
        assert np.array_equal(many.rows, one.rows) and np.array_equal(many.counts, one.counts)
        assert np.array_equal(many.dist_sq.view(np.int64), one.dist_sq.view(np.int64))


def test_width_and_stops_without_k():
    items = [np.arange(12.0).reshape(6, 2), np.zeros((2, 2)), np.arange(40.0).reshape(20, 2)]
    got = kcenter.order_batch(items, None, radius=5.0)
    check_items(got, items, [None] * 3, radius=5.0)
    assert got.rows.shape[1] == max(got.counts) and got.stops[1] == "covered"
    assert kcenter.order_batch(items, 10**12).rows.shape == (3, 20)  # no wider than the largest item
    empty = kcenter.order_batch(np.zeros((0, 5, 2)), 4)
    assert empty.rows.shape == (0, 4)


@pytest.mark.parametrize("points, kw, error, line", [
    (np.zeros((2, 4, 3)), {"k": 2, "lengths": [4]}, ValueError,
     "error : a batch of 2 items needs one length per item, not 1"),
    (np.zeros((2, 4, 3)), {"k": 2, "lengths": [4, 5]}, ValueError,
     "error : the length 5 of item 1 is not a row count from 0 to 4"),
    (np.zeros((2, 4, 3)), {"k": [1, 2, 3]}, ValueError, "error : a batch of 2 items needs one k or one per item, not 3"),
    (np.zeros((2, 4, 3)), {"k": [1, 0]}, ValueError, "error : k must be a whole number from 1 to 2147483647"),
    (np.zeros((2, 4, 3)), {"k": 2, "lengths": [4, 2], "start": 3}, ValueError,
     "error : the start row 3 is not a row of a matrix of 2 rows (item 1)"),
    ([np.zeros((4, 3)), np.zeros((4, 3))], {"k": 2, "lengths": [4, 2]}, ValueError,
     "error : lengths goes with a (B, P, D) array, not with a list of matrices"),
    (np.zeros((4, 3)), {"k": 2}, ValueError, "error : points holds a 2-dimensional array, not a batch of matrices (3-dimensional)"),
    (np.zeros((2, 4, 3), np.int32), {"k": 2}, TypeError,
     "error : points holds dtype '<i4', not little-endian float64 ('<f8') or float32 ('<f4')"),
    ([np.zeros((4, 3)), np.zeros(3)], {"k": 2}, ValueError,
     "error : points[1] holds a 1-dimensional array, not a matrix (2-dimensional)"),
])
def test_batches_refused(points, kw, error, line):
    with pytest.raises(error) as e:
        kcenter.order_batch(points, **kw)
    assert str(e.value) == line
