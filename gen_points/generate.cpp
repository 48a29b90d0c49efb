#include "generate.hpp"

#include <cmath>

uint64_t gen_mix64(uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

static constexpr uint64_t golden_gamma = 0x9e3779b97f4a7c15u;

void gen_rng_seed(gen_rng* r, uint64_t seed) {
  uint64_t counter = seed;
  for (uint64_t& w : r->s) {
    counter += golden_gamma;
    w = gen_mix64(counter);
  }
  r->has_spare = false;
  r->spare = 0.0;
}

static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

uint64_t gen_rng_next(gen_rng* r) {
  uint64_t* s = r->s;
  uint64_t result = rotl(s[1] * 5, 7) * 9;
  uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotl(s[3], 45);
  return result;
}

double gen_unit(uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1p-53; }

double gen_rng_unit(gen_rng* r) { return gen_unit(gen_rng_next(r)); }

uint32_t gen_rng_below(gen_rng* r, uint32_t n) {
  // The high half of the 96-bit product x * n, from two exact 64-bit
  // products: x * n = hi * n * 2^32 + lo * n, and the sum below cannot wrap.
  uint64_t x = gen_rng_next(r);
  uint64_t hi = (x >> 32) * n, lo = (x & 0xffffffffu) * n;
  return static_cast<uint32_t>((hi + (lo >> 32)) >> 32);
}

double gen_log(double x) {
  // x = m * 2^e with m in [sqrt(1/2), sqrt(2)); log(m) = 2 atanh(f) with
  // f = (m - 1) / (m + 1), |f| < 0.172, summed to f^23 (the next term is
  // below 2^-60 of the result). frexp and the scaling by 2 are exact.
  int e = 0;
  double m = std::frexp(x, &e);
  if (m < 0x1.6a09e667f3bcdp-1) {
    m *= 2.0;
    e -= 1;
  }
  double f = (m - 1.0) / (m + 1.0);
  double f2 = f * f;
  double series = 1.0 / 23.0;
  for (int k = 21; k >= 1; k -= 2) series = series * f2 + 1.0 / k;
  double log_m = 2.0 * f * series;
  // log 2 split so that e * ln2_hi is exact for any exponent.
  const double ln2_hi = 6.93147180369123816490e-01;
  const double ln2_lo = 1.90821492927058770002e-10;
  double de = static_cast<double>(e);
  return de * ln2_hi + (log_m + de * ln2_lo);
}

double gen_rng_normal(gen_rng* r) {
  if (r->has_spare) {
    r->has_spare = false;
    return r->spare;
  }
  double u, v, s;
  do {
    u = 2.0 * gen_rng_unit(r) - 1.0;
    v = 2.0 * gen_rng_unit(r) - 1.0;
    s = u * u + v * v;
  } while (s >= 1.0 || s == 0.0);
  double factor = std::sqrt(-2.0 * gen_log(s) / s);
  r->spare = v * factor;
  r->has_spare = true;
  return u * factor;
}

static double in_box(double unit, double scale) { return -scale + (2.0 * scale) * unit; }

// A uniform draw in [0, 1) that is a pure function of a key and a slot.
static double keyed_unit(uint64_t key, uint64_t slot) { return gen_unit(gen_mix64(key + golden_gamma * (slot + 1))); }

int64_t gen_basis_size(const gen_params* p) {
  if (p->kind != gen_kind::embedding) return 0;
  const int64_t size = int64_t{p->dims} * p->d;
  return p->dims < 0 || p->d < 0 || size > (int64_t{1} << 62) ? -1 : size;
}

void gen_start(gen_state* g, const gen_params* p, double* basis) {
  g->p = *p;
  gen_rng_seed(&g->rng, p->seed);
  // A second, independent key for the cluster centres, so that they do not
  // depend on how many points are drawn.
  g->centre_key = gen_mix64(p->seed ^ 0x636c757374657273u);
  g->basis = basis;
  if (p->kind != gen_kind::embedding) return;
  // The basis from a third key: each coordinate uniform with variance 1 / d.
  const uint64_t key = gen_mix64(p->seed ^ 0x6261736973u);
  const double half = std::sqrt(3.0 / p->d);
  const int64_t size = gen_basis_size(p);
  for (int64_t t = 0; t < size; ++t) basis[t] = in_box(keyed_unit(key, static_cast<uint64_t>(t)), half);
}

double gen_cluster_centre(const gen_state* g, uint32_t c, int32_t j) {
  const int32_t dims = g->p.kind == gen_kind::embedding ? g->p.dims : g->p.d;
  uint64_t slot = static_cast<uint64_t>(c) * static_cast<uint64_t>(dims) + static_cast<uint64_t>(j);
  return in_box(keyed_unit(g->centre_key, slot), g->p.scale);
}

// The spread of embedding cluster c: sigma 2^(4u - 2), u a pure function of
// the seed and c (from slots the centres, counted up from 0, never reach).
static double embedding_spread(const gen_state* g, uint32_t c) {
  const double u = keyed_unit(g->centre_key, ~uint64_t{0} - c);
  return g->p.sigma * std::exp2(4.0 * u - 2.0);
}

void gen_point(gen_state* g, double* out) {
  const gen_params& p = g->p;
  switch (p.kind) {
    case gen_kind::uniform:
      for (int32_t j = 0; j < p.d; ++j) out[j] = in_box(gen_rng_unit(&g->rng), p.scale);
      break;
    case gen_kind::clusters: {
      uint32_t c = gen_rng_below(&g->rng, static_cast<uint32_t>(p.clusters));
      for (int32_t j = 0; j < p.d; ++j)
        out[j] = gen_cluster_centre(g, c, j) + p.sigma * gen_rng_normal(&g->rng);
      break;
    }
    case gen_kind::embedding: {
      // At most 64 subspace coordinates at a time, so that no storage is
      // needed: each chunk's share is added to every coordinate in turn,
      // which keeps each coordinate's sum in the order of i.
      const uint32_t c = gen_rng_below(&g->rng, static_cast<uint32_t>(p.clusters));
      const double spread = embedding_spread(g, c);
      for (int32_t j = 0; j < p.d; ++j) out[j] = 0.0;
      double z[64];
      for (int32_t i0 = 0; i0 < p.dims; i0 += 64) {
        const int32_t i1 = p.dims - i0 < 64 ? p.dims : i0 + 64;
        for (int32_t i = i0; i < i1; ++i) z[i - i0] = gen_cluster_centre(g, c, i) + spread * gen_rng_normal(&g->rng);
        for (int32_t i = i0; i < i1; ++i) {
          const double* b = g->basis + int64_t{i} * p.d;
          for (int32_t j = 0; j < p.d; ++j) out[j] = b[j] * z[i - i0] + out[j];
        }
      }
      for (int32_t j = 0; j < p.d; ++j) out[j] = p.noise * gen_rng_normal(&g->rng) + out[j];
      break;
    }
    case gen_kind::sphere: {
      // A normal vector has a uniformly distributed direction; scaled to
      // length `scale`. Its squared length is summed from coordinate 0 up.
      double len_sq;
      do {
        len_sq = 0.0;
        for (int32_t j = 0; j < p.d; ++j) {
          out[j] = gen_rng_normal(&g->rng);
          len_sq = out[j] * out[j] + len_sq;
        }
      } while (!(len_sq > 0.0));
      if (p.d == 1) {
        // The two points of a 1-sphere, exactly: a scaled division would miss
        // them by an ulp for some deviates.
        out[0] = std::copysign(p.scale, out[0]);
        break;
      }
      double factor = p.scale / std::sqrt(len_sq);
      for (int32_t j = 0; j < p.d; ++j) out[j] *= factor;
      break;
    }
  }
}
