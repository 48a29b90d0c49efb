// Seeded point generation for gen_points: a random stream of our own and the
// shapes built on it. Nothing here reads, prints or allocates (the one
// array a shape needs, the embedding's basis, is the caller's).
//
// Every draw is made from integer arithmetic and the IEEE operations + - * /
// and sqrt (plus gen_log, written out below), so the same seed gives the same
// doubles with any compiler or C library, as long as no multiply-add is fused.
#pragma once

#include <cstdint>

// xoshiro256** state, seeded through splitmix64; keeps the second value of
// the last normal pair.
struct gen_rng {
  uint64_t s[4];
  bool has_spare;
  double spare;
};

// The splitmix64 output function on a counter value: a 64-bit mixing hash.
uint64_t gen_mix64(uint64_t x);
// Seeds the four state words with the first four splitmix64 outputs from seed.
void gen_rng_seed(gen_rng* r, uint64_t seed);
// The next 64 bits of xoshiro256**.
uint64_t gen_rng_next(gen_rng* r);
// A double in [0, 1): the top 53 bits of one draw times 2^-53.
double gen_unit(uint64_t bits);
double gen_rng_unit(gen_rng* r);
// An integer in [0, n) from one draw (multiply-shift, no modulo bias worth the name); n >= 1.
uint32_t gen_rng_below(gen_rng* r, uint32_t n);
// A standard normal deviate by Marsaglia's polar method; values come in
// pairs and the second is kept for the next call.
double gen_rng_normal(gen_rng* r);
// Natural logarithm of a positive finite x, from frexp and a fixed series:
// within a few ulps of log(x) and the same on every platform.
double gen_log(double x);

enum class gen_kind { uniform, clusters, sphere, embedding };

// What to draw. Coordinates are:
//   uniform:   each in [-scale, scale]
//   clusters:  a cluster centre (uniform in the box above, fixed by the seed)
//              plus sigma times a normal deviate, the cluster drawn uniformly
//              among `clusters`
//   sphere:    on the sphere of radius `scale` around the origin (a circle for
//              d = 2, the two points +-scale for d = 1), uniform over its surface
//   embedding: clusters in a random subspace of `dims` dimensions, plus noise,
//              as real embeddings lie: the cluster (drawn uniformly among
//              `clusters`) has a centre uniform in [-scale, scale]^dims and a
//              spread of its own, sigma times 2^(4u - 2) (from sigma / 4 to
//              4 sigma), both fixed by the seed; the point is its centre plus
//              the spread times `dims` normal deviates, carried into d
//              coordinates by the basis (dims random vectors of d coordinates,
//              each uniform in [-sqrt(3 / d), sqrt(3 / d)], so of length about
//              1; coordinate j sums basis_i,j z_i from i = 0 up), plus `noise`
//              times a normal deviate in every coordinate
struct gen_params {
  gen_kind kind;
  int32_t d;         // coordinates per point, >= 0 (>= 1 for sphere)
  uint64_t seed;
  double scale;      // > 0
  int32_t clusters;  // >= 1
  double sigma;      // >= 0
  int32_t dims = 16;   // embedding: the subspace's dimensions, >= 1
  double noise = 0.0;  // embedding: >= 0
};

struct gen_state {
  gen_params p;
  gen_rng rng;
  uint64_t centre_key;  // names the cluster centres of this seed
  const double* basis;  // embedding: dims rows of d coordinates
};

// Doubles of storage the shape needs from the caller: dims * d for an
// embedding (-1 when that passes 2^62), 0 for the others.
int64_t gen_basis_size(const gen_params* p);
// Starts the stream of points for p; `basis` (gen_basis_size(p) doubles,
// which must outlive the stream) is filled for an embedding and may be null
// for the other shapes.
void gen_start(gen_state* g, const gen_params* p, double* basis = nullptr);
// Coordinate j of cluster c: a pure function of the seed, c, j and d, so
// centres need no storage.
double gen_cluster_centre(const gen_state* g, uint32_t c, int32_t j);
// Writes the next point's d coordinates to out[0..d-1].
void gen_point(gen_state* g, double* out);
