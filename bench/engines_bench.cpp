// The engines and kernels in process (Google Benchmark): the farthest-first
// choice on its plain loop, one pass per centre and the buckets; one fold
// and the box bounds; the grouped engine's tiles on one and two threads; the
// coverage cost and one process's sampling.
//   build-bench/bench/engines_bench --benchmark_filter=BM_choose
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "choice.hpp"
#include "cover.hpp"
#include "data.hpp"
#include "kernels.hpp"

namespace {

const std::vector<double>& points(gen_kind kind, int64_t n, int32_t d) {
  static std::map<std::tuple<int, int64_t, int32_t>, std::vector<double>> cache;
  const auto key = std::make_tuple(static_cast<int>(kind), n, d);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, generated(kind, n, d, kind == gen_kind::uniform ? 1 : 2)).first;
  return it->second;
}

gen_kind kind_of(int64_t arg) { return arg == 0 ? gen_kind::uniform : gen_kind::clusters; }
const char* kind_name(int64_t arg) { return arg == 0 ? "uniform " : "clustered "; }

bool skip(benchmark::State& state, simd_level level) {
  if (simd_runs(level)) return false;
  state.SkipWithError("level not supported here");
  return true;
}

// Arguments: kind (0 uniform, 1 clustered), path (0 plain loop, 1 passes,
// 2 buckets), level, n, d, k.
void BM_choose(benchmark::State& state) {
  const int64_t path = state.range(1);
  const auto level = static_cast<simd_level>(state.range(2));
  const auto n = static_cast<int32_t>(state.range(3)), d = static_cast<int32_t>(state.range(4));
  const auto k = static_cast<int32_t>(state.range(5));
  if (skip(state, level)) return;
  std::vector<double> data = points(kind_of(state.range(0)), n, d);
  mat A{data.data(), n, d};
  std::vector<int32_t> centres(static_cast<size_t>(k));
  std::vector<double> nearest(static_cast<size_t>(n));
  const choice_options opt{level, path == 1 ? choice_prune::never : choice_prune::always, k};
  for (auto _ : state) {
    if (path == 0) {
      for (double& v : nearest) v = no_distance;
      for (int32_t j = 1; j < k; ++j)
        centres[static_cast<size_t>(j)] = choice_fold_ref(&A, A.data + int64_t{centres[static_cast<size_t>(j - 1)]} * d, nearest.data()).row;
    } else {
      choice_run(&A, k, centres.data(), &opt);
    }
    benchmark::DoNotOptimize(centres.data());
  }
  state.SetLabel(std::string(kind_name(state.range(0))) +
                 (path == 0 ? "plain" : path == 1 ? "passes " : "buckets ") + (path == 0 ? "" : simd_name(level)));
}

// One fold of a point into n rows. Arguments: level, n, d.
void BM_fold(benchmark::State& state) {
  const auto level = static_cast<simd_level>(state.range(0));
  const int64_t n = state.range(1);
  const auto d = static_cast<int32_t>(state.range(2));
  if (skip(state, level)) return;
  by_coord X = by_coord_alloc(n, d);
  by_coord_fill(&X, points(gen_kind::uniform, n, d).data(), nullptr);
  std::vector<double> near(static_cast<size_t>(n), no_distance), c(static_cast<size_t>(d), 0.5);
  for (auto _ : state) benchmark::DoNotOptimize(fold_nearest(level, &X, 0, n, c.data(), near.data()));
  by_coord_free(&X);
  state.SetItemsProcessed(state.iterations() * n);
  state.SetLabel(simd_name(level));
}

// The grouped engine's distances to every tile of n rows, split among the
// threads (each its own rows, as kcenter's shards), so that the rate with
// two threads against one shows what memory bandwidth allows. Arguments:
// level, n, d.
void BM_tiles(benchmark::State& state) {
  const auto level = static_cast<simd_level>(state.range(0));
  const int64_t n = state.range(1) / state.threads();
  const auto d = static_cast<int32_t>(state.range(2));
  if (skip(state, level)) return;
  by_tile X = by_tile_alloc(n, d);
  by_tile_fill(&X, generated(gen_kind::uniform, n, d, 1).data(), nullptr);  // points() is not for threads
  std::vector<double> out(static_cast<size_t>(X.tiles * by_tile_rows)), c(static_cast<size_t>(d), 0.5);
  for (auto _ : state) {
    tiles_dist_sq(level, &X, 0, X.tiles, c.data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  by_tile_free(&X);
  state.SetBytesProcessed(state.iterations() * n * d * static_cast<int64_t>(sizeof(double)));
  state.SetLabel(simd_name(level));
}

// Box bounds for n boxes. Arguments: level, n, d.
void BM_boxes(benchmark::State& state) {
  const auto level = static_cast<simd_level>(state.range(0));
  const int64_t n = state.range(1);
  const auto d = static_cast<int32_t>(state.range(2));
  if (skip(state, level)) return;
  std::vector<double> corner = points(gen_kind::uniform, n, d), far = corner;
  for (double& v : far) v += 0.01;
  by_coord lo = by_coord_alloc(n, d), hi = by_coord_alloc(n, d);
  by_coord_fill(&lo, corner.data(), nullptr);
  by_coord_fill(&hi, far.data(), nullptr);
  std::vector<double> limit(static_cast<size_t>(n), 0.01), c(static_cast<size_t>(d), 0.5);
  std::vector<int32_t> visit(static_cast<size_t>(n));
  for (auto _ : state)
    benchmark::DoNotOptimize(boxes_within(level, &lo, &hi, 0, n, c.data(), limit.data(), visit.data()));
  by_coord_free(&lo);
  by_coord_free(&hi);
  state.SetItemsProcessed(state.iterations() * n);
  state.SetLabel(simd_name(level));
}

// 2000 points of the plane (the most a point file holds).
const std::vector<vec2>& planar_points(int64_t kind) {
  static std::map<int64_t, std::vector<vec2>> sets;
  std::vector<vec2>& set = sets[kind];
  if (set.empty()) {
    const std::vector<double>& xy = points(kind_of(kind), 2000, 2);
    for (size_t i = 0; i < 2000; ++i) set.push_back(vec2{xy[2 * i], xy[2 * i + 1]});
  }
  return set;
}

// The full coverage cost of 10 centres over 2000 points, on a level, or the
// plain scoring (argument -1). Items: distances computed.
void BM_cover(benchmark::State& state) {
  const int64_t arg = state.range(0);
  const auto level = static_cast<simd_level>(arg < 0 ? 0 : arg);
  if (skip(state, level)) return;
  const int32_t k = 10;
  const std::vector<vec2>& set = planar_points(0);
  vec2_cover cover;
  vec2_cover_make(&cover, set.data(), 2000);
  std::vector<int32_t> tuples(64 * k);
  uint64_t z = 5;
  for (int32_t& c : tuples) c = static_cast<int32_t>(((z = z * 6364136223846793005ull + 1) >> 33) % 2000);
  int64_t t = 0;
  for (auto _ : state) {
    const int32_t* tuple = tuples.data() + (t++ % 64) * k;
    benchmark::DoNotOptimize(arg < 0 ? vec2_cover_cost_ref(set.data(), 2000, tuple, k)
                                     : vec2_cover_cost(level, &cover, tuple, k, INFINITY));
  }
  vec2_cover_free(&cover);
  state.SetItemsProcessed(state.iterations() * 2000 * k);
  state.SetLabel(arg < 0 ? "plain scoring" : simd_name(level));
}

// One process's sampling as sampled_centers runs it: m = 20000 tuples of
// k = 10 over 2000 points, from srandom(1). Arguments: kind, path (0 plain,
// 1 fast), level.
void BM_sample(benchmark::State& state) {
  const bool fast = state.range(1) == 1;
  const auto level = static_cast<simd_level>(state.range(2));
  if (skip(state, level)) return;
  const int32_t k = 10, m = 20000;
  const std::vector<vec2>& set = planar_points(state.range(0));
  vec2_cover cover;
  vec2_cover_make(&cover, set.data(), 2000);
  std::vector<int32_t> trial(k), centres(k);
  for (auto _ : state) {
    srandom(1);
    benchmark::DoNotOptimize(fast ? sample_best(level, &cover, k, m, trial.data(), centres.data())
                                  : sample_best_ref(set.data(), 2000, k, m, trial.data(), centres.data()));
  }
  vec2_cover_free(&cover);
  state.SetLabel(std::string(kind_name(state.range(0))) + (fast ? std::string("fast ") + simd_name(level) : "plain"));
}

}  // namespace

BENCHMARK(BM_cover)->DenseRange(-1, 2);
BENCHMARK(BM_sample)->ArgsProduct({{0, 1}, {1}, {0, 1, 2}})->Args({0, 0, 0})->Args({1, 0, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fold)->ArgsProduct({{0, 1, 2}, {1000000}, {3, 16}});
BENCHMARK(BM_tiles)->ArgsProduct({{1, 2}, {100000}, {64}})->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_boxes)->ArgsProduct({{0, 1, 2}, {16384}, {3}});
BENCHMARK(BM_choose)->ArgsProduct({{0, 1}, {1, 2}, {0, 1, 2}, {1000000}, {3}, {1000}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_choose)->ArgsProduct({{0, 1}, {0}, {0}, {1000000}, {3}, {1000}})->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // The level the programs themselves run here, for bench/run's table.
  benchmark::AddCustomContext("simd_best", simd_name(simd_best()));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
