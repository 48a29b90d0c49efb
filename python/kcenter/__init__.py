"""The exact farthest-first order (k-center), farthest pair and nearest centres
of the rows of NumPy arrays, on the same engines as the kcenter command line.

    >>> import numpy as np, kcenter
    >>> X = np.array([[0, 0], [3, 4], [1, 1], [-2, 1]], dtype=np.float64)
    >>> kcenter.order(X, 3)
    Order(rows=array([0, 1, 3]), dist_sq=array([inf, 25.,  5.]), stop='k')

Exact: every squared distance is the plain sum of unfused squares from
coordinate 0 up, each square rounded before it is added, in double precision
(float32 coordinates are widened to double first, which is exact); every
choice compares these doubles strictly and gives ties to the lowest row. The
answers are the command line's to the last bit, whatever the thread count.

Arrays: a 2-D array of float64 or float32 in C or Fortran order, a strided or
reversed view, a memory-mapped .npy (np.load(..., mmap_mode="r")), or any
object with the buffer protocol or __array__ (a CPU torch tensor) is read
where it lies: the binding copies nothing. Two cases are copied, once, into
a new array: a list or tuple of rows (read as float64), and an array whose
strides are no whole number of elements or whose data is not aligned to one
(a field of a packed record array). Any other element type (integers, bool,
complex, float16, objects, big-endian) raises TypeError and any other number
of dimensions ValueError; nothing is converted. The array must not change
while a call reads it.

The engines run without the GIL, so other Python threads go on meanwhile.
Ctrl-C (or any signal handler that raises) stops order and order_batch
between two steps, within about 50 ms of the end of the step under way, and
its exception is raised; pair and assign see it only when they are done.
In a process forked after kcenter ran on several threads every call runs on
one thread (GNU OpenMP cannot start threads there); the answers are the same.
Errors of the arguments raise ValueError with the command line's line for
them (MemoryError when storage cannot be had).
"""
import numbers
import operator
import os
from typing import NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _kcenter

__all__ = ["order", "order_batch", "pair", "assign", "Order", "Batch", "Pair", "Assignment"]
__version__ = "%d.%d" % _kcenter.version

_INT64_MAX = (1 << 63) - 1
_NO_MORE_THREADS = 4097  # the first count refused: 1 to 4096 are allowed


class Order(NamedTuple):
    """A farthest-first order: step s took row rows[s], at squared distance
    dist_sq[s] from its nearest earlier step (+inf for step 0). stop is why
    it ended: 'covered' (every row lies on a step), 'k' or 'radius'."""
    rows: np.ndarray
    dist_sq: np.ndarray
    stop: str


class Batch(NamedTuple):
    """The orders of a batch's items, one per line of rows (int64) and
    dist_sq (float64), padded past an item's counts[b] steps with -1 and
    NaN; stops[b] is why item b's order ended."""
    rows: np.ndarray
    dist_sq: np.ndarray
    counts: np.ndarray
    stops: Tuple[str, ...]


class Pair(NamedTuple):
    """The two rows farthest apart, i < j, and their squared distance."""
    i: int
    j: int
    dist_sq: float


class Assignment(NamedTuple):
    """Each row's nearest centre, as an index into the centre rows given
    (int64; -1 when no distance is a number), and its squared distance."""
    labels: np.ndarray
    dist_sq: np.ndarray


Rows = Union[int, Sequence[int], npt.NDArray[np.integer]]


def _matrix(X):
    if isinstance(X, (list, tuple)):
        return np.array(X, dtype=np.float64)
    return np.asarray(X)


def _whole(v, what):
    if isinstance(v, (bool, np.bool_)):
        raise TypeError(f"error : {what} must be a whole number, not {v!r}")
    try:
        return operator.index(v)
    except TypeError:
        raise TypeError(f"error : {what} must be a whole number, not {type(v).__name__}") from None


def _k(k):
    # Every k beyond the rows means the same (no limit); below 1 the library refuses.
    return None if k is None else max(-1, min(_whole(k, "k"), _INT64_MAX))


# GNU OpenMP cannot start threads again in a process forked from one where
# it has started some: the child would wait for them forever. In such a
# child every call runs on one thread, which gives the same answers.
_teams = {"started": False, "forked_after": False}


def _forked():
    _teams["forked_after"] = _teams["started"]


os.register_at_fork(after_in_child=_forked)


def _threads(threads):
    threads = max(0, min(_whole(threads, "the thread count"), _NO_MORE_THREADS))
    if 1 < threads < _NO_MORE_THREADS:
        if _teams["forked_after"]:
            return 1
        _teams["started"] = True
    return threads


def _radius(radius):
    if radius is None:
        return None
    if not isinstance(radius, numbers.Real) or isinstance(radius, (bool, np.bool_)):
        raise TypeError(f"error : the radius must be a number, not {type(radius).__name__}")
    return float(radius)


def _rows(v, what):
    """Row numbers (an int or a sequence of ints) as an int64 array; numbers
    beyond int64 stand as its bounds, which are no rows of any matrix."""
    if isinstance(v, (bool, np.bool_)):
        raise TypeError(f"error : {what} must be whole numbers, not {v!r}")
    if isinstance(v, (int, np.integer)):
        v = [v]
    a = np.asarray(v)
    if a.size == 0:
        return np.empty(0, dtype=np.int64)
    if a.ndim != 1:
        raise ValueError(f"error : {what} must be a sequence of whole numbers, not a {a.ndim}-dimensional array")
    if a.dtype.kind == "u":
        a = np.minimum(a, _INT64_MAX)
    elif a.dtype == object:
        a = np.array([max(-_INT64_MAX - 1, min(_whole(s, what), _INT64_MAX)) for s in a.tolist()])
    elif a.dtype.kind != "i":
        raise TypeError(f"error : {what} must be whole numbers, not dtype '{a.dtype.str}'")
    return a.astype(np.int64, copy=False)


def _start(start):
    # start=0 is the default: row 0, or no step at all for a matrix of no rows.
    if isinstance(start, (int, np.integer)) and not isinstance(start, (bool, np.bool_)) and start == 0:
        return np.empty(0, dtype=np.int64)
    return _rows(start, "the start rows")


def order(X: npt.ArrayLike, k: Optional[int] = None, *, radius: Optional[float] = None, start: Rows = 0,
          threads: int = 1) -> Order:
    """The farthest-first order of the rows of X (k-center by farthest-first
    traversal): the start rows, then each time the row whose squared distance
    to its nearest earlier step is largest, the lowest row among equals.

    X: a 2-D float64 or float32 array, used where it lies (see the module's
    help for the two cases that are copied). Returns Order(rows, dist_sq,
    stop): rows (int64) and dist_sq (float64) are NumPy arrays; dist_sq[s]
    is step s's squared distance to its nearest earlier step, which is also
    the squared covering radius of steps 0 to s-1; step 0 has +inf.

    - k: at most k steps (1 or more), the start rows included; None: every
      distinct row once (a row lying on an earlier step at distance 0 is
      never given, so the order may be shorter than k).
    - radius: stop as soon as every row lies within this distance (not
      squared; 0 or more, inf allowed) of a step, i.e. the shortest prefix
      after the start rows that covers; each dist_sq is compared with
      radius * radius exactly, unrounded.
    - start: a row or a sequence of rows (a labelled set), the first steps in
      the given order, each checked to be a row and given once; the default
      0 is row 0 (and no step for a matrix of no rows). Step i > 0 of the
      start rows gets its squared distance to the start rows before it.
    - threads: 1 to 4096; the answer does not depend on it.

    A row holding NaN or an infinity is at distance NaN from every row, so
    no step comes nearer to it: it is given once, at its turn, with dist_sq
    1.7976931348623157e308 (the largest double, every row's distance before
    any step), and the order goes on over the other rows; such a row never
    lies within a radius. A matrix of no rows has an empty order.

    Raises ValueError (k below 1, a radius below 0 or NaN, threads outside
    1 to 4096, a start row that is no row or is given twice), TypeError
    (another element type), MemoryError, or KeyboardInterrupt on Ctrl-C.
    """
    rows, dist_sq, stop = _kcenter.order(_matrix(X), _k(k), _radius(radius), _start(start), _threads(threads))
    return Order(rows, dist_sq, stop)


def order_batch(points: Union[npt.ArrayLike, Sequence[npt.ArrayLike]], k: Union[None, int, Sequence[int]], *,
                lengths: Optional[Rows] = None, radius: Optional[float] = None, start: Rows = 0,
                threads: int = 1) -> Batch:
    """The farthest-first orders of a batch of matrices, each exactly its own
    order(item, k_b, radius=radius, start=start).

    points: a (B, P, D) float64 or float32 array, item b its first
    lengths[b] rows (all P when lengths is None), read where it lies; or a
    list or tuple of 2-D arrays of any sizes (ragged) and either type.
    k: one for every item, one per item (a sequence of B), or None (no
    limit; with a radius, say). start applies to every item.

    Returns Batch(rows, dist_sq, counts, stops): rows (int64) and dist_sq
    (float64) of shape (B, W), item b's order in line b, padded past its
    counts[b] steps with -1 in rows and NaN in dist_sq (an item runs out of
    steps when it has fewer distinct rows than k). W is the largest k, but
    no more than the rows of the largest item; with k None, the most steps
    an item made.

    threads (1 to 4096) are shared among the items, or among an item's rows
    when there are fewer items than threads; the answer does not depend on
    them. Ctrl-C is looked for between the steps the calling thread makes.
    Raises ValueError for a k per item that is not one per item, a lengths
    that does not fit, and as order() does, naming the item.
    """
    if isinstance(k, (list, tuple, np.ndarray)):
        ks = [max(-1, min(_whole(v, "k"), _INT64_MAX)) for v in np.asarray(k, dtype=object).ravel().tolist()]
    else:
        ks = [] if k is None else [_k(k)]
    args = (ks, _radius(radius), _start(start), _threads(threads))
    if isinstance(points, (list, tuple)):
        if lengths is not None:
            raise ValueError("error : lengths goes with a (B, P, D) array, not with a list of matrices")
        items = [_matrix(item) for item in points]
        rows, dist_sq, counts, stops = _kcenter.order_batch_list(items, *args)
    else:
        n = None if lengths is None else _rows(lengths, "lengths")
        rows, dist_sq, counts, stops = _kcenter.order_batch_array(_matrix(points), n, *args)
    return Batch(rows, dist_sq, counts, stops)


def pair(X: npt.ArrayLike, *, threads: int = 1) -> Optional[Pair]:
    """The two rows of X farthest apart: Pair(i, j, dist_sq) with i < j, the
    largest squared distance and the lowest (i, j) among equals, a NaN
    distance never counting. When no two rows lie a positive distance apart,
    the first pair at distance 0 (the first two rows of finite coordinates).
    None when there are fewer than two rows or no distance is a number.

    X is read where it lies, as in order(); threads 1 to 4096, the answer
    does not depend on them. Ctrl-C takes effect when the search is done.
    """
    found = _kcenter.pair(_matrix(X), _threads(threads))
    return None if found is None else Pair(*found)


def assign(X: npt.ArrayLike, rows: Rows, *, threads: int = 1) -> Assignment:
    """Each row's nearest centre among the rows `rows` of X (the clusters of
    a k-center answer, e.g. assign(X, order(X, k).rows)).

    Returns Assignment(labels, dist_sq): labels[i] is the index into rows
    (not the row itself) of row i's nearest centre, the lowest index among
    equal distances, a NaN distance never counting; dist_sq[i] is row i's
    squared distance to it (the row the first operand). A row whose distance
    to every centre is NaN (no centres, or NaN in the row or in every
    centre) gets label -1 and dist_sq NaN. Raises ValueError for a centre
    that is no row. X is read where it lies, as in order().
    """
    labels, dist_sq = _kcenter.assign(_matrix(X), _rows(rows, "the centre rows"), _threads(threads))
    return Assignment(labels, dist_sq)
