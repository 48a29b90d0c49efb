#include "fp_simd.hpp"

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

// Each kernel is compiled for its instruction set alone; the rest of the
// program stays portable and simd_best() picks a kernel at run time.
#define FP_AVX2 __attribute__((target("avx2")))
#define FP_AVX512 __attribute__((target("avx512f")))

fp_by_coord fp_by_coord_make(const mat* A) {
  fp_by_coord X{nullptr, 0, A->rows, A->cols};
  if (A->rows <= 0 || A->cols <= 0) return X;
  const int64_t stride = (static_cast<int64_t>(A->rows) + fp_lanes - 1) / fp_lanes * fp_lanes;
  if (A->cols > std::numeric_limits<int64_t>::max() / 8 / stride) return X;
  X.x = static_cast<double*>(work_alloc(stride * A->cols * 8));
  if (X.x == nullptr) return X;
  X.stride = stride;
  // A few rows at a time, so that each row is read from cache once.
  const int64_t cols = A->cols;
  for (int64_t i0 = 0; i0 < A->rows; i0 += fp_lanes) {
    const int64_t i1 = std::min<int64_t>(i0 + fp_lanes, A->rows);
    for (int64_t k = 0; k < cols; ++k)
      for (int64_t i = i0; i < i1; ++i) X.x[k * stride + i] = A->data[i * cols + k];
  }
  for (int64_t k = 0; k < cols; ++k)
    for (int64_t i = A->rows; i < stride; ++i)
      X.x[k * stride + i] = std::numeric_limits<double>::quiet_NaN();
  return X;
}

void fp_by_coord_free(fp_by_coord* X) {
  std::free(X->x);
  *X = {nullptr, 0, 0, 0};
}

// ---- the kernels --------------------------------------------------------------
//
// D > 0 fixes the number of coordinates at compile time (small ones, where
// the loop overhead would show); D == 0 takes it from X. R rows are compared
// in one pass, so each vector of coordinates loaded serves R of them.
//
// Exactness: lane l of sum[r] holds the distance from c[r] to row j + l,
// diff = c - x per coordinate and sum = diff * diff + sum from coordinate 0
// up, multiply and add separate (the build forbids contraction). The first
// square is taken as the sum itself: 0.0 + s is s for every square (never
// -0.0) and NaN stays NaN, so that saves one add and changes no bit.
//
// The maximum: vmaxpd(a, b) is "a > b ? a : b" with an ordered test, giving
// b when either is NaN; with the running maximum as b a NaN distance is never
// taken, as the scalar "d > largest" never takes one.

namespace {

template <int D, int R>
FP_AVX512 void most_avx512(const fp_by_coord* X, const double* const c[], int64_t j0,
                           double most[]) {
  const int32_t d = D > 0 ? D : X->cols;
  const int64_t s = X->stride;
  const double* x = X->x;
  __m512d top[R];
  for (int r = 0; r < R; ++r) top[r] = _mm512_setzero_pd();
  for (int64_t j = j0; j < s; j += 8) {
    __m512d sum[R];
    const __m512d x0 = _mm512_load_pd(x + j);
    for (int r = 0; r < R; ++r) {
      const __m512d diff = _mm512_sub_pd(_mm512_set1_pd(c[r][0]), x0);
      sum[r] = _mm512_mul_pd(diff, diff);
    }
    for (int32_t k = 1; k < d; ++k) {
      const __m512d xk = _mm512_load_pd(x + k * s + j);
      for (int r = 0; r < R; ++r) {
        const __m512d diff = _mm512_sub_pd(_mm512_set1_pd(c[r][k]), xk);
        sum[r] = _mm512_add_pd(_mm512_mul_pd(diff, diff), sum[r]);
      }
    }
    // Written with a full mask only because g++ 12 warns about the
    // unmasked form's undefined merge source; it is the same vmaxpd.
    for (int r = 0; r < R; ++r) top[r] = _mm512_mask_max_pd(top[r], 0xFF, sum[r], top[r]);
  }
  // No lane holds NaN, so the order of these maxima does not matter.
  for (int r = 0; r < R; ++r) {
    alignas(64) double lane[8];
    _mm512_store_pd(lane, top[r]);
    most[r] = lane[0];
    for (int l = 1; l < 8; ++l) most[r] = std::max(most[r], lane[l]);
  }
}

template <int D>
FP_AVX512 int64_t first_avx512(const fp_by_coord* X, const double* c, int64_t j0, double dist) {
  const int32_t d = D > 0 ? D : X->cols;
  const int64_t s = X->stride;
  const double* x = X->x;
  const __m512d want = _mm512_set1_pd(dist);
  for (int64_t j = j0; j < s; j += 8) {
    __m512d diff = _mm512_sub_pd(_mm512_set1_pd(c[0]), _mm512_load_pd(x + j));
    __m512d sum = _mm512_mul_pd(diff, diff);
    for (int32_t k = 1; k < d; ++k) {
      diff = _mm512_sub_pd(_mm512_set1_pd(c[k]), _mm512_load_pd(x + k * s + j));
      sum = _mm512_add_pd(_mm512_mul_pd(diff, diff), sum);
    }
    // Lowest lane first: the lowest j among equals.
    const unsigned hit = _mm512_cmp_pd_mask(sum, want, _CMP_EQ_OQ);
    if (hit != 0) return j + __builtin_ctz(hit);
  }
  return -1;
}

template <int D, int R>
FP_AVX2 void most_avx2(const fp_by_coord* X, const double* const c[], int64_t j0, double most[]) {
  const int32_t d = D > 0 ? D : X->cols;
  const int64_t s = X->stride;
  const double* x = X->x;
  __m256d top[R];
  for (int r = 0; r < R; ++r) top[r] = _mm256_setzero_pd();
  for (int64_t j = j0; j < s; j += 4) {
    __m256d sum[R];
    const __m256d x0 = _mm256_load_pd(x + j);
    for (int r = 0; r < R; ++r) {
      const __m256d diff = _mm256_sub_pd(_mm256_set1_pd(c[r][0]), x0);
      sum[r] = _mm256_mul_pd(diff, diff);
    }
    for (int32_t k = 1; k < d; ++k) {
      const __m256d xk = _mm256_load_pd(x + k * s + j);
      for (int r = 0; r < R; ++r) {
        const __m256d diff = _mm256_sub_pd(_mm256_set1_pd(c[r][k]), xk);
        sum[r] = _mm256_add_pd(_mm256_mul_pd(diff, diff), sum[r]);
      }
    }
    for (int r = 0; r < R; ++r) top[r] = _mm256_max_pd(sum[r], top[r]);
  }
  // No lane holds NaN, so the order of these maxima does not matter.
  for (int r = 0; r < R; ++r) {
    const __m128d half = _mm_max_pd(_mm256_castpd256_pd128(top[r]), _mm256_extractf128_pd(top[r], 1));
    most[r] = _mm_cvtsd_f64(_mm_max_sd(half, _mm_unpackhi_pd(half, half)));
  }
}

template <int D>
FP_AVX2 int64_t first_avx2(const fp_by_coord* X, const double* c, int64_t j0, double dist) {
  const int32_t d = D > 0 ? D : X->cols;
  const int64_t s = X->stride;
  const double* x = X->x;
  const __m256d want = _mm256_set1_pd(dist);
  for (int64_t j = j0; j < s; j += 4) {
    __m256d diff = _mm256_sub_pd(_mm256_set1_pd(c[0]), _mm256_load_pd(x + j));
    __m256d sum = _mm256_mul_pd(diff, diff);
    for (int32_t k = 1; k < d; ++k) {
      diff = _mm256_sub_pd(_mm256_set1_pd(c[k]), _mm256_load_pd(x + k * s + j));
      sum = _mm256_add_pd(_mm256_mul_pd(diff, diff), sum);
    }
    const int hit = _mm256_movemask_pd(_mm256_cmp_pd(sum, want, _CMP_EQ_OQ));
    if (hit != 0) return j + __builtin_ctz(static_cast<unsigned>(hit));
  }
  return -1;
}

constexpr int rows_avx512 = 4;
constexpr int rows_avx2 = 4;
static_assert(rows_avx512 <= fp_block_rows_max && rows_avx2 <= fp_block_rows_max);

}  // namespace

int32_t fp_block_rows(simd_level level) {
  return level == simd_level::avx512 ? rows_avx512 : level == simd_level::avx2 ? rows_avx2 : 1;
}

void fp_block_most(simd_level level, const fp_by_coord* X, const double* const c[], int64_t j0,
                   double most[]) {
  if (level == simd_level::avx512) {
    switch (X->cols) {
      case 1: return most_avx512<1, rows_avx512>(X, c, j0, most);
      case 2: return most_avx512<2, rows_avx512>(X, c, j0, most);
      case 3: return most_avx512<3, rows_avx512>(X, c, j0, most);
      case 4: return most_avx512<4, rows_avx512>(X, c, j0, most);
      default: return most_avx512<0, rows_avx512>(X, c, j0, most);
    }
  }
  switch (X->cols) {
    case 1: return most_avx2<1, rows_avx2>(X, c, j0, most);
    case 2: return most_avx2<2, rows_avx2>(X, c, j0, most);
    case 3: return most_avx2<3, rows_avx2>(X, c, j0, most);
    case 4: return most_avx2<4, rows_avx2>(X, c, j0, most);
    default: return most_avx2<0, rows_avx2>(X, c, j0, most);
  }
}

int64_t fp_first_at(simd_level level, const fp_by_coord* X, const double* c, int64_t j0,
                    double dist) {
  if (level == simd_level::avx512) {
    switch (X->cols) {
      case 1: return first_avx512<1>(X, c, j0, dist);
      case 2: return first_avx512<2>(X, c, j0, dist);
      case 3: return first_avx512<3>(X, c, j0, dist);
      default: return first_avx512<0>(X, c, j0, dist);
    }
  }
  switch (X->cols) {
    case 1: return first_avx2<1>(X, c, j0, dist);
    case 2: return first_avx2<2>(X, c, j0, dist);
    case 3: return first_avx2<3>(X, c, j0, dist);
    default: return first_avx2<0>(X, c, j0, dist);
  }
}
