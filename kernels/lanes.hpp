// Vector lanes of doubles, one type per instruction set, with the few
// operations the kernel bodies use. A body written over a lane type L runs
// unchanged at every width: L = lanes_plain is one double, the same
// operations in scalar form. Loads and gathers take doubles or floats; a
// float is widened to double in the register as it is loaded (vcvtps2pd),
// which is exact, so every later operation sees the same double either way.
//
// Every operation is the IEEE operation lane by lane; none fuses or reorders
// (the build forbids contraction), and no fused multiply-add instruction is
// used anywhere. The comparisons are ordered,
// as the scalar ones are: a comparison with NaN is false. max(a, b) is
// a > b ? a : b and min(a, b) is a < b ? a : b, operand order included, so a
// NaN in a gives b.
//
// Included only by the kernel sources, each compiled for its instruction set;
// every name here has internal linkage, so the copies compiled for different
// instruction sets never meet.
#pragma once

#include <cstdint>

#if defined(__AVX2__) || defined(__AVX512F__)
#include <immintrin.h>
#endif

namespace {

struct lanes_plain {
  using reg = double;
  using mask = bool;
  static constexpr int width = 1;
  static reg set1(double v) { return v; }
  static reg load(const double* p) { return *p; }
  static reg load(const float* p) { return static_cast<double>(*p); }
  static void store(double* p, reg v) { *p = v; }
  // Each lane rounded to the nearest float.
  static void store(float* p, reg v) { *p = static_cast<float>(v); }
  static reg add(reg a, reg b) { return a + b; }
  static reg sub(reg a, reg b) { return a - b; }
  // a - b on the multiply-add unit where a level has one: a * 1.0 - b, whose
  // product is exact, so its one rounding is the subtraction's and the bits
  // are sub(a, b)'s, signed zeros and NaN included.
  static reg mul(reg a, reg b) { return a * b; }
  static reg max(reg a, reg b) { return a > b ? a : b; }
  static reg min(reg a, reg b) { return a < b ? a : b; }
  static mask gt(reg a, reg b) { return a > b; }
  static mask lt(reg a, reg b) { return a < b; }
  static mask ge(reg a, reg b) { return a >= b; }
  static mask eq(reg a, reg b) { return a == b; }
  static reg select(mask m, reg yes, reg no) { return m ? yes : no; }
  static unsigned bits(mask m) { return m ? 1u : 0u; }
  // Lane l of a vector of positions from `first` up.
  static reg positions(double first) { return first; }
  // Lane l from base[off[l]].
  static reg gather(const double* base, const int64_t* off) { return base[off[0]]; }
  static reg gather(const float* base, const int64_t* off) { return static_cast<double>(base[off[0]]); }
  // Coordinates j .. j + across - 1 of `width` rows (p[0 .. width - 1]),
  // across the lanes: out[k] holds coordinate j + k of row l in lane l.
  static constexpr int across = 1;
  template <class T>
  static void load_across(const T* const* p, int64_t j, reg* out) {
    out[0] = static_cast<double>(p[0][j]);
  }
};

#if defined(__AVX2__) && !defined(__AVX512F__)
struct lanes_avx2 {
  using reg = __m256d;
  using mask = __m256d;
  static constexpr int width = 4;
  static reg set1(double v) { return _mm256_set1_pd(v); }
  static reg load(const double* p) { return _mm256_loadu_pd(p); }
  static reg load(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
  static void store(double* p, reg v) { _mm256_storeu_pd(p, v); }
  static void store(float* p, reg v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v)); }
  static reg add(reg a, reg b) { return _mm256_add_pd(a, b); }
  static reg sub(reg a, reg b) { return _mm256_sub_pd(a, b); }
  // Without FMA among the level's instructions: the subtraction itself.
  static reg mul(reg a, reg b) { return _mm256_mul_pd(a, b); }
  static reg max(reg a, reg b) { return _mm256_max_pd(a, b); }
  static reg min(reg a, reg b) { return _mm256_min_pd(a, b); }
  static mask gt(reg a, reg b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
  static mask lt(reg a, reg b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
  static mask ge(reg a, reg b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static mask eq(reg a, reg b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
  static reg select(mask m, reg yes, reg no) { return _mm256_blendv_pd(no, yes, m); }
  static unsigned bits(mask m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
  static reg positions(double first) {
    return _mm256_add_pd(_mm256_set1_pd(first), _mm256_setr_pd(0, 1, 2, 3));
  }
  // The masked form, every lane on, from a zero start: the plain form's
  // start value is undefined, which GCC 12 takes for an uninitialised read.
  static reg gather(const double* base, const int64_t* off) {
    const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(off));
    return _mm256_mask_i64gather_pd(_mm256_setzero_pd(), base, at,
                                    _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
  }
  static reg gather(const float* base, const int64_t* off) {
    const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(off));
    return _mm256_cvtps_pd(_mm256_mask_i64gather_ps(_mm_setzero_ps(), base, at,
                                                    _mm_castsi128_ps(_mm_set1_epi32(-1)), 4));
  }
  // Four coordinates of four rows, loaded a row at a time and transposed.
  static constexpr int across = 4;
  static void transpose(reg r0, reg r1, reg r2, reg r3, reg* out) {
    const reg t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
    const reg t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
    out[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    out[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    out[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    out[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
  }
  template <class T>
  static void load_across(const T* const* p, int64_t j, reg* out) {
    transpose(load(p[0] + j), load(p[1] + j), load(p[2] + j), load(p[3] + j), out);
  }
};
#endif

#if defined(__AVX512F__)
struct lanes_avx512 {
  using reg = __m512d;
  using mask = __mmask8;
  static constexpr int width = 8;
  static reg set1(double v) { return _mm512_set1_pd(v); }
  static reg load(const double* p) { return _mm512_loadu_pd(p); }
  // The zero-masked form with a full mask is vcvtps2pd itself (g++ 12 warns
  // about the unmasked form's undefined merge source).
  static reg load(const float* p) { return _mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(p)); }
  static void store(double* p, reg v) { _mm512_storeu_pd(p, v); }
  static void store(float* p, reg v) { _mm256_storeu_ps(p, _mm512_maskz_cvtpd_ps(0xFF, v)); }
  static reg add(reg a, reg b) { return _mm512_add_pd(a, b); }
  static reg sub(reg a, reg b) { return _mm512_sub_pd(a, b); }
  static reg mul(reg a, reg b) { return _mm512_mul_pd(a, b); }
  // The masked forms with a full mask are vmaxpd / vminpd themselves; g++ 12
  // warns about the unmasked forms' undefined merge source.
  static reg max(reg a, reg b) { return _mm512_mask_max_pd(b, 0xFF, a, b); }
  static reg min(reg a, reg b) { return _mm512_mask_min_pd(b, 0xFF, a, b); }
  static mask gt(reg a, reg b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
  static mask lt(reg a, reg b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
  static mask ge(reg a, reg b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
  static mask eq(reg a, reg b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
  static reg select(mask m, reg yes, reg no) { return _mm512_mask_mov_pd(no, m, yes); }
  static unsigned bits(mask m) { return static_cast<unsigned>(m); }
  static reg positions(double first) {
    return _mm512_add_pd(_mm512_set1_pd(first), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
  }
  // Unoptimised builds expand the gather to a macro that converts its mask to char.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-conversion"
  static reg gather(const double* base, const int64_t* off) {
    return _mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xFF, _mm512_loadu_si512(off), base, 8);
  }
  static reg gather(const float* base, const int64_t* off) {
    return _mm512_maskz_cvtps_pd(
        0xFF, _mm512_mask_i64gather_ps(_mm256_setzero_ps(), 0xFF, _mm512_loadu_si512(off), base, 4));
  }
  // Four coordinates of eight rows: each half of the rows loaded four
  // coordinates at a time and transposed in 256-bit registers, as the AVX2
  // lanes do, then the halves joined (rows 0 to 3 in the low lanes).
  static constexpr int across = 4;
  static __m256d quarter(const double* p) { return _mm256_loadu_pd(p); }
  static __m256d quarter(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
  static void transpose(__m256d r0, __m256d r1, __m256d r2, __m256d r3, __m256d* out) {
    const __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
    const __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
    out[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    out[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    out[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    out[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
  }
  template <class T>
  static void load_across(const T* const* p, int64_t j, reg* out) {
    __m256d lo[4], hi[4];
    transpose(quarter(p[0] + j), quarter(p[1] + j), quarter(p[2] + j), quarter(p[3] + j), lo);
    transpose(quarter(p[4] + j), quarter(p[5] + j), quarter(p[6] + j), quarter(p[7] + j), hi);
    // The masked form with a full mask is vinsertf64x4 itself (g++ 12 warns
    // about the unmasked form's undefined merge source).
    for (int k = 0; k < 4; ++k) {
      const reg zero = _mm512_setzero_pd();
      const reg low = _mm512_mask_insertf64x4(zero, 0xFF, zero, lo[k], 0);
      out[k] = _mm512_mask_insertf64x4(low, 0xFF, low, hi[k], 1);
    }
  }
#pragma GCC diagnostic pop
};
#endif

}  // namespace
