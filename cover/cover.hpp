// Points of the plane, the coverage cost of a tuple of centres among them,
// and the sampling search of sampled_centers built on it. Nothing here reads
// a file argument, prints or knows of MPI; the cost that cover_radius prints
// is computed by the same code.
#pragma once

#include <cstdint>
#include <cstdio>

#include "simd.hpp"
#include "work.hpp"

// One point of the plane.
struct vec2 {
  double x;
  double y;
};

// (a.x - b.x)^2 + (a.y - b.y)^2, each square rounded before the addition.
inline double vec2_dist_sq(vec2 a, vec2 b) {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  return dx * dx + dy * dy;
}

// What reading a point file came to.
enum class vec2_scan_status { ok, too_many, unreadable };

// Reads "%lf %lf" pairs from f into points[0 ..], up to the first pair that
// does not convert completely (end of file, text that is no number, a lone
// last number); *n counts them. A pair past `capacity` is too_many; a read
// error (a directory, a device error) is unreadable, not the end of the points.
vec2_scan_status vec2_scan_file(FILE* f, vec2* points, int32_t capacity, int32_t* n);

// The largest, over the n points, of the squared distance to the nearest of
// the centres points[centres[0 .. k-1]]: the nearest kept by
// best = d < best ? d : best from the largest finite double, the cost by
// cost = best > cost ? best : cost. So a NaN distance never becomes the
// nearest: a point with a NaN coordinate, or one whose distance to every
// centre overflows, costs the largest double. No points cost 0.0; k = 0
// costs the largest double when there is a point. The plain definition that
// the faster scoring below agrees with, bit for bit.
double vec2_cover_cost_ref(const vec2* points, int32_t n, const int32_t* centres, int32_t k);

// The points laid out by coordinate for vector lanes, in an order that
// spreads the file's order, and row after row in file order, where the
// centres are looked up.
struct vec2_cover {
  by_coord P;
  double* xy;  // point i is (xy[2i], xy[2i + 1])
};

// False when the storage cannot be had (nothing is then held).
bool vec2_cover_make(vec2_cover* cover, const vec2* points, int32_t n);
void vec2_cover_free(vec2_cover* cover);

// The cost of the k centres (indices of points) as vec2_cover_cost_ref
// computes it, unless the running cost reaches stop first: scoring then
// stops and the value is that running cost, no less than stop. So the result
// is below stop exactly when the cost is, and then it is the cost.
double vec2_cover_cost(simd_level level, const vec2_cover* cover, const int32_t* centres, int32_t k,
                       double stop);

// The seed of rank r's generator: s on rank 0, s + r * 2654435769 modulo 2^32
// on rank r, so every rank below 2^32 gets its own.
unsigned int rank_seed(unsigned int s, int32_t rank);

// Draws m tuples of k indices from the C library generator, each index
// random() % n on its 64-bit value, and leaves the first of the cheapest in
// centres; returns its cost. centres always ends holding a drawn tuple: the
// first one when none costs less than the largest double. Needs n >= 1 and
// m >= 1; trial is room for k indices. Scores on `level`, stopping a tuple's
// scoring once it cannot win.
double sample_best(simd_level level, const vec2_cover* cover, int32_t k, int32_t m, int32_t* trial,
                   int32_t* centres);
// The same draws, every tuple scored in full by vec2_cover_cost_ref.
double sample_best_ref(const vec2* points, int32_t n, int32_t k, int32_t m, int32_t* trial,
                       int32_t* centres);

// Scores each of the count tuples of k indices in gathered again, in full,
// and returns the position of the cheapest, the lowest among equals, with its
// cost in *cost; tuple 0 when none costs less than the largest double.
int32_t best_gathered(simd_level level, const vec2_cover* cover, const int32_t* gathered,
                      int32_t count, int32_t k, double* cost);
int32_t best_gathered_ref(const vec2* points, int32_t n, const int32_t* gathered, int32_t count,
                          int32_t k, double* cost);
