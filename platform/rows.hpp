// The rows of a matrix wherever they lie: row-major or column-major, a slice
// with strides, float64 or float32. Engines read their input through this
// record only, and never write through it.
#pragma once

#include <cstdint>
#include <cstring>

enum class elem_type : int32_t { f64 = 0, f32 = 1 };

// Bytes of one element.
inline constexpr int64_t elem_bytes(elem_type type) { return type == elem_type::f32 ? 4 : 8; }

// Element (i, j) lies at data + (i * row_stride + j * col_stride) elements of
// `type`. Strides may be any value, negative or zero included; a matrix of no
// rows or no columns may have a null data pointer.
struct row_source {
  const void* data;
  int32_t rows;
  int32_t cols;
  int64_t row_stride;  // in elements
  int64_t col_stride;  // in elements
  elem_type type;
};

// A row-major matrix of doubles, cols elements a row.
inline row_source rows_of_doubles(const double* data, int32_t rows, int32_t cols) {
  return row_source{data, rows, cols, cols, 1, elem_type::f64};
}

// Whether the rows are one row-major run of doubles, as a mat holds them.
inline bool rows_are_doubles(const row_source* X) {
  return X->type == elem_type::f64 && (X->cols <= 1 || X->col_stride == 1) &&
         (X->rows <= 1 || X->row_stride == X->cols);
}

// Whether the coordinates of each row lie next to each other (col_stride 1,
// whatever the rows' stride and type): a row can then be read as one run.
inline bool rows_unit_cols(const row_source* X) { return X->cols <= 1 || X->col_stride == 1; }

// Calls f with the data pointer typed as the elements are: const double* or
// const float*. Element (i, j) is then p[i * row_stride + j * col_stride].
template <class F>
decltype(auto) rows_visit(const row_source* X, F&& f) {
  if (X->type == elem_type::f32) return f(static_cast<const float*>(X->data));
  return f(static_cast<const double*>(X->data));
}

// Rows [first, first + count) of X as a source of their own (row 0 of it is
// row `first` of X).
inline row_source rows_slice(const row_source* X, int64_t first, int32_t count) {
  row_source part = *X;
  part.rows = count;
  if (first != 0) {
    part.data = rows_visit(X, [&](auto* p) -> const void* { return p + first * X->row_stride; });
  }
  return part;
}

// Element (i, j), widened to double (exactly: every float is a double).
inline double rows_at(const row_source* X, int64_t i, int64_t j) {
  const int64_t at = i * X->row_stride + j * X->col_stride;
  if (X->type == elem_type::f64) return static_cast<const double*>(X->data)[at];
  return static_cast<double>(static_cast<const float*>(X->data)[at]);
}

// Row i into out[0 .. cols - 1], widened to double.
inline void rows_get(const row_source* X, int64_t i, double* out) {
  if (rows_are_doubles(X)) {
    std::memcpy(out, static_cast<const double*>(X->data) + i * X->cols,
                sizeof(double) * static_cast<size_t>(X->cols));
    return;
  }
  for (int32_t j = 0; j < X->cols; ++j) out[j] = rows_at(X, i, j);
}

// Whether every coordinate of row i is finite: a row holding NaN or an
// infinity lies at distance NaN or +inf from every point, itself included.
bool rows_finite(const row_source* X, int64_t i);
// Rows first .. first + count - 1 of X that are finite, in order, into out
// (room for count); returns how many.
int32_t rows_list_finite(const row_source* X, int32_t first, int32_t count, int32_t* out);
// The same for n doubles at x, `step` elements apart.
bool finite_doubles(const double* x, int64_t n, int64_t step);
