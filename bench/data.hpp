// Benchmark data from gen_points' own generator, in process: the same
// arguments give the same doubles as `gen_points [-c C -w SIGMA] KIND N D SEED`.
#pragma once

#include <cstdint>
#include <vector>

#include "generate.hpp"

// n x d values, row-major: uniform in [-1, 1], or `clusters` Gaussian
// clusters of standard deviation sigma (50 and 0.02 unless given) whose
// centres are uniform in [-1, 1].
inline std::vector<double> generated(gen_kind kind, int64_t n, int32_t d, uint64_t seed,
                                     int32_t clusters = 50, double sigma = 0.02) {
  const gen_params p{kind, d, seed, 1.0, clusters, sigma};
  gen_state g;
  gen_start(&g, &p);
  std::vector<double> out(static_cast<size_t>(n * d));
  for (int64_t i = 0; i < n; ++i) gen_point(&g, out.data() + i * d);
  return out;
}
