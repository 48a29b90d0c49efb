// kcenter._kcenter: the library's entry points for Python. Every array is
// checked here once and handed to the engines as a view of its own memory;
// the engines run with the GIL released, and between steps the calling
// thread takes it back now and then to run Python's signal handlers, so that
// Ctrl-C cancels an order. The rules themselves all live in the library.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kcenter/kcenter.hpp"

namespace py = pybind11;

namespace {

using index_array = py::array_t<int64_t, py::array::c_style>;

bool is_float64(const py::dtype& t) { return t.equal(py::dtype::of<double>()); }

// The array itself when the engines can read it where it lies: float64 or
// float32 in the machine's byte order, every stride a whole number of
// elements and the data aligned to one. Such numbers laid out otherwise (a
// view of a packed record, say) are copied into a C-order array of the same
// type; any other element type is refused with the command line's words.
py::array readable(py::array a, const std::string& name, py::ssize_t ndim, const char* what) {
  if (a.ndim() != ndim)
    throw py::value_error("error : " + name + " holds a " + std::to_string(a.ndim()) + "-dimensional array, not " +
                          what);
  const py::dtype t = a.dtype();
  if (!is_float64(t) && !t.equal(py::dtype::of<float>()))
    throw py::type_error("error : " + name + " holds dtype '" + py::str(t.attr("str")).cast<std::string>() +
                         "', not little-endian float64 ('<f8') or float32 ('<f4')");
  const py::ssize_t size = t.itemsize();
  bool in_place = reinterpret_cast<uintptr_t>(a.data()) % static_cast<uintptr_t>(size) == 0;
  for (py::ssize_t d = 0; d < ndim; ++d) in_place = in_place && a.strides(d) % size == 0;
  if (!in_place) a = py::module_::import("numpy").attr("ascontiguousarray")(a);
  return a;
}

// Dimensions first and first + 1 of a readable array as the engines' view.
kcenter::view view_of(const py::array& a, py::ssize_t first) {
  const py::ssize_t size = a.itemsize();
  return kcenter::view{a.data(),
                       a.shape(first),
                       a.shape(first + 1),
                       a.strides(first) / size,
                       a.strides(first + 1) / size,
                       is_float64(a.dtype()) ? kcenter::dtype::float64 : kcenter::dtype::float32};
}

[[noreturn]] void raise(const kcenter::error& e) {
  if (e.code == kcenter::fault::no_memory) {
    PyErr_SetString(PyExc_MemoryError, e.line.c_str());
    throw py::error_already_set();
  }
  throw py::value_error(e.line);
}

// A vector handed to NumPy without a copy: the array owns it.
template <class T>
py::array_t<T> numpy_of(std::vector<T>&& v) {
  auto owned = std::make_unique<std::vector<T>>(std::move(v));
  const std::vector<T>* p = owned.get();
  py::capsule owner(p, [](void* q) { delete static_cast<std::vector<T>*>(q); });
  owned.release();
  return py::array_t<T>({static_cast<py::ssize_t>(p->size())}, p->data(), owner);
}

// Python's signal handlers, run on the calling thread between steps while
// the engines hold no GIL: at most every 50 ms, so a short call never takes
// the GIL back. A handler that raises (Ctrl-C's KeyboardInterrupt) stops the
// order; its exception is kept and raised once the engines have returned.
// Nothing is thrown into the engines.
class signal_watch {
 public:
  bool go_on() noexcept {
    const clock::time_point now = clock::now();
    if (now < next_) return true;
    next_ = now + period;
    try {
      py::gil_scoped_acquire gil;
      if (PyErr_CheckSignals() == 0) return true;
      raised_.emplace();  // takes the exception the handler raised
    } catch (...) {
      // No room to keep the exception: the thread's error indicator holds it.
    }
    stopped_ = true;
    return false;
  }
  void raise_if_stopped() const {
    if (raised_) throw *raised_;
    if (stopped_) throw py::error_already_set();  // whatever Python holds, or a RuntimeError
  }

 private:
  using clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds period{50};
  clock::time_point next_ = clock::now() + period;
  std::optional<py::error_already_set> raised_;
  bool stopped_ = false;
};

std::vector<int64_t> vector_of(const index_array& a) { return std::vector<int64_t>(a.data(), a.data() + a.size()); }

py::tuple order(py::array x, std::optional<int64_t> k, std::optional<double> radius, const index_array& start,
                int32_t threads) {
  x = readable(x, "X", 2, "a matrix (2-dimensional)");
  kcenter::order_options o;
  o.k = k;
  o.radius = radius;
  o.start = vector_of(start);
  o.threads = threads;
  const kcenter::view v = view_of(x, 0);
  signal_watch watch;
  o.between_steps = [&watch](int64_t) { return watch.go_on(); };
  kcenter::order_result out;
  kcenter::error err;
  bool ok = false;
  {
    py::gil_scoped_release free;
    ok = kcenter::order(v, o, &out, &err);
  }
  watch.raise_if_stopped();
  if (!ok) raise(err);
  return py::make_tuple(numpy_of(std::move(out.rows)), numpy_of(std::move(out.dist_sq)),
                        kcenter::stop_name(out.why));
}

// The orders of the items, laid out as a (B, W) table of rows padded with -1
// and distances padded with NaN. W is the largest k, but no more than
// most_rows (no item can make more steps than it has rows); with no k, the
// most steps an item made.
py::tuple order_items(const std::vector<kcenter::view>& items, int64_t most_rows, const std::vector<int64_t>& k,
                      std::optional<double> radius, const index_array& start, int32_t threads) {
  kcenter::batch_options o;
  o.k = k;
  o.radius = radius;
  o.start = vector_of(start);
  o.threads = threads;
  signal_watch watch;
  o.between_steps = [&watch](int64_t) { return watch.go_on(); };
  std::vector<kcenter::order_result> out;
  kcenter::error err;
  bool ok = false;
  {
    py::gil_scoped_release free;
    ok = kcenter::order_batch(items, o, &out, &err);
  }
  watch.raise_if_stopped();
  if (!ok) raise(err);

  const py::ssize_t B = static_cast<py::ssize_t>(items.size());
  int64_t width = 0;
  if (k.empty()) {
    for (const kcenter::order_result& r : out) width = std::max(width, static_cast<int64_t>(r.rows.size()));
  } else {
    width = std::min(*std::max_element(k.begin(), k.end()), most_rows);
  }
  const py::ssize_t W = static_cast<py::ssize_t>(width);
  py::array_t<int64_t> rows({B, W});
  py::array_t<double> dist_sq({B, W});
  py::array_t<int64_t> counts(B);
  py::list stops;
  auto r = rows.mutable_unchecked<2>();
  auto d = dist_sq.mutable_unchecked<2>();
  auto c = counts.mutable_unchecked<1>();
  for (py::ssize_t b = 0; b < B; ++b) {
    const kcenter::order_result& item = out[static_cast<size_t>(b)];
    const py::ssize_t n = static_cast<py::ssize_t>(item.rows.size());
    for (py::ssize_t s = 0; s < W; ++s) {
      r(b, s) = s < n ? item.rows[static_cast<size_t>(s)] : -1;
      d(b, s) = s < n ? item.dist_sq[static_cast<size_t>(s)] : std::nan("");
    }
    c(b) = n;
    stops.append(kcenter::stop_name(item.why));
  }
  return py::make_tuple(rows, dist_sq, counts, py::tuple(stops));
}

// A (B, P, D) array, item b its first lengths[b] rows (all P without
// lengths).
py::tuple order_batch_array(py::array points, const std::optional<index_array>& lengths,
                            const std::vector<int64_t>& k, std::optional<double> radius, const index_array& start,
                            int32_t threads) {
  points = readable(points, "points", 3, "a batch of matrices (3-dimensional)");
  const int64_t B = points.shape(0), P = points.shape(1);
  std::vector<int64_t> n;
  if (lengths) {
    n = vector_of(*lengths);
    if (static_cast<int64_t>(n.size()) != B)
      throw py::value_error("error : a batch of " + std::to_string(B) + " items needs one length per item, not " +
                            std::to_string(n.size()));
    for (size_t b = 0; b < n.size(); ++b)
      if (n[b] < 0 || n[b] > P)
        throw py::value_error("error : the length " + std::to_string(n[b]) + " of item " + std::to_string(b) +
                              " is not a row count from 0 to " + std::to_string(P));
  }
  const kcenter::view v = view_of(points, 1);
  std::vector<kcenter::view> items;
  kcenter::error err;
  if (!kcenter::batch_items(points.data(), v.type, B, P, v.cols, points.strides(0) / points.itemsize(), v.row_stride,
                            v.col_stride, n, &items, &err))
    throw py::value_error(err.line);
  return order_items(items, P, k, radius, start, threads);
}

// A sequence of 2-D arrays, each its own matrix.
py::tuple order_batch_list(const py::list& arrays, const std::vector<int64_t>& k, std::optional<double> radius,
                           const index_array& start, int32_t threads) {
  std::vector<py::array> kept;  // alive until the engines are done
  std::vector<kcenter::view> items;
  int64_t most_rows = 0;
  for (size_t b = 0; b < arrays.size(); ++b) {
    kept.push_back(readable(arrays[b].cast<py::array>(), "points[" + std::to_string(b) + "]", 2,
                            "a matrix (2-dimensional)"));
    items.push_back(view_of(kept.back(), 0));
    most_rows = std::max(most_rows, items.back().rows);
  }
  return order_items(items, most_rows, k, radius, start, threads);
}

py::object pair(py::array x, int32_t threads) {
  x = readable(x, "X", 2, "a matrix (2-dimensional)");
  const kcenter::view v = view_of(x, 0);
  kcenter::pair_result out;
  kcenter::error err;
  bool ok = false;
  {
    py::gil_scoped_release free;
    ok = kcenter::farthest_pair(v, threads, &out, &err);
  }
  if (!ok) raise(err);
  if (!out.found) return py::none();
  return py::make_tuple(out.i, out.j, out.dist_sq);
}

py::tuple assign(py::array x, const index_array& centres, int32_t threads) {
  x = readable(x, "X", 2, "a matrix (2-dimensional)");
  const kcenter::view v = view_of(x, 0);
  const std::vector<int64_t> c = vector_of(centres);
  kcenter::assign_result out;
  kcenter::error err;
  bool ok = false;
  {
    py::gil_scoped_release free;
    ok = kcenter::assign(v, c, threads, &out, &err);
  }
  if (!ok) raise(err);
  return py::make_tuple(numpy_of(std::move(out.label)), numpy_of(std::move(out.dist_sq)));
}

// What the engines are handed for X: its address, shape, strides in
// elements and type (for tests: the array is read where it lies).
py::tuple view_for_tests(py::array x) {
  x = readable(x, "X", 2, "a matrix (2-dimensional)");
  const kcenter::view v = view_of(x, 0);
  return py::make_tuple(reinterpret_cast<uintptr_t>(v.data), v.rows, v.cols, v.row_stride, v.col_stride,
                        v.type == kcenter::dtype::float64 ? "float64" : "float32");
}

}  // namespace

PYBIND11_MODULE(_kcenter, m) {
  m.doc() = "The exact farthest-first order, farthest pair and nearest centres (import kcenter instead).";
  m.attr("version") = py::make_tuple(kcenter::version_major, kcenter::version_minor);
  const auto in = py::arg("start"), th = py::arg("threads");
  m.def("order", &order, py::arg("X"), py::arg("k"), py::arg("radius"), in, th,
        "(rows, dist_sq, stop) of X's farthest-first order.");
  m.def("order_batch_array", &order_batch_array, py::arg("points"), py::arg("lengths"), py::arg("k"),
        py::arg("radius"), in, th, "(rows, dist_sq, counts, stops) of the items of a (B, P, D) array.");
  m.def("order_batch_list", &order_batch_list, py::arg("arrays"), py::arg("k"), py::arg("radius"), in, th,
        "(rows, dist_sq, counts, stops) of a list of matrices.");
  m.def("pair", &pair, py::arg("X"), th, "(i, j, dist_sq) of X's farthest pair, or None.");
  m.def("assign", &assign, py::arg("X"), py::arg("centres"), th, "(labels, dist_sq) of X's rows.");
  m.def("_view", &view_for_tests, py::arg("X"));
}
