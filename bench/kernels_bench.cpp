// Google Benchmark for the kernels and the centre choice, on the same point
// sets as bench/run (points.hpp). Not part of the tests.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <vector>

#include "kernels.hpp"
#include "matvec.hpp"
#include "points.hpp"
#include "sampled_centers.hpp"

enum class prune_rule { never, automatic, always };
void greedy_choose(const mat* A, int32_t k, int32_t* centres, vec* nearest);
void greedy_choose_fast(const mat* A, int32_t k, int32_t* centres, vec* nearest, simd_level level,
                        prune_rule prune);

namespace {

const std::vector<double>& points(point_kind kind, int64_t n, int64_t d) {
  static std::map<std::tuple<int, int64_t, int64_t>, std::vector<double>> cache;
  auto key = std::make_tuple(static_cast<int>(kind), n, d);
  auto it = cache.find(key);
  if (it == cache.end())
    it = cache.emplace(key, make_points(kind, n, d, kind == point_kind::uniform ? 1 : 2)).first;
  return it->second;
}

// Arguments: kind (0 uniform, 1 clustered), path (0 plain, 1 passes, 2 pruned), level, n, d, k.
void BM_choose(benchmark::State& state) {
  const auto kind = static_cast<point_kind>(state.range(0));
  const int path = static_cast<int>(state.range(1));
  const auto level = static_cast<simd_level>(state.range(2));
  const int32_t n = static_cast<int32_t>(state.range(3)), d = static_cast<int32_t>(state.range(4));
  const int32_t k = static_cast<int32_t>(state.range(5));
  if (!simd_runs(level)) {
    state.SkipWithError("level not supported here");
    return;
  }
  std::vector<double> data = points(kind, n, d);
  mat A{data.data(), n, d};
  vec nearest;
  vec_malloc(&nearest, n);
  std::vector<int32_t> centres(k);
  for (auto _ : state) {
    if (path == 0)
      greedy_choose(&A, k, centres.data(), &nearest);
    else
      greedy_choose_fast(&A, k, centres.data(), &nearest, level,
                         path == 1 ? prune_rule::never : prune_rule::always);
    benchmark::DoNotOptimize(centres.data());
  }
  vec_free(&nearest);
  state.SetLabel(std::string(kind == point_kind::uniform ? "uniform " : "clustered ") +
                 (path == 0   ? "plain"
                  : path == 1 ? "passes "
                              : "pruned ") +
                 (path == 0 ? "" : simd_name(level)));
}

// One fold of a point into n rows laid out by coordinate. Arguments: level, n, d.
void BM_fold(benchmark::State& state) {
  const auto level = static_cast<simd_level>(state.range(0));
  const int64_t n = state.range(1);
  const int32_t d = static_cast<int32_t>(state.range(2));
  if (!simd_runs(level)) {
    state.SkipWithError("level not supported here");
    return;
  }
  const std::vector<double>& rows = points(point_kind::uniform, n, d);
  std::vector<double> x(rows.size()), near(n, no_distance), c(d, 0.5);
  for (int64_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < d; ++j) x[j * n + i] = rows[i * d + j];
  for (auto _ : state) {
    farthest_row f = soa_fold_nearest(level, x.data(), n, d, n, c.data(), near.data());
    benchmark::DoNotOptimize(f);
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetLabel(simd_name(level));
}

// Box bounds for n boxes. Arguments: level, n, d.
void BM_boxes(benchmark::State& state) {
  const auto level = static_cast<simd_level>(state.range(0));
  const int64_t n = state.range(1);
  const int32_t d = static_cast<int32_t>(state.range(2));
  if (!simd_runs(level)) {
    state.SkipWithError("level not supported here");
    return;
  }
  const std::vector<double>& a = points(point_kind::uniform, n, d);
  std::vector<double> lo(n * d), hi(n * d), limit(n, 0.01), c(d, 0.5);
  for (int64_t i = 0; i < n * d; ++i) {
    lo[i] = a[i];
    hi[i] = a[i] + 0.01;
  }
  std::vector<int32_t> visit(n);
  for (auto _ : state) {
    int64_t v = soa_boxes_within(level, lo.data(), hi.data(), n, d, n, c.data(), limit.data(),
                                 visit.data());
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetLabel(simd_name(level));
}

// 2000 points of the plane (the most a point file holds), uniform or clustered.
const vec2set& planar_points(point_kind kind) {
  static vec2set sets[2];
  vec2set& set = sets[static_cast<int>(kind)];
  if (set.n == 0) {
    std::vector<double> xy = make_points(kind, vec2set_capacity, 2, 3);
    set.n = vec2set_capacity;
    for (int32_t i = 0; i < set.n; ++i) set.points[i] = vec2{xy[2 * i], xy[2 * i + 1]};
  }
  return set;
}

// The full coverage cost of 10 centres over 2000 points, on a level, or
// center_cost itself (argument -1). Items: distances computed.
void BM_cover(benchmark::State& state) {
  const int level_arg = static_cast<int>(state.range(0));
  const auto level = static_cast<simd_level>(level_arg < 0 ? 0 : level_arg);
  if (!simd_runs(level)) {
    state.SkipWithError("level not supported here");
    return;
  }
  const int32_t k = 10;
  const vec2set& set = planar_points(point_kind::uniform);
  static vec2cols cols;
  vec2cols_fill(&cols, &set);
  std::vector<int32_t> tuples(64 * k);
  uint64_t z = 5;
  for (int32_t& c : tuples) c = static_cast<int32_t>((z = z * 6364136223846793005ull + 1) >> 33) % set.n;
  int64_t t = 0;
  for (auto _ : state) {
    const int32_t* tuple = tuples.data() + (t++ % 64) * k;
    double cost = level_arg < 0 ? center_cost(&set, tuple, k)
                                : vec2cols_cover_cost(level, &cols, tuple, k, INFINITY);
    benchmark::DoNotOptimize(cost);
  }
  state.SetItemsProcessed(state.iterations() * set.n * k);
  state.SetLabel(level_arg < 0 ? "center_cost" : simd_name(level));
}

// One process's sampling as sampled_centers runs it: m = 20000 tuples of
// k = 10 over 2000 points, from srandom(1). Arguments: kind (0 uniform,
// 1 clustered), path (0 plain: sample_best; 1 fast: sample_best_fast), level.
void BM_sample(benchmark::State& state) {
  const auto kind = static_cast<point_kind>(state.range(0));
  const bool fast = state.range(1) == 1;
  const auto level = static_cast<simd_level>(state.range(2));
  if (!simd_runs(level)) {
    state.SkipWithError("level not supported here");
    return;
  }
  const int32_t k = 10, m = 20000;
  const vec2set& set = planar_points(kind);
  std::vector<int32_t> trial(k), centres(k);
  for (auto _ : state) {
    srandom(1);
    double cost = fast ? sample_best_fast(&set, k, m, trial.data(), centres.data(), level)
                       : sample_best(&set, k, m, trial.data(), centres.data());
    benchmark::DoNotOptimize(cost);
  }
  state.SetLabel(std::string(kind == point_kind::uniform ? "uniform " : "clustered ") +
                 (fast ? std::string("fast ") + simd_name(level) : "plain"));
}

}  // namespace

BENCHMARK(BM_cover)->DenseRange(-1, 2);
BENCHMARK(BM_sample)
    ->ArgsProduct({{0, 1}, {1}, {0, 1, 2}})
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fold)->ArgsProduct({{0, 1, 2}, {1000000}, {3, 16}});
BENCHMARK(BM_boxes)->ArgsProduct({{0, 1, 2}, {16384}, {3}});
BENCHMARK(BM_choose)
    ->ArgsProduct({{0, 1}, {1, 2}, {0, 1, 2}, {1000000}, {3}, {1000}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_choose)
    ->ArgsProduct({{0, 1}, {0}, {0}, {1000000}, {3}, {1000}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // The level the programs themselves run here, for bench/run's table.
  benchmark::AddCustomContext("simd_best", simd_name(simd_best()));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
