// The references, and the one place that picks a kernel table by level and
// element type.
#include "kernels.hpp"

#include "distance.hpp"
#include "table.hpp"

namespace {

const kernel_table& table(simd_level level) {
  switch (level) {
    case simd_level::avx512:
      return kernels_avx512;
    case simd_level::avx2:
      return kernels_avx2;
    default:
      return kernels_plain;
  }
}

// Calls f with the copy's coordinates typed as they are held.
template <class F>
decltype(auto) visit(const void* x, elem_type type, F&& f) {
  if (type == elem_type::f32) return f(static_cast<const float*>(x));
  return f(static_cast<const double*>(x));
}

// Row p of X against point c, the row first, from coordinate 0 up, each
// coordinate widened to double.
template <class T>
double dist_sq(const by_coord* X, const T* x, int64_t p, const double* c) {
  double sum = 0.0;
  for (int32_t j = 0; j < X->cols; ++j) {
    const double diff = static_cast<double>(x[j * X->stride + p]) - c[j];
    sum = diff * diff + sum;
  }
  return sum;
}

}  // namespace

farthest_row fold_nearest(simd_level level, const by_coord* X, int64_t from, int64_t to,
                          const double* c, double* near) {
  const kernel_table& k = table(level);
  return (X->type == elem_type::f32 ? k.f32.fold_nearest : k.f64.fold_nearest)(X, from, to, c, near);
}

farthest_row fold_nearest_ref(const by_coord* X, int64_t from, int64_t to, const double* c,
                              double* near) {
  return visit(X->x, X->type, [&](auto* x) {
    farthest_row best{0.0, -1};
    for (int64_t p = from; p < to; ++p) {
      const double d = dist_sq(X, x, p, c);
      if (near[p] > d) near[p] = d;
      if (near[p] > best.dist) best = farthest_row{near[p], p};
    }
    return best;
  });
}

int64_t boxes_within(simd_level level, const by_coord* lo, const by_coord* hi, int64_t from,
                     int64_t to, const double* c, const double* limit, int32_t* visit) {
  return table(level).boxes_within(lo, hi, from, to, c, limit, visit);
}

int64_t boxes_within_ref(const by_coord* lo, const by_coord* hi, int64_t from, int64_t to,
                         const double* c, const double* limit, int32_t* visit) {
  const double* lx = by_coord_doubles(lo);
  const double* hx = by_coord_doubles(hi);
  int64_t n = 0;
  for (int64_t b = from; b < to; ++b) {
    double sum = 0.0;
    for (int32_t j = 0; j < lo->cols; ++j) {
      const double l = lx[j * lo->stride + b], h = hx[j * hi->stride + b];
      const double g = c[j] < l ? l - c[j] : c[j] > h ? h - c[j] : 0.0;
      sum = g * g + sum;
    }
    if (sum < limit[b]) visit[n++] = static_cast<int32_t>(b);
  }
  return n;
}

void tiles_dist_sq(simd_level level, const by_tile* X, int64_t first, int64_t count,
                   const double* c, double* out) {
  const kernel_table& k = table(level);
  (X->type == elem_type::f32 ? k.f32.tiles_dist_sq : k.f64.tiles_dist_sq)(X, first, count, c, out);
}

void tiles_dist_sq_ref(const by_tile* X, int64_t first, int64_t count, const double* c,
                       double* out) {
  const int32_t d = X->cols;
  visit(X->x, X->type, [&](auto* x) {
    for (int64_t t = 0; t < count; ++t) {
      const auto* tile = x + (first + t) * d * by_tile_rows;
      for (int32_t lane = 0; lane < by_tile_rows; ++lane) {
        double sum = 0.0;
        for (int32_t j = 0; j < d; ++j) {
          const double diff = static_cast<double>(tile[j * by_tile_rows + lane]) - c[j];
          sum = diff * diff + sum;
        }
        out[t * by_tile_rows + lane] = sum;
      }
    }
  });
}

void tiles_project(simd_level level, const by_tile* X, int64_t first, int64_t count,
                   const double* Q, int32_t q, const double* mu, by_tile* Y) {
  const kernel_table& k = table(level);
  (X->type == elem_type::f32 ? k.f32.tiles_project : k.f64.tiles_project)(X, first, count, Q, q, mu, Y);
}

void tiles_project_ref(const by_tile* X, int64_t first, int64_t count, const double* Q, int32_t q,
                       const double* mu, by_tile* Y) {
  const int32_t d = X->cols;
  visit(X->x, X->type, [&](auto* x) {
    for (int64_t t = first; t < first + count; ++t) {
      const auto* tile = x + t * d * by_tile_rows;
      float* y = static_cast<float*>(Y->x) + t * q * by_tile_rows;
      for (int32_t lane = 0; lane < by_tile_rows; ++lane)
        for (int32_t i = 0; i < q; ++i) {
          double sum = 0.0;
          for (int32_t j = 0; j < d; ++j) {
            const double diff = static_cast<double>(tile[j * by_tile_rows + lane]) - mu[j];
            sum = Q[int64_t{i} * d + j] * diff + sum;
          }
          y[i * by_tile_rows + lane] = static_cast<float>(sum);
        }
    }
  });
}

void rows_dist_sq(simd_level level, const row_source* X, const int32_t* rows, int64_t count,
                  const double* c, double* out) {
  const kernel_table& k = table(level);
  if (X->type == elem_type::f32)
    k.f32.rows_dist_sq(static_cast<const float*>(X->data), X->row_stride, X->cols, rows, count, c, out);
  else
    k.f64.rows_dist_sq(static_cast<const double*>(X->data), X->row_stride, X->cols, rows, count, c, out);
}

void rows_dist_sq_ref(const row_source* X, const int32_t* rows, int64_t count, const double* c,
                      double* out) {
  for (int64_t t = 0; t < count; ++t) {
    double sum = 0.0;
    for (int32_t j = 0; j < X->cols; ++j) {
      const double diff = rows_at(X, rows[t], j) - c[j];
      sum = diff * diff + sum;
    }
    out[t] = sum;
  }
}

void pair_block_most(simd_level level, const by_coord* X, const double* const c[], int64_t j0,
                     int64_t j1, double most[]) {
  const kernel_table& k = table(level);
  (X->type == elem_type::f32 ? k.f32.pair_block_most : k.f64.pair_block_most)(X, c, j0, j1, most);
}

void pair_block_most_ref(const by_coord* X, const double* const c[], int64_t j0, int64_t j1,
                         double most[]) {
  visit(X->x, X->type, [&](auto* x) {
    for (int32_t r = 0; r < pair_block_rows; ++r) {
      most[r] = 0.0;
      for (int64_t j = j0; j < j1; ++j) {
        const double d = dist_sq(X, x, j, c[r]);
        if (d > most[r]) most[r] = d;
      }
    }
  });
}

int64_t pair_first_at(simd_level level, const by_coord* X, const double* c, int64_t j0, int64_t j1,
                      double dist) {
  const kernel_table& k = table(level);
  return (X->type == elem_type::f32 ? k.f32.pair_first_at : k.f64.pair_first_at)(X, c, j0, j1, dist);
}

int64_t pair_first_at_ref(const by_coord* X, const double* c, int64_t j0, int64_t j1, double dist) {
  return visit(X->x, X->type, [&](auto* x) -> int64_t {
    for (int64_t j = j0; j < j1; ++j)
      if (dist_sq(X, x, j, c) == dist) return j;
    return -1;
  });
}

void pair_box_far(simd_level level, const by_coord* X, int64_t from, int64_t to, const double* lo,
                  const double* hi, double far[]) {
  const kernel_table& k = table(level);
  (X->type == elem_type::f32 ? k.f32.pair_box_far : k.f64.pair_box_far)(X, from, to, lo, hi, far);
}

void pair_box_far_ref(const by_coord* X, int64_t from, int64_t to, const double* lo,
                      const double* hi, double far[]) {
  visit(X->x, X->type, [&](auto* xs) {
    for (int64_t p = from; p < to; ++p) {
      double sum = 0.0;
      for (int32_t j = 0; j < X->cols; ++j) {
        const double x = static_cast<double>(xs[j * X->stride + p]);
        const double below = x - lo[j], above = hi[j] - x;
        const double g = below > above ? below : above;
        sum = g * g + sum;
      }
      far[p - from] = sum;
    }
  });
}

double cover_cost(simd_level level, const by_coord* P, const double* points,
                  const int32_t* centres, int32_t k, double stop) {
  return table(level).cover_cost(P, points, centres, k, stop);
}

double cover_cost_ref(const by_coord* P, const double* points, const int32_t* centres, int32_t k,
                      double stop) {
  const double* x = by_coord_doubles(P);
  double cost = 0.0;
  for (int64_t p = 0; p < P->rows; ++p) {
    double best = no_distance;
    for (int32_t j = 0; j < k; ++j) {
      const double d = dist_sq(P, x, p, points + int64_t{centres[j]} * P->cols);
      best = d < best ? d : best;
    }
    cost = best > cost ? best : cost;
    if (cost >= stop) break;
  }
  return cost;
}
