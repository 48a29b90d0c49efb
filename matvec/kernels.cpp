#include "kernels.hpp"

#include <immintrin.h>

// ---- choosing a level ------------------------------------------------------

simd_level simd_best() {
  static const simd_level best = __builtin_cpu_supports("avx512f") ? simd_level::avx512
                                 : __builtin_cpu_supports("avx2")  ? simd_level::avx2
                                                                   : simd_level::plain;
  return best;
}

bool simd_runs(simd_level level) {
  return static_cast<int>(level) <= static_cast<int>(simd_best());
}

const char* simd_name(simd_level level) {
  switch (level) {
    case simd_level::avx512:
      return "avx512";
    case simd_level::avx2:
      return "avx2";
    default:
      return "plain";
  }
}

namespace {

// ---- plain: the definition ---------------------------------------------------

// Rows [from, count) one by one, both tests strict as in center_cost; `best`
// carries the farthest row of the rows before `from`.
farthest_row fold_rows(const double* x, int64_t stride, int32_t d, int64_t from, int64_t count,
                       const double* c, double* near, farthest_row best) {
  for (int64_t r = from; r < count; ++r) {
    double sum = 0.0;
    for (int32_t j = 0; j < d; ++j) {
      double diff = x[j * stride + r] - c[j];
      sum = diff * diff + sum;
    }
    if (near[r] > sum) near[r] = sum;
    if (near[r] > best.dist) best = {near[r], r};
  }
  return best;
}

// One coordinate's gap from c to a box side, as the squared distance would see it.
double box_gap(double lo, double hi, double c) {
  if (c < lo) return lo - c;
  if (c > hi) return hi - c;
  return 0.0;
}

int64_t boxes_plain(const double* lo, const double* hi, int64_t stride, int32_t d, int64_t from,
                    int64_t count, const double* c, const double* limit, int32_t* visit) {
  int64_t n = 0;
  for (int64_t b = from; b < count; ++b) {
    double sum = 0.0;
    for (int32_t j = 0; j < d; ++j) {
      double g = box_gap(lo[j * stride + b], hi[j * stride + b], c[j]);
      sum = g * g + sum;
    }
    if (sum < limit[b]) visit[n++] = static_cast<int32_t>(b);
  }
  return n;
}

// Lane results merged: the largest distance, then the lowest position.
// Lanes that never rose above 0.0 hold position -1 and lose every tie.
farthest_row merge_lanes(const double* dist, const int64_t* pos, int lanes) {
  farthest_row best{0.0, -1};
  for (int l = 0; l < lanes; ++l) {
    if (dist[l] > best.dist || (dist[l] == best.dist && pos[l] >= 0 && pos[l] < best.pos))
      best = {dist[l], pos[l]};
  }
  return best;
}

// ---- AVX-512: two vectors of 8 rows per step -------------------------------------
//
// D > 0 fixes the number of coordinates at compile time (the common small
// ones); D == 0 takes it from d. Each lane keeps its own farthest row with a
// strict, ordered test, so a lane keeps the earliest of equal rows; the
// lanes are merged by distance, then position.

template <int D>
__attribute__((target("avx512f"))) farthest_row fold_avx512(const double* x, int64_t stride,
                                                            int32_t d, int64_t count,
                                                            const double* c, double* near) {
  const int32_t dims = D > 0 ? D : d;
  const __m512d zero = _mm512_setzero_pd();
  __m512d best0 = zero, best1 = zero;
  __m512i pos0 = _mm512_set1_epi64(-1), pos1 = pos0;
  __m512i at0 = _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7);
  __m512i at1 = _mm512_add_epi64(at0, _mm512_set1_epi64(8));
  const __m512i step = _mm512_set1_epi64(16);
  int64_t r = 0;
  for (; r + 16 <= count; r += 16) {
    __m512d s0 = zero, s1 = zero;
    for (int32_t j = 0; j < dims; ++j) {
      const __m512d cj = _mm512_set1_pd(c[j]);
      const double* xj = x + j * stride + r;
      __m512d d0 = _mm512_sub_pd(_mm512_loadu_pd(xj), cj);
      __m512d d1 = _mm512_sub_pd(_mm512_loadu_pd(xj + 8), cj);
      s0 = _mm512_add_pd(_mm512_mul_pd(d0, d0), s0);
      s1 = _mm512_add_pd(_mm512_mul_pd(d1, d1), s1);
    }
    __m512d n0 = _mm512_loadu_pd(near + r);
    __m512d n1 = _mm512_loadu_pd(near + r + 8);
    __mmask8 lower0 = _mm512_cmp_pd_mask(n0, s0, _CMP_GT_OQ);
    __mmask8 lower1 = _mm512_cmp_pd_mask(n1, s1, _CMP_GT_OQ);
    _mm512_mask_storeu_pd(near + r, lower0, s0);
    _mm512_mask_storeu_pd(near + r + 8, lower1, s1);
    n0 = _mm512_mask_mov_pd(n0, lower0, s0);
    n1 = _mm512_mask_mov_pd(n1, lower1, s1);
    __mmask8 far0 = _mm512_cmp_pd_mask(n0, best0, _CMP_GT_OQ);
    __mmask8 far1 = _mm512_cmp_pd_mask(n1, best1, _CMP_GT_OQ);
    best0 = _mm512_mask_mov_pd(best0, far0, n0);
    best1 = _mm512_mask_mov_pd(best1, far1, n1);
    pos0 = _mm512_mask_mov_epi64(pos0, far0, at0);
    pos1 = _mm512_mask_mov_epi64(pos1, far1, at1);
    at0 = _mm512_add_epi64(at0, step);
    at1 = _mm512_add_epi64(at1, step);
  }
  alignas(64) double dist[16];
  alignas(64) int64_t pos[16];
  _mm512_store_pd(dist, best0);
  _mm512_store_pd(dist + 8, best1);
  _mm512_store_si512(pos, pos0);
  _mm512_store_si512(pos + 8, pos1);
  return fold_rows(x, stride, dims, r, count, c, near, merge_lanes(dist, pos, 16));
}

__attribute__((target("avx512f"))) int64_t boxes_avx512(const double* lo, const double* hi,
                                                        int64_t stride, int32_t d, int64_t count,
                                                        const double* c, const double* limit,
                                                        int32_t* visit) {
  int64_t n = 0, b = 0;
  const __m512d zero = _mm512_setzero_pd();
  for (; b + 8 <= count; b += 8) {
    __m512d sum = zero;
    for (int32_t j = 0; j < d; ++j) {
      const __m512d cj = _mm512_set1_pd(c[j]);
      __m512d l = _mm512_loadu_pd(lo + j * stride + b);
      __m512d h = _mm512_loadu_pd(hi + j * stride + b);
      __mmask8 below = _mm512_cmp_pd_mask(cj, l, _CMP_LT_OQ);
      __mmask8 above = _mm512_cmp_pd_mask(cj, h, _CMP_GT_OQ);
      __m512d g = _mm512_mask_sub_pd(zero, below, l, cj);
      g = _mm512_mask_sub_pd(g, above, h, cj);
      sum = _mm512_add_pd(_mm512_mul_pd(g, g), sum);
    }
    unsigned m = _mm512_cmp_pd_mask(sum, _mm512_loadu_pd(limit + b), _CMP_LT_OQ);
    for (; m != 0; m &= m - 1) visit[n++] = static_cast<int32_t>(b + __builtin_ctz(m));
  }
  return n + boxes_plain(lo, hi, stride, d, b, count, c, limit, visit + n);
}

// ---- AVX2: two vectors of 4 rows per step ----------------------------------------

template <int D>
__attribute__((target("avx2"))) farthest_row fold_avx2(const double* x, int64_t stride, int32_t d,
                                                       int64_t count, const double* c,
                                                       double* near) {
  const int32_t dims = D > 0 ? D : d;
  const __m256d zero = _mm256_setzero_pd();
  __m256d best0 = zero, best1 = zero;
  __m256i pos0 = _mm256_set1_epi64x(-1), pos1 = pos0;
  __m256i at0 = _mm256_setr_epi64x(0, 1, 2, 3);
  __m256i at1 = _mm256_add_epi64(at0, _mm256_set1_epi64x(4));
  const __m256i step = _mm256_set1_epi64x(8);
  int64_t r = 0;
  for (; r + 8 <= count; r += 8) {
    __m256d s0 = zero, s1 = zero;
    for (int32_t j = 0; j < dims; ++j) {
      const __m256d cj = _mm256_set1_pd(c[j]);
      const double* xj = x + j * stride + r;
      __m256d d0 = _mm256_sub_pd(_mm256_loadu_pd(xj), cj);
      __m256d d1 = _mm256_sub_pd(_mm256_loadu_pd(xj + 4), cj);
      s0 = _mm256_add_pd(_mm256_mul_pd(d0, d0), s0);
      s1 = _mm256_add_pd(_mm256_mul_pd(d1, d1), s1);
    }
    __m256d n0 = _mm256_loadu_pd(near + r);
    __m256d n1 = _mm256_loadu_pd(near + r + 4);
    n0 = _mm256_blendv_pd(n0, s0, _mm256_cmp_pd(n0, s0, _CMP_GT_OQ));
    n1 = _mm256_blendv_pd(n1, s1, _mm256_cmp_pd(n1, s1, _CMP_GT_OQ));
    _mm256_storeu_pd(near + r, n0);
    _mm256_storeu_pd(near + r + 4, n1);
    __m256d far0 = _mm256_cmp_pd(n0, best0, _CMP_GT_OQ);
    __m256d far1 = _mm256_cmp_pd(n1, best1, _CMP_GT_OQ);
    best0 = _mm256_blendv_pd(best0, n0, far0);
    best1 = _mm256_blendv_pd(best1, n1, far1);
    pos0 = _mm256_castpd_si256(
        _mm256_blendv_pd(_mm256_castsi256_pd(pos0), _mm256_castsi256_pd(at0), far0));
    pos1 = _mm256_castpd_si256(
        _mm256_blendv_pd(_mm256_castsi256_pd(pos1), _mm256_castsi256_pd(at1), far1));
    at0 = _mm256_add_epi64(at0, step);
    at1 = _mm256_add_epi64(at1, step);
  }
  alignas(32) double dist[8];
  alignas(32) int64_t pos[8];
  _mm256_store_pd(dist, best0);
  _mm256_store_pd(dist + 4, best1);
  _mm256_store_si256(reinterpret_cast<__m256i*>(pos), pos0);
  _mm256_store_si256(reinterpret_cast<__m256i*>(pos + 4), pos1);
  return fold_rows(x, stride, dims, r, count, c, near, merge_lanes(dist, pos, 8));
}

__attribute__((target("avx2"))) int64_t boxes_avx2(const double* lo, const double* hi,
                                                   int64_t stride, int32_t d, int64_t count,
                                                   const double* c, const double* limit,
                                                   int32_t* visit) {
  int64_t n = 0, b = 0;
  const __m256d zero = _mm256_setzero_pd();
  for (; b + 4 <= count; b += 4) {
    __m256d sum = zero;
    for (int32_t j = 0; j < d; ++j) {
      const __m256d cj = _mm256_set1_pd(c[j]);
      __m256d l = _mm256_loadu_pd(lo + j * stride + b);
      __m256d h = _mm256_loadu_pd(hi + j * stride + b);
      __m256d g = _mm256_and_pd(_mm256_cmp_pd(cj, l, _CMP_LT_OQ), _mm256_sub_pd(l, cj));
      g = _mm256_blendv_pd(g, _mm256_sub_pd(h, cj), _mm256_cmp_pd(cj, h, _CMP_GT_OQ));
      sum = _mm256_add_pd(_mm256_mul_pd(g, g), sum);
    }
    unsigned m = static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_cmp_pd(sum, _mm256_loadu_pd(limit + b), _CMP_LT_OQ)));
    for (; m != 0; m &= m - 1) visit[n++] = static_cast<int32_t>(b + __builtin_ctz(m));
  }
  return n + boxes_plain(lo, hi, stride, d, b, count, c, limit, visit + n);
}

}  // namespace

// ---- dispatch ----------------------------------------------------------------------

farthest_row soa_fold_nearest(simd_level level, const double* x, int64_t stride, int32_t d,
                              int64_t count, const double* c, double* near) {
  switch (level) {
    case simd_level::avx512:
      switch (d) {
        case 1:
          return fold_avx512<1>(x, stride, d, count, c, near);
        case 2:
          return fold_avx512<2>(x, stride, d, count, c, near);
        case 3:
          return fold_avx512<3>(x, stride, d, count, c, near);
        case 4:
          return fold_avx512<4>(x, stride, d, count, c, near);
        default:
          return fold_avx512<0>(x, stride, d, count, c, near);
      }
    case simd_level::avx2:
      switch (d) {
        case 1:
          return fold_avx2<1>(x, stride, d, count, c, near);
        case 2:
          return fold_avx2<2>(x, stride, d, count, c, near);
        case 3:
          return fold_avx2<3>(x, stride, d, count, c, near);
        case 4:
          return fold_avx2<4>(x, stride, d, count, c, near);
        default:
          return fold_avx2<0>(x, stride, d, count, c, near);
      }
    default:
      return fold_rows(x, stride, d, 0, count, c, near, {0.0, -1});
  }
}

int64_t soa_boxes_within(simd_level level, const double* lo, const double* hi, int64_t stride,
                         int32_t d, int64_t count, const double* c, const double* limit,
                         int32_t* visit) {
  switch (level) {
    case simd_level::avx512:
      return boxes_avx512(lo, hi, stride, d, count, c, limit, visit);
    case simd_level::avx2:
      return boxes_avx2(lo, hi, stride, d, count, c, limit, visit);
    default:
      return boxes_plain(lo, hi, stride, d, 0, count, c, limit, visit);
  }
}
