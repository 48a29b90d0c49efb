// The one body of each kernel, written over a lane type L (lanes.hpp) and,
// for the kernels that read a copy of the rows, over the copy's element
// type T (double, or float widened in the register as it is loaded): whole
// vectors first, then the remaining positions through the same body at
// width 1. Included by one source per instruction set, which builds its
// kernel_table from these with its own lane type.
//
// Each lane holds one row (or box) and sums its squares from coordinate 0
// up, multiply and add apart, so lane results equal the references' bit for
// bit; the notes at each body say what keeps the order of results exact.
#pragma once

#include <cstddef>

#include "distance.hpp"
#include "kernels.hpp"
#include "lanes.hpp"
#include "table.hpp"

namespace {

// The number of coordinates as a compile-time constant D, or 0 for "read it
// at run time": small dimensions unrolled, where loop overhead would show.
template <int D>
struct dims {
  static constexpr int value = D;
};
template <class F>
decltype(auto) with_dims(int32_t d, F&& f) {
  switch (d) {
    case 1:
      return f(dims<1>{});
    case 2:
      return f(dims<2>{});
    case 3:
      return f(dims<3>{});
    case 4:
      return f(dims<4>{});
    default:
      return f(dims<0>{});
  }
}

// ---- fold: U vectors of rows per step ----------------------------------------
//
// Each lane keeps its own farthest position with a strict, ordered test, so
// it keeps the earliest of equal rows; the lanes are then merged by distance
// and lowest position into *best, which holds the farthest of the earlier
// positions (a later position must be strictly farther to replace it).
template <class L, class T, int D, int U>
int64_t fold_steps(const by_coord* X, int64_t from, int64_t to, const double* c, double* near,
                   farthest_row* best) {
  using reg = typename L::reg;
  constexpr int W = L::width;
  const int32_t d = D > 0 ? D : X->cols;
  const int64_t s = X->stride;
  const T* x = static_cast<const T*>(X->x);
  const reg zero = L::set1(0.0);
  reg top[std::size_t{U}], at[std::size_t{U}];
  for (int u = 0; u < U; ++u) {
    top[u] = zero;
    at[u] = L::set1(-1.0);
  }
  int64_t p = from;
  for (; p + U * W <= to; p += U * W) {
    reg sum[std::size_t{U}];
    for (int u = 0; u < U; ++u) sum[u] = zero;
    for (int32_t j = 0; j < d; ++j) {
      const reg cj = L::set1(c[j]);
      for (int u = 0; u < U; ++u) {
        const reg diff = L::sub(L::load(x + j * s + p + u * W), cj);
        sum[u] = L::add(L::mul(diff, diff), sum[u]);
      }
    }
    for (int u = 0; u < U; ++u) {
      reg n = L::load(near + p + u * W);
      n = L::select(L::gt(n, sum[u]), sum[u], n);
      L::store(near + p + u * W, n);
      const auto far = L::gt(n, top[u]);
      top[u] = L::select(far, n, top[u]);
      at[u] = L::select(far, L::positions(static_cast<double>(p + u * W)), at[u]);
    }
  }
  // Positions travel as doubles: exact below 2^53.
  double dist[std::size_t{U * W}], pos[std::size_t{U * W}];
  for (int u = 0; u < U; ++u) {
    L::store(dist + u * W, top[u]);
    L::store(pos + u * W, at[u]);
  }
  for (int l = 0; l < U * W; ++l) {
    const int64_t q = static_cast<int64_t>(pos[l]);
    if (q < 0) continue;
    if (dist[l] > best->dist || (dist[l] == best->dist && (best->pos < 0 || q < best->pos)))
      *best = farthest_row{dist[l], q};
  }
  return p;
}

template <class L, class T, int D>
farthest_row fold_body(const by_coord* X, int64_t from, int64_t to, const double* c,
                       double* near) {
  farthest_row best{0.0, -1};
  const int64_t p = fold_steps<L, T, D, L::width == 1 ? 1 : 2>(X, from, to, c, near, &best);
  if (p < to) fold_steps<lanes_plain, T, D, 1>(X, p, to, c, near, &best);
  return best;
}

template <class L, class T>
farthest_row fold_nearest(const by_coord* X, int64_t from, int64_t to, const double* c,
                          double* near) {
  return with_dims(X->cols, [&](auto D) { return fold_body<L, T, D.value>(X, from, to, c, near); });
}

// ---- boxes: one vector of boxes per step --------------------------------------

template <class L, int D>
int64_t boxes_steps(const by_coord* lo, const by_coord* hi, int64_t from, int64_t to,
                    const double* c, const double* limit, int32_t* visit, int64_t* found) {
  using reg = typename L::reg;
  constexpr int W = L::width;
  const int32_t d = D > 0 ? D : lo->cols;
  const int64_t s = lo->stride;
  const double* lx = by_coord_doubles(lo);
  const double* hx = by_coord_doubles(hi);
  const reg zero = L::set1(0.0);
  int64_t b = from, n = *found;
  for (; b + W <= to; b += W) {
    reg sum = zero;
    for (int32_t j = 0; j < d; ++j) {
      const reg cj = L::set1(c[j]);
      const reg l = L::load(lx + j * s + b), h = L::load(hx + j * s + b);
      reg g = L::select(L::lt(cj, l), L::sub(l, cj), zero);
      g = L::select(L::gt(cj, h), L::sub(h, cj), g);
      sum = L::add(L::mul(g, g), sum);
    }
    // Lowest lane first: the boxes come out in increasing order.
    for (unsigned m = L::bits(L::lt(sum, L::load(limit + b))); m != 0; m &= m - 1)
      visit[n++] = static_cast<int32_t>(b + __builtin_ctz(m));
  }
  *found = n;
  return b;
}

template <class L>
int64_t boxes_within(const by_coord* lo, const by_coord* hi, int64_t from, int64_t to,
                     const double* c, const double* limit, int32_t* visit) {
  return with_dims(lo->cols, [&](auto D) {
    int64_t found = 0;
    const int64_t b = boxes_steps<L, D.value>(lo, hi, from, to, c, limit, visit, &found);
    if (b < to) boxes_steps<lanes_plain, D.value>(lo, hi, b, to, c, limit, visit, &found);
    return found;
  });
}

// ---- tiles: one tile of by_tile_rows rows per step -------------------------------
//
// A tile is by_tile_rows / width vectors a coordinate; its rows stream from
// one run of memory, which measured faster than interleaving tiles.
template <class L, class T>
void tiles_dist_sq(const by_tile* X, int64_t first, int64_t count, const double* c,
                   double* out) {
  using reg = typename L::reg;
  constexpr int W = L::width, U = by_tile_rows / W;
  static_assert(U * W == by_tile_rows);
  const int32_t d = X->cols;
  const int64_t size = int64_t{d} * by_tile_rows;
  constexpr int32_t line = 64 / (by_tile_rows * static_cast<int32_t>(sizeof(T)));  // coordinates a line
  for (int64_t t = 0; t < count; ++t) {
    const T* b = static_cast<const T*>(X->x) + (first + t) * size;
    const T* ahead = first + t + 4 < X->tiles ? b + 4 * size : b;
    reg sum[std::size_t{U}];
    for (int u = 0; u < U; ++u) sum[u] = L::set1(0.0);
    for (int32_t j = 0; j < d; ++j) {
      // The tile four ahead asked for, a line at a time (measured 8 %
      // faster on float tiles of 64 coordinates).
      if (j % line == 0) __builtin_prefetch(ahead + j * by_tile_rows);
      const reg cj = L::set1(c[j]);
      for (int u = 0; u < U; ++u) {
        const reg diff = L::sub(L::load(b + j * by_tile_rows + u * W), cj);
        sum[u] = L::add(L::mul(diff, diff), sum[u]);
      }
    }
    for (int u = 0; u < U; ++u) L::store(out + t * by_tile_rows + u * W, sum[u]);
  }
}

// ---- projections: a tile's rows against 4 rows of Q per pass --------------------
//
// Each lane is one row of the tile; each output sums Q_ij (x_j - mu_j) from
// j = 0 up, multiply and add apart, and is rounded to float once at the end.
template <class L, class T>
void tiles_project(const by_tile* X, int64_t first, int64_t count, const double* Q, int32_t q,
                   const double* mu, by_tile* Y) {
  using reg = typename L::reg;
  constexpr int W = L::width, U = by_tile_rows / W, B = 4;
  const int32_t d = X->cols;
  for (int64_t t = first; t < first + count; ++t) {
    const T* x = static_cast<const T*>(X->x) + t * d * by_tile_rows;
    float* y = static_cast<float*>(Y->x) + t * q * by_tile_rows;
    for (int32_t i0 = 0; i0 < q; i0 += B) {
      reg acc[B][std::size_t{U}];
      for (int b = 0; b < B; ++b)
        for (int u = 0; u < U; ++u) acc[b][u] = L::set1(0.0);
      for (int32_t j = 0; j < d; ++j) {
        const reg mj = L::set1(mu[j]);
        reg xu[std::size_t{U}];
        for (int u = 0; u < U; ++u) xu[u] = L::sub(L::load(x + j * by_tile_rows + u * W), mj);
        for (int b = 0; b < B; ++b) {
          const reg qb = L::set1(Q[int64_t{i0 + b} * d + j]);
          for (int u = 0; u < U; ++u) acc[b][u] = L::add(L::mul(qb, xu[u]), acc[b][u]);
        }
      }
      for (int b = 0; b < B; ++b)
        for (int u = 0; u < U; ++u) L::store(y + (i0 + b) * by_tile_rows + u * W, acc[b][u]);
    }
  }
}

// ---- listed rows: U vectors of rows per step, each lane one row ------------------
//
// Each row's coordinates are read as a run: `across` coordinates of the
// lanes' rows at a time, transposed in registers so that each lane holds its
// own row's (L::load_across); the coordinates past the last whole step are
// gathered one at a time. The next step's rows are asked for ahead, their
// first 512 bytes; the processor streams the rest of a long row.
template <class L, class T, int U>
int64_t rows_steps(const T* x, int64_t rs, int32_t d, const int32_t* rows, int64_t from,
                   int64_t count, const double* c, double* out) {
  using reg = typename L::reg;
  constexpr int W = L::width, A = L::across;
  constexpr int32_t line = 64 / sizeof(T);
  const int32_t span = d < 8 * line ? d : 8 * line;
  const int32_t whole = d / A * A;
  int64_t t = from;
  for (; t + U * W <= count; t += U * W) {
    const T* p[std::size_t{U * W}];
    int64_t off[std::size_t{U * W}];
    for (int l = 0; l < U * W; ++l) {
      off[l] = rows[t + l] * rs;
      p[l] = x + off[l];
    }
    for (int64_t a = t + U * W; a < count && a < t + 2 * U * W; ++a)
      for (int32_t j = 0; j < span; j += line) __builtin_prefetch(x + rows[a] * rs + j);
    reg sum[std::size_t{U}];
    for (int u = 0; u < U; ++u) sum[u] = L::set1(0.0);
    for (int32_t j = 0; j < whole; j += A) {
      for (int u = 0; u < U; ++u) {
        reg xs[std::size_t{A}];
        L::load_across(p + u * W, j, xs);
        for (int k = 0; k < A; ++k) {
          const reg diff = L::sub(xs[k], L::set1(c[j + k]));
          sum[u] = L::add(L::mul(diff, diff), sum[u]);
        }
      }
    }
    for (int32_t j = whole; j < d; ++j) {
      const reg cj = L::set1(c[j]);
      for (int u = 0; u < U; ++u) {
        const reg diff = L::sub(L::gather(x + j, off + u * W), cj);
        sum[u] = L::add(L::mul(diff, diff), sum[u]);
      }
    }
    for (int u = 0; u < U; ++u) L::store(out + t + u * W, sum[u]);
  }
  return t;
}

template <class L, class T>
void rows_dist_sq(const T* x, int64_t rs, int32_t d, const int32_t* rows, int64_t count,
                  const double* c, double* out) {
  const int64_t t = rows_steps<L, T, L::width == 1 ? 1 : 2>(x, rs, d, rows, 0, count, c, out);
  if (t < count) rows_steps<lanes_plain, T, 1>(x, rs, d, rows, t, count, c, out);
}

// ---- pairs: pair_block_rows rows against a vector of positions per step --------
//
// The row of the pair that comes first is c, the first operand, but the
// difference is taken as x - c: rounding is symmetric, so x - c is exactly
// -(c - x) and its square the same bits (NaN where c - x is NaN). That form
// lets c[r][k] be broadcast from memory inside the subtraction. The first square is taken as the
// sum itself: 0.0 + s is s for every square (never -0.0) and NaN stays NaN.
// max(sum, top) keeps top when sum is NaN, as the scalar "d > largest" never
// takes a NaN; no lane holds NaN, so the lanes' maxima may be taken in any
// order.
template <class L, class T, int D>
int64_t most_steps(const by_coord* X, const double* const c[], int64_t j0, int64_t j1,
                   double most[]) {
  using reg = typename L::reg;
  constexpr int W = L::width, R = pair_block_rows;
  const int32_t d = D > 0 ? D : X->cols;
  const int64_t s = X->stride;
  const T* x = static_cast<const T*>(X->x);
  reg top[std::size_t{R}];
  for (int r = 0; r < R; ++r) top[r] = L::set1(0.0);
  int64_t j = j0;
  for (; j + W <= j1; j += W) {
    reg sum[std::size_t{R}];
    const reg x0 = L::load(x + j);
    for (int r = 0; r < R; ++r) {
      const reg diff = L::sub(x0, L::set1(c[r][0]));
      sum[r] = L::mul(diff, diff);
    }
    for (int32_t k = 1; k < d; ++k) {
      const reg xk = L::load(x + k * s + j);
      for (int r = 0; r < R; ++r) {
        const reg ck = L::set1(c[r][k]);
        const reg diff = L::sub(xk, ck);
        sum[r] = L::add(L::mul(diff, diff), sum[r]);
      }
    }
    for (int r = 0; r < R; ++r) top[r] = L::max(sum[r], top[r]);
  }
  for (int r = 0; r < R; ++r) {
    double lane[std::size_t{W}];
    L::store(lane, top[r]);
    for (int l = 0; l < W; ++l) most[r] = lane[l] > most[r] ? lane[l] : most[r];
  }
  return j;
}

template <class L, class T>
void pair_block_most(const by_coord* X, const double* const c[], int64_t j0, int64_t j1,
                     double most[]) {
  for (int r = 0; r < pair_block_rows; ++r) most[r] = 0.0;
  with_dims(X->cols, [&](auto D) {
    const int64_t j = most_steps<L, T, D.value>(X, c, j0, j1, most);
    if (j < j1) most_steps<lanes_plain, T, D.value>(X, c, j, j1, most);
  });
}

template <class L, class T, int D>
int64_t first_steps(const by_coord* X, const double* c, int64_t j0, int64_t j1, double dist,
                    int64_t* hit) {
  using reg = typename L::reg;
  constexpr int W = L::width;
  const int32_t d = D > 0 ? D : X->cols;
  const int64_t s = X->stride;
  const T* x = static_cast<const T*>(X->x);
  const reg want = L::set1(dist);
  int64_t j = j0;
  for (; j + W <= j1; j += W) {
    reg diff = L::sub(L::set1(c[0]), L::load(x + j));
    reg sum = L::mul(diff, diff);
    for (int32_t k = 1; k < d; ++k) {
      diff = L::sub(L::set1(c[k]), L::load(x + k * s + j));
      sum = L::add(L::mul(diff, diff), sum);
    }
    // Lowest lane first: the lowest position among equals.
    const unsigned m = L::bits(L::eq(sum, want));
    if (m != 0) {
      *hit = j + __builtin_ctz(m);
      return j;
    }
  }
  return j;
}

template <class L, class T>
int64_t pair_first_at(const by_coord* X, const double* c, int64_t j0, int64_t j1, double dist) {
  return with_dims(X->cols, [&](auto D) {
    int64_t hit = -1;
    const int64_t j = first_steps<L, T, D.value>(X, c, j0, j1, dist, &hit);
    if (hit < 0 && j < j1) first_steps<lanes_plain, T, D.value>(X, c, j, j1, dist, &hit);
    return hit;
  });
}

// ---- the farthest a row lies from a box: one vector of rows per step ----------
//
// max(a, b) is a > b ? a : b, as the reference's test; the first square is
// taken as the sum itself, as in the pair kernels.
template <class L, class T, int D>
int64_t box_far_steps(const by_coord* X, int64_t from, int64_t to, const double* lo,
                      const double* hi, double far[]) {
  using reg = typename L::reg;
  constexpr int W = L::width;
  const int32_t d = D > 0 ? D : X->cols;
  const int64_t s = X->stride;
  const T* x = static_cast<const T*>(X->x);
  int64_t p = from;
  for (; p + W <= to; p += W) {
    reg x0 = L::load(x + p);
    reg g = L::max(L::sub(x0, L::set1(lo[0])), L::sub(L::set1(hi[0]), x0));
    reg sum = L::mul(g, g);
    for (int32_t j = 1; j < d; ++j) {
      const reg xj = L::load(x + j * s + p);
      g = L::max(L::sub(xj, L::set1(lo[j])), L::sub(L::set1(hi[j]), xj));
      sum = L::add(L::mul(g, g), sum);
    }
    L::store(far + (p - from), sum);
  }
  return p;
}

template <class L, class T>
void pair_box_far(const by_coord* X, int64_t from, int64_t to, const double* lo, const double* hi,
                  double far[]) {
  if (X->cols == 0) {
    for (int64_t p = from; p < to; ++p) far[p - from] = 0.0;
    return;
  }
  with_dims(X->cols, [&](auto D) {
    const int64_t p = box_far_steps<L, T, D.value>(X, from, to, lo, hi, far);
    if (p < to) box_far_steps<lanes_plain, T, D.value>(X, p, to, lo, hi, far + (p - from));
  });
}

// ---- the coverage cost: U vectors of points per block -----------------------------
//
// min(d, best) is d < best ? d : best and max(best, cost) is
// best > cost ? best : cost, operand order included: the reference's tests.
// No nearest distance is NaN or -0.0, so the lanes' maxima may be taken in
// any order. The padding positions copy a row, so whole blocks run to the
// stride without changing the cost.
template <class L, int D, int U>
int64_t cover_steps(const by_coord* P, const double* points, const int32_t* centres, int32_t k,
                    double stop, int64_t from, double* cost) {
  using reg = typename L::reg;
  constexpr int W = L::width;
  const int32_t d = D > 0 ? D : P->cols;
  const int64_t s = P->stride;
  const double* x = by_coord_doubles(P);
  const reg limit = L::set1(stop), none = L::set1(no_distance), zero = L::set1(0.0);
  reg total = L::set1(*cost);
  int64_t p = from;
  for (; p + U * W <= s; p += U * W) {
    // With the dimensions known, the block's coordinates stay in registers.
    reg px[std::size_t{D > 0 ? D : 1}][std::size_t{U}];
    if constexpr (D > 0)
      for (int t = 0; t < D; ++t)
        for (int u = 0; u < U; ++u) px[t][u] = L::load(x + t * s + p + u * W);
    reg best[std::size_t{U}];
    for (int u = 0; u < U; ++u) best[u] = none;
    for (int32_t j = 0; j < k; ++j) {
      const double* q = points + int64_t{centres[j]} * d;
      reg sum[std::size_t{U}];
      for (int u = 0; u < U; ++u) sum[u] = zero;
      for (int32_t t = 0; t < d; ++t) {
        const reg qt = L::set1(q[t]);
        for (int u = 0; u < U; ++u) {
          reg xt;
          if constexpr (D > 0) xt = px[t][u];
          else xt = L::load(x + t * s + p + u * W);
          const reg diff = L::sub(xt, qt);
          sum[u] = L::add(L::mul(diff, diff), sum[u]);
        }
      }
      for (int u = 0; u < U; ++u) best[u] = L::min(sum[u], best[u]);
    }
    for (int u = 0; u < U; ++u) total = L::max(best[u], total);
    if (L::bits(L::ge(total, limit)) != 0) {
      p = s;
      break;
    }
  }
  double lane[std::size_t{W}];
  L::store(lane, total);
  for (int l = 0; l < W; ++l) *cost = lane[l] > *cost ? lane[l] : *cost;
  return p;
}

template <class L>
double cover_cost(const by_coord* P, const double* points, const int32_t* centres, int32_t k,
                  double stop) {
  return with_dims(P->cols, [&](auto D) {
    double cost = 0.0;
    const int64_t p =
        cover_steps<L, D.value, L::width == 1 ? 1 : 4>(P, points, centres, k, stop, 0, &cost);
    if (p < P->stride && cost < stop)
      cover_steps<lanes_plain, D.value, 1>(P, points, centres, k, stop, p, &cost);
    return cost;
  });
}

template <class L, class T>
constexpr typed_kernels<T> typed_of() {
  return typed_kernels<T>{&fold_nearest<L, T>,    &tiles_dist_sq<L, T>, &tiles_project<L, T>,
                          &rows_dist_sq<L, T>,    &pair_block_most<L, T>, &pair_first_at<L, T>,
                          &pair_box_far<L, T>};
}

template <class L>
constexpr kernel_table table_of() {
  return kernel_table{typed_of<L, double>(), typed_of<L, float>(), &boxes_within<L>, &cover_cost<L>};
}

}  // namespace
