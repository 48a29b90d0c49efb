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
static_assert(pair_panel_max % pair_block_rows == 0, "a panel is whole blocks");

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

// One block of a thread's rows that the kernel takes in one pass: the rows,
// how many of them are real, where the kernel takes over their later rows,
// and each row's largest distance so far (with the first partner at it
// below `lo`).
struct row_block {
  int64_t row[pair_block_rows];
  const double* c[pair_block_rows];
  int32_t used;
  // The first vector boundary past the block's last row (at most n): the
  // rows before it are compared by the plain scan, the rest by the kernel.
  int64_t lo;
  double most[pair_block_rows];
  farthest own[pair_block_rows];
};

// Lays out block b of a panel whose rows are first, first + g, ... below
// n - 1, and compares each of its rows with its later rows before `lo`.
void start_block(const mat* A, int64_t first, int64_t g, row_block* b) {
  const int64_t n = A->rows;
  b->used = 0;
  for (int32_t r = 0; r < pair_block_rows; ++r) {
    if (first + r * g < n - 1) b->used = r + 1;
    // Past the thread's last row the kernel is handed that row again; its
    // answer is not used.
    b->row[r] = b->used == r + 1 ? first + r * g : b->row[b->used - 1];
    b->c[r] = A->data + b->row[r] * A->cols;
  }
  b->lo = std::min(n, (b->row[b->used - 1] + kernel_align) / kernel_align * kernel_align);
  for (int32_t r = 0; r < b->used; ++r) {
    b->own[r] = no_pair;
    scan_row(A, b->row[r], b->row[r] + 1, b->lo, &b->own[r]);
    b->most[r] = b->own[r].dist_sq;
  }
}

// The rows t, t + g, ... of one thread, a panel of them at a time: the
// positions from the panel's first vector boundary up are taken a tile at a
// time, and every block of pair_block_rows rows of the panel passes over
// the tile while it is in cache; each row carries its largest distance from
// tile to tile. Then, rows in increasing order, only a row whose largest
// beats the thread's best so far (rare after the first few rows on most
// data; on every row at worst, which about doubles the work) is searched
// again for its first partner at that distance. Strict tests and the first
// partner: the thread's pair is the one its plain scan of the same rows finds.
farthest scan_rows(const mat* A, const by_coord* X, simd_level level, int64_t t, int64_t g,
                   pair_tiles tiles) {
  const int64_t n = A->rows;
  constexpr int32_t R = pair_block_rows;
  // Whole blocks: a block never reaches into the next panel's rows.
  const int64_t panel_rows =
      (std::clamp<int64_t>(tiles.rows, 1, pair_panel_max) + R - 1) / R * R * g;
  const int64_t width =
      std::clamp<int64_t>(tiles.cols / kernel_align, 1, X->stride / kernel_align) * kernel_align;
  row_block blocks[pair_panel_max / R];
  farthest best = no_pair;
  for (int64_t first = t; first < n - 1; first += panel_rows) {
    const int64_t end = std::min(first + panel_rows, n - 1);
    int32_t count = 0;
    for (int64_t i = first; i < end; i += R * g) start_block(A, i, g, &blocks[count++]);
    for (int64_t j0 = blocks[0].lo; j0 < n; j0 += width) {
      // The last tile runs to the stride, in whole vectors over the padding.
      const int64_t j1 = j0 + width < n ? j0 + width : X->stride;
      for (int32_t k = 0; k < count; ++k) {
        row_block& b = blocks[k];
        const int64_t from = std::max(j0, b.lo);
        if (from >= j1 || b.lo >= n) continue;
        double lanes[R];
        pair_block_most(level, X, b.c, from, j1, lanes);
        for (int32_t r = 0; r < b.used; ++r) b.most[r] = std::max(b.most[r], lanes[r]);
      }
    }
    for (int32_t k = 0; k < count; ++k) {
      const row_block& b = blocks[k];
      for (int32_t r = 0; r < b.used; ++r) {
        best.compared += n - 1 - b.row[r];
        if (b.most[r] > best.dist_sq) {
          const int64_t j = b.own[r].dist_sq == b.most[r]
                                ? b.own[r].j
                                : pair_first_at(level, X, b.c[r], b.lo, n, b.most[r]);
          best = farthest{b.most[r], static_cast<int32_t>(b.row[r]), static_cast<int32_t>(j),
                          best.compared};
        }
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

pair_tiles pair_tiles_for(int32_t cols) {
  const int64_t row_bytes = int64_t{std::max(cols, int32_t{1})} * int64_t{sizeof(double)};
  return pair_tiles{std::max<int64_t>(pair_tile_bytes / row_bytes, 1),
                    static_cast<int32_t>(std::clamp<int64_t>(pair_panel_bytes / row_bytes,
                                                             pair_block_rows, pair_panel_max))};
}

farthest farthest_pair_search(const mat* A, int32_t threads, simd_level level) {
  return farthest_pair_search(A, threads, level, pair_tiles_for(A->cols));
}

farthest farthest_pair_search(const mat* A, int32_t threads, simd_level level, pair_tiles tiles) {
  // The copy by coordinate is made once, here; without it the plain scan runs.
  by_coord X{nullptr, 0, 0, 0, elem_type::f64};
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
#pragma omp parallel num_threads(team) default(none) shared(A, found, granted, level, by_coord_rows, tiles)
  {
    const int32_t t = omp_get_thread_num(), g = omp_get_num_threads();
    found[t] = scan_rows(A, by_coord_rows, level, t, g, tiles);
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
