#include "pair_search.hpp"

#include <omp.h>

#include <algorithm>

#include "kernels.hpp"
#include "work.hpp"

bool farthest_beats(const farthest* a, const farthest* b) {
  if (a->dist_sq != b->dist_sq) return a->dist_sq > b->dist_sq;
  return a->i != b->i ? a->i < b->i : a->j < b->j;
}

namespace {

// Positions from which the kernels take over a row's later rows: a whole
// vector of the widest level.
constexpr int64_t kernel_align = 8;

// Row i against the rows [from, to) with vec_dist_sq, row i first; raises
// *best to each strictly larger distance, so the first such pair wins a tie
// and a NaN distance is never taken.
void scan_row(const mat* A, int64_t i, int64_t from, int64_t to, farthest* best) {
  vec a, b;
  mat_get_row(A, &a, static_cast<int32_t>(i));
  double largest = best->dist_sq;
  int64_t bi = best->i, bj = best->j;
  for (int64_t j = from; j < to; ++j) {
    mat_get_row(A, &b, static_cast<int32_t>(j));
    const double d = vec_dist_sq(&a, &b);
    if (d > largest) {
      largest = d;
      bi = i;
      bj = j;
    }
  }
  *best = farthest{largest, static_cast<int32_t>(bi), static_cast<int32_t>(bj), best->compared};
}

// The rows t, t + g, ... of one thread through the kernels, pair_block_rows
// of them at a time against the later rows in vector lanes. The kernel
// returns each row's largest distance; only a row whose largest beats the
// thread's best so far (rare after the first few rows on most data; on
// every row at worst, which about doubles the work) is searched again for
// its first partner at that distance. Rows in increasing order, strict
// tests, the first partner: the thread's pair is the one its plain scan of
// the same rows finds.
farthest scan_rows(const mat* A, const by_coord* X, simd_level level, int64_t t, int64_t g) {
  const int64_t n = A->rows;
  constexpr int32_t R = pair_block_rows;
  farthest best = no_pair;
  for (int64_t first = t; first < n - 1; first += R * g) {
    int64_t row[R];
    const double* c[R];
    int32_t used = 0;
    for (int32_t r = 0; r < R; ++r) {
      if (first + r * g < n - 1) used = r + 1;
      // Past the thread's last row the kernel is handed that row again; its
      // answer is not used.
      row[r] = used == r + 1 ? first + r * g : row[used - 1];
      c[r] = A->data + row[r] * A->cols;
    }
    // Each row is compared with the rows before j0 (the first vector
    // boundary past the block's last row) by the plain scan, and with the
    // rest by the kernel.
    const int64_t j0 = std::min(n, (row[used - 1] + kernel_align) / kernel_align * kernel_align);
    double most[R];
    for (int32_t r = 0; r < used; ++r) {
      farthest own = no_pair;
      scan_row(A, row[r], row[r] + 1, j0, &own);
      most[r] = own.dist_sq;
    }
    if (j0 < n) {
      double lanes[R];
      pair_block_most(level, X, c, j0, X->stride, lanes);
      for (int32_t r = 0; r < used; ++r) most[r] = std::max(most[r], lanes[r]);
    }
    for (int32_t r = 0; r < used; ++r) {
      best.compared += n - 1 - row[r];
      if (most[r] > best.dist_sq) {
        farthest own = no_pair;
        scan_row(A, row[r], row[r] + 1, j0, &own);
        const int64_t j = own.dist_sq == most[r] ? own.j : pair_first_at(level, X, c[r], j0, n, most[r]);
        best = farthest{most[r], static_cast<int32_t>(row[r]), static_cast<int32_t>(j), best.compared};
      }
    }
  }
  return best;
}

// Merges the threads' pairs in the total order, so the answer does not
// depend on which thread finished first.
farthest merge(const farthest* found, int32_t granted) {
  farthest best = found[0];
  for (int32_t t = 1; t < granted; ++t) {
    const int64_t compared = best.compared + found[t].compared;
    if (farthest_beats(&found[t], &best)) best = found[t];
    best.compared = compared;
  }
  return best;
}

}  // namespace

farthest farthest_pair_search(const mat* A, int32_t threads, simd_level level) {
  // The copy by coordinate is made once, here; without it the plain scan runs.
  by_coord X{nullptr, 0, 0, 0};
  if (A->rows >= 2 && A->cols > 0) X = by_coord_alloc(A->rows, A->cols);
  if (X.x == nullptr) return farthest_pair_search_ref(A, threads);
  by_coord_fill(&X, A->data, nullptr);
  const by_coord* by_coord_rows = &X;

  const int32_t team = std::clamp(threads, int32_t{1}, pair_search_max_threads);
  farthest found[pair_search_max_threads];
  int32_t granted = 1;
  // Each thread keeps its best pair in locals and writes only its own slot,
  // once. The stride is the size of the team actually granted (a runtime may
  // grant fewer threads than asked), so no row is left unscanned.
#pragma omp parallel num_threads(team) default(none) shared(A, found, granted, level, by_coord_rows)
  {
    const int32_t t = omp_get_thread_num(), g = omp_get_num_threads();
    found[t] = scan_rows(A, by_coord_rows, level, t, g);
    if (t == 0) granted = g;
  }
  by_coord_free(&X);
  return merge(found, granted);
}

farthest farthest_pair_search_ref(const mat* A, int32_t threads) {
  const int32_t team = std::clamp(threads, int32_t{1}, pair_search_max_threads);
  farthest found[pair_search_max_threads];
  int32_t granted = 1;
#pragma omp parallel num_threads(team) default(none) shared(A, found, granted)
  {
    const int32_t t = omp_get_thread_num(), g = omp_get_num_threads();
    farthest best = no_pair;
    // 64-bit rows: i + g must not wrap near 2^31 rows.
    for (int64_t i = t; i < int64_t{A->rows} - 1; i += g) {
      scan_row(A, i, i + 1, A->rows, &best);
      best.compared += A->rows - 1 - i;
    }
    found[t] = best;
    if (t == 0) granted = g;
  }
  return merge(found, granted);
}
