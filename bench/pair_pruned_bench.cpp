// The pruned farthest-pair search (farthest_pair_pruned) beside the all-pairs
// search (farthest_pair_search) on the same points, the search alone (no
// reading), on the best level. Names: pruned/CASE/T and all_pairs/CASE/T.
// The counter "computed" is the share of all pairs whose distance the
// pruned search computed. The points are those bench/pair_runs.py writes to
// .npy files (from the same generator and seeds, see cases below), so the
// figures go beside its whole runs of `kcenter pair`.
//   build-bench/bench/pair_pruned_bench --benchmark_filter='^pruned/'
// The all-pairs search takes about 100 s a run on the 10^6 points in 3-D:
//   build-bench/bench/pair_pruned_bench --benchmark_filter='^all_pairs/(gauss16|uniform)'
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "data.hpp"
#include "pair_search.hpp"

namespace {

enum class shape { cube, ball, gauss, sphere };

struct pair_case {
  const char* name;
  shape kind;
  int32_t n;
  int32_t d;
  uint64_t seed;
};

// cube: gen_points uniform N D SEED (every coordinate in [-1, 1]); ball:
// generated_ball (the uniform points within 1 of the origin); gauss:
// gen_points -c 1 -w 1 clusters N D SEED (one normal cloud of standard
// deviation 1); sphere: gen_points sphere N D SEED (radius 1).
const pair_case cases[] = {
    {"cube", shape::cube, 1000000, 3, 1},        {"ball", shape::ball, 1000000, 3, 2},
    {"gauss", shape::gauss, 1000000, 3, 3},      {"sphere", shape::sphere, 1000000, 3, 4},
    {"gauss16", shape::gauss, 100000, 16, 5},    {"uniform16", shape::cube, 100000, 16, 6},
    {"uniform64", shape::cube, 30000, 64, 7},    {"sphere16", shape::sphere, 100000, 16, 8},
};

const std::vector<double>& points_of(const pair_case& c) {
  static std::map<std::string, std::vector<double>> made;
  auto it = made.find(c.name);
  if (it != made.end()) return it->second;
  std::vector<double> x;
  switch (c.kind) {
    case shape::cube:
      x = generated(gen_kind::uniform, c.n, c.d, c.seed);
      break;
    case shape::ball:
      x = generated_ball(c.n, c.d, c.seed);
      break;
    case shape::gauss:
      x = generated(gen_kind::clusters, c.n, c.d, c.seed, 1, 1.0);
      break;
    case shape::sphere:
      x = generated(gen_kind::sphere, c.n, c.d, c.seed);
      break;
  }
  return made.emplace(c.name, std::move(x)).first->second;
}

void pruned(benchmark::State& state, const pair_case* c, int32_t threads) {
  const row_source A = rows_of_doubles(points_of(*c).data(), c->n, c->d);
  farthest f = no_pair;
  for (auto _ : state) benchmark::DoNotOptimize(f = farthest_pair_pruned(&A, threads, simd_best()));
  state.counters["computed"] = static_cast<double>(f.compared) / (0.5 * c->n * (c->n - 1.0));
  state.SetLabel(std::to_string(f.i) + "," + std::to_string(f.j));
}

void all_pairs(benchmark::State& state, const pair_case* c, int32_t threads) {
  const mat A{const_cast<double*>(points_of(*c).data()), c->n, c->d};
  farthest f = no_pair;
  for (auto _ : state) benchmark::DoNotOptimize(f = farthest_pair_search(&A, threads, simd_best()));
  state.SetLabel(std::to_string(f.i) + "," + std::to_string(f.j));
}

}  // namespace

int main(int argc, char** argv) {
  for (const pair_case& c : cases)
    for (int32_t t : {1, 2}) {
      const std::string tail = std::string("/") + c.name + "/" + std::to_string(t);
      benchmark::RegisterBenchmark(("pruned" + tail).c_str(), pruned, &c, t)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("all_pairs" + tail).c_str(), all_pairs, &c, t)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
    }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
