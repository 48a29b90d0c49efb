// A caller's view as the engines' rows, and the searches that read them
// directly: the pruned pair and the nearest centres.
#include <omp.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "api_internal.hpp"
#include "kernels.hpp"
#include "work.hpp"

namespace kcenter {

bool rows_open(const view& x, rows_input* in, error* err) {
  auto fail = [&](fault code, const std::string& line) {
    if (err != nullptr) *err = error{code, line};
    return false;
  };
  if (x.rows < 0 || x.cols < 0)
    return fail(fault::bad_view, "error : a matrix needs no negative row or column count, not " +
                                     std::to_string(x.rows) + " x " + std::to_string(x.cols));
  if (x.rows > INT32_MAX || x.cols > INT32_MAX)
    return fail(fault::too_large, "error : the matrix has more than 2147483647 rows or columns");
  if (x.type != dtype::float64 && x.type != dtype::float32)
    return fail(fault::bad_view, "error : the matrix has an element type other than float64 or float32");
  if (x.data == nullptr && x.rows > 0 && x.cols > 0) return fail(fault::bad_view, "error : the matrix has no data");
  in->rows = row_source{x.data, static_cast<int32_t>(x.rows), static_cast<int32_t>(x.cols), x.row_stride,
                        x.col_stride, x.type == dtype::float32 ? elem_type::f32 : elem_type::f64};
  return true;
}

farthest pair_pruned(const rows_input* in, int32_t threads) {
  // Never the search of every pair instead: on a large matrix it would run
  // for hours where the pruned search takes a second.
  bool short_of_storage = false;
  const farthest f = farthest_pair_pruned(&in->rows, threads, simd_best(), &short_of_storage);
  return short_of_storage ? farthest{0.0, -2, -2, 0} : f;
}

namespace {

// Tiles of rows a thread takes at once: the distances of a block to one
// centre stay in the first-level cache.
constexpr int64_t block_tiles = 64;

}  // namespace

bool assign_rows(const rows_input* in, const std::vector<int64_t>& centres, int32_t threads, int64_t* label,
                 double* dist_sq) {
  const row_source& X = in->rows;
  const int32_t d = X.cols;
  const int64_t k = static_cast<int64_t>(centres.size());
  if (X.rows == 0 || k == 0) return true;
  by_tile T = by_tile_alloc(X.rows, d);
  double* c = static_cast<double*>(work_alloc(k * d * static_cast<int64_t>(sizeof(double))));
  if (T.x == nullptr || c == nullptr) {
    by_tile_free(&T);
    work_free(c);
    return false;
  }
  by_tile_fill(&T, &X, nullptr);
  for (int64_t j = 0; j < k; ++j) rows_get(&X, centres[static_cast<size_t>(j)], c + j * d);
  const simd_level level = simd_best();
  const int64_t blocks = (T.tiles + block_tiles - 1) / block_tiles;
  bool ok = true;
#pragma omp parallel num_threads(threads)
  {
    double* out = static_cast<double*>(work_alloc(block_tiles * by_tile_rows * static_cast<int64_t>(sizeof(double))));
    if (out == nullptr) {
#pragma omp atomic write
      ok = false;
    }
#pragma omp for schedule(static)
    for (int64_t b = 0; b < blocks; ++b) {
      if (out == nullptr) continue;
      const int64_t first = b * block_tiles, count = std::min(block_tiles, T.tiles - first);
      const int64_t row0 = first * by_tile_rows, row1 = std::min<int64_t>(X.rows, row0 + count * by_tile_rows);
      // Each centre in turn: the first to reach a distance that is a number
      // names the row's centre, and only a strictly smaller one replaces
      // it, so the lowest centre wins among equals.
      for (int64_t j = 0; j < k; ++j) {
        tiles_dist_sq(level, &T, first, count, c + j * d, out);
        for (int64_t r = row0; r < row1; ++r) {
          const double v = out[r - row0];
          if (label[r] < 0 ? !std::isnan(v) : v < dist_sq[r]) {
            dist_sq[r] = v;
            label[r] = j;
          }
        }
      }
    }
    work_free(out);
  }
  by_tile_free(&T);
  work_free(c);
  return ok;
}

}  // namespace kcenter
