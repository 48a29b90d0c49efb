#include "simd.hpp"

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
