#include "work.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <limits>
#include <type_traits>

static constexpr int64_t huge_page = int64_t{1} << 21;
// From here up a block is offered for huge pages. On a virtual machine each
// 4 KiB page costs a fault of some 15 us when first written: 4 ms for a
// matrix of 50000 rows of 3, against 0.1 ms in one huge page.
static constexpr int64_t huge_from = int64_t{1} << 18;

void* work_alloc(int64_t bytes) {
  if (bytes < 0 || bytes > std::numeric_limits<int64_t>::max() / 2) return nullptr;
  if (bytes >= huge_from) {
    const int64_t size = (bytes + huge_page - 1) / huge_page * huge_page;
    void* p = std::aligned_alloc(static_cast<size_t>(huge_page), static_cast<size_t>(size));
    if (p != nullptr) ::madvise(p, static_cast<size_t>(size), MADV_HUGEPAGE);  // a hint; refusal is harmless
    return p;
  }
  // At least one line is asked for, so null always means failure.
  const int64_t size = bytes == 0 ? 64 : (bytes + 63) / 64 * 64;
  return std::aligned_alloc(64, static_cast<size_t>(size));
}

void work_free(void* p) { std::free(p); }

int64_t by_coord_bytes(int64_t rows, int32_t cols) {
  if (rows < 0 || cols < 0) return -1;
  const int64_t stride = by_coord_stride(rows);
  if (cols > 0 && stride > std::numeric_limits<int64_t>::max() / 16 / cols) return -1;
  return stride * cols * static_cast<int64_t>(sizeof(double));
}

by_coord by_coord_alloc(int64_t rows, int32_t cols) {
  by_coord X{nullptr, 0, 0, 0};
  const int64_t bytes = by_coord_bytes(rows, cols);
  if (bytes < 0) return X;
  X.x = static_cast<double*>(work_alloc(bytes));
  if (X.x == nullptr) return X;
  X.stride = by_coord_stride(rows);
  X.rows = rows;
  X.cols = cols;
  return X;
}

namespace {

// Row `row` of a source whose data is p: where its coordinate 0 lies.
template <class T>
const T* row_at(const T* p, const row_source* src, int64_t row) {
  return p + row * src->row_stride;
}

// A source of row-major doubles, X->cols a row; the row count is not read.
row_source doubles_of(const double* data, int32_t cols) {
  return row_source{data, INT32_MAX, cols, cols, 1, elem_type::f64};
}

}  // namespace

void by_coord_fill(by_coord* X, const row_source* src, const int32_t* order) {
  const int64_t cols = X->cols, s = X->stride, cs = src->col_stride;
  rows_visit(src, [&](auto* data) {
    // A few rows at a time, so that each row is read from memory once and its
    // coordinates land in cache lines still being written.
    constexpr int64_t step = 8;
    for (int64_t p0 = 0; p0 < X->rows; p0 += step) {
      const int64_t p1 = p0 + step < X->rows ? p0 + step : X->rows;
      for (int64_t j = 0; j < cols; ++j)
        for (int64_t p = p0; p < p1; ++p) {
          const int64_t row = order != nullptr ? order[p] : p;
          X->x[j * s + p] = static_cast<double>(row_at(data, src, row)[j * cs]);
        }
    }
  });
  by_coord_pad_out(X);
}

void by_coord_fill(by_coord* X, const double* data, const int32_t* order) {
  const row_source src = doubles_of(data, X->cols);
  by_coord_fill(X, &src, order);
}

void by_coord_pad_out(by_coord* X) {
  if (X->rows == 0) return;
  for (int64_t j = 0; j < X->cols; ++j) {
    double* xj = X->x + j * X->stride;
    for (int64_t p = X->rows; p < X->stride; ++p) xj[p] = xj[X->rows - 1];
  }
}

void by_coord_free(by_coord* X) {
  work_free(X->x);
  *X = by_coord{nullptr, 0, 0, 0};
}

by_tile by_tile_alloc(int64_t rows, int32_t cols) {
  by_tile X{nullptr, 0, 0, 0};
  const int64_t tiles = rows < 0 ? -1 : (rows + by_tile_rows - 1) / by_tile_rows;
  if (tiles < 0 || cols < 0 || (cols > 0 && tiles > std::numeric_limits<int64_t>::max() / 1024 / cols))
    return X;
  X.x = static_cast<double*>(work_alloc(tiles * by_tile_rows * cols * static_cast<int64_t>(sizeof(double))));
  if (X.x == nullptr) return X;
  X.tiles = tiles;
  X.rows = rows;
  X.cols = cols;
  return X;
}

void by_tile_fill(by_tile* X, const row_source* src, const int32_t* order) {
  const int64_t cols = X->cols, cs = src->col_stride;
  rows_visit(src, [&](auto* data) {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(data)>>;
    for (int64_t t = 0; t < X->tiles; ++t) {
      // The tile's rows, the next tile's asked for ahead; the tile is then
      // written in order.
      const T* rows[by_tile_rows];
      for (int64_t lane = 0; lane < by_tile_rows; ++lane) {
        const int64_t p = t * by_tile_rows + lane, q = p < X->rows ? p : X->rows - 1;
        rows[lane] = row_at(data, src, order != nullptr ? order[q] : q);
        const int64_t ahead = p + by_tile_rows;
        if (ahead < X->rows) __builtin_prefetch(row_at(data, src, order != nullptr ? order[ahead] : ahead));
      }
      double* tile = X->x + t * by_tile_rows * cols;
      for (int64_t j = 0; j < cols; ++j)
        for (int64_t lane = 0; lane < by_tile_rows; ++lane)
          tile[j * by_tile_rows + lane] = static_cast<double>(rows[lane][j * cs]);
    }
  });
}

void by_tile_fill(by_tile* X, const double* data, const int32_t* order) {
  const row_source src = doubles_of(data, X->cols);
  by_tile_fill(X, &src, order);
}

void by_tile_free(by_tile* X) {
  work_free(X->x);
  *X = by_tile{nullptr, 0, 0, 0};
}
