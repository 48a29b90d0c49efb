// The kernels of one instruction set, as the dispatch in kernels.cpp sees
// them. Each table is built from the one body of each kernel (bodies.hpp)
// in a source compiled for its instruction set: the kernels that read a copy
// of the rows once for each element type of the copy, the others for doubles.
#pragma once

#include "kernels.hpp"

template <class T>
struct typed_kernels {
  farthest_row (*fold_nearest)(const by_coord* X, int64_t from, int64_t to, const double* c,
                               double* near);
  void (*tiles_dist_sq)(const by_tile* X, int64_t first, int64_t count, const double* c,
                        double* out);
  void (*tiles_project)(const by_tile* X, int64_t first, int64_t count, const double* Q, int32_t q,
                        const double* mu, by_tile* Y);
  void (*rows_dist_sq)(const T* x, int64_t row_stride, int32_t d, const int32_t* rows,
                       int64_t count, const double* c, double* out);
  void (*pair_block_most)(const by_coord* X, const double* const c[], int64_t j0, int64_t j1,
                          double most[]);
  int64_t (*pair_first_at)(const by_coord* X, const double* c, int64_t j0, int64_t j1,
                           double dist);
  void (*pair_box_far)(const by_coord* X, int64_t from, int64_t to, const double* lo,
                       const double* hi, double far[]);
};

struct kernel_table {
  typed_kernels<double> f64;
  typed_kernels<float> f32;
  int64_t (*boxes_within)(const by_coord* lo, const by_coord* hi, int64_t from, int64_t to,
                          const double* c, const double* limit, int32_t* visit);
  double (*cover_cost)(const by_coord* P, const double* points, const int32_t* centres, int32_t k,
                       double stop);
};

extern const kernel_table kernels_plain;
extern const kernel_table kernels_avx2;
extern const kernel_table kernels_avx512;
