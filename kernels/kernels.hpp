// The vector kernels of the engines, each with its plain reference beside it
// (X / X_ref), over rows laid out by coordinate (by_coord, platform/work.hpp).
//
// Exactness: every kernel puts one row in each vector lane and sums that
// row's squared differences from coordinate 0 up, with a separate multiply
// and add (sum = diff * diff + sum), so each lane computes exactly what the
// plain loop computes for its row; comparisons are ordered, as the scalar
// ones are. Every level returns the same bits and the same positions as the
// reference. The level is a simd_level the processor runs (simd_runs).
//
// Copies of float32 rows hold floats; a kernel widens each coordinate to
// double before the subtraction (exactly), so it returns what it returns for
// a copy of the same rows widened to double first. The box kernels
// (boxes_within) and the coverage cost take copies of doubles only.
#pragma once

#include <cstdint>

#include "simd.hpp"
#include "work.hpp"

// ---- the farthest-first fold ---------------------------------------------------

// The position a fold leaves farthest from the centres: the largest nearest
// distance above 0.0 and its position, the lowest among equals; position -1
// (and 0.0) when no nearest distance in the range is above 0.0.
struct farthest_row {
  double dist;
  int64_t pos;
};

// Folds point c (X->cols doubles) into the nearest distances of positions
// [from, to) of X: d = the squared distance from the row to c (the row the
// first operand); near[p] := d where near[p] > d (never for NaN). Returns the
// farthest position of the range afterwards.
farthest_row fold_nearest(simd_level level, const by_coord* X, int64_t from, int64_t to,
                          const double* c, double* near);
farthest_row fold_nearest_ref(const by_coord* X, int64_t from, int64_t to, const double* c,
                              double* near);

// For the boxes at positions [from, to) of lo and hi (box b has sides
// lo_j <= hi_j), bound_b = sum from j = 0 up of g_j * g_j, where g_j is
// lo_j - c_j when c_j lies below the box, hi_j - c_j when above, else 0.0:
// the operations of the squared distance in its order, so, rounding being
// monotone, bound_b never exceeds the squared distance (as the fold computes
// it) from c to a row inside box b. Writes the boxes whose bound is below
// limit[b] to visit[] in increasing order and returns how many. c finite.
int64_t boxes_within(simd_level level, const by_coord* lo, const by_coord* hi, int64_t from,
                     int64_t to, const double* c, const double* limit, int32_t* visit);
int64_t boxes_within_ref(const by_coord* lo, const by_coord* hi, int64_t from, int64_t to,
                         const double* c, const double* limit, int32_t* visit);

// ---- distances for the grouped fold ------------------------------------------------

// Squared distances from point c to the rows of X in tiles first ..
// first + count - 1: out[8 * i + l] is the distance from row l of tile
// first + i (the row the first operand), for every lane of each tile.
void tiles_dist_sq(simd_level level, const by_tile* X, int64_t first, int64_t count,
                   const double* c, double* out);
void tiles_dist_sq_ref(const by_tile* X, int64_t first, int64_t count, const double* c,
                       double* out);

// Projections of the rows of X in tiles first .. first + count - 1 into the
// same tiles of Y (floats, q columns): row p of Y is Q (x_p - mu) rounded to
// float, coordinate i summed as sum = Q_ij * (x_pj - mu_j) + sum from
// j = 0 up (the difference, the product and the sum each rounded). Q holds q
// rows of X->cols doubles; q is a multiple of 4.
void tiles_project(simd_level level, const by_tile* X, int64_t first, int64_t count,
                   const double* Q, int32_t q, const double* mu, by_tile* Y);
void tiles_project_ref(const by_tile* X, int64_t first, int64_t count, const double* Q, int32_t q,
                       const double* mu, by_tile* Y);

// Squared distances from point c to listed rows of X: out[t] is the
// distance from row rows[t] (the row the first operand). The rows may lie
// anywhere and repeat; each lane gathers its own. The kernel needs each
// row's coordinates next to each other (rows_unit_cols); the reference
// reads any source.
void rows_dist_sq(simd_level level, const row_source* X, const int32_t* rows, int64_t count,
                  const double* c, double* out);
void rows_dist_sq_ref(const row_source* X, const int32_t* rows, int64_t count, const double* c,
                      double* out);

// ---- the farthest pair -----------------------------------------------------------

// Rows a pair kernel compares with a range of positions in one pass.
inline constexpr int32_t pair_block_rows = 4;

// For each of the pair_block_rows points c[r] (X->cols doubles each, the
// first operand), the largest squared distance to the rows at positions
// [j0, j1) of X, a NaN distance never taken, into most[r]; 0.0 when none is
// larger. Positions up to the stride are allowed (the padding copies rows).
void pair_block_most(simd_level level, const by_coord* X, const double* const c[], int64_t j0,
                     int64_t j1, double most[]);
void pair_block_most_ref(const by_coord* X, const double* const c[], int64_t j0, int64_t j1,
                         double most[]);

// The first position in [j0, j1) whose squared distance from c equals dist
// (not NaN), or -1 when there is none.
int64_t pair_first_at(simd_level level, const by_coord* X, const double* c, int64_t j0, int64_t j1,
                      double dist);
int64_t pair_first_at_ref(const by_coord* X, const double* c, int64_t j0, int64_t j1, double dist);

// For the rows at positions [from, to) of X, far[p - from] = the sum from
// j = 0 up of g_j * g_j, where g_j = max(x_j - lo_j, hi_j - x_j) (the larger
// of the two, as a > b ? a : b): the largest gap in coordinate j between the
// row and a point of the box lo_j <= y_j <= hi_j. Rounding is monotone and
// symmetric, so |x_j - y_j| as computed never exceeds g_j, and the bound,
// summed with the distance's own operations in its order, is never below
// the squared distance the pair kernels compute from the row to a point
// inside the box.
void pair_box_far(simd_level level, const by_coord* X, int64_t from, int64_t to, const double* lo,
                  const double* hi, double far[]);
void pair_box_far_ref(const by_coord* X, int64_t from, int64_t to, const double* lo,
                      const double* hi, double far[]);

// ---- the coverage cost ---------------------------------------------------------------

// The largest, over the rows of P, of the squared distance to the nearest of
// the k centres points + centres[j] * P->cols (row-major points, P->cols
// doubles each): each distance d, the
// nearest kept by best = d < best ? d : best from the largest finite double,
// the cost by cost = best > cost ? best : cost from 0.0. Scoring may stop
// once the running cost reaches `stop`; the value is then that running cost,
// no less than stop. So the result is below stop exactly when the cost is,
// and then it is the cost; with stop = +inf it is always the cost.
double cover_cost(simd_level level, const by_coord* P, const double* points,
                  const int32_t* centres, int32_t k, double stop);
double cover_cost_ref(const by_coord* P, const double* points, const int32_t* centres, int32_t k,
                      double stop);
