#include "cover.hpp"

#include <cmath>
#include <cstdlib>
#include <numeric>

#include "distance.hpp"
#include "kernels.hpp"


vec2_scan_status vec2_scan_file(FILE* f, vec2* points, int32_t capacity, int32_t* n) {
  *n = 0;
  double x, y;
  while (std::fscanf(f, "%lf %lf", &x, &y) == 2) {
    if (*n > capacity - 1) return vec2_scan_status::too_many;
    points[(*n)++] = vec2{x, y};
  }
  // A failed read is not the end of the points: taking what came before it
  // would silently drop the rest.
  return std::ferror(f) ? vec2_scan_status::unreadable : vec2_scan_status::ok;
}

double vec2_cover_cost_ref(const vec2* points, int32_t n, const int32_t* centres, int32_t k) {
  double cost = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double best = no_distance;
    for (int32_t j = 0; j < k; ++j) {
      const double d = vec2_dist_sq(points[i], points[centres[j]]);
      best = d < best ? d : best;
    }
    cost = best > cost ? best : cost;
  }
  return cost;
}

// Point (i * step) mod n goes to position i, with step near n / 1.618 and
// prime to n: the first blocks scored are then scattered over the set even
// when the file is sorted, so a tuple's far points turn up, and stop its
// scoring, early.
bool vec2_cover_make(vec2_cover* cover, const vec2* points, int32_t n) {
  cover->P = by_coord_alloc(n, 2);
  cover->xy = static_cast<double*>(work_alloc(int64_t{n} * 2 * static_cast<int64_t>(sizeof(double))));
  if (cover->P.x == nullptr || cover->xy == nullptr) {
    vec2_cover_free(cover);
    return false;
  }
  int32_t step = 1;
  for (int32_t s = static_cast<int32_t>(n * int64_t{618} / 1000); s > 1; --s) {
    if (std::gcd(s, n) == 1) {
      step = s;
      break;
    }
  }
  for (int32_t i = 0; i < n; ++i) {
    cover->xy[2 * i] = points[i].x;
    cover->xy[2 * i + 1] = points[i].y;
  }
  double* xy = by_coord_doubles(&cover->P);
  for (int32_t p = 0; p < n; ++p) {
    const vec2& q = points[int64_t{p} * step % n];
    xy[p] = q.x;
    xy[cover->P.stride + p] = q.y;
  }
  by_coord_pad_out(&cover->P);
  return true;
}

void vec2_cover_free(vec2_cover* cover) {
  by_coord_free(&cover->P);
  work_free(cover->xy);
  cover->xy = nullptr;
}

double vec2_cover_cost(simd_level level, const vec2_cover* cover, const int32_t* centres, int32_t k,
                       double stop) {
  return cover_cost(level, &cover->P, cover->xy, centres, k, stop);
}

// s itself on rank 0, so that one process draws exactly the tuples of
// srandom(s); rank r adds r * 2654435769 (2^32 over the golden ratio, an odd
// number) modulo 2^32, so the streams of one run do not reappear as rank 0
// of a run with a nearby seed.
unsigned int rank_seed(unsigned int s, int32_t rank) {
  return s + static_cast<unsigned int>(rank) * 2654435769u;
}

namespace {

// The sampling loop both scorings share: `score(trial, stop)` returns the
// cost, or a value no less than stop once the tuple cannot win. The first
// tuple is kept whatever it costs, so it is scored in full; a later one
// only replaces the best by costing less.
template <class Score>
double sample(int32_t n, int32_t k, int32_t m, int32_t* trial, int32_t* centres, Score score) {
  double best = no_distance;
  for (int32_t t = 0; t < m; ++t) {
    for (int32_t j = 0; j < k; ++j) trial[j] = static_cast<int32_t>(random() % n);
    const double cost = score(trial, t == 0 ? INFINITY : best);
    if (t == 0 || best > cost) {
      best = cost;
      for (int32_t j = 0; j < k; ++j) centres[j] = trial[j];
    }
  }
  return best;
}

template <class Score>
int32_t cheapest(const int32_t* gathered, int32_t count, int32_t k, double* cost, Score score) {
  int32_t best = 0;
  *cost = no_distance;
  for (int32_t r = 0; r < count; ++r) {
    const double c = score(gathered + int64_t{r} * k);
    if (*cost > c) {
      *cost = c;
      best = r;
    }
  }
  return best;
}

}  // namespace

double sample_best(simd_level level, const vec2_cover* cover, int32_t k, int32_t m, int32_t* trial,
                   int32_t* centres) {
  return sample(static_cast<int32_t>(cover->P.rows), k, m, trial, centres,
                [&](const int32_t* t, double stop) { return vec2_cover_cost(level, cover, t, k, stop); });
}

double sample_best_ref(const vec2* points, int32_t n, int32_t k, int32_t m, int32_t* trial,
                       int32_t* centres) {
  return sample(n, k, m, trial, centres,
                [&](const int32_t* t, double) { return vec2_cover_cost_ref(points, n, t, k); });
}

int32_t best_gathered(simd_level level, const vec2_cover* cover, const int32_t* gathered,
                      int32_t count, int32_t k, double* cost) {
  return cheapest(gathered, count, k, cost,
                  [&](const int32_t* t) { return vec2_cover_cost(level, cover, t, k, INFINITY); });
}

int32_t best_gathered_ref(const vec2* points, int32_t n, const int32_t* gathered, int32_t count,
                          int32_t k, double* cost) {
  return cheapest(gathered, count, k, cost,
                  [&](const int32_t* t) { return vec2_cover_cost_ref(points, n, t, k); });
}
