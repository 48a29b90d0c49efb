// Any bytes as a point file: the reader ends with at most 2000 points or a
// refusal, and the coverage cost of any tuple of them is a squared distance
// (never NaN, never negative, never above the largest double) that every
// scoring level computes to the same bits, stopping early only where the
// choice allows. The first byte picks k, the next k bytes the centres; the
// rest is the file.
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cover.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t k = data[0] % 6;
  if (size < 1 + k) return 0;
  const int fd = memfd_create("points", 0);
  if (fd < 0) return 0;
  const size_t len = size - 1 - k;
  if (write(fd, data + 1 + k, len) != static_cast<ssize_t>(len)) std::abort();
  lseek(fd, 0, SEEK_SET);
  FILE* f = fdopen(fd, "r");
  static vec2 points[2000];
  int32_t n = -1;
  const vec2_scan_status status = vec2_scan_file(f, points, 2000, &n);
  std::fclose(f);
  if (n < 0 || n > 2000) std::abort();
  if (status != vec2_scan_status::ok || n == 0) return 0;

  std::vector<int32_t> centres(k);
  for (size_t j = 0; j < k; ++j) centres[j] = data[1 + j] % n;
  const int32_t kk = static_cast<int32_t>(k);
  const double cost = vec2_cover_cost_ref(points, n, centres.data(), kk);
  if (std::isnan(cost) || cost < 0.0 || cost > 1.7976931348623157e308) std::abort();
  // A stop at the cost of half the tuple, reversed: sometimes above the
  // cost, sometimes below.
  std::vector<int32_t> half(centres.rbegin(), centres.rend());
  half.resize(k / 2);
  const double stop = vec2_cover_cost_ref(points, n, half.data(), static_cast<int32_t>(half.size()));
  vec2_cover cover;
  if (!vec2_cover_make(&cover, points, n)) return 0;
  for (simd_level level : {simd_level::plain, simd_level::avx2, simd_level::avx512}) {
    if (!simd_runs(level)) continue;
    const double full = vec2_cover_cost(level, &cover, centres.data(), kk, INFINITY);
    if (std::bit_cast<uint64_t>(full) != std::bit_cast<uint64_t>(cost)) std::abort();
    const double early = vec2_cover_cost(level, &cover, centres.data(), kk, stop);
    if ((stop > early) != (stop > cost) || (stop > cost && early != cost)) std::abort();
  }
  vec2_cover_free(&cover);
  return 0;
}
