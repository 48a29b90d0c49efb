// The planar point set, its coverage cost and the sampling search of
// sampled_centers, apart from its command line and MPI, so that they can be
// tested and tuned on their own.
#pragma once

#include <cstdint>

#include "kernels.hpp"

// One point of the plane.
struct vec2 {
  double x;
  double y;
};

inline constexpr int32_t vec2set_capacity = 2000;

// Up to 2000 points stored in place, in file order; only the first n count.
struct vec2set {
  vec2 points[vec2set_capacity];
  int32_t n;
};

// Fills set from the named file: "%lf %lf" pairs up to the first pair that
// does not convert completely (end of file, text that is no number, a lone
// last number); whatever follows is ignored. When the file cannot be opened
// or read, or holds more than 2000 points, prints one line and returns false.
bool vec2set_read_file(vec2set* set, const char* filename);

// (a.x - b.x)^2 + (a.y - b.y)^2, each square rounded before the addition.
double vec2_dist_sq(vec2 a, vec2 b);

// The largest, over all points, of the squared distance to the nearest of
// centres[0..k-1]: the squared radius at which disks around the centres
// cover the set. Both selections are strict, so a NaN distance never becomes
// the nearest: a point with a NaN coordinate, or one whose distance to every
// centre overflows, costs the largest double. No points cost 0.0; k = 0
// costs the largest double when there is a point.
double center_cost(const vec2set* set, const int32_t* centres, int32_t k);

// The seed of rank r's generator: s on rank 0, s + r * 2654435769 modulo 2^32
// on rank r, so every rank below 2^32 gets its own.
unsigned int rank_seed(unsigned int s, int32_t rank);

// Draws m tuples of k indices from the C library generator, each index
// random() % n on its 64-bit value, scores each with center_cost and leaves
// the first of the cheapest in centres; returns its cost. centres always ends
// holding a drawn tuple: the first one when none costs less than the largest
// double (a NaN coordinate, or overflow). Needs n >= 1 and m >= 1; trial is
// scratch space for k indices.
double sample_best(const vec2set* set, int32_t k, int32_t m, int32_t* trial, int32_t* centres);

// Scores each of the count tuples of k indices in gathered again and returns
// the position of the cheapest, the lowest among equals, with its cost in
// *cost. When none costs less than the largest double, that is tuple 0.
int32_t best_gathered(const vec2set* set, const int32_t* gathered, int32_t count, int32_t k,
                      double* cost);

// ---- the fast scoring: the same bits, in vector lanes across points ----------

// Points per block, the step of the vector kernels.
inline constexpr int32_t cover_block = 32;
inline constexpr int32_t vec2cols_capacity =
    (vec2set_capacity + cover_block - 1) / cover_block * cover_block;

// The points of a set laid out by coordinate for vector lanes, in an order
// that spreads the file's order, padded to a whole number of blocks with
// copies of one point. Centres are looked up by index in the set's points.
struct vec2cols {
  alignas(64) double x[vec2cols_capacity];
  alignas(64) double y[vec2cols_capacity];
  int32_t n;           // the set's points
  int32_t count;       // n rounded up to a whole block (0 when n is 0)
  const vec2* points;  // the set's points in file order (borrowed)
};

// Lays the points of set out in cols; cols borrows set's points.
void vec2cols_fill(vec2cols* cols, const vec2set* set);

// The coverage cost of centres[0..k-1] (indices of points of cols) as
// center_cost computes it, unless the running cost reaches stop first:
// scoring then stops, and the value returned is that running cost, no less
// than stop. So the result is below stop exactly when the cost is, and then
// it is the cost; with stop = INFINITY it is always the cost.
double vec2cols_cover_cost(simd_level level, const vec2cols* cols, const int32_t* centres,
                           int32_t k, double stop);

// sample_best, scoring on `level`: the same draws, the same tuple left in
// centres, the same cost returned.
double sample_best_fast(const vec2set* set, int32_t k, int32_t m, int32_t* trial, int32_t* centres,
                        simd_level level);

// best_gathered, scoring on `level`, every tuple in full.
int32_t best_gathered_fast(const vec2set* set, const int32_t* gathered, int32_t count, int32_t k,
                           double* cost, simd_level level);

// The four report lines; m * P is counted in 64 bits.
void print_report(int32_t k, int32_t m, int32_t processes, double seconds, double cost,
                  const int32_t* centres);
