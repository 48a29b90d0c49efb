// The farthest-pair search alone (no reading), reporting pairs per second.
//
// search: per kernel level (2 avx512, 1 avx2, 0 plain), coordinate count and
// team size, on 50000 rows uniform in [-1, 1] (gen_points uniform 50000 D D):
//   build-bench/bench/pair_search_bench --benchmark_filter='^search/level:2/'
// dims: the best level on uniform and clustered rows (kind 0: gen_points
// uniform N D D; kind 1: gen_points -c 32 -w 0.05 clusters N D D) from 16 to
// 1024 coordinates, with N = dims_rows(D), so that every run computes about
// as many squared differences as 20000 rows of 16 (3.2e9):
//   build-bench/bench/pair_search_bench --benchmark_filter='^dims/'
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "data.hpp"
#include "pair_search.hpp"

namespace {

constexpr int32_t rows = 50000;

void count_pairs(benchmark::State& state, int64_t n) {
  const int64_t pairs = n * (n - 1) / 2;
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(pairs), benchmark::Counter::kIsIterationInvariantRate);
}

// args: level, columns, threads.
void search(benchmark::State& state) {
  const auto level = static_cast<simd_level>(state.range(0));
  const auto cols = static_cast<int32_t>(state.range(1));
  const auto threads = static_cast<int32_t>(state.range(2));
  if (!simd_runs(level)) {
    state.SkipWithError("this processor does not run the level");
    return;
  }
  std::vector<double> data = generated(gen_kind::uniform, rows, cols, static_cast<uint64_t>(cols));
  const mat A{data.data(), rows, cols};
  for (auto _ : state) benchmark::DoNotOptimize(farthest_pair_search(&A, threads, level));
  count_pairs(state, rows);
  state.SetLabel(simd_name(level));
}

void levels(benchmark::internal::Benchmark* b) {
  b->ArgNames({"level", "d", "T"});
  for (int level : {2, 1, 0})
    for (int cols : {3, 16, 64})
      for (int threads : {1, 2}) b->Args({level, cols, threads});
}

BENCHMARK(search)->Apply(levels)->UseRealTime()->Unit(benchmark::kMillisecond);

// 20000 rows at 16 coordinates, half as many at four times as many.
int32_t dims_rows(int32_t cols) {
  int32_t n = 20000;
  for (int32_t d = 16; d < cols; d *= 4) n /= 2;
  return n;
}

// args: kind (0 uniform, 1 clusters), columns, threads.
void dims(benchmark::State& state) {
  const auto kind = state.range(0) == 0 ? gen_kind::uniform : gen_kind::clusters;
  const auto cols = static_cast<int32_t>(state.range(1));
  const auto threads = static_cast<int32_t>(state.range(2));
  const int32_t n = dims_rows(cols);
  std::vector<double> data = generated(kind, n, cols, static_cast<uint64_t>(cols), 32, 0.05);
  const mat A{data.data(), n, cols};
  for (auto _ : state) benchmark::DoNotOptimize(farthest_pair_search(&A, threads, simd_best()));
  count_pairs(state, n);
  state.counters["n"] = n;
  state.SetLabel(simd_name(simd_best()));
}

void shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"kind", "d", "T"});
  for (int kind : {0, 1})
    for (int cols : {16, 64, 256, 1024})
      for (int threads : {1, 2}) b->Args({kind, cols, threads});
}

BENCHMARK(dims)->Apply(shapes)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
