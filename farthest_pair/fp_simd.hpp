// Vector kernels of the farthest-pair search, one per instruction set
// (simd_level of matvec's kernels.hpp picks them).
//
// The kernels read the rows laid out by coordinate (structure of arrays).
// Each vector lane holds one row j and sums its squares from coordinate 0 up
// with a separate multiply and add, so every lane computes exactly what
// vec_dist_sq computes for that pair: the kernels differ from the plain scan
// in speed only.
#pragma once

#include <cstdint>

#include "kernels.hpp"
#include "matvec.hpp"

// Columns per step of the widest kernel: the padding unit of the layout.
inline constexpr int32_t fp_lanes = 8;

// The rows of a matrix by coordinate: coordinate k of row j is
// x[k * stride + j]. stride is rows rounded up to fp_lanes, and the padding
// columns rows .. stride - 1 hold NaN, whose distances no test takes, so the
// kernels run whole vectors to the end. x is 64-byte aligned.
struct fp_by_coord {
  double* x;
  int64_t stride;
  int32_t rows;
  int32_t cols;
};

// The copy of A by coordinate; x is null when its storage cannot be had.
// Release with fp_by_coord_free.
fp_by_coord fp_by_coord_make(const mat* A);
void fp_by_coord_free(fp_by_coord* X);

// Rows a vector kernel compares in one pass (register blocking); the most
// for any level.
int32_t fp_block_rows(simd_level level);
inline constexpr int32_t fp_block_rows_max = 8;

// For each of the fp_block_rows(level) points c[r] (cols doubles each, the
// first operand), the largest squared distance to the rows j0 .. stride - 1
// of X, NaN never taken, into most[r]; 0.0 when none is larger. j0 is a
// multiple of fp_lanes. level is avx2 or avx512 and runs here.
void fp_block_most(simd_level level, const fp_by_coord* X, const double* const c[], int64_t j0,
                   double most[]);

// The first row j >= j0 (j0 a multiple of fp_lanes) whose squared distance
// from c equals `dist` (not NaN), or -1 when there is none.
int64_t fp_first_at(simd_level level, const fp_by_coord* X, const double* c, int64_t j0,
                    double dist);
