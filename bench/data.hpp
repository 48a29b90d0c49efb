// Benchmark data from gen_points' own generator, in process: the same
// arguments give the same doubles as `gen_points [-c C -w SIGMA] KIND N D SEED`.
#pragma once

#include <cstdint>
#include <vector>

#include "generate.hpp"

// n x d values, row-major: uniform in [-1, 1], or `clusters` Gaussian
// clusters of standard deviation sigma (50 and 0.02 unless given) whose
// centres are uniform in [-1, 1], or an embedding of `clusters` clusters in
// `dims` dimensions with that sigma and noise sigma / 20 (gen_points'
// defaults for -m and -e).
inline std::vector<double> generated(gen_kind kind, int64_t n, int32_t d, uint64_t seed,
                                     int32_t clusters = 50, double sigma = 0.02, int32_t dims = 16) {
  gen_params p{kind, d, seed, 1.0, clusters, sigma};
  p.dims = dims;
  p.noise = sigma / 20.0;
  std::vector<double> basis(static_cast<size_t>(gen_basis_size(&p)));
  gen_state g;
  gen_start(&g, &p, basis.data());
  std::vector<double> out(static_cast<size_t>(n * d));
  for (int64_t i = 0; i < n; ++i) gen_point(&g, out.data() + i * d);
  return out;
}

// n x d values uniform in the ball of radius 1 around the origin: the
// points of `gen_points uniform M D SEED` (any M large enough) whose squared
// norm is at most 1, in their order, the first n of them. The norm is summed
// from coordinate 0 up, each square rounded before it is added (in NumPy:
// s = x0 * x0, then s = x1 * x1 + s, ...), so a script that filters the
// same points the same way keeps the same ones.
inline std::vector<double> generated_ball(int64_t n, int32_t d, uint64_t seed) {
  const gen_params p{gen_kind::uniform, d, seed, 1.0, 1, 0.0};
  gen_state g;
  gen_start(&g, &p);
  std::vector<double> out(static_cast<size_t>(n * d));
  for (int64_t i = 0; i < n;) {
    double* row = out.data() + i * d;
    gen_point(&g, row);
    double norm = 0.0;
    for (int32_t k = 0; k < d; ++k) norm = row[k] * row[k] + norm;
    if (norm <= 1.0) ++i;
  }
  return out;
}
