// Vector kernels over rows stored by coordinate, with plain twins that
// define their results.
//
// Rows laid out "by coordinate" (structure of arrays): coordinate j of row r
// is x[j * stride + r]. Each vector lane holds one row and sums that row's
// squares from coordinate 0 up, with a separate multiply and add, so every
// lane computes exactly what vec_dist_sq computes for its row, and every
// level returns the same bits and positions as the plain one.
#pragma once

#include <cstdint>

// Instruction sets the kernels are compiled for; the widest one that the
// processor runs is chosen at run time.
enum class simd_level : int { plain = 0, avx2 = 1, avx512 = 2 };

// The widest level this processor (and its operating system) runs.
simd_level simd_best();
// Whether this processor runs `level`; plain always runs.
bool simd_runs(simd_level level);
// "plain", "avx2" or "avx512".
const char* simd_name(simd_level level);

// Working storage for kernels and their drivers: `bytes` bytes, 64-byte
// aligned, large blocks backed by huge pages where the system allows (so
// that filling them costs few page faults). Release with std::free; null
// when it cannot be had.
void* work_alloc(int64_t bytes);

// The row a fold leaves farthest from the centres: the largest nearest
// distance above 0.0 and its position, the lowest among equals. Position -1
// (and 0.0) when every nearest distance is 0.0.
struct farthest_row {
  double dist;
  int64_t pos;
};

// Folds point c (d coordinates) into the nearest distances of rows
// [0, count) laid out by coordinate: dist_r = the squared distance from row
// r to c (row first, coordinate 0 up, each square rounded before it is
// added); near[r] := dist_r where near[r] > dist_r (never for NaN). Returns
// the farthest row afterwards, as center_cost names it.
farthest_row soa_fold_nearest(simd_level level, const double* x, int64_t stride, int32_t d,
                              int64_t count, const double* c, double* near);

// For boxes [0, count) with sides lo[j * stride + b] <= hi[j * stride + b],
// bound_b = sum from j = 0 up of g_j * g_j, where g_j is lo_j - c_j when c_j
// lies below the box, hi_j - c_j when it lies above, else 0.0. These are
// the operations of the squared distance in its order, and rounding is
// monotone, so bound_b never exceeds the squared distance (as the fold
// computes it) from c to any point inside box b. Writes the boxes whose
// bound is below limit[b] to visit[], in increasing order, and returns how
// many there are. c must be finite.
int64_t soa_boxes_within(simd_level level, const double* lo, const double* hi, int64_t stride,
                         int32_t d, int64_t count, const double* c, const double* limit,
                         int32_t* visit);
