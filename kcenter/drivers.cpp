// kcenter's drivers over the shared engines: the farthest-first order and
// the farthest pair, and the run of a command from loaded matrix to output.
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

#include "choice.hpp"
#include "kcenter/kcenter.hpp"
#include "kcenter_io.hpp"

namespace {

kcenter::view view_of(const row_source* X) {
  return kcenter::view{X->data, X->rows, X->cols, X->row_stride, X->col_stride,
                       X->type == elem_type::f32 ? kcenter::dtype::float32 : kcenter::dtype::float64};
}

}  // namespace

std::vector<int32_t> kcenter_start_rows(const kcenter_args* a, int32_t rows) {
  if (!a->start.empty()) return a->start;
  if (rows > 0) return {0};
  return {};
}

int32_t kcenter_start_beyond(const std::vector<int32_t>& start, int32_t rows) {
  for (int32_t s : start)
    if (s >= rows) return s;
  return -1;
}

order_rules kcenter_rules(const kcenter_args* a, const std::vector<int32_t>& start) {
  return order_rules{a->k, a->has_radius, a->radius, start.data(), static_cast<int64_t>(start.size()), false};
}

namespace {

kcenter::order_options options_of(const row_source* A, const kcenter_args* a) {
  kcenter::order_options o;
  if (a->k > 0) o.k = a->k;
  if (a->has_radius) o.radius = a->radius;
  for (int32_t s : kcenter_start_rows(a, A->rows)) o.start.push_back(s);
  o.threads = a->threads;
  return o;
}

}  // namespace

kcenter_end kcenter_order(const row_source* A, const kcenter_args* a, kcenter_emit emit, void* ctx) {
  const kcenter::order_options o = options_of(A, a);
  bool emitted = true;
  const kcenter::step_fn each = [&](int64_t step, int64_t row, double d) {
    emitted = emit(ctx, step, static_cast<int32_t>(row), d);
    return emitted;
  };
  kcenter::error err;
  if (!kcenter::order_each(view_of(A), o, each, nullptr, &err)) return kcenter_end::no_memory;
  return emitted ? kcenter_end::done : kcenter_end::emit_failed;
}

bool kcenter_assign(const row_source* A, const kcenter_args* a,
                    bool (*each)(void* ctx, int32_t row, int64_t centre, double dist_sq), void* ctx,
                    bool* wrote) {
  *wrote = true;
  kcenter::order_result order;
  kcenter::assign_result near;
  kcenter::error err;
  if (!kcenter::order(view_of(A), options_of(A, a), &order, &err) ||
      !kcenter::assign(view_of(A), order.rows, a->threads, &near, &err))
    return false;
  for (int32_t i = 0; i < A->rows; ++i) {
    const int64_t label = near.label[static_cast<size_t>(i)];
    if (!each(ctx, i, label < 0 ? -1 : order.rows[static_cast<size_t>(label)], near.dist_sq[static_cast<size_t>(i)])) {
      *wrote = false;
      return false;
    }
  }
  return true;
}

farthest kcenter_pair(const row_source* A, int32_t threads) {
  kcenter::pair_result p;
  kcenter::error err;
  if (!kcenter::farthest_pair(view_of(A), threads, &p, &err)) return farthest{0.0, -2, -2, 0};
  if (!p.found) return no_pair;
  return farthest{p.dist_sq, static_cast<int32_t>(p.i), static_cast<int32_t>(p.j), 0};
}

static bool emit_to_sink(void* ctx, int64_t step, int32_t row, double dist_sq) {
  return kcenter_sink_step(static_cast<kcenter_sink*>(ctx), step, row, dist_sq);
}

static bool assign_to_sink(void* ctx, int32_t row, int64_t centre, double dist_sq) {
  return kcenter_sink_assign(static_cast<kcenter_sink*>(ctx), row, centre, dist_sq);
}

bool kcenter_run(const kcenter_args* a, const row_source* A, kcenter_error* err) {
  const bool order = a->command != kcenter_command::pair;
  const int32_t beyond = order ? kcenter_start_beyond(a->start, A->rows) : -1;
  if (beyond >= 0) {
    *err = kcenter_error{kcenter_fault::start_beyond_rows, "", "", beyond, A->rows};
    return false;
  }
  kcenter_sink s;
  if (!kcenter_sink_open(&s, a, err)) return false;
  const char* no_pair_line = nullptr;
  if (a->command == kcenter_command::assign) {
    // A failed write is reported when the output is closed.
    bool wrote = true;
    if (!kcenter_assign(A, a, assign_to_sink, &s, &wrote) && wrote) {
      kcenter_sink_abandon(&s);
      *err = kcenter_error{kcenter_fault::no_memory_search, "", "", A->rows, A->cols};
      return false;
    }
  } else if (order) {
    if (kcenter_order(A, a, emit_to_sink, &s) == kcenter_end::no_memory) {
      kcenter_sink_abandon(&s);
      *err = kcenter_error{kcenter_fault::no_memory_search, "", "", A->rows, A->cols};
      return false;
    }
  } else {
    const farthest f = kcenter_pair(A, a->threads);
    if (f.i == -2) {
      kcenter_sink_abandon(&s);
      *err = kcenter_error{kcenter_fault::no_memory_search, "", "", A->rows, A->cols};
      return false;
    }
    if (f.i >= 0) kcenter_sink_pair(&s, f.i, f.j, f.dist_sq);
    else if (A->rows < 2) no_pair_line = "no pair : fewer than two rows";
    else no_pair_line = "no pair : no distance between two rows is a number";
  }
  if (!kcenter_sink_close(&s, err)) return false;
  if (no_pair_line != nullptr) std::printf("%s\n", no_pair_line);
  return true;
}
