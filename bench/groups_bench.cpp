// The farthest-first choice in many dimensions, in process (Google
// Benchmark): the engine as the programs run it (rows grouped by nearest
// centre above 8 columns, giving up for passes from 9 to 31 where they cost
// less), the grouped engine never giving up, one vector pass per centre, and
// the plain loop, on the same doubles as `gen_points -c 32 -w 0.05 clusters
// N D 1` and `gen_points uniform N D 1` write. bench/groups.sh runs it beside
// the programs and a NumPy loop.
//   build-bench/bench/groups_bench --benchmark_filter=BM_choice/1/
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "choice.hpp"
#include "data.hpp"

namespace {

const std::vector<double>& points(bool clustered, int32_t n, int32_t d) {
  static std::map<std::tuple<bool, int32_t, int32_t>, std::vector<double>> cache;
  const auto key = std::make_tuple(clustered, n, d);
  auto it = cache.find(key);
  if (it == cache.end())
    it = cache.emplace(key, generated(clustered ? gen_kind::clusters : gen_kind::uniform, n, d, 1, 32, 0.05)).first;
  return it->second;
}

// Arguments: clustered (0, 1), path (0 plain loop, 1 one pass per centre,
// 2 grouped never giving up, 3 as the programs run), n, d, k.
void BM_choice(benchmark::State& state) {
  const bool clustered = state.range(0) == 1;
  const int64_t path = state.range(1);
  const auto n = static_cast<int32_t>(state.range(2)), d = static_cast<int32_t>(state.range(3));
  const auto k = static_cast<int32_t>(state.range(4));
  std::vector<double> x = points(clustered, n, d);
  mat A{x.data(), n, d};
  std::vector<int32_t> centres(static_cast<size_t>(k));
  std::vector<double> nearest(static_cast<size_t>(n));
  const choice_prune rule = path == 1 ? choice_prune::never : path == 2 ? choice_prune::always : choice_prune::automatic;
  const choice_options opt{simd_best(), rule, k};
  const char* way = "";
  for (auto _ : state) {
    if (path == 0) {
      for (double& v : nearest) v = no_distance;
      int32_t next = 0;
      for (int32_t j = 1; j < k; ++j) {
        const choice_farthest f = choice_fold_ref(&A, A.data + int64_t{centres[static_cast<size_t>(j - 1)]} * d, nearest.data());
        if (f.row >= 0) next = f.row;
        centres[static_cast<size_t>(j)] = next;
      }
    } else {
      choice* s = choice_start(&A, 0, n, &opt);
      if (s == nullptr) {
        state.SkipWithError("no memory");
        return;
      }
      int32_t next = 0;
      for (int32_t j = 1; j < k; ++j) {
        const int32_t c = centres[static_cast<size_t>(j - 1)];
        const choice_farthest f = choice_fold(s, A.data + int64_t{c} * d, c);
        if (f.row >= 0) next = f.row;
        centres[static_cast<size_t>(j)] = next;
      }
      way = choice_path(s);  // where it ended
      choice_end(s);
    }
    benchmark::DoNotOptimize(centres.data());
  }
  const char* names[] = {"plain loop", "passes", "groups", "automatic"};
  state.SetLabel(std::string(clustered ? "clusters " : "uniform ") + names[path] + " " +
                 (path == 0 ? "" : simd_name(simd_best())) + (path == 3 ? std::string(" ended on ") + way : ""));
}

}  // namespace

// Each shape clustered and uniform, as the programs run and on the passes;
// the grouped engine without giving up from 9 to 31 columns, where the
// programs may give up; the plain loop at 64.
BENCHMARK(BM_choice)
    ->ArgsProduct({{1, 0}, {3, 1}, {100000}, {16, 64}, {1000}})
    ->ArgsProduct({{1, 0}, {2}, {100000}, {16}, {1000}})
    ->ArgsProduct({{1, 0}, {3, 2, 1}, {100000}, {9, 24, 31}, {1000}})
    ->ArgsProduct({{1, 0}, {3, 1}, {20000}, {256}, {1000}})
    ->ArgsProduct({{1, 0}, {3, 1}, {5000}, {1024}, {500}})
    ->ArgsProduct({{1, 0}, {0}, {100000}, {64}, {1000}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
// The large case: 5e4 rows of 512, 5000 centres, one run each.
BENCHMARK(BM_choice)
    ->ArgsProduct({{1}, {3, 1}, {50000}, {512}, {5000}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_MAIN();
