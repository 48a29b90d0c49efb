// The all-pairs farthest-pair search of farthest_pair, apart from its
// command line, so that it can be tested and tuned on its own.
#pragma once

#include <cstdint>

#include "fp_simd.hpp"
#include "matvec.hpp"

// More threads than this are refused: the OpenMP runtime ends the process
// when it cannot start a team, and far below 2^31 it cannot.
inline constexpr int32_t farthest_pair_max_threads = 4096;

// The farthest pair of rows a search found, and how much it examined.
struct farthest {
  double dist_sq;    // their squared distance; 0.0 when no pair was found
  int32_t i;         // the rows, i < j; both -1 when no two rows lie a
  int32_t j;         //   positive (non-NaN) distance apart
  int64_t compared;  // distances computed: rows * (rows - 1) / 2 for a whole search
};

inline constexpr farthest no_pair = {0.0, -1, -1, 0};

// Compares row i with every later row (row i the first operand) and raises
// *best to each strictly larger squared distance, so the first such pair
// wins a tie and a NaN distance is never taken; leaves best->compared alone.
// Returns how many pairs it compared.
int64_t farthest_pair_scan_row(const mat* A, int32_t i, farthest* best);

// The farthest pair over all rows, found by one team of OpenMP threads
// (threads is clamped to 1 .. farthest_pair_max_threads). Of the G threads
// actually granted, thread t scans rows t, t + G, ..., so every pair is
// compared exactly once. The answer is that of farthest_pair_ref: the largest
// distance, and among equal distances the lowest (i, j). Runs the plain scan
// in a build with FORCE_PLAIN_PATH, else the kernels of simd_best().
farthest farthest_pair_search(const mat* A, int32_t threads);
// The same through the kernels of `level`; the plain scan when this
// processor does not run it. Every level gives the same answer, bit for bit.
farthest farthest_pair_search(const mat* A, int32_t threads, simd_level level);

// The plain serial search every faster one must agree with: row 0 against
// every later row, then row 1, and so on, with a strict test.
farthest farthest_pair_ref(const mat* A);
