// The public entry points: a caller's view checked and turned into the
// rows the engines read, the order's rules handed to the one farthest-first
// loop, and the answers collected.
#include "kcenter/kcenter.hpp"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <string>

#include "api_internal.hpp"
#include "order.hpp"
#include "pair_search.hpp"
#include "threads.hpp"
#include "work.hpp"

namespace kcenter {

view c_order(const double* data, int64_t rows, int64_t cols) {
  return view{data, rows, cols, cols, 1, dtype::float64};
}
view c_order(const float* data, int64_t rows, int64_t cols) {
  return view{data, rows, cols, cols, 1, dtype::float32};
}
view fortran_order(const double* data, int64_t rows, int64_t cols) {
  return view{data, rows, cols, 1, rows, dtype::float64};
}
view fortran_order(const float* data, int64_t rows, int64_t cols) {
  return view{data, rows, cols, 1, rows, dtype::float32};
}

const char* stop_name(stop why) {
  switch (why) {
    case stop::covered: return "covered";
    case stop::k_steps: return "k";
    case stop::radius: return "radius";
    default: return "cancelled";
  }
}

namespace {

bool fail(error* err, fault code, std::string line) {
  if (err != nullptr) *err = error{code, std::move(line)};
  return false;
}

std::string str(int64_t v) { return std::to_string(v); }

bool no_memory(error* err, const rows_input& in) {
  return fail(err, fault::no_memory,
              "error : not enough memory to search a " + str(in.rows.rows) + " x " + str(in.rows.cols) + " matrix");
}

// Thread counts known to start: the OpenMP runtime keeps its threads
// between regions, so a count that started once starts again.
std::atomic<int32_t> threads_known{1};

bool check_threads(int32_t threads, error* err) {
  if (threads < 1 || threads > max_threads)
    return fail(err, fault::bad_threads, "error : the thread count must be a whole number from 1 to 4096");
  if (threads <= threads_known.load(std::memory_order_relaxed)) return true;
  if (!threads_can_start(threads))
    return fail(err, fault::threads_unavailable, "error : the system cannot start " + str(threads) + " threads");
  int32_t known = threads_known.load(std::memory_order_relaxed);
  while (known < threads && !threads_known.compare_exchange_weak(known, threads)) {
  }
  return true;
}

bool check_k(int64_t k, error* err) {
  if (k < 1) return fail(err, fault::bad_k, "error : k must be a whole number from 1 to 2147483647");
  return true;
}

bool check_radius(const std::optional<double>& r, error* err) {
  if (r && !(*r >= 0.0))
    return fail(err, fault::bad_radius, "error : the radius must be a number from 0 up (inf allowed)");
  return true;
}

// The start rows as the loop takes them: row 0 when none are given (and
// the matrix has rows), each checked to be a row and given once.
bool check_start(const std::vector<int64_t>& start, int32_t rows, std::vector<int32_t>* out, error* err) {
  out->clear();
  if (start.empty()) {
    if (rows > 0) out->push_back(0);
    return true;
  }
  for (int64_t s : start) {
    if (s < 0 || s >= rows)
      return fail(err, fault::start_out_of_range,
                  "error : the start row " + str(s) + " is not a row of a matrix of " + str(rows) + " rows");
    out->push_back(static_cast<int32_t>(s));
  }
  std::vector<int32_t> sorted(*out);
  std::sort(sorted.begin(), sorted.end());
  const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end())
    return fail(err, fault::start_repeated, "error : the start row " + str(*twice) + " is given twice");
  return true;
}

// One order over checked input, steps to `each`.
struct order_run_ctx {
  const step_fn* each;
  const std::function<bool(int64_t)>* between;
  const std::atomic<bool>* cancel;  // set by another thread (batches), or null
};

bool run_step(void* ctx, int64_t step, int32_t row, double dist_sq) {
  const order_run_ctx* c = static_cast<const order_run_ctx*>(ctx);
  if (c->cancel != nullptr && c->cancel->load(std::memory_order_relaxed)) return false;
  if (*c->each && !(*c->each)(step, row, dist_sq)) return false;
  if (c->between != nullptr && *c->between && !(*c->between)(step + 1)) return false;
  return true;
}

stop stop_of(order_end e) {
  switch (e) {
    case order_end::k_steps: return stop::k_steps;
    case order_end::radius: return stop::radius;
    case order_end::cancelled: return stop::cancelled;
    default: return stop::covered;
  }
}

bool run_order(const rows_input& in, int64_t k, const std::optional<double>& radius,
               const std::vector<int32_t>& start, int32_t threads, order_run_ctx* ctx, stop* why, error* err) {
  order_local local{&in.rows, threads, nullptr, nullptr};
  const order_folder by = order_local_folder(&local);
  const order_rules rules{k, radius.has_value(), radius.value_or(0.0), start.data(),
                          static_cast<int64_t>(start.size()), false};
  const order_end end = order_run(&by, &rules, run_step, ctx);
  if (end == order_end::no_memory) return no_memory(err, in);
  *why = stop_of(end);
  return true;
}

}  // namespace

bool order_each(const view& x, const order_options& options, const step_fn& each, stop* why, error* err) {
  try {
    rows_input in;
    std::vector<int32_t> start;
    if (!rows_open(x, &in, err) || !check_threads(options.threads, err) || (options.k && !check_k(*options.k, err)) ||
        !check_radius(options.radius, err) || !check_start(options.start, in.rows.rows, &start, err))
      return false;
    order_run_ctx ctx{&each, &options.between_steps, nullptr};
    stop s = stop::covered;
    if (!run_order(in, options.k.value_or(-1), options.radius, start, options.threads, &ctx, &s, err)) return false;
    if (why != nullptr) *why = s;
    return true;
  } catch (const std::bad_alloc&) {
    return fail(err, fault::no_memory, "error : not enough memory to search the matrix");
  }
}

bool order(const view& x, const order_options& options, order_result* out, error* err) {
  try {
    out->rows.clear();
    out->dist_sq.clear();
    if (options.k && *options.k > 0 && *options.k <= x.rows) {
      out->rows.reserve(static_cast<size_t>(*options.k));
      out->dist_sq.reserve(static_cast<size_t>(*options.k));
    }
    const step_fn keep = [out](int64_t, int64_t row, double d) {
      out->rows.push_back(row);
      out->dist_sq.push_back(d);
      return true;
    };
    return order_each(x, options, keep, &out->why, err);
  } catch (const std::bad_alloc&) {
    return fail(err, fault::no_memory, "error : not enough memory to search the matrix");
  }
}

bool batch_items(const void* data, dtype type, int64_t items, int64_t rows, int64_t cols, int64_t item_stride,
                 int64_t row_stride, int64_t col_stride, const std::vector<int64_t>& lengths, std::vector<view>* out,
                 error* err) {
  try {
    out->clear();
    if (items < 0) return fail(err, fault::bad_view, "error : a batch needs no negative item count, not " + str(items));
    if (!lengths.empty() && static_cast<int64_t>(lengths.size()) != items)
      return fail(err, fault::bad_batch,
                  "error : a batch of " + str(items) + " items needs one length per item, not " +
                      str(static_cast<int64_t>(lengths.size())));
    const int64_t size = type == dtype::float32 ? 4 : 8;
    for (int64_t b = 0; b < items; ++b) {
      const int64_t n = lengths.empty() ? rows : lengths[static_cast<size_t>(b)];
      if (n < 0 || n > rows)
        return fail(err, fault::bad_batch,
                    "error : the length " + str(n) + " of item " + str(b) + " is not a row count from 0 to " +
                        str(rows));
      const char* at = static_cast<const char*>(data) + b * item_stride * size;
      out->push_back(view{at, n, cols, row_stride, col_stride, type});
    }
    return true;
  } catch (const std::bad_alloc&) {
    return fail(err, fault::no_memory, "error : not enough memory to order the batch");
  }
}

bool order_batch(const std::vector<view>& items, const batch_options& options, std::vector<order_result>* out,
                 error* err) {
  try {
    const size_t B = items.size();
    out->assign(B, order_result{});
    if (!check_threads(options.threads, err) || !check_radius(options.radius, err)) return false;
    if (options.k.size() > 1 && options.k.size() != B)
      return fail(err, fault::bad_batch,
                  "error : a batch of " + str(static_cast<int64_t>(B)) + " items needs one k or one per item, not " +
                      str(static_cast<int64_t>(options.k.size())));
    for (int64_t k : options.k)
      if (!check_k(k, err)) return false;
    // Every item checked before any is ordered.
    std::vector<rows_input> in(B);
    std::vector<std::vector<int32_t>> start(B);
    for (size_t b = 0; b < B; ++b) {
      error e;
      if (!rows_open(items[b], &in[b], &e) || !check_start(options.start, in[b].rows.rows, &start[b], &e))
        return fail(err, e.code, e.line + " (item " + str(static_cast<int64_t>(b)) + ")");
    }
    auto k_of = [&](size_t b) -> int64_t {
      return options.k.empty() ? -1 : options.k[options.k.size() == 1 ? 0 : b];
    };
    std::atomic<bool> cancel{false}, short_of_memory{false};
    std::atomic<int64_t> done{0};
    const std::function<bool(int64_t)>& between = options.between_steps;
    // The caller's thread asks the callback between its own steps; the
    // other threads only look at the answer.
    const std::function<bool(int64_t)> ask = [&](int64_t) {
      if (between && !between(done.load(std::memory_order_relaxed))) cancel.store(true);
      return !cancel.load(std::memory_order_relaxed);
    };
    auto one = [&](size_t b, int32_t threads, bool asks) {
      order_result& r = (*out)[b];
      const step_fn keep = [&r](int64_t, int64_t row, double d) {
        r.rows.push_back(row);
        r.dist_sq.push_back(d);
        return true;
      };
      order_run_ctx ctx{&keep, asks ? &ask : nullptr, &cancel};
      error e;
      if (!run_order(in[b], k_of(b), options.radius, start[b], threads, &ctx, &r.why, &e))
        short_of_memory.store(true);
      done.fetch_add(1);
    };
    const int32_t T = options.threads;
    if (B >= static_cast<size_t>(T) || T == 1) {
      const int64_t n = static_cast<int64_t>(B);
#pragma omp parallel for num_threads(T) schedule(dynamic, 1)
      for (int64_t b = 0; b < n; ++b) {
        try {
          one(static_cast<size_t>(b), 1, omp_get_thread_num() == 0);
        } catch (const std::bad_alloc&) {
          short_of_memory.store(true);
        }
      }
    } else {
      for (size_t b = 0; b < B; ++b) one(b, T, true);
    }
    if (short_of_memory.load()) return fail(err, fault::no_memory, "error : not enough memory to order the batch");
    return true;
  } catch (const std::bad_alloc&) {
    return fail(err, fault::no_memory, "error : not enough memory to order the batch");
  }
}

bool farthest_pair(const view& x, int32_t threads, pair_result* out, error* err) {
  try {
    *out = pair_result{};
    rows_input in;
    if (!rows_open(x, &in, err) || !check_threads(threads, err)) return false;
    const row_source& X = in.rows;
    if (X.rows < 2) return true;
    if (X.cols > 0) {
      const farthest f = pair_pruned(&in, threads);
      if (f.i == -2) return no_memory(err, in);
      if (f.i >= 0) {
        *out = pair_result{true, f.i, f.j, f.dist_sq};
        return true;
      }
    }
    // No pair lies a positive distance apart. Two rows of finite coordinates
    // then lie at distance 0 (any other distance between them would have
    // been found), and a pair with NaN or an infinity in a row is at
    // distance NaN, so the first pair at distance 0 is the first two finite
    // rows.
    int64_t first = -1;
    for (int32_t i = 0; i < X.rows; ++i) {
      bool finite = true;
      for (int32_t j = 0; j < X.cols && finite; ++j) finite = std::isfinite(rows_at(&X, i, j));
      if (!finite) continue;
      if (first < 0) {
        first = i;
      } else {
        *out = pair_result{true, first, i, 0.0};
        break;
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return fail(err, fault::no_memory, "error : not enough memory to search the matrix");
  }
}

bool assign(const view& x, const std::vector<int64_t>& centres, int32_t threads, assign_result* out, error* err) {
  try {
    rows_input in;
    if (!rows_open(x, &in, err) || !check_threads(threads, err)) return false;
    const int32_t rows = in.rows.rows;
    for (int64_t c : centres)
      if (c < 0 || c >= rows)
        return fail(err, fault::centre_out_of_range,
                    "error : the centre row " + str(c) + " is not a row of a matrix of " + str(rows) + " rows");
    out->label.assign(static_cast<size_t>(rows), -1);
    out->dist_sq.assign(static_cast<size_t>(rows), std::nan(""));
    if (!assign_rows(&in, centres, threads, out->label.data(), out->dist_sq.data())) return no_memory(err, in);
    return true;
  } catch (const std::bad_alloc&) {
    return fail(err, fault::no_memory, "error : not enough memory to search the matrix");
  }
}

}  // namespace kcenter
