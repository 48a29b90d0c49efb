// A plain model of sampled_centers' search for the tests to compare with,
// written from the program's documented behaviour rather than its code.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

struct ref_point {
  double x;
  double y;
};

struct ref_result {
  std::vector<int32_t> tuple;
  double cost;
};

// Largest squared distance from a point to its nearest centre. fmin and fmax
// drop a NaN operand, so a NaN distance never becomes the nearest.
inline double ref_cost(const std::vector<ref_point>& points, const std::vector<int32_t>& tuple) {
  double worst = 0.0;
  for (const ref_point& p : points) {
    double nearest = DBL_MAX;
    for (int32_t c : tuple) {
      double dx = p.x - points[c].x;
      double dy = p.y - points[c].y;
      double dx2 = dx * dx;
      double dy2 = dy * dy;
      nearest = std::fmin(nearest, dx2 + dy2);
    }
    worst = std::fmax(worst, nearest);
  }
  return worst;
}

// Rank r seeds srandom with s + r * 2654435769 modulo 2^32, draws m tuples of
// k indices (random() % n), and keeps the first of the cheapest, or the first
// tuple when none costs less than DBL_MAX.
inline ref_result ref_rank(const std::vector<ref_point>& points, int32_t k, int32_t m, unsigned int s,
                           int32_t rank) {
  srandom(static_cast<unsigned int>(s + 2654435769ull * static_cast<unsigned int>(rank)));
  ref_result best{{}, DBL_MAX};
  for (int32_t t = 0; t < m; ++t) {
    std::vector<int32_t> tuple;
    for (int32_t j = 0; j < k; ++j) tuple.push_back(static_cast<int32_t>(random() % static_cast<long>(points.size())));
    double cost = ref_cost(points, tuple);
    if (t == 0 || cost < best.cost) best = {tuple, cost};
  }
  return best;
}

// The whole job: every rank's best, scored again; the lowest rank wins ties,
// and rank 0's tuple stands when none costs less than DBL_MAX.
inline ref_result ref_job(const std::vector<ref_point>& points, int32_t k, int32_t m, unsigned int s,
                          int32_t processes) {
  ref_result answer{ref_rank(points, k, m, s, 0).tuple, DBL_MAX};
  for (int32_t r = 0; r < processes; ++r) {
    std::vector<int32_t> tuple = ref_rank(points, k, m, s, r).tuple;
    double cost = ref_cost(points, tuple);
    if (cost < answer.cost) answer = {tuple, cost};
  }
  return answer;
}
