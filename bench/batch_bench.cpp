// Google Benchmark: the library's batch order in process, on a batch of 32
// clouds of 2048 points in 3-D (float32, uniform: `gen_points uniform 65536 3
// 5` cut into items), K = 256, on 1 and 2 threads. With --write=PATH it also
// writes the same batch as a (32, 2048, 3) .npy file and exits, for the
// command line to be timed on the same numbers (bench/batch.sh).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "data.hpp"
#include "kcenter/kcenter.hpp"

namespace {

constexpr int64_t items = 32, per_item = 2048, d = 3, k = 256;

const std::vector<float>& batch() {
  static const std::vector<float> b = [] {
    const std::vector<double> x = generated(gen_kind::uniform, items * per_item, d, 5);
    return std::vector<float>(x.begin(), x.end());
  }();
  return b;
}

bool write_npy(const char* path) {
  std::string dict = "{'descr': '<f4', 'fortran_order': False, 'shape': (" + std::to_string(items) + ", " +
                     std::to_string(per_item) + ", " + std::to_string(d) + "), }";
  dict.append(64 - (10 + dict.size() + 1) % 64, ' ');
  dict += '\n';
  std::string head("\x93NUMPY\x01\x00", 8);
  head += static_cast<char>(dict.size() & 0xff);
  head += static_cast<char>(dict.size() >> 8);
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  const std::vector<float>& b = batch();
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size() &&
            std::fwrite(dict.data(), 1, dict.size(), f) == dict.size() &&
            std::fwrite(b.data(), sizeof(float), b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

void BM_order_batch(benchmark::State& state) {
  std::vector<kcenter::view> views;
  kcenter::error err;
  kcenter::batch_items(batch().data(), kcenter::dtype::float32, items, per_item, d, per_item * d, d, 1, {}, &views, &err);
  kcenter::batch_options o;
  o.k = {k};
  o.threads = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    std::vector<kcenter::order_result> r;
    if (!kcenter::order_batch(views, o, &r, &err)) state.SkipWithError(err.line.c_str());
    benchmark::DoNotOptimize(r.data());
  }
}
BENCHMARK(BM_order_batch)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--write=", 8) == 0) return write_npy(argv[i] + 8) ? 0 : 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
