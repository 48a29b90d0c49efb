// Any bytes as the point file of sampled_centers: the reader ends with a set
// of at most 2000 points or one error line, and the coverage cost of any tuple
// of them is a squared distance (never NaN, never negative, never above the
// largest double), which every vector level scores to the same bits. The
// first byte picks k, the next k bytes the centres; the rest is the file.
//
// The program's source, with main renamed by a compile definition.
#include "sampled_centers.cpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t k = data[0] % 6;
  if (size < 1 + k) return 0;
  const uint8_t* picks = data + 1;
  int fd = memfd_create("points", 0);
  if (fd < 0) return 0;
  size_t len = size - 1 - k;
  if (write(fd, data + 1 + k, len) != static_cast<ssize_t>(len)) std::abort();
  std::string path = "/proc/self/fd/" + std::to_string(fd);

  static vec2set set;
  bool ok = vec2set_read_file(&set, path.c_str());
  close(fd);
  if (set.n < 0 || set.n > 2000) std::abort();
  if (!ok || set.n == 0) return 0;

  std::vector<int32_t> centres(k);
  for (size_t j = 0; j < k; ++j) centres[j] = picks[j] % set.n;
  double cost = center_cost(&set, centres.data(), static_cast<int32_t>(k));
  if (std::isnan(cost) || cost < 0.0 || cost > 1.7976931348623157e308) std::abort();

  // The vector levels: the same bits in full, and stopped early only where
  // a best of the reversed tuple's cost could not be beaten.
  std::vector<int32_t> reversed(centres.rbegin(), centres.rend());
  reversed.resize(k / 2);
  double stop = center_cost(&set, reversed.data(), static_cast<int32_t>(reversed.size()));
  static vec2cols cols;
  vec2cols_fill(&cols, &set);
  for (simd_level level : {simd_level::plain, simd_level::avx2, simd_level::avx512}) {
    if (!simd_runs(level)) continue;
    int32_t kk = static_cast<int32_t>(k);
    double full = vec2cols_cover_cost(level, &cols, centres.data(), kk, INFINITY);
    if (std::bit_cast<uint64_t>(full) != std::bit_cast<uint64_t>(cost)) std::abort();
    double early = vec2cols_cover_cost(level, &cols, centres.data(), kk, stop);
    if ((stop > early) != (stop > cost) || (stop > cost && early != cost)) std::abort();
  }
  return 0;
}
