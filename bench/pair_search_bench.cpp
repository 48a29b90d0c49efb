// The farthest-pair search alone (no reading), per kernel level (2 avx512,
// 1 avx2, 0 plain), coordinate count and team size, on 50000 rows uniform in
// [-1, 1] (gen_points uniform 50000 D D). Reports pairs per second:
//   build-bench/bench/pair_search_bench --benchmark_filter='level:2/'
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "data.hpp"
#include "pair_search.hpp"

namespace {

constexpr int32_t rows = 50000;

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
  const int64_t pairs = int64_t{rows} * (rows - 1) / 2;
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(pairs), benchmark::Counter::kIsIterationInvariantRate);
  state.SetLabel(simd_name(level));
}

void levels(benchmark::internal::Benchmark* b) {
  b->ArgNames({"level", "d", "T"});
  for (int level : {2, 1, 0})
    for (int cols : {3, 16})
      for (int threads : {1, 2}) b->Args({level, cols, threads});
}

BENCHMARK(search)->Apply(levels)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
