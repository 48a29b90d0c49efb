#include "rows.hpp"

#include <bit>
#include <type_traits>

namespace {

// A float or double is NaN or an infinity exactly when its exponent bits are
// all set. The test runs over every element without an early exit, so that
// the loop over adjacent elements runs in vector lanes.
template <class T>
bool finite_run(const T* x, int64_t n, int64_t step) {
  using bits = std::conditional_t<sizeof(T) == 8, uint64_t, uint32_t>;
  constexpr bits exponent = static_cast<bits>(sizeof(T) == 8 ? 0x7FF0000000000000u : 0x7F800000u);
  bits bad = 0;
  if (step == 1) {
    for (int64_t j = 0; j < n; ++j) bad |= static_cast<bits>((std::bit_cast<bits>(x[j]) & exponent) == exponent);
  } else {
    for (int64_t j = 0; j < n; ++j) bad |= static_cast<bits>((std::bit_cast<bits>(x[j * step]) & exponent) == exponent);
  }
  return bad == 0;
}

}  // namespace

bool rows_finite(const row_source* X, int64_t i) {
  return rows_visit(X, [&](auto* p) { return finite_run(p + i * X->row_stride, X->cols, X->col_stride); });
}

int32_t rows_list_finite(const row_source* X, int32_t first, int32_t count, int32_t* out) {
  return rows_visit(X, [&](auto* p) {
    // Every row is written and the count moves past the finite ones only:
    // no branch on the data.
    int32_t n = 0;
    for (int32_t i = first; i < first + count; ++i) {
      out[n] = i;
      n += finite_run(p + i * X->row_stride, X->cols, X->col_stride) ? 1 : 0;
    }
    return n;
  });
}

bool finite_doubles(const double* x, int64_t n, int64_t step) { return finite_run(x, n, step); }
