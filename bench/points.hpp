// Deterministic point sets for the benchmarks: the same arguments always
// give the same doubles (splitmix64 stream, Box-Muller normals).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

enum class point_kind { uniform, clustered };

// n x d values, row-major. uniform: every coordinate uniform in [0, 1).
// clustered: 50 Gaussian blobs (sigma 0.01) whose centres are uniform in
// [0, 1); each row picks a blob at random.
inline std::vector<double> make_points(point_kind kind, int64_t n, int64_t d, uint64_t seed) {
  uint64_t state = seed;
  auto next_u64 = [&] {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  auto uniform = [&] { return static_cast<double>(next_u64() >> 11) * 0x1p-53; };
  auto normal = [&] {
    double u = uniform(), v = uniform();
    return std::sqrt(-2.0 * std::log1p(-u)) * std::cos(6.283185307179586 * v);
  };
  const int blobs = 50;
  std::vector<double> centre(static_cast<size_t>(blobs * d));
  for (double& c : centre) c = uniform();
  std::vector<double> out(static_cast<size_t>(n * d));
  for (int64_t i = 0; i < n; ++i) {
    const double* c = centre.data() + (next_u64() % blobs) * d;
    for (int64_t j = 0; j < d; ++j)
      out[i * d + j] = kind == point_kind::clustered ? c[j] + 0.01 * normal() : uniform();
  }
  return out;
}
