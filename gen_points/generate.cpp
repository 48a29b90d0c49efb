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

void gen_start(gen_state* g, const gen_params* p) {
  g->p = *p;
  gen_rng_seed(&g->rng, p->seed);
  // A second, independent key for the cluster centres, so that they do not
  // depend on how many points are drawn.
  g->centre_key = gen_mix64(p->seed ^ 0x636c757374657273u);
}

static double in_box(double unit, double scale) { return -scale + (2.0 * scale) * unit; }

double gen_cluster_centre(const gen_state* g, uint32_t c, int32_t j) {
  uint64_t slot = static_cast<uint64_t>(c) * static_cast<uint64_t>(g->p.d) + static_cast<uint64_t>(j);
  return in_box(gen_unit(gen_mix64(g->centre_key + golden_gamma * (slot + 1))), g->p.scale);
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
